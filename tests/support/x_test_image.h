// What a window showing a planar 4:2:0 picture should look like, worked out
// independently of the library: the picture scaled to the window in 4:2:0 by
// libswscale, then converted with the BT.601 studio-range equations.
#pragma once

extern "C" {
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace tessaly::testsupport {

// B, G, R per pixel of a width x height window.
inline std::vector<uint8_t> ExpectedWindowBgr(const uint8_t *const planes[3], const int strides[3], int pictureWidth,
                                              int pictureHeight, int width, int height) {
    SwsContext *scaler = sws_getContext(pictureWidth, pictureHeight, AV_PIX_FMT_YUV420P, width, height,
                                        AV_PIX_FMT_YUV420P, SWS_BILINEAR, nullptr, nullptr, nullptr);
    const int cw = (width + 1) / 2, ch = (height + 1) / 2;
    std::vector<uint8_t> y(size_t(width) * size_t(height)), u(size_t(cw) * size_t(ch)), v(u.size());
    uint8_t *dst[4] = {y.data(), u.data(), v.data(), nullptr};
    const int dstStride[4] = {width, cw, cw, 0};
    const uint8_t *src[4] = {planes[0], planes[1], planes[2], nullptr};
    const int srcStride[4] = {strides[0], strides[1], strides[2], 0};
    if (scaler) sws_scale(scaler, src, srcStride, 0, pictureHeight, dst, dstStride);
    sws_freeContext(scaler);

    std::vector<uint8_t> bgr(size_t(width) * size_t(height) * 3);
    auto clamp = [](double x) { return uint8_t(std::clamp(std::lround(x), 0L, 255L)); };
    for (int r = 0; r < height; ++r)
        for (int x = 0; x < width; ++x) {
            const double luma = 1.164 * (y[size_t(r) * size_t(width) + size_t(x)] - 16);
            const size_t c = size_t(r / 2) * size_t(cw) + size_t(x / 2);
            const double cb = u[c] - 128.0, cr = v[c] - 128.0;
            uint8_t *out = &bgr[(size_t(r) * size_t(width) + size_t(x)) * 3];
            out[0] = clamp(luma + 2.017 * cb);
            out[1] = clamp(luma - 0.392 * cb - 0.813 * cr);
            out[2] = clamp(luma + 1.596 * cr);
        }
    return bgr;
}

// The mean absolute channel difference of two images, and the share of
// channel values more than 24 apart; (255, 1) when the sizes differ.
inline std::pair<double, double> ImageDifference(const std::vector<uint8_t> &a, const std::vector<uint8_t> &b) {
    if (a.size() != b.size() || a.empty()) return {255, 1};
    uint64_t sum = 0, far = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        const int diff = std::abs(int(a[i]) - int(b[i]));
        sum += uint64_t(diff);
        far += diff > 24;
    }
    return {double(sum) / double(a.size()), double(far) / double(a.size())};
}

}  // namespace tessaly::testsupport
