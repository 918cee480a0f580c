// The exported deinterlacer on constructed pictures: frame layout, the motion
// decision (weave after eight still frames, per pixel pair), argument errors
// and their codes, and the version call. The edge-directed interpolation is
// pinned bit for bit by the field-stream port's reference frames.
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <string>
#include <vector>

#include "allocation_counter.h"
#include "tessaly/tq_deinterlace.h"

namespace {

constexpr uint8_t kUnwritten = 0xEE;  // output filler that no test picture produces

// Strides wider than the rows, so that row-step mix-ups show.
constexpr tqDEINTERLACE_PARA_S kGeometry = {132, 8, 140, 70, 150, 80};
constexpr int kPairsPerRow = (kGeometry.width - 4) / 2;

// A field as the caller hands it over (chroma planes of exactly the bytes the
// calls may read) or, with `output`, a frame filled with kUnwritten.
struct Planes {
    explicit Planes(const tqDEINTERLACE_PARA_S &p, bool output = false)
        : stride(output ? p.outYStride : p.yStride),
          uvStride(output ? p.outUvStride : p.uvStride),
          y(size_t(output ? 2 * p.fieldHeight : p.fieldHeight) * stride, output ? kUnwritten : 0),
          u(size_t(p.fieldHeight) * uvStride / (output ? 1 : 2), output ? kUnwritten : 0),
          v(u) {}
    uint8_t &Y(int row, int col) { return y[size_t(row) * stride + col]; }
    uint8_t &U(int row, int col) { return u[size_t(row) * uvStride + col]; }
    uint8_t &V(int row, int col) { return v[size_t(row) * uvStride + col]; }
    tqDEINTERLACE_FRAME_S Out() { return {y.data(), u.data(), v.data()}; }
    bool operator==(const Planes &) const = default;
    int stride, uvStride;
    std::vector<uint8_t> y, u, v;
};

struct Session {
    explicit Session(const tqDEINTERLACE_PARA_S &p) { EXPECT_EQ(TQ_InitDeinterlace(&handle, p), TQ_DEINTERLACE_OK); }
    ~Session() { TQ_ReleaseDeinterlace(handle); }
    int32_t Give(Planes &f, tqPIC_TYPE_E type, Planes &out) {
        return TQ_Deinterlace(handle, out.Out(), f.y.data(), f.u.data(), f.v.data(), type);
    }
    void *handle = nullptr;
};

// Top rows of one value each, far from grey: interpolating between two such
// rows gives their average in every direction. The bottom field has texture,
// far above anything the top rows interpolate to.
int TopValue(int row) { return 20 + 8 * row; }
void FillFields(Planes &top, Planes &bottom) {
    for (int r = 0; r < kGeometry.fieldHeight; ++r)
        for (int c = 0; c < kGeometry.width; ++c) {
            top.Y(r, c) = uint8_t(TopValue(r));
            bottom.Y(r, c) = uint8_t(150 + (3 * c + 5 * r) % 40);
        }
}

// Woven ('w') or interpolated ('.') per pair (x, x + 1) of the interpolated
// rows 2k + 1, k = 1..fieldHeight-2, a line each, so that failures print a map.
using PairGrid = std::string;
size_t PairIndex(int k, int x) { return size_t(k - 1) * (kPairsPerRow + 1) + size_t(x - 2) / 2; }
PairGrid AllPairs(bool woven) {
    PairGrid g;
    for (int k = 1; k <= kGeometry.fieldHeight - 2; ++k) g += std::string(kPairsPerRow, woven ? 'w' : '.') + '\n';
    return g;
}

// Pairs whose 2x2 field window covers field pixel (row, col) are not woven.
PairGrid AllWovenBut(int row, int col) {
    PairGrid g = AllPairs(true);
    for (int k : {row - 1, row})
        if (k >= 1 && k <= kGeometry.fieldHeight - 2) g[PairIndex(k, col - col % 2)] = '.';
    return g;
}

// A pair is woven when both pixels are the bottom field's. With `strict`,
// every other pair must be the average of the uniform top rows around it.
PairGrid Classify(Planes &out, Planes &bottom, bool strict = true) {
    PairGrid g = AllPairs(false);
    for (int k = 1; k <= kGeometry.fieldHeight - 2; ++k)
        for (int x = 2; x + 1 <= kGeometry.width - 3; x += 2) {
            const uint8_t p0 = out.Y(2 * k + 1, x), p1 = out.Y(2 * k + 1, x + 1);
            const int interpolated = (TopValue(k) + TopValue(k + 1)) / 2;
            const bool woven = p0 == bottom.Y(k, x) && p1 == bottom.Y(k, x + 1);
            g[PairIndex(k, x)] = woven ? 'w' : '.';
            EXPECT_TRUE(!strict || woven || (p0 == interpolated && p1 == interpolated))
                << "row " << 2 * k + 1 << " pair " << x;
        }
    return g;
}

TEST(DeinterlaceInit, GeometryLimitsAndTheirCodes) {
    EXPECT_EQ(TQ_InitDeinterlace(nullptr, kGeometry), TQ_DEINTERLACE_ERR_NULL);
    EXPECT_EQ(TQ_InitDeinterlace(nullptr, {1, 1, 1, 1, 1, 1}), TQ_DEINTERLACE_ERR_NULL);
    struct Case {
        tqDEINTERLACE_PARA_S para;
        int32_t result;
    };
    // Each parameter at its limit and one below; an odd width halves with
    // truncation. The huge ones are valid ranges whose products overflow 32
    // bits, which must not wrap into a small block.
    const Case cases[] = {
        {{128, 4, 128, 64, 128, 64}, TQ_DEINTERLACE_OK},
        {{129, 4, 129, 64, 129, 64}, TQ_DEINTERLACE_OK},
        {{127, 8, 200, 100, 200, 100}, TQ_DEINTERLACE_ERR_PARAM},
        {{-128, 8, 200, 100, 200, 100}, TQ_DEINTERLACE_ERR_PARAM},
        {{128, 3, 128, 64, 128, 64}, TQ_DEINTERLACE_ERR_PARAM},
        {{128, 4, 127, 64, 128, 64}, TQ_DEINTERLACE_ERR_PARAM},
        {{128, 4, 128, 63, 128, 64}, TQ_DEINTERLACE_ERR_PARAM},
        {{128, 4, 128, 64, 127, 64}, TQ_DEINTERLACE_ERR_PARAM},
        {{128, 4, 128, 64, 128, 63}, TQ_DEINTERLACE_ERR_PARAM},
        {{129, 4, 129, 64, 128, 64}, TQ_DEINTERLACE_ERR_PARAM},
        {{128, 0x7fffffff, 0x7fffffff, 64, 128, 64}, TQ_DEINTERLACE_ERR_MEMORY},
        {{128, 65536, 65536, 64, 128, 64}, TQ_DEINTERLACE_ERR_MEMORY},
        {{128, 4, 128, 0x7fffffff, 128, 64}, TQ_DEINTERLACE_ERR_MEMORY},
    };
    for (const Case &c : cases) {
        const tqDEINTERLACE_PARA_S &p = c.para;
        SCOPED_TRACE(&c - cases);
        int marker = 0;
        void *handle = &marker;  // a failed creation must clear whatever the caller had
        EXPECT_EQ(TQ_InitDeinterlace(&handle, p), c.result);
        EXPECT_EQ(handle != nullptr, c.result == TQ_DEINTERLACE_OK);
        EXPECT_EQ(handle ? TQ_ReleaseDeinterlace(handle) : TQ_DEINTERLACE_OK, TQ_DEINTERLACE_OK);
    }
}

TEST(DeinterlaceCalls, RefusedCallsLeaveHistoryAndOutputAlone) {
    Planes top(kGeometry), bottom(kGeometry), out(kGeometry, true);
    FillFields(top, bottom);
    // Every wrong call before each field: the frames still weave on the
    // ninth, so the wrong calls touched neither the history nor the still
    // counters.
    Session probed(kGeometry);
    for (int frame = 1; frame <= 9; ++frame) {
        for (tqPIC_TYPE_E type : {PIC_TYPE_TOP_FIELD, PIC_TYPE_BOTTOM_FIELD}) {
            Planes &f = type == PIC_TYPE_TOP_FIELD ? top : bottom;
            const Planes before = out;
            // Each of the seven pointers null in turn: handle, frame y/u/v, field y/u/v.
            for (int missing = 0; missing < 7; ++missing) {
                tqDEINTERLACE_FRAME_S o = out.Out();
                uint8_t **outPlanes[3] = {&o.y, &o.u, &o.v};
                const uint8_t *in[3] = {f.y.data(), f.u.data(), f.v.data()};
                if (missing >= 1 && missing <= 3) *outPlanes[missing - 1] = nullptr;
                if (missing >= 4) in[missing - 4] = nullptr;
                EXPECT_EQ(TQ_Deinterlace(missing ? probed.handle : nullptr, o, in[0], in[1], in[2], type),
                          TQ_DEINTERLACE_ERR_NULL)
                    << missing;
            }
            for (int32_t bad : {0, 3, -1, 0x102})
                EXPECT_EQ(
                    TQ_Deinterlace(probed.handle, out.Out(), f.y.data(), f.u.data(), f.v.data(), tqPIC_TYPE_E(bad)),
                    TQ_DEINTERLACE_ERR_PIC_TYPE)
                    << bad;
            // A null pointer outranks a bad type.
            EXPECT_EQ(TQ_Deinterlace(probed.handle, out.Out(), nullptr, f.u.data(), f.v.data(), tqPIC_TYPE_E(3)),
                      TQ_DEINTERLACE_ERR_NULL);
            EXPECT_TRUE(out == before);
            ASSERT_EQ(probed.Give(f, type, out), TQ_DEINTERLACE_OK);
        }
        EXPECT_EQ(Classify(out, bottom), AllPairs(frame == 9)) << "frame " << frame;
    }
}

TEST(DeinterlaceCalls, ReleaseAndVersion) {
    EXPECT_EQ(TQ_ReleaseDeinterlace(nullptr), TQ_DEINTERLACE_ERR_NULL);
    char buffer[12] = {'x', 'x', 'x', 'x', 'x', 'x', 'x', 'x', 'x', 'x', 'x', 'x'}, *address = buffer;
    EXPECT_EQ(TQ_GetVersion(&address), TQ_DEINTERLACE_OK);
    EXPECT_EQ(address, buffer);
    EXPECT_EQ(std::string(buffer, sizeof buffer), std::string("1.1.0.0") + '\0' + "xxxx") << "exactly 8 bytes";
    EXPECT_EQ(TQ_GetVersion(nullptr), TQ_DEINTERLACE_ERR_NULL);
    address = nullptr;
    EXPECT_EQ(TQ_GetVersion(&address), TQ_DEINTERLACE_ERR_NULL);
}

TEST(DeinterlaceLayout, RowsChromaAndPaddingOfEvenAndOddSizes) {
    // The odd geometry has minimal strides, a column width - 3 that belongs
    // to no pair (copied from the row above like the two edge columns), and
    // 2 * (5 / 2) chroma rows: the fifth is left alone.
    for (const tqDEINTERLACE_PARA_S &p : {kGeometry, tqDEINTERLACE_PARA_S{131, 5, 131, 65, 131, 65}}) {
        SCOPED_TRACE(p.width);
        Session s(p);
        Planes top(p), bottom(p), out(p, true);
        // Columns carry a ramp so that copies from the wrong column show. The
        // first frame compares against grey history, so nothing is woven.
        for (int r = 0; r < p.fieldHeight; ++r)
            for (int c = 0; c < p.width; ++c) {
                top.Y(r, c) = uint8_t(10 * r + c % 50);
                bottom.Y(r, c) = 250;
            }
        std::iota(top.u.begin(), top.u.end(), uint8_t(0));
        std::iota(top.v.begin(), top.v.end(), uint8_t(128));
        std::fill(bottom.u.begin(), bottom.u.end(), 1);  // never used
        const Planes blank = out;
        ASSERT_EQ(s.Give(top, PIC_TYPE_TOP_FIELD, out), TQ_DEINTERLACE_OK);
        EXPECT_TRUE(out == blank);
        ASSERT_EQ(s.Give(bottom, PIC_TYPE_BOTTOM_FIELD, out), TQ_DEINTERLACE_OK);

        const int rows = 2 * p.fieldHeight, firstCopiedRight = p.width - 2 - p.width % 2;
        for (int r = 0; r < rows; ++r)
            for (int c = 0; c < p.outYStride; ++c) {
                // Even rows, and the odd ones next to the first and the last,
                // are the top field's; on a linear ramp every direction of
                // interpolation averages to the same value.
                const bool copied = r % 2 == 0 || r == 1 || r == rows - 1 || c < 2 || c >= firstCopiedRight;
                if (!copied && (c % 50 == 0 || c % 50 == 49)) continue;  // the ramp wraps next to c
                const int k = r / 2;
                const int want = c >= p.width ? kUnwritten : copied ? top.Y(k, c) : (top.Y(k, c) + top.Y(k + 1, c)) / 2;
                EXPECT_EQ(out.Y(r, c), want) << r << "," << c;
            }
        // Chroma: the top field's rows, each twice.
        for (int r = 0; r < p.fieldHeight; ++r)
            for (int c = 0; c < p.outUvStride; ++c) {
                const bool written = r < 2 * (p.fieldHeight / 2) && c < p.width / 2;
                EXPECT_EQ(out.U(r, c), written ? top.U(r / 2, c) : kUnwritten) << r << "," << c;
                EXPECT_EQ(out.V(r, c), written ? top.V(r / 2, c) : kUnwritten) << r << "," << c;
            }
    }
}

TEST(DeinterlaceLayout, FrameComesFromTheLatestTopFieldOrTheGreyHistory) {
    Session s(kGeometry);
    Planes first(kGeometry), second(kGeometry), bottom(kGeometry), out(kGeometry, true);
    FillFields(second, bottom);
    std::fill(first.y.begin(), first.y.end(), 5);
    std::fill(second.u.begin(), second.u.end(), 77);
    std::fill(bottom.u.begin(), bottom.u.end(), 3);
    // Nothing checks alternation: a bottom field first builds on the grey
    // history, two top fields simply shift it.
    ASSERT_EQ(s.Give(bottom, PIC_TYPE_BOTTOM_FIELD, out), TQ_DEINTERLACE_OK);
    EXPECT_TRUE(std::all_of(out.y.begin(), out.y.end(), [](uint8_t b) { return b == 128 || b == kUnwritten; }));
    EXPECT_EQ(std::count(out.u.begin(), out.u.end(), 128), kGeometry.fieldHeight * kGeometry.width / 2);
    ASSERT_EQ(s.Give(first, PIC_TYPE_TOP_FIELD, out), TQ_DEINTERLACE_OK);
    ASSERT_EQ(s.Give(second, PIC_TYPE_TOP_FIELD, out), TQ_DEINTERLACE_OK);
    ASSERT_EQ(s.Give(bottom, PIC_TYPE_BOTTOM_FIELD, out), TQ_DEINTERLACE_OK);
    EXPECT_EQ(out.Y(0, 40), TopValue(0));
    EXPECT_EQ(out.Y(6, 40), TopValue(3));
    EXPECT_EQ(out.U(3, 10), 77);
    EXPECT_EQ(Classify(out, bottom), AllPairs(false));
}

TEST(DeinterlaceMotion, WeavesAfterEightStillFramesAndRestartsOnlyTheTouchedPairs) {
    Session session(kGeometry);
    Planes top(kGeometry), bottom(kGeometry), out(kGeometry, true);
    FillFields(top, bottom);
    auto next = [&](bool strict) {
        EXPECT_EQ(session.Give(top, PIC_TYPE_TOP_FIELD, out), TQ_DEINTERLACE_OK);
        EXPECT_EQ(session.Give(bottom, PIC_TYPE_BOTTOM_FIELD, out), TQ_DEINTERLACE_OK);
        return Classify(out, bottom, strict);
    };
    for (int frame = 1; frame <= 9; ++frame) EXPECT_EQ(next(true), AllPairs(frame == 9));
    // Weaving never reaches the edge columns: those stay the top field's.
    for (int k = 1; k <= kGeometry.fieldHeight - 2; ++k)
        for (int c : {0, 1, kGeometry.width - 2, kGeometry.width - 1}) EXPECT_EQ(out.Y(2 * k + 1, c), TopValue(k));

    struct Step {
        bool inTop;
        int delta0, delta1;  // added to field pixels (row, col) and (row, col + 1)
        bool moving;
    };
    // Each step changes the picture relative to the previous frame only, at
    // bottom (3, 20..21) or top (4, 50..51); the odd column belongs to the
    // pair starting one to the left. The decision is on the signed window sum.
    for (const Step &step :
         {Step{false, 49, 0, false}, Step{false, -49, 0, false}, Step{false, 0, 50, true}, Step{false, 0, -50, true},
          Step{false, 40, -40, false}, Step{false, -25, -25, true}, Step{true, 50, 0, true}}) {
        SCOPED_TRACE(testing::Message() << (step.inTop ? "top " : "bottom ") << step.delta0 << "," << step.delta1);
        Planes &field = step.inTop ? top : bottom;
        const int row = step.inTop ? 4 : 3, col = step.inTop ? 50 : 20;
        field.Y(row, col) = uint8_t(field.Y(row, col) + step.delta0);
        field.Y(row, col + 1) = uint8_t(field.Y(row, col + 1) + step.delta1);
        // Touched pairs count again from the changed frame: the seven still
        // frames after it interpolate them too, the eighth weaves.
        const PairGrid touched = step.moving ? AllWovenBut(row, col) : AllPairs(true);
        for (int frame = 1; frame <= 8; ++frame) EXPECT_EQ(next(false), touched);
        EXPECT_EQ(next(false), AllPairs(true));
    }
}

TEST(DeinterlaceResources, FieldsAllocateNothing) {
    using namespace tessaly::testsupport;
    Session s(kGeometry);
    Planes top(kGeometry), bottom(kGeometry), out(kGeometry, true);
    FillFields(top, bottom);
    StartCountingAllocations();
    delete new std::vector<int>(10);
    ASSERT_GE(StopCountingAllocations(), 1) << "the counter must see allocations";

    StartCountingAllocations();
    int32_t failures = 0;
    for (int field = 0; field < 24; ++field)
        failures += s.Give(field % 2 ? bottom : top, field % 2 ? PIC_TYPE_BOTTOM_FIELD : PIC_TYPE_TOP_FIELD, out) != 0;
    EXPECT_EQ(StopCountingAllocations(), 0);
    EXPECT_EQ(failures, 0);
}

}  // namespace
