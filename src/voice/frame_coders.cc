#include "voice/frame_coders.h"

#include <algorithm>
#include <cstring>

#include "voice/code_packing.h"
#include "voice/g711.h"
#include "voice/g726.h"
#include "voice/ima_adpcm.h"

namespace tessaly::voice {
namespace {

// Caller-owned state buffers carry no alignment promise, so the coder state
// is copied in and out rather than accessed through a cast pointer.
template <typename State>
State LoadState(const void *buffer) {
    State st;
    std::memcpy(&st, buffer, sizeof st);
    return st;
}

template <typename State>
void StoreState(void *buffer, const State &st) {
    std::memcpy(buffer, &st, sizeof st);
}

inline void PutLe16(uint8_t *p, int value) {
    p[0] = static_cast<uint8_t>(value);
    p[1] = static_cast<uint8_t>(value >> 8);
}

inline int16_t GetLe16(const uint8_t *p) { return static_cast<int16_t>(p[0] | (p[1] << 8)); }

// The step index carried in an ADPCM frame; a corrupt value is limited to the
// table rather than trusted.
inline uint8_t FrameStepIndex(const uint8_t *payload) {
    return static_cast<uint8_t>(std::min<int>(payload[2], kImaMaxIndex));
}

void EncodeG711(bool alaw, const int16_t *pcm, int samples, uint8_t *payload) {
    for (int k = 0; k < samples; ++k) payload[k] = alaw ? AlawEncode(pcm[k]) : UlawEncode(pcm[k]);
}

void EncodeIma(bool rawFirst, ImaState &st, const int16_t *pcm, int samples, uint8_t *payload) {
    uint8_t *codes = payload + 4;
    if (rawFirst) {
        PutLe16(payload, pcm[0]);
        PutLe16(payload + 2, st.index);
        st.predicted = pcm[0];
        for (int k = 1; k < samples; ++k) {
            const int code = ImaEncode(st, pcm[k]);
            const int slot = k - 1;
            codes[slot >> 1] |= static_cast<uint8_t>((slot & 1) ? code << 4 : code);
        }
        return;
    }
    PutLe16(payload, st.predicted);
    PutLe16(payload + 2, st.index);
    for (int k = 0; k < samples; ++k) {
        const int code = ImaEncode(st, pcm[k]);
        codes[k >> 1] |= static_cast<uint8_t>((k & 1) ? code : code << 4);
    }
}

void DecodeIma(bool rawFirst, ImaState &st, const uint8_t *payload, int samples, int16_t *pcm) {
    const uint8_t *codes = payload + 4;
    st.predicted = GetLe16(payload);
    st.index = FrameStepIndex(payload);
    if (rawFirst) {
        pcm[0] = st.predicted;
        for (int k = 1; k < samples; ++k) {
            const int slot = k - 1;
            const int code = (slot & 1) ? codes[slot >> 1] >> 4 : codes[slot >> 1] & 15;
            pcm[k] = ImaDecode(st, code);
        }
        return;
    }
    for (int k = 0; k < samples; ++k) {
        const int code = (k & 1) ? codes[k >> 1] & 15 : codes[k >> 1] >> 4;
        pcm[k] = ImaDecode(st, code);
    }
}

void EncodeG726(const VoiceMode &mode, G726State &st, const int16_t *pcm, int samples, uint8_t *payload) {
    LsbCodeWriter writer(payload, mode.bits);
    const int coded = samples & ~1;  // an odd last sample is not coded
    for (int k = 0; k < coded; ++k) writer.Put(static_cast<uint32_t>(G726Encode(st, pcm[k])));
}

// The coders index their tables with these fields, so a state buffer that was
// never reset (or was reset for another mode) must not be trusted for them.
ImaState LoadIma(const void *buffer) {
    ImaState st = LoadState<ImaState>(buffer);
    st.index = static_cast<uint8_t>(std::min<int>(st.index, kImaMaxIndex));
    return st;
}

G726State LoadG726(const void *buffer, const VoiceMode &mode) {
    G726State st = LoadState<G726State>(buffer);
    st.bits = mode.bits;
    return st;
}

}  // namespace

void ResetState(const VoiceMode &mode, void *state) {
    switch (mode.coder) {
    case Coder::kAlawG711:
    case Coder::kUlawG711: return;
    case Coder::kImaStateInFrame:
    case Coder::kImaRawFirst: StoreState(state, ImaState{0, 0}); return;
    case Coder::kG726: {
        G726State st;
        G726Reset(st, mode.bits);
        StoreState(state, st);
        return;
    }
    }
}

void EncodePayload(const VoiceMode &mode, void *state, const int16_t *pcm, int samples, uint8_t *payload) {
    switch (mode.coder) {
    case Coder::kAlawG711:
    case Coder::kUlawG711: EncodeG711(mode.coder == Coder::kAlawG711, pcm, samples, payload); return;
    case Coder::kImaStateInFrame:
    case Coder::kImaRawFirst: {
        ImaState st = LoadIma(state);
        EncodeIma(mode.coder == Coder::kImaRawFirst, st, pcm, samples, payload);
        StoreState(state, st);
        return;
    }
    case Coder::kG726: {
        G726State st = LoadG726(state, mode);
        EncodeG726(mode, st, pcm, samples, payload);
        StoreState(state, st);
        if (mode.msbFirst) RepackLsbToMsb(payload, 2 * PayloadWords(mode, samples), mode.bits);
        return;
    }
    }
}

void DecodePayload(const VoiceMode &mode, void *state, uint8_t *payload, int words, int samples, int16_t *pcm) {
    switch (mode.coder) {
    case Coder::kAlawG711:
    case Coder::kUlawG711: {
        const auto &table = mode.coder == Coder::kAlawG711 ? kAlawDecode : kUlawDecode;
        for (int k = 0; k < samples; ++k) pcm[k] = table[payload[k]];
        return;
    }
    case Coder::kImaStateInFrame:
    case Coder::kImaRawFirst: {
        ImaState st = LoadIma(state);
        DecodeIma(mode.coder == Coder::kImaRawFirst, st, payload, samples, pcm);
        StoreState(state, st);
        return;
    }
    case Coder::kG726: {
        if (mode.msbFirst) RepackMsbToLsb(payload, 2 * words, mode.bits);
        G726State st = LoadG726(state, mode);
        for (int k = 0; k < samples; ++k) pcm[k] = G726Decode(st, static_cast<int>(LsbCodeAt(payload, k, mode.bits)));
        StoreState(state, st);
        return;
    }
    }
}

}  // namespace tessaly::voice
