// Ports on a host without FFmpeg, through the shared library: this program
// answers dlopen itself (the executable's definition comes before libc's),
// refusing any libavcodec, so KOVA_Init finds none. Only the FFmpeg path goes
// quiet: FT ports and record files that select FFmpeg take their data and
// show nothing, while the library's own decoder plays on. A program of its
// own so that the other API tests keep FFmpeg.
#include <dlfcn.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "picture_collector.h"
#include "record_file_writer.h"
#include "stream_file.h"
#include "tessaly/kova.h"

// Default visibility (the build hides symbols) puts it before libc's for the library too.
extern "C" __attribute__((visibility("default"))) void *dlopen(const char *file, int mode) {
    using Open = void *(*)(const char *, int);
    static const Open next = reinterpret_cast<Open>(dlsym(RTLD_NEXT, "dlopen"));
    if (file != nullptr && std::strstr(file, "libavcodec") != nullptr) return nullptr;
    return next(file, mode);
}

using namespace std::chrono_literals;

namespace {

using Bytes = std::vector<uint8_t>;

const std::string kData = TESSALY_TESTDATA;

// Polls until `done`, for up to 10 s.
template <typename Done>
bool WaitFor(Done done) {
    for (auto start = std::chrono::steady_clock::now(); std::chrono::steady_clock::now() - start < 10s;
         std::this_thread::sleep_for(5ms))
        if (done()) return true;
    return done();
}

size_t PictureCount(Collected &collected) {
    std::lock_guard<std::mutex> lock(collected.mutex);
    return collected.md5s.size();
}

class FfmpegHidden : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(dlopen("libavcodec.so.59", RTLD_NOW), nullptr);  // the stand-in is in place
        ASSERT_EQ(KOVA_Init(), KOVA_OK);
    }
    void TearDown() override { EXPECT_EQ(KOVA_DeInit(), KOVA_OK); }

    const std::string bitmap_ = ::testing::TempDir() + "ffmpeg_hidden_" + std::to_string(getpid()) + ".bmp";
};

// An FT port takes a camera's packets and drops them undecoded; a stream
// port beside it decodes its conformance stream as ever.
TEST_F(FfmpegHidden, FtPortTakesDataAndShowsNothing) {
    const uint8_t marker[8] = {0xFE, 0xFD, 0x02, 0x01, 0xFD, 0xFE, 0x01, 0x02};
    Bytes stream;
    for (const Bytes &unit : AccessUnits(ReadFile(kData + "/sample/camera_704x576_25fps.264"))) {
        if (stream.size() > 100000) break;
        // Marker, 32 header bytes, then the unit with 8 bytes behind its first NAL header byte.
        const size_t body = unit[2] == 1 ? 3 : 4;
        stream.insert(stream.end(), marker, marker + 8);
        stream.insert(stream.end(), 32, 0);
        stream.insert(stream.end(), {0, 0, 0, 1, unit[body]});
        stream.insert(stream.end(), 8, 0xA5);
        stream.insert(stream.end(), unit.begin() + ptrdiff_t(body) + 1, unit.end());
    }
    stream.insert(stream.end(), marker, marker + 8);

    Collected ft, native;
    ASSERT_EQ(KOVA_OpenStream_FT(1, 0, 1, 0, &OnPicture, reinterpret_cast<intptr_t>(&ft)), KOVA_OK);
    ASSERT_EQ(KOVA_OpenStreamEx(2, 0, 1, 0, &OnPicture, reinterpret_cast<intptr_t>(&native)), KOVA_OK);
    for (size_t at = 0; at < stream.size(); at += 4096)
        ASSERT_EQ(KOVA_AddStreamData_FT(1, KOVA_FRAME_VIDEO, &stream[at],
                                        uint32_t(std::min<size_t>(4096, stream.size() - at))),
                  KOVA_OK);
    for (int k = 0; k < 4; ++k) EXPECT_EQ(KOVA_AddStreamData_FT(1, KOVA_FRAME_VIDEO, marker, 1), KOVA_OK);

    const std::string base = kData + "/h264/conf/BA_MW_D";
    const std::vector<Bytes> units = AccessUnits(ReadFile(base + ".264"));
    for (const Bytes &unit : units)
        ASSERT_EQ(KOVA_AddStreamFrame(2, KOVA_FRAME_VIDEO, unit.data(), uint32_t(unit.size())), KOVA_OK);
    const size_t got = WaitForPictures(native, units.size() - 2);
    EXPECT_GE(got, units.size() - 2);  // a live port keeps its last pictures until more data comes
    {
        const std::vector<std::string> reference = ReadLines(base + ".md5");
        std::lock_guard<std::mutex> lock(native.mutex);
        for (size_t n = 0; n < got && n < reference.size(); ++n) ASSERT_EQ(native.md5s[n], reference[n]) << n;
    }

    // Every queued packet has been taken off the FT port's buffer.
    uint32_t capacity = 0, fill = 1;
    EXPECT_TRUE(WaitFor([&] { return KOVA_GetStreamBufInfo(1, &capacity, &fill) == KOVA_OK && fill == 0; }));
    EXPECT_EQ(PictureCount(ft), 0u);
    EXPECT_EQ(KOVA_Snapshot(1, bitmap_.c_str()), KOVA_ERR_NO_PICTURE);
    EXPECT_EQ(KOVA_Snapshot(2, bitmap_.c_str()), KOVA_OK);
    std::remove(bitmap_.c_str());
}

// The same record file plays with the library's decoder, and without
// pictures once its header selects FFmpeg (byte 22).
TEST_F(FfmpegHidden, RecordFileSelectingFfmpegPlaysWithoutPictures) {
    const std::vector<Bytes> units = AccessUnits(ReadFile(kData + "/sample/camera_704x576_25fps.264"));
    for (const uint8_t selector : {0, 1}) {
        SCOPED_TRACE(selector ? "FFmpeg" : "own decoder");
        RecordFileWriter writer;
        writer.SetHeaderByte(22, selector);
        for (uint32_t n = 0; n < 10; ++n) writer.Add(units[n], HoldsIdr(units[n]), n * 40);
        const std::string path = ::testing::TempDir() + "ffmpeg_hidden_" + std::to_string(getpid()) + ".kvr";
        writer.PadTo(16384).Write(path);

        Collected collected;
        KOVA_RecordFileInfo info{};
        ASSERT_EQ(KOVA_OpenFileEx(3, path.c_str(), 0, &info, &OnPicture, reinterpret_cast<intptr_t>(&collected)),
                  KOVA_OK);
        ASSERT_EQ(KOVA_Play(3), KOVA_OK);
        uint32_t position = 0;
        EXPECT_TRUE(WaitFor([&] { return KOVA_GetPlayingPos(3, &position) == KOVA_OK && position >= 1000; }));
        if (selector) {
            EXPECT_EQ(PictureCount(collected), 0u);
            EXPECT_EQ(KOVA_Snapshot(3, bitmap_.c_str()), KOVA_ERR_NO_PICTURE);
        } else {
            EXPECT_EQ(WaitForPictures(collected, 10), 10u);
        }
        EXPECT_EQ(KOVA_Close(3), KOVA_OK);
        std::remove(path.c_str());
    }
}

}  // namespace
