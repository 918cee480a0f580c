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

#include "h264dec/tables/cabac_decision_table.h"

namespace tessaly::h264 {

// One context variable as a word: codIRangeLPS for each qCodIRangeIdx q in
// byte q (bits 0..31) and s = pStateIdx << 1 | valMPS in bits 32..38. A
// decision on the context the last one updated (a unary prefix, a run of
// levels) then takes its LPS sub-range from the word itself, not from a
// table load that waits for it (on 1080p CABAC, 3% faster). A scoped enum so
// that stores to it cannot alias the engine's registers (character types
// alias everything), which keeps range and offset in machine registers
// across a block.
enum class CabacContext : uint64_t {};

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
    // mispredicted branch costs more than computing both outcomes. The
    // range's dependency chain from bin to bin bounds a block's decoding
    // time, so both outcomes come renormalised: the LPS one from the table,
    // the MPS one by at most one doubling (codIRange - LPS >= 128).
    TESSALY_CABAC_INLINE int DecodeDecision(CabacContext *ctx) {
        const uint64_t w = uint64_t(*ctx);
        const uint32_t s = uint32_t(w >> 32);
        const uint32_t lps = uint32_t(w >> ((range_ >> 3) & 0x18)) & 0xff;
        // codIRange is 256..510 between bins (DecodeTerminate sees to it), so
        // idx stays inside the table whatever the stream holds.
        const uint32_t idx = 4 * s + (range_ >> 6) - 4;
        const uint32_t mpsRange = range_ - lps;
        Outcome o{mpsRange, 0, kCabacDecisionTable.nextWord[0][s], value_};
        const Outcome lpsOutcome{kCabacDecisionTable.lpsRange[idx], kCabacDecisionTable.lpsShift[idx],
                                 kCabacDecisionTable.nextWord[1][s], value_ - (uint64_t(mpsRange) << kOffsetShift)};
        const bool isLps = Decide(uint32_t(value_ >> kOffsetShift), mpsRange, o, lpsOutcome);
        range_ = o.range;
        value_ = o.value << o.shift;
        count_ -= int(o.shift);
        *ctx = CabacContext(o.next);
        if (count_ < 8) Refill();
        return int((s & 1) ^ uint32_t(isLps));
    }

    TESSALY_CABAC_INLINE int DecodeBypass() {
        value_ <<= 1;
        --count_;
        // Bypass bins (signs, suffixes) are equiprobable: no branch on them.
        const bool bin = SubtractIfAtLeast(value_, uint64_t(range_) << kOffsetShift);
        if (count_ < 8) Refill();
        return int(bin);
    }

    int DecodeTerminate() {
        range_ -= 2;
        const uint64_t scaledRange = uint64_t(range_) << kOffsetShift;
        if (value_ >= scaledRange) {
            // Decoding stops here or starts over with Init; until then the
            // range must stay a valid index of the decision table.
            range_ = 256;
            return 1;
        }
        Renormalise();
        return 0;
    }

    // Hot loops decode with a local copy, whose fields then live in machine
    // registers, and hand its progress back here field by field: a whole-
    // object copy would go through vector moves that wait for the scalar
    // stores just made (a store-forwarding stall per block).
    TESSALY_CABAC_INLINE void TakeProgress(const CabacEngine &local) {
        pos_ = local.pos_;
        range_ = local.range_;
        value_ = local.value_;
        count_ = local.count_;
    }

    // Byte position of the first byte after the arithmetic code, valid right
    // after DecodeTerminate returned 1 (the I_PCM samples start there).
    uint32_t BytePositionAfterTerminate() const { return uint32_t((ConsumedBits() + 7) >> 3); }

    // True once the engine has consumed bits well beyond the end of the data.
    bool Overrun() const { return ConsumedBits() > uint64_t(end_) * 8 + 16; }

private:
    static constexpr int kOffsetShift = 48;

