// The FT assembler on arbitrary bytes cut into arbitrary calls, both
// variants, every payload fixed up. The input's first byte picks the
// variant; then each call is a length byte and that many stream bytes, where
// 255 is a call with null data and 254 one with more bytes than there is
// room for. The assembly buffer is allocated at its exact size, so a payload
// reaching past it shows.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "player/ft_assembler.h"
#include "tessaly/kova.h"

using tessaly::player::FtAssembler;
using tessaly::player::FtVariant;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0) return 0;
    static const std::vector<uint8_t> kFlood(FtAssembler::kCapacity + 1, 0);
    const FtVariant variant = data[0] & 1 ? FtVariant::kRaw : FtVariant::kFt;
    int32_t calls = 0;
    FtAssembler assembler(variant, [&](uint8_t *payload, uint32_t length) {
        if (length == 0 || length > FtAssembler::kCapacity) __builtin_trap();
        volatile uint8_t ends = payload[0] ^ payload[length - 1];
        (void)ends;
        const tessaly::player::FtPayload fixed = tessaly::player::FixUpFtPayload(payload, length, variant);
        if (fixed.data < payload || fixed.data + fixed.length > payload + length) __builtin_trap();
        if (fixed.length > 0) {
            volatile uint8_t fixedEnds = fixed.data[0] ^ fixed.data[fixed.length - 1];
            (void)fixedEnds;
        }
        return ++calls;
    });
    for (size_t at = 1; at < size;) {
        const uint8_t code = data[at++];
        int32_t rc;
        if (code == 255) {
            rc = assembler.Add(nullptr, 0);
        } else if (code == 254) {
            rc = assembler.Add(kFlood.data(), FtAssembler::kCapacity - assembler.Held() + 1);
        } else {
            const size_t n = std::min<size_t>(code, size - at);
            rc = assembler.Add(data + at, uint32_t(n));
            at += n;
        }
        if (rc < 0 ? rc != KOVA_ERR_INVALID_ARGUMENT || assembler.Held() != 0 : rc != 0 && rc != calls)
            __builtin_trap();
        if (assembler.Held() > FtAssembler::kCapacity) __builtin_trap();
    }
    return 0;
}
