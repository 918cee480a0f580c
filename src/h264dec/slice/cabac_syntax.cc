#include "h264dec/slice/cabac_syntax.h"

#include <cstring>

#include "h264dec/slice/cabac_contexts.h"
#include "h264dec/slice/cabac_residual.h"
#include "h264dec/slice/mb_common.h"

namespace tessaly::h264 {

// mb_type of the I-slice table, with its own prefix bin already decided to
// be not I_NxN by the caller when intraSlice is false.
int CabacSyntax::IntraMbType(int ctxBase, bool intraSlice) {
    CabacContext *c = ctx_ + ctxBase;
    if (intraSlice) {
        const MbNeighbours &nb = sd_.nb;
        const int inc =
            (nb.left >= 0 && sd_.mbs[nb.left].cls != kMbINxN) + (nb.top >= 0 && sd_.mbs[nb.top].cls != kMbINxN);
        if (!e_.DecodeDecision(c + inc)) return 0;
        c += 3;  // later bins start at ctxIdxInc 3
    } else {
        if (!e_.DecodeDecision(c)) return 0;
        c += 1;
    }
    if (e_.DecodeTerminate()) return 25;
    // I_16x16: luma cbp flag, chroma cbp (0, 1, 2), prediction mode (2 bits).
    int type = 1 + 12 * e_.DecodeDecision(c + 0);
    if (e_.DecodeDecision(c + 1)) type += 4 + 4 * e_.DecodeDecision(c + (intraSlice ? 2 : 1));
    type += 2 * e_.DecodeDecision(c + (intraSlice ? 3 : 2));
    type += e_.DecodeDecision(c + (intraSlice ? 4 : 2));
    return type;
}

int CabacSyntax::MbType() {
    if (sd_.p->type == SliceType::kI) return kMbTypeIntraBase + IntraMbType(kCtxMbTypeI, true);
    if (!e_.DecodeDecision(ctx_ + kCtxMbTypeP)) {
        if (!e_.DecodeDecision(ctx_ + kCtxMbTypeP + 1)) return 3 * e_.DecodeDecision(ctx_ + kCtxMbTypeP + 2);
        return 2 - e_.DecodeDecision(ctx_ + kCtxMbTypeP + 3);
    }
    return kMbTypeIntraBase + IntraMbType(kCtxMbTypePIntraPrefix, false);
}

int CabacSyntax::TransformSize8x8Flag() {
    const MbNeighbours &nb = sd_.nb;
    const int inc = (nb.left >= 0 && sd_.mbs[nb.left].transform8x8) + (nb.top >= 0 && sd_.mbs[nb.top].transform8x8);
    return e_.DecodeDecision(ctx_ + kCtxTransform8x8 + inc);
}

int CabacSyntax::PrevIntraPredModeFlag() { return e_.DecodeDecision(ctx_ + kCtxPrevIntraPredModeFlag); }

int CabacSyntax::RemIntraPredMode() {
    CabacContext *c = ctx_ + kCtxRemIntraPredMode;
    int v = e_.DecodeDecision(c);
    v |= e_.DecodeDecision(c) << 1;
    v |= e_.DecodeDecision(c) << 2;
    return v;
}

int CabacSyntax::IntraChromaPredMode() {
    const MbNeighbours &nb = sd_.nb;
    auto cond = [&](int a) {
        if (a < 0) return 0;
        const MbRecord &r = sd_.mbs[a];
        return (MbIsIntra(r.cls) && r.cls != kMbIPcm && r.chromaPredMode != 0) ? 1 : 0;
    };
    CabacContext *c = ctx_ + kCtxIntraChromaPredMode;
    if (!e_.DecodeDecision(c + cond(nb.left) + cond(nb.top))) return 0;
    if (!e_.DecodeDecision(c + 3)) return 1;
    return e_.DecodeDecision(c + 3) ? 3 : 2;
}

int CabacSyntax::SubMbType() {
    CabacContext *c = ctx_ + kCtxSubMbTypeP;
    if (e_.DecodeDecision(c)) return 0;
    if (!e_.DecodeDecision(c + 1)) return 1;
    return e_.DecodeDecision(c + 2) ? 2 : 3;
}

int CabacSyntax::RefIdx(int x, int y, int numRef) {
    const NeighbourCache &c = sd_.cache;
    const int inc = (c.ref[Cache(x - 1, y)] > 0) + 2 * (c.ref[Cache(x, y - 1)] > 0);
    CabacContext *base = ctx_ + kCtxRefIdx;
    if (!e_.DecodeDecision(base + inc)) return 0;
    int ref = 1;
    if (!e_.DecodeDecision(base + 4)) return ref;
    ++ref;
    while (ref < numRef && e_.DecodeDecision(base + 5)) ++ref;
    return ref;
}

int CabacSyntax::Mvd(int x, int y, int comp) {
    const NeighbourCache &c = sd_.cache;
    const int sum = c.mvd[Cache(x - 1, y)][comp] + c.mvd[Cache(x, y - 1)][comp];
    CabacContext *base = ctx_ + (comp ? kCtxMvdY : kCtxMvdX);
    const int inc = (sum > 2) + (sum > 32);
    if (!e_.DecodeDecision(base + inc)) return 0;
    int prefix = 1;
    while (prefix < 9 && e_.DecodeDecision(base + (prefix < 4 ? prefix + 2 : 6))) ++prefix;
    int value = prefix;
    if (prefix == 9) {
        // UEG3 suffix in bypass bins.
        int k = 3;
        int suffix = 0;
        while (e_.DecodeBypass()) {
            suffix += 1 << k;
            if (++k > 24) return INT32_MIN;
        }
        while (k-- > 0) suffix += e_.DecodeBypass() << k;
        value += suffix;
    }
    return e_.DecodeBypass() ? -value : value;
}

int CabacSyntax::CodedBlockPattern() {
    const MbNeighbours &nb = sd_.nb;
    // Unavailable neighbours count as all luma bits set and no chroma.
    const int cbpLeft = nb.left >= 0 ? sd_.mbs[nb.left].cbp : 0x0f;
    const int cbpTop = nb.top >= 0 ? sd_.mbs[nb.top].cbp : 0x0f;
    CabacContext *luma = ctx_ + kCtxCbpLuma;
    int cbp = 0;
    // Bits 8x8 block 0..3: left neighbour bit, top neighbour bit.
    {
        const int a = !((cbpLeft >> 1) & 1), b = !((cbpTop >> 2) & 1);
        cbp |= e_.DecodeDecision(luma + a + 2 * b);
    }
    {
        const int a = !(cbp & 1), b = !((cbpTop >> 3) & 1);
        cbp |= e_.DecodeDecision(luma + a + 2 * b) << 1;
    }
    {
        const int a = !((cbpLeft >> 3) & 1), b = !(cbp & 1);
        cbp |= e_.DecodeDecision(luma + a + 2 * b) << 2;
    }
    {
        const int a = !((cbp >> 2) & 1), b = !((cbp >> 1) & 1);
        cbp |= e_.DecodeDecision(luma + a + 2 * b) << 3;
    }
    const int chromaLeft = nb.left >= 0 ? sd_.mbs[nb.left].cbp >> 4 : 0;
    const int chromaTop = nb.top >= 0 ? sd_.mbs[nb.top].cbp >> 4 : 0;
    CabacContext *chroma = ctx_ + kCtxCbpChroma;
    if (e_.DecodeDecision(chroma + (chromaLeft != 0) + 2 * (chromaTop != 0))) {
        const int second = e_.DecodeDecision(chroma + 4 + (chromaLeft == 2) + 2 * (chromaTop == 2));
        cbp |= (1 + second) << 4;
    }
    return cbp;
}

int CabacSyntax::MbQpDelta() {
    CabacContext *c = ctx_ + kCtxMbQpDelta;
    int k = 0;
    if (e_.DecodeDecision(c + (sd_.lastQpDelta != 0))) {
        k = 1;
        if (e_.DecodeDecision(c + 2)) {
            k = 2;
            while (e_.DecodeDecision(c + 3)) {
                if (++k > 104) return INT32_MIN;
            }
        }
    }
    const int delta = (k & 1) ? (k + 1) >> 1 : -(k >> 1);
    sd_.lastQpDelta = delta;
    return delta;
}

int CabacSyntax::Residual(SliceDecoder &sd) {
    CurrentMb &mb = sd.mb;
    NeighbourCache &c = sd.cache;
    const SliceParams &p = *sd.p;
    const bool intra = MbIsIntra(mb.cls);
    const int qpMod6 = mb.qp % 6;
    const MbNeighbours &nb = sd.nb;
    CabacResidualJob j;
    j.luma = mb.luma;
    j.lumaDc = mb.lumaDc;
    j.nnz = c.nnz;
    j.scan4x4 = sd.scan4x4;
    j.scan8x8 = sd.scan8x8;
    j.lumaScale = p.dequant->scale4x4[intra ? 0 : 3][qpMod6];
    j.scale8x8 = p.dequant->scale8x8[intra ? 0 : 1][qpMod6];
    j.qpDiv6 = mb.qp / 6;
    for (int k = 0; k < 2; ++k) {
        const int qpc = mb.qpc[k];
        j.chroma[k] = mb.chroma[k];
        j.chromaDc[k] = mb.chromaDc[k];
        j.nnzChroma[k] = c.nnzChroma[k];
        j.chromaScale[k] = p.dequant->scale4x4[(intra ? 1 : 4) + k][qpc % 6];
        j.chromaQpDiv6[k] = qpc / 6;
    }
    // Unavailable neighbours (count 64) count as coded for intra macroblocks.
    j.codedBelow = intra ? 64 : 63;
    j.dcLeft = uint8_t(nb.left >= 0 ? sd.mbs[nb.left].cbfDc : (intra ? 7 : 0));
    j.dcTop = uint8_t(nb.top >= 0 ? sd.mbs[nb.top].cbfDc : (intra ? 7 : 0));
    j.cbp = mb.cbp;
    j.i16x16 = mb.cls == kMbI16x16;
    j.transform8x8 = mb.transform8x8 != 0;
    j.field = p.fieldPic != 0;
    mb.cbfDc |= uint8_t(DecodeCabacResidual(e_, ctx_, j));
    return e_.Overrun() ? kErrOverrun : kErrNone;
}

int CabacSyntax::Pcm(SliceDecoder &sd) {
    const SliceParams &p = *sd.p;
    const uint32_t start = e_.BytePositionAfterTerminate();
    const uint32_t end = p.bitEnd >> 3;
    if (start + 384 > end) return kErrOverrun;
    std::memcpy(sd.mb.pcm, p.data + start, 384);
    sd.cabac.Init(p.data, start + 384, end);
    return kErrNone;
}

}  // namespace tessaly::h264
