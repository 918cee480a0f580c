// What happens on each port: pictures shown (counted in the decoded-frame
// callback); for a camera, frames sent and dropped by the feeder and the
// fullest the stream buffer got. Written from the port's threads, read by the main thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <string>

namespace tessaly::play {

struct PortStats {
    std::atomic<uint64_t> pictures{0};
    std::atomic<int32_t> width{0};
    std::atomic<int32_t> height{0};
    std::atomic<int64_t> firstPictureNs{0};  // steady clock; 0 = none yet
    std::atomic<int64_t> lastPictureNs{0};
    std::atomic<uint64_t> framesSent{0};
    std::atomic<uint64_t> framesDropped{0};  // refused with KOVA_ERR_BUFFER_FULL
    std::atomic<uint32_t> maxFill{0};
    std::atomic<uint32_t> capacity{0};
};

// The port's decoded-frame callback; `user` is the port's PortStats.
void CountPicture(int32_t format, uint8_t *picture, int32_t size, int32_t width, int32_t height, intptr_t user);

// Keeps the stream buffer's size and fullest fill after a frame went in.
void NoteBufferFill(uint32_t port, PortStats &stats);

// A summary line in two parts: the pictures, e.g.
// "port 0 sample.264: 704x576 pictures 375 fps 25.0", without a line end,
// then for a camera what its feeder did, " sent 375 dropped 0 buffer max 12% (63488/524288)".
void PrintPictureCounts(std::FILE *out, uint32_t port, const std::string &name, const PortStats &stats);
void PrintFeedCounts(std::FILE *out, const PortStats &stats);

}  // namespace tessaly::play
