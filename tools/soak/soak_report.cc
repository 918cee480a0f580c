#include "soak_report.h"

#include <cinttypes>
#include <map>
#include <string>

namespace tessaly::soak {

void PrintPortTable(const SoakState &state, std::FILE *out) {
    std::fprintf(out, "%4s %5s %5s %5s %5s %9s %8s %9s %9s %8s %9s %10s  %s\n", "port", "live", "file", "FT", "raw",
                 "received", "refused", "decoded", "shown", "damaged", "callbacks", "last size", "last stream");
    PortTotals all;
    uint64_t callbacks = 0;
    for (const PortState &port : state.ports) {
        const PortTotals &t = port.totals;
        const uint64_t called = state.callbacks[port.port].load(std::memory_order_relaxed);
        char size[24];
        std::snprintf(size, sizeof size, "%ux%u", t.width, t.height);
        std::fprintf(out,
                     "%4u %5u %5u %5u %5u %9" PRIu64 " %8" PRIu64 " %9" PRIu64 " %9" PRIu64 " %8" PRIu64 " %9" PRIu64
                     " %10s  %s\n",
                     port.port, t.opens[0], t.opens[1], t.opens[2], t.opens[3], t.framesReceived, t.framesRefused,
                     t.picturesDecoded, t.picturesShown, t.damagedPictures, called, size, t.lastStream.c_str());
        for (int k = 0; k < kPortKinds; ++k) all.opens[size_t(k)] += t.opens[size_t(k)];
        all.framesReceived += t.framesReceived;
        all.framesRefused += t.framesRefused;
        all.picturesDecoded += t.picturesDecoded;
        all.picturesShown += t.picturesShown;
        all.damagedPictures += t.damagedPictures;
        callbacks += called;
    }
    std::fprintf(out,
                 " all %5u %5u %5u %5u %9" PRIu64 " %8" PRIu64 " %9" PRIu64 " %9" PRIu64 " %8" PRIu64 " %9" PRIu64 "\n",
                 all.opens[0], all.opens[1], all.opens[2], all.opens[3], all.framesReceived, all.framesRefused,
                 all.picturesDecoded, all.picturesShown, all.damagedPictures, callbacks);
}

void PrintResultTally(const ResultTally &tally, std::FILE *out) {
    // The same name may come from several literals: merged by text.
    std::map<std::pair<std::string, int32_t>, uint64_t> byName;
    for (const auto &[key, count] : tally) byName[{key.first, key.second}] += count;
    std::fprintf(out, "calls and their results:\n");
    for (const auto &[key, count] : byName)
        std::fprintf(out, "  %-30s %5d  x %" PRIu64 "\n", key.first.c_str(), key.second, count);
}

}  // namespace tessaly::soak
