// One host thread of the soak: drives its share of the ports (every port
// whose number modulo the thread count is its index) until told to stop.
#pragma once

#include <random>

#include "soak_state.h"

namespace tessaly::soak {

class HostThread {
public:
    HostThread(SoakState &state, int index);
    void Run();
    const ResultTally &Tally() const { return tally_; }

private:
    template <typename Call>
    int32_t Watch(const char *name, uint32_t port, Call call) {
        return state_.watchdog.Watch(index_, name, port, call);
    }
    bool Chance(double perSecond, double secondsPerStep);

    void Open(PortState &port);
    void Close(PortState &port);
    void Feed(PortState &port);
    void ControlFile(PortState &port);
    void Occasionally(PortState &port);
    void ThreadChores();
    void ReadRecordFile();
    void ToggleVoice();

    SoakState &state_;
    const int index_;
    std::mt19937 random_;
    ResultTally tally_;
    Clock::duration period_;
    Clock::time_point nextChores_{};
    bool voiceOut_ = false, capturing_ = false;
};

}  // namespace tessaly::soak
