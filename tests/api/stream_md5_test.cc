// End to end through the shared library: streams pushed one access unit per
// call into stream ports, several ports at once; every picture the
// decoded-frame callback receives must equal the reference decoder's
// (cropped) picture, and a snapshot must be the last one, converted.
#include <unistd.h>

#include <algorithm>
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
#include "picture_collector.h"
#include "stream_file.h"
#include "tessaly/kova.h"

using namespace std::chrono_literals;

namespace {

// A snapshot file of this process alone: other test programs run at the same time.
std::string TempBitmap(const std::string &name) {
    return ::testing::TempDir() + "snapshot_" + std::to_string(getpid()) + "_" + name + ".bmp";
}

// BT.601 studio range to RGB as a snapshot defines it, written independently
// of the library: floor((a x 8 x k) / 65536) with exact integer division.
std::vector<uint8_t> ExpectedBitmapPixels(const std::vector<uint8_t> &pic, int32_t w, int32_t h) {
    const auto m = [](int a, int k) {
        const int64_t p = int64_t{a} * 8 * k;
        return p >= 0 ? p / 65536 : -((-p + 65535) / 65536);
    };
    const auto channel = [](int64_t v) { return static_cast<uint8_t>(std::clamp<int64_t>(v, 0, 255)); };
    std::vector<uint8_t> out(size_t(w) * size_t(h) * 3);
    const uint8_t *u = pic.data() + size_t(w) * size_t(h), *v = u + size_t(w) * size_t(h) / 4;
    for (int32_t r = 0; r < h; ++r)
        for (int32_t x = 0; x < w; ++x) {
            const int64_t l = m(std::max(pic[size_t(r) * size_t(w) + size_t(x)] - 16, 0), 9576);
            const size_t c = size_t(r / 2) * size_t(w / 2) + size_t(x / 2);
            const int uu = u[c] - 128, vv = v[c] - 128;
            uint8_t *px = &out[(size_t(h - 1 - r) * size_t(w) + size_t(x)) * 3];
            px[0] = channel(l + m(uu, 16591));
            px[1] = channel(l + m(uu, -3218) + m(vv, -6686));
            px[2] = channel(l + m(vv, 13123));
        }
    return out;
}

// Pushes a stream one access unit per call, waiting for room instead of
// letting the port refuse anything.
void PushAll(uint32_t port, const std::vector<std::vector<uint8_t>> &units) {
    for (const auto &unit : units) {
        uint32_t capacity = 0, fill = 0;
        while (KOVA_GetStreamBufInfo(port, &capacity, &fill) == KOVA_OK && fill != 0 &&
               fill + unit.size() + 1 >= std::min<uint32_t>(capacity, 200000 + uint32_t(unit.size())))
            std::this_thread::sleep_for(1ms);
        ASSERT_EQ(KOVA_AddStreamFrame(port, KOVA_FRAME_VIDEO, unit.data(), static_cast<uint32_t>(unit.size())), KOVA_OK)
            << "port " << port << ", unit of " << unit.size() << " bytes";
    }
}

// Plays each stream (relative to testdata/h264) at a port of its own, all at
// once, and compares every callback picture with the reference; the last two
// pictures of a live stream stay in the decoder until more data comes.
void PlayAtOnce(const std::vector<std::string> &streams, uint32_t firstPort, std::vector<Collected> &collected) {
    std::vector<std::vector<std::string>> reference(streams.size());
    std::vector<std::vector<std::vector<uint8_t>>> units(streams.size());
    for (uint32_t k = 0; k < streams.size(); ++k) {
        const std::string base = std::string(TESSALY_TESTDATA) + "/h264/" + streams[k];
        units[k] = AccessUnits(ReadFile(base));
        reference[k] = ReadLines(base.substr(0, base.find_last_of('.')) + ".md5");
        ASSERT_FALSE(units[k].empty() || reference[k].empty()) << base;
        ASSERT_EQ(KOVA_OpenStreamEx(firstPort + k, 0, 1, 0, &OnPicture, reinterpret_cast<intptr_t>(&collected[k])),
                  KOVA_OK);
    }
    std::vector<std::thread> feeders;
    for (uint32_t k = 0; k < streams.size(); ++k) feeders.emplace_back([&, k] { PushAll(firstPort + k, units[k]); });
    for (auto &feeder : feeders) feeder.join();
    for (uint32_t k = 0; k < streams.size(); ++k) {
        const size_t got = WaitForPictures(collected[k], reference[k].size() - 2);
        ASSERT_GE(got, reference[k].size() - 2) << streams[k];
        std::lock_guard<std::mutex> lock(collected[k].mutex);
        ASSERT_LE(got, reference[k].size()) << streams[k];
        for (size_t n = 0; n < got; ++n)
            ASSERT_EQ(collected[k].md5s[n], reference[k][n]) << streams[k] << " picture " << n;
    }
}

// The snapshot of a port gone quiet: its last callback picture, converted.
void ExpectSnapshotOfLastPicture(uint32_t port, Collected &c, const std::string &name) {
    const std::string bitmap = TempBitmap(name);
    ASSERT_EQ(KOVA_Snapshot(port, bitmap.c_str()), KOVA_OK);
    const std::vector<uint8_t> file = ReadFile(bitmap);
    std::remove(bitmap.c_str());
    std::lock_guard<std::mutex> lock(c.mutex);
    ASSERT_EQ(file.size(), 54 + size_t(c.width) * size_t(c.height) * 3) << name;
    EXPECT_TRUE(std::equal(file.begin() + 54, file.end(), ExpectedBitmapPixels(c.last, c.width, c.height).begin()))
        << name << ": snapshot pixels differ from the independent conversion";
}

}  // namespace

