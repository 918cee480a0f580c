// Record files (.kvr) on the command line: recognised by their extension or
// their "KVRF" magic and checked by their header only, since the port reads
// them from disk itself.
#pragma once

#include <string>

#include "camera_file.h"

namespace tessaly::play {

// True for a path ending in .kvr or a file that starts with the magic.
bool IsRecordFile(const std::string &path);

// Fills `file` from the header (path, picture size, frame rate, recordFile).
// On a file the port would refuse returns false with a one-line reason.
bool LoadRecordFile(const std::string &path, CameraFile *file, std::string *error);

}  // namespace tessaly::play
