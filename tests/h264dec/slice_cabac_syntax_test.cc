// Binarisations of CABAC syntax elements, checked against values encoded
// with the standard's binarisation and the reference encoder: mvd (truncated
// unary prefix with UEG3 suffix and sign), mb_qp_delta (signed unary
// mapping), ref_idx (unary) and sub_mb_type.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "h264dec/slice/cabac_contexts.h"
#include "h264dec/slice/cabac_syntax.h"
#include "slice_cabac_test_encoder.h"

namespace tessaly::h264 {
namespace {

class SliceCabacSyntax : public ::testing::Test {
protected:
    void SetUp() override {
        InitCabacContexts(encCtx, SliceType::P, 1, 28);
        std::memcpy(sd.ctx, encCtx, sizeof(encCtx));
        for (int i = 0; i < kCacheSize; ++i) {
            sd.cache.mvd[i][0] = sd.cache.mvd[i][1] = 0;
            sd.cache.ref[i] = kRefUnavailable;
        }
    }
    // Encodes mvd with no neighbour motion (ctxIdxInc 0 for the first bin).
    void EncodeMvd(int comp, int v) {
        CabacContext *c = encCtx + (comp ? kCtxMvdY : kCtxMvdX);
        const int a = v < 0 ? -v : v;
        const int prefix = a < 9 ? a : 9;
        for (int i = 0; i < prefix; ++i) enc.EncodeDecision(c[i == 0 ? 0 : (i < 4 ? i + 2 : 6)], 1);
        if (prefix < 9) enc.EncodeDecision(c[prefix == 0 ? 0 : (prefix < 4 ? prefix + 2 : 6)], 0);
        if (a >= 9) {
            // UEG3: unary part in steps of 2^k, then k bits.
            int rest = a - 9, k = 3;
            while (rest >= (1 << k)) {
                enc.EncodeBypass(1);
                rest -= 1 << k;
                ++k;
            }
            enc.EncodeBypass(0);
            while (k--) enc.EncodeBypass((rest >> k) & 1);
        }
        if (a) enc.EncodeBypass(v < 0);
    }
    void EncodeQpDelta(int delta, bool prevNonZero) {
        const int k = delta > 0 ? 2 * delta - 1 : -2 * delta;
        CabacContext *c = encCtx + kCtxMbQpDelta;
        for (int i = 0; i <= k; ++i) {
            const int inc = i == 0 ? (prevNonZero ? 1 : 0) : (i == 1 ? 2 : 3);
            enc.EncodeDecision(c[inc], i < k ? 1 : 0);
        }
    }
    void StartDecoding() {
        enc.EncodeTerminate(1);
        bytes = enc.Bytes();
        bytes.resize(bytes.size() + 16, 0);
        sd.cabac.Init(bytes.data(), 0, uint32_t(bytes.size() - 16));
    }

    CabacContext encCtx[kNumCabacContexts];
    test::ReferenceCabacEncoder enc;
    std::vector<uint8_t> bytes;
    SliceDecoder sd;
};

TEST_F(SliceCabacSyntax, MvdAcrossPrefixAndExpGolombSuffix) {
    const int values[] = {0, 1, -1, 2, 8, -8, 9, -9, 10, 16, 17, -24, 25, 100, -1000, 4095, -8200, 32767};
    for (int v : values) {
        EncodeMvd(0, v);
        EncodeMvd(1, -v);
    }
    StartDecoding();
    CabacSyntax syntax(sd);
    for (int v : values) {
        EXPECT_EQ(syntax.Mvd(0, 0, 0), v);
        EXPECT_EQ(syntax.Mvd(0, 0, 1), -v);
    }
    EXPECT_EQ(syntax.EndOfSliceFlag(), 1);
}

TEST_F(SliceCabacSyntax, QpDeltaSignedMappingAndContextOfThePrevious) {
    const int deltas[] = {0, 1, -1, 2, -2, 0, 25, -26, 0, 7};
    bool prevNonZero = false;
    for (int d : deltas) {
        EncodeQpDelta(d, prevNonZero);
        prevNonZero = d != 0;
    }
    StartDecoding();
    CabacSyntax syntax(sd);
    sd.lastQpDelta = 0;
    for (int d : deltas) EXPECT_EQ(syntax.MbQpDelta(), d);
}

TEST_F(SliceCabacSyntax, RefIdxAndSubMbType) {
    // ref_idx with unavailable neighbours: first bin ctxIdxInc 0, then 4, 5, 5...
    const int refs[] = {0, 1, 2, 5};
    CabacContext *r = encCtx + kCtxRefIdx;
    for (int ref : refs)
        for (int i = 0; i <= ref; ++i) enc.EncodeDecision(r[i == 0 ? 0 : (i == 1 ? 4 : 5)], i < ref ? 1 : 0);
    // sub_mb_type 0..3: "1", "00", "011", "010".
    CabacContext *s = encCtx + kCtxSubMbTypeP;
    enc.EncodeDecision(s[0], 1);
    enc.EncodeDecision(s[0], 0);
    enc.EncodeDecision(s[1], 0);
    enc.EncodeDecision(s[0], 0);
    enc.EncodeDecision(s[1], 1);
    enc.EncodeDecision(s[2], 1);
    enc.EncodeDecision(s[0], 0);
    enc.EncodeDecision(s[1], 1);
    enc.EncodeDecision(s[2], 0);
    StartDecoding();
    CabacSyntax syntax(sd);
    for (int ref : refs) EXPECT_EQ(syntax.RefIdx(0, 0, 8), ref);
    for (int t = 0; t < 4; ++t) EXPECT_EQ(syntax.SubMbType(), t);
}

}  // namespace
}  // namespace tessaly::h264
