// The frame calls' contract: argument checks in their order, the header, the
// accepted lengths, odd sample counts and hostile state. Bit-exact coding and
// both bit orders are the vector tests'.
#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <random>
#include <vector>

#include "voice_test_util.h"

namespace {

using voicetest::Frame;
using voicetest::State;

std::vector<int16_t> Tone(int count, int seed = 1) {
    std::vector<int16_t> pcm(count);
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> noise(-300, 300);
    for (int k = 0; k < count; ++k) pcm[k] = static_cast<int16_t>(9000 * ((k * 7 % 40) - 20) / 20 + noise(rng));
    return pcm;
}

// Encodes `samples` samples of `pcm` from a freshly reset state.
Frame EncodeFresh(const std::vector<int16_t> &pcm, int samples, int16_t mode, State *st = nullptr) {
    State local;
    State &state = st ? *st : local;
    EXPECT_EQ(TQ_VOICE_EncReset(state.bytes, mode), TQ_VOICE_OK);
    return voicetest::Encode(state.bytes, pcm.data(), samples, mode);
}

// The samples of the last frame, decoded in turn from a freshly reset state.
std::vector<int16_t> DecodeFresh(int16_t mode, std::initializer_list<Frame *> frames) {
    State st;
    EXPECT_EQ(TQ_VOICE_DecReset(st.bytes, mode), TQ_VOICE_OK);
    std::vector<int16_t> pcm;
    for (Frame *f : frames) pcm = voicetest::Decode(st.bytes, *f, mode);
    return pcm;
}

TEST(VoiceEncode, ResetAndEncodeCheckInOrderAndWriteNothingOnFailure) {
    State st;
    EXPECT_EQ(TQ_VOICE_EncReset(nullptr, 4), TQ_VOICE_ERR_NULL_STATE);
    EXPECT_EQ(TQ_VOICE_DecReset(nullptr, 99), TQ_VOICE_ERR_NULL_STATE);
    for (int16_t bad : {0, -1, 8, 34, 40, 32767}) {
        EXPECT_EQ(TQ_VOICE_EncReset(st.bytes, bad), TQ_VOICE_ERR_ENC_MODE) << bad;
        EXPECT_EQ(TQ_VOICE_DecReset(st.bytes, bad), TQ_VOICE_ERR_DEC_MODE) << bad;
    }
    const std::vector<int16_t> pcm = Tone(481);
    Frame frame;
    std::memset(frame.bytes, 0xEE, sizeof frame.bytes);
    EXPECT_EQ(TQ_VOICE_EncodeFrame(nullptr, nullptr, nullptr, 0, 99), TQ_VOICE_ERR_NULL_STATE);
    EXPECT_EQ(TQ_VOICE_EncodeFrame(st.bytes, nullptr, nullptr, 0, 99), TQ_VOICE_ERR_NULL_INPUT);
    EXPECT_EQ(TQ_VOICE_EncodeFrame(st.bytes, pcm.data(), nullptr, 0, 99), TQ_VOICE_ERR_NULL_OUTPUT);
    for (int16_t count : {0, -1, 482, -32768})
        EXPECT_EQ(TQ_VOICE_EncodeFrame(st.bytes, pcm.data(), frame.bytes, count, 99), TQ_VOICE_ERR_ENC_COUNT);
    EXPECT_EQ(TQ_VOICE_EncodeFrame(st.bytes, pcm.data(), frame.bytes, 80, 8), TQ_VOICE_ERR_ENC_MODE);
    for (uint8_t b : frame.bytes) ASSERT_EQ(b, 0xEE);
}

TEST(VoiceEncode, FrameSizesAtTheEdgesAndNothingPastTheFrame) {
    const std::vector<int16_t> pcm = Tone(481);
    // {mode, samples, frame bytes}: G.711 drops an odd last sample, G.726 codes pairs, IMA carries its state.
    const int cases[][3] = {
        {1, 1, 4},    {1, 81, 84}, {2, 481, 484}, {3, 81, 48},   {3, 481, 248}, {35, 1, 8},
        {35, 81, 48}, {6, 82, 44}, {7, 13, 12},   {7, 481, 304}, {36, 80, 24},  {39, 80, 54},
    };
    for (const auto &[mode, samples, bytes] : cases) {
        Frame frame = EncodeFresh(pcm, samples, static_cast<int16_t>(mode));
        EXPECT_EQ(frame.bytes[0], 0x00);
        EXPECT_EQ(frame.bytes[1], 0x01);
        EXPECT_EQ(frame.size(), bytes) << "mode " << mode << ", " << samples << " samples";
        for (size_t k = static_cast<size_t>(bytes); k < sizeof frame.bytes; ++k)
            ASSERT_EQ(frame.bytes[k], 0xEE) << "mode " << mode << " byte " << k;
    }
}

TEST(VoiceDecode, ChecksInOrderAndHeaderRules) {
    State st;
    int16_t pcm[TQ_VOICE_MAX_SAMPLES];
    int16_t count = 77;
    Frame frame = voicetest::MakeFrame(std::vector<uint8_t>(40, 0x55));  // N = 20
    EXPECT_EQ(TQ_VOICE_DecodeFrame(nullptr, nullptr, nullptr, 99, nullptr), TQ_VOICE_ERR_NULL_STATE);
    EXPECT_EQ(TQ_VOICE_DecodeFrame(st.bytes, nullptr, nullptr, 99, nullptr), TQ_VOICE_ERR_NULL_INPUT);
    EXPECT_EQ(TQ_VOICE_DecodeFrame(st.bytes, frame.bytes, nullptr, 99, &count), TQ_VOICE_ERR_NULL_OUTPUT);
    EXPECT_EQ(TQ_VOICE_DecodeFrame(st.bytes, frame.bytes, pcm, 99, nullptr), TQ_VOICE_ERR_NULL_OUTPUT);
    EXPECT_EQ(count, 77);  // untouched before the pointer checks pass

    // Marker: only the low two bits of byte 1 count; byte 0 not at all.
    frame.bytes[1] = 0x02;
    EXPECT_EQ(TQ_VOICE_DecodeFrame(st.bytes, frame.bytes, pcm, 99, &count), TQ_VOICE_ERR_DEC_MARKER);
    EXPECT_EQ(count, 0);
    frame.bytes[0] = 0x7B;
    frame.bytes[1] = 0xFD;
    ASSERT_EQ(TQ_VOICE_DecReset(st.bytes, 6), TQ_VOICE_OK);
    EXPECT_EQ(TQ_VOICE_DecodeFrame(st.bytes, frame.bytes, pcm, 6, &count), TQ_VOICE_OK);
    EXPECT_EQ(count, 80);

    // N = 0 comes before the mode check; byte 3 is not part of N.
    frame.bytes[2] = 0;
    frame.bytes[3] = 7;
    EXPECT_EQ(TQ_VOICE_DecodeFrame(st.bytes, frame.bytes, pcm, 99, &count), TQ_VOICE_ERR_DEC_LENGTH);
    frame.bytes[2] = 10;
    EXPECT_EQ(TQ_VOICE_DecodeFrame(st.bytes, frame.bytes, pcm, 8, &count), TQ_VOICE_ERR_DEC_MODE);
    EXPECT_EQ(TQ_VOICE_DecodeFrame(st.bytes, frame.bytes, pcm, 0, &count), TQ_VOICE_ERR_DEC_MODE);
    EXPECT_EQ(TQ_VOICE_DecodeFrame(st.bytes, frame.bytes, pcm, 4, &count), TQ_VOICE_OK);
    EXPECT_EQ(count, 80);
}

TEST(VoiceDecode, AcceptedSampleCountsPerMode) {
    // {mode, payload words, samples or -1 for a refusal}; whole 80-sample
    // frames up to 480 at every G.726 rate are the vector tests'.
    const int cases[][3] = {
        {1, 40, 80}, {1, 240, 480}, {1, 241, -1}, {1, 41, -1},    {2, 120, 240}, {4, 5, -1},
        {4, 70, -1}, {5, 16, -1},   {5, 105, -1}, {6, 21, -1},    {6, 140, -1},  {38, 100, 400},
        {7, 26, -1}, {39, 175, -1}, {3, 1, -1},   {3, 2, 0},      {3, 122, 480}, {3, 123, -1},
        {35, 1, -1}, {35, 2, 1},    {35, 22, 81}, {35, 122, 481}, {35, 255, -1},
    };
    for (const auto &[mode, words, samples] : cases) {
        State st;
        ASSERT_EQ(TQ_VOICE_DecReset(st.bytes, static_cast<int16_t>(mode)), TQ_VOICE_OK);
        Frame frame = voicetest::MakeFrame(std::vector<uint8_t>(2 * words, 0x11));
        int16_t pcm[TQ_VOICE_MAX_SAMPLES + 8];
        pcm[TQ_VOICE_MAX_SAMPLES] = 0x1234;
        int16_t count = -5;
        const uint32_t rc = TQ_VOICE_DecodeFrame(st.bytes, frame.bytes, pcm, static_cast<int16_t>(mode), &count);
        EXPECT_EQ(rc, samples >= 0 ? TQ_VOICE_OK : TQ_VOICE_ERR_DEC_LENGTH) << "mode " << mode << " N " << words;
        EXPECT_EQ(count, std::max(samples, 0)) << "mode " << mode << " N " << words;
        EXPECT_EQ(pcm[TQ_VOICE_MAX_SAMPLES], 0x1234) << "wrote past the pcm buffer";
    }
}

// Hosts reuse frame buffers; decoding a most-significant-first frame leaves
// it in the other order, as the mode's least-significant-first twin coded it.
TEST(VoiceDecode, MsbFramesAreRewrittenInPlace) {
    const std::vector<int16_t> pcm = Tone(80, 7);
    Frame msb = EncodeFresh(pcm, 80, 37);
    const Frame lsb = EncodeFresh(pcm, 80, 5);
    ASSERT_NE(std::memcmp(msb.bytes, lsb.bytes, 34), 0);
    DecodeFresh(37, {&msb});
    EXPECT_EQ(std::memcmp(msb.bytes, lsb.bytes, 34), 0);
}

TEST(VoiceOddCounts, UncodedSamplesLeaveStateAndPaddingAlone) {
    const std::vector<int16_t> pcm = Tone(200, 3);
    // G.726 codes pairs: the state after 81 samples equals the state after 80.
    State after80, after81;
    const Frame f80 = EncodeFresh(pcm, 80, 6, &after80);
    const Frame f81 = EncodeFresh(pcm, 81, 6, &after81);
    EXPECT_EQ(std::memcmp(after80.bytes, after81.bytes, 104), 0);  // the G.726 state words
    EXPECT_EQ(std::memcmp(f80.bytes, f81.bytes, 44), 0);

    // 13 samples at 40 kbit/s: N = 4, 64 bits of which 12 codes fill 60; the rest stays zero.
    Frame f40 = EncodeFresh(pcm, 13, 7);
    EXPECT_EQ(f40.payload()[7] >> 4, 0);
}

TEST(VoiceIma, SilenceFramesDecodeAloneAndCorruptIndexIsLimited) {
    const std::vector<int16_t> zeros(80, 0);
    State st;
    TQ_VOICE_EncReset(st.bytes, 3);
    for (int round = 0; round < 3; ++round) {
        Frame frame = voicetest::Encode(st.bytes, zeros.data(), 80, 3);
        for (int k = 0; k < 40; ++k) ASSERT_EQ(frame.payload()[4 + k], 0) << "a zero input codes as 0, never 8";
        EXPECT_EQ(frame.payload()[2], 0) << "index stays at 0";
    }

    // Mode 3 frames carry the coder state: a frame decodes alone as it does after its predecessor.
    const std::vector<int16_t> pcm = Tone(160, 5);
    TQ_VOICE_EncReset(st.bytes, 3);
    Frame a = voicetest::Encode(st.bytes, pcm.data(), 80, 3), b = voicetest::Encode(st.bytes, pcm.data() + 80, 80, 3);
    EXPECT_EQ(DecodeFresh(3, {&a, &b}), DecodeFresh(3, {&b}));

    // A corrupt step index is limited to the table's last entry, never used as an index.
    Frame limited = b;
    b.payload()[2] = 0xFF;
    limited.payload()[2] = 88;
    EXPECT_EQ(DecodeFresh(3, {&b}), DecodeFresh(3, {&limited}));
}

TEST(VoiceG726, OutputIsLimitedForAnyCodes) {
    std::mt19937 rng(726);
    for (int16_t mode : {4, 5, 6, 7}) {
        State st;
        TQ_VOICE_DecReset(st.bytes, mode);
        const int words = 480 * (mode - 2) / 16;
        for (int round = 0; round < 40; ++round) {
            std::vector<uint8_t> payload(2 * words);
            for (uint8_t &b : payload) b = static_cast<uint8_t>(rng());
            Frame frame = voicetest::MakeFrame(payload);
            for (int16_t s : voicetest::Decode(st.bytes, frame, mode)) ASSERT_TRUE(s % 4 == 0 && s <= 32764) << s;
        }
    }
}

// A reset clears whatever a dirty, unaligned buffer held; a buffer never reset
// codes without a fault.
TEST(VoiceState, ResetClearsDirtyUnalignedBuffersAndJunkIsSafe) {
    const std::vector<int16_t> pcm = Tone(80, 9);
    std::mt19937 rng(1);
    alignas(16) uint8_t raw[TQ_VOICE_STATE_BYTES + 8];
    uint8_t *dirty = raw + 1;
    for (int16_t mode : {1, 2, 3, 35, 4, 5, 6, 7, 36, 37, 38, 39}) {
        for (uint8_t &b : raw) b = static_cast<uint8_t>(rng());
        ASSERT_EQ(TQ_VOICE_EncReset(dirty, mode), TQ_VOICE_OK);
        Frame x = voicetest::Encode(dirty, pcm.data(), 80, mode), clean = EncodeFresh(pcm, 80, mode);
        EXPECT_EQ(std::memcmp(x.bytes, clean.bytes, static_cast<size_t>(clean.size())), 0) << "mode " << mode;

        for (uint8_t &b : raw) b = static_cast<uint8_t>(rng());
        ASSERT_EQ(TQ_VOICE_DecReset(dirty, mode), TQ_VOICE_OK);
        EXPECT_EQ(voicetest::Decode(dirty, x, mode), DecodeFresh(mode, {&clean})) << "mode " << mode;

        for (uint8_t &b : raw) b = static_cast<uint8_t>(rng());
        voicetest::Encode(dirty, pcm.data(), 80, mode);
        voicetest::Decode(dirty, clean, mode);
    }
}

}  // namespace
