// Lookup tables for the CAVLC codes (coeff_token, total_zeros, run_before),
// built once at start-up from the standard's code lists.
#pragma once

#include <cstdint>

#include "h264dec/bitreader.h"

namespace tessaly::h264 {

// Two-level prefix-code table. An entry with len > 0 is a symbol decoded
// from len bits; len < 0 points to a second-level table (at `value`) indexed
// by the next -len bits; len == 0 is an invalid code.
struct VlcEntry {
    int16_t value;
    int8_t len;
};

struct VlcTable {
    const VlcEntry *entries = nullptr;
    int rootBits = 0;
};

inline constexpr int kVlcInvalid = -1;

// Decodes one symbol; kVlcInvalid for a code not in the table.
inline int ReadVlc(BitReader &br, const VlcTable &t) {
    const uint64_t pos = br.Position();
    const uint32_t bits = br.ReadBits(32);
    VlcEntry e = t.entries[bits >> (32 - t.rootBits)];
    if (e.len < 0) {
        const int sub = -e.len;
        e = t.entries[e.value + ((bits << t.rootBits) >> (32 - sub))];
        if (e.len <= 0) {
            br.SetPosition(pos + 32);
            return kVlcInvalid;
        }
        br.SetPosition(pos + uint64_t(t.rootBits + e.len));
        return e.value;
    }
    if (e.len == 0) {
        br.SetPosition(pos + 32);
        return kVlcInvalid;
    }
    br.SetPosition(pos + uint64_t(e.len));
    return e.value;
}

// coeff_token symbols are TotalCoeff * 4 + TrailingOnes.
// Classes: 0: 0 <= nC < 2, 1: 2 <= nC < 4, 2: 4 <= nC < 8, 3: nC >= 8, 4: chroma DC.
const VlcTable &CoeffTokenVlc(int cls);
const VlcTable &TotalZeros4x4Vlc(int totalCoeff);      // 1..15
const VlcTable &TotalZerosChromaDcVlc(int totalCoeff); // 1..3
const VlcTable &RunBeforeVlc(int zerosLeft);           // 1..; 7 and above share

}  // namespace tessaly::h264
