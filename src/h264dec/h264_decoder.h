// The built-in H.264 decoder: an Annex B byte stream in, one picture per call out.
//
// This is the decoder's C interface: its calls, records and result codes keep
// their H264Decoder_* / DEC_* names, because callers across the library use them.
//
// Internal to libtessaly (not exported). One handle is used by one thread at a
// time; different handles share nothing but read-only tables. All memory is
// allocated, zeroed and 16-byte aligned, by H264Decoder_Create; decoding
// allocates nothing.
#pragma once

#include <cstdint>

extern "C" {

// Creation record: eight 32-bit words, read once by H264Decoder_Create.
typedef struct DecoderAttr {
    uint32_t reserved0;    // not read
    uint32_t reserved1;    // not read
    uint32_t widthMbs;     // widest picture, in macroblocks; outside 2..352 becomes 120
    uint32_t heightMbs;    // tallest frame, in macroblocks; outside 6..256 becomes 68
    uint32_t bufferCount;  // reference frames to size for; 0 becomes 4, above 16 becomes 16
    uint32_t modeFlags;    // DEC_MODE_* bits; others ignored
    uint32_t reserved6;    // not read
    uint32_t reserved7;    // not read
} DecoderAttr;

enum : uint32_t {
    DEC_MODE_DISPLAY_ORDER = 1u << 0,  // output by picture order count (bumping)
    // Pictures of interlaced sequences are copied into the decoder's own
    // output buffer, and out->y/u/v name it. Luma is handed out woven, both
    // fields' lines as decoded: whoever shows the picture decides how to
    // deinterlace motion, and weaving loses nothing in still scenes (most of a
    // camera's picture). The history plane counts, per luma sample, the merged
    // pictures it has been part of, saturating at 3. Chroma of a field pair
    // comes from the top field's lines only, each written twice, so colour
    // never mixes the two instants of the pair.
    DEC_MODE_FIELD_MERGE = 1u << 4,
    // Decode slice data on four worker threads. Filtering across slice edges is
    // skipped (idc 0 acts as 2), and `damaged` is never set. A slice starts
    // once the next one's header has arrived (or the picture ends), so that
    // damaged data stops at the next slice's first macroblock.
    DEC_MODE_SLICE_THREADS = 1u << 5,
};

enum : uint32_t {
    DEC_FLAG_END_OF_STREAM = 1u << 0,
    // The data given so far ends an access unit: its picture is finished and
    // handed out by this call (or the following calls with no data) instead
    // of when the next access unit begins. For containers that store one
    // access unit per record; references and output order are unchanged.
    DEC_FLAG_END_OF_ACCESS_UNIT = 1u << 1,
};

enum : int32_t {
    DEC_OK = 0,               // out holds a picture; call again with no data
    DEC_NEED_MORE_DATA = -1,  // input consumed, no picture ready
    DEC_NO_PICTURE = -2,      // end of stream: every picture has been returned
    DEC_BAD_ARGUMENT = -3,    // null handle or null out
};

// The output record. The planes belong to the decoder and stay valid and
// unchanged until the next picture is handed out (or the decoder is
// destroyed); the other pointers until the next H264Decoder_Decode call. `damaged` marks a picture
// that lost macroblocks (a missing slice, or slice data from an error on); a
// frame picture has them from the same place in the last reference frame.
// Pictures a stream lost are a frame_num gap, filled with copies of the last
// reference frame, unless the gap spans half the frame_num range or more
// where the stream allows none: that stream went back (a lost IDR) and its
// pictures are dropped until the next intra picture.
typedef struct DecodedPicture {
    uint8_t *y, *u, *v;
    uint32_t width, height, yStride, uvStride;
    uint32_t cropLeft, cropRight, cropTop, cropBottom;  // luma pixels; the decoder does not crop
    uint32_t bufferIndex, fieldHint, damaged, isIdr, reserved15;
    uint32_t userLow, userHigh;
    int32_t poc;
    uint32_t reserved19;
    const void *userData;   // UserDataRecord, or null
    const uint32_t *stats;  // PictureStats (10 words)
} DecodedPicture;

typedef struct H264Decoder H264Decoder;

H264Decoder *H264Decoder_Create(const DecoderAttr *attr);
int32_t H264Decoder_Decode(H264Decoder *h, const uint8_t *data, uint32_t length, uint32_t userLow, uint32_t userHigh,
                           DecodedPicture *out, uint32_t flags);
// With DEC_MODE_SLICE_THREADS, waits up to five seconds for each slice worker
// to finish its slice. A worker still busy after that is detached, and its
// memory and the picture buffers it may still touch are deliberately left
// allocated (a leak instead of a use-after-free).
void H264Decoder_Destroy(H264Decoder *h);

}  // extern "C"
