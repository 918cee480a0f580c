// Record files played at a port: every record's picture exact at normal and
// double speed, stepping and seeking while paused, the position and time at
// the end, the picture size from the stream, refusals, and a file's sound
// through SDL's disk driver.
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "picture_collector.h"
#include "record_file_writer.h"
#include "stream_file.h"
#include "tessaly/kova.h"
#include "tessaly/tq_voice.h"

using namespace std::chrono_literals;

namespace {

const std::string kStream = std::string(TESSALY_TESTDATA) + "/h264/conf/BA_MW_D";  // QCIF, 100 pictures, 4 IDRs

std::string TempPath(const std::string &name) {
    return ::testing::TempDir() + "record_" + std::to_string(getpid()) + "_" + name;
}

// The stream muxed one access unit per record, IDRs marked as key frames.
struct MuxedStream {
    std::vector<std::vector<uint8_t>> units;
    std::vector<std::string> reference;
    std::string path;

    // The stream `repeat` times over (a seek needs more than a 32 KiB chunk
    // after the key frame it is to find).
    explicit MuxedStream(const std::string &name, size_t garbageAfter = 0, int repeat = 1) {
        for (int k = 0; k < repeat; ++k) {
            const auto once = AccessUnits(ReadFile(kStream + ".264"));
            const auto lines = ReadLines(kStream + ".md5");
            units.insert(units.end(), once.begin(), once.end());
            reference.insert(reference.end(), lines.begin(), lines.end());
        }
        RecordFileWriter writer;
        for (uint32_t n = 0; n < units.size(); ++n) {
            writer.Add(units[n], HoldsIdr(units[n]), n);
            if (n + 1 == garbageAfter) writer.Garbage(40);
        }
        path = TempPath(name);
        writer.PadTo(16384).Write(path);
    }
    ~MuxedStream() { std::remove(path.c_str()); }
};

size_t Count(Collected &c) {
    std::lock_guard<std::mutex> lock(c.mutex);
    return c.md5s.size();
}

class FilePlayback : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(KOVA_Init(), KOVA_OK); }
    void TearDown() override { KOVA_DeInit(); }
};

// Without a window a file plays as fast as it decodes; double speed shows
// every record too. Garbage between records costs one tick, no picture.
TEST_F(FilePlayback, EveryRecordExactAtNormalAndDoubleSpeed) {
    for (const bool fast : {false, true}) {
        SCOPED_TRACE(fast ? "double speed" : "normal speed");
        const MuxedStream file(fast ? "fast.kvr" : "normal.kvr", 30);
        Collected collected;
        KOVA_RecordFileInfo info{};
        ASSERT_EQ(KOVA_OpenFileEx(4, file.path.c_str(), 0, &info, &OnPicture, reinterpret_cast<intptr_t>(&collected)),
                  KOVA_OK);
        EXPECT_EQ(info.width, 176);  // the header says 0 x 0; the stream's set says QCIF
        EXPECT_EQ(info.height, 144);
        EXPECT_EQ(info.seconds, (file.units.size() - 1) / 25);
        std::this_thread::sleep_for(100ms);
        EXPECT_EQ(Count(collected), 0u) << "a file opens paused";
        if (fast) {
            ASSERT_EQ(KOVA_Fast(4), KOVA_OK);
            int32_t level = 0;
            ASSERT_EQ(KOVA_GetSpeed(4, &level), KOVA_OK);
            EXPECT_EQ(level, 1);
        }
        ASSERT_EQ(KOVA_Play(4), KOVA_OK);
        ASSERT_EQ(WaitForPictures(collected, file.reference.size()), file.reference.size());
        {
            std::lock_guard<std::mutex> lock(collected.mutex);
            EXPECT_EQ(collected.md5s, file.reference);
        }
        uint32_t position = 0, seconds = 0;
        for (int wait = 0; wait < 200 && position < 1000; ++wait) {
            ASSERT_EQ(KOVA_GetPlayingPos(4, &position), KOVA_OK);
            std::this_thread::sleep_for(5ms);
        }
        EXPECT_GE(position, 1000u);
        ASSERT_EQ(KOVA_GetPlayingTime(4, &seconds), KOVA_OK);
        EXPECT_EQ(seconds, (file.units.size() - 1) / 25);
        EXPECT_EQ(KOVA_Close(4), KOVA_OK);
    }
}

