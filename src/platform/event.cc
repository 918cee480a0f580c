#include "platform/event.h"

#include <algorithm>

namespace tessaly::platform {

Event::Event(bool manualReset, bool initiallySet) : manualReset_(manualReset), signalled_(initiallySet) {
    waiters_.reserve(8);
}

Event::~Event() = default;

void Event::Set() {
    std::lock_guard<std::mutex> lock(mutex_);
    signalled_ = true;
    for (EventWaiter *w : waiters_) {
        std::lock_guard<std::mutex> wake(w->mutex);
        w->woken = true;
        w->cv.notify_one();
    }
}

void Event::Reset() {
    std::lock_guard<std::mutex> lock(mutex_);
    signalled_ = false;
}

bool Event::IsSet() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return signalled_;
}

bool Event::TryConsumeLocked() {
    if (!signalled_) return false;
    if (!manualReset_) signalled_ = false;
    return true;
}

bool Event::Wait(std::chrono::milliseconds timeout) {
    Event *self = this;
    return WaitAny(&self, 1, timeout) == 0;
}

int WaitAny(Event *const *events, int count, std::chrono::milliseconds timeout) {
    const bool infinite = timeout.count() < 0;
    const auto deadline = std::chrono::steady_clock::now() + (infinite ? std::chrono::milliseconds(0) : timeout);
    EventWaiter waiter;
    for (;;) {
        // Check and register under each event's lock, so a Set() that comes
        // after the check always finds this waiter.
        int ready = -1;
        int registered = 0;
        for (; registered < count; ++registered) {
            Event *e = events[registered];
            std::lock_guard<std::mutex> lock(e->mutex_);
            if (e->TryConsumeLocked()) {
                ready = registered;
                break;
            }
            e->waiters_.push_back(&waiter);
        }
        if (ready < 0) {
            std::unique_lock<std::mutex> lock(waiter.mutex);
            if (infinite)
                waiter.cv.wait(lock, [&] { return waiter.woken; });
            else
                waiter.cv.wait_until(lock, deadline, [&] { return waiter.woken; });
            waiter.woken = false;
        }
        for (int k = 0; k < registered; ++k) {
            Event *e = events[k];
            std::lock_guard<std::mutex> lock(e->mutex_);
            e->waiters_.erase(std::find(e->waiters_.begin(), e->waiters_.end(), &waiter));
        }
        if (ready >= 0) return ready;
        if (!infinite && std::chrono::steady_clock::now() >= deadline) {
            // One last look: a signal may have raced the deadline.
            for (int k = 0; k < count; ++k) {
                std::lock_guard<std::mutex> lock(events[k]->mutex_);
                if (events[k]->TryConsumeLocked()) return k;
            }
            return -1;
        }
        // Woken: another waiter may have taken an auto-reset signal; look again.
    }
}

}  // namespace tessaly::platform
