// Syntax elements of the macroblock layer under CAVLC (Exp-Golomb codes,
// the coded_block_pattern mapping, residual blocks). Used by
// DecodeMacroblock (mb_layer.h). The per-macroblock elements are defined
// here so that they inline into it.
#pragma once

#include "h264dec/slice/mb_common.h"

namespace tessaly::h264 {

// coded_block_pattern by codeNum (4:2:0), intra (Intra_4x4 / Intra_8x8) and inter.
inline constexpr uint8_t kCavlcCbpIntra[48] = {47, 31, 15, 0,  23, 27, 29, 30, 7,  11, 13, 14, 39, 43, 45, 46,
                                               16, 3,  5,  10, 12, 19, 21, 26, 28, 35, 37, 42, 44, 1,  2,  4,
                                               8,  17, 18, 20, 24, 6,  9,  22, 25, 32, 33, 34, 36, 40, 38, 41};
inline constexpr uint8_t kCavlcCbpInter[48] = {0,  16, 1,  2,  4,  8,  32, 3,  5,  10, 12, 15, 47, 7,  11, 13,
                                               14, 6,  9,  31, 35, 37, 42, 44, 33, 34, 36, 40, 39, 43, 45, 46,
                                               17, 18, 20, 24, 19, 21, 26, 28, 23, 27, 29, 30, 22, 25, 38, 41};

class CavlcSyntax {
public:
    explicit CavlcSyntax(SliceDecoder &sd) : sd_(sd), br_(sd.br) {}

    int MbType() {
        const uint32_t v = br_.ReadUe();
        if (sd_.p->type == SliceType::kI) return v <= 25 ? kMbTypeIntraBase + int(v) : -1;
        if (v <= 4) return int(v);
        return v <= 30 ? kMbTypeIntraBase + int(v) - 5 : -1;
    }
    int TransformSize8x8Flag() { return int(br_.ReadBit()); }
    int PrevIntraPredModeFlag() { return int(br_.ReadBit()); }
    int RemIntraPredMode() { return int(br_.ReadBits(3)); }
    int IntraChromaPredMode() { return UeAtMost(3); }
    int SubMbType() { return UeAtMost(3); }
    int RefIdx(int, int, int numRef) {
        if (numRef == 2) return br_.ReadBit() ? 0 : 1;
        return UeAtMost(31);
    }
    int Mvd(int, int, int) {
        const int32_t v = br_.ReadSe();
        return (v < -32768 || v > 32767) ? INT32_MIN : v;
    }
    int CodedBlockPattern() {
        const uint32_t v = br_.ReadUe();
        if (v > 47) return -1;
        return MbIsIntra(sd_.mb.cls) ? kCavlcCbpIntra[v] : kCavlcCbpInter[v];
    }
    int MbQpDelta() {
        const int32_t v = br_.ReadSe();
        return v == INT32_MIN ? -1000 : v;
    }
    void NoQpDelta() {}
    int Residual(SliceDecoder &sd);
    int Pcm(SliceDecoder &sd);

private:
    int UeAtMost(uint32_t max) {
        const uint32_t v = br_.ReadUe();
        return v <= max ? int(v) : -1;
    }

    SliceDecoder &sd_;
    BitReader &br_;
};

}  // namespace tessaly::h264
