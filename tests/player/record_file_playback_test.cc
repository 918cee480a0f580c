// The file side of a file port on files with damage: a read error moves the
// reading 128 KiB on and costs one tick; a damaged record costs one tick and
// playing goes on at the next frame header.
#include "player/record_file_playback.h"

#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/read_only_file.h"
#include "record_file_writer.h"

namespace {

using tessaly::platform::ReadOnlyFile;
using tessaly::player::RecordFilePlayback;

std::vector<uint8_t> Unit(uint32_t size, uint8_t fill) {
    std::vector<uint8_t> unit(size, fill);
    unit[3] = 1;  // 00 00 00 01, then a non-IDR slice header byte
    unit[4] = 0x41;
    return unit;
}

struct TempFile {
    std::string path = ::testing::TempDir() + "playback_" + std::to_string(getpid()) + ".kvr";
    ~TempFile() { std::remove(path.c_str()); }
};

// Reads records until the end: the first byte after each start code, in order.
std::vector<uint8_t> PlayAll(RecordFilePlayback &file, int *ticks) {
    std::vector<uint8_t> seen;
    *ticks = 0;
    while (!file.AtEnd()) {
        ++*ticks;
        RecordFilePlayback::Record record;
        if (file.ReadRecord(record)) seen.push_back(record.video[5]);
    }
    return seen;
}

TEST(RecordFilePlayback, ReadErrorSkips128KiB) {
    RecordFileWriter writer;
    for (uint8_t n = 0; n < 60; ++n) writer.Add(Unit(5000, n), n == 0, n);  // 16 + 5000 bytes each
    TempFile temp;
    writer.Write(temp.path);
    const uint32_t failAt = 32 + 3 * 5016 + 16;  // the payload of record 3
    ReadOnlyFile::SetReadFault([&](const std::string &, uint32_t offset, uint32_t) { return offset == failAt; });
    RecordFilePlayback file;
    ASSERT_EQ(file.Open(temp.path.c_str()), KOVA_OK);
    int ticks = 0;
    const std::vector<uint8_t> seen = PlayAll(file, &ticks);
    ReadOnlyFile::SetReadFault(nullptr);

    // Records 0-2, then from 128 KiB past the failed read: the search for the
    // next header costs one tick, and the records after it follow.
    ASSERT_GE(seen.size(), 4u);
    EXPECT_EQ(std::vector<uint8_t>(seen.begin(), seen.begin() + 3), (std::vector<uint8_t>{0, 1, 2}));
    const uint32_t resumeAt = failAt + 131072;
    const uint8_t firstAfter = static_cast<uint8_t>((resumeAt - 32 + 5015) / 5016);
    EXPECT_EQ(seen[3], firstAfter);
    for (size_t k = 4; k < seen.size(); ++k) EXPECT_EQ(seen[k], seen[k - 1] + 1);
    EXPECT_EQ(seen.back(), 59);
}

TEST(RecordFilePlayback, DamagedRecordCostsOneTick) {
    RecordFileWriter writer;
    for (uint8_t n = 0; n < 20; ++n) {
        writer.Add(Unit(3000, n), n % 5 == 0, n);
        if (n == 4) writer.Garbage(20);
    }
    writer.PadTo(100000);  // the last records must not lie in the search's final partial chunk
    TempFile temp;
    writer.Write(temp.path);
    RecordFilePlayback file;
    ASSERT_EQ(file.Open(temp.path.c_str()), KOVA_OK);
    int ticks = 0;
    const std::vector<uint8_t> seen = PlayAll(file, &ticks);
    std::vector<uint8_t> all(20);
    for (uint8_t n = 0; n < 20; ++n) all[n] = n;
    EXPECT_EQ(seen, all);
    // 20 records, one tick for the garbage and the search at the end.
    EXPECT_EQ(ticks, 22);
}

}  // namespace
