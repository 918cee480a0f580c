// The bitmap a snapshot writes: its exact header, bottom-up rows, and the
// fixed-point colour conversion on known values.
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
using tessaly::video::YuvToBgr;

namespace {

std::vector<uint8_t> Bgr(uint8_t y, uint8_t u, uint8_t v) {
    uint8_t out[3];
    YuvToBgr(y, u, v, out);
    return {out[0], out[1], out[2]};
}

uint32_t Le32(const std::vector<uint8_t> &b, size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (uint32_t{b[at + 3]} << 24);
}

}  // namespace

TEST(SnapshotColour, KnownConversions) {
    using V = std::vector<uint8_t>;
    EXPECT_EQ(Bgr(16, 128, 128), (V{0, 0, 0}));
    EXPECT_EQ(Bgr(235, 128, 128), (V{255, 255, 255}));
    EXPECT_EQ(Bgr(126, 128, 128), (V{128, 128, 128}));
    EXPECT_EQ(Bgr(81, 90, 240), (V{0, 0, 254}));
    EXPECT_EQ(Bgr(145, 54, 34), (V{0, 255, 0}));
    EXPECT_EQ(Bgr(0, 128, 128), (V{0, 0, 0})) << "below 16 is black, not negative";
    EXPECT_EQ(Bgr(255, 255, 0)[0], 255) << "clamped";
}

TEST(SnapshotFile, HeaderAndBottomUpRows) {
    // 32 x 6: row r has luma 16 + 40 r, so the rows are told apart after conversion.
    const uint32_t w = 32, h = 6;
    std::vector<uint8_t> y(w * h), u(w / 2 * h / 2, 128), v(w / 2 * h / 2, 128);
    for (uint32_t r = 0; r < h; ++r)
        for (uint32_t x = 0; x < w; ++x) y[r * w + x] = static_cast<uint8_t>(16 + 40 * r);
    const std::string path = ::testing::TempDir() + "snapshot_test.bmp";
    SnapshotPicture p{y.data(), u.data(), v.data(), w, w / 2, w, h};
    ASSERT_EQ(WriteBitmap(path.c_str(), p), KOVA_OK);

    std::ifstream in(path, std::ios::binary);
    const std::vector<uint8_t> file{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    const uint32_t data = w * h * 3;
    ASSERT_EQ(file.size(), 54u + data);
    EXPECT_EQ(file[0], 'B');
    EXPECT_EQ(file[1], 'M');
    EXPECT_EQ(Le32(file, 2), 54u + data);
    EXPECT_EQ(Le32(file, 6), 0u);
    EXPECT_EQ(Le32(file, 10), 54u);
    EXPECT_EQ(Le32(file, 14), 40u);
    EXPECT_EQ(Le32(file, 18), w);
    EXPECT_EQ(Le32(file, 22), h);
    EXPECT_EQ(file[26] | (file[27] << 8), 1);
    EXPECT_EQ(file[28] | (file[29] << 8), 24);
    EXPECT_EQ(Le32(file, 30), 0u);
    EXPECT_EQ(Le32(file, 34), data);
    for (size_t k = 38; k < 54; ++k) EXPECT_EQ(file[k], 0) << "byte " << k;
    // The first stored row is the picture's bottom row.
    for (uint32_t stored = 0; stored < h; ++stored) {
        const uint8_t expected = Bgr(static_cast<uint8_t>(16 + 40 * (h - 1 - stored)), 128, 128)[0];
        for (uint32_t x = 0; x < w * 3; ++x) ASSERT_EQ(file[54 + stored * w * 3 + x], expected) << "row " << stored;
    }
    std::remove(path.c_str());
}

TEST(SnapshotFile, UncreatableFileLeavesNothing) {
    std::vector<uint8_t> plane(16 * 16, 128);
    SnapshotPicture p{plane.data(), plane.data(), plane.data(), 16, 8, 16, 16};
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
