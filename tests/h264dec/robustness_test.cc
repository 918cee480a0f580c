// Damaged input must never crash, hang or corrupt memory (run these under the
// sanitizers to see out-of-bounds accesses): streams with flipped bytes, cut
// units and pure noise still decode to well-formed pictures and a clean end.
// With slice threads (and ThreadSanitizer), a damaged slice that runs long
// must stop at the next slice's first macroblock instead of racing its worker.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "decoder_test_util.h"

using namespace h264test;

namespace {

// Decodes in pieces; every returned picture must lie inside the decoder's
// geometry, and the stream must end with -2.
void DecodeChecked(const std::vector<uint8_t> &stream, uint32_t widthMbs, uint32_t heightMbs, uint32_t mode,
                   size_t piece) {
    std::unique_ptr<H264Decoder, DecoderDeleter> h(MakeDecoder(widthMbs, heightMbs, 4, mode));
    ASSERT_TRUE(h);
    const int last = DecodeInPieces(h.get(), stream, piece, [&](const DecodedPicture &p) {
        ASSERT_NE(p.y, nullptr);
        EXPECT_LE(p.width, 16 * widthMbs);
        EXPECT_LE(p.height, 16 * heightMbs);
        EXPECT_LT(p.cropLeft + p.cropRight, p.width);
        EXPECT_LT(p.cropTop + p.cropBottom, p.height);
        // Touch the last sample of every plane.
        volatile uint8_t sink = p.y[size_t(p.height - 1) * p.yStride + p.width - 1];
        sink = p.v[size_t(p.height / 2 - 1) * p.uvStride + p.width / 2 - 1];
        (void)sink;
    });
    EXPECT_EQ(last, DEC_NO_PICTURE);
}

struct Source {
    const char *name;
    uint32_t widthMbs, heightMbs;
    uint32_t mode = 0;
};

const Source kSources[] = {{"conf/SVA_BA2_D.264", 11, 9},
                           {"conf/test_qcif_cabac.264", 11, 9},
                           {"jm/c_paff_cavlc_main_d1.264", 44, 36},
                           {"jm/l_ipcm_cabac_cif.264", 22, 18},
                           {"jm/h_slices_dbk2_cabac_cif.264", 22, 18, DEC_MODE_SLICE_THREADS}};

TEST(Robustness, FlippedBytesNeverBreakTheDecoder) {
    std::mt19937 rng(1234);
    for (const Source &s : kSources) {
        const std::vector<uint8_t> clean = ReadStream(s.name);
        ASSERT_FALSE(clean.empty()) << s.name;
        for (int round = 0; round < 6; ++round) {
            std::vector<uint8_t> bad = clean;
            const int flips = 1 + int(rng() % 40);
            for (int i = 0; i < flips; ++i) bad[rng() % bad.size()] ^= uint8_t(1u << (rng() % 8));
            SCOPED_TRACE(std::string(s.name) + " round " + std::to_string(round));
            DecodeChecked(bad, s.widthMbs, s.heightMbs, s.mode | (round & 1 ? uint32_t(DEC_MODE_DISPLAY_ORDER) : 0u),
                          997);
        }
    }
}

TEST(Robustness, CutUnitsAndNoise) {
    std::mt19937 rng(99);
    for (const Source &s : kSources) {
        const std::vector<uint8_t> clean = ReadStream(s.name);
        // Drop random spans, so units end early and headers meet foreign data.
        std::vector<uint8_t> cut;
        for (size_t pos = 0; pos < clean.size();) {
            const size_t keep = 50 + rng() % 3000;
            cut.insert(cut.end(), clean.begin() + long(pos), clean.begin() + long(std::min(clean.size(), pos + keep)));
            pos += keep + rng() % 200;
        }
        SCOPED_TRACE(s.name);
        DecodeChecked(cut, s.widthMbs, s.heightMbs, s.mode, 4093);
    }
    // Noise with start codes sprinkled in, after valid parameter sets.
    std::vector<uint8_t> noise = ReadStream("conf/SVA_BA2_D.264");
    noise.resize(200);
    for (int i = 0; i < 200000; ++i) {
        noise.push_back(uint8_t(rng()));
        if (rng() % 500 == 0) noise.insert(noise.end(), {0, 0, 1, uint8_t(rng() % 2 ? 0x65 : 0x41)});
    }
    DecodeChecked(noise, 11, 9, 0, 65536);
}

}  // namespace
