#include "h264dec/slice/cavlc_vlc.h"

#include "h264dec/tables/cavlc_tables.h"

namespace tessaly::h264 {

namespace {

struct Code {
    uint8_t len;
    uint16_t code;
    int16_t value;
};

struct CodeList {
    Code codes[4 * 17] = {};
    int count = 0;

    constexpr void Add(const VlcCode &v, int value) {
        if (v.len) codes[count++] = {v.len, v.code, int16_t(value)};
    }
};

// The order the tables sit in the pool: coeff_token classes, total_zeros
// 4x4, total_zeros chroma DC, run_before (from zerosLeft 0).
constexpr int kTableCount = kCoeffTokenClasses + 15 + 3 + 8;

constexpr CodeList Codes(int table) {
    CodeList l;
    if (table < kCoeffTokenClasses) {
        for (int t1 = 0; t1 < 4; ++t1)
            for (int tc = 0; tc < 17; ++tc) l.Add(kCoeffToken[table][t1][tc], tc * 4 + t1);
        return l;
    }
    table -= kCoeffTokenClasses;
    if (table < 15) {
        for (int z = 0; z < 16; ++z) l.Add(kTotalZeros4x4[table][z], z);
        return l;
    }
    table -= 15;
    if (table < 3) {
        for (int z = 0; z < 4; ++z) l.Add(kTotalZerosChromaDc[table][z], z);
        return l;
    }
    table -= 3;
    if (table == 0) {
        l.codes[l.count++] = {0, 0, 0};  // no zeros left: run 0 from no bits
        return l;
    }
    for (int r = 0; r < 15; ++r) l.Add(kRunBefore[table - 1][r], r);
    return l;
}

constexpr int RootBits(int table) {
    if (table < kCoeffTokenClasses) return kCoeffTokenRootBits;
    if (table < kCoeffTokenClasses + 15 + 3) return kTotalZerosRootBits;
    return kRunBeforeRootBits;
}

// For every root-bit prefix, the length of the longest code starting with it;
// 0 if none is longer than the root. One pass over the codes, which keeps
// the compile-time evaluation within the compilers' step limits.
struct LongestCodes {
    int len[1 << 8] = {};
};
static_assert(kCoeffTokenRootBits <= 8 && kTotalZerosRootBits <= 8 && kRunBeforeRootBits <= 8);

constexpr LongestCodes LongestBehind(const CodeList &l, int root) {
    LongestCodes out{};
    for (int i = 0; i < l.count; ++i) {
        const Code &c = l.codes[i];
        if (c.len <= root) continue;
        int &m = out.len[c.code >> (c.len - root)];
        if (c.len > m) m = c.len;
    }
    return out;
}

constexpr int TableSize(int table) {
    const int root = RootBits(table);
    const LongestCodes longest = LongestBehind(Codes(table), root);
    int size = 1 << root;
    for (int prefix = 0; prefix < (1 << root); ++prefix)
        if (longest.len[prefix]) size += 1 << (longest.len[prefix] - root);
    return size;
}

constexpr int TableOffset(int table) {
    int offset = 0;
    for (int i = 0; i < table; ++i) offset += TableSize(i);
    return offset;
}

static_assert(TableOffset(kTableCount) == kCavlcVlcPoolSize, "kCavlcVlcPoolSize out of date");
static_assert(kCavlcVlcPoolSize < 32768, "second-level offsets must fit VlcEntry::value");

constexpr void FillTable(int table, VlcEntry *t) {
    const CodeList l = Codes(table);
    const int root = RootBits(table);
    const LongestCodes longest = LongestBehind(l, root);
    const int size = TableSize(table);
    for (int i = 0; i < size; ++i) t[i] = {kVlcInvalidValue, 0};
    for (int i = 0; i < l.count; ++i) {
        const Code &c = l.codes[i];
        if (c.len > root) continue;
        const int first = c.code << (root - c.len);
        for (int k = 0; k < (1 << (root - c.len)); ++k) t[first + k] = {c.value, int8_t(c.len)};
    }
    // Longer codes: one second-level table per root prefix, its entries
    // holding the whole code length.
    int next = 1 << root;
    for (int prefix = 0; prefix < (1 << root); ++prefix) {
        const int maxLen = longest.len[prefix];
        if (!maxLen) continue;
        const int subBits = maxLen - root;
        t[prefix] = {int16_t(next), int8_t(-subBits)};
        for (int i = 0; i < l.count; ++i) {
            const Code &c = l.codes[i];
            if (c.len <= root || (c.code >> (c.len - root)) != prefix) continue;
            const int rest = c.len - root;
            const int first = (c.code & ((1 << rest) - 1)) << (subBits - rest);
            for (int k = 0; k < (1 << (subBits - rest)); ++k) t[next + first + k] = {c.value, int8_t(c.len)};
        }
        next += 1 << subBits;
    }
}

constexpr CavlcVlcTables Build() {
    CavlcVlcTables out{};
    for (int table = 0, offset = 0; table < kTableCount; offset += TableSize(table++))
        FillTable(table, out.pool + offset);
    for (int nC = -1; nC < 32; ++nC) {
        const int cls = nC < 0 ? kCoeffTokenChromaDc : nC < 2 ? 0 : nC < 4 ? 1 : nC < 8 ? 2 : 3;
        out.coeffToken[nC + 1] = uint16_t(TableOffset(cls));
    }
    for (int sum = 0; sum <= 128; ++sum) {
        const int nC = sum < 64 ? (sum + 1) >> 1 : sum & 63;  // 64 + n: only one side available
        out.coeffTokenByNnzSum[sum] = out.coeffToken[(nC & 31) + 1];
    }
    for (int tc = 0; tc < 15; ++tc) out.totalZeros4x4[tc] = uint16_t(TableOffset(kCoeffTokenClasses + tc));
    for (int tc = 0; tc < 3; ++tc) out.totalZerosChromaDc[tc] = uint16_t(TableOffset(kCoeffTokenClasses + 15 + tc));
    for (int zl = 0; zl < 8; ++zl) out.runBefore[zl] = uint16_t(TableOffset(kCoeffTokenClasses + 18 + zl));
    return out;
}

}  // namespace

constexpr CavlcVlcTables kCavlcVlc = Build();

}  // namespace tessaly::h264
