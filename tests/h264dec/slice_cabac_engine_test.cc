// The arithmetic decoder against an encoder written from the standard's
// encoding process: every bin must come back, in every mix of decisions,
// bypass and terminate bins, and the byte position after a terminating bin
// must be where I_PCM samples start.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "h264dec/slice/cabac_engine.h"
#include "h264dec/tables/tables.h"
#include "slice_cabac_test_encoder.h"

namespace tessaly::h264 {
namespace {

using test::ReferenceCabacEncoder;

enum Op { kDecision, kBypass, kTerminate0 };

struct Step {
    Op op;
    int ctx;
    int bin;
};

std::vector<Step> RandomSteps(uint32_t seed, int count, int skewPercent) {
    std::mt19937 rng(seed);
    std::vector<Step> steps;
    for (int i = 0; i < count; ++i) {
        const int r = int(rng() % 100);
        Step s{};
        s.op = r < 80 ? kDecision : (r < 97 ? kBypass : kTerminate0);
        s.ctx = int(rng() % 8);
        // Skewed bins drive the contexts into their extreme states.
        s.bin = (int(rng() % 100) < skewPercent) ? 1 : 0;
        if (s.op == kTerminate0) s.bin = 0;
        steps.push_back(s);
    }
    return steps;
}

void RoundTrip(const std::vector<Step> &steps, uint8_t initState) {
    ReferenceCabacEncoder enc;
    CabacContext encCtx[8], decCtx[8];
    for (int i = 0; i < 8; ++i) encCtx[i] = decCtx[i] = CabacContext(initState + 2 * i);
    for (const Step &s : steps) {
        if (s.op == kDecision) enc.EncodeDecision(encCtx[s.ctx], s.bin);
        else if (s.op == kBypass) enc.EncodeBypass(s.bin);
        else enc.EncodeTerminate(0);
    }
    enc.EncodeTerminate(1);
    std::vector<uint8_t> bytes = enc.Bytes();
    const uint32_t codedBytes = uint32_t(bytes.size());
    bytes.resize(bytes.size() + 8, 0);

    CabacEngine dec;
    dec.Init(bytes.data(), 0, codedBytes);
    for (size_t i = 0; i < steps.size(); ++i) {
        const Step &s = steps[i];
        int bin;
        if (s.op == kDecision) bin = dec.DecodeDecision(&decCtx[s.ctx]);
        else if (s.op == kBypass) bin = dec.DecodeBypass();
        else bin = dec.DecodeTerminate();
        ASSERT_EQ(bin, s.bin) << "step " << i;
    }
    ASSERT_EQ(dec.DecodeTerminate(), 1);
    for (int i = 0; i < 8; ++i) EXPECT_EQ(decCtx[i], encCtx[i]) << "context " << i;
    // Samples of an I_PCM macroblock would start at the next byte boundary.
    EXPECT_EQ(dec.BytePositionAfterTerminate(), codedBytes);
    EXPECT_FALSE(dec.Overrun());
}

TEST(SliceCabacEngine, RandomBinSequencesRoundTrip) {
    for (uint32_t seed = 1; seed <= 40; ++seed) {
        SCOPED_TRACE(seed);
        const int skew = int(seed % 5) * 25;  // 0, 25, 50, 75, 100 percent ones
        RoundTrip(RandomSteps(seed, 2000 + int(seed) * 37, skew), uint8_t((seed * 13) % 100));
    }
}

TEST(SliceCabacEngine, ShortSequencesEndAtEveryBitAlignment) {
    // Lengths 0..63 put the terminating bin at all positions within a byte.
    for (int n = 0; n < 64; ++n) {
        SCOPED_TRACE(n);
        RoundTrip(RandomSteps(1000u + uint32_t(n), n, 30), 20);
    }
}

TEST(SliceCabacEngine, TruncatedDataReadsZerosAndReportsOverrun) {
    const uint8_t data[16] = {0xff, 0xff, 0xff, 0xff};
    CabacEngine dec;
    dec.Init(data, 0, 4);
    int ones = 0;
    for (int i = 0; i < 30; ++i) ones += dec.DecodeBypass();
    EXPECT_FALSE(dec.Overrun());
    EXPECT_GT(ones, 0);
    for (int i = 0; i < 200; ++i) dec.DecodeBypass();
    EXPECT_TRUE(dec.Overrun());
}

}  // namespace
}  // namespace tessaly::h264
