/*
 * tq_deinterlace.h - the field deinterlacer of libtessaly.
 *
 * Combines separately coded fields (half-height pictures, alternately top and
 * bottom field) into full-height frames. The player uses it for field-coded
 * streams; hosts may call it directly.
 *
 * Overview
 * --------
 * Create a handle with TQ_InitDeinterlace for one picture geometry, give it
 * the fields in the order top, bottom, top, bottom, ... with TQ_Deinterlace,
 * and free it with TQ_ReleaseDeinterlace. A top field only updates the
 * handle's history; each bottom field completes a frame and writes the whole
 * output frame.
 *
 * The filter is motion adaptive, per pair of horizontally adjacent pixels:
 *
 *  - The even output rows are the top field's rows (the first and the last
 *    top-field row are doubled to fill the frame's first and last two rows).
 *  - Each other odd output row lies between two top-field rows. For every
 *    pixel pair in it, the luma of the last four fields decides: if the sum of
 *    differences over the pair's 2x2 field neighbourhood stayed below 50 (in
 *    magnitude) both between the two latest bottom fields and between the two
 *    latest top fields, the pair's still counter goes up, otherwise it drops
 *    to 0. A pair whose counter reaches 8 (more than seven still frames in a
 *    row) is woven: it takes the bottom field's pixels. Any other pair is
 *    interpolated from the top field along the best of three directions
 *    (vertical, or one of the two diagonals through the neighbouring
 *    columns), which avoids combing on moving edges.
 *  - The two leftmost and the two rightmost columns of those rows are copied
 *    from the top-field row above (for an odd width also the third column
 *    from the right, which belongs to no pair).
 *  - Chroma is the top field's, each row doubled; the bottom field's chroma
 *    is not used.
 *
 * A new handle's history is mid-grey (128) luma and chroma, so the first
 * frames of a picture that is not grey count as moving and are interpolated;
 * a still picture is woven from its 9th frame on.
 *
 * Picture layout
 * --------------
 * All planes are 8-bit, 4:2:0, rows of `width` (luma) or `width / 2`
 * (chroma, division truncating) bytes, rows at the strides given at creation.
 * The caller's buffers must hold at least:
 *
 *     input luma field     fieldHeight * yStride bytes (every row including
 *                          the last one's padding is read)
 *     input U, input V     (fieldHeight * uvStride) / 2 bytes each (the
 *                          field's fieldHeight / 2 chroma rows, and for an odd
 *                          fieldHeight half a row more, are read)
 *     output y             (2 * fieldHeight - 1) * outYStride + width bytes
 *     output u, output v   (2 * (fieldHeight / 2) - 1) * outUvStride
 *                          + width / 2 bytes each
 *
 * Only the `width` (`width / 2`) bytes of each output row are written; the
 * bytes between a row's end and the next row are left alone. For an odd
 * fieldHeight the output chroma has 2 * (fieldHeight / 2) rows, one less than
 * fieldHeight; the last chroma row is not written.
 *
 * Threads
 * -------
 * A handle keeps all of its state inside it and takes no locks: one thread at
 * a time may use a handle, and different handles may be used by different
 * threads at the same time. TQ_GetVersion may be called from any thread at any
 * time. Nothing calls back.
 *
 * Memory
 * ------
 * TQ_InitDeinterlace allocates everything a handle needs (about
 * 5 * fieldHeight * yStride + fieldHeight * uvStride bytes, refused above
 * 1 GiB); TQ_Deinterlace allocates nothing. A handle must not be used after
 * TQ_ReleaseDeinterlace: the library cannot tell a freed handle from a live
 * one.
 *
 * Linkage
 * -------
 * These calls have C++ linkage: the exported names encode their parameter
 * lists, so this header is for C++ only. The caller removes the arguments
 * (cdecl); on x86-64 there is only one convention.
 */
#ifndef TESSALY_TQ_DEINTERLACE_H
#define TESSALY_TQ_DEINTERLACE_H

#ifndef __cplusplus
#error "tq_deinterlace.h declares C++-linkage calls; include it from C++"
#endif

#include <cstdint>

#if defined(TESSALY_BUILDING_LIBRARY)
#define TQ_DEINTERLACE_API __attribute__((visibility("default")))
#else
#define TQ_DEINTERLACE_API
#endif

/* Result codes. */
#define TQ_DEINTERLACE_OK 0
#define TQ_DEINTERLACE_ERR_MEMORY (-1)   /* creation could not get its memory */
#define TQ_DEINTERLACE_ERR_PARAM (-2)    /* a creation parameter outside its range */
#define TQ_DEINTERLACE_ERR_NULL (-3)     /* a required pointer is null */
#define TQ_DEINTERLACE_ERR_PIC_TYPE (-4) /* picture type neither top nor bottom field */

/* The text TQ_GetVersion copies, and the buffer size it needs (with the
 * terminating zero). */
