// What the soak's threads share: the material to send, the host's windows,
// the watchdog, and each port's state and running totals. A port belongs to
// one host thread (port % threads); the main thread touches it only while the
// host threads are parked.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "call_watchdog.h"
#include "host_windows.h"
#include "pause_gate.h"
#include "soak_options.h"
#include "stream_library.h"
#include "tessaly/kova.h"
#include "tessaly/kova_stats.h"

namespace tessaly::soak {

using Clock = std::chrono::steady_clock;

enum class PortKind { kLive, kFile, kFt, kRaw };
constexpr int kPortKinds = 4;

struct PortTotals {
    std::array<uint32_t, kPortKinds> opens{};
    uint64_t framesReceived = 0, framesRefused = 0, picturesDecoded = 0, picturesShown = 0, damagedPictures = 0;
    uint32_t width = 0, height = 0;
    std::string lastStream;

    void Add(const KOVA_PortStatistics &stats);
};

struct PortState {
    uint32_t port = 0;
    bool open = false;
    PortKind kind = PortKind::kLive;
    bool sound = false;
    const FrameSequence *live = nullptr;
    const ByteStream *ft = nullptr;
    size_t next = 0;  // frame index, or byte offset into the FT stream
    Clock::time_point due{};
    PortTotals totals;
};

// Return codes per call (named by string literals, so the pointer is the
// key), counted by each thread and merged at the end.
using ResultTally = std::map<std::pair<const char *, int32_t>, uint64_t>;

struct SoakState {
    SoakOptions options;
    SoakStreams streams;
    std::string scratchDirectory;  // snapshots go here
    Bytes rawPicture;              // a 352x288 I420 picture for raw-picture ports
    HostWindows windows;
    CallWatchdog watchdog;
    PauseGate gate;
    std::vector<PortState> ports;
    std::array<std::atomic<uint64_t>, KOVA_MAX_PORTS> callbacks{};
    std::atomic<uint64_t> badPictures{0};  // callback arguments that do not add up
    std::atomic<uint64_t> voiceFrames{0};
    std::atomic<uint64_t> unexpected{0};
    std::atomic<bool> stop{false};

    SoakState(const SoakOptions &o, std::chrono::milliseconds callLimit)
        : options(o), watchdog(o.threads + 1, callLimit), gate(o.threads), ports(size_t(o.ports)) {}
};

// Records a call's result; a code outside `allowed` is reported (once per
// call and code) and counted as a failure.
void Check(SoakState &state, ResultTally &tally, const char *call, uint32_t port, int32_t code,
           std::initializer_list<int32_t> allowed);

// Adds the port's statistics of its current open to its totals.
void CollectStatistics(SoakState &state, ResultTally &tally, int slot, PortState &port);

}  // namespace tessaly::soak
