// A worker thread with the stop / exited handshake: the closer signals a
// manual-reset stop event and waits, with a time-out, for the manual-reset
// exited event that the worker signals as its last act.
//
// POSIX cannot end a thread safely from outside. When the wait times out the
// thread is detached instead: it keeps running until it notices the stop
// event, and whatever it touches must stay alive until then (the caller hands
// that state to the thread). A thread that closes itself cannot wait for its
// own end: Abandon lets it finish on its own.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <thread>

#include "platform/event.h"

namespace tessaly::platform {

class WorkerThread {
public:
    WorkerThread() = default;
    ~WorkerThread();
    WorkerThread(const WorkerThread &) = delete;
    WorkerThread &operator=(const WorkerThread &) = delete;

    // Starts body(stopEvent) on a new thread after resetting the events, and
    // returns once the thread runs. The exited event is set when body
    // returns. Returns false if the thread could not be created.
    bool Start(std::function<void(Event &stop)> body);

    // Signals stop and waits for the thread to exit. True when it did in time
    // (the thread is then joined); false when it did not, in which case the
    // thread is detached and left to finish on its own.
    bool Stop(std::chrono::milliseconds timeout);

    // Signals stop and detaches the thread without waiting.
    void Abandon();

    bool Running() const { return thread_.joinable(); }
    bool IsCurrentThread() const { return thread_.get_id() == std::this_thread::get_id(); }
    Event &StopEvent() { return state_->stop; }

private:
    // Shared with the thread so that a detached thread never touches freed events.
    struct State {
        Event stop{true};
        Event started{true};
        Event exited{true};
    };
    std::shared_ptr<State> state_ = std::make_shared<State>();
    std::thread thread_;
};

}  // namespace tessaly::platform
