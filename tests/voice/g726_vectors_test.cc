// G.726 through the frame calls against the ITU reference vectors: encoding
// 80-sample frames from a reset state must give exactly the reference codes,
// and decoding the reference codes exactly the reference PCM, at all four
// rates and in both bit orders.
#include <algorithm>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "voice_test_util.h"

namespace {

using voicetest::Frame;
using voicetest::ReadBytes;
using voicetest::ReadPcm;
using voicetest::State;

constexpr int kFrameSamples = 80;

// Byte and shift of bit j (0 = least significant) of code k in the stream,
// worked out independently of the library's packer.
std::pair<int, int> BitAt(int k, int j, int bits, bool msbFirst) {
    const int pos = k * bits + (msbFirst ? bits - 1 - j : j);  // msb first counts from the top of byte 0
    return {pos / 8, msbFirst ? 7 - pos % 8 : pos % 8};
}

std::vector<uint8_t> PackCodes(const uint8_t *codes, int count, int bits, bool msbFirst) {
    std::vector<uint8_t> out((count * bits + 7) / 8, 0);
    for (int k = 0; k < count; ++k) {
        for (int j = 0; j < bits; ++j) {
            const auto [byte, shift] = BitAt(k, j, bits, msbFirst);
            out[byte] |= static_cast<uint8_t>(((codes[k] >> j) & 1) << shift);
        }
    }
    return out;
}

std::vector<uint8_t> UnpackCodes(const uint8_t *payload, int count, int bits, bool msbFirst) {
    std::vector<uint8_t> codes(count, 0);
    for (int k = 0; k < count; ++k) {
        for (int j = 0; j < bits; ++j) {
            const auto [byte, shift] = BitAt(k, j, bits, msbFirst);
            codes[k] |= static_cast<uint8_t>(((payload[byte] >> shift) & 1) << j);
        }
    }
    return codes;
}

int16_t ModeFor(int bits, bool msbFirst) { return static_cast<int16_t>(bits - 2 + (msbFirst ? 36 : 4)); }

using VectorCase = std::tuple<std::string, int, bool>;

class G726Vectors : public ::testing::TestWithParam<VectorCase> {};

TEST_P(G726Vectors, EncodesAndDecodesLikeTheReference) {
    const auto &[signal, bits, msbFirst] = GetParam();
    const std::string stem = signal + "_b" + std::to_string(bits);
    const std::vector<int16_t> input = ReadPcm(signal + ".pcm"), decoded = ReadPcm(stem + ".dec.pcm");
    const std::vector<uint8_t> codes = ReadBytes(stem + ".codes");
    ASSERT_EQ(input.size(), codes.size());
    ASSERT_EQ(decoded.size(), codes.size());
    ASSERT_EQ(input.size() % kFrameSamples, 0u);

    const int16_t mode = ModeFor(bits, msbFirst);
    State enc, dec;
    ASSERT_EQ(TQ_VOICE_EncReset(enc.bytes, mode), TQ_VOICE_OK);
    ASSERT_EQ(TQ_VOICE_DecReset(dec.bytes, mode), TQ_VOICE_OK);
    for (size_t start = 0; start < input.size(); start += kFrameSamples) {
        Frame frame = voicetest::Encode(enc.bytes, &input[start], kFrameSamples, mode);
        ASSERT_EQ(frame.words(), kFrameSamples * bits / 16);
        const std::vector<uint8_t> got = UnpackCodes(frame.payload(), kFrameSamples, bits, msbFirst);
        for (int k = 0; k < kFrameSamples; ++k)
            ASSERT_EQ(got[k], codes[start + k]) << signal << " sample " << start + k;
    }
    // Decoding in 480-sample frames exercises the longest accepted frame as well.
    for (size_t start = 0; start < codes.size(); start += 480) {
        const int count = static_cast<int>(std::min<size_t>(480, codes.size() - start));
        Frame frame = voicetest::MakeFrame(PackCodes(&codes[start], count, bits, msbFirst));
        const std::vector<int16_t> pcm = voicetest::Decode(dec.bytes, frame, mode);
        ASSERT_EQ(pcm.size(), static_cast<size_t>(count));
        for (int k = 0; k < count; ++k) ASSERT_EQ(pcm[k], decoded[start + k]) << signal << " sample " << start + k;
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
