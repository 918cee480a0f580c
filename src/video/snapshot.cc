#include "video/snapshot.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>
#include <span>
#include <string>

#include "tessaly/kova.h"

namespace tessaly::video {
namespace {

// floor(a x 8 x k / 65536): the high half of a signed 16 x 16-bit product.
inline int Scale(int a, int k) { return (static_cast<int16_t>(a * 8) * k) >> 16; }

inline uint8_t Clamp(int v) { return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); }

void PutLe16(uint8_t *p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
void PutLe32(uint8_t *p, uint32_t v) {
    PutLe16(p, v);
    PutLe16(p + 2, v >> 16);
}

struct Chunk {
    const uint8_t *data;
    size_t size;
};

// Every byte written and the file closed without error (a full disk or a
// file-size limit may only show at close).
bool WriteAndClose(int fd, std::span<const Chunk> chunks) {
    bool written = true;
    for (const Chunk &chunk : chunks) {
        for (size_t done = 0; written && done < chunk.size;) {
            const ssize_t n = write(fd, chunk.data + done, chunk.size - done);
            if (n > 0)
                done += static_cast<size_t>(n);
            else if (n == 0 || errno != EINTR)
                written = false;
        }
    }
    return close(fd) == 0 && written;
}

// A name in the target's directory, unique to this process and call, of a
// fixed length whatever the target's name.
std::atomic<uint32_t> temporarySerial{0};

std::string TemporarySibling(const std::string &path) {
    const size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    return dir + ".snapshot-" + std::to_string(getpid()) + "-" + std::to_string(temporarySerial.fetch_add(1)) + ".tmp";
}

}  // namespace

void YuvToBgr(uint8_t y, uint8_t u, uint8_t v, uint8_t bgr[3]) {
    const int ys = y > 16 ? y - 16 : 0, us = u - 128, vs = v - 128;
    const int l = Scale(ys, 9576);
    bgr[0] = Clamp(l + Scale(us, 16591));
    bgr[1] = Clamp(l + (Scale(us, -3218) + Scale(vs, -6686)));
    bgr[2] = Clamp(l + Scale(vs, 13123));
}

void ConvertToBgrBottomUp(const SnapshotPicture &p, uint8_t *out) {
    const size_t rowBytes = size_t{p.width} * 3;
    for (uint32_t r = 0; r < p.height; ++r) {
        const uint8_t *y = p.y + size_t{r} * p.yStride;
        const uint8_t *u = p.u + size_t{r / 2} * p.uvStride;
        const uint8_t *v = p.v + size_t{r / 2} * p.uvStride;
        uint8_t *dst = out + size_t{p.height - 1 - r} * rowBytes;
        for (uint32_t x = 0; x < p.width; ++x) YuvToBgr(y[x], u[x / 2], v[x / 2], dst + 3 * x);
    }
}

int32_t BitmapImage::Convert(const SnapshotPicture &p) {
    pixels_ = platform::AllocatePages(size_t{p.width} * p.height * 3);
    if (!pixels_) return KOVA_ERR_MISSING_OBJECT;
    ConvertToBgrBottomUp(p, pixels_.get());
    width_ = p.width;
    height_ = p.height;
    return KOVA_OK;
}

int32_t BitmapImage::Write(const char *fileName) const {
    const size_t dataBytes = size_t{width_} * height_ * 3;
    uint8_t header[54] = {'B', 'M'};
    PutLe32(header + 2, static_cast<uint32_t>(54 + dataBytes));
    PutLe32(header + 10, 54);
    PutLe32(header + 14, 40);
    PutLe32(header + 18, width_);
    PutLe32(header + 22, height_);
    PutLe16(header + 26, 1);
    PutLe16(header + 28, 24);
    PutLe32(header + 34, static_cast<uint32_t>(dataBytes));

    const Chunk chunks[] = {{header, sizeof header}, {pixels_.get(), dataBytes}};
    struct stat target {};
    if (stat(fileName, &target) == 0 && !S_ISREG(target.st_mode)) {
        // A device or pipe is written in place, never replaced or unlinked; a
        // pipe nobody reads is refused rather than waited for.
        const int fd = open(fileName, O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        return fd >= 0 && WriteAndClose(fd, chunks) ? KOVA_OK : KOVA_ERR_FILE_OPEN;
    }
    // A file is written beside its target (a link's target: the link stays)
    // and renamed over it once complete, so a full disk leaves neither a
    // partial bitmap nor a damaged old one.
    std::string path = fileName;
    struct stat link {};
    if (lstat(fileName, &link) == 0 && S_ISLNK(link.st_mode)) {
        const std::unique_ptr<char, decltype(&std::free)> resolved(realpath(fileName, nullptr), &std::free);
        if (!resolved) return KOVA_ERR_FILE_OPEN;
        path = resolved.get();
    }
    const std::string temporary = TemporarySibling(path);
    const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return KOVA_ERR_FILE_OPEN;
    if (target.st_mode != 0) fchmod(fd, target.st_mode & 07777);
    if (WriteAndClose(fd, chunks) && rename(temporary.c_str(), path.c_str()) == 0) return KOVA_OK;
    unlink(temporary.c_str());
    return KOVA_ERR_FILE_OPEN;
}

int32_t WriteBitmap(const char *fileName, const SnapshotPicture &p) {
    BitmapImage image;
    const int32_t rc = image.Convert(p);
    return rc != KOVA_OK ? rc : image.Write(fileName);
}

}  // namespace tessaly::video
