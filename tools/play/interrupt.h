// Ctrl-C and SIGTERM end a run the same way as q: the summary is still printed.
#pragma once

#include <csignal>

namespace tessaly::play {

inline volatile std::sig_atomic_t gInterrupted = 0;

inline void CatchInterrupts() {
    struct sigaction action {};
    action.sa_handler = [](int) { gInterrupted = 1; };
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

}  // namespace tessaly::play
