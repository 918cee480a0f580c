#include "platform/read_only_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <mutex>

namespace tessaly::platform {

namespace {

// The hook is rarely set and read on every read: a shared pointer swapped
// under a mutex, copied out for the call.
std::mutex faultMutex;
std::shared_ptr<const ReadOnlyFile::ReadFault> fault;

std::shared_ptr<const ReadOnlyFile::ReadFault> CurrentFault() {
    std::lock_guard<std::mutex> lock(faultMutex);
    return fault;
}

}  // namespace

void ReadOnlyFile::SetReadFault(ReadFault hook) {
    auto next = hook ? std::make_shared<const ReadFault>(std::move(hook)) : nullptr;
    std::lock_guard<std::mutex> lock(faultMutex);
    fault = std::move(next);
}

bool ReadOnlyFile::Open(const char *path) {
    Close();
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return false;
    }
    fd_ = fd;
    length_ = info.st_size > 0xFFFFFFFF ? 0xFFFFFFFFu : static_cast<uint32_t>(info.st_size);
    position_ = 0;
    path_ = path;
    return true;
}

void ReadOnlyFile::Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    length_ = position_ = 0;
    path_.clear();
}

int64_t ReadOnlyFile::Read(void *buffer, uint32_t size) {
    if (fd_ < 0) return -1;
    if (const auto hook = CurrentFault(); hook && (*hook)(path_, position_, size)) return -1;
    auto *out = static_cast<uint8_t *>(buffer);
    uint32_t done = 0;
    while (done < size) {
        const ssize_t n = ::pread(fd_, out + done, size - done, static_cast<off_t>(position_) + done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (n == 0) break;
        done += static_cast<uint32_t>(n);
    }
    position_ += done;
    return done;
}

}  // namespace tessaly::platform
