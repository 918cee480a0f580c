// Tests reach the paths where address space or a thread cannot be had through
// a fault seam: a hook asked before each reservation, commit and thread start,
// so a whole port can be opened into those failures without a mock of the
// layers above.
#pragma once

#include <functional>

namespace tessaly::platform {

enum class Resource { kReserve, kCommit, kThread };

// While set, ResourceRefused(what) asks the hook; true makes that request
// fail as if the system had refused it. Null removes it.
using ResourceFault = std::function<bool(Resource what)>;
void SetResourceFault(ResourceFault hook);

bool ResourceRefused(Resource what);

}  // namespace tessaly::platform
