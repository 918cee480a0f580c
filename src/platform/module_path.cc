#include "platform/module_path.h"

#include <dlfcn.h>

#include <climits>
#include <cstdlib>

namespace tessaly::platform {

std::string LibraryDirectory() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void *>(&LibraryDirectory), &info) == 0 || info.dli_fname == nullptr) return {};
    char resolved[PATH_MAX];
    const std::string path = realpath(info.dli_fname, resolved) ? resolved : info.dli_fname;
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
}

}  // namespace tessaly::platform
