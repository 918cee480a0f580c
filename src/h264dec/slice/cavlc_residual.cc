#include "h264dec/slice/cavlc_residual.h"

#include <cassert>
#include <climits>

namespace tessaly::h264 {

namespace {

// |level| above which suffixLength grows, by the suffixLength the level was
// read with (0 moves to 1 first, so it shares the threshold of 1).
constexpr int kSuffixThreshold[7] = {3, 3, 6, 12, 24, 48, INT_MAX};

// The rare level codes with a longer level_suffix: level_prefix 14 with
// suffixLength 0, and the escapes from level_prefix 15 on. Returns -1 for a
// level_prefix beyond 31.
int ReadEscapedLevelCode(BitReader &r, int suffixLength) {
    const uint32_t peek = r.Peek32();
    if (!peek) return -1;
    const int prefix = __builtin_clz(peek);
    r.Skip(uint32_t(prefix) + 1);
    if (prefix == 14) return 14 + int(r.ReadBits(4));
    int levelCode = (15 << suffixLength) + int(r.ReadBits(prefix - 3));
    if (suffixLength == 0) levelCode += 15;
    if (prefix >= 16) levelCode += (1 << (prefix - 3)) - 4096;
    return levelCode;
}

inline int16_t Saturate16(int64_t v) {
    if (uint64_t(v + 32768) > 65535) [[unlikely]]
        return v < 0 ? -32768 : 32767;
    return int16_t(v);
}

// kShift 0: DC blocks, levels stored as read. Otherwise scaled with
// rounding by kShift (4 for 4x4 blocks, 6 for the 4x4 parts of an 8x8 block,
// whose scan positions are kStride apart).
template <int kShift, int kStride>
int ReadCoefficients(CavlcBitWindow &bits, int token, int maxCoeffs, const CavlcBlockTarget &t) {
    const int totalCoeff = token >> 2;
    const int trailingOnes = token & 3;
    if (totalCoeff > maxCoeffs) return -1;  // also an invalid coeff_token
    CavlcBitWindow win = bits;              // a local copy stays in registers

    // Trailing ones: all three sign slots from the window; slots past
    // trailingOnes are overwritten by the levels below or left unused.
    int levels[16];
    win.Ensure(3);
    const int signs = int(win.Bits() >> 61);
    levels[0] = 1 - ((signs >> 1) & 2);
    levels[1] = 1 - (signs & 2);
    levels[2] = 1 - ((signs << 1) & 2);
    win.Consume(trailingOnes);

    int suffixLength = (totalCoeff > 10 && trailingOnes < 3) ? 1 : 0;
    int firstBonus = trailingOnes < 3 ? 2 : 0;
    for (int i = trailingOnes; i < totalCoeff; ++i) {
        // Enough for every code but the escapes: 14 zeros, the one and up to
        // 6 suffix bits. A prefix counted into the inexact bits is >= 21.
        win.Ensure(21);
        const uint64_t w = win.Bits();
        const int prefix = __builtin_clzll(w | 1);
        int levelCode;
        if (prefix + (suffixLength == 0) < 15) [[likely]] {
            // prefix << suffixLength plus the suffixLength bits after the one.
            levelCode = ((prefix - 1) << suffixLength) + int((w << prefix) >> (63 - suffixLength));
            win.Consume(prefix + 1 + suffixLength);
        } else {
            win.Sync();
            levelCode = ReadEscapedLevelCode(win.reader(), suffixLength);
            if (levelCode < 0) return -1;
            win.Reload();
        }
        levelCode += firstBonus;
        firstBonus = 0;
        const int magnitude = (levelCode + 2) >> 1;
        levels[i] = (levelCode & 1) ? -magnitude : magnitude;
        suffixLength += (suffixLength == 0) + (magnitude > kSuffixThreshold[suffixLength]);
    }

    int zerosLeft = 0;
    if (totalCoeff < maxCoeffs) {
        win.Ensure(9);
        const uint16_t table =
            maxCoeffs == 4 ? kCavlcVlc.totalZerosChromaDc[totalCoeff - 1] : kCavlcVlc.totalZeros4x4[totalCoeff - 1];
        const VlcEntry e = LookupVlc<kTotalZerosRootBits>(table, uint32_t(win.Bits() >> 32));
        if (e.value + totalCoeff > maxCoeffs) return -1;
        win.Consume(e.len);
        zerosLeft = e.value;
    }

    auto store = [&](int pos, int level) {
        const int raster = t.scan[pos * kStride];
        if constexpr (kShift == 0) {
            t.coeffs[raster] = Saturate16(level);
        } else {
            const int64_t scaled = int64_t(level) * (int32_t(t.scale[raster]) << t.qpDiv6);
            t.coeffs[raster] = Saturate16((scaled + (1 << (kShift - 1))) >> kShift);
        }
    };
    // Place from the highest frequency down. Once no zeros are left the runs
    // read as 0 from no bits, which keeps the loop count fixed.
    int pos = totalCoeff + zerosLeft - 1;
    for (int i = 0; i < totalCoeff - 1; ++i) {
        store(pos, levels[i]);
        win.Ensure(11);
        const uint16_t table = kCavlcVlc.runBefore[zerosLeft < 7 ? zerosLeft : 7];
        const VlcEntry e = LookupVlc<kRunBeforeRootBits>(table, uint32_t(win.Bits() >> 32));
        if (e.value > zerosLeft) return -1;
        win.Consume(e.len);
        zerosLeft -= e.value;
        pos -= e.value + 1;
    }
    store(pos, levels[totalCoeff - 1]);
    bits = win;
    return totalCoeff;
}

}  // namespace

int ReadCavlcCoefficients(CavlcBitWindow &bits, int token, int maxCoeffs, const CavlcBlockTarget &t) {
    if (!t.scale) {
        assert(t.stride == 1);
        return ReadCoefficients<0, 1>(bits, token, maxCoeffs, t);
    }
    if (t.stride == 1) {
        assert(t.shift == 4);
        return ReadCoefficients<4, 1>(bits, token, maxCoeffs, t);
    }
    assert(t.shift == 6 && t.stride == 4);
    return ReadCoefficients<6, 4>(bits, token, maxCoeffs, t);
}

}  // namespace tessaly::h264