// Conformance streams, one of them larger than a port's first decode setup
// (720 x 576) and one of field pictures paired into frames by the decoder.
TEST(StreamPorts, ConformanceStreamsAtSeveralPortsAtOnce) {
    const std::vector<std::string> streams = {"conf/BA1_Sony_D.jsv",
                                              "conf/BANM_MW_D.264",
                                              "conf/BAMQ2_JVC_C.264",
                                              "conf/NL1_Sony_D.jsv",
                                              "conf/BA1_FT_C.264",
                                              "conf/CVPCMNL1_SVA_C.264",
                                              "gen/main_cabac_1280x720_ref1.264",
                                              "gen/high_cabac_704x576_intrarefresh.264",
                                              "gen/jm_main_cavlc_352x288_field.264"};
    ASSERT_EQ(KOVA_Init(), KOVA_OK);
    const std::string none = TempBitmap("none");
    ASSERT_EQ(KOVA_OpenStream(99, 0, 1, 0), KOVA_OK);
    EXPECT_EQ(KOVA_Snapshot(99, none.c_str()), KOVA_ERR_NO_PICTURE);
    EXPECT_TRUE(ReadFile(none).empty()) << "no file without a picture";
    std::vector<Collected> collected(streams.size());
    PlayAtOnce(streams, 40, collected);
    ExpectSnapshotOfLastPicture(46, collected[6], "1280x720");
    EXPECT_EQ(KOVA_DeInit(), KOVA_OK);
}

// Today's cameras: pictures above 2560, the field pictures of 1080i, key
// frames of up to 1.9 MB, three reference frames, and a picture cropped on
// two sides that is not a multiple of 16.
TEST(CameraPorts, SeveralAtOnceShowEveryPictureCroppedAndExact) {
    const std::vector<std::string> streams = {
        "cameras/cam8mp_high_3840x2160_bigkey.264", "cameras/cam6mp_main_3072x1728.264",
        "cameras/jm_field1080_cabac_high.264", "cameras/cam1080_high_ref3.264", "gen/high_cavlc_344x198.264"};
    ASSERT_EQ(KOVA_Init(), KOVA_OK);
    std::vector<Collected> collected(streams.size());
    PlayAtOnce(streams, 100, collected);
    uint32_t capacity = 0, fill = 0;
    ASSERT_EQ(KOVA_GetStreamBufInfo(100, &capacity, &fill), KOVA_OK);
    EXPECT_GT(capacity, 3u * (3840 * 2160 * 3 / 8)) << "the 8 MP port's buffer holds three of its largest frames";
    ExpectSnapshotOfLastPicture(104, collected[4], "cropped");
    EXPECT_EQ(KOVA_DeInit(), KOVA_OK);
}

// A port that played a large stream keeps its setup and buffer for a
// smaller one, and shows the smaller one exactly.
TEST(CameraPorts, SmallerStreamAfterALargerOne) {
    const std::string dir = std::string(TESSALY_TESTDATA) + "/h264/";
    const auto smallReference = ReadLines(dir + "conf/BA1_Sony_D.md5");
    ASSERT_EQ(KOVA_Init(), KOVA_OK);
    Collected collected;
    ASSERT_EQ(KOVA_OpenStreamEx(7, 0, 0, 0, &OnPicture, reinterpret_cast<intptr_t>(&collected)), KOVA_OK);
    PushAll(7, AccessUnits(ReadFile(dir + "cameras/cam1080_high_ref3.264")));
    uint32_t grown = 0, capacity = 0, fill = 0;
    ASSERT_EQ(KOVA_GetStreamBufInfo(7, &grown, &fill), KOVA_OK);
    PushAll(7, AccessUnits(ReadFile(dir + "conf/BA1_Sony_D.jsv")));
    // The large stream's last pictures come out when the small one begins.
    const size_t total = WaitForPictures(collected, 30 + smallReference.size() - 2);
    ASSERT_EQ(KOVA_GetStreamBufInfo(7, &capacity, &fill), KOVA_OK);
    EXPECT_EQ(capacity, grown);
    EXPECT_EQ(KOVA_DeInit(), KOVA_OK);
    ASSERT_GE(total, 30 + smallReference.size() - 2);
    for (size_t n = 30; n < total; ++n) ASSERT_EQ(collected.md5s[n], smallReference[n - 30]) << "picture " << n;
}

// A camera's half-height field pictures, marked by the private field-coding
// message: the port pairs them through the deinterlacer into full frames.
TEST(FieldStreamPort, PairsOfFieldsBecomeDeinterlacedFrames) {
    const std::string dir = std::string(TESSALY_TESTDATA) + "/player/";
    const auto reference = ReadLines(dir + "halfheight_fieldsei.deinterlaced.md5");
    ASSERT_EQ(reference.size(), 10u);
    ASSERT_EQ(KOVA_Init(), KOVA_OK);
    Collected collected;
    ASSERT_EQ(KOVA_OpenStreamEx(43, 0, 0, 0, &OnPicture, reinterpret_cast<intptr_t>(&collected)), KOVA_OK);
    PushAll(43, AccessUnits(ReadFile(dir + "halfheight_fieldsei.264")));
    // The last two pictures stay in the decoder: nine pairs come out.
    ASSERT_EQ(WaitForPictures(collected, 9), 9u);
    ExpectSnapshotOfLastPicture(43, collected, "field_pair");
    ASSERT_EQ(KOVA_DeInit(), KOVA_OK);
    EXPECT_EQ(collected.width, 704);
    EXPECT_EQ(collected.height, 576);
    for (size_t k = 0; k < collected.md5s.size(); ++k) EXPECT_EQ(collected.md5s[k], reference[k]) << "frame " << k;
}
