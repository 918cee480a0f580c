// A file opened for reading while others may read and write it (a recorder
// may still be appending), with 32-bit offsets: record files stay below
// 4 GiB. Reads report failure instead of throwing.
//
// Tests reach the read path through a fault seam: a hook that may fail any
// read of any file, so damaged media can be played without a mock of the
// readers above.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace tessaly::platform {

class ReadOnlyFile {
public:
    ReadOnlyFile() = default;
    ~ReadOnlyFile() { Close(); }
    ReadOnlyFile(const ReadOnlyFile &) = delete;
    ReadOnlyFile &operator=(const ReadOnlyFile &) = delete;

    bool Open(const char *path);
    void Close();
    bool IsOpen() const { return fd_ >= 0; }

    // The length at open (a file longer than 4 GiB - 1 reports that much).
    uint32_t Length() const { return length_; }
    uint32_t Position() const { return position_; }
    // Moves to an absolute offset (beyond the end is allowed: reads then
    // return 0 bytes).
    void Seek(uint32_t offset) { position_ = offset; }

    // Reads up to `size` bytes at the position and advances by what came:
    // the count (short at the end of the file), or -1 on a read error (the
    // position then stays).
    int64_t Read(void *buffer, uint32_t size);

    // The fault seam: while set, every read first asks the hook (path, offset,
    // size); true makes that read fail. Null removes it.
    using ReadFault = std::function<bool(const std::string &path, uint32_t offset, uint32_t size)>;
    static void SetReadFault(ReadFault hook);

private:
    int fd_ = -1;
    uint32_t length_ = 0;
    uint32_t position_ = 0;
    std::string path_;
};

}  // namespace tessaly::platform
