// Port statistics while a stream plays and after: counts that follow what was
// pushed, decoded and shown, the rates of the last second, and refusals.
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "nal_frame.h"
#include "picture_collector.h"
#include "stream_file.h"
#include "tessaly/kova_stats.h"

using namespace std::chrono_literals;

namespace {

KOVA_PortStatistics Statistics(uint32_t port) {
    KOVA_PortStatistics stats{};
    stats.size = sizeof stats;
    EXPECT_EQ(KOVA_GetPortStatistics(port, &stats), KOVA_OK);
    return stats;
}

TEST(PortStatistics, FollowTheStreamAndItsRates) {
    KOVA_PortStatistics stats{};
    stats.size = sizeof stats;
    EXPECT_EQ(KOVA_GetPortStatistics(0, &stats), KOVA_ERR_NOT_INITIALISED);
    ASSERT_EQ(KOVA_Init(), KOVA_OK);
    EXPECT_EQ(KOVA_GetPortStatistics(0, &stats), KOVA_ERR_NOT_OPEN);
    EXPECT_EQ(KOVA_GetPortStatistics(256, &stats), KOVA_ERR_INVALID_ARGUMENT);
    EXPECT_EQ(KOVA_GetPortStatistics(0, nullptr), KOVA_ERR_INVALID_ARGUMENT);
    stats.size = sizeof stats - 1;
    EXPECT_EQ(KOVA_GetPortStatistics(0, &stats), KOVA_ERR_INVALID_ARGUMENT);

    // A stream pushed at about 66 frames a second for 1.5 s: more than a
    // second of pictures.
    const std::string h264 = std::string(TESSALY_TESTDATA) + "/h264/";
    const auto units = AccessUnits(ReadFile(h264 + "conf/BA_MW_D.264"));
    Collected collected;
    ASSERT_EQ(KOVA_OpenStreamEx(5, 0, 1, 0, &OnPicture, reinterpret_cast<intptr_t>(&collected)), KOVA_OK);
    EXPECT_EQ(Statistics(5).framesReceived, 0u);
    bool ratesSeen = false;
    for (const auto &unit : units) {
        ASSERT_EQ(KOVA_AddStreamFrame(5, KOVA_FRAME_VIDEO, unit.data(), static_cast<uint32_t>(unit.size())), KOVA_OK);
        std::this_thread::sleep_for(15ms);
        const KOVA_PortStatistics now = Statistics(5);
        ratesSeen = ratesSeen || (now.framesPerSecond100 > 0 && now.decodeMicrosAverage > 0);
    }
    WaitForPictures(collected, units.size() - 2);  // the last ones stay in the decoder
    std::this_thread::sleep_for(300ms);
    const size_t pictures = WaitForPictures(collected, 0);
    stats = Statistics(5);
    EXPECT_TRUE(ratesSeen) << "no rate over a second of playing";
    EXPECT_EQ(stats.framesReceived, units.size());
    EXPECT_EQ(stats.framesRefused, 0u);
    EXPECT_EQ(stats.picturesShown, pictures);
    EXPECT_EQ(stats.picturesDecoded, stats.picturesShown);
    EXPECT_EQ(stats.damagedPictures, 0u);
    EXPECT_EQ(stats.width, 176u);
    EXPECT_EQ(stats.height, 144u);
    EXPECT_EQ(stats.bufferCapacity, 524288u);
    EXPECT_EQ(stats.size, sizeof stats);

    // Pictures with slices lost are concealed, and counted.
    ASSERT_EQ(KOVA_Close(5), KOVA_OK);
    ASSERT_EQ(KOVA_OpenStream(5, 0, 1, 0), KOVA_OK);
    for (const auto &unit : AccessUnits(ReadFile(h264 + "damaged/Error_I_P.264")))
        ASSERT_EQ(KOVA_AddStreamFrame(5, KOVA_FRAME_VIDEO, unit.data(), static_cast<uint32_t>(unit.size())), KOVA_OK);
    for (int wait = 0; wait < 400 && Statistics(5).damagedPictures == 0; ++wait) std::this_thread::sleep_for(10ms);
    stats = Statistics(5);
    EXPECT_GT(stats.damagedPictures, 0u);
    EXPECT_LE(stats.damagedPictures, stats.picturesDecoded);

    // A full buffer refuses a frame; the frames after it are dropped until a
    // sequence parameter set: both count as refused. A new open starts at 0.
    ASSERT_EQ(KOVA_Close(5), KOVA_OK);
    ASSERT_EQ(KOVA_OpenStream(5, 0, 1, 0), KOVA_OK);
    const std::vector<uint8_t> big = NalFrame(300000, 0x41);
    EXPECT_EQ(KOVA_AddStreamFrame(5, KOVA_FRAME_VIDEO, big.data(), 300000), KOVA_OK);
    int32_t rc = KOVA_OK;
    for (int k = 0; k < 10 && rc == KOVA_OK; ++k) rc = KOVA_AddStreamFrame(5, KOVA_FRAME_VIDEO, big.data(), 300000);
    ASSERT_EQ(rc, KOVA_ERR_BUFFER_FULL);
    EXPECT_EQ(KOVA_AddStreamFrame(5, KOVA_FRAME_VIDEO, big.data(), 1000), KOVA_OK);  // dropped: no SPS
    stats = Statistics(5);
    EXPECT_EQ(stats.framesRefused, 2u);
    EXPECT_GE(stats.framesReceived, 1u);
    EXPECT_EQ(KOVA_DeInit(), KOVA_OK);
}

}  // namespace
