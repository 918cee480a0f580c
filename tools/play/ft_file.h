// FT byte streams on the command line (.ft, or a file that starts with the
// packet marker): loaded whole and cut into packets, each from its marker to
// the next, which the tool hands to an FT port at the frame rate. The file
// carries no timing, so one packet a frame period is the pace.
#pragma once

#include <string>

#include "camera_file.h"

namespace tessaly::play {

// True for a path ending in .ft or a file that starts with the marker.
bool IsFtFile(const std::string &path);

// Fills `file` (bytes, packets, ftRaw, picture size when a packet tells it,
// `fps`). The variant is told by the first payload: right behind the marker
// it is a Raw packet, behind 32 header bytes an FT one. On a file without a
// marker returns false with a one-line reason.
bool LoadFtFile(const std::string &path, double fps, CameraFile *file, std::string *error);

}  // namespace tessaly::play
