#include "stream_feeder.h"

#include <chrono>

#include "tessaly/kova.h"

namespace tessaly::play {

StreamFeeder::StreamFeeder(uint32_t port, const CameraFile &file, bool loop, PortStats &stats, StopSignal &stop)
    : port_(port), file_(file), loop_(loop), stats_(stats), stop_(stop) {}

StreamFeeder::~StreamFeeder() { Join(); }

void StreamFeeder::Start() {
    thread_ = std::thread([this] { Run(); });
}

void StreamFeeder::Join() {
    if (thread_.joinable()) thread_.join();
}

void StreamFeeder::Send(const tools::ByteRange &unit) {
    const int32_t result = KOVA_AddStreamFrame(port_, KOVA_FRAME_VIDEO, file_.bytes.data() + unit.offset,
                                               static_cast<uint32_t>(unit.size));
    if (result == KOVA_ERR_BUFFER_FULL) {
        stats_.framesDropped.fetch_add(1, std::memory_order_relaxed);
    } else if (result == KOVA_OK) {
        stats_.framesSent.fetch_add(1, std::memory_order_relaxed);
    }
    uint32_t capacity = 0, fill = 0;
    if (KOVA_GetStreamBufInfo(port_, &capacity, &fill) == KOVA_OK) {
        stats_.capacity.store(capacity, std::memory_order_relaxed);
        if (fill > stats_.maxFill.load(std::memory_order_relaxed))
            stats_.maxFill.store(fill, std::memory_order_relaxed);
    }
}

void StreamFeeder::Run() {
    using Clock = std::chrono::steady_clock;
    const auto period = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / file_.fps));
    auto due = Clock::now();
    do {
        for (const tools::ByteRange &unit : file_.accessUnits) {
            if (stop_.WaitUntil(due)) return;
            Send(unit);
            due += period;
            // A camera does not burst to catch up after a stall: it sends the next
            // frame a period later.
            const auto now = Clock::now();
            if (now - due > std::chrono::seconds(1)) due = now + period;
        }
    } while (loop_ && !file_.accessUnits.empty());
    finished_.store(true, std::memory_order_release);
}

}  // namespace tessaly::play
