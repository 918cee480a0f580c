// Minimal MD5 (RFC 1321) for per-picture checksums.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class Md5 {
public:
    Md5();
    void Update(const uint8_t *data, size_t length);
    // Finishes and returns the 32-character lowercase hex digest.
    std::string HexDigest();

private:
    void Block(const uint8_t *block);
    uint32_t state_[4];
    uint64_t totalBytes_ = 0;
    uint8_t buffer_[64];
    size_t buffered_ = 0;
};
