// Helpers for tests that drive a whole decoder.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "h264dec/h264_decoder.h"

namespace h264test {

// A stream of the test corpus, whole; empty when it cannot be read.
inline std::vector<uint8_t> ReadStream(const std::string &name) {
    std::vector<uint8_t> bytes;
    FILE *f = std::fopen((std::string(TESSALY_H264_TESTDATA) + "/" + name).c_str(), "rb");
    if (!f) return bytes;
    uint8_t buf[65536];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) bytes.insert(bytes.end(), buf, buf + n);
    std::fclose(f);
    return bytes;
}

struct DecoderDeleter {
    void operator()(H264Decoder *h) const { H264Decoder_Destroy(h); }
};

inline H264Decoder *MakeDecoder(uint32_t widthMbs, uint32_t heightMbs, uint32_t bufferCount, uint32_t modeFlags = 0) {
    DecoderAttr attr{};
    attr.widthMbs = widthMbs;
    attr.heightMbs = heightMbs;
    attr.bufferCount = bufferCount;
    attr.modeFlags = modeFlags;
    return H264Decoder_Create(&attr);
}

// One output picture as seen by a caller: the first luma sample identifies
// the coded picture (the builder's PCM value), plus the record's fields.
struct Out {
    int result;
    uint8_t luma = 0;
    uint8_t bottomLuma = 0;  // first sample of the second line (bottom field)
    DecodedPicture pic{};
};

inline Out DecodeCall(H264Decoder *h, const uint8_t *data, size_t size, uint32_t flags = 0, uint32_t userLow = 0,
                      uint32_t userHigh = 0) {
    Out o;
    o.result = H264Decoder_Decode(h, data, uint32_t(size), userLow, userHigh, &o.pic, flags);
    if (o.result == DEC_OK) {
        o.luma = o.pic.y[0];
        o.bottomLuma = o.pic.y[o.pic.yStride];
    }
    return o;
}

// Feeds `stream` in pieces of `piece` bytes and drains the decoder with end of
// stream, handing every picture to `onPicture`; returns the last result.
template <class OnPicture>
int DecodeInPieces(H264Decoder *h, const std::vector<uint8_t> &stream, size_t piece, OnPicture onPicture) {
    DecodedPicture pic;
    for (size_t pos = 0; pos < stream.size(); pos += piece) {
        const size_t n = std::min(piece, stream.size() - pos);
        for (int r = H264Decoder_Decode(h, stream.data() + pos, uint32_t(n), 0, 0, &pic, 0); r == DEC_OK;
             r = H264Decoder_Decode(h, nullptr, 0, 0, 0, &pic, 0))
            onPicture(pic);
    }
    int r, guard = 0;  // a decoder that never stops must not hang the test
    while ((r = H264Decoder_Decode(h, nullptr, 0, 0, 0, &pic, DEC_FLAG_END_OF_STREAM)) == DEC_OK && ++guard < 100)
        onPicture(pic);
    return r;
}

// Feeds everything in one call and drains the decoder with end of stream.
inline std::vector<Out> DecodeAll(H264Decoder *h, const std::vector<uint8_t> &stream) {
    std::vector<Out> pictures;
    const int last = DecodeInPieces(h, stream, stream.size(), [&](const DecodedPicture &p) {
        pictures.push_back(Out{DEC_OK, p.y[0], p.y[p.yStride], p});
    });
    EXPECT_EQ(last, DEC_NO_PICTURE);
    return pictures;
}

inline std::vector<int> Lumas(const std::vector<Out> &pictures) {
    std::vector<int> v;
    for (const Out &o : pictures) v.push_back(o.luma);
    return v;
}

}  // namespace h264test
