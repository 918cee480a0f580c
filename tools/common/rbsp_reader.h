// Bit reader over the payload of one NAL unit, with the emulation prevention
// bytes (00 00 03) removed on the fly. Every read past the end yields zero
// bits and sets the overrun flag, so a truncated or hostile header can never
// read outside the buffer; callers check overrun() once at the end.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tessaly::tools {

class RbspReader {
 public:
  RbspReader(const uint8_t *payload, size_t size) : data_(payload), size_(size) {}

  uint32_t bit();
  uint32_t bits(int count);  // count <= 32
  uint32_t ue();             // Exp-Golomb, values up to 2^32 - 2
  int32_t se();
  bool overrun() const { return overrun_; }

 private:
  bool load_next_byte();

  const uint8_t *data_;
  size_t size_;
  size_t pos_ = 0;
  int zeros_ = 0;  // consecutive zero bytes just read, for the 03 escape
  uint32_t current_ = 0;
  int bits_left_ = 0;
  bool overrun_ = false;
};

}  // namespace tessaly::tools
