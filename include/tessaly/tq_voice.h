/*
 * tq_voice.h - the voice frame codec of libtessaly.
 *
 * A small speech codec for 8 kHz mono 16-bit PCM: G.711 (A-law, mu-law),
 * IMA ADPCM and G.726 (16, 24, 32 and 40 kbit/s). The player uses it for the
 * sound of live streams and record files; hosts may call it directly to
 * prepare or read voice frames.
 *
 * Overview
 * --------
 * The caller owns one state buffer per direction (encoder, decoder), resets it
 * for a mode, then encodes blocks of PCM samples into voice frames or decodes
 * voice frames into PCM. Consecutive frames of one stream go through the same
 * state; the G.726 modes carry their adaptation from frame to frame.
 *
 * Voice frame layout (all multi-byte fields little-endian):
 *
 *     offset 0, 2 bytes: marker 0x0100 (the decoder checks only that the low
 *                        two bits of byte 1 equal 01)
 *     offset 2, 2 bytes: N, the payload length in 16-bit words (1..255; the
 *                        decoder reads byte 2 only)
 *     offset 4, 2N bytes: payload, laid out per mode (below)
 *
 * The header does not name the codec: both sides must agree on the mode.
 *
 * Modes, payload words N for a frame of n samples, and frame bytes for the
 * usual 80 samples (10 ms):
 *
 *     mode  codec                                         N                  80 samples
 *      1    G.711 A-law                                   n / 2              84 bytes
 *      2    G.711 mu-law                                  n / 2              84 bytes
 *      3    IMA ADPCM, coder state in the frame            n / 4 + 2          48 bytes
 *     35    IMA ADPCM, first sample carried raw            (n - 1) / 4 + 2    48 bytes
 *      4    G.726 16 kbit/s, codes least significant bits first   2n / 16     24 bytes
 *      5    G.726 24 kbit/s, least significant bits first         3n / 16     34 bytes
 *      6    G.726 32 kbit/s, least significant bits first         4n / 16     44 bytes
 *      7    G.726 40 kbit/s, least significant bits first         5n / 16     54 bytes
 *     36-39 as 4-7 with the codes packed most significant bits first
 *
 * Divisions truncate. Any other mode value is refused.
 *
 * Payloads:
 *  - G.711: one code byte per sample, in sample order. An odd last sample is
 *    not sent.
 *  - IMA ADPCM mode 3: bytes 0-1 the encoder's predicted sample before the
 *    frame, bytes 2-3 its step index (0..88), then two 4-bit codes per byte,
 *    the earlier sample in the high nibble. Each frame decodes on its own.
 *  - IMA ADPCM mode 35: bytes 0-1 the frame's first sample as is, bytes 2-3
 *    the step index before the frame, then the codes of the following samples,
 *    the earlier sample in the low nibble.
 *  - G.726: b-bit codes (b = 2, 3, 4, 5), the first code in the least
 *    significant bits of the first byte (modes 4-7) or in the most significant
 *    bits (modes 36-39); a code may straddle two bytes. The G.726 encoder
 *    codes only an even number of samples: an odd last sample is skipped, and
 *    codes that do not fill a whole payload word are not sent. Unused payload
 *    bits are zero.
 *
 * The G.726 coder is ITU-T G.726 with a 16-bit linear interface: the encoder
 * codes each sample shifted right by 2 (the 14-bit uniform input), the
 * decoder limits the reconstructed signal to -8192..8191 and multiplies it by
 * 4, so every decoded G.726 sample is a multiple of 4 in -32768..32764.
 *
 * Threads
 * -------
 * The codec keeps no global state, takes no locks and allocates nothing. Any
 * thread may call any function at any time, but one state buffer must not be
 * used by two threads at once.
 *
 * Calling convention: the caller removes the arguments (cdecl). On x86-64
 * there is only one convention, so no annotation is needed.
 */
#ifndef TESSALY_TQ_VOICE_H
#define TESSALY_TQ_VOICE_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(TESSALY_BUILDING_LIBRARY)
#define TQ_VOICE_API __attribute__((visibility("default")))
#else
#define TQ_VOICE_API
#endif

/* A state buffer of this many bytes serves every mode, in either direction.
 * It needs no particular alignment. */
#define TQ_VOICE_STATE_BYTES 128

/* Most samples one frame can carry, and the size of a frame buffer that always
 * suffices for TQ_VOICE_EncodeFrame. A PCM buffer for TQ_VOICE_DecodeFrame must
 * hold TQ_VOICE_MAX_SAMPLES samples. */
#define TQ_VOICE_MAX_SAMPLES 481
#define TQ_VOICE_MAX_FRAME_BYTES 484

/* Codec modes. */
#define TQ_VOICE_MODE_G711_ALAW 1
#define TQ_VOICE_MODE_G711_ULAW 2
#define TQ_VOICE_MODE_IMA_ADPCM 3
#define TQ_VOICE_MODE_IMA_ADPCM_RAW_FIRST 35
#define TQ_VOICE_MODE_G726_16K 4
#define TQ_VOICE_MODE_G726_24K 5
#define TQ_VOICE_MODE_G726_32K 6
#define TQ_VOICE_MODE_G726_40K 7
#define TQ_VOICE_MODE_G726_16K_MSB 36
#define TQ_VOICE_MODE_G726_24K_MSB 37
#define TQ_VOICE_MODE_G726_32K_MSB 38
#define TQ_VOICE_MODE_G726_40K_MSB 39

