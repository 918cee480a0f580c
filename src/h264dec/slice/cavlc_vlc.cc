#include "h264dec/slice/cavlc_vlc.h"

#include <cassert>

#include "h264dec/tables/cavlc_tables.h"

namespace tessaly::h264 {

namespace {

constexpr int kRootBits = 8;
constexpr int kPoolSize = 1 << 15;

struct Code {
    uint8_t len;
    uint16_t code;
    int16_t value;
};

class VlcBuilder {
public:
    VlcTable Build(const Code *codes, int count) {
        const int base = used_;
        used_ += 1 << kRootBits;
        assert(used_ <= kPoolSize);
        for (int i = 0; i < count; ++i) {
            const Code &c = codes[i];
            if (c.len == 0 || c.len > kRootBits) continue;
            const int first = c.code << (kRootBits - c.len);
            for (int k = 0; k < (1 << (kRootBits - c.len)); ++k) pool_[base + first + k] = {c.value, int8_t(c.len)};
        }
        // Longer codes: one second-level table per root prefix.
        for (int prefix = 0; prefix < (1 << kRootBits); ++prefix) {
            int maxLen = 0;
            for (int i = 0; i < count; ++i) {
                const Code &c = codes[i];
                if (c.len > kRootBits && (c.code >> (c.len - kRootBits)) == prefix && c.len > maxLen) maxLen = c.len;
            }
            if (!maxLen) continue;
            const int subBits = maxLen - kRootBits;
            const int sub = used_;
            used_ += 1 << subBits;
            assert(used_ <= kPoolSize);
            pool_[base + prefix] = {int16_t(sub), int8_t(-subBits)};
            for (int i = 0; i < count; ++i) {
                const Code &c = codes[i];
                if (c.len <= kRootBits || (c.code >> (c.len - kRootBits)) != prefix) continue;
                const int rest = c.len - kRootBits;
                const int suffix = c.code & ((1 << rest) - 1);
                const int first = suffix << (subBits - rest);
                for (int k = 0; k < (1 << (subBits - rest)); ++k) pool_[sub + first + k] = {c.value, int8_t(rest)};
            }
        }
        VlcTable t;
        t.entries = pool_ + base;
        t.rootBits = kRootBits;
        // Second-level offsets are relative to the pool start: rebase them.
        for (int i = 0; i < (1 << kRootBits); ++i)
            if (pool_[base + i].len < 0) pool_[base + i].value = int16_t(pool_[base + i].value - base);
        return t;
    }

private:
    VlcEntry pool_[kPoolSize] = {};
    int used_ = 0;
};

struct CavlcTables {
    VlcTable coeffToken[kCoeffTokenClasses];
    VlcTable totalZeros4x4[15];
    VlcTable totalZerosChromaDc[3];
    VlcTable runBefore[7];
    VlcBuilder builder;

    CavlcTables() {
        Code codes[4 * 17];
        for (int cls = 0; cls < kCoeffTokenClasses; ++cls) {
            int n = 0;
            for (int t1 = 0; t1 < 4; ++t1)
                for (int tc = 0; tc < 17; ++tc) {
                    const VlcCode &v = kCoeffToken[cls][t1][tc];
                    if (v.len) codes[n++] = {v.len, v.code, int16_t(tc * 4 + t1)};
                }
            coeffToken[cls] = builder.Build(codes, n);
        }
        for (int tc = 0; tc < 15; ++tc) {
            int n = 0;
            for (int z = 0; z < 16; ++z) {
                const VlcCode &v = kTotalZeros4x4[tc][z];
                if (v.len) codes[n++] = {v.len, v.code, int16_t(z)};
            }
            totalZeros4x4[tc] = builder.Build(codes, n);
        }
        for (int tc = 0; tc < 3; ++tc) {
            int n = 0;
            for (int z = 0; z < 4; ++z) {
                const VlcCode &v = kTotalZerosChromaDc[tc][z];
                if (v.len) codes[n++] = {v.len, v.code, int16_t(z)};
            }
            totalZerosChromaDc[tc] = builder.Build(codes, n);
        }
        for (int zl = 0; zl < 7; ++zl) {
            int n = 0;
            for (int r = 0; r < 15; ++r) {
                const VlcCode &v = kRunBefore[zl][r];
                if (v.len) codes[n++] = {v.len, v.code, int16_t(r)};
            }
            runBefore[zl] = builder.Build(codes, n);
        }
    }
};

const CavlcTables &Tables() {
    static const CavlcTables tables;
    return tables;
}

}  // namespace

const VlcTable &CoeffTokenVlc(int cls) { return Tables().coeffToken[cls]; }
const VlcTable &TotalZeros4x4Vlc(int totalCoeff) { return Tables().totalZeros4x4[totalCoeff - 1]; }
const VlcTable &TotalZerosChromaDcVlc(int totalCoeff) { return Tables().totalZerosChromaDc[totalCoeff - 1]; }
const VlcTable &RunBeforeVlc(int zerosLeft) { return Tables().runBefore[(zerosLeft > 7 ? 7 : zerosLeft) - 1]; }

}  // namespace tessaly::h264
