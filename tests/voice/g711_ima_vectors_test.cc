// G.711 over every input value and every code, and IMA ADPCM through modes 3
// and 35, against the reference vectors.
#include <string>
#include <vector>

#include "voice_test_util.h"

namespace {

using voicetest::Frame;
using voicetest::ReadBytes;
using voicetest::ReadPcm;
using voicetest::State;

struct Law {
    int16_t mode;
    const char *codesFile;
    const char *decodedFile;
};

// The mu-law encoder takes the magnitude of a negative input as -v (of v = s >> 2),
// where the reference tool takes the one's complement ~s >> 2. The two differ
// exactly at the 127 negative decision levels, four inputs each (the inputs
// sharing one v), where ours picks the next code of larger magnitude.
bool AtUlawNegativeDecisionLevel(int input) {
    if (input >= 0) return false;
    const int negated = -(input >> 2), complemented = (~input) >> 2;
    return negated != complemented && ((negated + 33) >> 1) != ((complemented + 33) >> 1);
}

class G711 : public ::testing::TestWithParam<Law> {};

TEST_P(G711, EveryInputValueGivesTheReferenceCode) {
    const Law law = GetParam();
    const std::vector<uint8_t> reference = ReadBytes(law.codesFile);
    ASSERT_EQ(reference.size(), 65536u);
    std::vector<int16_t> input(65536);
    for (int v = -32768; v <= 32767; ++v) input[v + 32768] = static_cast<int16_t>(v);

    int levelDifferences = 0;
    State st;
    ASSERT_EQ(TQ_VOICE_EncReset(st.bytes, law.mode), TQ_VOICE_OK);
    // Frames of 256 samples: 65536 is a whole number of them.
    for (size_t start = 0; start < input.size(); start += 256) {
        Frame frame = voicetest::Encode(st.bytes, &input[start], 256, law.mode);
        ASSERT_EQ(frame.words(), 128);
        for (int k = 0; k < 256; ++k) {
            const int in = input[start + k];
            if (law.mode == TQ_VOICE_MODE_G711_ULAW && AtUlawNegativeDecisionLevel(in) &&
                frame.payload()[k] != reference[start + k]) {
                ++levelDifferences;
                // Larger magnitude means a smaller inverted negative code.
                ASSERT_EQ(frame.payload()[k] + 1, reference[start + k]) << "input " << in;
                continue;
            }
            ASSERT_EQ(frame.payload()[k], reference[start + k]) << "input " << in;
        }
    }
    EXPECT_EQ(levelDifferences, law.mode == TQ_VOICE_MODE_G711_ULAW ? 4 * 127 : 0);
}

TEST_P(G711, EveryCodeDecodesToTheReferenceValue) {
    const Law law = GetParam();
    const std::vector<int16_t> reference = ReadPcm(law.decodedFile);
    ASSERT_EQ(reference.size(), 256u);
    // 320 codes (four 80-sample frames' worth in one 320-sample frame) cover all 256.
    std::vector<uint8_t> payload(320);
    for (size_t k = 0; k < payload.size(); ++k) payload[k] = static_cast<uint8_t>(k);
    Frame frame = voicetest::MakeFrame(payload);
    State st;
    const std::vector<int16_t> pcm = voicetest::Decode(st.bytes, frame, law.mode);
    ASSERT_EQ(pcm.size(), 320u);
    for (int k = 0; k < 320; ++k) ASSERT_EQ(pcm[k], reference[k & 255]) << "code " << (k & 255);
}

INSTANTIATE_TEST_SUITE_P(BothLaws, G711,
                         ::testing::Values(Law{TQ_VOICE_MODE_G711_ALAW, "alaw_all.bin", "alaw_dec.pcm"},
                                           Law{TQ_VOICE_MODE_G711_ULAW, "ulaw_all.bin", "ulaw_dec.pcm"}),
                         [](const auto &info) { return info.param.mode == 1 ? "alaw" : "ulaw"; });

class ImaVectors : public ::testing::TestWithParam<std::string> {};

// Mode 3 frames carry the encoder state, so a stream of them codes exactly like
// one continuous stream; the codes come high nibble first.
TEST_P(ImaVectors, FramesAgainstTheContinuousStream) {
    const std::string signal = GetParam();
    const std::vector<int16_t> input = ReadPcm(signal + ".pcm");
    const std::vector<uint8_t> codes = ReadBytes(signal + "_ima.codes");
    const std::vector<int16_t> decoded = ReadPcm(signal + "_ima.dec.pcm");
    ASSERT_EQ(input.size(), codes.size());

    State enc, dec;
    ASSERT_EQ(TQ_VOICE_EncReset(enc.bytes, 3), TQ_VOICE_OK);
    ASSERT_EQ(TQ_VOICE_DecReset(dec.bytes, 3), TQ_VOICE_OK);
    for (size_t start = 0; start < input.size(); start += 80) {
        Frame frame = voicetest::Encode(enc.bytes, &input[start], 80, 3);
        ASSERT_EQ(frame.size(), 48);
        // The frame's state words are the reference decoder's state before it.
        const int16_t carried = static_cast<int16_t>(frame.payload()[0] | (frame.payload()[1] << 8));
        ASSERT_EQ(carried, start == 0 ? 0 : decoded[start - 1]);
        for (int k = 0; k < 80; ++k) {
            const uint8_t byte = frame.payload()[4 + k / 2];
            ASSERT_EQ((k & 1) ? byte & 15 : byte >> 4, codes[start + k]) << signal << " sample " << start + k;
        }
        const std::vector<int16_t> pcm = voicetest::Decode(dec.bytes, frame, 3);
        ASSERT_EQ(pcm.size(), 80u);
        for (int k = 0; k < 80; ++k) ASSERT_EQ(pcm[k], decoded[start + k]) << signal << " sample " << start + k;
    }

    // Mode 35 restarts each frame from its raw first sample, so the reference
    // stream applies only to the first frame; later frames must still decode to
    // the encoder's own reconstruction, which the encoder state exposes.
    ASSERT_EQ(TQ_VOICE_EncReset(enc.bytes, 35), TQ_VOICE_OK);
    ASSERT_EQ(TQ_VOICE_DecReset(dec.bytes, 35), TQ_VOICE_OK);
    for (size_t start = 0; start + 81 <= input.size(); start += 81) {
        Frame frame = voicetest::Encode(enc.bytes, &input[start], 81, 35);
        ASSERT_EQ(frame.words(), 22);
        const std::vector<int16_t> pcm = voicetest::Decode(dec.bytes, frame, 35);
        ASSERT_EQ(pcm.size(), 81u);
        ASSERT_EQ(pcm[0], input[start]);
        const int16_t encoderPrediction = static_cast<int16_t>(enc.bytes[0] | (enc.bytes[1] << 8));
        ASSERT_EQ(pcm[80], encoderPrediction);
        if (start == 0 && input[0] == 0) {
            // From a reset state with a zero first sample, the first frame is the
            // reference stream shifted by one sample.
            for (int k = 1; k < 81; ++k) ASSERT_EQ(pcm[k], decoded[k]) << "sample " << k;
        }
    }
}

// The step index stays within the table at both ends: from the top index a
// large code would raise it, from the bottom a small one would lower it. The
// expected samples follow from the first and last step sizes, 32767 and 7.
TEST(ImaStepIndex, StaysWithinTheTableAtBothEnds) {
    struct Case {
        uint8_t index;
        uint8_t codeBytes[2];  // high nibble first
        int16_t expected[4];
    };
    const Case cases[] = {
        // +32767 saturates; then down by 32767 + 4095 twice, saturating again.
        {88, {0x4C, 0xCC}, {32767, -4095, -32768, -32768}},
        // A zero-magnitude code at index 0 changes nothing; then 7 + 3 + 1, 16 + 8 + 4 + 2, 34 >> 3.
        {0, {0x87, 0x70}, {0, 11, 41, 45}},
    };
    for (const Case &c : cases) {
        std::vector<uint8_t> payload = {0, 0, c.index, 0, c.codeBytes[0], c.codeBytes[1]};
        payload.resize(44);  // 80 samples
        Frame frame = voicetest::MakeFrame(payload);
        State st{};
        const std::vector<int16_t> pcm = voicetest::Decode(st.bytes, frame, TQ_VOICE_MODE_IMA_ADPCM);
        ASSERT_EQ(pcm.size(), 80u);
        EXPECT_EQ(std::vector<int16_t>(pcm.begin(), pcm.begin() + 4), std::vector<int16_t>(c.expected, c.expected + 4))
            << "index " << int(c.index);
    }
}

INSTANTIATE_TEST_SUITE_P(Signals, ImaVectors, ::testing::Values("sine1k", "noise", "speech"));

}  // namespace
