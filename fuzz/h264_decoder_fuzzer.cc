// The decoder takes its byte stream from the network in pieces of any size: any
// bytes, cut anywhere, in any decoding mode, must decode without reading or
// writing out of bounds, and the call protocol must terminate.
//
// Layout of an input: the stream bytes come from the front; the settings, the
// feeding mode and the chunk lengths are drawn from the back, so a seed that
// is a plain stream prefix still reaches the slice layer. The settings byte
// (the last) picks the decoder's creation modes and the end of stream; the
// feeding byte (the one before) picks how the stream is cut into calls:
//   0  at the chunk lengths, no flags (network pieces of any size)
//   1  at the chunk lengths, each chunk's end of access unit drawn with it
//   2  at access unit boundaries, each call ending its access unit (a record
//      file's records)
//   3  at access unit boundaries, no flags
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "h264dec/h264_decoder.h"

namespace {

// Every picture takes at least a few bytes of input; beyond those, no more than
// the pictures a stream can keep back. More than that means the protocol never ends.
constexpr uint32_t kMaxHeldPictures = 40;

volatile uint32_t g_sink;

// Reads every visible sample, so a plane smaller than its stated size is caught.
void TouchPicture(const DecodedPicture &pic) {
    uint32_t sum = 0;
    for (uint32_t row = 0; row < pic.height; ++row)
        for (uint32_t x = 0; x < pic.width; x += 7) sum += pic.y[size_t(row) * pic.yStride + x];
    for (uint32_t row = 0; row < pic.height / 2; ++row)
        for (uint32_t x = 0; x < pic.width / 2; x += 5)
            sum += pic.u[size_t(row) * pic.uvStride + x] + pic.v[size_t(row) * pic.uvStride + x];
    if (pic.stats) sum += pic.stats[0] + pic.stats[9];
    g_sink = sum;
}

// Feeds one chunk, then drains every picture it completed.
void Feed(H264Decoder *dec, const uint8_t *data, uint32_t length, uint32_t flags) {
    DecodedPicture pic{};
    int32_t rc = H264Decoder_Decode(dec, data, length, length, 0, &pic, flags);
    for (uint32_t n = 0; rc == DEC_OK; ++n) {
        if (n == length + kMaxHeldPictures) __builtin_trap();
        TouchPicture(pic);
        rc = H264Decoder_Decode(dec, nullptr, 0, 0, 0, &pic, flags);
    }
    if (rc == DEC_BAD_ARGUMENT) __builtin_trap();
}

// Where the access unit that begins at `from` ends: before the first NAL unit
// after a slice that starts a new picture (an access unit delimiter, parameter
// set or SEI, or a slice whose first macroblock is 0).
size_t AccessUnitEnd(const std::vector<uint8_t> &stream, size_t from) {
    bool sawSlice = false;
    for (size_t k = from; k + 3 < stream.size(); ++k) {
        if (stream[k] != 0 || stream[k + 1] != 0 || stream[k + 2] != 1) continue;
        const uint8_t type = stream[k + 3] & 0x1F;
        const bool slice = type == 1 || type == 5;
        const bool firstMb = slice && k + 4 < stream.size() && (stream[k + 4] & 0x80);
        if (sawSlice && (firstMb || (type >= 6 && type <= 9))) return k > from && stream[k - 1] == 0 ? k - 1 : k;
        sawSlice = sawSlice || slice;
        k += 2;
    }
    return stream.size();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzedDataProvider in(data, size);
    const uint8_t settings = in.ConsumeIntegral<uint8_t>();
    DecoderAttr attr{};
    // Small limits keep creation cheap; larger streams must be refused cleanly.
    attr.widthMbs = (settings & 1) ? 22 : 45;
    attr.heightMbs = (settings & 1) ? 18 : 36;
    attr.bufferCount = (settings >> 1) & 7;
    attr.modeFlags = ((settings & 0x10) ? DEC_MODE_DISPLAY_ORDER : 0) | ((settings & 0x20) ? DEC_MODE_FIELD_MERGE : 0) |
                     ((settings & 0x40) ? DEC_MODE_SLICE_THREADS : 0);
    const bool endOfStream = (settings & 0x80) != 0;
    const uint8_t feeding = in.ConsumeIntegral<uint8_t>() & 3;

    // Chunk lengths: up to 16 cut points from the tail, the rest in one piece;
    // bit 12 of a cut marks its chunk as ending an access unit.
    std::vector<uint32_t> cuts;
    const int cutCount = feeding < 2 ? in.ConsumeIntegralInRange<int>(0, 16) : 0;
    for (int i = 0; i < cutCount; ++i) cuts.push_back(in.ConsumeIntegralInRange<uint32_t>(0, 8191));
    const std::vector<uint8_t> stream = in.ConsumeRemainingBytes<uint8_t>();

    H264Decoder *dec = H264Decoder_Create(&attr);
    if (!dec) return 0;
    size_t pos = 0;
    if (feeding >= 2) {
        const uint32_t flags = feeding == 2 ? DEC_FLAG_END_OF_ACCESS_UNIT : 0;
        while (pos < stream.size()) {
            const size_t end = AccessUnitEnd(stream, pos);
            Feed(dec, stream.data() + pos, uint32_t(end - pos), flags);
            pos = end;
        }
    } else {
        for (uint32_t cut : cuts) {
            const size_t length = std::min<size_t>(cut & 4095, stream.size() - pos);
            Feed(dec, stream.data() + pos, uint32_t(length),
                 feeding == 1 && (cut & 4096) ? DEC_FLAG_END_OF_ACCESS_UNIT : 0);
            pos += length;
        }
    }
    Feed(dec, stream.data() + pos, uint32_t(stream.size() - pos), feeding == 1 ? DEC_FLAG_END_OF_ACCESS_UNIT : 0);
    if (endOfStream) {
        Feed(dec, nullptr, 0, DEC_FLAG_END_OF_STREAM);
        DecodedPicture pic{};
        // Once drained, the end of stream is reported, not a picture.
        if (H264Decoder_Decode(dec, nullptr, 0, 0, 0, &pic, DEC_FLAG_END_OF_STREAM) == DEC_OK) __builtin_trap();
    }
    H264Decoder_Destroy(dec);
    return 0;
}
