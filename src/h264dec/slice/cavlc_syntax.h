// Syntax elements of the macroblock layer under CAVLC (Exp-Golomb codes,
// the coded_block_pattern mapping, residual blocks). Used by
// DecodeMacroblock (mb_layer.h).
#pragma once

#include "h264dec/slice/slice_state.h"

namespace tessaly::h264 {

class CavlcSyntax {
public:
    explicit CavlcSyntax(SliceDecoder &sd) : sd_(sd), br_(sd.br) {}

    int MbType();
    int TransformSize8x8Flag() { return int(br_.ReadBit()); }
    int PrevIntraPredModeFlag() { return int(br_.ReadBit()); }
    int RemIntraPredMode() { return int(br_.ReadBits(3)); }
    int IntraChromaPredMode();
    int SubMbType();
    int RefIdx(int x, int y, int numRef);
    int Mvd(int x, int y, int comp);
    int CodedBlockPattern();
    int MbQpDelta();
    void NoQpDelta() {}
    int Residual(SliceDecoder &sd);
    int Pcm(SliceDecoder &sd);

private:
    SliceDecoder &sd_;
    BitReader &br_;
};

}  // namespace tessaly::h264