// Paused: one picture per step; a seek shows the key frame it lands on and
// the record after it; Stop goes back to the first key frame.
TEST_F(FilePlayback, StepsAndSeeksWhilePaused) {
    const MuxedStream file("steps.kvr", 0, 2);
    Collected collected;
    KOVA_RecordFileInfo info{};
    ASSERT_EQ(KOVA_OpenFileEx(9, file.path.c_str(), 0, &info, &OnPicture, reinterpret_cast<intptr_t>(&collected)),
              KOVA_OK);
    for (size_t step = 1; step <= 3; ++step) {
        ASSERT_EQ(KOVA_NextFrame(9), KOVA_OK);
        ASSERT_EQ(WaitForPictures(collected, step), step);
        std::this_thread::sleep_for(50ms);
        ASSERT_EQ(Count(collected), step);
    }
    // The first key frame at or after the middle of the file.
    size_t offset = 32, firstKeyAfterMiddle = 0;
    std::vector<size_t> offsets;
    for (const auto &unit : file.units) {
        offsets.push_back(offset);
        offset += 16 + unit.size();
    }
    const size_t length = std::max<size_t>(offset, 16384);
    for (size_t n = 0; n < file.units.size(); ++n)
        if (offsets[n] >= length / 1000 * 500 && HoldsIdr(file.units[n])) {
            firstKeyAfterMiddle = n;
            break;
        }
    ASSERT_GT(firstKeyAfterMiddle, 0u);
    ASSERT_EQ(KOVA_SetPlayingPos(9, 500), KOVA_OK);
    ASSERT_EQ(WaitForPictures(collected, 5), 5u);
    std::this_thread::sleep_for(50ms);
    {
        std::lock_guard<std::mutex> lock(collected.mutex);
        ASSERT_EQ(collected.md5s.size(), 5u);
        EXPECT_EQ(collected.md5s[3], file.reference[firstKeyAfterMiddle]);
        EXPECT_EQ(collected.md5s[4], file.reference[firstKeyAfterMiddle + 1]);
    }
    EXPECT_EQ(KOVA_SetPlayingPos(9, 1001), KOVA_ERR_INVALID_ARGUMENT);

    // Stop on a paused port does not move; on a playing one it returns to the start.
    ASSERT_EQ(KOVA_Stop(9), KOVA_OK);
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(Count(collected), 5u);
    ASSERT_EQ(KOVA_Play(9), KOVA_OK);
    ASSERT_EQ(KOVA_Stop(9), KOVA_OK);
    std::this_thread::sleep_for(100ms);
    std::lock_guard<std::mutex> lock(collected.mutex);
    ASSERT_GE(collected.md5s.size(), 7u);
    EXPECT_EQ(collected.md5s[collected.md5s.size() - 2], file.reference[0]);
    EXPECT_EQ(collected.md5s.back(), file.reference[1]);
}

TEST_F(FilePlayback, Refusals) {
    KOVA_RecordFileInfo info{};
    const std::string path = TempPath("refused.kvr");
    EXPECT_EQ(KOVA_OpenFile(0, "/nonexistent/x.kvr", 0, &info), KOVA_ERR_FILE_OPEN);
    RecordFileWriter().PadTo(16383).Write(path);
    EXPECT_EQ(KOVA_OpenFile(0, path.c_str(), 0, &info), KOVA_ERR_FILE_SHORT);
    for (const auto &[offset, value] : {std::pair<size_t, uint8_t>{5, 0}, {5, 31}, {6, 2}, {4, 2}, {0, 'k'}}) {
        RecordFileWriter().SetHeaderByte(offset, value).PadTo(16384).Write(path);
        EXPECT_EQ(KOVA_OpenFile(0, path.c_str(), 0, &info), KOVA_ERR_FILE_HEADER) << "byte " << offset;
    }
    RecordFileWriter(25).SetHeaderByte(14, 0xEE).SetHeaderByte(15, 2).PadTo(16384).Write(path);  // last stamp 750
    ASSERT_EQ(KOVA_OpenFile(0, path.c_str(), 0, &info), KOVA_OK);
    EXPECT_EQ(info.seconds, 30);
    EXPECT_EQ(info.version, 1u);
    EXPECT_EQ(KOVA_OpenFile(0, path.c_str(), 0, &info), KOVA_ERR_ALREADY_OPEN);
    EXPECT_EQ(KOVA_OpenFile(1, nullptr, 0, &info), KOVA_ERR_INVALID_ARGUMENT);
    EXPECT_EQ(KOVA_OpenFile(1, path.c_str(), 0, nullptr), KOVA_ERR_INVALID_ARGUMENT);
    EXPECT_EQ(KOVA_OpenFile(256, path.c_str(), 0, &info), KOVA_ERR_INVALID_ARGUMENT);
    EXPECT_EQ(KOVA_Play(0), KOVA_OK);  // nothing to read: the port idles at the end
    std::remove(path.c_str());
}

