// The FFmpeg path: FT byte streams cut into packets from chunks of any size,
// H.264 and Motion JPEG pictures decoded by libavcodec, a record file that
// asks for FFmpeg, and snapshots of such ports.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "picture_collector.h"
#include "record_file_writer.h"
#include "stream_file.h"
#include "tessaly/kova.h"

using namespace std::chrono_literals;

namespace {

using Bytes = std::vector<uint8_t>;

const uint8_t kMarker[8] = {0xFE, 0xFD, 0x02, 0x01, 0xFD, 0xFE, 0x01, 0x02};
const std::string kPlayerData = std::string(TESSALY_TESTDATA) + "/player/";

// The JPEG pictures of an .mjpeg file (each from its start-of-image marker).
std::vector<Bytes> JpegPictures(const Bytes &file) {
    std::vector<size_t> starts;
    for (size_t k = 0; k + 2 < file.size(); ++k)
        if (file[k] == 0xFF && file[k + 1] == 0xD8 && file[k + 2] == 0xFF) starts.push_back(k);
    starts.push_back(file.size());
    std::vector<Bytes> pictures;
    for (size_t k = 0; k + 1 < starts.size(); ++k) pictures.emplace_back(&file[starts[k]], &file[starts[k + 1]]);
    return pictures;
}

// A camera's FT stream: per packet the marker, in the FT variant 32 header
// bytes, then the payload; an H.264 access unit gets a four-byte start code
// and 8 bytes that are not part of the stream behind its first NAL header
// byte. A last marker completes the last packet.
Bytes FtStream(const std::vector<Bytes> &payloads, bool raw) {
    Bytes stream;
    for (const Bytes &payload : payloads) {
        stream.insert(stream.end(), kMarker, kMarker + 8);
        if (!raw) stream.insert(stream.end(), 32, 0x33);
        if (payload[0] == 0xFF) {
            stream.insert(stream.end(), payload.begin(), payload.end());
            continue;
        }
        const size_t body = payload[2] == 1 ? 3 : 4;  // past the start code
        stream.insert(stream.end(), {0, 0, 0, 1, payload[body]});
        stream.insert(stream.end(), 8, 0xA5);
        stream.insert(stream.end(), payload.begin() + ptrdiff_t(body) + 1, payload.end());
    }
    stream.insert(stream.end(), kMarker, kMarker + 8);
    return stream;
}

// Pushes a stream in random chunks of 1 to 4000 bytes.
void PushInChunks(uint32_t port, const Bytes &stream, bool raw, unsigned seed) {
    std::mt19937 random(seed);
    for (size_t at = 0; at < stream.size();) {
        const size_t n = std::min<size_t>(stream.size() - at, 1 + random() % 4000);
        const auto push = raw ? KOVA_AddStreamData_FT_Raw : KOVA_AddStreamData_FT;
        int32_t rc;
        while ((rc = push(port, KOVA_FRAME_VIDEO, &stream[at], static_cast<uint32_t>(n))) == KOVA_ERR_BUFFER_FULL)
            std::this_thread::sleep_for(5ms);  // cannot happen with this little; kept for slow builds
        ASSERT_EQ(rc, KOVA_OK) << "at byte " << at;
        at += n;
    }
    // A packet already complete in the buffer is taken by the next call.
    for (int k = 0; k < 4; ++k) (raw ? KOVA_AddStreamData_FT_Raw : KOVA_AddStreamData_FT)(port, 1, kMarker, 1);
}

class FfmpegPath : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(KOVA_Init(), KOVA_OK); }
    void TearDown() override { KOVA_DeInit(); }
};

// A D1 camera's first 60 pictures in FT packets, both header kinds: the
// pictures libavcodec gives equal the reference decode.
TEST_F(FfmpegPath, H264FtStreamsGiveTheReferencePictures) {
    const std::string base = std::string(TESSALY_TESTDATA) + "/sample/camera_704x576_25fps";
    std::vector<Bytes> units = AccessUnits(ReadFile(base + ".264"));
    units.resize(60);
    const std::vector<std::string> reference = ReadLines(base + ".md5");
    for (const bool raw : {false, true}) {
        SCOPED_TRACE(raw ? "raw" : "ft");
        Collected collected;
        ASSERT_EQ(KOVA_OpenStream_FT(6, 0, 1, 0, &OnPicture, reinterpret_cast<intptr_t>(&collected)), KOVA_OK);
        PushInChunks(6, FtStream(units, raw), raw, raw ? 11 : 12);
        const size_t got = WaitForPictures(collected, units.size());
        ASSERT_GE(got, units.size() - 2);  // a decoder may hold a picture back until more data comes
        std::lock_guard<std::mutex> lock(collected.mutex);
        for (size_t n = 0; n < got; ++n) ASSERT_EQ(collected.md5s[n], reference[n]) << "picture " << n;
        EXPECT_EQ(collected.width, 704);
        EXPECT_EQ(collected.height, 576);
        EXPECT_EQ(KOVA_Close(6), KOVA_OK);
    }
}

