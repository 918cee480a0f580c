// tessaly-rec export: a record file's video, as it is, and its sound in an
// MP4 or Matroska file, through libavformat.
#pragma once

#include <string>

namespace tessaly::tools::rec {

// The process's exit code; messages go to stderr.
int Export(const std::string &inPath, const std::string &outPath);

}  // namespace tessaly::tools::rec