// A file that asks for sound starts it; its voice frames come out of the
// device as the codec decodes them, at normal speed only.
TEST_F(FilePlayback, SoundOfAFile) {
    setenv("SDL_AUDIODRIVER", "disk", 1);
    const std::string output = TempPath("sound.raw");
    setenv("SDL_DISKAUDIOFILE", output.c_str(), 1);
    const std::vector<uint8_t> pcmBytes = ReadFile(std::string(TESSALY_TESTDATA) + "/voice/noise.pcm");
    std::vector<int16_t> pcm(pcmBytes.size() / 2);
    ASSERT_EQ(pcm.size(), 8000u);
    std::memcpy(pcm.data(), pcmBytes.data(), pcm.size() * 2);

    // 25 records of 4 frames: the whole second of the sample, within what the
    // port's queue holds when the file plays faster than real time.
    alignas(8) uint8_t encoder[TQ_VOICE_STATE_BYTES], decoder[TQ_VOICE_STATE_BYTES];
    TQ_VOICE_EncReset(encoder, TQ_VOICE_MODE_G726_32K);
    TQ_VOICE_DecReset(decoder, TQ_VOICE_MODE_G726_32K);
    const auto units = AccessUnits(ReadFile(kStream + ".264"));
    RecordFileWriter writer(25, true);
    std::vector<int16_t> expected;
    for (uint32_t n = 0; n < 25; ++n) {
        std::vector<uint8_t> audio;
        for (int f = 0; f < 4; ++f) {
            uint8_t frame[TQ_VOICE_MAX_FRAME_BYTES];
            ASSERT_EQ(TQ_VOICE_EncodeFrame(encoder, &pcm[(n * 4 + f) * 80], frame, 80, TQ_VOICE_MODE_G726_32K), 0u);
            audio.insert(audio.end(), frame, frame + 44);
            int16_t out[TQ_VOICE_MAX_SAMPLES], count = 0;
            TQ_VOICE_DecodeFrame(decoder, frame, out, TQ_VOICE_MODE_G726_32K, &count);
            expected.insert(expected.end(), out, out + count);
        }
        writer.Add(units[n], HoldsIdr(units[n]), n, audio);
    }
    const std::string path = TempPath("sound.kvr");
    writer.PadTo(16384).Write(path);

    KOVA_RecordFileInfo info{};
    ASSERT_EQ(KOVA_OpenFile(2, path.c_str(), 0, &info), KOVA_OK);
    ASSERT_EQ(KOVA_Play(2), KOVA_OK);
    std::this_thread::sleep_for(1800ms);
    ASSERT_EQ(KOVA_Close(2), KOVA_OK);
    const std::vector<uint8_t> played = ReadFile(output);
    std::vector<int16_t> heard;
    for (size_t k = 0; k + 1 < played.size(); k += 2) {
        const auto s = static_cast<int16_t>(played[k] | played[k + 1] << 8);
        if (s != 0) heard.push_back(s);
    }
    std::vector<int16_t> wanted;
    for (int16_t s : expected)
        if (s != 0) wanted.push_back(s);
    EXPECT_EQ(heard, wanted);

    // At double speed the pictures go on and the sound stays silent.
    const std::string silent = TempPath("silent.raw");
    setenv("SDL_DISKAUDIOFILE", silent.c_str(), 1);
    ASSERT_EQ(KOVA_OpenFile(2, path.c_str(), 0, &info), KOVA_OK);
    ASSERT_EQ(KOVA_Fast(2), KOVA_OK);
    ASSERT_EQ(KOVA_Play(2), KOVA_OK);
    std::this_thread::sleep_for(1000ms);  // 25 records at 20 ms
    uint32_t position = 0;
    ASSERT_EQ(KOVA_GetPlayingPos(2, &position), KOVA_OK);
    EXPECT_GE(position, 1000u);
    ASSERT_EQ(KOVA_Close(2), KOVA_OK);
    for (uint8_t b : ReadFile(silent)) ASSERT_EQ(b, 0);
    std::remove(path.c_str());
    std::remove(output.c_str());
    std::remove(silent.c_str());
}

}  // namespace
