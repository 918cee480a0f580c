#include "sound_commands.h"

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <thread>
#include <vector>

#include "audio_file.h"
#include "frame_split.h"
#include "tessaly/kova.h"
#include "tessaly/tq_voice.h"

namespace voicetool {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr auto kOutputFrameTime = 10ms;
// Play keeps at most this much queued ahead of the clock: enough to ride out
// a late wake-up, far below the output's two-second queue.
constexpr auto kPlayLead = 100ms;
// What may still sit in the output once the last frame was handed over: the
// output's start-up margin and a device period or two.
constexpr auto kDrainTime = 200ms;
// Talk's output still holds up to a capture frame (60 ms) plus that margin.
constexpr auto kTalkDrainTime = 300ms;

volatile std::sig_atomic_t stopSignal = 0;

void OnStopSignal(int) { stopSignal = 1; }

// SIGINT and SIGTERM end the command through its normal stop, so the devices
// close and the summary is printed.
void CatchStopSignals() {
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

std::string Code(int32_t result) { return std::to_string(result); }

// Talk's counters: the capture callback has no user value to carry them.
struct TalkCounts {
    std::atomic<uint32_t> captured{0};
    std::atomic<uint32_t> played{0};
    std::atomic<uint32_t> refused{0};
};
TalkCounts talkCounts;

// On SDL's capture thread: splits the 480-sample frame into six of 80 samples
// for the output, on the stack.
void OnCapturedFrame(const uint8_t *frame, uint32_t length) {
    talkCounts.captured.fetch_add(1, std::memory_order_relaxed);
    uint8_t parts[kCaptureSplitBytes];
    const size_t bytes = SplitFrame(frame, length, TQ_VOICE_MODE_G726_32K, parts, sizeof parts);
    if (bytes == 0 || KOVA_Voice_Output(parts, static_cast<uint32_t>(bytes)) != KOVA_OK) {
        talkCounts.refused.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    const size_t partBytes = kFrameHeaderBytes + 2 * size_t{parts[2]};
    talkCounts.played.fetch_add(static_cast<uint32_t>(bytes / partBytes), std::memory_order_relaxed);
}

// Returns after `seconds`, or with seconds 0 once a line or the end of
// standard input arrives; a stop signal ends either wait.
void WaitForStop(double seconds) {
    const auto end =
        seconds > 0 ? Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds))
                    : Clock::time_point::max();
    while (stopSignal == 0 && Clock::now() < end) {
        const auto slice = std::min<Clock::duration>(100ms, end - Clock::now());
        if (seconds > 0) {
            std::this_thread::sleep_for(slice);
            continue;
        }
        pollfd input{STDIN_FILENO, POLLIN, 0};
        if (poll(&input, 1, static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(slice).count())) > 0) {
            char line[256];
            // A line, the end of input or a broken input all end the wait.
            if (read(STDIN_FILENO, line, sizeof line) != -1 || errno != EINTR) return;
        }
    }
}

// The frame file as the output frames it plays, back to back, each one
// checked; `fileFrames` counts the file's own frames.
bool LoadOutputFrames(const std::string &path, int16_t mode, std::vector<uint8_t> &frames, size_t &fileFrames,
                      std::string &error) {
    std::vector<uint8_t> file;
    if (!ReadFileBytes(path, file, error)) return false;
    frames.clear();
    fileFrames = 0;
    const bool ok = ForEachFrame(file, error, [&](const uint8_t *frame, size_t length) {
        uint8_t parts[kCaptureSplitBytes];
        const size_t bytes = SplitFrame(frame, length, mode, parts, sizeof parts);
        if (bytes == 0) {
            error = std::to_string(length) + " bytes do not make 80-sample frames of mode " + std::to_string(mode);
            return false;
        }
        frames.insert(frames.end(), parts, parts + bytes);
        ++fileFrames;
        return true;
    });
    if (!ok) error = path + ": " + error;
    return ok;
}

}  // namespace

bool Talk(double seconds, std::string &error) {
    CatchStopSignals();
    if (const int32_t result = KOVA_Voice_StartOutput(); result != KOVA_OK) {
        error = "the voice output could not start (" + Code(result) + ")";
        return false;
    }
    if (const int32_t result = KOVA_Voice_StartCapture(OnCapturedFrame); result != KOVA_OK) {
        KOVA_Voice_StopOutput();
        error = result == KOVA_ERR_CAPTURE ? "no capture device" : "capture could not start (" + Code(result) + ")";
        return false;
    }
    if (seconds <= 0) std::fprintf(stderr, "tessaly-voice: talking; press Enter to stop\n");
    WaitForStop(seconds);
    KOVA_Voice_StopCapture();
    if (stopSignal == 0) std::this_thread::sleep_for(kTalkDrainTime);
    KOVA_Voice_StopOutput();

    const uint32_t captured = talkCounts.captured.load(), refused = talkCounts.refused.load();
    std::printf("talk: %u frames captured (%.2f s), %u frames of 80 samples played", captured, captured * 0.06,
                talkCounts.played.load());
    if (refused != 0) std::printf(", %u captured frames not played", refused);
    std::printf("\n");
    return true;
}

bool Play(const std::string &path, int16_t mode, std::string &error) {
    std::vector<uint8_t> frames;
    size_t fileFrames = 0;
    if (!LoadOutputFrames(path, mode, frames, fileFrames, error)) return false;

    CatchStopSignals();
    if (const int32_t result = KOVA_Voice_StartOutput(); result != KOVA_OK) {
        error = "the voice output could not start (" + Code(result) + ")";
        return false;
    }
    const auto start = Clock::now();
    size_t played = 0;
    for (size_t offset = 0; offset < frames.size() && stopSignal == 0; ++played) {
        std::this_thread::sleep_until(start + played * kOutputFrameTime - kPlayLead);
        const size_t length = kFrameHeaderBytes + 2 * size_t{frames[offset + 2]};
        if (const int32_t result = KOVA_Voice_Output(&frames[offset], static_cast<uint32_t>(length));
            result != KOVA_OK) {
            KOVA_Voice_StopOutput();
            error = "the voice output refused frame " + std::to_string(played) + " (" + Code(result) + ")";
            return false;
        }
        offset += length;
    }
    if (stopSignal == 0) std::this_thread::sleep_until(start + played * kOutputFrameTime + kDrainTime);
    KOVA_Voice_StopOutput();
    std::printf("play: %s: %zu frames, %zu of 80 samples (%.2f s) played%s\n", path.c_str(), fileFrames, played,
                played * 0.01, stopSignal != 0 ? ", stopped early" : "");
    return true;
}

}  // namespace voicetool
