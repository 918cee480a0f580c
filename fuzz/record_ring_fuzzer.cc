// Writes, reads, discards and re-creations of the sound path's record ring,
// driven by the input and checked against a plain queue of records: every
// result code, every payload byte and length, the used bytes and all six
// counters must agree after each call. The ring's own thread rules are kept
// (one thread plays both sides), so any difference is the ring's arithmetic.
//
// Layout: one byte picks the first size (or leaves the ring uncreated), then
// each call is an operation byte, for a write followed by its payload.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <deque>
#include <memory>
#include <vector>

#include "audio/record_ring.h"

namespace {

using tessaly::audio::RecordRing;

constexpr int kMaxCalls = 4096;

// Bytes a record of `length` takes in the ring: its padded payload and prefix.
uint32_t RecordBytes(uint32_t length) { return ((length + 3u) & ~3u) + 4u; }

// What the ring should hold and have counted.
struct Model {
    bool created = false;
    uint32_t size = 0;
    std::deque<std::vector<uint8_t>> records;
    uint32_t used = 0;
    RecordRing::Counters counters;
};

// Sizes from the smallest ring that cannot hold a record to a few hundred
// bytes, so that wrapping and the full ring are both reached often.
uint32_t PickSize(uint8_t byte) { return 4u * (1u + byte % 96u); }

void Check(const RecordRing &ring, const Model &model) {
    const RecordRing::Counters &got = ring.Statistics();
    const RecordRing::Counters &want = model.counters;
    if (ring.Created() != model.created || ring.Size() != model.size || ring.UsedBytes() != model.used ||
        got.readFailures != want.readFailures || got.writeErrors != want.writeErrors ||
        got.bytesWritten != want.bytesWritten || got.bytesRead != want.bytesRead || got.readCalls != want.readCalls ||
        got.writeCalls != want.writeCalls)
        __builtin_trap();
}

void Create(RecordRing &ring, Model &model, uint32_t size) {
    if (ring.Create(size) != tessaly::audio::kRingOk) __builtin_trap();
    model = Model{};
    model.created = true;
    model.size = size;
}

// A length so large that its padding would wrap is refused as not fitting,
// before any byte is read.
void WriteHuge(RecordRing &ring, Model &model) {
    ++model.counters.writeCalls;
    if (ring.Write(nullptr, 0xFFFFFFFFu) != tessaly::audio::kRingFull) __builtin_trap();
}

void Write(RecordRing &ring, Model &model, FuzzedDataProvider &in, uint8_t op) {
    if ((op & 0x3F) == 0x3F) return WriteHuge(ring, model);
    // Mostly short records; sometimes one near or past the ring's size.
    uint32_t length = op & 0x1F;
    if (op & 0x20) length = model.size + (op & 0x1F) - 16;
    if (length > 0x10000) length = 0;
    std::vector<uint8_t> payload = in.ConsumeBytes<uint8_t>(length);
    payload.resize(length, op);
    // The payload buffer is exactly as long as the record, so reading past it shows.
    std::unique_ptr<uint8_t[]> data(new uint8_t[length]);
    if (length > 0) std::memcpy(data.get(), payload.data(), length);
    uint32_t recordSize = 0xDEAD;
    const uint32_t rc = ring.Write(data.get(), length, &recordSize);

    uint32_t want;
    if (length == 0) {
        ++model.counters.writeErrors;
        want = tessaly::audio::kRingZeroLength;
    } else {
        ++model.counters.writeCalls;
        // A record never fills the ring completely; an uncreated ring takes none.
        const uint32_t record = RecordBytes(length);
        if (!model.created || record >= model.size - model.used) {
            want = tessaly::audio::kRingFull;
        } else {
            want = tessaly::audio::kRingOk;
            model.records.push_back(std::move(payload));
            model.used += record;
            model.counters.bytesWritten += record;
        }
    }
    if (rc != want) __builtin_trap();
    if (rc == tessaly::audio::kRingOk ? recordSize != RecordBytes(length) : recordSize != 0xDEAD) __builtin_trap();
}

void Read(RecordRing &ring, Model &model) {
    ++model.counters.readCalls;
    // The output holds exactly the padded payload the oldest record needs.
    const uint32_t expected = model.records.empty() ? 0 : uint32_t(model.records.front().size());
    const uint32_t room = (expected + 3u) & ~3u;
    std::unique_ptr<uint8_t[]> output(new uint8_t[room]);
    uint32_t length = 0xDEAD;
    const uint32_t rc = ring.Read(output.get(), &length);
    if (model.records.empty()) {
        if (rc != tessaly::audio::kRingEmpty) __builtin_trap();
        return;
    }
    if (rc != tessaly::audio::kRingOk || length != expected ||
        (expected > 0 && std::memcmp(output.get(), model.records.front().data(), expected) != 0))
        __builtin_trap();
    const uint32_t record = RecordBytes(expected);
    model.used -= record;
    model.counters.bytesRead += record;
    model.records.pop_front();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzedDataProvider in(data, size);
    RecordRing ring;
    Model model;
    const uint8_t first = in.ConsumeIntegral<uint8_t>();
    if (first != 0) Create(ring, model, PickSize(first));
    Check(ring, model);

    for (int call = 0; call < kMaxCalls && in.remaining_bytes() > 0; ++call) {
        const uint8_t op = in.ConsumeIntegral<uint8_t>();
        switch (op >> 6) {
        case 0:
        case 1: Write(ring, model, in, op); break;
        case 2: Read(ring, model); break;
        default:
            if (op == 0xFF) {
                if (ring.Create(0) != tessaly::audio::kRingNoSize) __builtin_trap();
            } else if (op >= 0xF0) {
                Create(ring, model, PickSize(in.ConsumeIntegral<uint8_t>()));
            } else if (op >= 0xE0) {
                ring.Discard();
                model.records.clear();
                model.used = 0;
            } else {
                Read(ring, model);
            }
            break;
        }
        Check(ring, model);
    }
    return 0;
}
