// Helpers shared by the voice codec tests: reference vectors and frame
// building through the public calls only.
#pragma once

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tessaly/tq_voice.h"

namespace voicetest {

inline std::vector<uint8_t> ReadBytes(const std::string &name) {
    std::ifstream in(std::string(TESSALY_TESTDATA) + "/voice/" + name, std::ios::binary);
    EXPECT_TRUE(in.good()) << "missing test vector " << name;
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline std::vector<int16_t> ReadPcm(const std::string &name) {
    const std::vector<uint8_t> bytes = ReadBytes(name);
    std::vector<int16_t> pcm(bytes.size() / 2);
    for (size_t k = 0; k < pcm.size(); ++k) pcm[k] = static_cast<int16_t>(bytes[2 * k] | (bytes[2 * k + 1] << 8));
    return pcm;
}

struct State {
    alignas(8) uint8_t bytes[TQ_VOICE_STATE_BYTES];
};

// A voice frame buffer with the header read back.
struct Frame {
    uint8_t bytes[4 + 2 * 255 + 16] = {};  // room for the largest N a header can state
    int words() const { return bytes[2] | (bytes[3] << 8); }
    int size() const { return 4 + 2 * words(); }
    uint8_t *payload() { return bytes + 4; }
};

// Builds a frame around a payload the test composed itself.
inline Frame MakeFrame(const std::vector<uint8_t> &payload) {
    Frame f;
    f.bytes[1] = 0x01;
    f.bytes[2] = static_cast<uint8_t>(payload.size() / 2);
    for (size_t k = 0; k < payload.size(); ++k) f.bytes[4 + k] = payload[k];
    return f;
}

// Encodes into a frame filled with 0xEE, so bytes written past the frame show.
inline Frame Encode(uint8_t *state, const int16_t *pcm, int samples, int16_t mode) {
    Frame f;
    std::memset(f.bytes, 0xEE, sizeof f.bytes);
    EXPECT_EQ(TQ_VOICE_EncodeFrame(state, pcm, f.bytes, static_cast<int16_t>(samples), mode), TQ_VOICE_OK);
    return f;
}

// The samples one frame decodes to; none on a refusal.
inline std::vector<int16_t> Decode(uint8_t *state, Frame &frame, int16_t mode) {
    int16_t pcm[TQ_VOICE_MAX_SAMPLES], count = 0;
    EXPECT_EQ(TQ_VOICE_DecodeFrame(state, frame.bytes, pcm, mode, &count), TQ_VOICE_OK) << "mode " << mode;
    return {pcm, pcm + count};
}

}  // namespace voicetest
