// The tool's one way of saying something went wrong, or nearly.
#pragma once

#include <cstdio>
#include <string>

namespace tessaly::tools::rec {

inline int Fail(const std::string &message) {
    std::fprintf(stderr, "tessaly-rec: %s\n", message.c_str());
    return 1;
}

inline void Warn(const std::string &message) { std::fprintf(stderr, "tessaly-rec: warning: %s\n", message.c_str()); }

}  // namespace tessaly::tools::rec
