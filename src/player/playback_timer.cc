#include "player/playback_timer.h"

#include <chrono>

namespace tessaly::player {

bool PlaybackTimer::Start(uint32_t basePeriodMs) {
    if (basePeriodMs == 0) return false;
    basePeriod_ = basePeriodMs;
    return ticker_.Start(std::chrono::milliseconds(basePeriodMs), [this] { Tick(); });
}

bool PlaybackTimer::EnsureRunning() {
    platform::ScopedLock lock(lock_);
    return ticker_.Running() || ticker_.Start(std::chrono::milliseconds(basePeriod_), [this] { Tick(); });
}

void PlaybackTimer::Stop() {
    ticker_.Stop();
    platform::ScopedLock lock(lock_);
    clients_.fill(Client{});
}

int PlaybackTimer::Register(uint32_t periodMs, Callback callback, void *user) {
    platform::ScopedLock lock(lock_);
    for (int k = 0; k < kMaxClients; ++k) {
        Client &c = clients_[k];
        if (c.inUse) continue;
        c = Client{true, periodMs, callback, user, clock_};
        return k;
    }
    return -1;
}

void PlaybackTimer::Unregister(int clientIndex) {
    if (clientIndex < 0 || clientIndex >= kMaxClients) return;
    platform::ScopedLock lock(lock_);
    clients_[clientIndex] = Client{};
}

void PlaybackTimer::Tick() {
    platform::ScopedLock lock(lock_);
    clock_ += basePeriod_;
    for (int k = 0; k < kMaxClients; ++k) {
        Client &c = clients_[k];
        if (!c.inUse || static_cast<int32_t>(clock_ - c.lastFiring) < static_cast<int32_t>(c.period)) continue;
        c.callback(k, c.user);
        // The callback may not unregister itself (it holds no port lock), so the entry is still ours.
        c.lastFiring = clock_;
    }
}

uint32_t PlaybackTimer::Clock() const {
    platform::ScopedLock lock(lock_);
    return clock_;
}

uint32_t PlaybackTimer::ClientPeriod(int clientIndex) const {
    if (clientIndex < 0 || clientIndex >= kMaxClients) return 0;
    platform::ScopedLock lock(lock_);
    return clients_[clientIndex].inUse ? clients_[clientIndex].period : 0;
}

}  // namespace tessaly::player
