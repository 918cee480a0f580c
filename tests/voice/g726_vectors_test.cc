// G.726 through the frame calls against the ITU reference vectors: encoding
// 80-sample frames from a reset state must give exactly the reference codes,
// and decoding the reference codes exactly the reference PCM, at all four
// rates and in both bit orders.
#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

#include "voice_test_util.h"

namespace {

using voicetest::Frame;
using voicetest::ReadBytes;
using voicetest::ReadPcm;
using voicetest::State;

constexpr int kFrameSamples = 80;

// Stream bit position of bit j (0 = least significant) of code k.
int LsbPosition(int k, int j, int bits) { return k * bits + j; }

// Packs codes bit by bit, independently of the library's packer.
std::vector<uint8_t> PackCodes(const uint8_t *codes, int count, int bits, bool msbFirst) {
    std::vector<uint8_t> out((count * bits + 7) / 8, 0);
    for (int k = 0; k < count; ++k) {
        for (int j = 0; j < bits; ++j) {
            if (!((codes[k] >> j) & 1)) continue;
            if (msbFirst) {
                const int pos = k * bits + (bits - 1 - j);  // counted from the top of byte 0
                out[pos / 8] |= static_cast<uint8_t>(0x80 >> (pos % 8));
            } else {
                const int pos = LsbPosition(k, j, bits);
                out[pos / 8] |= static_cast<uint8_t>(1 << (pos % 8));
            }
        }
    }
    return out;
}

std::vector<uint8_t> UnpackCodes(const uint8_t *payload, int count, int bits, bool msbFirst) {
    std::vector<uint8_t> codes(count, 0);
    for (int k = 0; k < count; ++k) {
        for (int j = 0; j < bits; ++j) {
            int bit;
            if (msbFirst) {
                const int pos = k * bits + (bits - 1 - j);
                bit = (payload[pos / 8] >> (7 - pos % 8)) & 1;
            } else {
                const int pos = LsbPosition(k, j, bits);
                bit = (payload[pos / 8] >> (pos % 8)) & 1;
            }
            codes[k] |= static_cast<uint8_t>(bit << j);
        }
    }
    return codes;
}

int16_t ModeFor(int bits, bool msbFirst) { return static_cast<int16_t>(bits - 2 + (msbFirst ? 36 : 4)); }

using VectorCase = std::tuple<std::string, int, bool>;

class G726Vectors : public ::testing::TestWithParam<VectorCase> {};

TEST_P(G726Vectors, EncodesToTheReferenceCodes) {
    const auto &[signal, bits, msbFirst] = GetParam();
    const std::vector<int16_t> input = ReadPcm(signal + ".pcm");
    const std::vector<uint8_t> reference = ReadBytes(signal + "_b" + std::to_string(bits) + ".codes");
    ASSERT_EQ(input.size(), reference.size());
    ASSERT_EQ(input.size() % kFrameSamples, 0u);

    const int16_t mode = ModeFor(bits, msbFirst);
    State enc;
    ASSERT_EQ(TQ_VOICE_EncReset(enc.bytes, mode), TQ_VOICE_OK);
    for (size_t start = 0; start < input.size(); start += kFrameSamples) {
        Frame frame;
        ASSERT_EQ(TQ_VOICE_EncodeFrame(enc.bytes, &input[start], frame.bytes, kFrameSamples, mode), TQ_VOICE_OK);
        ASSERT_EQ(frame.words(), kFrameSamples * bits / 16);
        const std::vector<uint8_t> codes = UnpackCodes(frame.payload(), kFrameSamples, bits, msbFirst);
        for (int k = 0; k < kFrameSamples; ++k)
            ASSERT_EQ(codes[k], reference[start + k]) << signal << " sample " << start + k;
    }
}

TEST_P(G726Vectors, DecodesTheReferenceCodes) {
    const auto &[signal, bits, msbFirst] = GetParam();
    const std::vector<uint8_t> codes = ReadBytes(signal + "_b" + std::to_string(bits) + ".codes");
    const std::vector<int16_t> reference = ReadPcm(signal + "_b" + std::to_string(bits) + ".dec.pcm");
    ASSERT_EQ(codes.size(), reference.size());

    // 480-sample frames exercise the longest accepted frame as well.
    const int frameSamples = 480;
    const int16_t mode = ModeFor(bits, msbFirst);
    State dec;
    ASSERT_EQ(TQ_VOICE_DecReset(dec.bytes, mode), TQ_VOICE_OK);
    for (size_t start = 0; start < codes.size(); start += frameSamples) {
        const int count = static_cast<int>(std::min<size_t>(frameSamples, codes.size() - start));
        ASSERT_EQ(count % kFrameSamples, 0);
        Frame frame = voicetest::MakeFrame(PackCodes(&codes[start], count, bits, msbFirst));
        int16_t pcm[TQ_VOICE_MAX_SAMPLES];
        int16_t decoded = -1;
        ASSERT_EQ(TQ_VOICE_DecodeFrame(dec.bytes, frame.bytes, pcm, mode, &decoded), TQ_VOICE_OK);
        ASSERT_EQ(decoded, count);
        for (int k = 0; k < count; ++k) ASSERT_EQ(pcm[k], reference[start + k]) << signal << " sample " << start + k;
    }
}

std::string CaseName(const ::testing::TestParamInfo<VectorCase> &info) {
    const auto &[signal, bits, msbFirst] = info.param;
    return signal + "_" + std::to_string(bits) + "bit_" + (msbFirst ? "msb" : "lsb");
}

INSTANTIATE_TEST_SUITE_P(AllRates, G726Vectors,
                         ::testing::Combine(::testing::Values("silence", "sine1k", "noise", "speech"),
                                            ::testing::Values(2, 3, 4, 5), ::testing::Bool()),
                         CaseName);

}  // namespace
