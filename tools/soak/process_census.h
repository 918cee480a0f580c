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
    int xConnections = -1;  // sockets connected to an X server's socket; -1: not looked at
    uint64_t residentBytes = 0;

    // Looking at the sockets touches descriptors that other threads may be
    // opening and closing: only when the process is quiet.
    static ProcessCensus Take(bool lookAtSockets);
    std::string ToString() const;
};

}  // namespace tessaly::soak
