#include "h264dec/bitstream/private_sei.h"

namespace tessaly::h264 {

void ReadPrivateSei(const uint8_t *payload, uint32_t size, PrivateSeiState *state, UserDataRecord *record) {
    if (size < 3) return;
    const uint8_t type = payload[0], length = payload[1], first = payload[2];
    if (type == 0xE0 && length == 0x01) {
        state->fieldCoding = first & 1;
    } else if (type == 0xF0) {
        record->tag = kUserDataTag;
        record->length = length;
        record->data = record->words;
        record->words[0] = first;
        // Bytes beyond the record's 100 words, or beyond the unit, are not kept.
        for (uint32_t i = 1; i < length && i < uint32_t(kUserDataWords) && 2 + i < size; ++i)
            record->words[i] = payload[2 + i];
        state->haveUserData = 1;
    }
}

}  // namespace tessaly::h264
