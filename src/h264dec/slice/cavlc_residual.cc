#include "h264dec/slice/cavlc_residual.h"

#include "h264dec/slice/cavlc_vlc.h"

namespace tessaly::h264 {

namespace {

inline int CoeffTokenClass(int nC) {
    if (nC < 0) return 4;
    if (nC < 2) return 0;
    if (nC < 4) return 1;
    if (nC < 8) return 2;
    return 3;
}

}  // namespace

int ReadCavlcBlock(BitReader &br, int nC, int maxCoeffs, const CavlcBlockTarget &t) {
    const int token = ReadVlc(br, CoeffTokenVlc(CoeffTokenClass(nC)));
    if (token < 0) return -1;
    const int totalCoeff = token >> 2;
    const int trailingOnes = token & 3;
    if (totalCoeff == 0) return 0;
    if (totalCoeff > maxCoeffs) return -1;

    int levels[16];
    int suffixLength = (totalCoeff > 10 && trailingOnes < 3) ? 1 : 0;
    if (trailingOnes) {
        const uint32_t signs = br.ReadBits(trailingOnes);
        for (int i = 0; i < trailingOnes; ++i) levels[i] = ((signs >> (trailingOnes - 1 - i)) & 1) ? -1 : 1;
    }
    for (int i = trailingOnes; i < totalCoeff; ++i) {
        // level_prefix: leading zeros before a one.
        const uint64_t pos = br.Position();
        const uint32_t peek = br.ReadBits(32);
        if (!peek) return -1;
        const int prefix = __builtin_clz(peek);
        br.SetPosition(pos + uint64_t(prefix) + 1);
        int levelCode = (prefix < 15 ? prefix : 15) << suffixLength;
        int suffixSize = suffixLength;
        if (prefix == 14 && suffixLength == 0) suffixSize = 4;
        if (prefix >= 15) suffixSize = prefix - 3;
        if (suffixSize > 0) {
            if (suffixSize > 28) return -1;
            levelCode += int(br.ReadBits(suffixSize));
        }
        if (prefix >= 15 && suffixLength == 0) levelCode += 15;
        if (prefix >= 16) levelCode += (1 << (prefix - 3)) - 4096;
        if (i == trailingOnes && trailingOnes < 3) levelCode += 2;
        levels[i] = (levelCode & 1) ? (-levelCode - 1) >> 1 : (levelCode + 2) >> 1;
        if (suffixLength == 0) suffixLength = 1;
        const int magnitude = levels[i] < 0 ? -levels[i] : levels[i];
        if (magnitude > (3 << (suffixLength - 1)) && suffixLength < 6) ++suffixLength;
    }

    int zerosLeft = 0;
    if (totalCoeff < maxCoeffs) {
        const VlcTable &tz = maxCoeffs == 4 ? TotalZerosChromaDcVlc(totalCoeff) : TotalZeros4x4Vlc(totalCoeff);
        zerosLeft = ReadVlc(br, tz);
        if (zerosLeft < 0 || zerosLeft + totalCoeff > maxCoeffs) return -1;
    }

    // Place from the highest frequency down.
    int pos = totalCoeff + zerosLeft - 1;
    for (int i = 0; i < totalCoeff; ++i) {
        int run = 0;
        if (zerosLeft > 0 && i < totalCoeff - 1) {
            run = ReadVlc(br, RunBeforeVlc(zerosLeft));
            if (run < 0 || run > zerosLeft) return -1;
            zerosLeft -= run;
        }
        if (pos < 0) return -1;
        const int raster = t.scan[pos * t.stride];
        const int level = levels[i];
        if (t.scale) {
            int64_t v = ((int64_t(level) * t.scale[raster] << t.qpDiv6) + (1 << (t.shift - 1))) >> t.shift;
            v = v < -32768 ? -32768 : (v > 32767 ? 32767 : v);
            t.coeffs[raster] = int16_t(v);
        } else {
            t.coeffs[raster] = int16_t(level < -32768 ? -32768 : (level > 32767 ? 32767 : level));
        }
        pos -= run + 1;
    }
    return totalCoeff;
}

}  // namespace tessaly::h264
