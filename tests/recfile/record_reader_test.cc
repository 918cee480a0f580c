// The frame reader on files built here, with read faults through the file's
// fault seam.
#include "recfile/record_reader.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <memory>

#include "recfile/header_search.h"
#include "record_file_builder.h"

namespace tessaly::recfile {
namespace {

class RecordReaderTest : public ::testing::Test {
protected:
    void TearDown() override { platform::ReadOnlyFile::SetReadFault(nullptr); }

    void Open(const RecordFileBuilder &file, const char *name) {
        ASSERT_EQ(reader.Open(file.Write(name).c_str(), &info), KOVA_OK);
    }

    // Fails the one read that starts at offset, once.
    void FailReadAt(uint32_t offset) {
        platform::ReadOnlyFile::SetReadFault(
            [offset, fired = std::make_shared<std::atomic<bool>>(false)](const std::string &, uint32_t at, uint32_t) {
                return at == offset && !fired->exchange(true);
            });
    }

    // Reads to the end, checking every record handed out against the one with
    // its time stamp; the time stamps in order.
    std::vector<uint32_t> ReadAll(const RecordFileBuilder &file) {
        std::vector<uint32_t> seen;
        KOVA_RecordFrame frame{};
        int32_t rc;
        while ((rc = reader.NextFrame(&frame)) == KOVA_OK && seen.size() <= file.records.size()) {
            seen.push_back(reader.TimeStamp());
            file.ExpectRecord(frame, file.records.at(reader.TimeStamp() - 1));
        }
        EXPECT_EQ(rc, KOVA_ERR_END_OF_FILE);
        EXPECT_EQ(reader.NextFrame(&frame), KOVA_ERR_END_OF_FILE);
        return seen;
    }

    RecordReader reader;
    KOVA_RecordFileInfo info{};
};

using Stamps = std::vector<uint32_t>;

TEST_F(RecordReaderTest, HandsOutEveryRecordAsStored) {
    RecordFileBuilder file;
    file.Add(true, 1000);
    file.Add(false, 3000, 88);
    file.Add(false, 0, 44);
    file.Add(true, 300000);                           // a video length beyond 18 bits
    file.Add(false, kFrameBufferBytes - 4000, 4000);  // exactly the buffer
    Open(file, "all");
    EXPECT_EQ(info.frameRate, 25u);
    EXPECT_EQ(info.width, 352);
    EXPECT_EQ(info.seconds, RecordFileBuilder::kLastTimeStamp / 25);
    EXPECT_EQ(ReadAll(file), (Stamps{1, 2, 3, 4, 5}));
    reader.Close();

    // A recording cut short mid-record (the recorder died): that record is
    // the end.
    const std::string cut = file.Write("cut");
    ASSERT_EQ(::truncate(cut.c_str(), file.Size() - 1), 0);
    ASSERT_EQ(reader.Open(cut.c_str(), &info), KOVA_OK);
    EXPECT_EQ(ReadAll(file), (Stamps{1, 2, 3, 4}));
}

TEST_F(RecordReaderTest, RefusesShortAndBadFilesAndStaysClosed) {
    struct Case {
        const char *what;
        uint32_t size;
        int at;  // header byte to change, or -1
        uint8_t value;
        int32_t expected;
    };
    const Case cases[] = {
        {"one byte short", kMinFileBytes - 1, -1, 0, KOVA_ERR_FILE_SHORT},
        {"shortest", kMinFileBytes, -1, 0, KOVA_OK},
        {"rate 0", kMinFileBytes, 5, 0, KOVA_ERR_FILE_HEADER},
        {"rate 31", kMinFileBytes, 5, 31, KOVA_ERR_FILE_HEADER},
        {"rate 30", kMinFileBytes, 5, 30, KOVA_OK},
        {"value A 2", kMinFileBytes, 4, 2, KOVA_ERR_FILE_HEADER},
        {"value A 1", kMinFileBytes, 4, 1, KOVA_OK},
        {"value B 2", kMinFileBytes, 6, 2, KOVA_ERR_FILE_HEADER},
        {"magic", kMinFileBytes, 3, 'G', KOVA_ERR_FILE_HEADER},
    };
    RecordFileBuilder good;
    good.Add(true, 100);
    good.PadTo(kMinFileBytes);
    const std::string goodPath = good.Write("good");
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        RecordFileBuilder file;
        file.PadTo(c.size);
        if (c.at >= 0) file.bytes[c.at] = c.value;
        EXPECT_EQ(reader.Open(file.Write("bad").c_str(), &info), c.expected);
        EXPECT_EQ(reader.IsOpen(), c.expected == KOVA_OK);
        reader.Close();
    }
    EXPECT_EQ(reader.Open((::testing::TempDir() + "no_such_record_file").c_str(), &info), KOVA_ERR_FILE_OPEN);
    EXPECT_EQ(reader.Open(::testing::TempDir().c_str(), &info), KOVA_ERR_FILE_OPEN);
    FailReadAt(0);
    EXPECT_EQ(reader.Open(goodPath.c_str(), &info), KOVA_ERR_FILE_READ);
    EXPECT_FALSE(reader.IsOpen());

