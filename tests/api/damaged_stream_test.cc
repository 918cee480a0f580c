// A live port fed a camera stream damaged on its way: flipped bits in slice
// data, cut and lost access units (P and IDR), and junk between access
// units. The port must keep going, show every picture it still can, count the
// pictures it concealed, and be exact again from the next IDR on.
#include <chrono>
#include <cstdint>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "picture_collector.h"
#include "stream_file.h"
#include "tessaly/kova_stats.h"

using namespace std::chrono_literals;

namespace {

// Three GOPs of 25 CIF pictures, an IDR at 0, 25 and 50, one access unit each.
constexpr const char *kStream = "gen/bl_cavlc_352x288_gop25";
constexpr size_t kGop = 25;

enum class Damage { kFlipBits, kCut, kDrop, kJunkBefore, kJunkUnitBefore };

struct Hit {
    size_t unit;
    Damage damage;
};

// What the damaged stream should show: the pictures kept (by access unit)
// and how many of them the decoder had to conceal.
struct Expected {
    std::vector<size_t> kept;
    uint32_t concealed = 0;
};

// Pushes units one call each, waiting for room instead of letting the port refuse.
void Push(uint32_t port, const std::vector<uint8_t> &unit) {
    uint32_t capacity = 0, fill = 0;
    while (KOVA_GetStreamBufInfo(port, &capacity, &fill) == KOVA_OK && fill != 0 && fill + unit.size() + 1 >= capacity)
        std::this_thread::sleep_for(1ms);
    ASSERT_EQ(KOVA_AddStreamFrame(port, KOVA_FRAME_VIDEO, unit.data(), static_cast<uint32_t>(unit.size())), KOVA_OK);
}

// Applies the hits (with a fixed seed) and pushes the stream, then its first
// access unit twice more, so that every picture of the stream leaves the
// decoder. Returns the port's statistics once all expected pictures came.
KOVA_PortStatistics Play(uint32_t port, const std::vector<std::vector<uint8_t>> &units, const std::vector<Hit> &hits,
                         size_t expectedPictures, Collected &collected) {
    std::mt19937 random(20261207);
    EXPECT_EQ(KOVA_OpenStreamEx(port, 0, 1, 0, &OnPicture, reinterpret_cast<intptr_t>(&collected)), KOVA_OK);
    for (size_t n = 0; n < units.size(); ++n) {
        std::vector<uint8_t> unit = units[n];
        for (const Hit &hit : hits) {
            if (hit.unit != n) continue;
            // Slice data lies past the first tenth of a P unit's single slice.
            const auto inSlice = [&] { return unit.size() / 10 + random() % (unit.size() * 9 / 10); };
            switch (hit.damage) {
            case Damage::kFlipBits:
                for (int k = 0; k < 3; ++k) unit[inSlice()] ^= uint8_t(1u << (random() % 8));
                break;
            case Damage::kCut: unit.resize(unit.size() / 2); break;
            case Damage::kDrop: unit.clear(); break;
            case Damage::kJunkBefore:
            case Damage::kJunkUnitBefore: {
                // Network junk in a call of its own: the tail of the unit before
                // it, or a unit of its own behind a start code.
                std::vector<uint8_t> junk(300);
                for (uint8_t &b : junk) b = uint8_t(1 + random() % 255);
                if (hit.damage == Damage::kJunkUnitBefore) junk.insert(junk.begin(), {0, 0, 0, 1});
                Push(port, junk);
                break;
            }
            }
        }
        if (!unit.empty()) Push(port, unit);
    }
    Push(port, units[0]);
    Push(port, units[0]);
    WaitForPictures(collected, expectedPictures);
    std::this_thread::sleep_for(100ms);  // any surplus picture would come now
    KOVA_PortStatistics stats{};
    stats.size = sizeof stats;
    EXPECT_EQ(KOVA_GetPortStatistics(port, &stats), KOVA_OK);
    return stats;
}

// The stream's units without their access unit delimiters, as a camera sends
// them: a key frame then begins with its sequence parameter set.
std::vector<std::vector<uint8_t>> CameraUnits(const std::string &path) {
    auto units = AccessUnits(ReadFile(path));
    for (auto &unit : units)
        if (unit.size() > 10 && (unit[4] & 0x1F) == 9) unit.erase(unit.begin(), unit.begin() + 6);
    return units;
}

TEST(DamagedLiveStream, KeepsWhatItCanCountsConcealmentAndRecoversAtTheNextIdr) {
    const std::string base = std::string(TESSALY_TESTDATA) + "/h264/" + kStream;
    const auto units = CameraUnits(base + ".264");
    const auto reference = ReadLines(base + ".md5");
    ASSERT_EQ(units.size(), 3 * kGop);
    ASSERT_EQ(reference.size(), units.size());

    // The first GOP is damaged from picture 8 on, the second loses its IDR,
    // the third is clean.
    const std::vector<Hit> hits = {{8, Damage::kFlipBits},        {12, Damage::kCut},        {16, Damage::kDrop},
                                   {18, Damage::kJunkUnitBefore}, {20, Damage::kJunkBefore}, {22, Damage::kCut},
                                   {kGop, Damage::kDrop},         {kGop + 3, Damage::kCut}};
    Expected expected;
    for (size_t n = 0; n < units.size(); ++n) {
        // Without their IDR, the second GOP's pictures have nothing to refer
        // to: the decoder waits for the next IDR instead of showing them.
        if (n == 16 || (n >= kGop && n < 2 * kGop)) continue;
        expected.kept.push_back(n);
    }
    expected.concealed = 3;  // the flipped picture and the two cut ones of the first GOP

    ASSERT_EQ(KOVA_Init(), KOVA_OK);
    Collected clean, damaged;
    const KOVA_PortStatistics cleanStats = Play(20, units, {}, units.size(), clean);
    const KOVA_PortStatistics stats = Play(21, units, hits, expected.kept.size(), damaged);
    EXPECT_EQ(KOVA_DeInit(), KOVA_OK);

    // The clean stream is the control: all its pictures, exact, none concealed.
    ASSERT_GE(clean.md5s.size(), units.size());
    for (size_t n = 0; n < units.size(); ++n) EXPECT_EQ(clean.md5s[n], reference[n]) << "clean picture " << n;
    EXPECT_EQ(cleanStats.damagedPictures, 0u);

    // Every picture that could be kept came, in order, and no other; the two
    // repeated key frames at the end may or may not have left the decoder.
    ASSERT_GE(damaged.md5s.size(), expected.kept.size());
    EXPECT_LE(damaged.md5s.size(), expected.kept.size() + 2);
    EXPECT_EQ(stats.damagedPictures, expected.concealed);
    EXPECT_EQ(stats.picturesShown, damaged.md5s.size());
    for (size_t k = 0; k < expected.kept.size(); ++k) {
        const size_t n = expected.kept[k];
        // Before the first hit and from the third IDR on, exact; in between,
        // whatever concealment made of them.
        if (n < hits.front().unit || n >= 2 * kGop) {
            EXPECT_EQ(damaged.md5s[k], reference[n]) << "picture " << n;
        }
    }
}

}  // namespace
