#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "h264dec/bitstream/nal_scanner.h"

using namespace tessaly::h264;

namespace {

struct Collected {
    std::vector<std::vector<uint8_t>> units;
    std::vector<uint32_t> inputBytes;
};

// Feeds `stream` in pieces of `piece` bytes, then a closing start code.
Collected ScanAll(const std::vector<uint8_t> &stream, size_t piece, uint32_t capacity = 256) {
    std::vector<uint8_t> storage(capacity + 16);
    NalScanner scanner;
    NalScannerInit(&scanner, storage.data(), capacity);
    Collected got;
    auto feed = [&](const std::vector<uint8_t> &bytes, size_t step) {
        for (size_t pos = 0; pos < bytes.size(); pos += step) {
            const size_t n = std::min(step, bytes.size() - pos);
            for (size_t used = 0; used < n;) {
                NalUnit unit;
                used += NalScannerScan(&scanner, bytes.data() + pos + used, n - used, &unit);
                if (unit.size) {
                    got.units.emplace_back(unit.data, unit.data + unit.size);
                    got.inputBytes.push_back(unit.inputBytes);
                }
            }
        }
    };
    feed(stream, piece);
    feed({0, 0, 0, 1}, 4);
    return got;
}

TEST(NalScanner, RemovesEmulationPreventionBytes) {
    const std::vector<uint8_t> stream = {0, 0, 1, 0x65, 0x11, 0, 0, 3, 0, 0, 3, 0x22, 0, 0, 3, 1, 0x80};
    for (size_t piece : {size_t(1), size_t(2), size_t(3), size_t(5), stream.size()}) {
        const Collected c = ScanAll(stream, piece);
        ASSERT_EQ(c.units.size(), 1u) << piece;
        EXPECT_EQ(c.units[0], (std::vector<uint8_t>{0x65, 0x11, 0, 0, 0, 0, 0x22, 0, 0, 1, 0x80})) << piece;
        // Input bytes: the unit with its three removed bytes plus the closing 00 00 00 01.
        EXPECT_EQ(c.inputBytes[0], 14u + 4u) << piece;
    }
}

std::vector<uint8_t> Concat(std::vector<uint8_t> a, const std::vector<uint8_t> &b, size_t repeat = 1) {
    for (size_t i = 0; i < repeat; ++i) a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST(NalScanner, KeepsOnlyWholeUnitsThatFit) {
    const std::vector<uint8_t> unit = {0x41, 0x33, 0x80};
    const std::vector<uint8_t> tail = Concat({0, 0, 1}, unit);
    // 61 unit bytes + the 3 start-code bytes that close it = 64 stored bytes.
    const std::vector<uint8_t> full = Concat(Concat({0x41}, {0x5A}, 59), {0x80});
    struct Case {
        const char *what;
        std::vector<uint8_t> stream;
        size_t piece;
        uint32_t capacity;
        std::vector<std::vector<uint8_t>> units;
    };
    for (const Case &c : {
             // A lone 00 00 03 and 00 00 02 before the stream starts.
             Case{"leading garbage", Concat({0x12, 0, 0, 3, 0x7F, 0, 0, 2, 0xFF}, tail), 1, 256, {unit}},
             Case{"no two payload bytes", Concat({0, 0, 1, 0x09, 0, 0, 1, 0x09, 0xF0}, tail), 64, 256, {unit}},
             // Longer than the buffer: dropped, scanning resumes at the next start code.
             Case{"over-long", Concat(Concat(Concat({0, 0, 1, 0x65}, {0x55}, 100), tail), tail), 7, 64, {unit, unit}},
             Case{"exactly full", Concat(Concat({0, 0, 1}, full), tail), 1, 64, {full, unit}},
         }) {
        EXPECT_EQ(ScanAll(c.stream, c.piece, c.capacity).units, c.units) << c.what;
    }
}

}  // namespace
