// One input file: an H.264 stream, loaded whole and cut into the access
// units a camera would send, with the frame rate to send them at; or a
// record file, which its port reads from disk (see record_file.h).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "annexb_access_units.h"

namespace tessaly::play {

struct CameraFile {
    std::string path;
    bool recordFile = false;  // bytes and accessUnits stay empty
    std::vector<uint8_t> bytes;
    std::vector<tools::ByteRange> accessUnits;
    uint32_t width = 0;
    uint32_t height = 0;
    double fps = 0;
    bool fpsFromStream = false;
};

// Loads and checks `path`. On failure returns false with a one-line reason.
bool LoadCameraFile(const std::string &path, double defaultFps, CameraFile *file, std::string *error);

}  // namespace tessaly::play