    ASSERT_EQ(reader.Open(goodPath.c_str(), &info), KOVA_OK);
    EXPECT_EQ(reader.Open(goodPath.c_str(), &info), KOVA_ERR_ALREADY_OPEN);
    EXPECT_EQ(ReadAll(good), (Stamps{1}));
    reader.Close();
    KOVA_RecordFrame frame{};
    EXPECT_EQ(reader.NextFrame(&frame), KOVA_ERR_NOT_OPEN);
    EXPECT_EQ(reader.SetReadPos(0), KOVA_ERR_NOT_OPEN);
}

// The search starts 16 bytes past a bad header: 16 bytes of garbage or more
// cost nothing, fewer cost the record after them.
TEST_F(RecordReaderTest, SkipsGarbageBetweenRecords) {
    const std::pair<uint32_t, Stamps> cases[] = {{15, {1, 3, 4}}, {16, {1, 2, 3, 4}}, {1000, {1, 2, 3, 4}}};
    for (const auto &[garbage, expected] : cases) {
        SCOPED_TRACE(garbage);
        RecordFileBuilder file;
        file.Add(true, 500);
        file.Garbage(garbage);
        for (int k = 0; k < 3; ++k) file.Add(false, 500, 24);
        file.PadTo(100000);
        Open(file, "garbage");
        EXPECT_EQ(ReadAll(file), expected);
        EXPECT_EQ(reader.TimeStamp(), RecordFileBuilder::kLastTimeStamp);  // the padding was searched to the end
        reader.Close();
    }
}

TEST_F(RecordReaderTest, FindsAHeaderAcrossTwoSearchChunks) {
    // Bytes of the header left in the first chunk of the search.
    for (const uint32_t inFirst : {16u, 15u, 8u, 1u, 0u}) {
        SCOPED_TRACE(inFirst);
        RecordFileBuilder file;
        file.Add(true, 500);
        file.Garbage(kFrameHeaderBytes + kSearchChunkBytes - inFirst);
        file.Add(false, 500);
        file.PadTo(file.Size() + 2 * kSearchChunkBytes);
        Open(file, "straddle");
        EXPECT_EQ(ReadAll(file), (Stamps{1, 2}));
        reader.Close();
    }
}

TEST_F(RecordReaderTest, SeeksToKeyFrames) {
    // A key frame exactly at 500 thousandths (a thousandth of the length
    // rounded down, times 500), and the length's last digits at 998 so that
    // rounding later would miss it.
    RecordFileBuilder file;
    for (int k = 0; k < 30; ++k) file.Add(k % 5 == 0, 3000 + 7 * k);
    file.Garbage(500 - file.Size() % 500);
    const RecordFileBuilder::Record middle = file.Add(true, 3000);
    for (int k = 1; k < 20; ++k) file.Add(k % 5 == 0, 3000 + 7 * k);
    file.PadTo(2 * middle.offset + 998);
    ASSERT_EQ(file.Size() / 1000 * 500, middle.offset);
    Open(file, "seek");
    KOVA_RecordFrame frame{};
    EXPECT_EQ(reader.SetReadPos(500), KOVA_OK);
    ASSERT_EQ(reader.NextFrame(&frame), KOVA_OK);
    file.ExpectRecord(frame, middle);

    EXPECT_EQ(reader.SetReadPos(0), KOVA_OK);
    ASSERT_EQ(reader.NextFrame(&frame), KOVA_OK);
    file.ExpectRecord(frame, file.records[0]);

    // No key frame after 999: the reader waits at the end.
    for (const uint32_t end : {999u, 1000u}) {
        EXPECT_EQ(reader.SetReadPos(end), KOVA_OK);
        EXPECT_EQ(reader.TimeStamp(), RecordFileBuilder::kLastTimeStamp);
        EXPECT_EQ(reader.NextFrame(&frame), KOVA_ERR_END_OF_FILE);
    }
}

// A read error answers KOVA_ERR_FILE_READ once and the reading goes on
// 128 KiB past where the read was tried: in a header, a payload or a search.
TEST_F(RecordReaderTest, ReadErrorMovesOn128KiB) {
    struct Case {
        const char *what;
        uint32_t garbage;    // after the first record
        uint32_t lostBytes;  // the payload of a record lost to the error (0: none)
        uint32_t faultAfterFirst;
    };
    const Case cases[] = {
        {"header", 0, kReadErrorSkipBytes - kFrameHeaderBytes, 0},
        {"payload", 0, kReadErrorSkipBytes, kFrameHeaderBytes},
        {"search", kFrameHeaderBytes + kReadErrorSkipBytes, 0, kFrameHeaderBytes},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        RecordFileBuilder file;
        const uint32_t firstEnd = file.Add(true, 1000).End();
        file.Garbage(c.garbage);
        if (c.lostBytes) file.Add(false, c.lostBytes);
        const RecordFileBuilder::Record next = file.Add(true, 2000);
        const RecordFileBuilder::Record last = file.Add(false, 2000);
        file.PadTo(file.Size() + 2 * kSearchChunkBytes);
        ASSERT_EQ(next.offset, firstEnd + c.faultAfterFirst + kReadErrorSkipBytes);
        Open(file, "fault");
        FailReadAt(firstEnd + c.faultAfterFirst);
        KOVA_RecordFrame frame{};
        ASSERT_EQ(reader.NextFrame(&frame), KOVA_OK);
        EXPECT_EQ(reader.NextFrame(&frame), KOVA_ERR_FILE_READ);
        ASSERT_EQ(reader.NextFrame(&frame), KOVA_OK);
        file.ExpectRecord(frame, next);
        ASSERT_EQ(reader.NextFrame(&frame), KOVA_OK);
        file.ExpectRecord(frame, last);
        reader.Close();
    }
}

// The search checks only the low 18 bits of a video length: a found header
// whose byte 12 makes the record larger than the buffer ends the reading
// there instead of overrunning it. Read directly, such a header is damage to
// search past.
TEST_F(RecordReaderTest, RecordsLargerThanTheBufferAreNeverRead) {
    RecordFileBuilder file;
    const auto oversized = [&file](uint32_t videoLength) {
        file.bytes.resize(file.Size() + kFrameHeaderBytes);
        WriteFrameHeader(&file.bytes[file.Size() - kFrameHeaderBytes], true, videoLength, 0, 99);
    };
    oversized(kFrameBufferBytes + 1);
    file.Add(true, 500);
    file.Garbage(kFrameHeaderBytes);
    oversized(kFrameBufferBytes + 100);
    file.Garbage(100);
    file.Add(false, 500);
    file.PadTo(file.Size() + kFrameBufferBytes);
    Open(file, "oversized");
    KOVA_RecordFrame frame{};
    ASSERT_EQ(reader.NextFrame(&frame), KOVA_OK);
    file.ExpectRecord(frame, file.records[0]);
    EXPECT_EQ(reader.NextFrame(&frame), KOVA_ERR_END_OF_FILE);
    ASSERT_EQ(reader.NextFrame(&frame), KOVA_OK);
    file.ExpectRecord(frame, file.records[1]);
}

}  // namespace
}  // namespace tessaly::recfile
