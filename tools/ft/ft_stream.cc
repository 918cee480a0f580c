#include "ft_stream.h"

#include <algorithm>

namespace ftool {

namespace {

using tessaly::player::FtAssembler;
using tessaly::player::FtPayload;
using tessaly::player::FtVariant;

void AppendLe32(Bytes &out, uint32_t value) {
    for (int k = 0; k < 4; ++k) out.push_back(uint8_t(value >> (8 * k)));
}

}  // namespace

void AppendPacket(Bytes &stream, const uint8_t *payload, size_t length, uint32_t sequence, FtVariant variant) {
    stream.insert(stream.end(), tessaly::player::kFtMarker, tessaly::player::kFtMarker + 8);
    if (variant == FtVariant::kFt) {
        const size_t headerEnd = stream.size() + 32;
        AppendLe32(stream, sequence);
        AppendLe32(stream, uint32_t(length));
        AppendLe32(stream, uint32_t(tessaly::player::FtPayloadKind(payload, uint32_t(length))));
        stream.resize(headerEnd, 0);
    }
    stream.insert(stream.end(), payload, payload + length);
}

bool H264Payload(const uint8_t *unit, size_t length, uint32_t sequence, Bytes &payload) {
    const size_t startCode = length >= 4 && unit[2] == 0 ? 4 : 3;
    if (length <= startCode) return false;
    payload.assign({0, 0, 0, 1, unit[startCode]});
    AppendLe32(payload, sequence);
    AppendLe32(payload, uint32_t(length));
    payload.insert(payload.end(), unit + startCode + 1, unit + length);
    return true;
}

void UnwrapStream(const Bytes &stream, FtVariant variant, const std::function<void(const FtPayload &)> &onPayload,
                  uint32_t &dropped) {
    bool took = false;
    FtAssembler assembler(variant, [&](uint8_t *payload, uint32_t length) {
        onPayload(tessaly::player::FixUpFtPayload(payload, length, variant));
        took = true;
        return 0;
    });
    Bytes tail(tessaly::player::kFtMarker, tessaly::player::kFtMarker + 8);
    auto feed = [&](const Bytes &bytes) {
        for (size_t at = 0; at < bytes.size();) {
            // A full buffer without a whole packet: one byte more drops it.
            const size_t room = std::max<size_t>(1, FtAssembler::kCapacity - assembler.Held());
            const size_t n = std::min(bytes.size() - at, room);
            took = false;
            if (assembler.Add(bytes.data() + at, uint32_t(n)) < 0) ++dropped;
            at += n;
            // Packets already complete come one a call.
            while (took) {
                took = false;
                assembler.Add(bytes.data(), 0);
            }
        }
    };
    feed(stream);
    feed(tail);
}

size_t MaxPayload(FtVariant variant) { return FtAssembler::kCapacity - tessaly::player::FtHeaderLength(variant) - 8; }

}  // namespace ftool
