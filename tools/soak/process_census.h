// What a long-running host watches for leaks it cannot see from inside the
// library: its threads, open descriptors, connections to X servers and
// resident memory, read from /proc.
#pragma once

#include <cstdint>
#include <string>

namespace tessaly::soak {

struct ProcessCensus {
    int threads = 0;
    int descriptors = 0;
    int xConnections = 0;  // sockets connected to an X server's socket
    uint64_t residentBytes = 0;

    static ProcessCensus Take();
    std::string ToString() const;
};

}  // namespace tessaly::soak
