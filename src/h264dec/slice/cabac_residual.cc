#include "h264dec/slice/cabac_residual.h"

#include <type_traits>

#include "h264dec/slice/block_layout.h"

namespace tessaly::h264 {

namespace {

constexpr uint8_t kMaxCoeffs[6] = {16, 15, 16, 4, 15, 64};
constexpr uint8_t kSigCatOffset[5] = {0, 15, 29, 44, 47};
constexpr uint8_t kAbsCatOffset[6] = {0, 10, 20, 30, 39, 0};

// ctxIdxInc of significant_coeff_flag / last_significant_coeff_flag in 8x8
// blocks by scanning position (frame and field coded).
constexpr uint8_t kSig8x8CtxInc[2][63] = {
    {0, 1, 2,  3,  4,  5,  5, 4, 4, 3, 3,  4,  4, 4, 5, 5,  4,  4,  4,  4, 3, 3,  6,  7, 7,  7,  8,  9,  10, 9,  8, 7,
     7, 6, 11, 12, 13, 11, 6, 7, 8, 9, 14, 10, 9, 8, 6, 11, 12, 13, 11, 6, 9, 14, 10, 9, 11, 12, 13, 11, 14, 10, 12},
    {0,  1,  1,  2,  2,  3,  3,  4,  5,  6,  7,  7,  7, 8,  4,  5,  6,  9,  10, 10, 8,
     11, 12, 11, 9,  9,  10, 10, 8,  11, 12, 11, 9,  9, 10, 10, 8,  11, 12, 11, 9,  9,
     10, 10, 8,  13, 13, 9,  9,  10, 10, 8,  13, 13, 9, 9,  10, 10, 14, 14, 14, 14, 14}};
constexpr uint8_t kLast8x8CtxInc[63] = {0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 2, 2, 2, 2, 2,
                                        2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 3, 3, 3, 3, 3, 3, 3, 3, 4, 4,
                                        4, 4, 4, 4, 4, 4, 5, 5, 5, 5, 6, 6, 6, 6, 7, 7, 7, 7, 8, 8, 8};

// Where one block's coefficients go.
struct CabacBlockTarget {
    int16_t *coeffs;        // destination, raster
    const uint8_t *scan;    // coefficient list index -> raster position
    const uint16_t *scale;  // LevelScale by raster position; null: store levels as read
    int qpDiv6;
};

// 4x4 blocks of one category decoded in a row, their coded_block_flag
// contexts taken from the counts of the blocks left and above.
struct CabacBlockGroup {
    int16_t *coeffs;        // block k at coeffs + 16 * k, raster
    const uint8_t *scan;    // as in CabacBlockTarget
    const uint16_t *scale;  // LevelScale by raster position
    int qpDiv6;
    uint8_t *nnz;             // coefficient counts, neighbour cache layout
    const uint8_t *cachePos;  // block k -> index into nnz
    uint32_t blocks;          // bit k set: block k is present
    unsigned codedBelow;      // as in CabacResidualJob
};

inline int TopBit(uint32_t mask) { return 31 - __builtin_clz(mask); }
inline int TopBit(uint64_t mask) { return 63 - __builtin_clzll(mask); }

// Significance map and levels of one coded block. Inlined into one function
// per category (or group of blocks), so that the category's constants fold
// and the engine, a local copy there, stays in machine registers.
template <int cat>
inline __attribute__((always_inline)) int DecodeCodedBlock(CabacEngine &e, CabacContext *ctx, bool field,
                                                           const CabacBlockTarget &t) {
    constexpr int maxCoeffs = kMaxCoeffs[cat];
    using Mask = std::conditional_t<cat == kCatLuma8x8, uint64_t, uint32_t>;
    // Significance map as a bit mask of scanning positions: no array stores
    // in the loop, and the levels below walk it from the top bit down.
    Mask significant = 0;
    int i = 0;
    if constexpr (cat == kCatLuma8x8) {
        CabacContext *sig = ctx + (field ? kCtxSignificant8x8Field : kCtxSignificant8x8Frame);
        CabacContext *last = ctx + (field ? kCtxLast8x8Field : kCtxLast8x8Frame);
        const uint8_t *sigInc = kSig8x8CtxInc[field ? 1 : 0];
        for (; i < maxCoeffs - 1; ++i) {
            if (e.DecodeDecision(sig + sigInc[i])) {
                significant |= Mask(1) << i;
                if (e.DecodeDecision(last + kLast8x8CtxInc[i])) break;
            }
        }
    } else {
        // last_significant_coeff_flag contexts lie at a fixed distance from
        // the significant_coeff_flag ones, in frame and field coding alike.
        static_assert(kCtxLastFrame - kCtxSignificantFrame == kCtxLastField - kCtxSignificantField);
        constexpr int kLast = kCtxLastFrame - kCtxSignificantFrame;
        CabacContext *sig = ctx + (field ? kCtxSignificantField : kCtxSignificantFrame) + kSigCatOffset[cat];
        for (; i < maxCoeffs - 1; ++i) {
            CabacContext *c = sig + (cat == kCatChromaDc ? (i < 2 ? i : 2) : i);
            if (e.DecodeDecision(c)) {
                significant |= Mask(1) << i;
                if (e.DecodeDecision(c + kLast)) break;
            }
        }
    }
    if (i == maxCoeffs - 1) significant |= Mask(1) << i;

    // Levels, highest frequency first.
    CabacContext *abs = ctx + (cat == kCatLuma8x8 ? kCtxAbsLevel8x8 : kCtxAbsLevel + kAbsCatOffset[cat]);
    const int gt1Cap = cat == kCatChromaDc ? 3 : 4;
    int numGt1 = 0, numEq1 = 0, count = 0;
    do {
        const int n = TopBit(significant);
        significant ^= Mask(1) << n;
        ++count;
        const int firstInc = numGt1 ? 0 : (numEq1 + 1 < 4 ? numEq1 + 1 : 4);
        int absLevel;
        if (!e.DecodeDecision(abs + firstInc)) {
            absLevel = 1;
            ++numEq1;
        } else {
            CabacContext *rest = abs + 5 + (numGt1 < gt1Cap ? numGt1 : gt1Cap);
            int prefix = 1;
            while (prefix < 14 && e.DecodeDecision(rest)) ++prefix;
            absLevel = prefix + 1;
            if (prefix == 14) {
                // Exp-Golomb (k = 0) suffix in bypass bins.
                int k = 0;
                uint32_t suffix = 0;
                while (k < 24 && e.DecodeBypass()) {
                    suffix += 1u << k;
                    ++k;
                }
                while (k-- > 0) suffix += uint32_t(e.DecodeBypass()) << k;
                absLevel += int(suffix > (1u << 24) ? (1u << 24) : suffix);
            }
            ++numGt1;
        }
        const int level = e.DecodeBypass() ? -absLevel : absLevel;
        const int pos = t.scan[n];
        if (t.scale) {
            const int shift = cat == kCatLuma8x8 ? 6 : 4;
            const int round = 1 << (shift - 1);
            int64_t v = ((int64_t(level) * t.scale[pos] << t.qpDiv6) + round) >> shift;
            v = v < -32768 ? -32768 : (v > 32767 ? 32767 : v);
            t.coeffs[pos] = int16_t(v);
        } else {
            t.coeffs[pos] = int16_t(level < -32768 ? -32768 : (level > 32767 ? 32767 : level));
        }
    } while (significant);
    return count;
}

// A block with its coded_block_flag (8x8 blocks have none: always coded);
// returns its count of coefficients, 0 when not coded.
template <int cat>
inline __attribute__((always_inline)) int DecodeFlaggedBlock(CabacEngine &e, CabacContext *ctx, bool field, int cbfInc,
                                                             const CabacBlockTarget &t) {
    if (cat != kCatLuma8x8 && !e.DecodeDecision(ctx + CodedBlockFlagCtx(cat, cbfInc))) return 0;
    return DecodeCodedBlock<cat>(e, ctx, field, t);
}

// The blocks of `g` in order of k, each coded block's count stored in g.nnz
// (uncoded blocks keep theirs: zero).
template <int cat>
inline __attribute__((always_inline)) void DecodeBlockGroup(CabacEngine &e, CabacContext *ctx, bool field,
                                                            const CabacBlockGroup &g) {
    CabacContext *cbf = ctx + CodedBlockFlagCtx(cat, 0);
    for (uint32_t m = g.blocks; m; m &= m - 1) {
        const int k = __builtin_ctz(m);
        const int idx = g.cachePos[k];
        // A neighbour is coded when its count - 1 lies below codedBelow.
        const int inc = int(unsigned(g.nnz[idx - 1] - 1) < g.codedBelow) +
                        2 * int(unsigned(g.nnz[idx - kCacheStride] - 1) < g.codedBelow);
        if (!e.DecodeDecision(cbf + inc)) continue;
        const CabacBlockTarget t{g.coeffs + 16 * k, g.scan, g.scale, g.qpDiv6};
        g.nnz[idx] = uint8_t(DecodeCodedBlock<cat>(e, ctx, field, t));
    }
}

}  // namespace

int DecodeCabacResidual(CabacEngine &engine, CabacContext *ctx, const CabacResidualJob &j) {
    CabacEngine e = engine;  // a local copy lives in registers
    const bool field = j.field;
    const int cbp = j.cbp;
    auto dcInc = [&](int bit) { return int((j.dcLeft & bit) != 0) + 2 * int((j.dcTop & bit) != 0); };
    int cbfDc = 0;
    if (j.i16x16) {
        const CabacBlockTarget dc{j.lumaDc, j.scan4x4, nullptr, 0};
        if (DecodeFlaggedBlock<kCatLumaDc>(e, ctx, field, dcInc(1), dc)) cbfDc |= 1;
        if (cbp & 15) {
            const CabacBlockGroup g{j.luma, j.scan4x4 + 1, j.lumaScale, j.qpDiv6,
                                    j.nnz,  kBlkCache,     0xffff,      j.codedBelow};
            DecodeBlockGroup<kCatLumaAc>(e, ctx, field, g);
        }
    } else if (j.transform8x8) {
        for (int b8 = 0; b8 < 4; ++b8) {
            if (!((cbp >> b8) & 1)) continue;
            const CabacBlockTarget t{j.luma + 64 * b8, j.scan8x8, j.scale8x8, j.qpDiv6};
            // Only "coded or not" matters to neighbours; 64 would read as unavailable.
            const int count = DecodeFlaggedBlock<kCatLuma8x8>(e, ctx, field, 0, t);
            const uint8_t n = uint8_t(count > 16 ? 16 : count);
            const int idx = kBlkCache[4 * b8];
            j.nnz[idx] = j.nnz[idx + 1] = j.nnz[idx + kCacheStride] = j.nnz[idx + kCacheStride + 1] = n;
        }
    } else if (cbp & 15) {
        // Each cbp bit stands for four consecutive 4x4 blocks.
        uint32_t blocks = 0;
        for (int b8 = 0; b8 < 4; ++b8) blocks |= uint32_t((cbp >> b8) & 1) * (0xfu << (4 * b8));
        const CabacBlockGroup g{j.luma, j.scan4x4, j.lumaScale, j.qpDiv6, j.nnz, kBlkCache, blocks, j.codedBelow};
        DecodeBlockGroup<kCatLuma4x4>(e, ctx, field, g);
    }

    if (cbp & 0x30) {
        static constexpr uint8_t kIdentity[4] = {0, 1, 2, 3};
        for (int k = 0; k < 2; ++k) {
            const int bit = 2 << k;
            const CabacBlockTarget t{j.chromaDc[k], kIdentity, nullptr, 0};
            if (DecodeFlaggedBlock<kCatChromaDc>(e, ctx, field, dcInc(bit), t)) cbfDc |= bit;
        }
        if (cbp & 0x20) {
            for (int k = 0; k < 2; ++k) {
                const CabacBlockGroup g{
                    j.chroma[k],  j.scan4x4 + 1, j.chromaScale[k], j.chromaQpDiv6[k], j.nnzChroma[k],
                    kChromaCache, 0xf,           j.codedBelow};
                DecodeBlockGroup<kCatChromaAc>(e, ctx, field, g);
            }
        }
    }
    engine.TakeProgress(e);
    return cbfDc;
}

}  // namespace tessaly::h264
