#include "player/ft_assembler.h"

#include <cstring>
#include <new>
#include <utility>

#include "tessaly/kova.h"

namespace tessaly::player {

namespace {

constexpr uint32_t kMarkerLength = sizeof kFtMarker;
constexpr uint32_t kExtraBytes = 8;  // after an H.264 payload's first NAL header byte
constexpr uint32_t kNalHeaderOffset = 4;

// The first offset in [from, end) where a whole marker begins, or end; the
// caller guarantees end + 7 bytes are there.
uint32_t FindMarker(const uint8_t *bytes, uint32_t from, uint32_t end) {
    while (from < end) {
        const void *hit = std::memchr(bytes + from, kFtMarker[0], end - from);
        if (hit == nullptr) return end;
        const uint32_t at = static_cast<uint32_t>(static_cast<const uint8_t *>(hit) - bytes);
        if (std::memcmp(bytes + at, kFtMarker, kMarkerLength) == 0) return at;
        from = at + 1;
    }
    return end;
}

}  // namespace

FtAssembler::FtAssembler(FtVariant variant, PayloadSink sink)
    : headerLength_(FtHeaderLength(variant)), sink_(std::move(sink)), buffer_(platform::AllocatePages(kCapacity)) {
    if (!buffer_) throw std::bad_alloc();
}

int32_t FtAssembler::Add(const uint8_t *data, uint32_t length) {
    if (data == nullptr || length > kCapacity - held_) {
        Reset();
        return KOVA_ERR_INVALID_ARGUMENT;
    }
    uint8_t *bytes = buffer_.get();
    if (length > 0) std::memcpy(bytes + held_, data, length);
    const uint32_t total = held_ + length;
    // A marker can begin only where all 8 of its bytes are here.
    if (total < kMarkerLength) {
        held_ = total;
        return 0;
    }
    const uint32_t end = total - (kMarkerLength - 1);
    if (start_ == 0) {
        const uint32_t marker = FindMarker(bytes, 0, end);
        if (marker == end) {
            // No packet start: only the last 7 bytes can still begin a marker.
            std::memmove(bytes, bytes + end, kMarkerLength - 1);
            held_ = kMarkerLength - 1;
            scan_ = 0;
            return 0;
        }
        start_ = marker + headerLength_;
    }
    if (scan_ == 0) scan_ = start_ + 1;
    const uint32_t next = scan_ < end ? FindMarker(bytes, scan_, end) : end;
    if (next == end) {
        held_ = total;
        // Never back into the header: while it is still arriving scan_ is
        // past end, and the payload begins once those bytes are here.
        if (end > scan_) scan_ = end;
        return 0;
    }
    const int32_t result = sink_(bytes + start_, next - start_);
    held_ = total - next;
    std::memmove(bytes, bytes + next, held_);
    start_ = scan_ = 0;
    return result;
}

FtKind FtPayloadKind(const uint8_t *payload, uint32_t length) {
    static constexpr uint8_t kStartCode[4] = {0, 0, 0, 1};
    return length >= 4 && std::memcmp(payload, kStartCode, 4) == 0 ? kFtH264 : kFtMjpeg;
}

FtPayload FixUpFtPayload(uint8_t *payload, uint32_t length, FtVariant variant) {
    const FtKind kind = FtPayloadKind(payload, length);
    if (kind != kFtH264) return {kind, payload, length};
    if (length <= kNalHeaderOffset + 1 + kExtraBytes) return {kind, payload, 0};
    std::memmove(payload + kExtraBytes, payload, kNalHeaderOffset + 1);
    uint8_t *fixed = payload + kExtraBytes;
    uint8_t &nalHeader = fixed[kNalHeaderOffset];
    if (variant == FtVariant::kFt && (nalHeader == 0x67 || nalHeader == 0x61)) nalHeader &= 0x3F;
    return {kind, fixed, length - kExtraBytes};
}

}  // namespace tessaly::player
