// The size probe on hand-built sequence parameter sets.
#include <vector>

#include <gtest/gtest.h>

#include "video/sps_probe.h"

using tessaly::video::ProbedSize;
using tessaly::video::ProbeSpsSize;

namespace {

class BitWriter {
public:
    void Bits(uint32_t value, int n) {
        for (int k = n - 1; k >= 0; --k) Bit((value >> k) & 1);
    }
    void Bit(uint32_t b) {
        if (pos_ % 8 == 0) bytes_.push_back(0);
        if (b) bytes_.back() |= static_cast<uint8_t>(0x80 >> (pos_ % 8));
        ++pos_;
    }
    void Ue(uint32_t v) {
        const uint32_t x = v + 1;
        int len = 0;
        while ((x >> len) > 1) ++len;
        Bits(0, len);
        Bits(x, len + 1);
    }
    void Se(int32_t v) { Ue(v > 0 ? 2 * v - 1 : -2 * v); }
    std::vector<uint8_t> bytes_;

private:
    int pos_ = 0;
};

struct SpsFields {
    uint32_t profile = 66;
    uint32_t widthMbs = 120, heightUnits = 68;
    uint32_t pocType = 0;
    bool scalingMatrix = false;
};

std::vector<uint8_t> Sps(const SpsFields &f, bool fourByteStartCode = true) {
    BitWriter w;
    w.Bits(0x67, 8);
    w.Bits(f.profile, 8);
    w.Bits(0, 8);   // constraint flags
    w.Bits(40, 8);  // level
    w.Ue(0);        // seq_parameter_set_id
    if (f.profile == 100) {
        w.Ue(1);  // chroma_format_idc
        w.Ue(0);
        w.Ue(0);
        w.Bit(0);
        w.Bit(f.scalingMatrix);
        if (f.scalingMatrix) {
            for (int k = 0; k < 8; ++k) {
                w.Bit(k == 1 || k == 6);  // two lists present
                if (k == 1)
                    for (int j = 0; j < 16; ++j) w.Se(j == 0 ? 8 : 1);
                if (k == 6)
                    for (int j = 0; j < 64; ++j) w.Se(j < 3 ? -2 : 0);
            }
        }
    }
    w.Ue(0);  // log2_max_frame_num_minus4
    w.Ue(f.pocType);
    if (f.pocType == 0) w.Ue(2);
    if (f.pocType == 1) {
        w.Bit(0);
        w.Se(-3);
        w.Se(5);
        w.Ue(3);
        for (int k = 0; k < 3; ++k) w.Se(k - 1);
    }
    w.Ue(2);  // num_ref_frames
    w.Bit(0);
    w.Ue(f.widthMbs - 1);
    w.Ue(f.heightUnits - 1);
    w.Bits(0xFFFF, 16);  // the rest of the set does not matter here
    std::vector<uint8_t> out = fourByteStartCode ? std::vector<uint8_t>{0, 0, 0, 1} : std::vector<uint8_t>{0, 0, 1};
    out.insert(out.end(), w.bytes_.begin(), w.bytes_.end());
    while (out.size() < 16) out.push_back(0);
    return out;
}

ProbedSize Probe(const std::vector<uint8_t> &frame, bool *found = nullptr) {
    ProbedSize s;
    const bool ok = ProbeSpsSize(frame.data(), static_cast<uint32_t>(frame.size()), s);
    if (found) *found = ok;
    return ok ? s : ProbedSize{-1, -1};
}

}  // namespace

TEST(SpsProbe, SizesFromEveryProfileAndOrderCountType) {
    EXPECT_EQ(Probe(Sps({66, 120, 68, 0, false})).width, 1920);
    EXPECT_EQ(Probe(Sps({66, 120, 68, 0, false})).height, 1088);
    EXPECT_EQ(Probe(Sps({77, 22, 18, 1, false})).width, 352);
    EXPECT_EQ(Probe(Sps({77, 22, 18, 1, false})).height, 288);
    EXPECT_EQ(Probe(Sps({100, 44, 18, 2, false})).width, 704);
    const ProbedSize withLists = Probe(Sps({100, 80, 45, 0, true}));
    EXPECT_EQ(withLists.width, 1280);
    EXPECT_EQ(withLists.height, 720);
    // Field coding is not applied: map units are taken as rows of macroblocks.
    EXPECT_EQ(Probe(Sps({77, 44, 18, 0, false})).height, 288);
}

TEST(SpsProbe, RefusesWhatDoesNotQualify) {
    bool found = true;
    Probe(Sps({66, 256, 136, 0, false}), &found);
    EXPECT_FALSE(found) << "4096 x 2176 is above 2560";
    Probe(Sps({66, 160, 90, 0, false}), &found);
    EXPECT_TRUE(found) << "2560 itself is accepted";
    Probe(Sps({66, 161, 90, 0, false}), &found);
    EXPECT_FALSE(found);
    Probe(Sps({66, 120, 68, 0, false}, false), &found);
    EXPECT_FALSE(found) << "three-byte start code";
    auto pps = Sps({66, 120, 68, 0, false});
    pps[4] = 0x68;
    Probe(pps, &found);
    EXPECT_FALSE(found) << "not a sequence parameter set";
    auto shortFrame = Sps({66, 120, 68, 0, false});
    shortFrame.resize(15);
    Probe(shortFrame, &found);
    EXPECT_FALSE(found) << "under 16 bytes";
    // Cut inside the Exp-Golomb codes: never reads past the frame.
    std::vector<uint8_t> cut = {0, 0, 0, 1, 0x67, 66, 0, 40, 0, 0, 0, 0, 0, 0, 0, 0};
    Probe(cut, &found);
    EXPECT_FALSE(found);
}
