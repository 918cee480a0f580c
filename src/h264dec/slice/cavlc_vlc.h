// Lookup tables for the CAVLC codes (coeff_token, total_zeros, run_before),
// generated at compile time from the code lists, so the hot path indexes
// constant data without start-up work or initialisation guards.
#pragma once

#include <cstdint>

namespace tessaly::h264 {

// Two-level prefix-code table, indexed by the next kRootBits bits. An entry
// with len > 0 is a symbol whose whole code is len bits; len < 0 points to a
// second-level table (at `value`, from the table's start) indexed by the
// -len bits after the root. len == 0 is an invalid code, whose value is
// kVlcInvalidValue so that the callers' range checks refuse it, except in
// the run_before table for no zeros left: run 0 from no bits.
struct VlcEntry {
    int16_t value;
    int8_t len;
};

// Above every symbol: TotalCoeff 31 for coeff_token, beyond any zero count.
inline constexpr int16_t kVlcInvalidValue = 127;

// Roots sized so that the codes seen in practice resolve in one lookup.
inline constexpr int kCoeffTokenRootBits = 8;
inline constexpr int kTotalZerosRootBits = 6;
inline constexpr int kRunBeforeRootBits = 3;

inline constexpr int kCavlcVlcPoolSize = 3126;  // checked where the tables are built

struct CavlcVlcTables {
    VlcEntry pool[kCavlcVlcPoolSize];  // all tables, back to back
    // Offsets into pool. coeff_token by nC + 1 (nC = -1 for chroma DC,
    // 0..31), its symbols TotalCoeff * 4 + TrailingOnes.
    uint16_t coeffToken[33];
    // coeff_token by the sum of the left and upper blocks' counts (each at
    // most 64, an unavailable one counting 64): nC without the arithmetic.
    uint16_t coeffTokenByNnzSum[129];
    uint16_t totalZeros4x4[15];      // by TotalCoeff - 1
    uint16_t totalZerosChromaDc[3];  // by TotalCoeff - 1
    uint16_t runBefore[8];           // by min(zerosLeft, 7); 0 reads nothing
};
extern const CavlcVlcTables kCavlcVlc;

// Decodes the symbol at the top of `bits` (the next 32 bits of the stream).
// The returned len is the whole code length.
template <int kRootBits>
inline VlcEntry LookupVlc(uint16_t table, uint32_t bits) {
    const VlcEntry *t = kCavlcVlc.pool + table;
    VlcEntry e = t[bits >> (32 - kRootBits)];
    if (e.len < 0) [[unlikely]] {
        const int sub = -e.len;
        e = t[e.value + int((bits << kRootBits) >> (32 - sub))];
    }
    return e;
}

}  // namespace tessaly::h264
