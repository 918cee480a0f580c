// The player calls through the shared library: the guard sequence and its
// codes, the library lifecycle, and the stream buffer as the host sees it.
#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "nal_frame.h"
#include "tessaly/kova.h"

namespace {

// Every port-addressed call with harmless arguments; returns their results.
std::vector<int32_t> AllPortCalls(uint32_t port) {
    const auto frame = NalFrame(100, 0x41);
    uint32_t a = 0, b = 0;
    int32_t level = 0;
    return {KOVA_AddStreamFrame(port, 1, frame.data(), 100),
            KOVA_GetStreamBufInfo(port, &a, &b),
            KOVA_Play(port),
            KOVA_Pause(port),
            KOVA_Stop(port),
            KOVA_NextFrame(port),
            KOVA_Slow(port),
            KOVA_Fast(port),
            KOVA_GetSpeed(port, &level),
            KOVA_GetPlayingPos(port, &a),
            KOVA_SetPlayingPos(port, 500),
            KOVA_GetPlayingTime(port, &a)};
}

class PlayerApi : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(KOVA_Init(), KOVA_OK); }
    void TearDown() override { EXPECT_EQ(KOVA_DeInit(), KOVA_OK); }
};

}  // namespace

TEST(PlayerLifecycle, EverythingWaitsForInit) {
    EXPECT_EQ(KOVA_DeInit(), KOVA_OK) << "before init: nothing to do";
    for (int32_t rc : AllPortCalls(0)) EXPECT_EQ(rc, KOVA_ERR_NOT_INITIALISED);
    EXPECT_EQ(KOVA_OpenStream(0, 0, 1, 0), KOVA_ERR_NOT_INITIALISED);
    EXPECT_EQ(KOVA_OpenStreamEx(300, 0, 1, 0, nullptr, 0), KOVA_ERR_NOT_INITIALISED);
    EXPECT_EQ(KOVA_Close(0), KOVA_ERR_NOT_INITIALISED);

    ASSERT_EQ(KOVA_Init(), KOVA_OK);
    EXPECT_EQ(KOVA_Init(), KOVA_OK) << "a second init changes nothing";
    ASSERT_EQ(KOVA_OpenStream(3, 0, 1, 0), KOVA_OK);
    ASSERT_EQ(KOVA_OpenStream(200, 0, 0, 0), KOVA_OK);
    ASSERT_EQ(KOVA_DeInit(), KOVA_OK);
    EXPECT_EQ(KOVA_Play(3), KOVA_ERR_NOT_INITIALISED);

    // Init again: the ports were closed by DeInit and open anew.
    ASSERT_EQ(KOVA_Init(), KOVA_OK);
    EXPECT_EQ(KOVA_Play(3), KOVA_ERR_NOT_OPEN);
    EXPECT_EQ(KOVA_OpenStream(3, 0, 1, 0), KOVA_OK);
    EXPECT_EQ(KOVA_OpenStream(200, 0, 1, 0), KOVA_OK);
    ASSERT_EQ(KOVA_DeInit(), KOVA_OK);
}

