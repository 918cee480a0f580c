// A re-entrant lock: the owning thread may take it again (the playback code
// relies on this where a call under a lock calls back into locked code).
#pragma once

#include <mutex>

namespace tessaly::platform {

class RecursiveLock {
public:
    void Lock() { mutex_.lock(); }
    void Unlock() { mutex_.unlock(); }
    bool TryLock() { return mutex_.try_lock(); }

    // BasicLockable, so std::lock_guard and std::unique_lock work too.
    void lock() { Lock(); }
    void unlock() { Unlock(); }

private:
    std::recursive_mutex mutex_;
};

class ScopedLock {
public:
    explicit ScopedLock(RecursiveLock &lock) : lock_(lock) { lock_.Lock(); }
    ~ScopedLock() { lock_.Unlock(); }
    ScopedLock(const ScopedLock &) = delete;
    ScopedLock &operator=(const ScopedLock &) = delete;

private:
    RecursiveLock &lock_;
};

// Lets go of a lock its thread holds once, for the scope, and takes it back.
class ScopedUnlock {
public:
    explicit ScopedUnlock(RecursiveLock &lock) : lock_(lock) { lock_.Unlock(); }
    ~ScopedUnlock() { lock_.Lock(); }
    ScopedUnlock(const ScopedUnlock &) = delete;
    ScopedUnlock &operator=(const ScopedUnlock &) = delete;

private:
    RecursiveLock &lock_;
};

}  // namespace tessaly::platform
