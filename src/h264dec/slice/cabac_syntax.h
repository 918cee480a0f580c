// Syntax elements of the macroblock layer under CABAC: binarisations and
// context selection. Used by DecodeMacroblock (mb_layer.h).
#pragma once

#include "h264dec/slice/cabac_contexts.h"
#include "h264dec/slice/slice_state.h"

namespace tessaly::h264 {

class CabacSyntax {
public:
    explicit CabacSyntax(SliceDecoder &sd) : sd_(sd), e_(sd.cabac), ctx_(sd.ctx) {}

    // Inline: decided for every macroblock of a P slice, most often in runs.
    int MbSkipFlag() {
        const MbNeighbours &nb = sd_.nb;
        // The left neighbour is the macroblock just finished, whose class is
        // still in sd_.mb: its record was stored too recently to read back
        // without a wait.
        const int inc = (nb.left >= 0 && sd_.mb.cls != kMbPSkip) + (nb.top >= 0 && sd_.mbs[nb.top].cls != kMbPSkip);
        return e_.DecodeDecision(ctx_ + kCtxMbSkipP + inc);
    }
    int MbType();
    int TransformSize8x8Flag();
    int PrevIntraPredModeFlag();
    int RemIntraPredMode();
    int IntraChromaPredMode();
    int SubMbType();
    int RefIdx(int x, int y, int numRef);
    int Mvd(int x, int y, int comp);
    int CodedBlockPattern();
    int MbQpDelta();
    void NoQpDelta() { sd_.lastQpDelta = 0; }
    int Residual(SliceDecoder &sd);
    int Pcm(SliceDecoder &sd);
    int EndOfSliceFlag() { return e_.DecodeTerminate(); }

private:
    int IntraMbType(int ctxBase, bool intraSlice);

    SliceDecoder &sd_;
    CabacEngine &e_;
    CabacContext *ctx_;
};

}  // namespace tessaly::h264
