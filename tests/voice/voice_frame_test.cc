// The frame calls' contract: argument checks in their order, the header, the
// accepted lengths, the bit orders, odd sample counts and hostile state.
#include <cstring>
#include <random>
#include <vector>

#include "voice_test_util.h"

namespace {

using voicetest::Frame;
using voicetest::State;

const int16_t kAllModes[] = {1, 2, 3, 35, 4, 5, 6, 7, 36, 37, 38, 39};

std::vector<int16_t> Tone(int count, int seed = 1) {
    std::vector<int16_t> pcm(count);
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> noise(-300, 300);
    for (int k = 0; k < count; ++k)
        pcm[k] = static_cast<int16_t>(9000 * ((k * 7 % 40) - 20) / 20 + noise(rng));
    return pcm;
}

uint32_t Word(const State &st, int index) {
    uint32_t w;
    std::memcpy(&w, st.bytes + 4 * index, 4);
    return w;
}

TEST(VoiceReset, ChecksAndTheG726ResetState) {
    State st;
    EXPECT_EQ(TQ_VOICE_EncReset(nullptr, 4), TQ_VOICE_ERR_NULL_STATE);
    EXPECT_EQ(TQ_VOICE_DecReset(nullptr, 99), TQ_VOICE_ERR_NULL_STATE);
    for (int16_t bad : {0, -1, 8, 34, 40, 32767}) {
        EXPECT_EQ(TQ_VOICE_EncReset(st.bytes, bad), TQ_VOICE_ERR_ENC_MODE) << bad;
        EXPECT_EQ(TQ_VOICE_DecReset(st.bytes, bad), TQ_VOICE_ERR_DEC_MODE) << bad;
    }
    // G.711 keeps no state: the buffer is left alone.
    std::memset(st.bytes, 0xA5, sizeof st.bytes);
    EXPECT_EQ(TQ_VOICE_EncReset(st.bytes, 1), TQ_VOICE_OK);
    EXPECT_EQ(st.bytes[0], 0xA5);

    // law, code size, then a2 a1 ap b1..b6 dml dms dq0..dq5 pk0 pk1 sr0 sr1 td yl yu.
    for (int16_t mode : {4, 5, 6, 7, 36, 37, 38, 39}) {
        std::memset(st.bytes, 0xA5, sizeof st.bytes);
        ASSERT_EQ(TQ_VOICE_DecReset(st.bytes, mode), TQ_VOICE_OK);
        EXPECT_EQ(Word(st, 0), 2u);
        EXPECT_EQ(Word(st, 1), static_cast<uint32_t>((mode & 3) + 2));
        for (int w = 2; w <= 12; ++w) EXPECT_EQ(Word(st, w), 0u) << "word " << w;
        for (int w = 13; w <= 18; ++w) EXPECT_EQ(Word(st, w), 32u) << "dq word " << w;
        EXPECT_EQ(Word(st, 19), 0u);
        EXPECT_EQ(Word(st, 20), 0u);
        EXPECT_EQ(Word(st, 21), 32u);
        EXPECT_EQ(Word(st, 22), 32u);
        EXPECT_EQ(Word(st, 23), 0u);
        EXPECT_EQ(Word(st, 24), 34816u);
        EXPECT_EQ(Word(st, 25), 544u);
    }
}

TEST(VoiceEncode, ChecksInOrderAndWritesNothingOnFailure) {
    State st;
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

TEST(VoiceEncode, FrameSizesAndHeaders) {
    const std::vector<int16_t> pcm = Tone(481);
    struct Expect {
        int16_t mode;
        int samples;
        int bytes;
    };
    const Expect cases[] = {
        {1, 80, 84},  {2, 80, 84},   {3, 80, 48},  {35, 80, 46}, {4, 80, 24},   {36, 80, 24},
        {5, 80, 34},  {37, 80, 34},  {6, 80, 44},  {38, 80, 44}, {7, 80, 54},   {39, 80, 54},
        {1, 81, 84},  {3, 81, 48},   {35, 81, 48}, {6, 82, 44},  {7, 13, 12},   {3, 481, 248},
        {35, 1, 8},   {1, 1, 4},     {7, 481, 304}, {2, 481, 484},
    };
    for (const Expect &c : cases) {
        State st;
        ASSERT_EQ(TQ_VOICE_EncReset(st.bytes, c.mode), TQ_VOICE_OK);
        Frame frame;
        std::memset(frame.bytes, 0xEE, sizeof frame.bytes);
        ASSERT_EQ(TQ_VOICE_EncodeFrame(st.bytes, pcm.data(), frame.bytes, static_cast<int16_t>(c.samples), c.mode),
                  TQ_VOICE_OK);
        EXPECT_EQ(frame.bytes[0], 0x00);
        EXPECT_EQ(frame.bytes[1], 0x01);
        EXPECT_EQ(frame.bytes[3], 0x00);
        EXPECT_EQ(frame.size(), c.bytes) << "mode " << c.mode << ", " << c.samples << " samples";
        // Nothing past the frame is touched.
        for (size_t k = static_cast<size_t>(c.bytes); k < sizeof frame.bytes; ++k)
            ASSERT_EQ(frame.bytes[k], 0xEE) << "mode " << c.mode << " byte " << k;
    }
    State st;
    Frame frame;
    TQ_VOICE_EncReset(st.bytes, 4);
    TQ_VOICE_EncodeFrame(st.bytes, pcm.data(), frame.bytes, 80, 4);
    EXPECT_EQ(std::vector<uint8_t>(frame.bytes, frame.bytes + 4), (std::vector<uint8_t>{0x00, 0x01, 0x0A, 0x00}));
    TQ_VOICE_EncReset(st.bytes, 6);
    TQ_VOICE_EncodeFrame(st.bytes, pcm.data(), frame.bytes, 80, 6);
    EXPECT_EQ(std::vector<uint8_t>(frame.bytes, frame.bytes + 4), (std::vector<uint8_t>{0x00, 0x01, 0x14, 0x00}));
}

TEST(VoiceDecode, ChecksInOrderAndLengthRules) {
    State st;
    int16_t pcm[TQ_VOICE_MAX_SAMPLES];
    int16_t count = 77;
    Frame frame = voicetest::MakeFrame(std::vector<uint8_t>(40, 0x55));  // N = 20
    EXPECT_EQ(TQ_VOICE_DecodeFrame(nullptr, nullptr, nullptr, 99, nullptr), TQ_VOICE_ERR_NULL_STATE);
    EXPECT_EQ(TQ_VOICE_DecodeFrame(st.bytes, nullptr, nullptr, 99, nullptr), TQ_VOICE_ERR_NULL_INPUT);
    EXPECT_EQ(TQ_VOICE_DecodeFrame(st.bytes, frame.bytes, nullptr, 99, &count), TQ_VOICE_ERR_NULL_OUTPUT);
    EXPECT_EQ(TQ_VOICE_DecodeFrame(st.bytes, frame.bytes, pcm, 99, nullptr), TQ_VOICE_ERR_NULL_OUTPUT);
    EXPECT_EQ(count, 77);  // untouched before the pointer checks pass

    // Marker: only the low two bits of byte 1 count.
    frame.bytes[1] = 0x02;
    EXPECT_EQ(TQ_VOICE_DecodeFrame(st.bytes, frame.bytes, pcm, 99, &count), TQ_VOICE_ERR_DEC_MARKER);
    EXPECT_EQ(count, 0);
    frame.bytes[0] = 0x7B;
    frame.bytes[1] = 0xFD;
    ASSERT_EQ(TQ_VOICE_DecReset(st.bytes, 6), TQ_VOICE_OK);
    EXPECT_EQ(TQ_VOICE_DecodeFrame(st.bytes, frame.bytes, pcm, 6, &count), TQ_VOICE_OK);
    EXPECT_EQ(count, 80);
    frame.bytes[1] = 0x01;

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
    struct Expect {
        int16_t mode;
        int words;
        int samples;  // -1: refused
    };
    const Expect cases[] = {
        {1, 40, 80},   {1, 240, 480}, {1, 241, -1},  {1, 41, -1},   {2, 120, 240},
        {4, 5, -1},    {4, 10, 80},   {4, 60, 480},  {4, 70, -1},   {36, 30, 240},
        {5, 15, 80},   {5, 16, -1},   {5, 90, 480},  {5, 105, -1},  {37, 45, 240},
        {6, 20, 80},   {6, 21, -1},   {6, 120, 480}, {6, 140, -1},  {38, 100, 400},
        {7, 25, 80},   {7, 26, -1},   {7, 150, 480}, {7, 175, -1},  {39, 125, 400},
        {3, 1, -1},    {3, 2, 0},     {3, 22, 80},   {3, 122, 480}, {3, 123, -1},
        {35, 1, -1},   {35, 2, 1},    {35, 22, 81},  {35, 122, 481}, {35, 255, -1},
    };
    for (const Expect &c : cases) {
        State st;
        ASSERT_EQ(TQ_VOICE_DecReset(st.bytes, c.mode), TQ_VOICE_OK);
        Frame frame = voicetest::MakeFrame(std::vector<uint8_t>(2 * c.words, 0x11));
        int16_t pcm[TQ_VOICE_MAX_SAMPLES + 8];
        pcm[TQ_VOICE_MAX_SAMPLES] = 0x1234;
        int16_t count = -5;
        const uint32_t rc = TQ_VOICE_DecodeFrame(st.bytes, frame.bytes, pcm, c.mode, &count);
        const bool accepted = c.samples >= 0;
        EXPECT_EQ(rc, accepted ? TQ_VOICE_OK : TQ_VOICE_ERR_DEC_LENGTH) << "mode " << c.mode << " N " << c.words;
        EXPECT_EQ(count, accepted ? c.samples : 0) << "mode " << c.mode << " N " << c.words;
        EXPECT_EQ(pcm[TQ_VOICE_MAX_SAMPLES], 0x1234) << "wrote past the pcm buffer";
    }
}

TEST(VoiceBitOrder, MsbModesMirrorTheCodeOrderWithinBytes) {
    const std::vector<int16_t> pcm = Tone(80);
    State lsbState, msbState;
    Frame lsb, msb;
    TQ_VOICE_EncReset(lsbState.bytes, 4);
    TQ_VOICE_EncReset(msbState.bytes, 36);
    ASSERT_EQ(TQ_VOICE_EncodeFrame(lsbState.bytes, pcm.data(), lsb.bytes, 80, 4), TQ_VOICE_OK);
    ASSERT_EQ(TQ_VOICE_EncodeFrame(msbState.bytes, pcm.data(), msb.bytes, 80, 36), TQ_VOICE_OK);
    ASSERT_EQ(lsb.size(), msb.size());
    bool anyNonSymmetric = false;
    for (int byte = 0; byte < 20; ++byte) {
        for (int k = 0; k < 4; ++k) {
            const int lsbCode = (lsb.payload()[byte] >> (2 * k)) & 3;
            const int msbCode = (msb.payload()[byte] >> (6 - 2 * k)) & 3;
            ASSERT_EQ(lsbCode, msbCode) << "byte " << byte << " code " << k;
        }
        anyNonSymmetric |= lsb.payload()[byte] != msb.payload()[byte];
    }
    EXPECT_TRUE(anyNonSymmetric) << "the test signal should tell the orders apart";
}

TEST(VoiceBitOrder, DecodingAnMsbFrameRewritesItInPlace) {
    const std::vector<int16_t> pcm = Tone(80, 7);
    // Mode 37 frame; the same samples coded in mode 5.
    State enc37, enc5;
    Frame frame37, frame5;
    TQ_VOICE_EncReset(enc37.bytes, 37);
    TQ_VOICE_EncReset(enc5.bytes, 5);
    ASSERT_EQ(TQ_VOICE_EncodeFrame(enc37.bytes, pcm.data(), frame37.bytes, 80, 37), TQ_VOICE_OK);
    ASSERT_EQ(TQ_VOICE_EncodeFrame(enc5.bytes, pcm.data(), frame5.bytes, 80, 5), TQ_VOICE_OK);
    ASSERT_NE(std::memcmp(frame37.bytes, frame5.bytes, 34), 0);

    State dec37, dec5;
    TQ_VOICE_DecReset(dec37.bytes, 37);
    TQ_VOICE_DecReset(dec5.bytes, 5);
    int16_t out37[TQ_VOICE_MAX_SAMPLES], out5[TQ_VOICE_MAX_SAMPLES], count = 0;
    ASSERT_EQ(TQ_VOICE_DecodeFrame(dec37.bytes, frame37.bytes, out37, 37, &count), TQ_VOICE_OK);
    ASSERT_EQ(TQ_VOICE_DecodeFrame(dec5.bytes, frame5.bytes, out5, 5, &count), TQ_VOICE_OK);
    EXPECT_EQ(std::memcmp(frame37.bytes, frame5.bytes, 34), 0) << "payload not rewritten to mode-5 order";
    EXPECT_EQ(std::memcmp(out37, out5, sizeof(int16_t) * 80), 0);

    // Decoding the same mode-38 buffer twice: the second call sees the rewritten payload.
    State enc38;
    Frame frame38;
    TQ_VOICE_EncReset(enc38.bytes, 38);
    ASSERT_EQ(TQ_VOICE_EncodeFrame(enc38.bytes, pcm.data(), frame38.bytes, 80, 38), TQ_VOICE_OK);
    int16_t first[TQ_VOICE_MAX_SAMPLES], second[TQ_VOICE_MAX_SAMPLES];
    State decA, decB;
    TQ_VOICE_DecReset(decA.bytes, 38);
    TQ_VOICE_DecReset(decB.bytes, 38);
    ASSERT_EQ(TQ_VOICE_DecodeFrame(decA.bytes, frame38.bytes, first, 38, &count), TQ_VOICE_OK);
    ASSERT_EQ(TQ_VOICE_DecodeFrame(decB.bytes, frame38.bytes, second, 38, &count), TQ_VOICE_OK);
    EXPECT_NE(std::memcmp(first, second, sizeof(int16_t) * 80), 0);
}

TEST(VoiceOddCounts, UnsentCodesAndSkippedSamples) {
    const std::vector<int16_t> pcm = Tone(200, 3);
    // G.711: the 81st sample is lost.
    State st;
    Frame frame;
    TQ_VOICE_EncReset(st.bytes, 1);
    ASSERT_EQ(TQ_VOICE_EncodeFrame(st.bytes, pcm.data(), frame.bytes, 81, 1), TQ_VOICE_OK);
    EXPECT_EQ(frame.words(), 40);

    // G.726: an odd last sample is not coded at all, so the state after 81
    // samples equals the state after 80.
    State after80, after81;
    TQ_VOICE_EncReset(after80.bytes, 6);
    TQ_VOICE_EncReset(after81.bytes, 6);
    Frame f80, f81;
    ASSERT_EQ(TQ_VOICE_EncodeFrame(after80.bytes, pcm.data(), f80.bytes, 80, 6), TQ_VOICE_OK);
    ASSERT_EQ(TQ_VOICE_EncodeFrame(after81.bytes, pcm.data(), f81.bytes, 81, 6), TQ_VOICE_OK);
    EXPECT_EQ(std::memcmp(after80.bytes, after81.bytes, 104), 0);
    EXPECT_EQ(std::memcmp(f80.bytes, f81.bytes, 44), 0);

    // 13 samples at 40 kbit/s: N = 4, 64 bits of which 12 codes fill 60; the
    // rest stays zero.
    State st40;
    Frame f40;
    TQ_VOICE_EncReset(st40.bytes, 7);
    ASSERT_EQ(TQ_VOICE_EncodeFrame(st40.bytes, pcm.data(), f40.bytes, 13, 7), TQ_VOICE_OK);
    EXPECT_EQ(f40.words(), 4);
    EXPECT_EQ(f40.payload()[7] >> 4, 0);
}

TEST(VoiceIma, SilenceAndSelfContainedFrames) {
    const std::vector<int16_t> zeros(80, 0);
    State st;
    Frame frame;
    TQ_VOICE_EncReset(st.bytes, 3);
    for (int round = 0; round < 3; ++round) {
        ASSERT_EQ(TQ_VOICE_EncodeFrame(st.bytes, zeros.data(), frame.bytes, 80, 3), TQ_VOICE_OK);
        for (int k = 0; k < 40; ++k) ASSERT_EQ(frame.payload()[4 + k], 0) << "a zero input codes as 0, never 8";
        EXPECT_EQ(frame.payload()[2], 0) << "index stays at 0";
    }

    // Each mode-3 frame decodes alone: skipping the first frame changes nothing.
    const std::vector<int16_t> pcm = Tone(160, 5);
    State enc;
    Frame a, b;
    TQ_VOICE_EncReset(enc.bytes, 3);
    TQ_VOICE_EncodeFrame(enc.bytes, pcm.data(), a.bytes, 80, 3);
    TQ_VOICE_EncodeFrame(enc.bytes, pcm.data() + 80, b.bytes, 80, 3);
    State both, onlySecond;
    TQ_VOICE_DecReset(both.bytes, 3);
    TQ_VOICE_DecReset(onlySecond.bytes, 3);
    int16_t out1[TQ_VOICE_MAX_SAMPLES], out2[TQ_VOICE_MAX_SAMPLES], count;
    TQ_VOICE_DecodeFrame(both.bytes, a.bytes, out1, 3, &count);
    TQ_VOICE_DecodeFrame(both.bytes, b.bytes, out1, 3, &count);
    TQ_VOICE_DecodeFrame(onlySecond.bytes, b.bytes, out2, 3, &count);
    EXPECT_EQ(std::memcmp(out1, out2, sizeof(int16_t) * 80), 0);

    // A corrupt step index in a frame is limited, not used as a table index.
    b.payload()[2] = 0xFF;
    Frame limited = b;
    limited.payload()[2] = 88;
    int16_t outCorrupt[TQ_VOICE_MAX_SAMPLES], outLimited[TQ_VOICE_MAX_SAMPLES];
    ASSERT_EQ(TQ_VOICE_DecodeFrame(onlySecond.bytes, b.bytes, outCorrupt, 3, &count), TQ_VOICE_OK);
    ASSERT_EQ(TQ_VOICE_DecodeFrame(onlySecond.bytes, limited.bytes, outLimited, 3, &count), TQ_VOICE_OK);
    EXPECT_EQ(std::memcmp(outCorrupt, outLimited, sizeof(int16_t) * 80), 0);
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
            int16_t pcm[TQ_VOICE_MAX_SAMPLES], count = 0;
            ASSERT_EQ(TQ_VOICE_DecodeFrame(st.bytes, frame.bytes, pcm, mode, &count), TQ_VOICE_OK);
            ASSERT_EQ(count, 480);
            for (int k = 0; k < count; ++k) {
                ASSERT_EQ(pcm[k] % 4, 0);
                ASSERT_LE(pcm[k], 32764);
            }
        }
    }
}

