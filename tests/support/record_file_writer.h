// Record files written by the tests themselves, from the format as a recorder
// writes it (independently of the library's reader): a 32-byte header, then
// per frame a 16-byte frame header, the access unit and its voice frames.
#pragma once

#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

class RecordFileWriter {
public:
    explicit RecordFileWriter(uint8_t frameRate = 25, bool audio = false) : bytes_(32, 0) {
        std::memcpy(bytes_.data(), "KVRF", 4);
        bytes_[5] = frameRate;
        bytes_[6] = 1;
        bytes_[7] = audio ? 1 : 0;
        bytes_[12] = audio ? 1 : 0;
    }

    // Header byte `offset` set to a value (for damaged headers).
    RecordFileWriter &SetHeaderByte(size_t offset, uint8_t value) {
        bytes_[offset] = value;
        return *this;
    }

    // One record; its time stamp becomes the file's last one.
    RecordFileWriter &Add(const std::vector<uint8_t> &video, bool keyFrame, uint32_t stamp,
                          const std::vector<uint8_t> &audio = {}) {
        const uint32_t length = static_cast<uint32_t>(video.size());
        uint8_t header[16] = {0, 0, 0, 7};
        Put32(header + 4, (keyFrame ? 1u : 0u) | (length & 0x3FFFF) << 2 | static_cast<uint32_t>(audio.size()) << 20);
        Put32(header + 8, stamp);
        header[12] = static_cast<uint8_t>(length >> 18);
        bytes_.insert(bytes_.end(), header, header + 16);
        bytes_.insert(bytes_.end(), video.begin(), video.end());
        bytes_.insert(bytes_.end(), audio.begin(), audio.end());
        Put32(bytes_.data() + 14, stamp);
        return *this;
    }

    RecordFileWriter &Garbage(size_t count, uint8_t value = 0x5A) {
        bytes_.insert(bytes_.end(), count, value);
        return *this;
    }

    // Pads with zero bytes (never a frame header) to at least `size` bytes.
    RecordFileWriter &PadTo(size_t size) {
        if (bytes_.size() < size) bytes_.resize(size, 0);
        return *this;
    }

    size_t Size() const { return bytes_.size(); }
    const std::vector<uint8_t> &Bytes() const { return bytes_; }

    void Write(const std::string &path) const {
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char *>(bytes_.data()), static_cast<std::streamsize>(bytes_.size()));
    }

private:
    static void Put32(uint8_t *p, uint32_t v) {
        for (int k = 0; k < 4; ++k) p[k] = static_cast<uint8_t>(v >> (8 * k));
    }

    std::vector<uint8_t> bytes_;
};

// Whether an access unit holds an IDR slice (a recorder marks those key frames).
inline bool HoldsIdr(const std::vector<uint8_t> &unit) {
    for (size_t k = 0; k + 3 < unit.size(); ++k)
        if (unit[k] == 0 && unit[k + 1] == 0 && unit[k + 2] == 1 && (unit[k + 3] & 0x1F) == 5) return true;
    return false;
}
