// The macroblock layer syntax (mb_type, prediction, coded_block_pattern,
// mb_qp_delta, residual) written once for both entropy codings. `Entropy`
// supplies each syntax element (CavlcSyntax, CabacSyntax) and the residual.
#pragma once

#include "h264dec/slice/mb_common.h"
#include "h264dec/slice/mv_prediction.h"
#include "h264dec/slice/reference_prefetch.h"

namespace tessaly::h264 {

// P_Skip: motion from the skip prediction, no residual, QP unchanged.
inline void SetupSkipMb(SliceDecoder &sd) {
    CurrentMb &mb = sd.mb;
    mb.cls = kMbPSkip;
    mb.cbp = 0;
    mb.transform8x8 = 0;
    mb.chromaPredMode = 0;
    ClearCoefficientCounts(sd);
    // Intra modes and mvd magnitudes stay in the cache: the record of a skipped
    // macroblock gets its fixed values without reading them.
    int16_t mv[2];
    PredictSkipMv(sd.cache, sd.nb.left >= 0, sd.nb.top >= 0, mv);
    FillMotion(sd.cache, 0, 0, 4, 4, 0, mv);
    SetMbQp(sd, sd.qp);
}

namespace detail {

inline void FillMvd(NeighbourCache &c, int x, int y, int w, int h, int mvdx, int mvdy) {
    const uint8_t ax = uint8_t(mvdx < 0 ? (mvdx < -64 ? 64 : -mvdx) : (mvdx > 64 ? 64 : mvdx));
    const uint8_t ay = uint8_t(mvdy < 0 ? (mvdy < -64 ? 64 : -mvdy) : (mvdy > 64 ? 64 : mvdy));
    for (int j = y; j < y + h; ++j) {
        for (int i = x; i < x + w; ++i) {
            c.mvd[Cache(i, j)][0] = ax;
            c.mvd[Cache(i, j)][1] = ay;
        }
    }
}

inline void FillRef(NeighbourCache &c, int x, int y, int w, int h, int ref) {
    for (int j = y; j < y + h; ++j)
        for (int i = x; i < x + w; ++i) c.ref[Cache(i, j)] = int8_t(ref);
}

template <class Entropy>
inline bool ReadMotion(SliceDecoder &sd, Entropy &ent, int x, int y, int w, int h, int shape) {
    NeighbourCache &c = sd.cache;
    const int ref = c.ref[Cache(x, y)];
    const int mvdx = ent.Mvd(x, y, 0);
    const int mvdy = ent.Mvd(x, y, 1);
    if (mvdx == INT32_MIN || mvdy == INT32_MIN) return false;
    int16_t mvp[2];
    PredictMv(c, x, y, w, ref, shape, mvp);
    const int16_t mv[2] = {int16_t(mvp[0] + mvdx), int16_t(mvp[1] + mvdy)};
    FillMotion(c, x, y, w, h, ref, mv);
    // Only CABAC contexts read the mvd magnitudes.
    if (sd.p->cabac) FillMvd(c, x, y, w, h, mvdx, mvdy);
    return true;
}

template <class Entropy>
inline int ParseInterPrediction(SliceDecoder &sd, Entropy &ent, int type) {
    CurrentMb &mb = sd.mb;
    NeighbourCache &c = sd.cache;
    const int numRef = sd.p->numRefIdxActive > 0 ? sd.p->numRefIdxActive : 1;
    // No clearing of the motion fields: the partitions cover the macroblock.
    mb.cls = uint8_t(kMbP16x16 + type);
    auto readRef = [&](int x, int y) -> int {
        if (numRef <= 1 || type == kMbP8x8Ref0) return 0;
        const int ref = ent.RefIdx(x, y, numRef);
        return (ref < 0 || ref >= numRef) ? -1 : ref;
    };
    if (type == kMbP8x8 || type == kMbP8x8Ref0) {
        for (int k = 0; k < 4; ++k) {
            const int st = ent.SubMbType();
            if (st < 0 || st > 3) return kErrSubMbType;
            mb.subType[k] = uint8_t(st);
        }
        for (int k = 0; k < 4; ++k) {
            const int x = (k & 1) * 2, y = (k >> 1) * 2;
            const int ref = readRef(x, y);
            if (ref < 0) return kErrRefIdx;
            FillRef(c, x, y, 2, 2, ref);
        }
        for (int k = 0; k < 4; ++k) {
            const int x = (k & 1) * 2, y = (k >> 1) * 2;
            bool ok = true;
            switch (mb.subType[k]) {
            case 0: ok = ReadMotion(sd, ent, x, y, 2, 2, 0); break;
            case 1: ok = ReadMotion(sd, ent, x, y, 2, 1, 0) && ReadMotion(sd, ent, x, y + 1, 2, 1, 0); break;
            case 2: ok = ReadMotion(sd, ent, x, y, 1, 2, 0) && ReadMotion(sd, ent, x + 1, y, 1, 2, 0); break;
            default:
                ok = ReadMotion(sd, ent, x, y, 1, 1, 0) && ReadMotion(sd, ent, x + 1, y, 1, 1, 0) &&
                     ReadMotion(sd, ent, x, y + 1, 1, 1, 0) && ReadMotion(sd, ent, x + 1, y + 1, 1, 1, 0);
                break;
            }
            if (!ok) return kErrMvd;
        }
        return kErrNone;
    }
    if (type == kMbP16x16) {
        const int ref = readRef(0, 0);
        if (ref < 0) return kErrRefIdx;
        FillRef(c, 0, 0, 4, 4, ref);
        return ReadMotion(sd, ent, 0, 0, 4, 4, 0) ? kErrNone : kErrMvd;
    }
    if (type == kMbP16x8) {
        const int ref0 = readRef(0, 0);
        if (ref0 < 0) return kErrRefIdx;
        FillRef(c, 0, 0, 4, 2, ref0);
        const int ref1 = readRef(0, 2);
        if (ref1 < 0) return kErrRefIdx;
        FillRef(c, 0, 2, 4, 2, ref1);
        return (ReadMotion(sd, ent, 0, 0, 4, 2, 1) && ReadMotion(sd, ent, 0, 2, 4, 2, 1)) ? kErrNone : kErrMvd;
    }
    const int ref0 = readRef(0, 0);
    if (ref0 < 0) return kErrRefIdx;
    FillRef(c, 0, 0, 2, 4, ref0);
    const int ref1 = readRef(2, 0);
    if (ref1 < 0) return kErrRefIdx;
    FillRef(c, 2, 0, 2, 4, ref1);
    return (ReadMotion(sd, ent, 0, 0, 2, 4, 2) && ReadMotion(sd, ent, 2, 0, 2, 4, 2)) ? kErrNone : kErrMvd;
}

template <class Entropy>
inline int ParseIntraModes(SliceDecoder &sd, Entropy &ent) {
    CurrentMb &mb = sd.mb;
    NeighbourCache &c = sd.cache;
    if (mb.transform8x8) {
        for (int k = 0; k < 4; ++k) {
            const int idx = kBlkCache[4 * k];
            const int pred = PredictedIntraMode(c, idx);
            int mode = pred;
            if (!ent.PrevIntraPredModeFlag()) {
                const int rem = ent.RemIntraPredMode();
                mode = rem < pred ? rem : rem + 1;
            }
            c.predMode[idx] = c.predMode[idx + 1] = c.predMode[idx + kCacheStride] =
                c.predMode[idx + kCacheStride + 1] = int8_t(mode);
            mb.predMode[4 * k] = int8_t(mode);
        }
    } else {
        for (int b = 0; b < 16; ++b) {
            const int idx = kBlkCache[b];
            const int pred = PredictedIntraMode(c, idx);
            int mode = pred;
            if (!ent.PrevIntraPredModeFlag()) {
                const int rem = ent.RemIntraPredMode();
                mode = rem < pred ? rem : rem + 1;
            }
            c.predMode[idx] = int8_t(mode);
            mb.predMode[b] = int8_t(mode);
        }
    }
    return kErrNone;
}

}  // namespace detail

// Decodes one macroblock that is not skipped: syntax, scaled coefficients in
// sd.mb, motion and counts in sd.cache. Returns a SliceError.
template <class Entropy>
int DecodeMacroblock(SliceDecoder &sd, Entropy &ent) {
    CurrentMb &mb = sd.mb;
    const SliceParams &p = *sd.p;
    const int type = ent.MbType();
    if (type < 0 || type > kMbTypeMax) return kErrMbType;
    mb.transform8x8 = 0;
    mb.chromaPredMode = 0;
    ClearCoefficientCounts(sd);

    int cbp = 0;
    if (type >= kMbTypeIntraBase) {
        const int it = type - kMbTypeIntraBase;
        ClearMotion(sd, kRefIntra);
        if (it == kIntraTypePcm) {
            // I_PCM: every block counts as coded; deblocking uses QP 0.
            mb.cls = kMbIPcm;
            mb.cbp = kCbpLumaAll | kCbpChromaAc;
            mb.cbfDc = kCbfDcAll;
            SetPredModes(sd, kPredModeDc);
            SetMbQp(sd, sd.qp);
            for (int k = 0; k < 2; ++k) {
                const int qpi = p.chromaQpOffset[k];
                mb.qpc[k] = kChromaQp[qpi < 0 ? 0 : (qpi > kMaxQp ? kMaxQp : qpi)];
            }
            for (int y = 0; y < 4; ++y)
                for (int x = 0; x < 4; ++x) sd.cache.nnz[Cache(x, y)] = kPcmCoeffCount;
            for (int k = 0; k < 2; ++k)
                for (int i = 0; i < 4; ++i) sd.cache.nnzChroma[k][kChromaCache[i]] = kPcmCoeffCount;
            ent.NoQpDelta();
            return ent.Pcm(sd);
        }
        if (it == kIntraTypeNxN) {
            mb.cls = kMbINxN;
            if (p.transform8x8Mode) mb.transform8x8 = uint8_t(ent.TransformSize8x8Flag());
            const int err = detail::ParseIntraModes(sd, ent);
            if (err) return err;
        } else {
            mb.cls = kMbI16x16;
            mb.i16Mode = uint8_t((it - 1) & 3);
            cbp = (((it - 1) >> 2) % 3) << 4 | (it >= kIntra16x16LumaAcFirst ? kCbpLumaAll : 0);
            SetPredModes(sd, kPredModeDc);
        }
        const int chromaMode = ent.IntraChromaPredMode();
        if (chromaMode < 0 || chromaMode >= kNumIntraChromaModes) return kErrIntraMode;
        mb.chromaPredMode = uint8_t(chromaMode);
    } else {
        SetPredModes(sd, kPredModeDc);
        const int err = detail::ParseInterPrediction(sd, ent, type);
        if (err) return err;
        PrefetchReferenceWindow(sd);
    }

    if (mb.cls != kMbI16x16) {
        cbp = ent.CodedBlockPattern();
        if (cbp < 0) return kErrCbp;
        if ((cbp & 15) && p.transform8x8Mode && mb.cls != kMbINxN) {
            bool all8x8 = true;
            if (mb.cls == kMbP8x8 || mb.cls == kMbP8x8Ref0)
                all8x8 = (mb.subType[0] | mb.subType[1] | mb.subType[2] | mb.subType[3]) == 0;
            if (all8x8) mb.transform8x8 = uint8_t(ent.TransformSize8x8Flag());
        }
    }
    mb.cbp = uint8_t(cbp);

    if (cbp != 0 || mb.cls == kMbI16x16) {
        const int delta = ent.MbQpDelta();
        if (delta < kMinQpDelta || delta > kMaxQpDelta) return kErrQpDelta;
        SetMbQp(sd, (sd.qp + delta + kMaxQp + 1) % (kMaxQp + 1));
    } else {
        ent.NoQpDelta();
        SetMbQp(sd, sd.qp);
    }
    return ent.Residual(sd);
}

}  // namespace tessaly::h264
