/*
 * example_support.h - what both examples need beside the library: the names
 * of the result codes, and a .264 file cut into access units, the way a camera
 * sends its frames (one KOVA_AddStreamFrame per access unit).
 */
#ifndef TESSALY_EXAMPLE_SUPPORT_H
#define TESSALY_EXAMPLE_SUPPORT_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include <tessaly/kova.h>

static const char *ResultName(int32_t result) {
    switch (result) {
    case KOVA_OK: return "KOVA_OK";
    case KOVA_ERR_MISSING_OBJECT: return "KOVA_ERR_MISSING_OBJECT";
    case KOVA_ERR_NOT_INITIALISED: return "KOVA_ERR_NOT_INITIALISED";
    case KOVA_ERR_INVALID_ARGUMENT: return "KOVA_ERR_INVALID_ARGUMENT";
    case KOVA_ERR_ALREADY_OPEN: return "KOVA_ERR_ALREADY_OPEN";
    case KOVA_ERR_NOT_OPEN: return "KOVA_ERR_NOT_OPEN";
    case KOVA_ERR_BUFFER_FULL: return "KOVA_ERR_BUFFER_FULL";
    case KOVA_ERR_FRAME_TYPE: return "KOVA_ERR_FRAME_TYPE";
    case KOVA_ERR_FILE_OPEN: return "KOVA_ERR_FILE_OPEN";
    case KOVA_ERR_FILE_READ: return "KOVA_ERR_FILE_READ";
    case KOVA_ERR_FILE_SHORT: return "KOVA_ERR_FILE_SHORT";
    case KOVA_ERR_FILE_HEADER: return "KOVA_ERR_FILE_HEADER";
    case KOVA_ERR_NO_PICTURE: return "KOVA_ERR_NO_PICTURE";
    case KOVA_ERR_CAPTURE: return "KOVA_ERR_CAPTURE";
    case KOVA_ERR_END_OF_FILE: return "KOVA_ERR_END_OF_FILE";
    default: return "an unknown result";
    }
}

/* Prints "program: subject: call failed: KOVA_ERR_... (code)"; subject may be null. */
static void ReportFailure(const char *program, const char *subject, const char *call, int32_t result) {
    fprintf(stderr, "%s: %s%s%s failed: %s (%d)\n", program, subject ? subject : "", subject ? ": " : "", call,
            ResultName(result), (int)result);
}

/* A whole .264 file in memory and the reading position in it. */
typedef struct AnnexBStream {
    uint8_t *data;
    size_t size;
    size_t position;
} AnnexBStream;

/* Returns 0 when the file was read. */
static int LoadAnnexBStream(const char *path, AnnexBStream *stream) {
    FILE *file = fopen(path, "rb");
    long size = -1;
    stream->data = NULL;
    stream->size = stream->position = 0;
    if (!file) return -1;
    if (fseek(file, 0, SEEK_END) == 0) size = ftell(file);
    if (size > 0 && fseek(file, 0, SEEK_SET) == 0 && (stream->data = malloc((size_t)size)) != NULL &&
        fread(stream->data, 1, (size_t)size, file) == (size_t)size) {
        stream->size = (size_t)size;
    }
    fclose(file);
    return stream->size > 0 ? 0 : -1;
}

/* The next start code at or after from (its leading zero when it has four
 * bytes), or size; *header gets the offset of the NAL header byte after it. */
static size_t NextStartCode(const uint8_t *data, size_t size, size_t from, size_t *header) {
    size_t i;
    for (i = from; i + 3 < size; ++i) {
        if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1) {
            *header = i + 3;
            return i > from && data[i - 1] == 0 ? i - 1 : i;
        }
    }
    return size;
}

/*
 * Hands out the next access unit (start codes included) and returns 1, or 0
 * at the end of the stream. A unit ends where, after its first slice, a NAL
 * unit begins a new picture: a delimiter, a parameter set, SEI, or a slice
 * whose first_mb_in_slice is 0 (a leading 1 bit).
 */
static int NextAccessUnit(AnnexBStream *stream, const uint8_t **unit, size_t *length) {
    const uint8_t *data = stream->data;
    size_t header = 0;
    size_t begin = NextStartCode(data, stream->size, stream->position, &header);
    size_t nal = begin;
    int sliceSeen = 0;
    if (begin >= stream->size) return 0;
    while (nal < stream->size) {
        int type = data[header] & 0x1f;
        int slice = type == 1 || type == 5;
        int newPicture = (slice && header + 1 < stream->size && (data[header + 1] & 0x80)) || type == 6 || type == 7 ||
                         type == 8 || type == 9;
        if (sliceSeen && newPicture) break;
        sliceSeen |= slice;
        nal = NextStartCode(data, stream->size, header + 1, &header);
    }
    *unit = data + begin;
    *length = nal - begin;
    stream->position = nal;
    return 1;
}

#endif /* TESSALY_EXAMPLE_SUPPORT_H */