// JPEG pictures: 704 x 576, 608256 bytes each, as FFmpeg decodes them; a
// snapshot of a half-height picture is line-doubled.
TEST_F(FfmpegPath, JpegPicturesAndSnapshots) {
    const std::vector<Bytes> pictures = JpegPictures(ReadFile(kPlayerData + "testsrc2_704x576.mjpeg"));
    const std::vector<std::string> reference = ReadLines(kPlayerData + "testsrc2_704x576.md5");
    ASSERT_EQ(pictures.size(), 3u);
    Collected collected;
    ASSERT_EQ(KOVA_OpenStream_FT(7, 0, 1, 0, &OnPicture, reinterpret_cast<intptr_t>(&collected)), KOVA_OK);
    const std::string bitmap = ::testing::TempDir() + "ffmpeg_" + std::to_string(getpid()) + ".bmp";
    EXPECT_EQ(KOVA_Snapshot(7, bitmap.c_str()), KOVA_ERR_NO_PICTURE);
    PushInChunks(7, FtStream(pictures, false), false, 3);
    ASSERT_EQ(WaitForPictures(collected, 3), 3u);
    {
        std::lock_guard<std::mutex> lock(collected.mutex);
        EXPECT_EQ(collected.md5s, reference);  // "bad format or size" unless 608256 bytes
    }
    // The first packet fixed the codec: H.264 packets are dropped with 0.
    const Bytes h264 =
        FtStream({AccessUnits(ReadFile(std::string(TESSALY_TESTDATA) + "/h264/conf/BA_MW_D.264"))[0]}, false);
    EXPECT_EQ(KOVA_AddStreamData_FT(7, 1, h264.data(), static_cast<uint32_t>(h264.size())), KOVA_OK);
    EXPECT_EQ(KOVA_AddStreamData_FT(7, 2, h264.data(), 8), KOVA_ERR_FRAME_TYPE);
    EXPECT_EQ(KOVA_AddStreamData_FT(7, 1, nullptr, 8), KOVA_ERR_INVALID_ARGUMENT);
    EXPECT_EQ(KOVA_AddStreamData_FT(8, 1, h264.data(), 8), KOVA_ERR_NOT_OPEN);
    ASSERT_EQ(KOVA_Snapshot(7, bitmap.c_str()), KOVA_OK);
    EXPECT_EQ(ReadFile(bitmap).size(), 54u + 704 * 576 * 3);

    const std::vector<Bytes> half = JpegPictures(ReadFile(kPlayerData + "testsrc2_704x288.mjpeg"));
    PushInChunks(7, FtStream(half, false), false, 4);
    ASSERT_EQ(WaitForPictures(collected, 4), 4u);
    ASSERT_EQ(KOVA_Snapshot(7, bitmap.c_str()), KOVA_OK);
    EXPECT_EQ(ReadFile(bitmap).size(), 54u + 704 * 576 * 3);  // 704 x 288, doubled
    std::remove(bitmap.c_str());
    EXPECT_EQ(KOVA_AddStreamData_FT(0, 1, h264.data(), 8), KOVA_ERR_NOT_OPEN);
}

// A record file whose header asks for FFmpeg plays its JPEG records.
TEST_F(FfmpegPath, RecordFileOfJpegPictures) {
    const std::vector<Bytes> pictures = JpegPictures(ReadFile(kPlayerData + "testsrc2_704x576.mjpeg"));
    RecordFileWriter writer;
    writer.SetHeaderByte(22, 1);
    for (uint32_t n = 0; n < pictures.size(); ++n) writer.Add(pictures[n], true, n);
    const std::string path = ::testing::TempDir() + "ffmpeg_" + std::to_string(getpid()) + ".kvr";
    writer.PadTo(16384).Write(path);
    Collected collected;
    KOVA_RecordFileInfo info{};
    ASSERT_EQ(KOVA_OpenFileEx(3, path.c_str(), 0, &info, &OnPicture, reinterpret_cast<intptr_t>(&collected)), KOVA_OK);
    ASSERT_EQ(KOVA_Play(3), KOVA_OK);
    ASSERT_EQ(WaitForPictures(collected, 3), 3u);
    std::lock_guard<std::mutex> lock(collected.mutex);
    EXPECT_EQ(collected.md5s, ReadLines(kPlayerData + "testsrc2_704x576.md5"));
    std::remove(path.c_str());
}

}  // namespace
