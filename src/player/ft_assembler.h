// The FT byte stream of a port: packets cut from bytes that arrive in chunks
// of any size, and the fix-ups that turn a packet's payload into something a
// decoder takes. Pure logic, no I/O.
//
// A packet is a marker (kFtMarker), the rest of its header (32 bytes that are
// not read, in the FT variant; none in the Raw variant), then its payload:
// every byte up to the next marker. So a packet is complete only once the
// next marker has arrived. The header is never searched for a marker.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "platform/page_block.h"

namespace tessaly::player {

enum class FtVariant {
    kFt,   // 40-byte headers; the first NAL header byte is rewritten
    kRaw,  // the marker alone
};

inline constexpr uint8_t kFtMarker[8] = {0xFE, 0xFD, 0x02, 0x01, 0xFD, 0xFE, 0x01, 0x02};

constexpr uint32_t FtHeaderLength(FtVariant variant) { return variant == FtVariant::kFt ? 40 : 8; }

class FtAssembler {
public:
    static constexpr uint32_t kCapacity = 262144;

    // Called with each complete payload, in place in the assembly buffer; it
    // may change the bytes (the fix-ups work in place) and must not call Add.
    // Its result is what Add returns.
    using PayloadSink = std::function<int32_t(uint8_t *payload, uint32_t length)>;

    // Throws std::bad_alloc when the buffer cannot be had.
    FtAssembler(FtVariant variant, PayloadSink sink);

    // Takes the next bytes of the stream and completes at most one packet:
    // the sink's result when it did, else 0. A packet already complete in the
    // buffer is taken by the next call, even one of no bytes. Null data, or
    // more bytes than the buffer has room for, drop everything collected and
    // return KOVA_ERR_INVALID_ARGUMENT; the next marker starts afresh.
    //
    // A marker whose header has not all arrived waits for it: the payload
    // begins after the header, and no marker is sought before the payload's
    // second byte, so a packet with an empty payload is not told apart: its
    // marker and header end up inside the payload before it.
    int32_t Add(const uint8_t *data, uint32_t length);

    // Bytes collected and not yet part of a completed packet.
    uint32_t Held() const { return held_; }
    void Reset() { held_ = start_ = scan_ = 0; }

private:
    const uint32_t headerLength_;
    PayloadSink sink_;
    platform::PageBlock buffer_;
    uint32_t held_ = 0;
    // Offset of the current payload; 0 while no packet start is known. It may
    // lie past held_ while the header is still arriving.
    uint32_t start_ = 0;
    // Where the search for the next marker resumes; 0 when not set.
    uint32_t scan_ = 0;
};

enum FtKind : int {
    kFtH264 = 1,   // begins 00 00 00 01
    kFtMjpeg = 2,  // anything else
};

FtKind FtPayloadKind(const uint8_t *payload, uint32_t length);

struct FtPayload {
    FtKind kind;
    uint8_t *data;    // inside the payload given
    uint32_t length;  // 0: nothing to decode
};

// An H.264 payload carries 8 extra bytes after its first NAL header byte:
// payload bytes 5..12 are dropped (bytes 0..4 move up by 8, in place), and in
// the FT variant that NAL header byte goes from 0x67 to 0x27 and from 0x61 to
// 0x21 (nal_ref_idc 3 to 1, which decodes the same). An H.264 payload of 13
// bytes or fewer holds no NAL unit body and comes back empty. Motion JPEG
// payloads come back as they are.
FtPayload FixUpFtPayload(uint8_t *payload, uint32_t length, FtVariant variant);

}  // namespace tessaly::player
