#include "video/sps_probe.h"

namespace tessaly::video {
namespace {

constexpr int32_t kMaxProbeSize = 2560;

// Exp-Golomb reader over the raw bytes; reports running off the end.
class ProbeReader {
public:
    ProbeReader(const uint8_t *data, uint32_t length) : data_(data), bits_(uint64_t{length} * 8) {}

    bool Bit(uint32_t &v) {
        if (pos_ >= bits_) return false;
        v = (data_[pos_ >> 3] >> (7 - (pos_ & 7))) & 1;
        ++pos_;
        return true;
    }
    bool Bits(int n, uint32_t &v) {
        v = 0;
        for (int k = 0; k < n; ++k) {
            uint32_t b;
            if (!Bit(b)) return false;
            v = (v << 1) | b;
        }
        return true;
    }
    bool Ue(uint32_t &v) {
        int zeros = 0;
        uint32_t b = 0;
        while (Bit(b) && b == 0)
            if (++zeros > 31) return false;
        if (b != 1) return false;
        uint32_t rest;
        if (!Bits(zeros, rest)) return false;
        v = static_cast<uint32_t>((uint64_t{1} << zeros) - 1 + rest);
        return true;
    }
    bool Se(int32_t &v) {
        uint32_t u;
        if (!Ue(u)) return false;
        v = (u & 1) ? static_cast<int32_t>((u + 1) / 2) : -static_cast<int32_t>(u / 2);
        return true;
    }

private:
    const uint8_t *data_;
    uint64_t bits_;
    uint64_t pos_ = 0;
};

bool SkipScalingList(ProbeReader &r, int size) {
    int32_t last = 8, next = 8;
    for (int j = 0; j < size; ++j) {
        if (next != 0) {
            int32_t delta;
            if (!r.Se(delta) || delta < -128 || delta > 127) return false;
            next = (last + delta + 256) % 256;
        }
        last = next == 0 ? last : next;
    }
    return true;
}

}  // namespace

bool ProbeSpsSize(const uint8_t *data, uint32_t length, ProbedSize &size) {
    if (length < 16 || data[0] != 0 || data[1] != 0 || data[2] != 0 || data[3] != 1 || (data[4] & 0x1F) != 7)
        return false;
    ProbeReader r(data + 5, length - 5);
    uint32_t profile, skip, v;
    if (!r.Bits(8, profile) || !r.Bits(16, skip) || !r.Ue(v)) return false;  // constraint flags, level, id
    if (profile == 100 || profile == 110 || profile == 122 || profile == 244 || profile == 44 || profile == 83 ||
        profile == 86 || profile == 118 || profile == 128 || profile == 138 || profile == 139 || profile == 134 || profile == 135) {
        uint32_t chroma, flag;
        if (!r.Ue(chroma)) return false;
        if (chroma == 3 && !r.Bit(flag)) return false;
        if (!r.Ue(v) || !r.Ue(v) || !r.Bit(flag) || !r.Bit(flag)) return false;  // bit depths, bypass, matrix flag
        if (flag) {
            for (int k = 0; k < (chroma != 3 ? 8 : 12); ++k) {
                uint32_t present;
                if (!r.Bit(present)) return false;
                if (present && !SkipScalingList(r, k < 6 ? 16 : 64)) return false;
            }
        }
    }
    uint32_t pocType;
    if (!r.Ue(v) || !r.Ue(pocType)) return false;  // log2_max_frame_num_minus4
    if (pocType == 0) {
        if (!r.Ue(v)) return false;
    } else if (pocType == 1) {
        int32_t s;
        uint32_t cycle, flag;
        if (!r.Bit(flag) || !r.Se(s) || !r.Se(s) || !r.Ue(cycle)) return false;
        for (uint32_t k = 0; k < cycle; ++k)
            if (!r.Se(s)) return false;
    }
    uint32_t gaps, widthMbs, heightUnits;
    if (!r.Ue(v) || !r.Bit(gaps) || !r.Ue(widthMbs) || !r.Ue(heightUnits)) return false;
    if (widthMbs >= kMaxProbeSize / 16 || heightUnits >= kMaxProbeSize / 16) return false;
    size.width = static_cast<int32_t>(widthMbs + 1) * 16;
    size.height = static_cast<int32_t>(heightUnits + 1) * 16;
    return true;
}

}  // namespace tessaly::video