TEST(VoiceState, UnalignedAndUnresetBuffersAreSafe) {
    const std::vector<int16_t> pcm = Tone(80, 9);
    alignas(16) uint8_t raw[TQ_VOICE_STATE_BYTES + 8];
    State aligned;
    for (int16_t mode : kAllModes) {
        ASSERT_EQ(TQ_VOICE_EncReset(raw + 1, mode), TQ_VOICE_OK);
        ASSERT_EQ(TQ_VOICE_EncReset(aligned.bytes, mode), TQ_VOICE_OK);
        Frame x, y;
        ASSERT_EQ(TQ_VOICE_EncodeFrame(raw + 1, pcm.data(), x.bytes, 80, mode), TQ_VOICE_OK);
        ASSERT_EQ(TQ_VOICE_EncodeFrame(aligned.bytes, pcm.data(), y.bytes, 80, mode), TQ_VOICE_OK);
        EXPECT_EQ(std::memcmp(x.bytes, y.bytes, static_cast<size_t>(x.size())), 0) << "mode " << mode;
    }
    // Never reset: garbage state decodes without a fault.
    std::mt19937 rng(1);
    for (int16_t mode : kAllModes) {
        State junk;
        for (uint8_t &b : junk.bytes) b = static_cast<uint8_t>(rng());
        Frame frame;
        ASSERT_EQ(TQ_VOICE_EncodeFrame(junk.bytes, pcm.data(), frame.bytes, 80, mode), TQ_VOICE_OK);
        for (uint8_t &b : junk.bytes) b = static_cast<uint8_t>(rng());
        int16_t out[TQ_VOICE_MAX_SAMPLES], count;
        EXPECT_EQ(TQ_VOICE_DecodeFrame(junk.bytes, frame.bytes, out, mode, &count), TQ_VOICE_OK);
    }
}

}  // namespace
