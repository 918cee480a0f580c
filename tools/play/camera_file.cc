#include "camera_file.h"

#include <sys/stat.h>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "h264dec/bitstream/sps_summary.h"
#include "tessaly/kova.h"

namespace tessaly::play {
namespace {

// The port recognises a key frame by the sequence parameter set right at its
// start, behind a four-byte start code. Access unit delimiters carry nothing
// the decoder needs, so a key frame that opens with one is sent from its SPS.
void StartKeyFramesAtSps(const std::vector<uint8_t> &bytes, tools::ByteRange *unit) {
    const size_t end = unit->offset + unit->size;
    tools::NalUnit nal;
    if (!tools::NextNalUnit(bytes.data(), end, unit->offset, &nal) || nal.type != tools::kNalAud) return;
    while (tools::NextNalUnit(bytes.data(), end, nal.withStartCode.offset + nal.withStartCode.size, &nal)) {
        if (nal.type == tools::kNalAud) continue;
        const bool fourByteStart = nal.payload.offset - nal.withStartCode.offset == 4;
        if (nal.type == tools::kNalSps && fourByteStart)
            *unit = {nal.withStartCode.offset, end - nal.withStartCode.offset};
        return;
    }
}

}  // namespace

std::string BaseName(const std::string &path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool ReadWholeFile(const std::string &path, std::vector<uint8_t> *bytes, std::string *error) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) {
        *error = path + ": " + std::strerror(errno);
        return false;
    }
    if (!S_ISREG(info.st_mode)) {
        *error = path + ": not a regular file";
        return false;
    }
    std::FILE *f = std::fopen(path.c_str(), "rb");
    if (!f) {
        *error = path + ": " + std::strerror(errno);
        return false;
    }
    bytes->resize(static_cast<size_t>(info.st_size));
    const size_t got = bytes->empty() ? 0 : std::fread(bytes->data(), 1, bytes->size(), f);
    const bool failed = std::ferror(f) != 0;
    std::fclose(f);
    if (failed || got != bytes->size()) {
        *error = path + ": read error";
        return false;
    }
    return true;
}

bool LoadCameraFile(const std::string &path, double defaultFps, CameraFile *file, std::string *error) {
    file->path = path;
    if (!ReadWholeFile(path, &file->bytes, error)) return false;
    const tools::ByteRange sps = tools::FindFirstSps(file->bytes.data(), file->bytes.size());
    h264::SpsSummary summary;
    if (sps.size == 0 || !h264::ParseSpsSummary(file->bytes.data() + sps.offset, sps.size, &summary)) {
        *error = path + ": not an H.264 stream (no sequence parameter set found)";
        return false;
    }
    file->width = summary.width;
    file->height = summary.height;
    const double streamFps = summary.FrameRate();
    file->fpsFromStream = streamFps >= 0.5 && streamFps <= 240;
    file->fps = file->fpsFromStream ? streamFps : defaultFps;
    file->accessUnits = tools::SplitAccessUnits(file->bytes.data(), file->bytes.size());
    // A port takes frames of up to 3/8 byte per pixel of the coded picture its key frames announce.
    const uint64_t codedArea = uint64_t{summary.codedWidth} * summary.codedHeight;
    const uint64_t frameLimit = std::max<uint64_t>(KOVA_MAX_FRAME_BYTES, codedArea * 3 / 8);
    for (tools::ByteRange &unit : file->accessUnits) {
        StartKeyFramesAtSps(file->bytes, &unit);
        if (unit.size > frameLimit) {
            *error = path + ": an access unit of " + std::to_string(unit.size) +
                     " bytes is longer than a port accepts (" + std::to_string(frameLimit) + ")";
            return false;
        }
    }
    return true;
}

}  // namespace tessaly::play
