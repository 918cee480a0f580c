// Opens into failures: every allocation an opening call makes, and every
// address reservation, commit and thread start it asks for, fails once in
// turn. The call answers its documented code, leaves nothing behind (blocks,
// threads, file descriptors) and the same call then opens a port that works.
// And snapshots that cannot be written in full leave no file behind.
//
// The library is built into this program from its sources, so that the
// allocation counter's operator new and the platform layer's fault seam are
// the ones the library's code uses.
#include <dirent.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "allocation_counter.h"
#include "platform/resource_fault.h"
#include "record_file_writer.h"
#include "stream_file.h"
#include "tessaly/kova.h"
#include "tessaly/kova_stats.h"
#include "tessaly/tq_voice.h"
#include "x_test_server.h"

using namespace std::chrono_literals;
using tessaly::platform::Resource;
namespace testsupport = tessaly::testsupport;

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint32_t kPort = 7;
constexpr uint32_t kWidth = 176, kHeight = 144;  // the test stream's pictures
constexpr size_t kBitmapBytes = 54 + kWidth * kHeight * 3;

size_t Entries(const std::string &dir) {
    size_t count = 0;
    if (DIR *d = opendir(dir.c_str())) {
        while (const dirent *e = readdir(d))
            if (e->d_name[0] != '.' || (e->d_name[1] != 0 && (e->d_name[1] != '.' || e->d_name[2] != 0))) ++count;
        closedir(d);
    }
    return count;
}

// What a failed call must give back: the C++ blocks alive, the threads and the open files.
struct Footprint {
    long blocks;
    size_t threads, fds;
    bool operator==(const Footprint &) const = default;
};
std::ostream &operator<<(std::ostream &out, const Footprint &f) {
    return out << f.blocks << " blocks, " << f.threads << " threads, " << f.fds << " fds";
}
Footprint Now() { return {testsupport::LiveAllocations(), Entries("/proc/self/task"), Entries("/proc/self/fd")}; }

// The calling thread's nth reservation, commit or thread start fails.
std::atomic<long> resourceLeft{0};
std::atomic<bool> resourceRefused{false};
std::atomic<std::thread::id> resourceThread;

void FailNthResource(long n) {
    resourceThread = std::this_thread::get_id();
    resourceRefused = false;
    resourceLeft = n;
}

struct Injection {
    const char *name;
    void (*arm)(long n);  // 0 disarms
    bool (*fired)();
};
const Injection kInjections[] = {
    {"allocation", testsupport::FailNthAllocation, testsupport::AllocationFailed},
    {"address space or thread", FailNthResource, [] { return resourceRefused.load(); }},
};

struct OpenCase {
    const char *name;
    bool needsWindow;
    std::function<int32_t()> call;
    std::function<void()> undo;                             // what a successful call is taken back with
    std::function<bool()> works;                            // after a successful call
    std::vector<int32_t> failCodes;                         // answers to a failure
    std::function<void()> prepare = [] {}, finish = [] {};  // around the whole case
};

