// The X server going away under a playing port: drawing stops quietly while
// decoding, callbacks and snapshots go on, and a window on a server started
// afterwards is drawn again over a fresh connection; the shared-memory
// segments go with the port. The program runs its own
// Xvfb servers and points $DISPLAY at them before the library first connects.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "stream_file.h"
#include "tessaly/kova.h"
#include "x_test_server.h"

using namespace std::chrono_literals;

namespace {

using tessaly::testsupport::PrivateXServer;
using tessaly::testsupport::XTestHost;

constexpr uint32_t kPort = 7;
constexpr uint16_t kWidth = 176, kHeight = 144;

void Count(int32_t, uint8_t *, int32_t, int32_t, int32_t, intptr_t user) {
    reinterpret_cast<std::atomic<uint32_t> *>(user)->fetch_add(1);
}

// Waits up to 30 s for condition.
template <typename Condition>
bool WaitFor(Condition condition) {
    for (auto deadline = std::chrono::steady_clock::now() + 30s; std::chrono::steady_clock::now() < deadline;
         std::this_thread::sleep_for(10ms))
        if (condition()) return true;
    return condition();
}

// Whether most of the window shows something other than its background.
bool Drawn(XTestHost &host, uint32_t window) {
    const std::vector<uint8_t> bgr = host.ReadBgr(window, kWidth, kHeight);
    size_t background = 0;
    for (size_t i = 0; i + 2 < bgr.size(); i += 3)
        background += bgr[i] == 0x99 && bgr[i + 1] == 0x66 && bgr[i + 2] == 0x33;
    return !bgr.empty() && background < bgr.size() / 3 / 4;
}

// Pushes the stream over and over, at about a camera's pace, until destroyed.
class Feeder {
public:
    explicit Feeder(uint32_t port) {
        units_ = AccessUnits(ReadFile(std::string(TESSALY_TESTDATA) + "/h264/conf/BA1_FT_C.264"));
        thread_ = std::thread([this, port] {
            for (size_t k = 0; !stop_; k = (k + 1) % units_.size()) {
                KOVA_AddStreamFrame(port, 1, units_[k].data(), static_cast<uint32_t>(units_[k].size()));
                std::this_thread::sleep_for(30ms);
            }
        });
    }
    ~Feeder() {
        stop_ = true;
        thread_.join();
    }
    bool Ok() const { return units_.size() > 25; }

private:
    std::vector<std::vector<uint8_t>> units_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// Sends what the library writes to standard error into a file while alive;
// the lines are counted, then passed on.
class StderrCapture {
public:
    StderrCapture() : path_(testing::TempDir() + "display_loss_stderr.txt") {
        std::fflush(stderr);
        saved_ = dup(2);
        const int fd = open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(fd, 2);
        close(fd);
    }
    ~StderrCapture() { Restore(); }
    std::vector<std::string> Restore() {
        std::vector<std::string> lines;
        if (saved_ < 0) return lines;
        std::fflush(stderr);
        dup2(saved_, 2);
        close(saved_);
        saved_ = -1;
        std::ifstream in(path_);
        for (std::string line; std::getline(in, line);) {
            std::fprintf(stderr, "%s\n", line.c_str());
            lines.push_back(line);
        }
        std::remove(path_.c_str());
        return lines;
    }

private:
    std::string path_;
    int saved_ = -1;
};

// Shared-memory segments this process made that still exist (one is gone
// once both sides have let go: each is marked for removal when made).
int OwnSegments() {
    std::ifstream in("/proc/sysvipc/shm");
    std::string line;
    std::getline(in, line);
    int count = 0;
    for (long key, id, perms, size, cpid; in >> key >> id >> perms >> size >> cpid; std::getline(in, line))
        count += cpid == getpid();
    return count;
}

}  // namespace

TEST(DisplayLoss, PortOutlivesItsXServerAndDrawsOnANewOne) {
    ASSERT_EQ(std::string(std::getenv("TESSALY_DEBUG") ? std::getenv("TESSALY_DEBUG") : ""), "1")
        << "the library's trace lines are counted";
    auto first = std::make_unique<PrivateXServer>();
    ASSERT_FALSE(first->Display().empty()) << "Xvfb did not start";
    setenv("DISPLAY", first->Display().c_str(), 1);
    auto firstHost = std::make_unique<XTestHost>(first->Display().c_str());
    ASSERT_TRUE(firstHost->Ok());
    const uint32_t firstWindow = firstHost->CreateWindow(kWidth, kHeight);

    ASSERT_EQ(KOVA_Init(), KOVA_OK);
    std::atomic<uint32_t> pictures{0};
    ASSERT_EQ(KOVA_OpenStreamEx(kPort, firstWindow, 1, 0, &Count, reinterpret_cast<intptr_t>(&pictures)), KOVA_OK);
    {
        Feeder feeder(kPort);
        ASSERT_TRUE(feeder.Ok());
        ASSERT_TRUE(WaitFor([&] { return Drawn(*firstHost, firstWindow); }));

        StderrCapture capture;
        // The host's own connection dies with the server; it sends nothing more.
        first->Kill();
        firstHost.reset();
        const uint32_t atLoss = pictures.load();
        const bool decodesOn = WaitFor([&] { return pictures.load() > atLoss + 60; });
        const std::string snapshot = testing::TempDir() + "display_loss.bmp";
        const int32_t snapshotResult = KOVA_Snapshot(kPort, snapshot.c_str());
        const int32_t oldWindowResult = KOVA_SetDisplayWindow(kPort, firstWindow);
        const std::vector<std::string> lines = capture.Restore();
        EXPECT_TRUE(decodesOn) << "callbacks stopped with the X server: " << pictures.load() - atLoss;
        EXPECT_EQ(snapshotResult, KOVA_OK);
        struct stat info = {};
        EXPECT_TRUE(stat(snapshot.c_str(), &info) == 0 && info.st_size > 0);
        std::remove(snapshot.c_str());
        EXPECT_EQ(oldWindowResult, KOVA_ERR_INVALID_ARGUMENT) << "a window of the dead server";
        EXPECT_LE(lines.size(), 1u) << "trace lines after the server went away";

        PrivateXServer second;
        ASSERT_FALSE(second.Display().empty());
        setenv("DISPLAY", second.Display().c_str(), 1);
        XTestHost secondHost(second.Display().c_str());
        ASSERT_TRUE(secondHost.Ok());
        const uint32_t secondWindow = secondHost.CreateWindow(kWidth, kHeight);
        ASSERT_EQ(KOVA_SetDisplayWindow(kPort, secondWindow), KOVA_OK);
        EXPECT_TRUE(WaitFor([&] { return Drawn(secondHost, secondWindow); }));
        EXPECT_EQ(KOVA_Close(kPort), KOVA_OK);

        // A fresh library start on the new server.
        EXPECT_EQ(KOVA_DeInit(), KOVA_OK);
        ASSERT_EQ(KOVA_Init(), KOVA_OK);
        const uint32_t thirdWindow = secondHost.CreateWindow(kWidth, kHeight);
        ASSERT_EQ(KOVA_OpenStreamEx(kPort, thirdWindow, 1, 0, &Count, reinterpret_cast<intptr_t>(&pictures)), KOVA_OK);
        EXPECT_TRUE(WaitFor([&] { return Drawn(secondHost, thirdWindow); }));
        // The server goes while the port draws; the close still returns.
        second.Kill();
        EXPECT_EQ(KOVA_Close(kPort), KOVA_OK);
    }
    EXPECT_EQ(KOVA_DeInit(), KOVA_OK);
    EXPECT_EQ(OwnSegments(), 0) << "segments of servers that went away";
}
