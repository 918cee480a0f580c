// A CABAC encoder written from the standard's encoding process, for tests
// of the decoding side (engine, slice data with I_PCM).
#pragma once

#include <cstdint>
#include <vector>

#include "h264dec/slice/cabac_engine.h"
#include "h264dec/tables/tables.h"

namespace tessaly::h264::test {

class ReferenceCabacEncoder {
public:
    void EncodeDecision(CabacContext &ctx, int bin) {
        int state = int(ctx) >> 1, mps = int(ctx) & 1;
        const uint32_t lps = kCabacRangeLps[state][(range_ >> 6) & 3];
        range_ -= lps;
        if (bin != mps) {
            low_ += range_;
            range_ = lps;
            if (state == 0) mps = 1 - mps;
            state = kCabacTransIdxLps[state];
        } else {
            state = kCabacTransIdxMps[state];
        }
        ctx = CabacContext(state << 1 | mps);
        Renormalise();
    }

    void EncodeBypass(int bin) {
        low_ <<= 1;
        if (bin) low_ += range_;
        if (low_ >= 1024) {
            PutBit(1);
            low_ -= 1024;
        } else if (low_ < 512) {
            PutBit(0);
        } else {
            low_ -= 512;
            ++outstanding_;
        }
    }

    void EncodeTerminate(int bin) {
        range_ -= 2;
        if (bin) {
            low_ += range_;
            range_ = 2;
            Renormalise();
            PutBit((low_ >> 9) & 1);
            WriteBit((low_ >> 8) & 1);
            WriteBit(1);
        } else {
            Renormalise();
        }
    }

    // Pads to a byte boundary with zeros (pcm_alignment_zero_bit / trailing bits).
    std::vector<uint8_t> Bytes() const {
        std::vector<uint8_t> out = bytes_;
        if (bitCount_ % 8) out.push_back(uint8_t(cur_ << (8 - bitCount_ % 8)));
        return out;
    }
    size_t BitCount() const { return bitCount_; }

private:
    void Renormalise() {
        while (range_ < 256) {
            if (low_ < 256) {
                PutBit(0);
            } else if (low_ >= 512) {
                low_ -= 512;
                PutBit(1);
            } else {
                low_ -= 256;
                ++outstanding_;
            }
            range_ <<= 1;
            low_ <<= 1;
        }
    }
    void PutBit(int b) {
        if (first_) {
            first_ = false;
        } else {
            WriteBit(b);
        }
        for (; outstanding_ > 0; --outstanding_) WriteBit(1 - b);
    }
    void WriteBit(int b) {
        cur_ = uint8_t(cur_ << 1 | b);
        if (++bitCount_ % 8 == 0) {
            bytes_.push_back(cur_);
            cur_ = 0;
        }
    }

    uint32_t low_ = 0, range_ = 510;
    int outstanding_ = 0;
    bool first_ = true;
    std::vector<uint8_t> bytes_;
    uint8_t cur_ = 0;
    size_t bitCount_ = 0;
};

}  // namespace tessaly::h264::test
