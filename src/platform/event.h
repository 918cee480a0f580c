// Events: a signalled flag that threads wait for, on a mutex and condition
// variable.
//
// A manual-reset event stays signalled until Reset(); every waiter passes. An
// auto-reset event lets exactly one waiter through per Set() and clears itself
// as that waiter passes; Sets that arrive while it is already signalled merge.
// WaitAny() waits for the first of several events, in the order given.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

namespace tessaly::platform {

class Event;

// One waiting thread's wake-up channel, registered with every event it waits for.
class EventWaiter {
public:
    std::mutex mutex;
    std::condition_variable cv;
    bool woken = false;
};

class Event {
public:
    explicit Event(bool manualReset, bool initiallySet = false);
    ~Event();
    Event(const Event &) = delete;
    Event &operator=(const Event &) = delete;

    void Set();
    void Reset();
    bool IsSet() const;

    // True when the event was signalled within the time-out (and, for an
    // auto-reset event, consumed by this waiter).
    bool Wait(std::chrono::milliseconds timeout = kInfinite);

    static constexpr std::chrono::milliseconds kInfinite{-1};

private:
    friend int WaitAny(Event *const *events, int count, std::chrono::milliseconds timeout);

    // With mutex_ held: consume a signal if there is one.
    bool TryConsumeLocked();

    const bool manualReset_;
    mutable std::mutex mutex_;
    bool signalled_;
    std::vector<EventWaiter *> waiters_;  // reserved at construction; grows only past 8 concurrent waiters
};

// Waits until one of the events is signalled; returns its index (the lowest
// one when several are), or -1 on time-out.
int WaitAny(Event *const *events, int count, std::chrono::milliseconds timeout = Event::kInfinite);

}  // namespace tessaly::platform
