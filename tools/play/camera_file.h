// One input file: an H.264 stream, loaded whole and cut into the access
// units a camera would send, with the frame rate to send them at; an FT byte
// stream cut into its packets (see ft_file.h); or a record file, which its
// port reads from disk (see record_file.h).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "annexb_access_units.h"

namespace tessaly::play {

struct CameraFile {
    std::string path;
    bool recordFile = false;  // bytes and accessUnits stay empty
    bool ftStream = false;    // accessUnits are FT packets, each from its marker
    bool ftRaw = false;       // packets without the 32 header bytes
    bool avSource = false;    // read through libavformat by its port's AvSource; bytes stay empty
    bool network = false;     // an AvSource's URL, not a container file
    bool rtspOverUdp = false;
    std::vector<uint8_t> bytes;
    std::vector<tools::ByteRange> accessUnits;
    uint32_t width = 0;
    uint32_t height = 0;
    double fps = 0;
    bool fpsFromStream = false;
};

// Reads a regular file whole. On failure returns false with a one-line reason.
bool ReadWholeFile(const std::string &path, std::vector<uint8_t> *bytes, std::string *error);

// The last part of a path, for summaries and labels.
std::string BaseName(const std::string &path);

// Loads and checks `path`. On failure returns false with a one-line reason.
bool LoadCameraFile(const std::string &path, double defaultFps, CameraFile *file, std::string *error);

}  // namespace tessaly::play
