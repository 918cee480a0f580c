// FT byte streams for tessaly-ft: payloads packed behind markers the way a
// camera sends them, and payloads taken back out through the library's own
// assembler and fix-ups.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "player/ft_assembler.h"

namespace ftool {

using Bytes = std::vector<uint8_t>;

// Appends one packet. The FT variant's 32 header bytes carry a sequence
// number, the payload length and kind (the library does not read them).
void AppendPacket(Bytes &stream, const uint8_t *payload, size_t length, uint32_t sequence,
                  tessaly::player::FtVariant variant);

// An access unit as an H.264 payload: a 4-byte start code (a 3-byte one gets
// a zero in front), its first NAL header byte, 8 filler bytes that the
// fix-up removes, and the rest. False when it holds no NAL unit.
bool H264Payload(const uint8_t *unit, size_t length, uint32_t sequence, Bytes &payload);

// Feeds the stream to the assembler in chunks no larger than it has room
// for, ends the last packet with a marker, and calls back with each fixed-up
// payload (empty ones included, as a port would see them). A packet too large
// for the assembly buffer is dropped and counted in `dropped`.
void UnwrapStream(const Bytes &stream, tessaly::player::FtVariant variant,
                  const std::function<void(const tessaly::player::FtPayload &)> &onPayload, uint32_t &dropped);

// The largest payload whose packet and the next marker fit the assembler.
size_t MaxPayload(tessaly::player::FtVariant variant);

}  // namespace ftool
