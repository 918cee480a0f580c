// tessaly-soak: the library under a monitoring client's life, compressed.
// See kSoakUsage for what it does; exits 0 only when every check held.
#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "host_thread.h"
#include "process_census.h"
#include "soak_report.h"

namespace fs = std::filesystem;
using namespace tessaly::soak;

namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

// The close time-out plus room for a loaded machine; a sanitized build runs
// several times slower, and 450 threads on two cores starve the X server.
constexpr std::chrono::milliseconds kCallLimit(kSanitized ? 30000 : 15000);

// A copy of a record file with a few stretches overwritten, so that file
// ports also search for frame headers.
bool DamagedCopy(const std::string &path, const std::string &copy) {
    std::ifstream in(path, std::ios::binary);
    Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bytes.size() < 65536) return false;
    std::mt19937 random(11);
    for (int k = 0; k < 6; ++k) {
        const size_t at = 32 + random() % (bytes.size() - 4096);
        for (size_t n = 0; n < 1 + random() % 3000; ++n) bytes[at + n] = uint8_t(random());
    }
    std::ofstream out(copy, std::ios::binary);
    out.write(reinterpret_cast<const char *>(bytes.data()), std::streamsize(bytes.size()));
    return bool(out);
}

Bytes RawPicture() {
    Bytes picture(352 * 288 * 3 / 2);
    for (size_t k = 0; k < picture.size(); ++k) picture[k] = uint8_t(k % 352 + k / 352);
    return picture;
}

// Host threads parked: the ports' figures are kept, then the library goes
// down and comes back up.
void Cycle(SoakState &state, ResultTally &tally, int slot) {
    state.gate.PauseAll();
    for (PortState &port : state.ports) {
        if (port.open && port.kind != PortKind::kRaw) CollectStatistics(state, tally, slot, port);
        port.open = false;
    }
    Check(state, tally, "KOVA_DeInit", 0, state.watchdog.Watch(slot, "KOVA_DeInit", 0, [] { return KOVA_DeInit(); }),
          {KOVA_OK});
    Check(state, tally, "KOVA_Init", 0, state.watchdog.Watch(slot, "KOVA_Init", 0, [] { return KOVA_Init(); }),
          {KOVA_OK});
    state.gate.ResumeAll();
}

void CloseEverything(SoakState &state, ResultTally &tally, int slot) {
    for (PortState &port : state.ports) {
        if (!port.open) continue;
        const uint32_t p = port.port;
        if (port.kind == PortKind::kRaw) {
            Check(state, tally, "KOVA_YUV_Close", p,
                  state.watchdog.Watch(slot, "KOVA_YUV_Close", p, [p] { return KOVA_YUV_Close(p); }), {KOVA_OK});
        } else {
            CollectStatistics(state, tally, slot, port);
            Check(state, tally, "KOVA_Close", p,
                  state.watchdog.Watch(slot, "KOVA_Close", p, [p] { return KOVA_Close(p); }), {KOVA_OK});
        }
        port.open = false;
    }
    Check(state, tally, "KOVA_Voice_StopOutput", 0, KOVA_Voice_StopOutput(), {KOVA_OK});
    Check(state, tally, "KOVA_Voice_StopCapture", 0, KOVA_Voice_StopCapture(), {KOVA_OK});
    state.windows.Close();
}

// The allocator keeps freed pages for reuse; giving them back first lets the
// census see what is really held.
ProcessCensus TrimmedCensus() {
    malloc_trim(0);
    return ProcessCensus::Take(true);
}

bool Same(const char *what, const ProcessCensus &before, const ProcessCensus &after) {
    const bool same = after.threads == before.threads && after.descriptors == before.descriptors &&
                      after.xConnections == before.xConnections;
    std::printf("%s: %s (was %s)%s\n", what, after.ToString().c_str(), before.ToString().c_str(),
                same ? "" : "  <- FAILED: not back");
    return same;
}

}  // namespace

