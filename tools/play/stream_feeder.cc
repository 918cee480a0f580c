#include "stream_feeder.h"

#include <algorithm>

#include "frame_pacer.h"
#include "tessaly/kova.h"

namespace tessaly::play {
namespace {

constexpr size_t kFtChunk = 4096;
// Completes the last packet of a file that does not start again.
constexpr uint8_t kFtMarker[8] = {0xFE, 0xFD, 0x02, 0x01, 0xFD, 0xFE, 0x01, 0x02};

}  // namespace

int32_t StreamFeeder::SendFtBytes(const uint8_t *data, size_t size) {
    const auto add = file_.ftRaw ? KOVA_AddStreamData_FT_Raw : KOVA_AddStreamData_FT;
    int32_t worst = KOVA_OK;
    for (size_t at = 0; at < size; at += kFtChunk) {
        const int32_t result = add(port_, KOVA_FRAME_VIDEO, data + at, uint32_t(std::min(kFtChunk, size - at)));
        if (result != KOVA_OK) worst = result;
    }
    return worst;
}

// A refused frame counts as dropped: a full buffer, or (FT) a packet too
// large for the port's collecting buffer.
void StreamFeeder::Count(int32_t result) {
    if (result == KOVA_OK) {
        stats_.framesSent.fetch_add(1, std::memory_order_relaxed);
    } else if (result == KOVA_ERR_BUFFER_FULL || (file_.ftStream && result == KOVA_ERR_INVALID_ARGUMENT)) {
        stats_.framesDropped.fetch_add(1, std::memory_order_relaxed);
    }
}

void StreamFeeder::Send(const tools::ByteRange &unit) {
    const uint8_t *data = file_.bytes.data() + unit.offset;
    if (!file_.ftStream) {
        Count(KOVA_AddStreamFrame(port_, KOVA_FRAME_VIDEO, data, static_cast<uint32_t>(unit.size)));
    } else {
        // An FT packet's result comes with the next packet's marker.
        const int32_t result = SendFtBytes(data, unit.size);
        if (ftPacketOpen_) Count(result);
        ftPacketOpen_ = true;
    }
    NoteBufferFill(port_, stats_);
}

void StreamFeeder::Run() {
    FramePacer pacer(file_.fps, stop_);
    do {
        for (const tools::ByteRange &unit : file_.accessUnits) {
            if (!pacer.Wait()) return;
            Send(unit);
        }
    } while (loop_ && !file_.accessUnits.empty());
    if (ftPacketOpen_) Count(SendFtBytes(kFtMarker, sizeof kFtMarker));
    finished_.store(true, std::memory_order_release);
}

}  // namespace tessaly::play
