// The bitmap a snapshot writes: its exact header, and no file when writing
// fails. The pixels, bottom-up, are checked end to end against an independent
// conversion by the stream port tests.
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tessaly/kova.h"
#include "video/snapshot.h"

using tessaly::video::SnapshotPicture;
using tessaly::video::WriteBitmap;

TEST(SnapshotFile, HeaderOfA32x6Picture) {
    std::vector<uint8_t> plane(32 * 6, 128);
    const std::string path = ::testing::TempDir() + "snapshot_test.bmp";
    ASSERT_EQ(WriteBitmap(path.c_str(), {plane.data(), plane.data(), plane.data(), 32, 16, 32, 6}), KOVA_OK);
    std::ifstream in(path, std::ios::binary);
    const std::vector<uint8_t> file{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::remove(path.c_str());
    ASSERT_EQ(file.size(), 54u + 32 * 6 * 3);
    // clang-format off
    const std::vector<uint8_t> header = {
        'B', 'M', 0x76, 2, 0, 0,  0, 0, 0, 0,  54, 0, 0, 0,  // file size, reserved, pixel offset
        40, 0, 0, 0,  32, 0, 0, 0,  6, 0, 0, 0,  1, 0,  24, 0,  // info size, width, height, planes, bits
        0, 0, 0, 0,  0x40, 2, 0, 0,  0, 0, 0, 0,  0, 0, 0, 0,  0, 0, 0, 0,  0, 0, 0, 0};
    // clang-format on
    EXPECT_EQ(std::vector<uint8_t>(file.begin(), file.begin() + 54), header);
}

TEST(SnapshotFile, UncreatableFileLeavesNothing) {
    std::vector<uint8_t> plane(16 * 16, 128);
    const SnapshotPicture p{plane.data(), plane.data(), plane.data(), 16, 8, 16, 16};
    EXPECT_EQ(WriteBitmap("/nonexistent-dir/x.bmp", p), KOVA_ERR_FILE_OPEN);
    // A write that fails half-way (file size limit) reports KOVA_ERR_FILE_OPEN and removes the partial file.
    const std::string path = ::testing::TempDir() + "snapshot_partial.bmp";
    struct rlimit saved {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit tiny = saved;
    tiny.rlim_cur = 100;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &tiny), 0);
    const int32_t rc = WriteBitmap(path.c_str(), p);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);
    EXPECT_EQ(rc, KOVA_ERR_FILE_OPEN);
    struct stat info {};
    EXPECT_NE(stat(path.c_str(), &info), 0) << "no partial bitmap is left behind";
}
