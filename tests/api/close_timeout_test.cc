// A worker stuck in the host's callback past the close time-out: the close
// still returns (after 10 s), says so on the diagnostic output, and the
// abandoned worker finishes later without harm and without another callback;
// the port reopens at once.
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tessaly/kova.h"

using namespace std::chrono_literals;

namespace {

std::atomic<bool> g_inCallback{false};
std::atomic<bool> g_release{false};
std::atomic<int> g_calls{0};

void BlockingCallback(int32_t, uint8_t *, int32_t, int32_t, int32_t, intptr_t) {
    ++g_calls;
    g_inCallback = true;
    for (int k = 0; k < 30000 && !g_release; ++k) std::this_thread::sleep_for(1ms);
}

std::vector<uint8_t> ReadFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace

TEST(CloseTimeout, StuckWorkerIsAbandonedAndTheDiagnosticLineWritten) {
    ASSERT_STREQ(std::getenv("TESSALY_DEBUG"), "1") << "ctest sets TESSALY_DEBUG=1 for this test";
    const std::vector<uint8_t> stream = ReadFile(std::string(TESSALY_TESTDATA) + "/h264/conf/BA1_Sony_D.jsv");
    ASSERT_FALSE(stream.empty());
    ASSERT_EQ(KOVA_Init(), KOVA_OK);
    ASSERT_EQ(KOVA_OpenStreamEx(1, 0, 1, 0, &BlockingCallback, 0), KOVA_OK);
    // The whole stream as one frame: pictures come out during its decode.
    ASSERT_EQ(KOVA_AddStreamFrame(1, 1, stream.data(), static_cast<uint32_t>(stream.size())), KOVA_OK);
    ASSERT_EQ(KOVA_NextFrame(1), KOVA_OK);
    for (int k = 0; k < 5000 && !g_inCallback; ++k) std::this_thread::sleep_for(1ms);
    ASSERT_TRUE(g_inCallback.load()) << "no picture reached the callback";

    // Capture standard error around the close.
    char path[] = "/tmp/tessaly-close-XXXXXX";
    const int capture = mkstemp(path);
    ASSERT_GE(capture, 0);
    std::fflush(stderr);
    const int saved = dup(2);
    dup2(capture, 2);
    const auto t0 = std::chrono::steady_clock::now();
    const int32_t rc = KOVA_Close(1);
    const auto waited = std::chrono::steady_clock::now() - t0;
    std::fflush(stderr);
    dup2(saved, 2);
    close(saved);
    close(capture);
    std::ifstream in(path);
    const std::string err{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    unlink(path);

    EXPECT_EQ(rc, KOVA_OK);
    EXPECT_GE(waited, 9900ms);
    EXPECT_LT(waited, 20000ms);
    EXPECT_NE(err.find("CVideoPlayer::Close() Wait Time Out, m_pVideoDecDDraw->nFlag "), std::string::npos) << err;
    EXPECT_EQ(KOVA_Play(1), KOVA_ERR_NOT_OPEN);
    EXPECT_EQ(KOVA_OpenStream(1, 0, 1, 0), KOVA_OK) << "the port reopens while the old worker still runs";

    // Let the abandoned worker go: it finishes its frame on the state it kept,
    // and the rest of the frame's pictures reach no callback.
    const int before = g_calls.load();
    g_release = true;
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(g_calls.load(), before) << "a callback started after the close returned";
    EXPECT_EQ(KOVA_DeInit(), KOVA_OK);
}
