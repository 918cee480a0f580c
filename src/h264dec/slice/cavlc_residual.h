// CAVLC residual_block: coeff_token, trailing ones, levels, total_zeros and
// run_before, with the coefficients placed in raster order and scaled.
#pragma once

#include <cstdint>

#include "h264dec/bitstream/bitreader.h"
#include "h264dec/slice/cavlc_vlc.h"

namespace tessaly::h264 {

// The next bits of the slice data held in a register while a macroblock's
// residual is parsed: elements are taken from the top, and the reader only
// moves on when a refill is due, every few blocks.
class CavlcBitWindow {
public:
    explicit CavlcBitWindow(BitReader &br) : br_(&br), bits_(br.Peek64()) {}

    // Makes at least n (<= 57) exact bits available at the top of Bits().
    void Ensure(int n) {
        if (used_ > 57 - n) {
            Sync();
            Reload();
        }
    }
    uint64_t Bits() const { return bits_; }
    void Consume(int n) {
        bits_ <<= n;
        used_ += n;
    }
    // Moves the reader to the window's position: when done, or before reading
    // from reader() directly, after which Reload().
    void Sync() {
        br_->Skip(uint32_t(used_));
        used_ = 0;
    }
    void Reload() { bits_ = br_->Peek64(); }
    BitReader &reader() { return *br_; }

private:
    BitReader *br_;
    uint64_t bits_;
    int used_ = 0;
};

struct CavlcBlockTarget {
    int16_t *coeffs;        // destination, raster
    const uint8_t *scan;    // coefficient index (from startIdx) -> raster position
    const uint16_t *scale;  // null: store levels as read (DC blocks)
    int qpDiv6;
    int shift;   // 4 for 4x4 blocks, 6 for interleaved 8x8 parts
    int stride;  // 1, or 4 for a 4x4 part of an interleaved 8x8 block
};

// The rest of a block after a coeff_token with TotalCoeff > 0 (the symbol
// TotalCoeff * 4 + TrailingOnes). Returns TotalCoeff or -1 on a code error.
int ReadCavlcCoefficients(CavlcBitWindow &bits, int token, int maxCoeffs, const CavlcBlockTarget &t);

// tokenTable: kCavlcVlc.coeffToken* for the block's nC. maxCoeffs: 16, 15 or 4.
// Returns TotalCoeff (0..maxCoeffs) or -1 on a code error. Inline because
// most blocks are empty and end with their coeff_token.
inline int ReadCavlcBlock(CavlcBitWindow &bits, uint16_t tokenTable, int maxCoeffs, const CavlcBlockTarget &t) {
    bits.Ensure(16);
    const VlcEntry token = LookupVlc<kCoeffTokenRootBits>(tokenTable, uint32_t(bits.Bits() >> 32));
    bits.Consume(token.len);
    if (token.value == 0) return 0;
    return ReadCavlcCoefficients(bits, token.value, maxCoeffs, t);  // refuses invalid codes
}

// One block straight from a reader. nC: the predicted count (0..16), or -1
// for chroma DC.
inline int ReadCavlcBlock(BitReader &br, int nC, int maxCoeffs, const CavlcBlockTarget &t) {
    CavlcBitWindow bits(br);
    const int n = ReadCavlcBlock(bits, kCavlcVlc.coeffToken[nC + 1], maxCoeffs, t);
    bits.Sync();
    return n;
}

}  // namespace tessaly::h264
