// Many cameras on few cores: N decoders on N threads, as N player ports each
// decode on their own thread, every one decoding the same stream from the
// start as fast as it can. Prints the pictures per second of all of them
// together, next to the rate of one decoder alone and to that rate times the
// number of processors this process may use (the ideal).
//
//   port_scaling [--seconds S] STREAM.264 [PORTS...]     (default ports: 1 2 4 8 16)
#include <sched.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "cropped_picture.h"
#include "h264dec/h264_decoder.h"

namespace {

using Clock = std::chrono::steady_clock;

// Decodes the stream over and over until `stop`; counts pictures.
void DecodeUntil(const std::vector<uint8_t> &stream, const std::atomic<bool> &stop, std::atomic<long> &pictures) {
    DecoderAttr attr = {};
    attr.widthMbs = 240;
    attr.heightMbs = 135;
    attr.bufferCount = 4;
    H264Decoder *dec = H264Decoder_Create(&attr);
    if (!dec) return;
    DecodedPicture pic;
    while (!stop.load(std::memory_order_relaxed)) {
        const uint8_t *data = stream.data();
        uint32_t length = static_cast<uint32_t>(stream.size());
        for (uint32_t flags = 0;; flags = DEC_FLAG_END_OF_STREAM) {
            while (H264Decoder_Decode(dec, data, length, 0, 0, &pic, flags) == DEC_OK) {
                data = nullptr;
                length = 0;
                pictures.fetch_add(1, std::memory_order_relaxed);
            }
            data = nullptr;
            length = 0;
            if (flags == DEC_FLAG_END_OF_STREAM || stop.load(std::memory_order_relaxed)) break;
        }
    }
    H264Decoder_Destroy(dec);
}

double PicturesPerSecond(const std::vector<uint8_t> &stream, int ports, double seconds) {
    std::atomic<bool> stop{false};
    std::atomic<long> pictures{0};
    std::vector<std::thread> threads;
    const auto start = Clock::now();
    for (int i = 0; i < ports; ++i)
        threads.emplace_back(DecodeUntil, std::cref(stream), std::cref(stop), std::ref(pictures));
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    stop = true;
    for (std::thread &t : threads) t.join();
    return double(pictures.load()) / std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

int main(int argc, char **argv) {
    double seconds = 10;
    int arg = 1;
    if (arg + 1 < argc && std::strcmp(argv[arg], "--seconds") == 0) {
        seconds = std::atof(argv[arg + 1]);
        arg += 2;
    }
    if (arg >= argc || seconds <= 0) {
        std::fprintf(stderr, "usage: port_scaling [--seconds S] STREAM.264 [PORTS...]\n");
        return 2;
    }
    const std::vector<uint8_t> stream = tessaly::bench::ReadFile(argv[arg++]);
    if (stream.empty()) {
        std::fprintf(stderr, "port_scaling: cannot read the stream\n");
        return 1;
    }
    std::vector<int> counts;
    for (; arg < argc; ++arg) counts.push_back(std::atoi(argv[arg]));
    if (counts.empty()) counts = {1, 2, 4, 8, 16};

    cpu_set_t cpus;
    const int cores = sched_getaffinity(0, sizeof cpus, &cpus) == 0 ? CPU_COUNT(&cpus) : 1;
    const double alone = PicturesPerSecond(stream, 1, seconds);
    std::printf("%d processors; one decoder alone: %.1f pictures/s, ideal on all: %.1f\n", cores, alone, alone * cores);
    std::printf("%6s %14s %14s %10s\n", "ports", "pictures/s", "per port", "of ideal");
    for (const int ports : counts) {
        if (ports < 1) continue;
        const double rate = PicturesPerSecond(stream, ports, seconds);
        std::printf("%6d %14.1f %14.1f %9.0f%%\n", ports, rate, rate / ports,
                    100.0 * rate / (alone * (ports < cores ? ports : cores)));
        std::fflush(stdout);
    }
    return 0;
}
