#include "record_walk.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tessaly::tools::rec {

RecordFile::~RecordFile() {
    if (bytes_) munmap(const_cast<uint8_t *>(bytes_), size_);
}

bool RecordFile::Open(const std::string &path, std::string &error) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        error = path + ": not a regular file";
        return false;
    }
    size_ = static_cast<uint64_t>(st.st_size);
    if (size_ < recfile::kMinFileBytes) {
        close(fd);
        error = path + ": " + std::to_string(size_) + " bytes; the library refuses record files shorter than " +
                std::to_string(recfile::kMinFileBytes) + " bytes (KOVA_ERR_FILE_SHORT)";
        return false;
    }
    void *map = mmap(nullptr, size_, PROT_READ, MAP_PRIVATE, fd, 0);
    close(fd);
    if (map == MAP_FAILED) {
        error = "cannot map " + path + ": " + std::strerror(errno);
        return false;
    }
    bytes_ = static_cast<const uint8_t *>(map);
    if (recfile::ParseFileHeader(bytes_, &header_) != KOVA_OK) {
        error = path +
                ": not a record file header (magic KVRF, value A 0 or 1, frame rate 1..30 and value B 1 "
                "needed; KOVA_ERR_FILE_HEADER)";
        return false;
    }
    return true;
}

bool RecordFile::RecordFits(uint64_t offset) const {
    if (size_ - offset < recfile::kFrameHeaderBytes) return false;
    const recfile::FrameHeader h = recfile::ParseFrameHeader(bytes_ + offset);
    return h.sync && uint64_t{h.videoLength} + h.audioLength <= size_ - offset - recfile::kFrameHeaderBytes;
}

// The library's search rule (sync, a length field below its limit), and the
// whole record inside the file.
bool RecordFile::LooksLikeRecord(uint64_t offset) const {
    return RecordFits(offset) && recfile::ParseFrameHeader(bytes_ + offset).lengthField < recfile::kSearchLengthLimit;
}

Walk RecordFile::WalkRecords() const {
    Walk walk;
    uint64_t offset = recfile::kFileHeaderBytes;
    while (offset < size_) {
        if (RecordFits(offset)) {
            Record r;
            r.offset = offset;
            r.header = recfile::ParseFrameHeader(bytes_ + offset);
            r.video = bytes_ + offset + recfile::kFrameHeaderBytes;
            r.audio = r.video + r.header.videoLength;
            walk.records.push_back(r);
            offset += recfile::kFrameHeaderBytes + r.header.videoLength + r.header.audioLength;
            continue;
        }
        uint64_t next = offset + 1;
        while (next < size_ && !LooksLikeRecord(next)) ++next;
        walk.skipped.push_back({offset, next - offset});
        offset = next;
    }
    return walk;
}

size_t VoiceFrameLength(const uint8_t *frame, size_t left) {
    if (left < 4 || (frame[1] & 3) != 1 || frame[3] != 0) return 0;
    const size_t length = 4 + 2 * size_t{frame[2]};
    return length <= left ? length : 0;
}

}  // namespace tessaly::tools::rec
