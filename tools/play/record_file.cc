#include "record_file.h"

#include <strings.h>
#include <sys/stat.h>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "recfile/record_format.h"

namespace tessaly::play {
namespace {

// Reads the file header; false with a reason when the file cannot give one.
bool ReadHeader(const std::string &path, uint8_t (&bytes)[recfile::kFileHeaderBytes], std::string *error) {
    std::FILE *f = std::fopen(path.c_str(), "rb");
    if (!f) {
        *error = path + ": " + std::strerror(errno);
        return false;
    }
    const size_t got = std::fread(bytes, 1, sizeof bytes, f);
    std::fclose(f);
    if (got != sizeof bytes) {
        *error = path + ": read error";
        return false;
    }
    return true;
}

}  // namespace

bool IsRecordFile(const std::string &path) {
    if (path.size() > 4 && strcasecmp(path.c_str() + path.size() - 4, ".kvr") == 0) return true;
    char magic[4] = {};
    std::FILE *f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    const bool whole = std::fread(magic, 1, sizeof magic, f) == sizeof magic;
    std::fclose(f);
    return whole && std::memcmp(magic, "KVRF", 4) == 0;
}

bool LoadRecordFile(const std::string &path, CameraFile *file, std::string *error) {
    file->path = path;
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) {
        *error = path + ": " + std::strerror(errno);
        return false;
    }
    if (!S_ISREG(info.st_mode)) {
        *error = path + ": not a regular file";
        return false;
    }
    if (info.st_size < recfile::kMinFileBytes) {
        *error = path + ": a record file of " + std::to_string(info.st_size) + " bytes (ports take " +
                 std::to_string(recfile::kMinFileBytes) + " or more)";
        return false;
    }
    uint8_t bytes[recfile::kFileHeaderBytes];
    if (!ReadHeader(path, bytes, error)) return false;
    recfile::FileHeader header;
    if (recfile::ParseFileHeader(bytes, &header) != KOVA_OK) {
        *error = path + ": not a record file (bad file header)";
        return false;
    }
    file->recordFile = true;
    file->width = header.width;
    file->height = header.height;
    file->fps = header.frameRate;
    file->fpsFromStream = true;
    return true;
}

}  // namespace tessaly::play
