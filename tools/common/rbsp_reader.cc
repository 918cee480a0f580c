#include "rbsp_reader.h"

namespace tessaly::tools {

bool RbspReader::load_next_byte() {
  if (pos_ < size_ && zeros_ >= 2 && data_[pos_] == 0x03) {
    ++pos_;
    zeros_ = 0;
  }
  if (pos_ >= size_) {
    overrun_ = true;
    return false;
  }
  current_ = data_[pos_++];
  zeros_ = current_ == 0 ? zeros_ + 1 : 0;
  bits_left_ = 8;
  return true;
}

uint32_t RbspReader::bit() {
  if (bits_left_ == 0 && !load_next_byte()) return 0;
  --bits_left_;
  return (current_ >> bits_left_) & 1;
}

uint32_t RbspReader::bits(int count) {
  uint32_t value = 0;
  for (int i = 0; i < count; ++i) value = (value << 1) | bit();
  return value;
}

uint32_t RbspReader::ue() {
  int leading_zeros = 0;
  while (bit() == 0) {
    if (overrun_ || ++leading_zeros > 31) {
      overrun_ = true;
      return 0;
    }
  }
  if (leading_zeros == 0) return 0;
  return (1u << leading_zeros) - 1 + bits(leading_zeros);
}

int32_t RbspReader::se() {
  const uint32_t code = ue();
  const int32_t magnitude = static_cast<int32_t>((code >> 1) + (code & 1));
  return (code & 1) ? magnitude : -magnitude;
}

}  // namespace tessaly::tools
