// End to end through the shared library: conformance streams pushed one
// access unit per call into stream ports; every picture the decoded-frame
// callback receives must equal the reference decoder's picture.
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "md5.h"
#include "stream_file.h"
#include "tessaly/kova.h"

using namespace std::chrono_literals;

namespace {

std::vector<std::string> ReadLines(const std::string &path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        if (!line.empty()) lines.push_back(line);
    return lines;
}

// A snapshot file of this process alone: other test programs run at the same time.
std::string TempBitmap(const std::string &name) {
    return ::testing::TempDir() + "snapshot_" + std::to_string(getpid()) + "_" + name + ".bmp";
}

struct Collected {
    std::mutex mutex;
    std::vector<std::string> md5s;
    std::vector<uint8_t> last;  // the last picture, for the snapshot check
    int32_t width = 0, height = 0;
};

// BT.601 studio range to RGB as a snapshot defines it, written independently
// of the library: floor((a x 8 x k) / 65536) with exact integer division.
uint8_t Channel(int64_t v) { return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); }
int64_t M(int a, int k) {
    const int64_t p = int64_t{a} * 8 * k;
    return p >= 0 ? p / 65536 : -((-p + 65535) / 65536);
}

std::vector<uint8_t> ExpectedBitmapPixels(const std::vector<uint8_t> &pic, int32_t w, int32_t h) {
    std::vector<uint8_t> out(size_t(w) * size_t(h) * 3);
    const uint8_t *u = pic.data() + size_t(w) * size_t(h), *v = u + size_t(w) * size_t(h) / 4;
    for (int32_t r = 0; r < h; ++r)
        for (int32_t x = 0; x < w; ++x) {
            const int yy = std::max(pic[size_t(r) * size_t(w) + size_t(x)] - 16, 0);
            const size_t c = size_t(r / 2) * size_t(w / 2) + size_t(x / 2);
            const int uu = u[c] - 128, vv = v[c] - 128;
            const int64_t l = M(yy, 9576);
            uint8_t *px = &out[(size_t(h - 1 - r) * size_t(w) + size_t(x)) * 3];
            px[0] = Channel(l + M(uu, 16591));
            px[1] = Channel(l + M(uu, -3218) + M(vv, -6686));
            px[2] = Channel(l + M(vv, 13123));
        }
    return out;
}

void OnPicture(int32_t format, uint8_t *picture, int32_t size, int32_t width, int32_t height, intptr_t user) {
    auto *c = reinterpret_cast<Collected *>(user);
    // The reference lists one MD5 per picture over Y, then U, then V.
    const size_t area = size_t(width) * size_t(height);
    Md5 md5;
    md5.Update(picture, area * 3 / 2);
    std::lock_guard<std::mutex> lock(c->mutex);
    if (format != KOVA_FORMAT_I420 || size != static_cast<int32_t>(area * 3 / 2)) {
        c->md5s.push_back("bad format or size");
        return;
    }
    c->md5s.push_back(md5.HexDigest());
    c->last.assign(picture, picture + area * 3 / 2);
    c->width = width;
    c->height = height;
}

// Streams whose reference pictures are uncropped and whose reference frame
// count fits the player's decoders (two frames).
const char *const kStreams[] = {
    "conf/BA1_Sony_D.jsv",
    "conf/BANM_MW_D.264",
    "conf/BAMQ2_JVC_C.264",
    "conf/NL1_Sony_D.jsv",
    "conf/BA1_FT_C.264",
    "conf/CVPCMNL1_SVA_C.264",
    // A larger picture than the port's first decode setup (720 x 576): the setup grows.
    "gen/main_cabac_1280x720_ref1.264",
    "gen/high_cabac_704x576_intrarefresh.264",
    // Field pictures, paired into frames by the decoder.
    "gen/jm_main_cavlc_352x288_field.264",
};

class StreamPorts : public ::testing::TestWithParam<const char *> {};

