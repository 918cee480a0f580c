// tessaly-rec info: what a record file holds and where it is damaged.
#pragma once

#include <string>

namespace tessaly::tools::rec {

// Exit code 0 for a file the library opens (damaged ranges included), 1 with
// a message for one it refuses.
int Info(const std::string &path);

}  // namespace tessaly::tools::rec
