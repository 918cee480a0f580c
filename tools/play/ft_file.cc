#include "ft_file.h"

#include <strings.h>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "h264dec/bitstream/sps_summary.h"

namespace tessaly::play {
namespace {

constexpr uint8_t kMarker[8] = {0xFE, 0xFD, 0x02, 0x01, 0xFD, 0xFE, 0x01, 0x02};
constexpr size_t kFtHeaderBytes = 32;
// Without a size from the stream the wall lays its cells out for D1 pictures.
constexpr uint32_t kDefaultWidth = 704, kDefaultHeight = 576;

size_t FindMarker(const std::vector<uint8_t> &bytes, size_t from) {
    if (from >= bytes.size()) return bytes.size();
    const auto at = std::search(bytes.begin() + ptrdiff_t(from), bytes.end(), std::begin(kMarker), std::end(kMarker));
    return size_t(at - bytes.begin());
}

bool StartsPayload(const std::vector<uint8_t> &bytes, size_t at) {
    if (at + 4 > bytes.size()) return false;
    const uint8_t *p = bytes.data() + at;
    return (p[0] == 0 && p[1] == 0 && p[2] == 0 && p[3] == 1) || (p[0] == 0xFF && p[1] == 0xD8);
}

// A JPEG picture's size from its frame header, walking the segments before the scan.
bool JpegSize(const uint8_t *p, size_t size, uint32_t *width, uint32_t *height) {
    for (size_t at = 2; at + 9 <= size && p[at] == 0xFF;) {
        const uint8_t marker = p[at + 1];
        if (marker == 0xDA) return false;
        if (marker >= 0xC0 && marker <= 0xC3) {
            *height = uint32_t(p[at + 5]) << 8 | p[at + 6];
            *width = uint32_t(p[at + 7]) << 8 | p[at + 8];
            return *width > 0 && *height > 0;
        }
        at += 2 + (size_t(p[at + 2]) << 8 | p[at + 3]);
    }
    return false;
}

// An H.264 payload's size from its sequence parameter set: the 8 bytes behind
// the first NAL header byte are not part of the stream.
bool H264Size(const uint8_t *p, size_t size, uint32_t *width, uint32_t *height) {
    if (size <= 13) return false;
    std::vector<uint8_t> unit(p, p + 5);
    unit.insert(unit.end(), p + 13, p + size);
    const tools::ByteRange sps = tools::FindFirstSps(unit.data(), unit.size());
    h264::SpsSummary summary;
    if (sps.size == 0 || !h264::ParseSpsSummary(unit.data() + sps.offset, sps.size, &summary)) return false;
    *width = summary.width;
    *height = summary.height;
    return true;
}

}  // namespace

bool IsFtFile(const std::string &path) {
    if (path.size() > 3 && strcasecmp(path.c_str() + path.size() - 3, ".ft") == 0) return true;
    uint8_t start[sizeof kMarker] = {};
    std::FILE *f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    const bool whole = std::fread(start, 1, sizeof start, f) == sizeof start;
    std::fclose(f);
    return whole && std::memcmp(start, kMarker, sizeof kMarker) == 0;
}

bool LoadFtFile(const std::string &path, double fps, CameraFile *file, std::string *error) {
    file->path = path;
    if (!ReadWholeFile(path, &file->bytes, error)) return false;
    const std::vector<uint8_t> &bytes = file->bytes;
    size_t marker = FindMarker(bytes, 0);
    if (marker == bytes.size()) {
        *error = path + ": not an FT byte stream (no packet marker found)";
        return false;
    }
    file->ftStream = true;
    file->ftRaw = StartsPayload(bytes, marker + sizeof kMarker);
    file->fps = fps;
    const size_t header = sizeof kMarker + (file->ftRaw ? 0 : kFtHeaderBytes);
    // As the port cuts them: the header is not searched, nor the payload's first byte.
    while (marker < bytes.size()) {
        const size_t payload = marker + header;
        const size_t next = FindMarker(bytes, payload + 1);
        file->accessUnits.push_back({marker, next - marker});
        if (file->width == 0 && payload < next) {
            const uint8_t *p = bytes.data() + payload;
            const size_t size = next - payload;
            if (!(p[0] == 0xFF ? JpegSize(p, size, &file->width, &file->height)
                               : H264Size(p, size, &file->width, &file->height)))
                file->width = file->height = 0;
        }
        marker = next;
    }
    if (file->width == 0) {
        file->width = kDefaultWidth;
        file->height = kDefaultHeight;
    }
    return true;
}

}  // namespace tessaly::play
