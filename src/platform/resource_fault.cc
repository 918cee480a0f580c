#include "platform/resource_fault.h"

#include <atomic>
#include <memory>
#include <mutex>

namespace tessaly::platform {
namespace {

// Asked on every commit, set only by tests: an atomic flag keeps the unset
// case to one load, the hook itself is copied out under the mutex.
std::atomic<bool> faultSet{false};
std::mutex faultMutex;
std::shared_ptr<const ResourceFault> fault;

}  // namespace

void SetResourceFault(ResourceFault hook) {
    auto next = hook ? std::make_shared<const ResourceFault>(std::move(hook)) : nullptr;
    std::lock_guard<std::mutex> lock(faultMutex);
    faultSet.store(next != nullptr, std::memory_order_relaxed);
    fault = std::move(next);
}

bool ResourceRefused(Resource what) {
    if (!faultSet.load(std::memory_order_relaxed)) return false;
    std::shared_ptr<const ResourceFault> hook;
    {
        std::lock_guard<std::mutex> lock(faultMutex);
        hook = fault;
    }
    return hook && (*hook)(what);
}

}  // namespace tessaly::platform