TEST_P(StreamPorts, CallbackPicturesEqualTheReference) {
    const std::string base = std::string(TESSALY_TESTDATA) + "/h264/" + GetParam();
    const std::vector<uint8_t> stream = ReadFile(base);
    ASSERT_FALSE(stream.empty()) << base;
    const std::string stem = base.substr(0, base.find_last_of('.'));
    const std::vector<std::string> reference = ReadLines(stem + ".md5");
    const auto units = AccessUnits(stream);

    ASSERT_EQ(KOVA_Init(), KOVA_OK);
    Collected collected;
    ASSERT_EQ(KOVA_OpenStreamEx(42, 0, 1, 0, &OnPicture, reinterpret_cast<intptr_t>(&collected)), KOVA_OK);
    const std::string bitmap = TempBitmap(stem.substr(stem.find_last_of('/') + 1));
    std::remove(bitmap.c_str());
    EXPECT_EQ(KOVA_Snapshot(42, bitmap.c_str()), KOVA_ERR_NO_PICTURE);
    EXPECT_TRUE(ReadFile(bitmap).empty()) << "no file without a picture";
    for (const auto &unit : units) {
        int32_t rc;
        while ((rc = KOVA_AddStreamFrame(42, KOVA_FRAME_VIDEO, unit.data(), static_cast<uint32_t>(unit.size()))) ==
               KOVA_ERR_BUFFER_FULL)
            FAIL() << "the buffer filled up although the test waits for room";
        ASSERT_EQ(rc, KOVA_OK);
        // Keep the backlog moderate: the port works off anything above 15 frames at full speed.
        uint32_t capacity, fill;
        while (KOVA_GetStreamBufInfo(42, &capacity, &fill) == KOVA_OK && fill > 200000)
            std::this_thread::sleep_for(1ms);
    }
    // The last pictures stay in the decoder until more data comes (a live
    // stream has no end): wait for the rest to arrive.
    const size_t expected = reference.size() >= 2 ? reference.size() - 2 : 0;
    for (int k = 0; k < 3000; ++k) {
        {
            std::lock_guard<std::mutex> lock(collected.mutex);
            if (collected.md5s.size() >= expected) break;
        }
        std::this_thread::sleep_for(5ms);
    }
    // Pictures beyond the expected count may still come: let the port go
    // quiet (buffer empty, no new picture for 300 ms) so that the snapshot
    // and the last callback picture are the same one.
    for (size_t seen = SIZE_MAX, quiet = 0; quiet < 60;) {
        uint32_t capacity = 0, fill = 0;
        KOVA_GetStreamBufInfo(42, &capacity, &fill);
        size_t now;
        {
            std::lock_guard<std::mutex> lock(collected.mutex);
            now = collected.md5s.size();
        }
        quiet = (now == seen && fill == 0) ? quiet + 1 : 0;
        seen = now;
        std::this_thread::sleep_for(5ms);
    }
    // The snapshot is the last shown picture, converted to a bottom-up bitmap.
    ASSERT_EQ(KOVA_Snapshot(42, bitmap.c_str()), KOVA_OK);
    ASSERT_EQ(KOVA_Close(42), KOVA_OK);
    ASSERT_EQ(KOVA_DeInit(), KOVA_OK);
    const std::vector<uint8_t> file = ReadFile(bitmap);
    std::remove(bitmap.c_str());
    ASSERT_EQ(file.size(), 54 + size_t(collected.width) * size_t(collected.height) * 3);
    EXPECT_TRUE(std::equal(file.begin() + 54, file.end(),
                           ExpectedBitmapPixels(collected.last, collected.width, collected.height).begin()))
        << "snapshot pixels differ from the independent conversion";

    ASSERT_GE(collected.md5s.size(), expected);
    ASSERT_LE(collected.md5s.size(), reference.size());
    for (size_t k = 0; k < collected.md5s.size(); ++k) ASSERT_EQ(collected.md5s[k], reference[k]) << "picture " << k;
}

