// The FT assembler against a plain model over a vector, on random streams cut
// at random, and the cases that break a hand-written buffer: queued packets,
// markers split across calls, headers that arrive late, overflow and resync.
#include "player/ft_assembler.h"

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "tessaly/kova.h"

using tessaly::player::FixUpFtPayload;
using tessaly::player::FtAssembler;
using tessaly::player::FtHeaderLength;
using tessaly::player::FtPayload;
using tessaly::player::FtVariant;
using tessaly::player::kFtMarker;

namespace {

using Bytes = std::vector<uint8_t>;
const Bytes kMarker(kFtMarker, kFtMarker + 8);

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes &p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

// The sink's result tells packets apart and is not 0.
int32_t Code(const Bytes &payload) { return 1000 + static_cast<int32_t>(payload.size()); }

// What a port would see: fixed-up payloads, recorded in order.
struct Recorder {
    explicit Recorder(FtVariant v) : variant(v) {}
    FtVariant variant;
    std::vector<Bytes> payloads;
    FtAssembler assembler{variant, [this](uint8_t *payload, uint32_t length) {
                              const FtPayload fixed = FixUpFtPayload(payload, length, variant);
                              payloads.emplace_back(fixed.data, fixed.data + fixed.length);
                              return Code(payloads.back());
                          }};
    // No bytes: a call that only takes a packet already queued.
    int32_t Add(const Bytes &bytes) {
        static const uint8_t kNothing = 0;
        return assembler.Add(bytes.empty() ? &kNothing : bytes.data(), uint32_t(bytes.size()));
    }
};

// The rules restated over a growing vector: the first whole marker begins the
// packet, the first whole marker at least one byte past its header ends it.
struct Model {
    explicit Model(FtVariant v) : variant(v) {}
    FtVariant variant;
    Bytes pending;
    std::vector<Bytes> payloads;

