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
class ScannerHarness {
public:
    explicit ScannerHarness(uint32_t capacity = 256) : storage_(capacity + 16) {
        NalScannerInit(&scanner_, storage_.data(), capacity);
    }
    void Feed(const std::vector<uint8_t> &bytes, size_t piece) {
        for (size_t pos = 0; pos < bytes.size(); pos += piece) {
            const size_t n = std::min(piece, bytes.size() - pos);
            size_t used = 0;
            while (used < n) {
                NalUnit unit;
                used += NalScannerScan(&scanner_, bytes.data() + pos + used, n - used, &unit);
                if (unit.size) {
                    got.units.emplace_back(unit.data, unit.data + unit.size);
                    got.inputBytes.push_back(unit.inputBytes);
                }
            }
        }
    }
    void Finish() { Feed({0, 0, 0, 1}, 4); }
    Collected got;

private:
    std::vector<uint8_t> storage_;
    NalScanner scanner_;
};

Collected ScanAll(const std::vector<uint8_t> &bytes, size_t piece, uint32_t capacity = 256) {
    ScannerHarness h(capacity);
    h.Feed(bytes, piece);
    h.Finish();
    return h.got;
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

TEST(NalScanner, IgnoresBytesBeforeTheFirstStartCode) {
    // Garbage including a lone 00 00 03 and 00 00 02 before the stream starts.
    const std::vector<uint8_t> stream = {0x12, 0, 0, 3, 0x7F, 0, 0, 2, 0xFF, 0, 0, 1, 0x41, 0x9A, 0x80};
    const Collected c = ScanAll(stream, 1);
    ASSERT_EQ(c.units.size(), 1u);
    EXPECT_EQ(c.units[0], (std::vector<uint8_t>{0x41, 0x9A, 0x80}));
}

TEST(NalScanner, DropsUnitsWithoutTwoPayloadBytes) {
    // A header alone, a header with one payload byte, then a real unit.
    const std::vector<uint8_t> stream = {0, 0, 1, 0x09, 0, 0, 1, 0x09, 0xF0, 0, 0, 1, 0x06, 0xE0, 0x01};
    const Collected c = ScanAll(stream, stream.size());
    ASSERT_EQ(c.units.size(), 1u);
    EXPECT_EQ(c.units[0], (std::vector<uint8_t>{0x06, 0xE0, 0x01}));
}

TEST(NalScanner, DropsOverLongUnitsAndResynchronises) {
    std::vector<uint8_t> stream = {0, 0, 1, 0x65};
    for (int i = 0; i < 100; ++i) stream.push_back(0x55);  // longer than the 64-byte buffer
    const std::vector<uint8_t> tail = {0, 0, 1, 0x41, 0x22, 0x80, 0, 0, 1, 0x41, 0x33, 0x80};
    stream.insert(stream.end(), tail.begin(), tail.end());
    const Collected c = ScanAll(stream, 7, 64);
    // The over-long unit is gone; scanning resumes at the next start code.
    ASSERT_EQ(c.units.size(), 2u);
    EXPECT_EQ(c.units[0], (std::vector<uint8_t>{0x41, 0x22, 0x80}));
    EXPECT_EQ(c.units[1], (std::vector<uint8_t>{0x41, 0x33, 0x80}));
}

TEST(NalScanner, UnitThatExactlyFillsTheBufferIsKept) {
    // 61 unit bytes + the 3 start-code bytes that close it = 64 stored bytes.
    std::vector<uint8_t> stream = {0, 0, 1, 0x41};
    for (int i = 0; i < 59; ++i) stream.push_back(0x5A);
    stream.push_back(0x80);
    const std::vector<uint8_t> tail = {0, 0, 1, 0x41, 0x33, 0x80};
    stream.insert(stream.end(), tail.begin(), tail.end());
    const Collected c = ScanAll(stream, 1, 64);
    ASSERT_EQ(c.units.size(), 2u);
    EXPECT_EQ(c.units[0].size(), 61u);
    EXPECT_EQ(c.units[0].back(), 0x80);
}

}  // namespace
