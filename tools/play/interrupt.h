// Ctrl-C and SIGTERM end a run the same way as q: the summary is still printed.
#pragma once

#include <csignal>

namespace tessaly::play {

inline volatile std::sig_atomic_t g_interrupted = 0;

inline void catch_interrupts() {
  struct sigaction action {};
  action.sa_handler = [](int) { g_interrupted = 1; };
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

}  // namespace tessaly::play
