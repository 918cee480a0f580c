#include "stream_feeder.h"

#include "frame_pacer.h"
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
    FramePacer pacer(file_.fps, stop_);
    do {
        for (const tools::ByteRange &unit : file_.accessUnits) {
            if (!pacer.Wait()) return;
            Send(unit);
        }
    } while (loop_ && !file_.accessUnits.empty());
    finished_.store(true, std::memory_order_release);
}

}  // namespace tessaly::play