    // What a decision leaves behind: renormalised range, the shift that
    // renormalises the window, the context word, and the window before it.
    struct Outcome {
        uint32_t range, shift;
        uint64_t next, value;
    };

    // Turns `o` (holding the unnormalised MPS sub-range) into the MPS
    // outcome, or into `lps` when the offset lies in the LPS sub-range, and
    // says which. Conditional moves on x86-64: the compiler would make
    // branches of plain selects.
    TESSALY_CABAC_INLINE static bool Decide(uint32_t offset, uint32_t mpsRange, Outcome &o, const Outcome &lps) {
#if defined(__x86_64__)
        bool isLps;
        asm("cmpl $256, %[mps]\n\t"
            "cmovbl %[mps2], %[range]\n\t"
            "adcl $0, %[shift]\n\t"
            "cmpl %[mps], %[offset]\n\t"
            "cmovael %[lpsRange], %[range]\n\t"
            "cmovael %[lpsShift], %[shift]\n\t"
            "cmovaeq %[lpsNext], %[next]\n\t"
            "cmovaeq %[lpsValue], %[value]"
            : [range] "+&r"(o.range), [shift] "+&r"(o.shift), [next] "+r"(o.next), [value] "+r"(o.value),
              "=@ccae"(isLps)
            : [offset] "r"(offset), [mps] "r"(mpsRange), [mps2] "r"(2 * mpsRange), [lpsRange] "r"(lps.range),
              [lpsShift] "r"(lps.shift), [lpsNext] "r"(lps.next), [lpsValue] "r"(lps.value));
        return isLps;
#else
        if (mpsRange < 256) {
            o.range = 2 * mpsRange;
            o.shift = 1;
        }
        const bool isLps = offset >= mpsRange;
        if (isLps) o = lps;
        return isLps;
#endif
    }

    // v -= bound when v >= bound, by a conditional move; says whether.
    TESSALY_CABAC_INLINE static bool SubtractIfAtLeast(uint64_t &v, uint64_t bound) {
#if defined(__x86_64__)
        bool atLeast;
        asm("cmpq %[bound], %[v]\n\t"
            "cmovaeq %[reduced], %[v]"
            : [v] "+r"(v), "=@ccae"(atLeast)
            : [bound] "r"(bound), [reduced] "r"(v - bound));
        return atLeast;
#else
        const bool atLeast = v >= bound;
        if (atLeast) v -= bound;
        return atLeast;
#endif
    }

    uint64_t ConsumedBits() const { return uint64_t(pos_) * 8 - uint64_t(int64_t(count_)); }

    TESSALY_CABAC_INLINE void Renormalise() {
        const int shift = __builtin_clz(range_) - 23;  // range_ < 2^9
        range_ <<= shift;
        value_ <<= shift;
        count_ -= shift;
        if (count_ < 8) Refill();
    }

    // Loads whole bytes into the free part of the window below the loaded
    // bits. The word read may reach past them; those are the stream's next
    // bits at their final places, which the next refill ORs in once more.
    TESSALY_CABAC_INLINE void Refill() {
        uint64_t word;
        if (uint64_t(pos_) + 8 <= end_) {
            std::memcpy(&word, data_ + pos_, 8);
            word = __builtin_bswap64(word);
        } else {
            word = LoadTail(data_, pos_, end_);
        }
        value_ |= word >> (64 - kOffsetShift + count_);
        const int bytes = (kOffsetShift - count_) >> 3;
        pos_ += uint32_t(bytes);
        count_ += 8 * bytes;
    }

    // Big-endian 8 bytes from data[pos], zeros past `end`.
    __attribute__((noinline)) static uint64_t LoadTail(const uint8_t *data, uint32_t pos, uint32_t end) {
        uint64_t word = 0;
        for (uint32_t i = 0; i < 8; ++i) word = word << 8 | (pos + i < end ? data[pos + i] : 0);
        return word;
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
