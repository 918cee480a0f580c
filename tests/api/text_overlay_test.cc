// The text overlay through the shared library: a CIF conformance stream played
// at a stream port with and without text, the overlaid pictures compared with
// the plain ones pixel by pixel, and the lines kept across a close.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "md5.h"
#include "picture_collector.h"
#include "stream_file.h"
#include "tessaly/kova.h"

namespace {

constexpr uint32_t kPort = 9, kWidth = 352, kHeight = 288;
constexpr size_t kUnits = 24, kPictures = kUnits - 2;  // the last two stay in the decoder

struct Pictures {
    std::mutex mutex;
    std::vector<std::vector<uint8_t>> all;
};

void KeepPicture(int32_t, uint8_t *picture, int32_t size, int32_t width, int32_t height, intptr_t user) {
    auto *p = reinterpret_cast<Pictures *>(user);
    std::lock_guard<std::mutex> lock(p->mutex);
    if (width == int32_t(kWidth) && height == int32_t(kHeight)) p->all.emplace_back(picture, picture + size);
}

// Opens the port, sets the lines when given, plays the units, takes a snapshot
// and closes the port.
std::vector<std::vector<uint8_t>> Play(const std::vector<std::vector<uint8_t>> &units, const KOVA_TextOsdInput *osd,
                                       std::vector<uint8_t> &snapshot) {
    Pictures pictures;
    EXPECT_EQ(KOVA_OpenStreamEx(kPort, 0, 1, 0, &KeepPicture, reinterpret_cast<intptr_t>(&pictures)), KOVA_OK);
    if (osd) {
        EXPECT_EQ(KOVA_SetTextOSD_FT(kPort, osd), KOVA_OK);
    }
    for (const auto &unit : units) {
        EXPECT_EQ(KOVA_AddStreamFrame(kPort, KOVA_FRAME_VIDEO, unit.data(), uint32_t(unit.size())), KOVA_OK);
    }
    // Every unit decoded: the pictures stop coming (a slow build needs longer).
    size_t seen = 0;
    for (int quiet = 0, wait = 0; quiet < 60 && wait < 4000; ++wait) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        std::lock_guard<std::mutex> lock(pictures.mutex);
        quiet = pictures.all.size() >= kPictures && pictures.all.size() == seen ? quiet + 1 : 0;
        seen = pictures.all.size();
    }
    const std::string bitmap = ::testing::TempDir() + "overlay_" + std::to_string(getpid()) + ".bmp";
    EXPECT_EQ(KOVA_Snapshot(kPort, bitmap.c_str()), KOVA_OK);
    snapshot = ReadFile(bitmap);
    std::remove(bitmap.c_str());
    EXPECT_EQ(KOVA_Close(kPort), KOVA_OK);
    EXPECT_GE(pictures.all.size(), kPictures);
    pictures.all.resize(std::min(pictures.all.size(), kPictures));
    return std::move(pictures.all);
}

std::string Md5Of(const std::vector<uint8_t> &picture) {
    Md5 md5;
    md5.Update(picture.data(), picture.size());
    return md5.HexDigest();
}

struct Box {
    uint32_t left, top, right, bottom;
    bool Holds(uint32_t x, uint32_t y) const { return x >= left && x < right && y >= top && y < bottom; }
};

void SetLine(KOVA_TextOsdLine &line, int32_t x, int32_t y, uint32_t fontSize, const char *text) {
    line.enabled = 1;
    line.x = x;
    line.y = y;
    line.fontSize = fontSize;
    std::strcpy(line.text, text);
}

}  // namespace

TEST(TextOverlayPort, TextIsBlackLumaInsideItsBoxesAndStaysAcrossAClose) {
    const std::string base = std::string(TESSALY_TESTDATA) + "/h264/conf/CI1_FT_B";
    auto units = AccessUnits(ReadFile(base + ".264"));
    const auto reference = ReadLines(base + ".md5");
    ASSERT_GE(units.size(), kUnits);
    units.resize(kUnits);

    KOVA_TextOsdInput osd{};
    SetLine(osd.line[0], 8, 8, 1, "CAM 01");
    SetLine(osd.line[1], 100, 250, 2, "\xC7\xB0\xC3\xC5");  // two GB2312 characters
    SetLine(osd.line[2], 300, 100, 0, "ABCDEFGHIJ");        // eight fit before the right edge
    SetLine(osd.line[3], 0, 150, 1, "hidden");
    osd.line[3].enabled = 0;
    const Box boxes[] = {{8, 8, 56, 24}, {100, 250, 148, 274}, {300, 100, 348, 112}};

    EXPECT_EQ(KOVA_SetTextOSD_FT(kPort, &osd), KOVA_ERR_NOT_INITIALISED);
    ASSERT_EQ(KOVA_Init(), KOVA_OK);
    EXPECT_EQ(KOVA_SetTextOSD_FT(kPort, &osd), KOVA_ERR_NOT_OPEN);
    EXPECT_EQ(KOVA_SetTextOSD_FT(256, &osd), KOVA_ERR_INVALID_ARGUMENT);
    ASSERT_EQ(KOVA_OpenStream(kPort, 0, 1, 0), KOVA_OK);
    EXPECT_EQ(KOVA_SetTextOSD_FT(kPort, nullptr), KOVA_ERR_INVALID_ARGUMENT);
    ASSERT_EQ(KOVA_Close(kPort), KOVA_OK);

    std::vector<uint8_t> overlaidSnapshot, reopenedSnapshot, plainSnapshot;
    const auto overlaid = Play(units, &osd, overlaidSnapshot);
    const auto reopened = Play(units, nullptr, reopenedSnapshot);  // the lines set before the close
    const KOVA_TextOsdInput none{};
    const auto plain = Play(units, &none, plainSnapshot);
    EXPECT_EQ(KOVA_DeInit(), KOVA_OK);
    EXPECT_FALSE(plainSnapshot.empty());
    EXPECT_TRUE(overlaidSnapshot == plainSnapshot && reopenedSnapshot == plainSnapshot) << "snapshots carry no text";

    ASSERT_EQ(plain.size(), kPictures);
    ASSERT_EQ(overlaid.size(), kPictures);
    ASSERT_EQ(reopened.size(), kPictures);
    for (size_t n = 0; n < kPictures; ++n) {
        ASSERT_EQ(Md5Of(plain[n]), reference[n]) << "without lines the pictures are exact again, picture " << n;
        ASSERT_EQ(Md5Of(reopened[n]), Md5Of(overlaid[n])) << "picture " << n;
        size_t ink[3] = {0, 0, 0};
        for (size_t i = 0; i < plain[n].size(); ++i) {
            if (overlaid[n][i] == plain[n][i]) continue;
            const uint32_t x = uint32_t(i % kWidth), y = uint32_t(i / kWidth);
            ASSERT_LT(i, size_t{kWidth} * kHeight) << "chroma changed, picture " << n;
            ASSERT_EQ(overlaid[n][i], 0) << "picture " << n << " at " << x << "," << y;
            size_t k = 0;
            while (k < 3 && !boxes[k].Holds(x, y)) ++k;
            ASSERT_LT(k, 3u) << "ink outside the boxes, picture " << n << " at " << x << "," << y;
            ++ink[k];
        }
        for (size_t k = 0; k < 3; ++k) EXPECT_GT(ink[k], 20u) << "line " << k << ", picture " << n;
    }
}
