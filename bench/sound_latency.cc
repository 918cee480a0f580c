// How long a port's sound takes from KOVA_AddStreamFrame to the device, for a
// sender at real-time pace: a loud frame every half second in quiet sound,
// found again in what SDL's disk driver wrote. The file's sample positions are
// mapped to wall time by the rate the device really ran at.
//
//   sound_latency [SECONDS]
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <thread>
#include <vector>

#include "tessaly/kova.h"
#include "tessaly/tq_voice.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

}  // namespace

int main(int argc, char **argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 6;
    const char *path = "/tmp/tessaly-sound-latency.raw";
    setenv("SDL_AUDIODRIVER", "disk", 0);
    setenv("SDL_DISKAUDIOFILE", path, 1);
    KOVA_Init();
    const Clock::time_point opened = Clock::now();
    if (KOVA_OpenStream(0, 0, 1, 1) != KOVA_OK) return 1;

    alignas(8) uint8_t state[TQ_VOICE_STATE_BYTES];
    TQ_VOICE_EncReset(state, TQ_VOICE_MODE_G726_32K);
    std::vector<double> marks;  // when each loud frame was submitted
    const int frames = seconds * 100;
    for (int n = 0; n < frames; ++n) {
        int16_t pcm[80] = {};
        const bool loud = n % 50 == 25;
        if (loud)
            for (int k = 0; k < 80; ++k) pcm[k] = static_cast<int16_t>(12000 * std::sin(k * 0.7));
        uint8_t frame[TQ_VOICE_MAX_FRAME_BYTES];
        TQ_VOICE_EncodeFrame(state, pcm, frame, 80, TQ_VOICE_MODE_G726_32K);
        std::this_thread::sleep_until(opened + std::chrono::milliseconds(200 + 10 * n));
        if (loud) marks.push_back(Seconds(Clock::now() - opened));
        KOVA_AddStreamFrame(0, KOVA_FRAME_AUDIO, frame, 44);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    KOVA_Close(0);
    const double ran = Seconds(Clock::now() - opened);
    KOVA_DeInit();

    std::ifstream in(path, std::ios::binary);
    const std::vector<char> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::vector<int16_t> played(bytes.size() / 2);
    std::copy_n(reinterpret_cast<const int16_t *>(bytes.data()), played.size(), played.data());
    const double rate = played.size() / ran;  // samples per second the device took

    std::vector<double> latencies;
    size_t quiet = 0;
    for (size_t k = 0; k < played.size() && latencies.size() < marks.size(); ++k) {
        if (std::abs(played[k]) > 3000 && quiet > 400) latencies.push_back(k / rate - marks[latencies.size()]);
        quiet = std::abs(played[k]) > 3000 ? 0 : quiet + 1;
    }
    if (latencies.size() != marks.size()) {
        std::fprintf(stderr, "found %zu of %zu loud frames\n", latencies.size(), marks.size());
        return 1;
    }
    std::sort(latencies.begin(), latencies.end());
    double sum = 0;
    for (double l : latencies) sum += l;
    std::printf(
        "device rate %.1f samples/s; submit -> device callback over %zu marks: min %.1f ms, mean %.1f ms, "
        "max %.1f ms (a hardware device adds its own buffer of 32 ms)\n",
        rate, latencies.size(), 1e3 * latencies.front(), 1e3 * sum / latencies.size(), 1e3 * latencies.back());
    std::remove(path);
    return 0;
}
