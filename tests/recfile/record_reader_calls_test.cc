// The exported reader calls: the guard order, the reader table's life across
// KOVA_DeInit, and readers used from several threads at once.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "record_file_builder.h"
#include "tessaly/kova.h"

namespace tessaly::recfile {
namespace {

RecordFileBuilder SmallFile() {
    RecordFileBuilder file;
    for (int k = 0; k < 200; ++k) file.Add(k % 10 == 0, 100 + k, k % 3 == 0 ? 44 : 0);
    file.PadTo(kMinFileBytes);
    return file;
}

TEST(ReaderCalls, GuardOrderAndRefusals) {
    const RecordFileBuilder file = SmallFile();
    const std::string path = file.Write("calls");
    KOVA_RecordFileInfo info{};
    KOVA_RecordFrame frame{};

    KOVA_DeInit();
    EXPECT_EQ(KOVA_ReadFile_Open(256, nullptr, nullptr), KOVA_ERR_NOT_INITIALISED);
    EXPECT_EQ(KOVA_ReadFile_GetNextFrame(256, nullptr), KOVA_ERR_NOT_INITIALISED);
    EXPECT_EQ(KOVA_ReadFile_SetReadPos(256, 1001), KOVA_ERR_NOT_INITIALISED);
    EXPECT_EQ(KOVA_ReadFile_Close(256), KOVA_ERR_NOT_INITIALISED);

    ASSERT_EQ(KOVA_Init(), KOVA_OK);
    EXPECT_EQ(KOVA_ReadFile_Open(256, path.c_str(), &info), KOVA_ERR_INVALID_ARGUMENT);
    EXPECT_EQ(KOVA_ReadFile_Open(0, nullptr, &info), KOVA_ERR_INVALID_ARGUMENT);
    EXPECT_EQ(KOVA_ReadFile_Open(0, path.c_str(), nullptr), KOVA_ERR_INVALID_ARGUMENT);
    EXPECT_EQ(KOVA_ReadFile_GetNextFrame(256, &frame), KOVA_ERR_INVALID_ARGUMENT);
    EXPECT_EQ(KOVA_ReadFile_GetNextFrame(0, nullptr), KOVA_ERR_INVALID_ARGUMENT);
    EXPECT_EQ(KOVA_ReadFile_SetReadPos(256, 0), KOVA_ERR_INVALID_ARGUMENT);
    EXPECT_EQ(KOVA_ReadFile_SetReadPos(0, 1001), KOVA_ERR_INVALID_ARGUMENT);
    EXPECT_EQ(KOVA_ReadFile_Close(256), KOVA_ERR_INVALID_ARGUMENT);
    EXPECT_EQ(KOVA_ReadFile_GetNextFrame(0, &frame), KOVA_ERR_NOT_OPEN);
    EXPECT_EQ(KOVA_ReadFile_SetReadPos(0, 0), KOVA_ERR_NOT_OPEN);
    EXPECT_EQ(KOVA_ReadFile_Close(0), KOVA_OK);

    ASSERT_EQ(KOVA_ReadFile_Open(255, path.c_str(), &info), KOVA_OK);
    EXPECT_EQ(KOVA_ReadFile_Open(255, path.c_str(), &info), KOVA_ERR_ALREADY_OPEN);
    EXPECT_EQ(KOVA_ReadFile_GetNextFrame(254, &frame), KOVA_ERR_NOT_OPEN);

    // KOVA_DeInit leaves the reader open where it stood.
    ASSERT_EQ(KOVA_ReadFile_GetNextFrame(255, &frame), KOVA_OK);
    KOVA_DeInit();
    EXPECT_EQ(KOVA_ReadFile_GetNextFrame(255, &frame), KOVA_ERR_NOT_INITIALISED);
    ASSERT_EQ(KOVA_Init(), KOVA_OK);
    ASSERT_EQ(KOVA_ReadFile_GetNextFrame(255, &frame), KOVA_OK);
    file.ExpectRecord(frame, file.records[1]);

    EXPECT_EQ(KOVA_ReadFile_Close(255), KOVA_OK);
    EXPECT_EQ(KOVA_ReadFile_GetNextFrame(255, &frame), KOVA_ERR_NOT_OPEN);
    KOVA_DeInit();
}

// Two threads share reader 7, whose lock hands each record to exactly one of
// them, while reader 8 reads the same file on its own.
TEST(ReaderCalls, ReadersServeThreadsInParallel) {
    const RecordFileBuilder file = SmallFile();
    const std::string path = file.Write("threads");
    ASSERT_EQ(KOVA_Init(), KOVA_OK);
    KOVA_RecordFileInfo info{};
    ASSERT_EQ(KOVA_ReadFile_Open(7, path.c_str(), &info), KOVA_OK);
    ASSERT_EQ(KOVA_ReadFile_Open(8, path.c_str(), &info), KOVA_OK);

    const auto drain = [](uint32_t reader, size_t *count) {
        KOVA_RecordFrame frame{};
        int32_t rc;
        while ((rc = KOVA_ReadFile_GetNextFrame(reader, &frame)) == KOVA_OK) ++*count;
        EXPECT_EQ(rc, KOVA_ERR_END_OF_FILE);
    };
    size_t shared[2] = {}, alone = 0;
    std::thread first(drain, 7, &shared[0]), second(drain, 7, &shared[1]);
    KOVA_RecordFrame frame{};
    for (const auto &record : file.records) {
        const int32_t rc = KOVA_ReadFile_GetNextFrame(8, &frame);
        EXPECT_EQ(rc, KOVA_OK);
        if (rc != KOVA_OK) break;  // the threads are joined below either way
        file.ExpectRecord(frame, record);
    }
    drain(8, &alone);
    first.join();
    second.join();
    EXPECT_EQ(shared[0] + shared[1], file.records.size());
    EXPECT_EQ(alone, 0u);

    EXPECT_EQ(KOVA_ReadFile_Close(7), KOVA_OK);
    EXPECT_EQ(KOVA_ReadFile_Close(8), KOVA_OK);
    KOVA_DeInit();
}

}  // namespace
}  // namespace tessaly::recfile