int main(int argc, char **argv) {
    SoakOptions options;
    std::string error;
    if (!ParseSoakOptions(argc, argv, &options, &error)) {
        std::fprintf(error.empty() ? stdout : stderr, "%s%s%s", error.c_str(), error.empty() ? "" : "\n", kSoakUsage);
        return error.empty() ? 0 : 2;
    }
    setenv("SDL_AUDIODRIVER", "dummy", 0);

    SoakState state(options, kCallLimit);
    if (!LoadSoakStreams(options.streams, options.seed, &state.streams, &error)) {
        std::fprintf(stderr, "tessaly-soak: %s\n", error.c_str());
        return 2;
    }
    char scratch[] = "/tmp/tessaly-soak-XXXXXX";
    if (!mkdtemp(scratch)) {
        std::perror("tessaly-soak: mkdtemp");
        return 2;
    }
    state.scratchDirectory = scratch;
    for (size_t k = 0, n = options.recordFiles.size(); k < n; ++k) {
        state.streams.recordFiles.push_back(options.recordFiles[k]);
        const std::string copy = state.scratchDirectory + "/damaged" + std::to_string(k) + ".kvr";
        if (DamagedCopy(options.recordFiles[k], copy)) state.streams.recordFiles.push_back(copy);
    }
    state.rawPicture = RawPicture();
    for (size_t p = 0; p < state.ports.size(); ++p) state.ports[p].port = uint32_t(p);

    const ProcessCensus beforeInit = TrimmedCensus();
    KOVA_Init();
    const ProcessCensus afterInit = TrimmedCensus();
    const bool windows = options.windows && getenv("DISPLAY") && state.windows.Open(16);
    std::printf("soak: %d ports, %d host threads, %.0f s, %zu streams (%zu variants), %zu record files, %s\n",
                options.ports, options.threads, options.seconds, options.streams.size(), state.streams.live.size(),
                state.streams.recordFiles.size(), windows ? "16 windows" : "no windows");
    std::printf("after KOVA_Init: %s\n", afterInit.ToString().c_str());
    std::fflush(stdout);

    std::vector<HostThread> hosts;
    for (int k = 0; k < options.threads; ++k) hosts.emplace_back(state, k);
    std::vector<std::thread> threads;
    for (HostThread &host : hosts) threads.emplace_back([&host] { host.Run(); });

    ResultTally mainTally;
    const int mainSlot = options.threads;
    const Clock::time_point start = Clock::now();
    const auto runFor = std::chrono::duration<double>(options.seconds);
    Clock::time_point nextCycle =
        start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(options.cycleSeconds));
    Clock::time_point nextReport = start + std::chrono::seconds(10);
    // Resident memory is sampled every second; the peak of the second
    // quarter (ports opened and grown to their streams) is compared with the
    // peak of the last, so that a creeping leak shows and a cycle's dip does not.
    uint64_t earlyPeak = 0, latePeak = 0;
    Clock::time_point nextSample = start;
    while (Clock::now() - start < runFor) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        const Clock::time_point now = Clock::now();
        if (now >= nextSample) {
            const double part = std::chrono::duration<double>(now - start) / runFor;
            const uint64_t resident = ProcessCensus::Take(false).residentBytes;
            if (part > 0.25 && part <= 0.5) earlyPeak = std::max(earlyPeak, resident);
            if (part > 0.75) latePeak = std::max(latePeak, resident);
            nextSample += std::chrono::seconds(1);
        }
        if (options.cycleSeconds > 0 && now >= nextCycle && now - start < runFor * 0.9) {
            Cycle(state, mainTally, mainSlot);
            nextCycle = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                           std::chrono::duration<double>(options.cycleSeconds));
        }
        if (now >= nextReport) {
            const ProcessCensus census = ProcessCensus::Take(false);
            std::printf("%4.0f s: %" PRIu64 " calls, longest %" PRId64 " ms (%s); %s\n",
                        std::chrono::duration<double>(now - start).count(), state.watchdog.Calls(),
                        state.watchdog.LongestMillis(), state.watchdog.LongestCall(), census.ToString().c_str());
            std::fflush(stdout);
            nextReport += std::chrono::seconds(10);
        }
    }
    state.stop = true;
    for (std::thread &thread : threads) thread.join();

    CloseEverything(state, mainTally, mainSlot);
    const ProcessCensus closed = TrimmedCensus();
    KOVA_DeInit();
    const ProcessCensus deinit = TrimmedCensus();
    KOVA_Init();
    const ProcessCensus reinit = TrimmedCensus();
    KOVA_DeInit();

    std::FILE *table = options.summaryPath.empty() ? stdout : std::fopen(options.summaryPath.c_str(), "w");
    PrintPortTable(state, table ? table : stdout);
    if (table && table != stdout) std::fclose(table);
    ResultTally tally = mainTally;
    for (const HostThread &host : hosts) {
        for (const auto &[key, count] : host.Tally()) tally[key] += count;
    }
    PrintResultTally(tally, stdout);
    fs::remove_all(state.scratchDirectory);

    bool passed = true;
    std::printf("calls: %" PRIu64 ", longest %" PRId64 " ms (%s), limit %lld ms\n", state.watchdog.Calls(),
                state.watchdog.LongestMillis(), state.watchdog.LongestCall(),
                static_cast<long long>(kCallLimit.count()));
    std::printf("all ports closed, still initialised: %s\n", closed.ToString().c_str());
    passed &= Same("after KOVA_DeInit", beforeInit, deinit);
    passed &= Same("after KOVA_Init again", afterInit, reinit);
    // What stays resident once everything is closed is the allocator's cache
    // of small blocks and the one-time tables of the libraries loaded on the
    // way (FFmpeg's decoders, the scaler, SDL): bounded, not growing with the
    // length of the run.
    const uint64_t kept =
        reinit.residentBytes > afterInit.residentBytes ? reinit.residentBytes - afterInit.residentBytes : 0;
    const bool keptLittle = kSanitized || kept <= (uint64_t{64} << 20);
    std::printf("resident after closing everything: %+.1f MiB over the first KOVA_Init%s\n", double(kept) / (1 << 20),
                keptLittle ? "" : "  <- FAILED: more than 64 MiB kept");
    passed &= keptLittle;
    const double growth = earlyPeak ? double(latePeak) / double(earlyPeak) - 1 : 0;
    const bool memoryHeld = growth <= 0.10;
    std::printf("resident memory: peak %.1f MiB in the second quarter of the run, %.1f MiB in the last (%+.1f%%)%s\n",
                double(earlyPeak) / (1 << 20), double(latePeak) / (1 << 20), growth * 100,
                memoryHeld   ? ""
                : kSanitized ? " (sanitizer build: not checked)"
                             : "  <- FAILED: grew more than 10%");
    if (!kSanitized) passed &= memoryHeld;
    if (state.unexpected.load() != 0) {
        std::printf("unexpected results: %" PRIu64 "  <- FAILED\n", state.unexpected.load());
        passed = false;
    }
    if (state.badPictures.load() != 0) {
        std::printf("callbacks with inconsistent sizes: %" PRIu64 "  <- FAILED\n", state.badPictures.load());
        passed = false;
    }
    std::printf("soak %s\n", passed ? "passed" : "FAILED");
    return passed ? 0 : 1;
}
