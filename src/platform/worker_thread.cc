#include "platform/worker_thread.h"

#include <system_error>

#include "platform/resource_fault.h"

namespace tessaly::platform {

WorkerThread::~WorkerThread() {
    if (thread_.joinable()) Stop(std::chrono::milliseconds(10000));
}

bool WorkerThread::Start(std::function<void(Event &stop)> body) {
    if (thread_.joinable() || ResourceRefused(Resource::kThread)) return false;
    // A thread detached by an earlier time-out may still hold the old state.
    if (state_.use_count() > 1) state_ = std::make_shared<State>();
    state_->stop.Reset();
    state_->started.Reset();
    state_->exited.Reset();
    try {
        thread_ = std::thread([state = state_, body = std::move(body)] {
            state->started.Set();
            body(state->stop);
            state->exited.Set();
        });
    } catch (const std::system_error &) {
        return false;
    }
    // The thread's own start-up (the C library's and a sanitizer's per-thread
    // set-up, which may allocate) is over before Start returns, so it never
    // falls into what the owner does next.
    state_->started.Wait(std::chrono::seconds(5));
    return true;
}

bool WorkerThread::Stop(std::chrono::milliseconds timeout) {
    if (!thread_.joinable()) return true;
    state_->stop.Set();
    if (state_->exited.Wait(timeout)) {
        thread_.join();
        return true;
    }
    thread_.detach();
    return false;
}

void WorkerThread::Abandon() {
    if (!thread_.joinable()) return;
    state_->stop.Set();
    thread_.detach();
}

}  // namespace tessaly::platform
