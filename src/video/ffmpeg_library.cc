#include "video/ffmpeg_library.h"

#include <dlfcn.h>

#include <cstdlib>

#include <algorithm>
#include <atomic>
#include <climits>
#include <utility>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/log.h>
#include <libavutil/pixfmt.h>
}

#include "platform/module_path.h"

// The layouts this file reads (AVFrame, AVCodecContext, AVPacket) are those
// of the sonames it loads.
static_assert(LIBAVCODEC_VERSION_MAJOR == 59 && LIBAVUTIL_VERSION_MAJOR == 57, "built against FFmpeg 5.1 headers");

namespace tessaly::video {

namespace {

constexpr const char *kAvutilName = "libavutil.so.57";
constexpr const char *kAvcodecName = "libavcodec.so.59";

// The prototypes come from the headers; nothing here is linked against them.
struct Entries {
    decltype(&::av_frame_alloc) frameAlloc;
    decltype(&::av_frame_free) frameFree;
    decltype(&::avcodec_find_decoder) findDecoder;
    decltype(&::avcodec_alloc_context3) allocContext;
    decltype(&::avcodec_open2) open;
    decltype(&::avcodec_send_packet) sendPacket;
    decltype(&::avcodec_receive_frame) receiveFrame;
    decltype(&::avcodec_flush_buffers) flushBuffers;
    decltype(&::avcodec_free_context) freeContext;
    decltype(&::av_packet_alloc) packetAlloc;
    decltype(&::av_packet_free) packetFree;
};

// Written once under the lock before gLoaded is released; read-only after.
Entries gEntries{};
std::atomic<bool> gLoaded{false};

template <typename Function>
bool Resolve(void *handle, const char *name, Function &out) {
    out = reinterpret_cast<Function>(dlsym(handle, name));
    return out != nullptr;
}

bool ResolveAll(void *avutil, void *avcodec, Entries &e) {
    return Resolve(avutil, "av_frame_alloc", e.frameAlloc) && Resolve(avutil, "av_frame_free", e.frameFree) &&
           Resolve(avcodec, "avcodec_find_decoder", e.findDecoder) &&
           Resolve(avcodec, "avcodec_alloc_context3", e.allocContext) && Resolve(avcodec, "avcodec_open2", e.open) &&
           Resolve(avcodec, "avcodec_send_packet", e.sendPacket) &&
           Resolve(avcodec, "avcodec_receive_frame", e.receiveFrame) &&
           Resolve(avcodec, "avcodec_flush_buffers", e.flushBuffers) &&
           Resolve(avcodec, "avcodec_free_context", e.freeContext) &&
           Resolve(avcodec, "av_packet_alloc", e.packetAlloc) && Resolve(avcodec, "av_packet_free", e.packetFree);
}

// Damaged camera data makes the decoders complain on standard error. A
// library keeps quiet unless asked (TESSALY_DEBUG=1), but leaves a level the
// host has set for its own use of FFmpeg alone.
void QuietenLogging(void *avutil) {
    decltype(&::av_log_get_level) getLevel = nullptr;
    decltype(&::av_log_set_level) setLevel = nullptr;
    if (!Resolve(avutil, "av_log_get_level", getLevel) || !Resolve(avutil, "av_log_set_level", setLevel)) return;
    const char *debug = std::getenv("TESSALY_DEBUG");
    if (getLevel() == AV_LOG_INFO && !(debug && std::string(debug) == "1")) setLevel(AV_LOG_QUIET);
}

bool TryCandidate(const FfmpegCandidate &candidate) {
    // libavutil first, so that libavcodec's own need for it finds this copy.
    void *avutil = dlopen(candidate.avutil.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (avutil == nullptr) return false;
    void *avcodec = dlopen(candidate.avcodec.c_str(), RTLD_NOW | RTLD_LOCAL);
    Entries entries{};
    if (avcodec != nullptr && ResolveAll(avutil, avcodec, entries)) {
        gEntries = entries;
        QuietenLogging(avutil);
        return true;
    }
    if (avcodec != nullptr) dlclose(avcodec);
    dlclose(avutil);
    return false;
}

// 8-bit planar formats the decoders give, with their chroma subsampling.
struct Layout {
    int shiftX;
    int shiftY;
    bool grey;
};

std::optional<Layout> LayoutOf(int format) {
    switch (format) {
    case AV_PIX_FMT_YUV420P:
    case AV_PIX_FMT_YUVJ420P: return Layout{1, 1, false};
    case AV_PIX_FMT_YUV422P:
    case AV_PIX_FMT_YUVJ422P: return Layout{1, 0, false};
    case AV_PIX_FMT_YUV440P:
    case AV_PIX_FMT_YUVJ440P: return Layout{0, 1, false};
    case AV_PIX_FMT_YUV444P:
    case AV_PIX_FMT_YUVJ444P: return Layout{0, 0, false};
    case AV_PIX_FMT_GRAY8: return Layout{0, 0, true};
    default: return std::nullopt;
    }
}

}  // namespace

std::mutex &FfmpegLock() {
    static std::mutex lock;
    return lock;
}

std::vector<FfmpegCandidate> DefaultFfmpegCandidates() {
    std::vector<FfmpegCandidate> candidates;
    const std::string directory = platform::LibraryDirectory();
    if (!directory.empty()) candidates.push_back({directory + kAvutilName, directory + kAvcodecName});
    candidates.push_back({kAvutilName, kAvcodecName});
    return candidates;
}

bool LoadFfmpeg() {
    if (FfmpegAvailable()) return true;
    const std::vector<FfmpegCandidate> candidates = DefaultFfmpegCandidates();
    return LoadFfmpeg(candidates);
}

bool LoadFfmpeg(std::span<const FfmpegCandidate> candidates) {
    std::lock_guard lock(FfmpegLock());
    if (gLoaded.load(std::memory_order_relaxed)) return true;
    for (const FfmpegCandidate &candidate : candidates) {
        if (TryCandidate(candidate)) {
            gLoaded.store(true, std::memory_order_release);
            return true;
        }
    }
    return false;
}

bool FfmpegAvailable() { return gLoaded.load(std::memory_order_acquire); }

FfmpegDecoder::~FfmpegDecoder() { Close(); }

bool FfmpegDecoder::Open(int codec) {
    Close();
    if (!FfmpegAvailable()) return false;
    const AVCodecID id = codec == kFfmpegH264    ? AV_CODEC_ID_H264
                         : codec == kFfmpegMjpeg ? AV_CODEC_ID_MJPEG
                                                 : AV_CODEC_ID_NONE;
    if (id == AV_CODEC_ID_NONE) return false;
    const Entries &e = gEntries;
    std::lock_guard lock(FfmpegLock());
    const AVCodec *decoder = e.findDecoder(id);
    if (decoder == nullptr) return false;
    context_ = e.allocContext(decoder);
    packet_ = e.packetAlloc();
    picture_ = e.frameAlloc();
    spare_ = e.frameAlloc();
    bool opened = context_ != nullptr && packet_ != nullptr && picture_ != nullptr && spare_ != nullptr;
    if (opened) {
        context_->thread_count = 1;
        opened = e.open(context_, decoder, nullptr) >= 0;
    }
    if (!opened) {
        e.freeContext(&context_);
        e.packetFree(&packet_);
        e.frameFree(&picture_);
        e.frameFree(&spare_);
    }
    draining_ = false;
    return opened;
}

void FfmpegDecoder::Close() {
    if (context_ == nullptr) return;
    const Entries &e = gEntries;
    std::lock_guard lock(FfmpegLock());
    e.freeContext(&context_);
    e.packetFree(&packet_);
    e.frameFree(&picture_);
    e.frameFree(&spare_);
}

std::optional<FfmpegPicture> FfmpegDecoder::Decode(const uint8_t *data, uint32_t length) {
    if (context_ == nullptr || data == nullptr || length == 0 || length > INT_MAX) return std::nullopt;
    const Entries &e = gEntries;
    if (draining_) {
        e.flushBuffers(context_);
        draining_ = false;
    }
    // Not reference counted: the codec copies the bytes (with the padding its
    // readers need) before this returns.
    packet_->data = const_cast<uint8_t *>(data);
    packet_->size = static_cast<int>(length);
    const int sent = e.sendPacket(context_, packet_);
    packet_->data = nullptr;
    packet_->size = 0;
    if (sent < 0) return std::nullopt;
    std::optional<FfmpegPicture> last;
    for (std::optional<FfmpegPicture> picture; (picture = Receive());) last = picture;
    return last;
}

std::optional<FfmpegPicture> FfmpegDecoder::Drain() {
    if (context_ == nullptr) return std::nullopt;
    const Entries &e = gEntries;
    if (!draining_) {
        e.sendPacket(context_, nullptr);
        draining_ = true;
    }
    if (std::optional<FfmpegPicture> picture = Receive()) return picture;
    e.flushBuffers(context_);
    draining_ = false;
    return std::nullopt;
}

std::optional<FfmpegPicture> FfmpegDecoder::Receive() {
    // A picture in a format this path cannot give is skipped, not an end.
    while (gEntries.receiveFrame(context_, spare_) == 0) {
        std::swap(picture_, spare_);
        if (std::optional<FfmpegPicture> view = View(*picture_)) return view;
    }
    return std::nullopt;
}

std::optional<FfmpegPicture> FfmpegDecoder::View(const AVFrame &frame) {
    const std::optional<Layout> layout = LayoutOf(frame.format);
    if (!layout || frame.width <= 0 || frame.height <= 0) return std::nullopt;
    FfmpegPicture picture{frame.data[0],
                          frame.data[1],
                          frame.data[2],
                          frame.linesize[0],
                          frame.linesize[1],
                          frame.width,
                          frame.height,
                          frame.color_range == AVCOL_RANGE_JPEG || frame.format == AV_PIX_FMT_YUVJ420P ||
                              frame.format == AV_PIX_FMT_YUVJ422P || frame.format == AV_PIX_FMT_YUVJ440P ||
                              frame.format == AV_PIX_FMT_YUVJ444P};
    if (layout->shiftX == 1 && !layout->grey && frame.linesize[1] == frame.linesize[2]) {
        // 4:2:0 as it is; 4:2:2 by every other chroma row, which a doubled
        // stride selects without copying.
        picture.uvStride = frame.linesize[1] << (1 - layout->shiftY);
        return picture;
    }
    // Full-width chroma: every other sample of the rows 4:2:0 keeps, into
    // our own planes. Grey pictures get neutral chroma.
    const int width = (frame.width + 1) / 2, height = (frame.height + 1) / 2;
    const size_t plane = size_t(width) * size_t(height);
    uint8_t *const chroma = chroma_.Hold(2 * plane);
    if (!chroma) return std::nullopt;
    uint8_t *planes[2] = {chroma, chroma + plane};
    const int stepX = 1 << (1 - layout->shiftX), stepY = 1 << (1 - layout->shiftY);
    for (int p = 0; p < 2; ++p) {
        for (int row = 0; row < height; ++row) {
            uint8_t *out = planes[p] + size_t(row) * size_t(width);
            if (layout->grey) {
                std::fill(out, out + width, uint8_t{128});
                continue;
            }
            const uint8_t *in = frame.data[1 + p] + ptrdiff_t(row) * stepY * frame.linesize[1 + p];
            for (int x = 0; x < width; ++x) out[x] = in[x * stepX];
        }
    }
    picture.u = planes[0];
    picture.v = planes[1];
    picture.uvStride = width;
    return picture;
}

}  // namespace tessaly::video