// A camera's half-height field pictures, marked by the private field-coding
// message: the port pairs them through the deinterlacer into full frames.
TEST(FieldStreamPort, PairsOfFieldsBecomeDeinterlacedFrames) {
    const std::string dir = std::string(TESSALY_TESTDATA) + "/player/";
    const auto units = AccessUnits(ReadFile(dir + "halfheight_fieldsei.264"));
    const auto reference = ReadLines(dir + "halfheight_fieldsei.deinterlaced.md5");
    ASSERT_EQ(units.size(), 20u);
    ASSERT_EQ(reference.size(), 10u);

    ASSERT_EQ(KOVA_Init(), KOVA_OK);
    Collected collected;
    ASSERT_EQ(KOVA_OpenStreamEx(43, 0, 0, 0, &OnPicture, reinterpret_cast<intptr_t>(&collected)), KOVA_OK);
    for (const auto &unit : units)
        ASSERT_EQ(KOVA_AddStreamFrame(43, KOVA_FRAME_VIDEO, unit.data(), static_cast<uint32_t>(unit.size())), KOVA_OK);
    // The last two pictures stay in the decoder: nine pairs come out.
    for (int k = 0; k < 3000; ++k) {
        {
            std::lock_guard<std::mutex> lock(collected.mutex);
            if (collected.md5s.size() >= 9) break;
        }
        std::this_thread::sleep_for(5ms);
    }
    const std::string bitmap = TempBitmap("field_port");
    EXPECT_EQ(KOVA_Snapshot(43, bitmap.c_str()), KOVA_OK);
    ASSERT_EQ(KOVA_DeInit(), KOVA_OK);
    EXPECT_EQ(ReadFile(bitmap).size(), 54u + 704 * 576 * 3) << "the snapshot is the deinterlaced frame";
    std::remove(bitmap.c_str());

    ASSERT_EQ(collected.md5s.size(), 9u);
    EXPECT_EQ(collected.width, 704);
    EXPECT_EQ(collected.height, 576);
    for (size_t k = 0; k < collected.md5s.size(); ++k) EXPECT_EQ(collected.md5s[k], reference[k]) << "frame " << k;
}

// Pushes a stream one access unit per call, waiting for room instead of
// letting the port refuse anything.
void PushAll(uint32_t port, const std::vector<std::vector<uint8_t>> &units) {
    for (const auto &unit : units) {
        uint32_t capacity = 0, fill = 0;
        while (KOVA_GetStreamBufInfo(port, &capacity, &fill) == KOVA_OK && fill + unit.size() + 1 >= capacity &&
               fill != 0)
            std::this_thread::sleep_for(1ms);
        ASSERT_EQ(KOVA_AddStreamFrame(port, KOVA_FRAME_VIDEO, unit.data(), static_cast<uint32_t>(unit.size())), KOVA_OK)
            << "port " << port << ", unit of " << unit.size() << " bytes";
    }
}