class Faults : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        setenv("SDL_AUDIODRIVER", "dummy", 1);
        tessaly::platform::SetResourceFault([](Resource) {
            if (std::this_thread::get_id() != resourceThread || resourceLeft.load() == 0) return false;
            if (--resourceLeft != 0) return false;
            resourceRefused = true;
            return true;
        });
    }
    static void TearDownTestSuite() { tessaly::platform::SetResourceFault(nullptr); }

    void SetUp() override {
        ASSERT_EQ(KOVA_Init(), KOVA_OK);
        std::string pattern = ::testing::TempDir() + "tessaly_faults_XXXXXX";
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir = pattern;
        units = AccessUnits(ReadFile(std::string(TESSALY_TESTDATA) + "/h264/conf/BA_MW_D.264"));
        ASSERT_GT(units.size(), 3u);
    }
    void TearDown() override {
        KOVA_DeInit();
        std::filesystem::remove_all(dir);
    }

    // A few frames from the key frame on; true once the port decoded a picture more.
    bool Decodes(uint32_t port) {
        const uint32_t before = Decoded(port);
        for (size_t k = 0; k < 3; ++k)
            if (KOVA_AddStreamFrame(port, KOVA_FRAME_VIDEO, units[k].data(), uint32_t(units[k].size())) != KOVA_OK)
                return false;
        return WaitForDecoded(port, before + 1);
    }
    static uint32_t Decoded(uint32_t port) {
        KOVA_PortStatistics stats{};
        stats.size = sizeof stats;
        return KOVA_GetPortStatistics(port, &stats) == KOVA_OK ? stats.picturesDecoded : 0;
    }
    static bool WaitForDecoded(uint32_t port, uint32_t count) {
        for (int k = 0; k < 1000; ++k) {
            if (Decoded(port) >= count) return true;
            std::this_thread::sleep_for(10ms);
        }
        return false;
    }

    std::string RecordFile() {
        RecordFileWriter writer;
        for (uint32_t n = 0; n < units.size(); ++n) writer.Add(units[n], HoldsIdr(units[n]), n);
        const std::string path = dir + "/file.kvr";
        writer.PadTo(16384).Write(path);
        return path;
    }

    // Every failure of the case's call in turn, each followed by the call that works.
    void FailInTurn(const OpenCase &c, const Injection &injection) {
        SCOPED_TRACE(std::string(c.name) + ", failing each " + injection.name);
        // Once in full first: what a first call sets up for good is not a leak.
        ASSERT_EQ(c.call(), KOVA_OK);
        ASSERT_TRUE(c.works());
        c.undo();
        const int failuresBefore = Failures();
        for (long n = 1;; ++n) {
            SCOPED_TRACE("request " + std::to_string(n));
            ASSERT_LT(n, 5000) << "the call never completes";
            const Footprint before = Now();
            injection.arm(n);
            const int32_t rc = c.call();
            const bool fired = injection.fired();
            injection.arm(0);
            // A call that succeeds anyway must have opened what works.
            const bool works = rc != KOVA_OK || c.works();
            if (rc == KOVA_OK) c.undo();
            // Taken before any failure is recorded: recording one allocates.
            // A thread that was just left to finish on its own may still be ending.
            Footprint after = Now();
            for (int k = 0; k < 100 && after.threads > before.threads; ++k) {
                std::this_thread::sleep_for(10ms);
                after = Now();
            }
            EXPECT_TRUE(works);
            const bool answered = std::find(c.failCodes.begin(), c.failCodes.end(), rc) != c.failCodes.end();
            EXPECT_TRUE(fired ? answered : rc == KOVA_OK) << rc;
            EXPECT_EQ(after, before);
            ASSERT_EQ(c.call(), KOVA_OK);
            EXPECT_TRUE(c.works());
            c.undo();
            // One failure of a case is told, not a run of its consequences.
            if (!fired || Failures() > failuresBefore) return;
        }
    }

    static int Failures() {
        return ::testing::UnitTest::GetInstance()->current_test_info()->result()->total_part_count();
    }

    std::string dir;
    std::vector<Bytes> units;
};

TEST_F(Faults, EveryOpenFailsCleanlyAtEveryRequestAndThenOpens) {
    testsupport::XTestHost host;
    const bool haveX = std::getenv("DISPLAY") != nullptr && host.Ok();
    const uint32_t window = haveX ? host.CreateWindow(kWidth, kHeight) : 0;
    const std::string file = RecordFile(), snapshot = dir + "/shot.bmp";
    const Bytes picture(kWidth * kHeight * 3 / 2, 0x80);
    KOVA_RecordFileInfo info{};
    KOVA_RecordFrame frame{};
    alignas(8) uint8_t voiceState[TQ_VOICE_STATE_BYTES];
    TQ_VOICE_EncReset(voiceState, TQ_VOICE_MODE_G726_32K);
    const int16_t silence[80] = {};
    Bytes voice(TQ_VOICE_MAX_FRAME_BYTES);
    TQ_VOICE_EncodeFrame(voiceState, silence, voice.data(), 80, TQ_VOICE_MODE_G726_32K);
    voice.resize(2u * (voice[2] + 2u));

    const auto close = [] { KOVA_Close(kPort); };
    const auto decodes = [&] { return Decodes(kPort); };
    const auto plays = [&] { return KOVA_Play(kPort) == KOVA_OK && WaitForDecoded(kPort, 1); };
    const auto openStream = [&] { ASSERT_EQ(KOVA_OpenStream(kPort, 0, 1, 0), KOVA_OK); };
    const auto openDecoding = [&] {
        openStream();
        ASSERT_TRUE(Decodes(kPort));
    };
    const std::vector<int32_t> missing{KOVA_ERR_MISSING_OBJECT};
    // A window's renderer that could not be made is made again at the next picture.
    const std::vector<int32_t> missingOrLater{KOVA_ERR_MISSING_OBJECT, KOVA_OK};
    const OpenCase cases[] = {
        {"KOVA_Init",
         false,
         [] { return KOVA_Init(); },
         [] { KOVA_DeInit(); },
         [&] {
             const bool ok = KOVA_OpenStream(kPort, 0, 1, 0) == KOVA_OK && Decodes(kPort);
             KOVA_Close(kPort);
             return ok;
         },
         {KOVA_OK},
         [] { KOVA_DeInit(); },
         [] { KOVA_Init(); }},
        {"KOVA_OpenStream", false, [] { return KOVA_OpenStream(kPort, 0, 2, 0); }, close, decodes, missing},
        {"KOVA_OpenStreamEx in a window", true, [&] { return KOVA_OpenStreamEx(kPort, window, 1, 1, nullptr, 0); },
         close, decodes, missingOrLater},
        {"KOVA_OpenStream_FT", false, [] { return KOVA_OpenStream_FT(kPort, 0, 1, 0, nullptr, 0); }, close, decodes,
         missing},
        {"KOVA_OpenFile", false, [&] { return KOVA_OpenFile(kPort, file.c_str(), 0, &info); }, close, plays, missing},
        {"KOVA_OpenFileEx in a window", true,
         [&] { return KOVA_OpenFileEx(kPort, file.c_str(), window, &info, nullptr, 0); }, close, plays, missingOrLater},
        {"KOVA_YUV_Open", true, [&] { return KOVA_YUV_Open(kPort, window); }, [] { KOVA_YUV_Close(kPort); },
         [&] { return KOVA_YUV_Show(kPort, 1, picture.data(), uint32_t(picture.size()), kWidth, kHeight) == 0; },
         missingOrLater},
        {"KOVA_ReadFile_Open", false, [&] { return KOVA_ReadFile_Open(kPort, file.c_str(), &info); },
         [] { KOVA_ReadFile_Close(kPort); }, [&] { return KOVA_ReadFile_GetNextFrame(kPort, &frame) == KOVA_OK; },
         missing},
        {"KOVA_Snapshot", false, [&] { return KOVA_Snapshot(kPort, snapshot.c_str()); },
         [&] { unlink(snapshot.c_str()); },
         [&] {
             struct stat s {};
             return stat(snapshot.c_str(), &s) == 0 && size_t(s.st_size) == kBitmapBytes && Entries(dir) == 2;
         },
         missing, openDecoding, close},
        {"KOVA_SetDisplayWindow", true, [&] { return KOVA_SetDisplayWindow(kPort, window); },
         [] { KOVA_SetDisplayWindow(kPort, 0); }, decodes, missingOrLater, openDecoding, close},
        {"KOVA_EnableSound",
         false,
         [] { return KOVA_EnableSound(kPort, 1); },
         [] { KOVA_EnableSound(kPort, 0); },
         [&] { return KOVA_AddStreamFrame(kPort, KOVA_FRAME_AUDIO, voice.data(), uint32_t(voice.size())) == 0; },
         {KOVA_OK, KOVA_ERR_MISSING_OBJECT},
         openStream,
         close},
    };
    for (const OpenCase &c : cases) {
        if (c.needsWindow && !haveX) {
            ADD_FAILURE() << c.name << " needs an X server (run under xvfb-run)";
            continue;
        }
        c.prepare();
        for (const Injection &injection : kInjections) FailInTurn(c, injection);
        c.finish();
        // A failed snapshot leaves neither the file nor its temporary behind.
        EXPECT_EQ(Entries(dir), 1u) << c.name;
        if (HasFatalFailure()) return;
    }
}

