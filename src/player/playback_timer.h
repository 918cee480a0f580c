// The library-wide pacing timer: a 2 ms periodic source that calls up to 64
// registered clients, each at its own period. The clock counts ticks, not
// real time, so a client of period P fires every ceil(P / base) ticks however
// late the thread runs.
#pragma once

#include <array>
#include <cstdint>

#include "platform/periodic_ticker.h"
#include "platform/recursive_lock.h"

namespace tessaly::player {

class PlaybackTimer {
public:
    using Callback = void (*)(int clientIndex, void *user);
    static constexpr int kMaxClients = 64;

    PlaybackTimer() = default;
    ~PlaybackTimer() { Stop(); }

    // Starts the periodic source with the base period (ms); false when it
    // cannot be started (then no client ever fires).
    bool Start(uint32_t basePeriodMs);
    // Starts the source again at the base period if it is not running (its
    // thread could not be had before); true when it runs. Callers may race.
    bool EnsureRunning();
    // Stops the source and clears every client. Once it returns no tick runs.
    void Stop();
    bool Running() const { return ticker_.Running(); }

    // The lowest free client entry, first firing one period from now; -1 when
    // all 64 are taken.
    int Register(uint32_t periodMs, Callback callback, void *user);
    // Once it returns, the client's callback is not running and will not run.
    void Unregister(int clientIndex);

    // One tick of the source: advances the clock and fires the clients that
    // are due. The periodic thread calls it; tests may call it directly on a
    // timer that is not started.
    void Tick();

    uint32_t Clock() const;
    uint32_t ClientPeriod(int clientIndex) const;

private:
    struct Client {
        bool inUse = false;
        uint32_t period = 0;
        Callback callback = nullptr;
        void *user = nullptr;
        uint32_t lastFiring = 0;
    };

    uint32_t basePeriod_ = 2;
    uint32_t clock_ = 0;  // guarded by lock_
    std::array<Client, kMaxClients> clients_{};
    mutable platform::RecursiveLock lock_;
    platform::PeriodicTicker ticker_;
};

}  // namespace tessaly::player
