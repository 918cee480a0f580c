// The decoder's private SEI messages: a field-coding hint and a user-data record.
#pragma once

#include <cstdint>

namespace tessaly::h264 {

inline constexpr uint32_t kUserDataTag = 240;
inline constexpr int kUserDataWords = 100;

// Handed to the caller through DecodedPicture::userData.
struct UserDataRecord {
    uint32_t tag;     // kUserDataTag once a message arrived, else 0
    uint32_t length;  // payload size of the last message
    const uint32_t *data;
    uint32_t reserved;
    uint32_t words[kUserDataWords];  // one payload byte per word
};

struct PrivateSeiState {
    uint8_t fieldCoding = 0;  // feeds DecodedPicture::fieldHint
    uint8_t haveUserData = 0;
};

// Reads the first bytes of an SEI payload (after the NAL header).
void ReadPrivateSei(const uint8_t *payload, uint32_t size, PrivateSeiState *state, UserDataRecord *record);

}  // namespace tessaly::h264