// A snapshot that cannot be written in full: a file-size limit (EFBIG), a full
// device (ENOSPC) and a directory that does not exist give
// KOVA_ERR_FILE_OPEN, leave no partial file and keep what was there.
TEST_F(Faults, SnapshotThatCannotBeWrittenLeavesNoPartialFile) {
    ASSERT_EQ(KOVA_OpenStream(kPort, 0, 1, 0), KOVA_OK);
    ASSERT_TRUE(Decodes(kPort));
    const std::string fresh = dir + "/fresh.bmp", old = dir + "/old.bmp";
    std::ofstream(old) << "an older picture";

    struct sigaction ignore {
    }, previous{};
    ignore.sa_handler = SIG_IGN;
    ASSERT_EQ(sigaction(SIGXFSZ, &ignore, &previous), 0);
    rlimit limit{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &limit), 0);
    const rlimit small{4096, limit.rlim_max};
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const int32_t freshRc = KOVA_Snapshot(kPort, fresh.c_str());
    const int32_t oldRc = KOVA_Snapshot(kPort, old.c_str());
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    ASSERT_EQ(sigaction(SIGXFSZ, &previous, nullptr), 0);

    EXPECT_EQ(freshRc, KOVA_ERR_FILE_OPEN);
    EXPECT_EQ(oldRc, KOVA_ERR_FILE_OPEN);
    std::string kept;
    std::getline(std::ifstream(old), kept);
    EXPECT_EQ(kept, "an older picture");
    EXPECT_EQ(Entries(dir), 1u);  // old.bmp only
    EXPECT_EQ(KOVA_Snapshot(kPort, (dir + "/missing/shot.bmp").c_str()), KOVA_ERR_FILE_OPEN);
    EXPECT_EQ(Entries(dir), 1u);

    struct stat device {};
    if (stat("/dev/full", &device) == 0) {
        EXPECT_EQ(KOVA_Snapshot(kPort, "/dev/full"), KOVA_ERR_FILE_OPEN);
        struct stat after {};
        EXPECT_EQ(stat("/dev/full", &after), 0);
        EXPECT_TRUE(S_ISCHR(after.st_mode));
    }
    // The limit lifted, the same names take the picture.
    EXPECT_EQ(KOVA_Snapshot(kPort, old.c_str()), KOVA_OK);
    struct stat s {};
    EXPECT_EQ(stat(old.c_str(), &s), 0);
    EXPECT_EQ(size_t(s.st_size), kBitmapBytes);
    EXPECT_EQ(Entries(dir), 1u);
}

}  // namespace
