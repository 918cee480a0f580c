#include "windowed_run.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <optional>

#include "interrupt.h"
#include "port_labels.h"
#include "stats_readout.h"
#include "x11_wall.h"

namespace tessaly::play {
namespace {

constexpr auto kSettle = std::chrono::milliseconds(150);

void SnapshotPort(const Options &options, uint32_t port) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char name[80];
    std::snprintf(name, sizeof name, "/tessaly-port%03u-%04d%02d%02d-%02d%02d%02d.bmp", port, local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    const std::string path = options.outDir + name;
    const int32_t result = KOVA_Snapshot(port, path.c_str());
    if (result == KOVA_OK) {
        std::printf("snapshot %s\n", path.c_str());
    } else {
        std::fprintf(stderr, "tessaly-play: snapshot of port %u failed (error %d)\n", port, result);
    }
    std::fflush(stdout);
}

std::optional<FilePort::Control> FileControlFor(X11Wall::Request request) {
    using Request = X11Wall::Request;
    using Control = FilePort::Control;
    switch (request) {
    case Request::kTogglePause: return Control::kTogglePause;
    case Request::kStep: return Control::kStep;
    case Request::kFaster: return Control::kFaster;
    case Request::kSlower: return Control::kSlower;
    case Request::kSeekBack: return Control::kSeekBack;
    case Request::kSeekForward: return Control::kSeekForward;
    default: return std::nullopt;
    }
}

// The cameras' states are in the title too: the labels are drawn on
// pictures, and a camera that is not sending has none to draw them on.
std::string WindowTitle(const PlaybackSession &session) {
    std::string title = "tessaly-play: " + session.file(0).path;
    if (session.PortCount() > 1) title += " (+" + std::to_string(session.PortCount() - 1) + ")";
    char state[64];
    for (size_t port = 0; port < session.PortCount(); ++port)
        if (session.FormatSourceState(port, state, sizeof state)) title += " | " + std::to_string(port) + ": " + state;
    return title;
}

}  // namespace

int RunWindowed(const Options &options, PlaybackSession &session) {
    using Clock = std::chrono::steady_clock;
    std::string error;
    const CameraFile &first = session.file(0);
    std::string title = WindowTitle(session);
    std::unique_ptr<X11Wall> wall = X11Wall::Open(session.PortCount(), first.width, first.height, title, &error);
    if (!wall) {
        std::fprintf(stderr, "tessaly-play: %s\n", error.c_str());
        return 1;
    }
    std::vector<KOVA_HWND> windows;
    for (size_t i = 0; i < session.PortCount(); ++i) windows.push_back(wall->CellWindow(i));
    if (!session.OpenPorts(windows, &error)) {
        std::fprintf(stderr, "tessaly-play: %s\n", error.c_str());
        return 1;
    }
    const auto end =
        Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(options.duration));
    session.Start(false);
    std::optional<PortLabels> labels;
    if (options.osd != 0) labels.emplace(session);
    Clock::time_point readoutDue = Clock::time_point::max();
    auto statsDue = Clock::now() + std::chrono::seconds(1);
    while (!gInterrupted) {
        if (labels) labels->Update();
        if (std::string now = WindowTitle(session); now != title) {
            title = std::move(now);
            wall->SetTitle(title);
        }
        uint32_t port = 0;
        const X11Wall::Request request = wall->Pump(20, &port);
        if (request == X11Wall::Request::kQuit) break;
        if (request == X11Wall::Request::kSnapshot) SnapshotPort(options, port);
        const std::optional<FilePort::Control> control = FileControlFor(request);
        // The new state is printed once a step or seek has had time to show its picture.
        if (control && session.ControlFiles(*control)) readoutDue = Clock::now() + kSettle;
        if (Clock::now() >= readoutDue) {
            session.PrintFileStates(stdout);
            readoutDue = Clock::time_point::max();
        }
        if (options.stats && Clock::now() >= statsDue) {
            PrintPortStatistics(stdout, session);
            statsDue += std::chrono::seconds(1);
        }
        session.Poll();
        if (options.duration > 0 && Clock::now() >= end) break;
        if (session.PlayedOut()) break;
    }
    // Ports close before the windows they draw into go away.
    session.Stop();
    wall.reset();
    session.PrintSummary(stdout);
    return 0;
}

}  // namespace tessaly::play
