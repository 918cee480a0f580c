#include "h264dec/slice/neighbour_cache.h"

#include <cstring>

namespace tessaly::h264 {

namespace {

constexpr uint8_t kNnzUnavailable = 64;

inline int Ref8x8(int x, int y) { return (y >> 1) * 2 + (x >> 1); }

void ClearSide(NeighbourCache &c, int idx) {
    c.nnz[idx] = kNnzUnavailable;
    c.predMode[idx] = -1;
    c.ref[idx] = kRefUnavailable;
    std::memset(c.mv[idx], 0, sizeof c.mv[idx]);
    std::memset(c.mvd[idx], 0, sizeof c.mvd[idx]);
}

// Only CABAC contexts read the mvd magnitudes; CAVLC slices skip them.
void CopyBlock(NeighbourCache &c, int idx, const MbRecord &r, int raster, bool intraUsable, bool cabac) {
    c.nnz[idx] = r.nnz[raster];
    c.predMode[idx] = intraUsable ? r.predMode[raster] : -1;
    c.ref[idx] = r.ref[Ref8x8(raster & 3, raster >> 2)];
    std::memcpy(c.mv[idx], r.mv[raster], sizeof c.mv[idx]);
    if (cabac) std::memcpy(c.mvd[idx], r.mvd[raster], sizeof c.mvd[idx]);
}

// Motion of one neighbouring 4x4 block, or "unavailable" without a record.
inline void CopyMotion(NeighbourCache &c, int idx, const MbRecord *r, int raster) {
    if (r) {
        c.ref[idx] = r->ref[Ref8x8(raster & 3, raster >> 2)];
        std::memcpy(c.mv[idx], r->mv[raster], sizeof c.mv[idx]);
    } else {
        c.ref[idx] = kRefUnavailable;
        std::memset(c.mv[idx], 0, sizeof c.mv[idx]);
    }
}

}  // namespace

void LoadSkipMotion(SliceDecoder &sd) {
    const MbNeighbours &nb = sd.nb;
    // Without A or B the skip motion is zero and reads nothing.
    if (nb.left < 0 || nb.top < 0) return;
    NeighbourCache &c = sd.cache;
    CopyMotion(c, Cache(-1, 0), &sd.mbs[nb.left], 3);
    CopyMotion(c, Cache(0, -1), &sd.mbs[nb.top], 12);
    CopyMotion(c, Cache(4, -1), nb.topRight >= 0 ? &sd.mbs[nb.topRight] : nullptr, 12);
    CopyMotion(c, Cache(-1, -1), nb.topLeft >= 0 ? &sd.mbs[nb.topLeft] : nullptr, 15);
}

void LoadNeighbourData(SliceDecoder &sd) {
    const SliceParams &p = *sd.p;
    const MbNeighbours &nb = sd.nb;

    // Intra prediction may use a neighbour unless constrained intra
    // prediction excludes inter-coded ones.
    const bool constrained = p.constrainedIntraPred != 0;
    auto usable = [&](int a) { return a >= 0 && (!constrained || MbIsIntra(sd.mbs[a].cls)); };
    sd.availIntra[0] = usable(nb.left);
    sd.availIntra[1] = usable(nb.top);
    sd.availIntra[2] = usable(nb.topRight);
    sd.availIntra[3] = usable(nb.topLeft);

    NeighbourCache &c = sd.cache;
    const bool cabac = p.cabac;
    if (nb.left >= 0) {
        const MbRecord &r = sd.mbs[nb.left];
        for (int y = 0; y < 4; ++y) CopyBlock(c, Cache(-1, y), r, 4 * y + 3, sd.availIntra[0], cabac);
        for (int k = 0; k < 2; ++k)
            for (int y = 0; y < 2; ++y) c.nnzChroma[k][Cache(-1, y)] = r.nnzChroma[k][2 * y + 1];
    } else {
        for (int y = 0; y < 4; ++y) ClearSide(c, Cache(-1, y));
        for (int k = 0; k < 2; ++k)
            for (int y = 0; y < 2; ++y) c.nnzChroma[k][Cache(-1, y)] = kNnzUnavailable;
    }
    if (nb.top >= 0) {
        // The bottom row of the macroblock above is one contiguous row of
        // the cache.
        const MbRecord &r = sd.mbs[nb.top];
        const int row = Cache(0, -1);
        std::memcpy(c.nnz + row, r.nnz + 12, 4);
        if (sd.availIntra[1])
            std::memcpy(c.predMode + row, r.predMode + 12, 4);
        else
            std::memset(c.predMode + row, -1, 4);
        c.ref[row] = c.ref[row + 1] = r.ref[2];
        c.ref[row + 2] = c.ref[row + 3] = r.ref[3];
        std::memcpy(c.mv[row], r.mv[12], sizeof(r.mv[0]) * 4);
        if (cabac) std::memcpy(c.mvd[row], r.mvd[12], sizeof(r.mvd[0]) * 4);
        for (int k = 0; k < 2; ++k) {
            c.nnzChroma[k][row] = r.nnzChroma[k][2];
            c.nnzChroma[k][row + 1] = r.nnzChroma[k][3];
        }
    } else {
        for (int x = 0; x < 4; ++x) ClearSide(c, Cache(x, -1));
        for (int k = 0; k < 2; ++k)
            for (int x = 0; x < 2; ++x) c.nnzChroma[k][Cache(x, -1)] = kNnzUnavailable;
    }
    if (nb.topRight >= 0) {
        CopyBlock(c, Cache(4, -1), sd.mbs[nb.topRight], 12, false, cabac);
    } else {
        ClearSide(c, Cache(4, -1));
    }
    if (nb.topLeft >= 0) {
        CopyBlock(c, Cache(-1, -1), sd.mbs[nb.topLeft], 15, false, cabac);
    } else {
        ClearSide(c, Cache(-1, -1));
    }
    // Right of the macroblock nothing is decoded yet.
    for (int y = 0; y < 4; ++y) c.ref[Cache(4, y)] = kRefUnavailable;
}

namespace {

// P_Skip: everything but the motion vector and the QPs is fixed, so the
// record is written without reading the cache back.
void StoreSkipRecord(SliceDecoder &sd, MbRecord &r) {
    const CurrentMb &mb = sd.mb;
    r.cbp = 0;
    r.transform8x8 = 0;
    r.chromaPredMode = 0;
    r.cbfDc = 0;
    r.nonzero = 0;
    std::memset(r.nnz, 0, sizeof r.nnz);
    std::memset(r.nnzChroma, 0, sizeof r.nnzChroma);
    std::memset(r.predMode, 2, sizeof r.predMode);
    std::memset(r.ref, 0, sizeof r.ref);
    const int32_t id = sd.p->refList[0].id;
    for (int k = 0; k < 4; ++k) r.refId[k] = id;
    uint32_t mv;
    std::memcpy(&mv, sd.cache.mv[Cache(0, 0)], sizeof mv);
    for (int k = 0; k < 16; ++k) std::memcpy(r.mv[k], &mv, sizeof mv);
    if (sd.p->cabac) std::memset(r.mvd, 0, sizeof r.mvd);
    r.qpDeblock = uint8_t(mb.qp);
    r.qpcDeblock[0] = uint8_t(mb.qpc[0]);
    r.qpcDeblock[1] = uint8_t(mb.qpc[1]);
}

}  // namespace

void StoreMbRecord(SliceDecoder &sd) {
    MbRecord &r = sd.mbs[sd.mbIndex];
    r.addr = sd.mbAddr;
    const CurrentMb &mb = sd.mb;
    r.slice = sd.sliceSerial;
    r.cls = mb.cls;
    if (mb.cls == kMbPSkip) {
        StoreSkipRecord(sd, r);
        return;
    }
    const NeighbourCache &c = sd.cache;
    const RefPicture *refList = sd.p->refList;
    const bool cabac = sd.p->cabac;
    r.cbp = mb.cbp;
    r.transform8x8 = mb.transform8x8;
    r.chromaPredMode = mb.chromaPredMode;
    r.cbfDc = mb.cbfDc;
    for (int y = 0; y < 4; ++y) {
        const int row = Cache(0, y);
        std::memcpy(r.nnz + 4 * y, c.nnz + row, 4);
        std::memcpy(r.predMode + 4 * y, c.predMode + row, 4);
        std::memcpy(r.mv[4 * y], c.mv[row], sizeof(r.mv[0]) * 4);
        // Only CABAC contexts read the mvd magnitudes.
        if (cabac) std::memcpy(r.mvd[4 * y], c.mvd[row], sizeof(r.mvd[0]) * 4);
    }
    // From the cache, not read back from the record's bytes just stored
    // (that would stall on store forwarding).
    uint16_t nonzero = CodedLumaBlocks(c);
    if (mb.transform8x8) {
        // Deblocking looks at whole 8x8 transform blocks.
        for (int k = 0; k < 4; ++k) {
            const uint16_t quad = uint16_t(0x33u << ((k & 1) * 2 + (k >> 1) * 8));
            if (nonzero & quad) nonzero |= quad;
        }
    }
    r.nonzero = nonzero;
    for (int k = 0; k < 2; ++k) {
        std::memcpy(r.nnzChroma[k], c.nnzChroma[k] + Cache(0, 0), 2);
        std::memcpy(r.nnzChroma[k] + 2, c.nnzChroma[k] + Cache(0, 1), 2);
    }
    const int8_t refs[4] = {c.ref[Cache(0, 0)], c.ref[Cache(2, 0)], c.ref[Cache(0, 2)], c.ref[Cache(2, 2)]};
    // Most macroblocks use one reference throughout: look it up once.
    auto idOf = [refList](int ref) { return ref >= 0 ? refList[ref].id : -1; };
    const int32_t id0 = idOf(refs[0]);
    int32_t ids[4];
    for (int k = 0; k < 4; ++k) ids[k] = refs[k] == refs[0] ? id0 : idOf(refs[k]);
    std::memcpy(r.ref, refs, sizeof refs);
    std::memcpy(r.refId, ids, sizeof ids);
    r.qpDeblock = mb.cls == kMbIPcm ? 0 : uint8_t(mb.qp);
    r.qpcDeblock[0] = uint8_t(mb.qpc[0]);
    r.qpcDeblock[1] = uint8_t(mb.qpc[1]);
}

}  // namespace tessaly::h264