    static size_t Find(const Bytes &b, size_t from) {
        for (size_t k = from; k + 8 <= b.size(); ++k)
            if (std::equal(kMarker.begin(), kMarker.end(), b.begin() + ptrdiff_t(k))) return k;
        return SIZE_MAX;
    }
    static Bytes FixUp(Bytes p, FtVariant variant) {
        if (p.size() < 4 || p[0] != 0 || p[1] != 0 || p[2] != 0 || p[3] != 1) return p;
        if (p.size() <= 13) return {};
        p.erase(p.begin() + 5, p.begin() + 13);
        if (variant == FtVariant::kFt && (p[4] == 0x67 || p[4] == 0x61)) p[4] -= 0x40;
        return p;
    }
    int32_t Add(const uint8_t *data, size_t length) {
        if (data == nullptr || pending.size() + length > FtAssembler::kCapacity) {
            pending.clear();
            return KOVA_ERR_INVALID_ARGUMENT;
        }
        pending.insert(pending.end(), data, data + length);
        const size_t first = Find(pending, 0);
        if (first == SIZE_MAX) {
            if (pending.size() > 7) pending.erase(pending.begin(), pending.end() - 7);
            return 0;
        }
        const size_t begin = first + FtHeaderLength(variant);
        const size_t next = Find(pending, begin + 1);
        if (next == SIZE_MAX) return 0;
        payloads.push_back(
            FixUp(Bytes(pending.begin() + ptrdiff_t(begin), pending.begin() + ptrdiff_t(next)), variant));
        pending.erase(pending.begin(), pending.begin() + ptrdiff_t(next));
        return Code(payloads.back());
    }
};

Bytes RandomStream(std::mt19937 &rng, FtVariant variant) {
    auto below = [&](uint32_t n) { return uint32_t(rng() % n); };
    auto random = [&](size_t n) {
        Bytes b(n);
        for (uint8_t &x : b) x = uint8_t(rng());
        return b;
    };
    Bytes stream = random(below(4) == 0 ? below(50) : 0);  // bytes before the first marker
    const uint32_t packets = 1 + below(40);
    for (uint32_t k = 0; k < packets; ++k) {
        Bytes header = random(FtHeaderLength(variant) - 8);
        // A marker in a header must not end the packet.
        if (header.size() >= 8 && below(5) == 0) std::copy(kMarker.begin(), kMarker.end(), header.begin() + 3);
        const uint32_t size = below(20) == 0 ? 60000 + below(150000) : below(6) == 0 ? below(14) : below(4000);
        Bytes payload = random(size);
        if (size >= 5 && below(2) == 0) {
            const uint8_t nal[] = {0x67, 0x61, 0x41, 0x65};
            payload[0] = payload[1] = payload[2] = 0;
            payload[3] = 1;
            payload[4] = nal[below(4)];
        }
        stream = Cat({stream, kMarker, header, payload});
    }
    return stream;
}

TEST(FtAssembler, MatchesTheModelOnRandomStreamsAndChunkings) {
    std::mt19937 rng(7);
    for (FtVariant variant : {FtVariant::kFt, FtVariant::kRaw}) {
        for (int round = 0; round < 150; ++round) {
            const Bytes stream = RandomStream(rng, variant);
            Recorder real(variant);
            Model model(variant);
            std::vector<int32_t> realCodes, modelCodes;
            for (size_t at = 0; at < stream.size();) {
                const uint32_t pick = rng() % 100;
                // Mostly small chunks, some empty, a few over the room left, a few null.
                size_t n = pick < 3 ? FtAssembler::kCapacity : pick < 10 ? 0 : rng() % (pick < 80 ? 64 : 20000);
                n = std::min(n, stream.size() - at);
                const uint8_t *data = pick == 99 ? nullptr : stream.data() + at;
                realCodes.push_back(real.assembler.Add(data, uint32_t(n)));
                modelCodes.push_back(model.Add(data, n));
                ASSERT_EQ(real.assembler.Held(), model.pending.size()) << "round " << round;
                if (data != nullptr) at += n;
            }
            EXPECT_EQ(realCodes, modelCodes) << "round " << round;
            EXPECT_EQ(real.payloads, model.payloads) << "round " << round;
        }
    }
}

TEST(FtAssembler, QueuedPacketsMarkersAcrossCallsAndResync) {
    const Bytes header(32, 0xAA), a(300, 0x11), b(20, 0x22), c(5, 0x33), d(9, 0x44);
    Recorder r(FtVariant::kFt);
    // Bytes before the first marker are skipped; a packet waits for the next marker.
    EXPECT_EQ(r.Add(Cat({Bytes(100, 0x55), kMarker, header, a})), 0);
    EXPECT_EQ(r.Add(kMarker), Code(a));
    // Three packets and the start of a fourth in one chunk: one packet a call.
    EXPECT_EQ(r.Add(Cat({header, b, kMarker, header, c, kMarker, header, d, kMarker, header})), Code(b));
    EXPECT_EQ(r.Add({}), Code(c));
    EXPECT_EQ(r.Add({}), Code(d));
    EXPECT_EQ(r.Add({}), 0);
    ASSERT_EQ(r.payloads, (std::vector<Bytes>{a, b, c, d}));

    // The next marker cut at every point between two calls.
    for (size_t cut = 1; cut < 8; ++cut) {
        EXPECT_EQ(r.Add(Cat({a, Bytes(kMarker.begin(), kMarker.begin() + ptrdiff_t(cut))})), 0);
        EXPECT_EQ(r.Add(Cat({Bytes(kMarker.begin() + ptrdiff_t(cut), kMarker.end()), header})), Code(a)) << cut;
    }

    // A marker at the very end, its header still to come, a marker inside it.
    Recorder late(FtVariant::kFt);
    EXPECT_EQ(late.Add(kMarker), 0);
    EXPECT_EQ(late.Add(Bytes(10, 0)), 0);
    EXPECT_EQ(late.Add(Cat({kMarker, Bytes(14, 0), b, kMarker})), Code(b));
    EXPECT_EQ(late.payloads.back(), b);

    // Too much for the room left drops everything; the stream resynchronises
    // at the next marker, the broken packet's tail skipped.
    EXPECT_EQ(r.Add(Bytes(FtAssembler::kCapacity, 0x66)), KOVA_ERR_INVALID_ARGUMENT);
    EXPECT_EQ(r.assembler.Held(), 0u);
    EXPECT_EQ(r.Add(Cat({Bytes(500, 0x77), kMarker, header, c, kMarker})), Code(c));
    EXPECT_EQ(r.assembler.Add(nullptr, 0), KOVA_ERR_INVALID_ARGUMENT);
    EXPECT_EQ(r.assembler.Held(), 0u);

    // Without markers only the last 7 bytes are kept, enough to begin one.
    Recorder none(FtVariant::kRaw);
    EXPECT_EQ(none.Add(Cat({Bytes(5000, 0x01), Bytes(kMarker.begin(), kMarker.begin() + 7)})), 0);
    EXPECT_EQ(none.assembler.Held(), 7u);
    EXPECT_EQ(none.Add(Cat({Bytes{kMarker[7]}, a, kMarker})), Code(a));
}

TEST(FtPayloadFixUp, H264BytesRemovedAndNalHeaderRewritten) {
    const Bytes filler = {9, 9, 9, 9, 9, 9, 9, 9}, body = {0x88, 0x84, 0x21};
    struct Case {
        Bytes payload;
        FtVariant variant;
        int kind;
        Bytes fixed;
    };
    const Case cases[] = {
        {Cat({{0, 0, 0, 1, 0x67}, filler, body}), FtVariant::kFt, 1, Cat({{0, 0, 0, 1, 0x27}, body})},
        {Cat({{0, 0, 0, 1, 0x61}, filler, body}), FtVariant::kFt, 1, Cat({{0, 0, 0, 1, 0x21}, body})},
        {Cat({{0, 0, 0, 1, 0x65}, filler, body}), FtVariant::kFt, 1, Cat({{0, 0, 0, 1, 0x65}, body})},
        {Cat({{0, 0, 0, 1, 0x67}, filler, body}), FtVariant::kRaw, 1, Cat({{0, 0, 0, 1, 0x67}, body})},
        {Cat({{0, 0, 0, 1, 0x67}, filler, {0x42}}), FtVariant::kRaw, 1, {0, 0, 0, 1, 0x67, 0x42}},
        {Cat({{0, 0, 0, 1, 0x67}, filler}), FtVariant::kFt, 1, {}},  // 13 bytes: no body
        {{0, 0, 0, 1}, FtVariant::kFt, 1, {}},
        {{0, 0, 1, 0x67, 1, 2}, FtVariant::kFt, 2, {0, 0, 1, 0x67, 1, 2}},
        {{0xFF, 0xD8, 0xFF, 0xD9}, FtVariant::kFt, 2, {0xFF, 0xD8, 0xFF, 0xD9}},
        {{0, 0, 0}, FtVariant::kFt, 2, {0, 0, 0}},
    };
    for (const Case &c : cases) {
        Bytes payload = c.payload;
        const FtPayload fixed = FixUpFtPayload(payload.data(), uint32_t(payload.size()), c.variant);
        EXPECT_EQ(fixed.kind, c.kind);
        EXPECT_EQ(Bytes(fixed.data, fixed.data + fixed.length), c.fixed) << c.payload.size();
    }
}

}  // namespace
