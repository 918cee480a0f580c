// Entry points of the slice-data layer and the macroblock loop: parse,
// reconstruct, keep the unfiltered edges, store and deblock each macroblock.
#include <algorithm>
#include <cstring>
#include <new>

#include "h264dec/aligned_alloc.h"
#include "h264dec/dsp/deblock_mb.h"
#include "h264dec/dsp/kernel_set.h"
#include "h264dec/slice/cabac_contexts.h"
#include "h264dec/slice/cabac_syntax.h"
#include "h264dec/slice/cavlc_syntax.h"
#include "h264dec/slice/deblock_strength.h"
#include "h264dec/slice/mb_layer.h"
#include "h264dec/slice/neighbour_cache.h"
#include "h264dec/slice/reconstruct.h"
#include "h264dec/tables/tables.h"

namespace tessaly::h264 {

namespace {

constexpr size_t Align16(size_t n) { return (n + 15) & ~size_t(15); }

constexpr int kLumaWorkRows = 17;
constexpr int kChromaWorkRows = 9;
constexpr int kMcScratchRows = 21;

// Copies the unfiltered bottom rows of `count` macroblocks of the current
// row, from the one at `mb` (column x) on, into the row buffers intra
// prediction reads.
void SaveBottomRows(SliceDecoder &sd, const MbPlanes &mb, int x, int count) {
    const int row = sd.mbY & 1;
    std::memcpy(sd.topLuma[row] + x * 16, mb.y + 15 * mb.lumaStride, size_t(16) * count);
    std::memcpy(sd.topChroma[row][0] + x * 8, mb.u + 7 * mb.chromaStride, size_t(8) * count);
    std::memcpy(sd.topChroma[row][1] + x * 8, mb.v + 7 * mb.chromaStride, size_t(8) * count);
}

// Makes the P_Skip predictions still waiting, oldest first.
void PredictDeferredSkips(SliceDecoder &sd) {
    for (int i = 0; i < sd.deferredCount; ++i) PredictSkipped(sd, sd.deferredSkips[i]);
    sd.deferredCount = 0;
}

// Queues the current P_Skip macroblock's prediction behind a fetch of its
// reference window, making the oldest one when the queue is full: a skipped
// macroblock is parsed in a few bins, too soon for its reference lines to
// arrive, and the parsing of the next two covers the wait (on 1080p and 720p
// CABAC, 2-3% faster; one is too few). Not for CAVLC, whose skip runs parse
// nothing in between (3% slower there).
void DeferSkip(SliceDecoder &sd) {
    PrefetchReferenceWindow(sd);
    if (sd.deferredCount == kMaxDeferredSkips) {
        PredictSkipped(sd, sd.deferredSkips[0]);
        std::copy(sd.deferredSkips + 1, sd.deferredSkips + kMaxDeferredSkips, sd.deferredSkips);
        --sd.deferredCount;
    }
    const int16_t *mv = sd.cache.mv[Cache(0, 0)];
    sd.deferredSkips[sd.deferredCount++] = {int16_t(sd.mbX), int16_t(sd.mbY), mv[0], mv[1]};
}

// Filters the queued macroblocks, after saving their bottom rows: one copy
// for all of them, long after their last stores (a copy per macroblock read
// rows just written by narrower stores, which the processor cannot forward).
void FlushDeblock(SliceDecoder &sd) {
    PredictDeferredSkips(sd);
    if (sd.deblockPending == 0) return;
    const DeblockMb &first = sd.deblockRow[0];
    const MbPlanes firstMb = {first.luma, first.cb, first.cr, first.lumaStride, first.chromaStride};
    SaveBottomRows(sd, firstMb, sd.deblockRowX, sd.deblockPending);
    for (int i = 0; i < sd.deblockPending; ++i) DeblockMbFilter(*sd.ks, sd.deblockRow[i]);
    sd.deblockPending = 0;
}

// The picture's lines for the macroblocks four ahead (eight for chroma),
// fetched before they are written: a buffer comes back into use after as
// many pictures as the stream keeps for reference, long out of the caches,
// and stores that miss fill the store queue while the parser waits (on
// 1080p CABAC, 2% faster). A 64-byte line holds four macroblocks' luma rows.
// Always inlined: GCC drops calls to a function that only prefetches.
inline __attribute__((always_inline)) void PrefetchPictureAhead(const SliceDecoder &sd, const MbPlanes &pic) {
    if ((sd.mbX & 3) || sd.mbX + 4 >= sd.p->widthMbs) return;
    for (int r = 0; r < 16; ++r) __builtin_prefetch(pic.y + 64 + r * pic.lumaStride, 1);
    if ((sd.mbX & 7) || sd.mbX + 8 >= sd.p->widthMbs) return;
    for (int r = 0; r < 8; ++r) {
        __builtin_prefetch(pic.u + 64 + r * pic.chromaStride, 1);
        __builtin_prefetch(pic.v + 64 + r * pic.chromaStride, 1);
    }
}

// Inter macroblocks are predicted straight into the picture; intra and PCM
// ones are built in the work area, which holds their unfiltered neighbours,
// and stored afterwards. Macroblocks are deblocked a row at a time, when the
// row or the slice ends: each predicts from unfiltered left neighbours in
// the picture, and the filters run back to back instead of between the
// parsing of every two macroblocks (on 1080p CABAC, 3% faster). Their bottom
// rows are saved then too, unless nothing filters them. P_Skip predictions
// may wait for a while (see DeferSkip).
template <bool kDeferSkips>
void FinishMb(SliceDecoder &sd) {
    const SliceParams &p = *sd.p;
    const KernelSet &ks = *sd.ks;
    const uint8_t cls = sd.mb.cls;
    const MbPlanes pic = MbPlanesAt(p, sd.mbX, sd.mbY);
    PrefetchPictureAhead(sd, pic);
    if (MbIsIntra(cls)) {
        PredictDeferredSkips(sd);  // the left neighbour must be there
        if (cls == kMbIPcm)
            ReconstructPcm(sd);
        else
            ReconstructIntra(sd);
        ks.copy[0](pic.y, pic.lumaStride, sd.lumaWork, kLumaWorkStride, 16);
        ks.copy[1](pic.u, pic.chromaStride, sd.chromaWork[0], kChromaWorkStride, 8);
        ks.copy[1](pic.v, pic.chromaStride, sd.chromaWork[1], kChromaWorkStride, 8);
    } else if (kDeferSkips && cls == kMbPSkip && p.disableDeblock != 1) {
        DeferSkip(sd);  // made by the time the row is deblocked
    } else {
        ReconstructInter(sd, pic);
    }
    StoreMbRecord(sd);
    if (p.disableDeblock == 1) {
        SaveBottomRows(sd, pic, sd.mbX, 1);
        return;
    }
    if (sd.deblockPending == 0) sd.deblockRowX = sd.mbX;
    DeblockMb &d = sd.deblockRow[sd.deblockPending++];
    d.luma = pic.y;
    d.cb = pic.u;
    d.cr = pic.v;
    d.lumaStride = p.lumaStride;
    d.chromaStride = p.chromaStride;
    ComputeDeblockParams(sd, d);
    if (sd.mbX == p.widthMbs - 1) FlushDeblock(sd);
}

void ClearCoefficients(CurrentMb &mb) {
    std::memset(mb.luma, 0, sizeof(mb.luma));
    std::memset(mb.lumaDc, 0, sizeof(mb.lumaDc));
    std::memset(mb.chroma, 0, sizeof(mb.chroma));
    std::memset(mb.chromaDc, 0, sizeof(mb.chromaDc));
}

inline void SetPosition(SliceDecoder &sd, int addr) {
    sd.mbAddr = addr;
    sd.mbY = addr / sd.p->widthMbs;
    sd.mbX = addr - sd.mbY * sd.p->widthMbs;
    sd.mbIndex = (sd.mbY & 1) * sd.p->widthMbs + sd.mbX;
}

// The next address in raster order, without SetPosition's division.
inline void NextPosition(SliceDecoder &sd) {
    const int w = sd.p->widthMbs;
    ++sd.mbAddr;
    ++sd.mbIndex;
    if (++sd.mbX == w) {
        sd.mbX = 0;
        ++sd.mbY;
        sd.mbIndex = (sd.mbY & 1) * w;
    }
}

bool ParamsUsable(const SliceDecoder &sd, const SliceParams &p) {
    if (!p.data || !p.dequant || !p.y || !p.u || !p.v) return false;
    if (p.widthMbs <= 0 || p.heightMbs <= 0 || p.widthMbs > sd.maxWidthMbs) return false;
    if (p.picSizeInMbs != p.widthMbs * p.heightMbs) return false;
    if (int64_t(p.picSizeInMbs) > int64_t(sd.maxWidthMbs) * sd.maxHeightMbs) return false;
    if (p.firstMb < 0 || p.firstMb >= p.picSizeInMbs) return false;
    if (p.bitPos > p.bitEnd) return false;
    if (p.type == SliceType::kP && (p.numRefIdxActive < 1 || p.numRefIdxActive > 32)) return false;
    return true;
}

// The end address in force: endMb when it lies past firstMb inside the picture.
int EndMb(const SliceParams &p) { return p.endMb > p.firstMb && p.endMb < p.picSizeInMbs ? p.endMb : p.picSizeInMbs; }

uint64_t FindStopBit(const SliceParams &p) {
    const uint32_t first = p.bitPos >> 3;
    for (uint32_t i = p.bitEnd >> 3; i > first; --i) {
        const uint8_t b = p.data[i - 1];
        if (b) return uint64_t(i) * 8 - 1 - uint64_t(__builtin_ctz(b));
    }
    return p.bitPos;
}

// One coded macroblock. On an error the coefficient buffers are left zeroed,
// as a finished macroblock leaves them, and res says why.
template <typename Syntax>
[[gnu::always_inline]] inline bool DecodeCodedMb(SliceDecoder &sd, Syntax &syntax, SliceResult &res) {
    const int err = DecodeMacroblock(sd, syntax);
    if (err == 0) [[likely]]
        return true;
    ClearCoefficients(sd.mb);
    res.error = err;
    return false;
}

SliceResult DecodeCavlcSlice(SliceDecoder &sd) {
    const SliceParams &p = *sd.p;
    SliceResult res;
    CavlcSyntax syntax(sd);
    const int endMb = EndMb(p);
    auto moreData = [&] { return sd.br.Position() < sd.stopBit; };
    SetPosition(sd, p.firstMb);
    for (;;) {
        if (p.type == SliceType::kP) {
            const uint32_t run = sd.br.ReadUe();
            if (run > uint32_t(endMb - sd.mbAddr)) {
                res.error = kErrSkipRun;
                return res;
            }
            for (uint32_t i = 0; i < run; ++i) {
                LoadSkipNeighbours(sd);
                SetupSkipMb(sd);
                FinishMb<false>(sd);
                ++res.mbsDecoded;
                NextPosition(sd);
            }
            if (sd.mbAddr >= endMb || !moreData()) return res;
        }
        LoadNeighbours(sd);
        if (!DecodeCodedMb(sd, syntax, res)) return res;
        FinishMb<false>(sd);
        ++res.mbsDecoded;
        if (!moreData()) return res;
        if (sd.mbAddr + 1 >= endMb) {
            res.error = kErrEndOfSlice;
            return res;
        }
        NextPosition(sd);
    }
}

SliceResult DecodeCabacSlice(SliceDecoder &sd) {
    const SliceParams &p = *sd.p;
    SliceResult res;
    sd.cabac.Init(p.data, (p.bitPos + 7) >> 3, p.bitEnd >> 3);
    InitCabacContexts(sd.ctx, p.type, p.cabacInitIdc, sd.qp);
    sd.lastQpDelta = 0;
    CabacSyntax syntax(sd);
    const int endMb = EndMb(p);
    SetPosition(sd, p.firstMb);
    for (;;) {
        FindNeighbours(sd);
        if (p.type == SliceType::kP && syntax.MbSkipFlag()) {
            LoadSkipMotion(sd);
            SetupSkipMb(sd);
            sd.lastQpDelta = 0;
        } else {
            LoadNeighbourData(sd);
            if (!DecodeCodedMb(sd, syntax, res)) return res;
        }
        FinishMb<true>(sd);
        ++res.mbsDecoded;
        if (syntax.EndOfSliceFlag()) return res;
        if (sd.mbAddr + 1 >= endMb || sd.cabac.Overrun()) {
            res.error = sd.mbAddr + 1 >= endMb ? kErrEndOfSlice : kErrOverrun;
            return res;
        }
        NextPosition(sd);
    }
}

}  // namespace

SliceDecoder *SliceDecoderCreate(int32_t maxWidthMbs, int32_t maxHeightMbs, const KernelSet *kernels) {
    if (maxWidthMbs <= 0 || maxHeightMbs <= 0 || !kernels) return nullptr;
    // Value-initialised: the coefficient buffers must start at zero (the
    // transforms clear them after use, so they stay that way).
    auto *sd = new (std::nothrow) SliceDecoder();
    if (!sd) return nullptr;
    sd->ks = kernels;
    sd->maxWidthMbs = maxWidthMbs;
    sd->maxHeightMbs = maxHeightMbs;

    const size_t numMbs = 2 * size_t(maxWidthMbs);
    const size_t lumaRow = Align16(size_t(maxWidthMbs + 2) * 16);
    const size_t chromaRow = Align16(size_t(maxWidthMbs + 2) * 8);
    const size_t mbBytes = Align16(numMbs * sizeof(MbRecord));
    const size_t lumaWork = Align16(size_t(kLumaWorkRows + 1) * kLumaWorkStride);
    const size_t chromaWork = Align16(size_t(kChromaWorkRows + 1) * kChromaWorkStride);
    const size_t scratch = Align16(size_t(kMcScratchRows) * kMcScratchStride);
    const size_t deblockBytes = Align16(size_t(maxWidthMbs) * sizeof(DeblockMb));
    const size_t total = mbBytes + deblockBytes + 2 * lumaRow + 4 * chromaRow + lumaWork + 2 * chromaWork + scratch;
    auto *base = static_cast<uint8_t *>(AlignedAllocZeroed(total));
    if (!base) {
        delete sd;
        return nullptr;
    }
    sd->arena = base;
    uint8_t *at = base;
    sd->mbs = reinterpret_cast<MbRecord *>(at);
    for (size_t i = 0; i < numMbs; ++i) new (sd->mbs + i) MbRecord;
    at += mbBytes;
    sd->deblockRow = reinterpret_cast<DeblockMb *>(at);
    for (int i = 0; i < maxWidthMbs; ++i) new (sd->deblockRow + i) DeblockMb;
    at += deblockBytes;
    // Row buffers start one macroblock in, so the above-left sample of
    // column 0 and the above-right of the last column stay inside.
    for (int r = 0; r < 2; ++r) {
        sd->topLuma[r] = at + 16;
        at += lumaRow;
        for (int k = 0; k < 2; ++k) {
            sd->topChroma[r][k] = at + 8;
            at += chromaRow;
        }
    }
    sd->lumaWork = at + kLumaWorkStride + 16;
    at += lumaWork;
    for (int k = 0; k < 2; ++k) {
        sd->chromaWork[k] = at + kChromaWorkStride + 16;
        at += chromaWork;
    }
    sd->mcScratch = at;
    sd->scan4x4 = kZigzag4x4;
    sd->scan8x8 = kZigzag8x8;
    ClearCoefficients(sd->mb);
    return sd;
}

void SliceDecoderDestroy(SliceDecoder *sd) {
    if (!sd) return;
    AlignedFree(sd->arena);
    delete sd;
}

void SliceDecoderStartPicture(SliceDecoder *sd, const SliceParams &) {
    if (!sd) return;
    sd->pictureFirstSlice = sd->sliceSerial + 1;
}

SliceResult SliceDecoderDecode(SliceDecoder *sd, const SliceParams &p) {
    SliceResult res;
    if (!sd || !ParamsUsable(*sd, p)) {
        res.error = kErrGeometry;
        return res;
    }
    ++sd->sliceSerial;
    sd->p = &p;
    sd->qp = p.sliceQp < 0 ? 0 : (p.sliceQp > 51 ? 51 : p.sliceQp);
    sd->scan4x4 = p.fieldPic ? kField4x4 : kZigzag4x4;
    sd->scan8x8 = p.fieldPic ? kField8x8 : kZigzag8x8;
    if (p.cabac) {
        res = DecodeCabacSlice(*sd);
    } else {
        sd->br.Reset(p.data, (p.bitEnd + 7) >> 3);
        sd->br.SetPosition(p.bitPos);
        sd->stopBit = FindStopBit(p);
        res = DecodeCavlcSlice(*sd);
    }
    FlushDeblock(*sd);
    sd->p = nullptr;
    return res;
}

}  // namespace tessaly::h264
