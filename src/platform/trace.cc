#include "platform/trace.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace tessaly::platform {
namespace {

std::mutex &HookMutex() {
    static std::mutex m;
    return m;
}

std::function<void(const std::string &)> &Hook() {
    static std::function<void(const std::string &)> hook;
    return hook;
}

bool DebugEnabled() {
    static const bool enabled = [] {
        const char *v = std::getenv("TESSALY_DEBUG");
        return v && std::strcmp(v, "1") == 0;
    }();
    return enabled;
}

}  // namespace

void Trace(const char *format, ...) {
    char line[256];  // diagnostic lines are short; longer ones are cut
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    std::lock_guard<std::mutex> lock(HookMutex());
    if (Hook()) {
        Hook()(line);
    } else if (DebugEnabled()) {
        std::fprintf(stderr, "tessaly: %s\n", line);
    }
}

void SetTraceHook(std::function<void(const std::string &line)> hook) {
    std::lock_guard<std::mutex> lock(HookMutex());
    Hook() = std::move(hook);
}

}  // namespace tessaly::platform
