// The comparison programs' common ground: a stream read whole, and the
// cropped 4:2:0 picture (Y, then U, then V) of either decoder, for equality
// and distortion checks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/frame.h>
}

#include "h264dec/h264_decoder.h"

namespace tessaly::bench {

inline std::vector<uint8_t> ReadFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct Picture {
    int width = 0, height = 0;
    std::vector<uint8_t> yuv;  // Y, then U, then V

    bool operator==(const Picture &) const = default;
};

inline void AppendPlane(Picture &out, const uint8_t *plane, int stride, int x, int y, int w, int h) {
    for (int row = 0; row < h; ++row) {
        const uint8_t *line = plane + static_cast<ptrdiff_t>(y + row) * stride + x;
        out.yuv.insert(out.yuv.end(), line, line + w);
    }
}

inline Picture Cropped(const DecodedPicture &d) {
    Picture p;
    p.width = static_cast<int>(d.width - d.cropLeft - d.cropRight);
    p.height = static_cast<int>(d.height - d.cropTop - d.cropBottom);
    const int cw = (p.width + 1) / 2, ch = (p.height + 1) / 2;
    const int cx = static_cast<int>(d.cropLeft / 2), cy = static_cast<int>(d.cropTop / 2);
    AppendPlane(p, d.y, static_cast<int>(d.yStride), static_cast<int>(d.cropLeft), static_cast<int>(d.cropTop), p.width,
                p.height);
    AppendPlane(p, d.u, static_cast<int>(d.uvStride), cx, cy, cw, ch);
    AppendPlane(p, d.v, static_cast<int>(d.uvStride), cx, cy, cw, ch);
    return p;
}

inline Picture Cropped(const AVFrame &f) {
    Picture p;
    p.width = f.width;
    p.height = f.height;
    const int cw = (f.width + 1) / 2, ch = (f.height + 1) / 2;
    AppendPlane(p, f.data[0], f.linesize[0], 0, 0, f.width, f.height);
    AppendPlane(p, f.data[1], f.linesize[1], 0, 0, cw, ch);
    AppendPlane(p, f.data[2], f.linesize[2], 0, 0, cw, ch);
    return p;
}

}  // namespace tessaly::bench
