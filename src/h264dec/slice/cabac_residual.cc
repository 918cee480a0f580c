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

}  // namespace

template <int cat>
int DecodeCabacBlock(CabacEngine &engine, CabacContext *ctx, bool field, int cbfInc, const CabacBlockTarget &t) {
    CabacEngine e = engine;
    int count = 0;
    if (cat == kCatLuma8x8 || e.DecodeDecision(ctx + CodedBlockFlagCtx(cat, cbfInc)))
        count = DecodeCodedBlock<cat>(e, ctx, field, t);
    engine.TakeProgress(e);
    return count;
}

template <int cat>
void DecodeCabacBlocks(CabacEngine &engine, CabacContext *ctx, bool field, const CabacBlockGroup &g) {
    CabacEngine e = engine;
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
    engine.TakeProgress(e);
}

template int DecodeCabacBlock<kCatLumaDc>(CabacEngine &, CabacContext *, bool, int, const CabacBlockTarget &);
template int DecodeCabacBlock<kCatChromaDc>(CabacEngine &, CabacContext *, bool, int, const CabacBlockTarget &);
template int DecodeCabacBlock<kCatLuma8x8>(CabacEngine &, CabacContext *, bool, int, const CabacBlockTarget &);
template void DecodeCabacBlocks<kCatLumaAc>(CabacEngine &, CabacContext *, bool, const CabacBlockGroup &);
template void DecodeCabacBlocks<kCatLuma4x4>(CabacEngine &, CabacContext *, bool, const CabacBlockGroup &);
template void DecodeCabacBlocks<kCatChromaAc>(CabacEngine &, CabacContext *, bool, const CabacBlockGroup &);

}  // namespace tessaly::h264
