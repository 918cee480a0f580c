// Diagnostic lines. The library writes them to standard error only when the
// environment variable TESSALY_DEBUG is 1; a test may install a hook that
// receives every line instead.
#pragma once

#include <functional>
#include <string>

namespace tessaly::platform {

void Trace(const char *format, ...) __attribute__((format(printf, 1, 2)));

// Replaces the output (null restores standard error under TESSALY_DEBUG=1).
// The hook is called on whichever thread traces; it must be thread-safe.
void SetTraceHook(std::function<void(const std::string &line)> hook);

}  // namespace tessaly::platform