// Waits for count pictures, or until none has come for 10 s (sanitizer
// builds decode large pictures slowly).
size_t WaitForPictures(Collected &c, size_t count) {
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

// Today's cameras, several ports at once: pictures above 2560 and the 4:2:0
// field pictures of 1080i, key frames of up to 1.9 MB, three reference
// frames, and a picture cropped on two sides that is not a multiple of 16.
TEST(CameraPorts, SeveralAtOnceShowEveryPictureCroppedAndExact) {
    const char *const streams[] = {"cameras/cam8mp_high_3840x2160_bigkey.264", "cameras/cam6mp_main_3072x1728.264",
                                   "cameras/jm_field1080_cabac_high.264", "cameras/cam1080_high_ref3.264",
                                   "gen/high_cavlc_344x198.264"};
    constexpr size_t kCount = std::size(streams);
    ASSERT_EQ(KOVA_Init(), KOVA_OK);
    std::vector<Collected> collected(kCount);
    std::vector<std::vector<std::string>> reference(kCount);
    std::vector<std::vector<std::vector<uint8_t>>> units(kCount);
    for (uint32_t k = 0; k < kCount; ++k) {
        const std::string base = std::string(TESSALY_TESTDATA) + "/h264/" + streams[k];
        units[k] = AccessUnits(ReadFile(base));
        reference[k] = ReadLines(base.substr(0, base.size() - 4) + ".md5");
        ASSERT_FALSE(units[k].empty() || reference[k].empty()) << base;
        ASSERT_EQ(KOVA_OpenStreamEx(100 + k, 0, 1, 0, &OnPicture, reinterpret_cast<intptr_t>(&collected[k])), KOVA_OK);
    }
    std::vector<std::thread> feeders;
    for (uint32_t k = 0; k < kCount; ++k) feeders.emplace_back([&, k] { PushAll(100 + k, units[k]); });
    for (auto &feeder : feeders) feeder.join();

    uint32_t capacity = 0, fill = 0;
    ASSERT_EQ(KOVA_GetStreamBufInfo(100, &capacity, &fill), KOVA_OK);
    EXPECT_GT(capacity, 3u * (3840 * 2160 * 3 / 8)) << "the 8 MP port's buffer holds three of its largest frames";
    for (uint32_t k = 0; k < kCount; ++k) {
        // The last pictures stay in the decoder until more data comes.
        const size_t got = WaitForPictures(collected[k], reference[k].size() - 2);
        ASSERT_GE(got, reference[k].size() - 2) << streams[k];
        std::lock_guard<std::mutex> lock(collected[k].mutex);
        for (size_t n = 0; n < got; ++n)
            ASSERT_EQ(collected[k].md5s[n], reference[k][n]) << streams[k] << " picture " << n;
    }
    const std::string bitmap = TempBitmap("cropped");
    ASSERT_EQ(KOVA_Snapshot(104, bitmap.c_str()), KOVA_OK);
    EXPECT_EQ(ReadFile(bitmap).size(), 54u + 344 * 198 * 3) << "the snapshot is cropped as the callback's picture";
    std::remove(bitmap.c_str());
    EXPECT_EQ(KOVA_DeInit(), KOVA_OK);
}

// A port that played a large stream keeps its setup and buffer for a
// smaller one, and shows the smaller one exactly.
TEST(CameraPorts, SmallerStreamAfterALargerOne) {
    const std::string dir = std::string(TESSALY_TESTDATA) + "/h264/";
    const auto large = AccessUnits(ReadFile(dir + "cameras/cam1080_high_ref3.264"));
    const auto small = AccessUnits(ReadFile(dir + "conf/BA1_Sony_D.jsv"));
    const auto smallReference = ReadLines(dir + "conf/BA1_Sony_D.md5");
    ASSERT_EQ(KOVA_Init(), KOVA_OK);
    Collected collected;
    ASSERT_EQ(KOVA_OpenStreamEx(7, 0, 0, 0, &OnPicture, reinterpret_cast<intptr_t>(&collected)), KOVA_OK);
    PushAll(7, large);
    uint32_t grown = 0, fill = 0;
    ASSERT_EQ(KOVA_GetStreamBufInfo(7, &grown, &fill), KOVA_OK);
    PushAll(7, small);
    // The large stream's last pictures come out when the small one begins.
    const size_t total = WaitForPictures(collected, 30 + smallReference.size() - 2);
    uint32_t capacity = 0;
    ASSERT_EQ(KOVA_GetStreamBufInfo(7, &capacity, &fill), KOVA_OK);
    EXPECT_EQ(capacity, grown);
    EXPECT_EQ(KOVA_DeInit(), KOVA_OK);
    ASSERT_GE(total, 30 + smallReference.size() - 2);
    for (size_t n = 30; n < total; ++n) ASSERT_EQ(collected.md5s[n], smallReference[n - 30]) << "picture " << n;
}

INSTANTIATE_TEST_SUITE_P(Conformance, StreamPorts, ::testing::ValuesIn(kStreams), [](const auto &info) {
    std::string name = info.param;
    for (char &c : name)
        if (!isalnum(static_cast<unsigned char>(c))) c = '_';
    return name;
});

}  // namespace
