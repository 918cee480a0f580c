// MSB-first bit reader over an RBSP (emulation prevention already removed).
//
// Reads past the end of the data yield zero bits instead of touching memory
// beyond it, so a truncated or hostile unit can never make the reader leave
// its buffer; callers detect the overrun with Overrun() once they are done.
// Header-only: the parameter-set, slice-header and slice-data parsers share it.
#pragma once

#include <cstdint>
#include <cstring>

namespace tessaly::h264 {

class BitReader {
public:
    BitReader() = default;
    BitReader(const uint8_t *data, uint32_t sizeBytes) { Reset(data, sizeBytes); }

    void Reset(const uint8_t *data, uint32_t sizeBytes) {
        data_ = data;
        sizeBytes_ = sizeBytes;
        endBits_ = uint64_t(sizeBytes) * 8;
        pos_ = 0;
    }

    // Up to 32 bits, most significant first. n = 0 returns 0.
    uint32_t ReadBits(int n) {
        if (n <= 0) return 0;
        const uint32_t v = Peek32() >> (32 - n);
        pos_ += uint32_t(n);
        return v;
    }
    uint32_t ReadBit() { return ReadBits(1); }
    bool ReadFlag() { return ReadBits(1) != 0; }
    void Skip(uint32_t n) { pos_ += n; }

    // ue(v). Codes with more than 31 leading zeros cannot be represented and
    // return UINT32_MAX, which every caller's range check refuses. The
    // common short codes are decoded in place, inlined into every parser
    // (the macroblock layer reads many of them); long ones take a call.
    [[gnu::always_inline]] uint32_t ReadUe() {
        // Codes of up to 57 bits (28 leading zeros) come from one look-ahead.
        const uint64_t w = Peek64();
        if (w >= (uint64_t(1) << 35)) [[likely]] {
            const int len = 2 * __builtin_clzll(w) + 1;
            pos_ += uint32_t(len);
            return uint32_t(w >> (64 - len)) - 1;
        }
        return ReadLongUe();
    }

    // se(v); the UINT32_MAX sentinel of ReadUe maps to INT32_MIN.
    [[gnu::always_inline]] int32_t ReadSe() {
        const uint32_t k = ReadUe();
        if (k == UINT32_MAX) return INT32_MIN;
        const int32_t magnitude = int32_t((k >> 1) + (k & 1));
        const int32_t negate = int32_t(k & 1) - 1;  // all ones for even k
        return (magnitude ^ negate) - negate;
    }

    // The next bits, most significant first, without consuming them: the top
    // 57 are exact (zeros past the end of the data), the rest may read as zero.
    uint64_t Peek64() const {
        const uint64_t byte = pos_ >> 3;
        uint64_t word = 0;
        if (byte + 8 <= sizeBytes_) {
            std::memcpy(&word, data_ + byte, 8);
            word = __builtin_bswap64(word);
        } else {
            for (uint64_t i = 0; i < 8; ++i) {
                word <<= 8;
                if (byte + i < sizeBytes_) word |= data_[byte + i];
            }
        }
        return word << (pos_ & 7);
    }

    uint32_t Peek32() const { return uint32_t(Peek64() >> 32); }  // all exact

    // True while bits other than the rbsp_stop_one_bit and its trailing zeros
    // remain after the current position.
    bool MoreRbspData() const {
        const uint64_t stop = StopBitPosition();
        return pos_ < stop;
    }

    void AlignToByte() { pos_ = (pos_ + 7) & ~uint64_t(7); }
    bool ByteAligned() const { return (pos_ & 7) == 0; }

    uint64_t Position() const { return pos_; }
    void SetPosition(uint64_t bits) { pos_ = bits; }
    uint64_t EndBits() const { return endBits_; }
    uint64_t BitsLeft() const { return pos_ < endBits_ ? endBits_ - pos_ : 0; }
    // True once a read has consumed bits beyond the end of the data.
    bool Overrun() const { return pos_ > endBits_; }
    const uint8_t *Data() const { return data_; }
    uint32_t SizeBytes() const { return sizeBytes_; }

private:
    [[gnu::noinline]] uint32_t ReadLongUe() {
        const uint32_t peek = Peek32();
        if (peek == 0) {
            pos_ += 32;
            return UINT32_MAX;
        }
        const int zeros = __builtin_clz(peek);
        pos_ += uint32_t(zeros);
        const uint64_t info = ReadBits(zeros + 1);  // 1 followed by the suffix
        return uint32_t(info - 1);
    }

    // Bit position of the last set bit in the data (the stop bit); 0 if none.
    uint64_t StopBitPosition() const {
        for (uint32_t i = sizeBytes_; i > 0; --i) {
            const uint8_t b = data_[i - 1];
            if (b) return uint64_t(i) * 8 - 1 - uint64_t(__builtin_ctz(b));
        }
        return 0;
    }

    const uint8_t *data_ = nullptr;
    uint32_t sizeBytes_ = 0;
    uint64_t endBits_ = 0;
    uint64_t pos_ = 0;
};

}  // namespace tessaly::h264