#define TQ_DEINTERLACE_VERSION "1.1.0.0"
#define TQ_DEINTERLACE_VERSION_BYTES 8

/*
 * The picture geometry of a handle, fixed at creation. Passed by value.
 * All counts are in bytes (one byte per sample); "width / 2" truncates.
 */
struct tqDEINTERLACE_PARA_S {
    int32_t width;       /* luma pixels per row; at least 128 */
    int32_t fieldHeight; /* luma rows of one field (the frame has twice as
                            many); at least 4 */
    int32_t yStride;     /* row step of the input luma fields; >= width */
    int32_t uvStride;    /* row step of the input chroma planes; >= width / 2 */
    int32_t outYStride;  /* row step of the output luma plane; >= width */
    int32_t outUvStride; /* row step of the output chroma planes; >= width / 2 */
};

/*
 * The output frame: the first byte of each plane (luma width x
 * 2 * fieldHeight, chroma width / 2 x fieldHeight each; see "Picture layout"
 * for the bytes actually written). Passed by value; the caller owns the
 * memory.
 */
struct tqDEINTERLACE_FRAME_S {
    uint8_t *y;
    uint8_t *u;
    uint8_t *v;
};

/* Which field a call gives. Fields must come in the order top, bottom, top,
 * bottom; each bottom field completes a frame. */
enum tqPIC_TYPE_E : int32_t {
    PIC_TYPE_TOP_FIELD = 1,
    PIC_TYPE_BOTTOM_FIELD = 2,
};

/*
 * Creates a deinterlacer for one picture geometry.
 *
 * handle: receives the new handle (an opaque pointer), or null on failure.
 * para:   the geometry; checked in field order, each against the range given
 *         in tqDEINTERLACE_PARA_S.
 *
 * The new handle's field history is mid-grey (128) and every still counter is
 * 0, so the first frames are interpolated.
 *
 * Returns:
 *   TQ_DEINTERLACE_OK          *handle is the new handle.
 *   TQ_DEINTERLACE_ERR_NULL    handle is null (checked first; nothing written).
 *   TQ_DEINTERLACE_ERR_PARAM   a parameter is out of range; *handle = null.
 *   TQ_DEINTERLACE_ERR_MEMORY  the memory could not be allocated, or the
 *                              geometry would need more than 1 GiB of it
 *                              (see "Memory"); *handle = null.
 */
TQ_DEINTERLACE_API int32_t TQ_InitDeinterlace(void **handle, tqDEINTERLACE_PARA_S para);

/*
 * Gives the deinterlacer one field; a bottom field completes and writes the
 * output frame.
 *
 * handle: from TQ_InitDeinterlace.
 * frame:  the output frame. For a top field it is checked but not written.
 * y:      the field's luma, fieldHeight rows at yStride.
 * u, v:   the field's chroma planes, fieldHeight / 2 rows at uvStride.
 * type:   PIC_TYPE_TOP_FIELD or PIC_TYPE_BOTTOM_FIELD.
 *
 * The output frame is built from the latest top field given before this
 * bottom field (its luma and its chroma) and from this bottom field. Nothing
 * checks that the types alternate: two top fields in a row simply shift the
 * history, and a bottom field given first after creation builds its frame from
 * the grey initial history. Input and output buffers must not overlap.
 *
 * Returns:
 *   TQ_DEINTERLACE_OK            the field was taken (and, for a bottom field,
 *                                the frame written).
 *   TQ_DEINTERLACE_ERR_NULL      handle, one of frame.y/u/v, or one of y, u, v
 *                                is null.
 *   TQ_DEINTERLACE_ERR_PIC_TYPE  type is neither 1 nor 2 (pointers are
 *                                checked first).
 * On an error neither the handle's history nor the output is changed.
 */
TQ_DEINTERLACE_API int32_t TQ_Deinterlace(void *handle, tqDEINTERLACE_FRAME_S frame, const uint8_t *y, const uint8_t *u,
                                          const uint8_t *v, tqPIC_TYPE_E type);

/*
 * Frees a handle and everything it holds. The handle must not be used again.
 *
 * Returns TQ_DEINTERLACE_OK, or TQ_DEINTERLACE_ERR_NULL for a null handle.
 */
TQ_DEINTERLACE_API int32_t TQ_ReleaseDeinterlace(void *handle);

/*
 * Copies the deinterlacer's version, "1.1.0.0" and its terminating zero
 * (TQ_DEINTERLACE_VERSION_BYTES = 8 bytes), into the caller's buffer.
 *
 * version: the address of a pointer to the caller's buffer of at least 8
 *          bytes. The pointer itself is not changed.
 *
 * Returns TQ_DEINTERLACE_OK, or TQ_DEINTERLACE_ERR_NULL when version or the
 * buffer pointer it holds is null (nothing is written).
 */
TQ_DEINTERLACE_API int32_t TQ_GetVersion(char **version);

#endif /* TESSALY_TQ_DEINTERLACE_H */
