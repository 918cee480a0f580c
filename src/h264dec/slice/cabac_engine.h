// The CABAC arithmetic decoding engine (binary decisions, bypass and
// terminate bins) over a byte buffer.
//
// The 9-bit codIOffset sits at bits 48..56 of a 64-bit window, followed by
// up to 48 stream bits already loaded below it, so that comparing the window
// with range << 48 is the standard's comparison of codIOffset with codIRange
// at a fixed shift. Renormalisation shifts the window left; the loaded bits
// are refilled several bytes at a time once fewer than 8 remain (a bin
// consumes at most 7). Reads past the end of the slice data yield zeros.
#pragma once

#include <cstdint>
#include <cstring>

#include "h264dec/tables/tables.h"

namespace tessaly::h264 {

// One context variable: pStateIdx in bits 1..6, valMPS in bit 0. A scoped
// enum rather than uint8_t so that stores to it cannot alias the engine's
// registers (character types alias everything), which keeps range and
// offset in machine registers across a block.
enum class CabacContext : uint8_t {};

#define TESSALY_CABAC_INLINE inline __attribute__((always_inline))

class CabacEngine {
public:
    // Starts decoding at byte `pos` of data[0..end).
    void Init(const uint8_t *data, uint32_t pos, uint32_t end) {
        data_ = data;
        pos_ = pos;
        end_ = end;
        range_ = 510;
        value_ = 0;
        count_ = 0;
        Refill();
        // The first 9 bits form codIOffset.
        value_ <<= 9;
        count_ -= 9;
    }

    // Branch-free: whether the bin is the MPS or the LPS is data, not control
    // flow, since for most contexts it is close to a coin toss and a
    // mispredicted branch costs more than computing both outcomes.
    TESSALY_CABAC_INLINE int DecodeDecision(CabacContext *ctx) {
        const uint32_t s = uint32_t(*ctx);
        const uint32_t state = s >> 1;
        const uint32_t lps = kCabacRangeLps[state][(range_ >> 6) & 3];
        const uint32_t mpsRange = range_ - lps;
        const uint64_t scaledRange = uint64_t(mpsRange) << kOffsetShift;
        const uint32_t isLps = value_ >= scaledRange ? 1 : 0;
        value_ -= scaledRange & (0 - uint64_t(isLps));
        range_ = isLps ? lps : mpsRange;
        // MPS: pStateIdx + 1 up to 62. LPS: the table's state; in the
        // equiprobable state 0 an LPS also swaps the MPS.
        const uint32_t nextMps = s + (s < 124 ? 2 : 0);
        const uint32_t nextLps = uint32_t(kCabacTransIdxLps[state]) << 1 | ((s & 1) ^ (state == 0 ? 1 : 0));
        *ctx = CabacContext(isLps ? nextLps : nextMps);
        Renormalise();
        return int((s ^ isLps) & 1);
    }

    TESSALY_CABAC_INLINE int DecodeBypass() {
        value_ <<= 1;
        --count_;
        // Bypass bins (signs, suffixes) are equiprobable: no branch on them.
        const uint64_t scaledRange = uint64_t(range_) << kOffsetShift;
        const uint32_t bin = value_ >= scaledRange ? 1 : 0;
        value_ -= scaledRange & (0 - uint64_t(bin));
        if (count_ < 8) Refill();
        return int(bin);
    }

    int DecodeTerminate() {
        range_ -= 2;
        const uint64_t scaledRange = uint64_t(range_) << kOffsetShift;
        if (value_ >= scaledRange) return 1;
        Renormalise();
        return 0;
    }

    // Byte position of the first byte after the arithmetic code, valid right
    // after DecodeTerminate returned 1 (the I_PCM samples start there).
    uint32_t BytePositionAfterTerminate() const { return uint32_t((ConsumedBits() + 7) >> 3); }

    // True once the engine has consumed bits well beyond the end of the data.
    bool Overrun() const { return ConsumedBits() > uint64_t(end_) * 8 + 16; }

private:
    static constexpr int kOffsetShift = 48;

    uint64_t ConsumedBits() const { return uint64_t(pos_) * 8 - uint64_t(int64_t(count_)); }

    TESSALY_CABAC_INLINE void Renormalise() {
        const int shift = __builtin_clz(range_) - 23;  // range_ < 2^9
        range_ <<= shift;
        value_ <<= shift;
        count_ -= shift;
        if (count_ < 8) Refill();
    }

    // Loads whole bytes into the free part of the window below the loaded bits.
    TESSALY_CABAC_INLINE void Refill() {
        const int bytes = (kOffsetShift - count_) >> 3;
        if (pos_ < end_ && end_ - pos_ >= 8) {
            uint64_t word;
            std::memcpy(&word, data_ + pos_, 8);
            word = __builtin_bswap64(word) >> (64 - 8 * bytes);
            value_ |= word << (kOffsetShift - count_ - 8 * bytes);
        } else {
            for (int i = 0; i < bytes; ++i) {
                const uint64_t b = pos_ + uint32_t(i) < end_ ? data_[pos_ + uint32_t(i)] : 0;
                value_ |= b << (kOffsetShift - count_ - 8 * (i + 1));
            }
        }
        pos_ += uint32_t(bytes);
        count_ += 8 * bytes;
    }

    const uint8_t *data_ = nullptr;
    uint32_t pos_ = 0;
    uint32_t end_ = 0;
    uint32_t range_ = 510;
    uint64_t value_ = 0;
    int count_ = 0;
};

#undef TESSALY_CABAC_INLINE

}  // namespace tessaly::h264
