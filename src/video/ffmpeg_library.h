// The FFmpeg path: libavcodec loaded at run time, and a decoder over it for
// H.264 and Motion JPEG streams that the library's own decoder does not take.
//
// libtessaly.so has no link-time dependency on libavcodec: a host without it
// loses only this path. Load() tries, in order, the libraries beside
// libtessaly.so and then the system's, both FFmpeg 5.1 (libavcodec.so.59 and
// libavutil.so.57, whose structure layouts the build's headers describe).
// A successful load is kept for the life of the process and never undone; a
// failed one leaves nothing loaded and is tried again by the next Load().
//
// Opening and closing a codec holds FfmpegLock(), shared by every port; a
// port that also holds its decoder lock takes that one first.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/page_block.h"

struct AVCodecContext;
struct AVFrame;
struct AVPacket;

namespace tessaly::video {

std::mutex &FfmpegLock();

// Where to look for FFmpeg: each pair is tried whole, libavutil first.
struct FfmpegCandidate {
    std::string avutil;
    std::string avcodec;
};

// The directory of libtessaly.so, then the system's search path.
std::vector<FfmpegCandidate> DefaultFfmpegCandidates();

// True when the entry points are there (now or from an earlier call).
bool LoadFfmpeg();
// The same over the given candidates; a test points it at libraries that do
// not exist to see the path switched off.
bool LoadFfmpeg(std::span<const FfmpegCandidate> candidates);
bool FfmpegAvailable();

enum FfmpegCodec : int {
    kFfmpegH264 = 1,
    kFfmpegMjpeg = 2,
};

// A decoded picture as 8-bit planar 4:2:0, valid until the next call on its
// decoder. Chroma planes are (width + 1) / 2 by (height + 1) / 2 samples.
struct FfmpegPicture {
    const uint8_t *y;
    const uint8_t *u;
    const uint8_t *v;
    int yStride;
    int uvStride;
    int width;
    int height;
    // JPEG levels (0..255) rather than video levels (16..235); passed on as
    // they are, for the consumer to decide.
    bool fullRange;
};

// One codec instance. Decode runs on one thread at a time without the
// library lock; Open and Close take it. Single-threaded decoding, so the
// pictures are the same from run to run.
//
// Pictures come out as 4:2:0 whatever the JPEG's sampling: 4:2:2 by every
// other chroma row (a doubled stride, nothing copied), 4:4:4 and 4:4:0 by
// every other chroma sample copied into the decoder's own planes, which grow
// with the picture; grey pictures get neutral chroma. Other formats (4:1:1,
// more than 8 bits) give no picture. The codec allocates its own frames; this
// class allocates nothing per packet.
class FfmpegDecoder {
public:
    FfmpegDecoder() = default;
    ~FfmpegDecoder();
    FfmpegDecoder(const FfmpegDecoder &) = delete;
    FfmpegDecoder &operator=(const FfmpegDecoder &) = delete;

    // False when FFmpeg is not loaded, the codec is unknown or will not open;
    // an open decoder is closed first.
    bool Open(int codec);
    void Close();
    bool IsOpen() const { return context_ != nullptr; }

    // Sends one packet (a whole access unit or JPEG picture) and returns the
    // last picture it gave, if any. Damaged data gives nothing, not an error.
    std::optional<FfmpegPicture> Decode(const uint8_t *data, uint32_t length);
    // End of stream: one call a picture still held back for reordering, then
    // nothing; after that the decoder takes packets again.
    std::optional<FfmpegPicture> Drain();

private:
    std::optional<FfmpegPicture> Receive();
    std::optional<FfmpegPicture> View(const AVFrame &frame);

    AVCodecContext *context_ = nullptr;
    AVPacket *packet_ = nullptr;
    // The last picture received, and the frame the next one is received
    // into: receiving empties its frame even when nothing comes out.
    AVFrame *picture_ = nullptr;
    AVFrame *spare_ = nullptr;
    bool draining_ = false;
    // Chroma reduced from 4:4:4 or 4:4:0, or made grey; grows with the picture.
    platform::GrowingPageBlock chroma_;
};

}  // namespace tessaly::video
