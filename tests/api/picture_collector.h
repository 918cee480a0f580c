// What the decoded-frame callback of a port received: one MD5 per picture
// (over Y, then U, then V, as the reference lists have them) and the last
// picture itself.
#pragma once

#include <chrono>
#include <cstdint>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "md5.h"
#include "tessaly/kova.h"

inline std::vector<std::string> ReadLines(const std::string &path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        if (!line.empty()) lines.push_back(line);
    return lines;
}

struct Collected {
    std::mutex mutex;
    std::vector<std::string> md5s;
    std::vector<uint8_t> last;  // the last picture, for the snapshot check
    int32_t width = 0, height = 0;
};

inline void OnPicture(int32_t format, uint8_t *picture, int32_t size, int32_t width, int32_t height, intptr_t user) {
    auto *c = reinterpret_cast<Collected *>(user);
    // The reference lists one MD5 per picture over Y, then U, then V.
    const size_t bytes = size_t(width) * size_t(height) * 3 / 2;
    Md5 md5;
    md5.Update(picture, bytes);
    std::lock_guard<std::mutex> lock(c->mutex);
    const bool ok = format == KOVA_FORMAT_I420 && size == static_cast<int32_t>(bytes);
    c->md5s.push_back(ok ? md5.HexDigest() : "bad format or size");
    c->last.assign(picture, picture + bytes);
    c->width = width;
    c->height = height;
}

// Waits for count pictures, or until none has come for 10 s (sanitizer
// builds decode large pictures slowly).
inline size_t WaitForPictures(Collected &c, size_t count) {
    using namespace std::chrono_literals;
    size_t seen = 0;
    for (auto lastProgress = std::chrono::steady_clock::now(); std::chrono::steady_clock::now() - lastProgress < 10s;
         std::this_thread::sleep_for(5ms)) {
        std::lock_guard<std::mutex> lock(c.mutex);
        if (c.md5s.size() >= count) break;
        if (c.md5s.size() != seen) lastProgress = std::chrono::steady_clock::now();
        seen = c.md5s.size();
    }
    std::lock_guard<std::mutex> lock(c.mutex);
    return c.md5s.size();
}
