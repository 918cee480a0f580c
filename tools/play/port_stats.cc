#include "port_stats.h"

#include <chrono>

#include "tessaly/kova.h"

namespace tessaly::play {
namespace {

int64_t NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

void CountPicture(int32_t, uint8_t *, int32_t, int32_t width, int32_t height, intptr_t user) {
    auto *stats = reinterpret_cast<PortStats *>(user);
    const int64_t now = NowNs();
    int64_t none = 0;
    stats->firstPictureNs.compare_exchange_strong(none, now, std::memory_order_relaxed);
    stats->lastPictureNs.store(now, std::memory_order_relaxed);
    stats->width.store(width, std::memory_order_relaxed);
    stats->height.store(height, std::memory_order_relaxed);
    stats->pictures.fetch_add(1, std::memory_order_release);
}

void NoteBufferFill(uint32_t port, PortStats &stats) {
    uint32_t capacity = 0, fill = 0;
    if (KOVA_GetStreamBufInfo(port, &capacity, &fill) != KOVA_OK) return;
    stats.capacity.store(capacity, std::memory_order_relaxed);
    if (fill > stats.maxFill.load(std::memory_order_relaxed)) stats.maxFill.store(fill, std::memory_order_relaxed);
}

void PrintPictureCounts(std::FILE *out, uint32_t port, const std::string &name, const PortStats &stats) {
    const uint64_t pictures = stats.pictures.load(std::memory_order_acquire);
    const double spanS = (stats.lastPictureNs.load() - stats.firstPictureNs.load()) / 1e9;
    // n pictures span n - 1 intervals.
    const double fps = pictures > 1 && spanS > 0 ? (pictures - 1) / spanS : 0;
    std::fprintf(out, "port %u %s: %dx%d pictures %llu fps %.1f", port, name.c_str(), stats.width.load(),
                 stats.height.load(), static_cast<unsigned long long>(pictures), fps);
}

void PrintFeedCounts(std::FILE *out, const PortStats &stats) {
    const uint32_t capacity = stats.capacity.load();
    const uint32_t maxFill = stats.maxFill.load();
    const unsigned percent = capacity ? static_cast<unsigned>(100.0 * maxFill / capacity + 0.5) : 0;
    std::fprintf(out, " sent %llu dropped %llu buffer max %u%% (%u/%u)\n",
                 static_cast<unsigned long long>(stats.framesSent.load()),
                 static_cast<unsigned long long>(stats.framesDropped.load()), percent, maxFill, capacity);
}

}  // namespace tessaly::play
