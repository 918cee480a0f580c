#include "headless_run.h"

#include <chrono>
#include <cstdio>
#include <optional>
#include <thread>

#include "interrupt.h"
#include "port_labels.h"
#include "stats_readout.h"

namespace tessaly::play {
namespace {

constexpr auto kReadoutEvery = std::chrono::seconds(1);

void SnapshotAll(const Options &options, PlaybackSession &session, unsigned round) {
    for (size_t port = 0; port < session.PortCount(); ++port) {
        char name[64];
        std::snprintf(name, sizeof name, "/port%03zu-%04u.bmp", port, round);
        const std::string path = options.outDir + name;
        const int32_t result = KOVA_Snapshot(static_cast<uint32_t>(port), path.c_str());
        if (result == KOVA_OK) {
            std::printf("snapshot %s\n", path.c_str());
        } else if (result != KOVA_ERR_NO_PICTURE) {
            std::fprintf(stderr, "tessaly-play: snapshot %s failed (error %d)\n", path.c_str(), result);
        }
    }
    std::fflush(stdout);
}

}  // namespace

int RunHeadless(const Options &options, PlaybackSession &session) {
    using Clock = std::chrono::steady_clock;
    std::string error;
    if (!session.OpenPorts(std::vector<KOVA_HWND>(session.PortCount(), 0), &error)) {
        std::fprintf(stderr, "tessaly-play: %s\n", error.c_str());
        return 1;
    }
    const auto start = Clock::now();
    const auto every =
        std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(options.snapshotEvery));
    const auto end =
        start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(options.duration));
    auto nextSnapshot = start + every;
    auto nextReadout = start + kReadoutEvery;
    unsigned round = 1;
    // Without windows the record files are stepped in real time.
    session.Start(true);
    // Labels are asked for headless: they cost a call a second per port.
    std::optional<PortLabels> labels;
    if (options.osd == 1) labels.emplace(session);
    while (!gInterrupted) {
        if (labels) labels->Update();
        const auto now = Clock::now();
        if (options.duration > 0 && now >= end) break;
        if (options.snapshotEvery > 0 && now >= nextSnapshot) {
            SnapshotAll(options, session, round++);
            nextSnapshot += every;
        }
        if (now >= nextReadout) {
            session.PrintFileStates(stdout);
            if (options.stats) PrintPortStatistics(stdout, session);
            nextReadout += kReadoutEvery;
        }
        session.Poll();
        if (session.PlayedOut()) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    // The last picture of every port, so a short run still leaves one.
    if (options.snapshotEvery > 0) SnapshotAll(options, session, round);
    session.Stop();
    session.PrintSummary(stdout);
    return 0;
}

}  // namespace tessaly::play
