#include "h264dec/slice/deblock_strength.h"

#include <cstring>

namespace tessaly::h264 {

namespace {

// All 32 edge segments of an inter macroblock are decided together, four
// segments of an edge per vector, without branches. Generic vectors keep the
// code portable; on x86 they become plain SSE2.
using I32x4 = int32_t __attribute__((vector_size(16)));
using I16x8 = int16_t __attribute__((vector_size(16)));
using U16x8 = uint16_t __attribute__((vector_size(16)));
using I8x16 = int8_t __attribute__((vector_size(16)));
using U8x16 = uint8_t __attribute__((vector_size(16)));
using U64x2 = uint64_t __attribute__((vector_size(16)));

inline I32x4 Load(const void *p) {
    I32x4 v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// Per block (one lane: x and y as int16): all ones where |dx| < 4 and |dy|
// is below the vertical limit (limit - 1 in odd lanes). max - min taken as
// unsigned is exact for any int16 pair.
inline I32x4 MotionSame(I32x4 p, I32x4 q, U16x8 limitMinus1) {
    const I16x8 a = I16x8(p), b = I16x8(q);
    const I16x8 hi = a > b ? a : b, lo = a > b ? b : a;
    return I32x4(U16x8(hi - lo) <= limitMinus1) == -1;
}

// Four edge masks (lanes all ones where nothing differs) to bytes 0 / 1,
// edge e at 4e..4e+3.
inline U8x16 DiffersBytes(I32x4 e0, I32x4 e1, I32x4 e2, I32x4 e3) {
    const I16x8 a = __builtin_convertvector(__builtin_shufflevector(e0, e1, 0, 1, 2, 3, 4, 5, 6, 7), I16x8);
    const I16x8 b = __builtin_convertvector(__builtin_shufflevector(e2, e3, 0, 1, 2, 3, 4, 5, 6, 7), I16x8);
    const I8x16 m = __builtin_convertvector(
        __builtin_shufflevector(a, b, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15), I8x16);
    return ~U8x16(m) & 1;
}

// 16 bits to bytes: 2 where the bit is set, else 0.
inline U8x16 CodedBytes(uint32_t bits) {
    constexpr uint64_t kSpread = 0x0101010101010101ull;
    const U8x16 v = U8x16(U64x2{(bits & 0xff) * kSpread, ((bits >> 8) & 0xff) * kSpread});
    const U8x16 bit = {1, 2, 4, 8, 16, 32, 64, 128, 1, 2, 4, 8, 16, 32, 64, 128};
    return U8x16((v & bit) != 0) & 2;
}

// Transposes the 4x4 bit matrix of raster block bits (bit 4 * row + col).
inline uint32_t TransposeBits(uint32_t x) {
    uint32_t t = (x ^ (x >> 3)) & 0x0a0au;
    x ^= t ^ (t << 3);
    t = (x ^ (x >> 6)) & 0x00ccu;
    return x ^ t ^ (t << 6);
}

// Bits 3, 7, 11, 15 (the right column) of raster block bits as bits 0..3.
inline uint32_t RightColumnBits(uint32_t x) { return ((((x >> 3) & 0x1111u) * 0x1248u) >> 12) & 0xfu; }

// Across slices the record in the neighbour's place may be older than the
// picture's row above (a slice went missing): the address tells.
inline bool NeighbourFilterable(const SliceDecoder &sd, int index, int addr) {
    const MbRecord &n = sd.mbs[index];
    if (n.addr != addr || n.slice < sd.pictureFirstSlice || n.slice > sd.sliceSerial) return false;
    if (sd.p->disableDeblock == 2 && n.slice != sd.sliceSerial) return false;
    return true;
}

// bS of the macroblock edge with an intra neighbour, as 4 bytes.
constexpr uint32_t kAllFour = 0x04040404u, kAllThree = 0x03030303u;

// Whole-vector stores throughout, so that the filter's wide loads of the
// strengths are forwarded from them.
void IntraStrengths(DeblockMb &d, bool field) {
    const U8x16 v = {4, 4, 4, 4, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3};
    const U8x16 h = field ? U8x16{} + 3 : v;
    std::memcpy(d.bsV, &v, sizeof v);
    std::memcpy(d.bsH, &h, sizeof h);
}

// left / top stand for cur when that edge is not filtered; its lanes are
// cleared then.
void InterStrengths(const MbRecord &cur, const MbRecord &left, const MbRecord &top, bool field, DeblockMb &d) {
    const U16x8 limit = {3, uint16_t(field ? 1 : 3), 3, uint16_t(field ? 1 : 3),
                         3, uint16_t(field ? 1 : 3), 3, uint16_t(field ? 1 : 3)};
    // Rows of motion vectors (one lane per block) and their transpose.
    const I32x4 r0 = Load(cur.mv[0]), r1 = Load(cur.mv[4]), r2 = Load(cur.mv[8]), r3 = Load(cur.mv[12]);
    const I32x4 t01lo = __builtin_shufflevector(r0, r1, 0, 4, 1, 5),
                t01hi = __builtin_shufflevector(r0, r1, 2, 6, 3, 7);
    const I32x4 t23lo = __builtin_shufflevector(r2, r3, 0, 4, 1, 5),
                t23hi = __builtin_shufflevector(r2, r3, 2, 6, 3, 7);
    const I32x4 c0 = __builtin_shufflevector(t01lo, t23lo, 0, 1, 4, 5),
                c1 = __builtin_shufflevector(t01lo, t23lo, 2, 3, 6, 7);
    const I32x4 c2 = __builtin_shufflevector(t01hi, t23hi, 0, 1, 4, 5),
                c3 = __builtin_shufflevector(t01hi, t23hi, 2, 3, 6, 7);
    const I32x4 leftCol =
        __builtin_shufflevector(__builtin_shufflevector(Load(left.mv[0]), Load(left.mv[4]), 3, 7, 3, 7),
                                __builtin_shufflevector(Load(left.mv[8]), Load(left.mv[12]), 3, 7, 3, 7), 0, 1, 4, 5);
    const I32x4 topRow = Load(top.mv[12]);

    // Reference pictures change only across 8x8 borders: edges 0 and 2.
    const I32x4 ref = Load(cur.refId), refL = Load(left.refId), refT = Load(top.refId);
    const I32x4 refByRow = __builtin_shufflevector(ref, ref, 0, 0, 2, 2);  // left 8x8 column, rows 0..3
    const I32x4 refByCol = __builtin_shufflevector(ref, ref, 0, 0, 1, 1);  // top 8x8 row, columns 0..3
    const I32x4 refV0 = __builtin_shufflevector(refL, refL, 1, 1, 3, 3) == refByRow;
    const I32x4 refV2 = __builtin_shufflevector(ref, ref, 1, 1, 3, 3) == refByRow;
    const I32x4 refH0 = __builtin_shufflevector(refT, refT, 2, 2, 3, 3) == refByCol;
    const I32x4 refH2 = __builtin_shufflevector(ref, ref, 2, 2, 3, 3) == refByCol;

    U8x16 motionV, motionH;
    if (cur.cls == kMbPSkip || cur.cls == kMbP16x16) {
        // One motion vector and reference: the inner edges never differ.
        const I32x4 same = I32x4{} == 0;
        motionV = DiffersBytes(MotionSame(leftCol, r0, limit) & refV0, same, same, same);
        motionH = DiffersBytes(MotionSame(topRow, r0, limit) & refH0, same, same, same);
    } else {
        motionV = DiffersBytes(MotionSame(leftCol, c0, limit) & refV0, MotionSame(c0, c1, limit),
                               MotionSame(c1, c2, limit) & refV2, MotionSame(c2, c3, limit));
        motionH = DiffersBytes(MotionSame(topRow, r0, limit) & refH0, MotionSame(r0, r1, limit),
                               MotionSame(r1, r2, limit) & refH2, MotionSame(r2, r3, limit));
    }

    // Coefficients on either side, per q block: [edge][segment] order is the
    // transpose of raster for vertical edges, raster itself for horizontal.
    const uint32_t nz = cur.nonzero, nzT = TransposeBits(nz);
    const uint32_t codedV = nzT | (nzT << 4) | RightColumnBits(left.nonzero);
    const uint32_t codedH = nz | (nz << 4) | (uint32_t(top.nonzero) >> 12);

    // Intra neighbours make their whole edge bS 4 (3 across field rows).
    const uint32_t intraV = MbIsIntra(left.cls) ? kAllFour : 0;
    const uint32_t intraH = MbIsIntra(top.cls) ? (field ? kAllThree : kAllFour) : 0;
    const U8x16 edge0V = U8x16(I32x4{int32_t(intraV), 0, 0, 0}), edge0H = U8x16(I32x4{int32_t(intraH), 0, 0, 0});
    const U8x16 keepV = U8x16(I32x4{-int32_t(d.filterLeftEdge), -1, -1, -1});
    const U8x16 keepH = U8x16(I32x4{-int32_t(d.filterTopEdge), -1, -1, -1});

    U8x16 v = motionV > CodedBytes(codedV) ? motionV : CodedBytes(codedV);
    U8x16 h = motionH > CodedBytes(codedH) ? motionH : CodedBytes(codedH);
    v = (v > edge0V ? v : edge0V) & keepV;
    h = (h > edge0H ? h : edge0H) & keepH;
    std::memcpy(d.bsV, &v, sizeof v);
    std::memcpy(d.bsH, &h, sizeof h);
}

// A skipped macroblock whose filtered neighbours are inter coded from the
// same picture, moved exactly as it did and have no coefficients along the
// shared edges has no edge to filter. That is most macroblocks of a still
// scene, and far cheaper to see than to compute.
struct SharedEdge {
    uint16_t nonzero;   // the neighbour's blocks along it (raster bits)
    uint8_t refs[2];    // its 8x8 blocks along it
    uint8_t blocks[4];  // its 4x4 blocks along it
};
constexpr SharedEdge kLeftEdge{0x8888u, {1, 3}, {3, 7, 11, 15}};
constexpr SharedEdge kTopEdge{0xf000u, {2, 3}, {12, 13, 14, 15}};

bool QuietAcross(const MbRecord &n, const SharedEdge &e, uint32_t mv, int32_t id) {
    if (MbIsIntra(n.cls) || (n.nonzero & e.nonzero) || n.refId[e.refs[0]] != id || n.refId[e.refs[1]] != id)
        return false;
    for (const uint8_t b : e.blocks) {
        uint32_t other;
        std::memcpy(&other, n.mv[b], sizeof other);
        if (other != mv) return false;
    }
    return true;
}

bool QuietSkip(const MbRecord &cur, const MbRecord *left, const MbRecord *top) {
    if (cur.cls != kMbPSkip) return false;
    uint32_t mv;
    std::memcpy(&mv, cur.mv[0], sizeof mv);
    const int32_t id = cur.refId[0];
    return (!left || QuietAcross(*left, kLeftEdge, mv, id)) && (!top || QuietAcross(*top, kTopEdge, mv, id));
}

}  // namespace

void ComputeDeblockParams(const SliceDecoder &sd, DeblockMb &d) {
    const SliceParams &p = *sd.p;
    const int addr = sd.mbAddr;
    const MbRecord &cur = sd.mbs[sd.mbIndex];
    const int leftIndex = sd.mbIndex - 1;
    const int topIndex = sd.mbY > 0 ? AboveIndex(sd) : 0;
    const bool field = p.fieldPic != 0;

    d.qp = cur.qpDeblock;
    d.chromaQp[0] = cur.qpcDeblock[0];
    d.chromaQp[1] = cur.qpcDeblock[1];
    d.filterOffsetA = p.filterOffsetA;
    d.filterOffsetB = p.filterOffsetB;
    d.transform8x8 = cur.transform8x8;
    d.filterLeftEdge = sd.mbX > 0 && NeighbourFilterable(sd, leftIndex, addr - 1);
    d.filterTopEdge = sd.mbY > 0 && NeighbourFilterable(sd, topIndex, addr - p.widthMbs);

    const MbRecord &left = d.filterLeftEdge ? sd.mbs[leftIndex] : cur;
    const MbRecord &top = d.filterTopEdge ? sd.mbs[topIndex] : cur;
    if (QuietSkip(cur, d.filterLeftEdge ? &left : nullptr, d.filterTopEdge ? &top : nullptr)) {
        const U8x16 none{};
        std::memcpy(d.bsV, &none, sizeof none);
        std::memcpy(d.bsH, &none, sizeof none);
        return;
    }
    d.qpLeft = left.qpDeblock;
    d.chromaQpLeft[0] = left.qpcDeblock[0];
    d.chromaQpLeft[1] = left.qpcDeblock[1];
    d.qpTop = top.qpDeblock;
    d.chromaQpTop[0] = top.qpcDeblock[0];
    d.chromaQpTop[1] = top.qpcDeblock[1];

    if (MbIsIntra(cur.cls))
        IntraStrengths(d, field);
    else
        InterStrengths(cur, left, top, field, d);
}

}  // namespace tessaly::h264
