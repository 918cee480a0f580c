#include "h264dec/slice/deblock_strength.h"

#include <cstring>

namespace tessaly::h264 {

namespace {

inline int RefIdOfBlock(const MbRecord &r, int block) { return r.refId[(block >> 3) * 2 + ((block & 3) >> 1)]; }

// 1 if blocks p and q predict from different pictures or their motion
// vectors differ by a full sample or more (a vertical quarter sample limit
// of mvyLimit), else 0; computed without branches.
inline uint32_t MotionDiffers(const MbRecord &rp, int p, const MbRecord &rq, int q, int mvyLimit) {
    const int dx = rp.mv[p][0] - rq.mv[q][0];
    const int dy = rp.mv[p][1] - rq.mv[q][1];
    return uint32_t(RefIdOfBlock(rp, p) != RefIdOfBlock(rq, q)) | uint32_t(unsigned(dx + 3) > 6u) |
           uint32_t(unsigned(dy + mvyLimit - 1) > unsigned(2 * mvyLimit - 2));
}

// bS 2 / 1 / 0 between block p (raster index in record rp) and block q.
inline uint8_t InterStrength(const MbRecord &rp, int p, const MbRecord &rq, int q, int mvyLimit) {
    const uint32_t coded = ((rp.nonzero >> p) | (rq.nonzero >> q)) & 1;
    return uint8_t(coded ? 2 : MotionDiffers(rp, p, rq, q, mvyLimit));
}

// The inner edges of a macroblock with several motion vectors, as bit masks
// over the q block (raster): coefficients on either side, and motion that
// differs from the block to the left (vertical edges) or above (horizontal).
inline void InnerEdges(const MbRecord &cur, int mvyLimit, uint8_t bsV[4][4], uint8_t bsH[4][4]) {
    const uint32_t nz = cur.nonzero;
    const uint32_t codedV = (nz | nz << 1) & 0xeeeeu;
    const uint32_t codedH = (nz | nz << 4) & 0xfff0u;
    uint32_t motionV = 0, motionH = 0;
    for (int q = 1; q < 16; ++q) {
        if (q & 3) motionV |= MotionDiffers(cur, q - 1, cur, q, mvyLimit) << q;
        if (q >= 4) motionH |= MotionDiffers(cur, q - 4, cur, q, mvyLimit) << q;
    }
    for (int e = 1; e < 4; ++e) {
        for (int k = 0; k < 4; ++k) {
            const int qv = 4 * k + e, qh = 4 * e + k;
            bsV[e][k] = uint8_t(((codedV >> qv) & 1) ? 2 : (motionV >> qv) & 1);
            bsH[e][k] = uint8_t(((codedH >> qh) & 1) ? 2 : (motionH >> qh) & 1);
        }
    }
}

inline bool SingleMotion(const MbRecord &r) { return r.cls == kMbPSkip || r.cls == kMbP16x16; }

// Macroblock edge between two macroblocks with one motion vector each: the
// motion test is the same for all four segments. pMask / qMask select the
// edge's blocks of p and q (raster bits, segment k at bit k * step).
inline void EdgeOfSingleMotion(const MbRecord &p, const MbRecord &q, uint32_t pMask, uint32_t qMask, int mvyLimit,
                               uint8_t bs[4], int step) {
    const int dx = p.mv[0][0] - q.mv[0][0];
    const int dy = p.mv[0][1] - q.mv[0][1];
    const uint8_t motion =
        (p.refId[0] != q.refId[0] || dx >= 4 || dx <= -4 || dy >= mvyLimit || dy <= -mvyLimit) ? 1 : 0;
    const uint32_t pBits = p.nonzero & pMask, qBits = q.nonzero & qMask;
    if (!pBits && !qBits) {
        std::memset(bs, motion, 4);
        return;
    }
    const int pFirst = __builtin_ctz(pMask), qFirst = __builtin_ctz(qMask);
    for (int k = 0; k < 4; ++k) {
        const bool coded = ((pBits >> (pFirst + k * step)) | (qBits >> (qFirst + k * step))) & 1;
        bs[k] = coded ? 2 : motion;
    }
}

// Across slices the record in the neighbour's place may be older than the
// picture's row above (a slice went missing): the address tells.
inline bool NeighbourFilterable(const SliceDecoder &sd, int index, int addr) {
    const MbRecord &n = sd.mbs[index];
    if (n.addr != addr || n.slice < sd.pictureFirstSlice || n.slice > sd.sliceSerial) return false;
    if (sd.p->disableDeblock == 2 && n.slice != sd.sliceSerial) return false;
    return true;
}

}  // namespace

void ComputeDeblockParams(const SliceDecoder &sd, DeblockMb &d) {
    const SliceParams &p = *sd.p;
    const int addr = sd.mbAddr;
    const MbRecord &cur = sd.mbs[sd.mbIndex];
    const int leftIndex = sd.mbIndex - 1;
    const int topIndex = sd.mbY > 0 ? AboveIndex(sd) : 0;
    const bool field = p.fieldPic != 0;
    const int mvyLimit = field ? 2 : 4;
    const bool intra = MbIsIntra(cur.cls);

    d.qp = cur.qpDeblock;
    d.chromaQp[0] = cur.qpcDeblock[0];
    d.chromaQp[1] = cur.qpcDeblock[1];
    d.filterOffsetA = p.filterOffsetA;
    d.filterOffsetB = p.filterOffsetB;
    d.transform8x8 = cur.transform8x8;
    d.filterLeftEdge = sd.mbX > 0 && NeighbourFilterable(sd, leftIndex, addr - 1);
    d.filterTopEdge = sd.mbY > 0 && NeighbourFilterable(sd, topIndex, addr - p.widthMbs);

    if (d.filterLeftEdge) {
        const MbRecord &left = sd.mbs[leftIndex];
        d.qpLeft = left.qpDeblock;
        d.chromaQpLeft[0] = left.qpcDeblock[0];
        d.chromaQpLeft[1] = left.qpcDeblock[1];
        if (intra || MbIsIntra(left.cls))
            std::memset(d.bsV[0], 4, 4);
        else if (SingleMotion(left) && SingleMotion(cur))
            EdgeOfSingleMotion(left, cur, 0x8888u, 0x1111u, mvyLimit, d.bsV[0], 4);
        else
            for (int k = 0; k < 4; ++k) d.bsV[0][k] = InterStrength(left, 4 * k + 3, cur, 4 * k, mvyLimit);
    }
    if (d.filterTopEdge) {
        const MbRecord &top = sd.mbs[topIndex];
        d.qpTop = top.qpDeblock;
        d.chromaQpTop[0] = top.qpcDeblock[0];
        d.chromaQpTop[1] = top.qpcDeblock[1];
        // Field macroblock edges between rows are filtered as bS 3, not 4.
        const uint8_t intraBs = field ? 3 : 4;
        if (intra || MbIsIntra(top.cls))
            std::memset(d.bsH[0], intraBs, 4);
        else if (SingleMotion(top) && SingleMotion(cur))
            EdgeOfSingleMotion(top, cur, 0xf000u, 0x000fu, mvyLimit, d.bsH[0], 1);
        else
            for (int k = 0; k < 4; ++k) d.bsH[0][k] = InterStrength(top, 12 + k, cur, k, mvyLimit);
    }
    if (intra) {
        std::memset(d.bsV[1], 3, 12);
        std::memset(d.bsH[1], 3, 12);
        return;
    }
    const uint32_t nz = cur.nonzero;
    if (cur.cls == kMbPSkip || cur.cls == kMbP16x16) {
        // One motion vector for the whole macroblock: only coefficients count.
        if (!nz) return;
        for (int e = 1; e < 4; ++e) {
            for (int k = 0; k < 4; ++k) {
                d.bsV[e][k] = uint8_t((((nz >> (4 * k + e - 1)) | (nz >> (4 * k + e))) & 1) << 1);
                d.bsH[e][k] = uint8_t((((nz >> (4 * (e - 1) + k)) | (nz >> (4 * e + k))) & 1) << 1);
            }
        }
        return;
    }
    InnerEdges(cur, mvyLimit, d.bsV, d.bsH);
}

}  // namespace tessaly::h264
