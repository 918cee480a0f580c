// Arbitrary bytes as a camera's sound submission, through the decoders the
// ports and KOVA_Audio_Decode share: the output buffer is exactly as large as
// the frames the first header announces, so any sample written beyond shows.
// The submission is decoded twice by one fresh decoder, the second time from
// the state the first left, as a port's decoder carries it from one
// submission to the next; nothing carries over to the next input.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "audio/g726_frame_decoder.h"
#include "tessaly/kova.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    tessaly::audio::G726FrameDecoder decoder;
    const auto length = static_cast<uint32_t>(size);
    uint32_t frames = 0;
    if (length >= 4) {
        const uint32_t frameBytes = tessaly::audio::AnnouncedFrameBytes(data);
        if (frameBytes != 0 && length % frameBytes == 0) frames = length / frameBytes;
    }
    const std::unique_ptr<uint8_t[]> pcm(new uint8_t[160 * frames + 1]);
    for (int pass = 0; pass < 2; ++pass) {
        uint32_t written = 0;
        const int32_t result = tessaly::audio::DecodeFrames(decoder, data, length, pcm.get(), &written);
        if (result == KOVA_OK && written != 160 * frames) __builtin_trap();
    }
    return 0;
}
