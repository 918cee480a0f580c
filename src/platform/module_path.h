// Where this library lives: the directory of the shared object that holds
// this code, with a trailing '/', for loading companion libraries from it.
#pragma once

#include <string>

namespace tessaly::platform {

// Empty when the path cannot be determined.
std::string LibraryDirectory();

}  // namespace tessaly::platform
