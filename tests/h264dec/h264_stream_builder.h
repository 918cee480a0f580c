// Builds small, fully valid H.264 streams for the picture-layer tests.
//
// Pictures are made of I_PCM macroblocks (content known sample by sample) or of
// P slices that skip every macroblock (a copy of reference index 0), and the
// deblocking filter is disabled, so every output picture's content says which
// coded picture it came from.
#pragma once

#include <cstdint>
#include <vector>

namespace h264test {

class BitWriter {
public:
    void Bits(uint32_t value, int n) {
        for (int i = n - 1; i >= 0; --i) Bit((value >> i) & 1);
    }
    void Bit(uint32_t b) {
        if (used_ == 0) bytes_.push_back(0);
        if (b) bytes_.back() |= uint8_t(0x80 >> used_);
        used_ = (used_ + 1) & 7;
    }
    void Ue(uint32_t v) {
        const uint64_t code = uint64_t(v) + 1;
        int len = 0;
        while ((code >> len) > 1) ++len;
        Bits(0, len);
        for (int i = len; i >= 0; --i) Bit(uint32_t(code >> i) & 1);
    }
    void Se(int32_t v) { Ue(v > 0 ? uint32_t(2 * int64_t(v) - 1) : uint32_t(-2 * int64_t(v))); }
    void AlignZero() {
        while (used_) Bit(0);
    }
    void Byte(uint8_t b) { Bits(b, 8); }
    void Trailing() {
        Bit(1);
        AlignZero();
    }
    const std::vector<uint8_t> &Bytes() const { return bytes_; }

private:
    std::vector<uint8_t> bytes_;
    int used_ = 0;
};

// Start code, header byte, payload with emulation prevention.
inline std::vector<uint8_t> Nal(int refIdc, int type, const std::vector<uint8_t> &rbsp) {
    std::vector<uint8_t> out = {0, 0, 0, 1, uint8_t((refIdc << 5) | type)};
    int zeros = 0;
    for (uint8_t b : rbsp) {
        if (zeros >= 2 && b <= 3) {
            out.push_back(3);
            zeros = 0;
        }
        out.push_back(b);
        zeros = b == 0 ? zeros + 1 : 0;
    }
    return out;
}

struct SpsOptions {
    int profile = 66;
    int level = 30;
    int id = 0;
    int chromaFormat = 1;  // written for profile 100 only
    int bitDepthLumaMinus8 = 0;
    int widthMbs = 2;
    int heightMapUnits = 6;
    int numRefFrames = 1;
    int pocType = 2;
    int log2MaxPocLsb = 8;
    bool gapsAllowed = false;
    bool frameMbsOnly = true;
    int cropLeft = 0, cropRight = 0, cropTop = 0, cropBottom = 0;  // in crop units
    bool scalingMatrix = false;                                    // profile 100: a 4x4 and an 8x8 list written
    int pocOffset = 0;                                             // pocType 1: the size of its offsets
};

constexpr int kLog2MaxFrameNum = 4;

inline std::vector<uint8_t> SpsNal(const SpsOptions &o) {
    BitWriter w;
    w.Bits(uint32_t(o.profile), 8);
    w.Bits(0, 8);
    w.Bits(uint32_t(o.level), 8);
    w.Ue(uint32_t(o.id));
    if (o.profile == 100) {
        w.Ue(uint32_t(o.chromaFormat));
        w.Ue(uint32_t(o.bitDepthLumaMinus8));
        w.Ue(0);
        w.Bit(0);
        w.Bit(o.scalingMatrix);
        for (int k = 0; o.scalingMatrix && k < 8; ++k) {
            w.Bit(k == 1 || k == 6);
            for (int j = 0; k == 1 && j < 16; ++j) w.Se(j == 0 ? 8 : 1);
            for (int j = 0; k == 6 && j < 64; ++j) w.Se(j < 3 ? -2 : 0);
        }
    }
    w.Ue(uint32_t(kLog2MaxFrameNum - 4));
    w.Ue(uint32_t(o.pocType));
    if (o.pocType == 0) w.Ue(uint32_t(o.log2MaxPocLsb - 4));
    if (o.pocType == 1) {
        w.Bit(0);
        w.Se(o.pocOffset);
        w.Se(-o.pocOffset);
        w.Ue(2);  // two reference frames in the cycle
        w.Se(o.pocOffset);
        w.Se(1);
    }
    w.Ue(uint32_t(o.numRefFrames));
    w.Bit(o.gapsAllowed);
    w.Ue(uint32_t(o.widthMbs - 1));
    w.Ue(uint32_t(o.heightMapUnits - 1));
    w.Bit(o.frameMbsOnly);
    if (!o.frameMbsOnly) w.Bit(0);  // no MBAFF
    w.Bit(1);                       // direct_8x8_inference_flag
    const bool crop = o.cropLeft || o.cropRight || o.cropTop || o.cropBottom;
    w.Bit(crop);
    if (crop) {
        w.Ue(uint32_t(o.cropLeft));
        w.Ue(uint32_t(o.cropRight));
        w.Ue(uint32_t(o.cropTop));
        w.Ue(uint32_t(o.cropBottom));
    }
    w.Bit(0);  // no VUI
    w.Trailing();
    return Nal(3, 7, w.Bytes());
}

struct PpsOptions {
    int id = 0;
    int spsId = 0;
    int weightedBipredIdc = 0;
    bool redundantPicCnt = false;  // slices then carry redundant_pic_cnt
};

inline std::vector<uint8_t> PpsNal(const PpsOptions &o = {}) {
    BitWriter w;
    w.Ue(uint32_t(o.id));
    w.Ue(uint32_t(o.spsId));
    w.Bit(0);  // CAVLC
    w.Bit(0);  // bottom_field_pic_order_in_frame_present_flag
    w.Ue(0);   // one slice group
    w.Ue(0);   // one reference index by default
    w.Ue(0);
    w.Bit(0);
    w.Bits(uint32_t(o.weightedBipredIdc), 2);
    w.Se(0);  // pic_init_qp 26
    w.Se(0);
    w.Se(0);
    w.Bit(1);  // deblocking_filter_control_present_flag
    w.Bit(0);
    w.Bit(o.redundantPicCnt);
    w.Trailing();
    return Nal(3, 8, w.Bytes());
}

struct MarkingOp {
    int op;
    uint32_t a = 0;  // difference_of_pic_nums_minus1 / long_term_pic_num / max_long_term_frame_idx_plus1
    uint32_t b = 0;  // long_term_frame_idx (operation 3)
};

struct ListOp {
    int op;          // modification_of_pic_nums_idc 0, 1, 2
    uint32_t value;  // abs_diff_pic_num_minus1 or long_term_pic_num
};

struct SliceOptions {
    bool idr = false;
    bool intra = true;  // I_PCM picture, else all-skip P picture
    int refIdc = 1;
    int frameNum = 0;
    int idrPicId = 0;
    int pocLsb = 0;  // POC type 0 only
    int field = 0;   // 0 frame, 1 top, 2 bottom
    int firstMb = 0;
    int numMbs = -1;  // macroblocks in this slice; -1: to the end of the picture
    bool longTermIdr = false;
    std::vector<MarkingOp> marking;
    std::vector<ListOp> listOps;
    int redundantPicCnt = -1;  // written when not negative (the PPS must say so)
    uint8_t luma = 128;        // I_PCM sample values
    uint8_t chroma = 128;
};

// One slice of a stream described by `sps`. Luma sample (x, y) of a PCM
// macroblock is options.luma + (mb address & 3) so slices stay distinguishable.
inline std::vector<uint8_t> SliceNal(const SpsOptions &sps, const SliceOptions &o) {
    BitWriter w;
    const int heightMbs = sps.heightMapUnits * (sps.frameMbsOnly ? 1 : 2) / (o.field ? 2 : 1);
    const int picSize = sps.widthMbs * heightMbs;
    const int count = o.numMbs < 0 ? picSize - o.firstMb : o.numMbs;
    w.Ue(uint32_t(o.firstMb));
    w.Ue(o.intra ? 7 : 5);
    w.Ue(0);  // pic_parameter_set_id
    w.Bits(uint32_t(o.frameNum), kLog2MaxFrameNum);
    if (!sps.frameMbsOnly) {
        w.Bit(o.field != 0);
        if (o.field) w.Bit(o.field == 2);
    }
    if (o.idr) w.Ue(uint32_t(o.idrPicId));
    if (sps.pocType == 0) w.Bits(uint32_t(o.pocLsb), sps.log2MaxPocLsb);
    if (o.redundantPicCnt >= 0) w.Ue(uint32_t(o.redundantPicCnt));
    if (!o.intra) {
        w.Bit(0);  // the PPS's reference count
        w.Bit(!o.listOps.empty());
        if (!o.listOps.empty()) {
            for (const ListOp &l : o.listOps) {
                w.Ue(uint32_t(l.op));
                w.Ue(l.value);
            }
            w.Ue(3);
        }
    }
    if (o.refIdc) {
        if (o.idr) {
            w.Bit(0);
            w.Bit(o.longTermIdr);
        } else {
            w.Bit(!o.marking.empty());
            if (!o.marking.empty()) {
                for (const MarkingOp &m : o.marking) {
                    w.Ue(uint32_t(m.op));
                    if (m.op != 5) w.Ue(m.a);
                    if (m.op == 3) w.Ue(m.b);
                }
                w.Ue(0);
            }
        }
    }
    w.Se(0);  // slice_qp_delta
    w.Ue(1);  // disable_deblocking_filter_idc
    if (o.intra) {
        for (int mb = 0; mb < count; ++mb) {
            w.Ue(25);  // I_PCM
            w.AlignZero();
            const uint8_t luma = uint8_t(o.luma + ((o.firstMb + mb) & 3));
            for (int i = 0; i < 256; ++i) w.Byte(luma);
            for (int i = 0; i < 128; ++i) w.Byte(o.chroma);
        }
    } else {
        w.Ue(uint32_t(count));  // mb_skip_run over the whole slice
    }
    w.Trailing();
    return Nal(o.refIdc, o.idr ? 5 : 1, w.Bytes());
}

inline void Append(std::vector<uint8_t> &to, const std::vector<uint8_t> &from) {
    to.insert(to.end(), from.begin(), from.end());
}

// Parameter sets, then one slice an entry.
inline std::vector<uint8_t> Stream(const SpsOptions &sps, const std::vector<SliceOptions> &slices,
                                   const PpsOptions &pps = {}) {
    std::vector<uint8_t> out = SpsNal(sps);
    Append(out, PpsNal(pps));
    for (const SliceOptions &s : slices) Append(out, SliceNal(sps, s));
    return out;
}

// An I_PCM picture (an IDR at frame 0) and a P picture that skips every macroblock.
inline SliceOptions Intra(int frameNum, int luma, int refIdc = 1) {
    SliceOptions s;
    s.idr = frameNum == 0;
    s.frameNum = frameNum;
    s.luma = uint8_t(luma);
    s.refIdc = refIdc;
    return s;
}

inline SliceOptions Skip(int frameNum, int refIdc = 1) {
    SliceOptions s;
    s.intra = false;
    s.frameNum = frameNum;
    s.refIdc = refIdc;
    return s;
}

}  // namespace h264test