/* Result codes. */
#define TQ_VOICE_OK 0u
#define TQ_VOICE_ERR_NULL_STATE 0xA1222101u  /* state pointer null */
#define TQ_VOICE_ERR_NULL_INPUT 0xA1222102u  /* pcm to encode, or frame to decode, null */
#define TQ_VOICE_ERR_NULL_OUTPUT 0xA1222103u /* frame out, pcm out or sample count out null */
#define TQ_VOICE_ERR_ENC_MODE 0xA1222001u    /* encoder side: unknown mode */
#define TQ_VOICE_ERR_ENC_COUNT 0xA1222002u   /* encoder: sample count outside 1..481 */
#define TQ_VOICE_ERR_DEC_MODE 0xA1222011u    /* decoder side: unknown mode */
#define TQ_VOICE_ERR_DEC_LENGTH 0xA1222012u  /* decoder: N is 0, or its sample count is not allowed */
#define TQ_VOICE_ERR_DEC_MARKER 0xA1222013u  /* decoder: marker bits wrong */

/*
 * Resets an encoder state for a mode.
 *
 * state: TQ_VOICE_STATE_BYTES bytes owned by the caller.
 * mode:  one of the modes above.
 *
 * G.711 keeps no state: the call succeeds without touching the buffer. IMA
 * ADPCM sets the predicted sample and the step index to 0. G.726 sets the
 * Recommendation's reset state for the mode's rate.
 *
 * Returns TQ_VOICE_OK, TQ_VOICE_ERR_NULL_STATE or TQ_VOICE_ERR_ENC_MODE.
 */
TQ_VOICE_API uint32_t TQ_VOICE_EncReset(void *state, int16_t mode);

/*
 * Resets a decoder state for a mode; as TQ_VOICE_EncReset (encoder and
 * decoder states have the same layout), but an unknown mode gives
 * TQ_VOICE_ERR_DEC_MODE.
 */
TQ_VOICE_API uint32_t TQ_VOICE_DecReset(void *state, int16_t mode);

/*
 * Encodes sampleCount samples into one voice frame.
 *
 * state:       an encoder state reset for the same mode (for G.711 any
 *              non-null pointer; it is not touched).
 * pcm:         sampleCount signed 16-bit samples.
 * frame:       receives the frame: 4 + 2N bytes (N per the mode table above);
 *              TQ_VOICE_MAX_FRAME_BYTES always suffice.
 * sampleCount: 1..481.
 * mode:        the codec mode.
 *
 * Checks, in this order: state null, pcm null, frame null, sample count out
 * of range, unknown mode. Nothing is written when a check fails.
 *
 * Returns TQ_VOICE_OK, TQ_VOICE_ERR_NULL_STATE, TQ_VOICE_ERR_NULL_INPUT,
 * TQ_VOICE_ERR_NULL_OUTPUT, TQ_VOICE_ERR_ENC_COUNT or TQ_VOICE_ERR_ENC_MODE.
 */
TQ_VOICE_API uint32_t TQ_VOICE_EncodeFrame(void *state, const int16_t *pcm, uint8_t *frame, int16_t sampleCount,
                                           int16_t mode);

/*
 * Decodes one voice frame.
 *
 * state:          a decoder state reset for the same mode.
 * frame:          the frame. For modes 36-39 the payload is rewritten in place
 *                 into the least-significant-bits-first order of modes 4-7, so
 *                 decoding the same buffer twice gives different results.
 * pcm:            receives the samples; must hold TQ_VOICE_MAX_SAMPLES.
 * mode:           the codec mode.
 * sampleCountOut: receives the number of samples written (0 on failure).
 *
 * Checks, in this order: state null, frame null, pcm or sampleCountOut null;
 * then *sampleCountOut is set to 0; marker bits wrong; N = 0; unknown mode;
 * the length allowed for the mode:
 *
 *     modes 1, 2        2N samples, a multiple of 80, at most 480
 *     mode 3            4(N - 2) samples, N from 2 to 122 (at most 480)
 *     mode 35           4(N - 2) + 1 samples, N from 2 to 122 (at most 481)
 *     modes 4-7, 36-39  16N / b samples, a multiple of 80, at most 480
 *
 * An ADPCM frame with N = 1 has no room for its state words and is refused.
 *
 * Returns TQ_VOICE_OK, TQ_VOICE_ERR_NULL_STATE, TQ_VOICE_ERR_NULL_INPUT,
 * TQ_VOICE_ERR_NULL_OUTPUT, TQ_VOICE_ERR_DEC_MARKER, TQ_VOICE_ERR_DEC_LENGTH
 * or TQ_VOICE_ERR_DEC_MODE.
 */
TQ_VOICE_API uint32_t TQ_VOICE_DecodeFrame(void *state, uint8_t *frame, int16_t *pcm, int16_t mode,
                                           int16_t *sampleCountOut);

#ifdef __cplusplus
}
#endif

#endif /* TESSALY_TQ_VOICE_H */
