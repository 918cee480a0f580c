#include "soak_state.h"

#include <cstdio>
#include <mutex>
#include <set>

namespace tessaly::soak {

void PortTotals::Add(const KOVA_PortStatistics &stats) {
    framesReceived += stats.framesReceived;
    framesRefused += stats.framesRefused;
    picturesDecoded += stats.picturesDecoded;
    picturesShown += stats.picturesShown;
    damagedPictures += stats.damagedPictures;
    if (stats.width != 0) {
        width = stats.width;
        height = stats.height;
    }
}

void Check(SoakState &state, ResultTally &tally, const char *call, uint32_t port, int32_t code,
           std::initializer_list<int32_t> allowed) {
    ++tally[{call, code}];
    for (int32_t ok : allowed) {
        if (code == ok) return;
    }
    state.unexpected.fetch_add(1, std::memory_order_relaxed);
    static std::mutex mutex;
    static std::set<std::pair<std::string, int32_t>> reported;  // once per name and code
    std::lock_guard lock(mutex);
    if (reported.insert({call, code}).second)
        std::fprintf(stderr, "soak: FAILED: %s on port %u returned %d\n", call, port, code);
}

void CollectStatistics(SoakState &state, ResultTally &tally, int slot, PortState &port) {
    KOVA_PortStatistics stats{};
    stats.size = sizeof stats;
    const int32_t code = state.watchdog.Watch(slot, "KOVA_GetPortStatistics", port.port,
                                              [&] { return KOVA_GetPortStatistics(port.port, &stats); });
    Check(state, tally, "KOVA_GetPortStatistics", port.port, code, {KOVA_OK});
    if (code == KOVA_OK) port.totals.Add(stats);
}

}  // namespace tessaly::soak