TEST_F(PlayerApi, GuardCodes) {
    for (int32_t rc : AllPortCalls(256)) EXPECT_EQ(rc, KOVA_ERR_INVALID_ARGUMENT);
    for (int32_t rc : AllPortCalls(UINT32_MAX)) EXPECT_EQ(rc, KOVA_ERR_INVALID_ARGUMENT);
    for (int32_t rc : AllPortCalls(255)) EXPECT_EQ(rc, KOVA_ERR_NOT_OPEN);
    EXPECT_EQ(KOVA_OpenStream(256, 0, 1, 0), KOVA_ERR_INVALID_ARGUMENT);
    EXPECT_EQ(KOVA_Close(256), KOVA_ERR_INVALID_ARGUMENT);
    EXPECT_EQ(KOVA_Close(255), KOVA_OK) << "closing a closed port is fine";

    // Argument checks come before the open check.
    const auto frame = NalFrame(100, 0x41);
    EXPECT_EQ(KOVA_AddStreamFrame(7, 1, nullptr, 100), KOVA_ERR_INVALID_ARGUMENT);
    EXPECT_EQ(KOVA_AddStreamFrame(7, 1, frame.data(), 0), KOVA_ERR_INVALID_ARGUMENT);
    EXPECT_EQ(KOVA_AddStreamFrame(7, 1, frame.data(), 100), KOVA_ERR_NOT_OPEN);

    ASSERT_EQ(KOVA_OpenStream(7, 0, 1, 0), KOVA_OK);
    EXPECT_EQ(KOVA_OpenStream(7, 0, 1, 0), KOVA_ERR_ALREADY_OPEN);
    EXPECT_EQ(KOVA_OpenStreamEx(7, 0, 1, 0, nullptr, 0), KOVA_ERR_ALREADY_OPEN);
    for (int32_t rc : AllPortCalls(7)) EXPECT_EQ(rc, KOVA_OK);
    EXPECT_EQ(KOVA_AddStreamFrame(7, 3, frame.data(), 100), KOVA_ERR_FRAME_TYPE);
    EXPECT_EQ(KOVA_AddStreamFrame(7, 0, frame.data(), 100), KOVA_ERR_FRAME_TYPE);
    EXPECT_EQ(KOVA_AddStreamFrame(7, 1, frame.data(), 100), KOVA_OK)
        << "the KOVA_ERR_FRAME_TYPE path released the lock";
    EXPECT_EQ(KOVA_AddStreamFrame(7, 2, frame.data(), 100), KOVA_ERR_MISSING_OBJECT) << "sound not started";
    const auto big = NalFrame(393217, 0x41);
    EXPECT_EQ(KOVA_AddStreamFrame(7, 1, big.data(), 393217), KOVA_ERR_INVALID_ARGUMENT);

    uint32_t capacity = 0;
    EXPECT_EQ(KOVA_GetStreamBufInfo(7, &capacity, nullptr), KOVA_ERR_INVALID_ARGUMENT);
    EXPECT_EQ(KOVA_GetSpeed(7, nullptr), KOVA_ERR_INVALID_ARGUMENT);
    EXPECT_EQ(KOVA_GetPlayingPos(7, nullptr), KOVA_ERR_INVALID_ARGUMENT);
    EXPECT_EQ(KOVA_GetPlayingTime(7, nullptr), KOVA_ERR_INVALID_ARGUMENT);
    EXPECT_EQ(KOVA_SetPlayingPos(7, 1001), KOVA_ERR_INVALID_ARGUMENT);
    EXPECT_EQ(KOVA_SetPlayingPos(7, 1000), KOVA_OK);
    int32_t level = 99;
    uint32_t pos = 99, seconds = 99;
    EXPECT_EQ(KOVA_GetSpeed(7, &level), KOVA_OK);
    EXPECT_EQ(KOVA_GetPlayingPos(7, &pos), KOVA_OK);
    EXPECT_EQ(KOVA_GetPlayingTime(7, &seconds), KOVA_OK);
    EXPECT_EQ(level, 0);
    EXPECT_EQ(pos, 0u);
    EXPECT_EQ(seconds, 0u);

    EXPECT_EQ(KOVA_Close(7), KOVA_OK);
    EXPECT_EQ(KOVA_Play(7), KOVA_ERR_NOT_OPEN);
}

TEST_F(PlayerApi, WindowMustBeAWindow) {
    // No X window has this id (and without an X server no id is a window).
    EXPECT_EQ(KOVA_OpenStream(9, 0x7FFFFFF0UL, 1, 0), KOVA_ERR_INVALID_ARGUMENT);
    EXPECT_EQ(KOVA_Play(9), KOVA_ERR_NOT_OPEN) << "a failed open leaves the port closed";
    EXPECT_EQ(KOVA_OpenStream(9, 0, 1, 0), KOVA_OK);
}
