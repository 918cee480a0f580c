/* The public headers compile as C and the calls link from C. */
#include <stdio.h>

#include "tessaly/tq_voice.h"

int main(void) {
    unsigned char state[TQ_VOICE_STATE_BYTES];
    short pcm[80];
    unsigned char frame[TQ_VOICE_MAX_FRAME_BYTES];
    short out[TQ_VOICE_MAX_SAMPLES];
    int16_t count = 0;
    int k;
    for (k = 0; k < 80; ++k) pcm[k] = (short)(k * 100);
    if (TQ_VOICE_EncReset(state, TQ_VOICE_MODE_G726_32K) != TQ_VOICE_OK) return 1;
    if (TQ_VOICE_EncodeFrame(state, pcm, frame, 80, TQ_VOICE_MODE_G726_32K) != TQ_VOICE_OK) return 1;
    if (TQ_VOICE_DecReset(state, TQ_VOICE_MODE_G726_32K) != TQ_VOICE_OK) return 1;
    if (TQ_VOICE_DecodeFrame(state, frame, out, TQ_VOICE_MODE_G726_32K, &count) != TQ_VOICE_OK) return 1;
    if (count != 80) return 1;
    printf("C client: %d samples\n", count);
    return 0;
}
