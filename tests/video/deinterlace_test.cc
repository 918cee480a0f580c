// The exported deinterlacer on constructed pictures: frame layout, the motion
// decision (weave after eight still frames, per pixel pair), argument errors
// and their codes, and the version call. The edge-directed interpolation is
// pinned bit for bit by the field-stream port's reference frames.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "allocation_counter.h"
#include "tessaly/tq_deinterlace.h"


namespace {

constexpr uint8_t kUnwritten = 0xEE;  // output filler that no test picture produces

// Strides wider than the rows, so that row-step mix-ups show.
constexpr tqDEINTERLACE_PARA_S kGeometry = {132, 8, 140, 70, 150, 80};

// One field as the caller hands it over: luma fieldHeight x yStride, chroma
// planes of exactly the bytes the calls may read.
struct Field {
    explicit Field(const tqDEINTERLACE_PARA_S &p)
        : stride(p.yStride),
          uvStride(p.uvStride),
          y(size_t(p.fieldHeight) * p.yStride, 0),
          u(size_t(p.fieldHeight) * p.uvStride / 2, 0),
          v(size_t(p.fieldHeight) * p.uvStride / 2, 0) {}
    uint8_t &Y(int row, int col) { return y[size_t(row) * stride + col]; }
    uint8_t &U(int row, int col) { return u[size_t(row) * uvStride + col]; }
    uint8_t &V(int row, int col) { return v[size_t(row) * uvStride + col]; }
    int stride, uvStride;
    std::vector<uint8_t> y, u, v;
};

// The output frame, filled with kUnwritten.
struct Frame {
    explicit Frame(const tqDEINTERLACE_PARA_S &p)
        : stride(p.outYStride),
          uvStride(p.outUvStride),
          y(size_t(2 * p.fieldHeight) * p.outYStride, kUnwritten),
          u(size_t(p.fieldHeight) * p.outUvStride, kUnwritten),
          v(size_t(p.fieldHeight) * p.outUvStride, kUnwritten) {}
    tqDEINTERLACE_FRAME_S Planes() { return {y.data(), u.data(), v.data()}; }
    uint8_t Y(int row, int col) const { return y[size_t(row) * stride + col]; }
    uint8_t U(int row, int col) const { return u[size_t(row) * uvStride + col]; }
    uint8_t V(int row, int col) const { return v[size_t(row) * uvStride + col]; }
    void Clear() {
        std::fill(y.begin(), y.end(), kUnwritten);
        std::fill(u.begin(), u.end(), kUnwritten);
        std::fill(v.begin(), v.end(), kUnwritten);
    }
    int stride, uvStride;
    std::vector<uint8_t> y, u, v;
};

class Session {
public:
    explicit Session(const tqDEINTERLACE_PARA_S &p) : para(p) {
        EXPECT_EQ(TQ_InitDeinterlace(&handle, p), TQ_DEINTERLACE_OK);
    }
    ~Session() {
        if (handle) TQ_ReleaseDeinterlace(handle);
    }
    int32_t Give(Field &f, tqPIC_TYPE_E type, Frame &out) {
        return TQ_Deinterlace(handle, out.Planes(), f.y.data(), f.u.data(), f.v.data(), type);
    }
    // One frame: its top field, then its bottom field.
    void GiveFrame(Field &top, Field &bottom, Frame &out) {
        ASSERT_EQ(Give(top, PIC_TYPE_TOP_FIELD, out), TQ_DEINTERLACE_OK);
        ASSERT_EQ(Give(bottom, PIC_TYPE_BOTTOM_FIELD, out), TQ_DEINTERLACE_OK);
    }
    tqDEINTERLACE_PARA_S para;
    void *handle = nullptr;
};

// Top field rows of one value each, far from grey: interpolating between two
// such rows gives their average in every direction.
int TopValue(int row) { return 20 + 8 * row; }
void FillTop(Field &f, int height, int width) {
    for (int r = 0; r < height; ++r)
        for (int c = 0; c < width; ++c) f.Y(r, c) = uint8_t(TopValue(r));
}
// Bottom field with texture, far above anything the top rows interpolate to.
int BottomValue(int row, int col) { return 150 + (3 * col + 5 * row) % 40; }
void FillBottom(Field &f, int height, int width) {
    for (int r = 0; r < height; ++r)
        for (int c = 0; c < width; ++c) f.Y(r, c) = uint8_t(BottomValue(r, c));
}

// Pairs (x, x + 1) of the interpolated rows 2k + 1, k = 1..fieldHeight-2.
struct PairGrid {
    int rows, pairs;
    std::vector<bool> woven;
    bool At(int k, int x) const { return woven[size_t(k - 1) * pairs + (x - 2) / 2]; }
    void Set(int k, int x, bool w) { woven[size_t(k - 1) * pairs + (x - 2) / 2] = w; }
};
PairGrid AllPairs(const tqDEINTERLACE_PARA_S &p, bool woven) {
    PairGrid g{p.fieldHeight - 2, (p.width - 4) / 2, {}};
    g.woven.assign(size_t(g.rows) * g.pairs, woven);
    return g;
}

// Classifies every pair of the output: woven (both pixels the bottom field's)
// or interpolated (both pixels the average of the uniform top rows around
// them). Anything else is a failure.
PairGrid Classify(const Frame &out, Field &bottom, const tqDEINTERLACE_PARA_S &p) {
    PairGrid g = AllPairs(p, false);
    for (int k = 1; k <= p.fieldHeight - 2; ++k) {
        const int interpolated = (TopValue(k) + TopValue(k + 1)) / 2;
        for (int x = 2; x + 1 <= p.width - 3; x += 2) {
            const uint8_t p0 = out.Y(2 * k + 1, x), p1 = out.Y(2 * k + 1, x + 1);
            if (p0 == bottom.Y(k, x) && p1 == bottom.Y(k, x + 1)) {
                g.Set(k, x, true);
            } else {
                EXPECT_TRUE(p0 == interpolated && p1 == interpolated)
                    << "row " << 2 * k + 1 << " pair " << x << ": " << int(p0) << "," << int(p1);
            }
        }
    }
    return g;
}

void ExpectGrid(const PairGrid &got, const PairGrid &want, const char *what) {
    for (int k = 1; k <= got.rows; ++k)
        for (int x = 2; x < 2 + 2 * got.pairs; x += 2)
            EXPECT_EQ(got.At(k, x), want.At(k, x)) << what << ": row " << 2 * k + 1 << " pair " << x;
}

// ---------------------------------------------------------------------------
// Creation

TEST(DeinterlaceInit, AcceptsMinimalGeometryAndRefusesEachParameterBelowItsRange) {
    void *handle = nullptr;
    EXPECT_EQ(TQ_InitDeinterlace(&handle, {128, 4, 128, 64, 128, 64}), TQ_DEINTERLACE_OK);
    EXPECT_NE(handle, nullptr);
    EXPECT_EQ(TQ_ReleaseDeinterlace(handle), TQ_DEINTERLACE_OK);

    // An odd width halves with truncation for the chroma strides.
    handle = nullptr;
    EXPECT_EQ(TQ_InitDeinterlace(&handle, {129, 4, 129, 64, 129, 64}), TQ_DEINTERLACE_OK);
    EXPECT_EQ(TQ_ReleaseDeinterlace(handle), TQ_DEINTERLACE_OK);

    const tqDEINTERLACE_PARA_S refused[] = {
        {120, 8, 200, 100, 200, 100}, {127, 8, 200, 100, 200, 100}, {-128, 8, 200, 100, 200, 100},
        {128, 3, 128, 64, 128, 64},   {128, 0, 128, 64, 128, 64},   {128, 4, 127, 64, 128, 64},
        {128, 4, 128, 63, 128, 64},   {128, 4, 128, 64, 127, 64},   {128, 4, 128, 64, 128, 63},
        {129, 4, 129, 64, 128, 64},   {129, 4, 129, 63, 129, 64},
    };
    for (const auto &p : refused) {
        int marker = 0;
        handle = &marker;  // a failed creation must clear whatever the caller had
        EXPECT_EQ(TQ_InitDeinterlace(&handle, p), TQ_DEINTERLACE_ERR_PARAM)
            << p.width << " " << p.fieldHeight << " " << p.yStride << " " << p.uvStride << " " << p.outYStride
            << " " << p.outUvStride;
        EXPECT_EQ(handle, nullptr);
    }
}

TEST(DeinterlaceInit, NullHandleAddressComesFirstAndHugeGeometryIsAMemoryFailure) {
    EXPECT_EQ(TQ_InitDeinterlace(nullptr, kGeometry), TQ_DEINTERLACE_ERR_NULL);
    EXPECT_EQ(TQ_InitDeinterlace(nullptr, {1, 1, 1, 1, 1, 1}), TQ_DEINTERLACE_ERR_NULL);

    // Valid ranges, but far more history than any machine should hand out;
    // the products overflow 32 bits, which must not wrap into a small block.
    const tqDEINTERLACE_PARA_S huge[] = {
        {128, 0x7fffffff, 0x7fffffff, 64, 128, 64},
        {128, 65536, 65536, 64, 128, 64},
        {128, 4, 128, 0x7fffffff, 128, 64},
    };
    for (const auto &p : huge) {
        int marker = 0;
        void *handle = &marker;
        EXPECT_EQ(TQ_InitDeinterlace(&handle, p), TQ_DEINTERLACE_ERR_MEMORY);
        EXPECT_EQ(handle, nullptr);
    }
}

// ---------------------------------------------------------------------------
// Argument errors and the small calls

TEST(DeinterlaceCalls, NullPointersAndBadPictureTypesAreRefusedWithoutSideEffects) {
    const tqDEINTERLACE_PARA_S &p = kGeometry;
    Field top(p), bottom(p);
    FillTop(top, p.fieldHeight, p.width);
    FillBottom(bottom, p.fieldHeight, p.width);
    Frame reference(p), out(p);

    // Two identical sessions; the second also gets every wrong call between
    // its fields. Its frames must stay identical to the first one's, so the
    // wrong calls did not touch the history or the still counters.
    Session clean(p), probed(p);
    for (int frame = 0; frame < 10; ++frame) {
        clean.GiveFrame(top, bottom, reference);
        for (tqPIC_TYPE_E type : {PIC_TYPE_TOP_FIELD, PIC_TYPE_BOTTOM_FIELD}) {
            out.Clear();
            Field &f = type == PIC_TYPE_TOP_FIELD ? top : bottom;
            // Each of the seven pointers null in turn (handle, frame y/u/v, y, u, v).
            for (int missing = 0; missing < 7; ++missing) {
                void *handle = missing == 0 ? nullptr : probed.handle;
                tqDEINTERLACE_FRAME_S planes = out.Planes();
                const uint8_t *in[3] = {f.y.data(), f.u.data(), f.v.data()};
                uint8_t *tqDEINTERLACE_FRAME_S::*const outPlanes[3] = {
                    &tqDEINTERLACE_FRAME_S::y, &tqDEINTERLACE_FRAME_S::u, &tqDEINTERLACE_FRAME_S::v};
                if (missing >= 1 && missing <= 3) planes.*outPlanes[missing - 1] = nullptr;
                if (missing >= 4) in[missing - 4] = nullptr;
                EXPECT_EQ(TQ_Deinterlace(handle, planes, in[0], in[1], in[2], type), TQ_DEINTERLACE_ERR_NULL)
                    << missing;
            }
            for (int32_t bad : {0, 3, -1, 0x102}) {
                EXPECT_EQ(TQ_Deinterlace(probed.handle, out.Planes(), f.y.data(), f.u.data(), f.v.data(),
                                         tqPIC_TYPE_E(bad)),
                          TQ_DEINTERLACE_ERR_PIC_TYPE)
                    << bad;
            }
            // A null pointer outranks a bad type.
            EXPECT_EQ(TQ_Deinterlace(probed.handle, out.Planes(), nullptr, f.u.data(), f.v.data(), tqPIC_TYPE_E(3)),
                      TQ_DEINTERLACE_ERR_NULL);
            EXPECT_EQ(out.y, Frame(p).y);
            EXPECT_EQ(out.u, Frame(p).u);
            EXPECT_EQ(out.v, Frame(p).v);
            ASSERT_EQ(probed.Give(f, type, out), TQ_DEINTERLACE_OK);
        }
        EXPECT_EQ(out.y, reference.y) << "frame " << frame + 1;
        EXPECT_EQ(out.u, reference.u) << "frame " << frame + 1;
    }
}

TEST(DeinterlaceCalls, ReleaseAndVersion) {
    EXPECT_EQ(TQ_ReleaseDeinterlace(nullptr), TQ_DEINTERLACE_ERR_NULL);

    char buffer[12];
    std::memset(buffer, 'x', sizeof buffer);
    char *address = buffer;
    EXPECT_EQ(TQ_GetVersion(&address), TQ_DEINTERLACE_OK);
    EXPECT_EQ(address, buffer);
    EXPECT_EQ(std::memcmp(buffer, "1.1.0.0\0", 8), 0);
    std::string expected = std::string("1.1.0.0") + '\0' + "xxxx";
    EXPECT_EQ(std::string(buffer, sizeof buffer), expected) << "exactly 8 bytes written";

    EXPECT_EQ(TQ_GetVersion(nullptr), TQ_DEINTERLACE_ERR_NULL);
    char *nowhere = nullptr;
    EXPECT_EQ(TQ_GetVersion(&nowhere), TQ_DEINTERLACE_ERR_NULL);
}

// ---------------------------------------------------------------------------
// Frame layout

TEST(DeinterlaceLayout, TopFieldWritesNothingAndBottomFieldWritesExactlyThePicture) {
    const tqDEINTERLACE_PARA_S &p = kGeometry;
    Session s(p);
    Field top(p), bottom(p);
    FillTop(top, p.fieldHeight, p.width);
    FillBottom(bottom, p.fieldHeight, p.width);
    for (int j = 0; j < p.fieldHeight / 2; ++j)
        for (int c = 0; c < p.width / 2; ++c) {
            top.U(j, c) = uint8_t(40 + 3 * j + c % 7);
            top.V(j, c) = uint8_t(90 + 5 * j + c % 5);
            bottom.U(j, c) = 1;
            bottom.V(j, c) = 2;
        }

    Frame out(p);
    ASSERT_EQ(s.Give(top, PIC_TYPE_TOP_FIELD, out), TQ_DEINTERLACE_OK);
    EXPECT_EQ(out.y, Frame(p).y);
    EXPECT_EQ(out.u, Frame(p).u);
    EXPECT_EQ(out.v, Frame(p).v);

    ASSERT_EQ(s.Give(bottom, PIC_TYPE_BOTTOM_FIELD, out), TQ_DEINTERLACE_OK);
    for (int r = 0; r < 2 * p.fieldHeight; ++r) {
        for (int c = 0; c < p.width; ++c) ASSERT_NE(out.Y(r, c), kUnwritten) << r << "," << c;
        for (int c = p.width; c < p.outYStride; ++c) ASSERT_EQ(out.Y(r, c), kUnwritten) << "padding " << r;
    }
    // Even rows are the top field's; the first and the last top row also fill
    // the odd row next to them.
    for (int c = 0; c < p.width; ++c) {
        EXPECT_EQ(out.Y(0, c), TopValue(0));
        EXPECT_EQ(out.Y(1, c), TopValue(0));
        for (int k = 1; k <= p.fieldHeight - 2; ++k) EXPECT_EQ(out.Y(2 * k, c), TopValue(k)) << k;
        EXPECT_EQ(out.Y(2 * p.fieldHeight - 2, c), TopValue(p.fieldHeight - 1));
        EXPECT_EQ(out.Y(2 * p.fieldHeight - 1, c), TopValue(p.fieldHeight - 1));
    }
    // The first frame compares against grey history: everything interpolates.
    ExpectGrid(Classify(out, bottom, p), AllPairs(p, false), "first frame");
    // Chroma: the top field's rows, each twice; the bottom's chroma is unused.
    for (int j = 0; j < p.fieldHeight / 2; ++j) {
        for (int c = 0; c < p.width / 2; ++c) {
            for (int r : {2 * j, 2 * j + 1}) {
                EXPECT_EQ(out.U(r, c), top.U(j, c)) << r << "," << c;
                EXPECT_EQ(out.V(r, c), top.V(j, c)) << r << "," << c;
            }
        }
    }
    for (int r = 0; r < p.fieldHeight; ++r)
        for (int c = p.width / 2; c < p.outUvStride; ++c) {
            EXPECT_EQ(out.U(r, c), kUnwritten);
            EXPECT_EQ(out.V(r, c), kUnwritten);
        }
}

TEST(DeinterlaceLayout, OddSizesAtMinimalStrides) {
    // Odd width: column width-3 belongs to no pair and comes from the row
    // above, like the two edge columns. Odd field height: 2 * (5 / 2) chroma
    // rows, the fifth left alone.
    const tqDEINTERLACE_PARA_S p = {131, 5, 131, 65, 131, 65};
    Session s(p);
    Field top(p), bottom(p);
    // Columns carry a ramp so that copies from the wrong column show.
    for (int r = 0; r < p.fieldHeight; ++r)
        for (int c = 0; c < p.width; ++c) {
            top.Y(r, c) = uint8_t(10 * r + (c % 50));
            bottom.Y(r, c) = 250;
        }
    for (int j = 0; j < 2; ++j)
        for (int c = 0; c < p.width / 2; ++c) top.U(j, c) = top.V(j, c) = uint8_t(3 * c + j);
    Frame out(p);
    s.GiveFrame(top, bottom, out);

    for (int k = 1; k <= p.fieldHeight - 2; ++k) {
        for (int c : {0, 1, p.width - 3, p.width - 2, p.width - 1})
            EXPECT_EQ(out.Y(2 * k + 1, c), top.Y(k, c)) << "row " << 2 * k + 1 << " col " << c;
        // On a linear ramp every direction averages to the same value.
        for (int c = 2; c + 1 <= p.width - 3; ++c) {
            if (c % 50 == 0 || c % 50 == 49) continue;  // the ramp wraps next to c
            EXPECT_EQ(out.Y(2 * k + 1, c), (top.Y(k, c) + top.Y(k + 1, c)) / 2) << k << "," << c;
        }
    }
    for (int c = 0; c < p.width; ++c) {
        EXPECT_EQ(out.Y(8, c), top.Y(4, c));
        EXPECT_EQ(out.Y(9, c), top.Y(4, c));
    }
    for (int c = 0; c < p.width / 2; ++c) {
        for (int r = 0; r < 4; ++r) EXPECT_EQ(out.U(r, c), top.U(r / 2, c)) << r;
        EXPECT_EQ(out.U(4, c), kUnwritten);
        EXPECT_EQ(out.V(4, c), kUnwritten);
    }
}

TEST(DeinterlaceLayout, FrameUsesTheLatestTopFieldAndItsChroma) {
    const tqDEINTERLACE_PARA_S &p = kGeometry;
    Session s(p);
    Field first(p), second(p), bottom(p);
    for (int r = 0; r < p.fieldHeight; ++r)
        for (int c = 0; c < p.width; ++c) {
            first.Y(r, c) = 5;
            second.Y(r, c) = uint8_t(TopValue(r));
        }
    std::fill(first.u.begin(), first.u.end(), 7);
    std::fill(second.u.begin(), second.u.end(), 77);
    FillBottom(bottom, p.fieldHeight, p.width);
    Frame out(p);
    // Nothing checks alternation: two top fields simply shift the history.
    ASSERT_EQ(s.Give(first, PIC_TYPE_TOP_FIELD, out), TQ_DEINTERLACE_OK);
    ASSERT_EQ(s.Give(second, PIC_TYPE_TOP_FIELD, out), TQ_DEINTERLACE_OK);
    ASSERT_EQ(s.Give(bottom, PIC_TYPE_BOTTOM_FIELD, out), TQ_DEINTERLACE_OK);
    EXPECT_EQ(out.Y(0, 40), TopValue(0));
    EXPECT_EQ(out.Y(6, 40), TopValue(3));
    EXPECT_EQ(out.U(3, 10), 77);
    ExpectGrid(Classify(out, bottom, p), AllPairs(p, false), "after two top fields");
}

TEST(DeinterlaceLayout, BottomFieldFirstBuildsFromTheGreyHistory) {
    const tqDEINTERLACE_PARA_S &p = kGeometry;
    Session s(p);
    Field bottom(p);
    FillBottom(bottom, p.fieldHeight, p.width);
    std::fill(bottom.u.begin(), bottom.u.end(), 3);
    Frame out(p);
    ASSERT_EQ(s.Give(bottom, PIC_TYPE_BOTTOM_FIELD, out), TQ_DEINTERLACE_OK);
    for (int r = 0; r < 2 * p.fieldHeight; ++r)
        for (int c = 0; c < p.width; ++c) ASSERT_EQ(out.Y(r, c), 128) << r << "," << c;
    for (int r = 0; r < p.fieldHeight; ++r)
        for (int c = 0; c < p.width / 2; ++c) ASSERT_EQ(out.U(r, c), 128) << r << "," << c;
}

// ---------------------------------------------------------------------------
// Motion decision

class DeinterlaceMotion : public ::testing::Test {
protected:
    DeinterlaceMotion() : p(kGeometry), session(p), top(p), bottom(p), out(p) {
        FillTop(top, p.fieldHeight, p.width);
        FillBottom(bottom, p.fieldHeight, p.width);
    }
    PairGrid Next() {
        out.Clear();
        session.GiveFrame(top, bottom, out);
        return Classify(out, bottom, p);
    }
    // Runs still frames until every pair weaves (frame 9 after creation).
    void SettleToWeave() {
        for (int frame = 1; frame <= 9; ++frame) Next();
        ExpectGrid(Classify(out, bottom, p), AllPairs(p, true), "settled");
    }
    // Pairs (k, x) whose 2x2 window covers field pixel (row, col).
    PairGrid PairsCovering(int row, int col) const {
        PairGrid g = AllPairs(p, true);
        const int x = col - col % 2;
        for (int k : {row - 1, row})
            if (k >= 1 && k <= p.fieldHeight - 2 && x >= 2 && x + 1 <= p.width - 3) g.Set(k, x, false);
        return g;
    }
    tqDEINTERLACE_PARA_S p;
    Session session;
    Field top, bottom;
    Frame out;
};

TEST_F(DeinterlaceMotion, StillPictureWeavesFromTheNinthFrame) {
    for (int frame = 1; frame <= 8; ++frame) {
        SCOPED_TRACE(frame);
        ExpectGrid(Next(), AllPairs(p, false), "interpolated");
    }
    for (int frame = 9; frame <= 12; ++frame) {
        SCOPED_TRACE(frame);
        ExpectGrid(Next(), AllPairs(p, true), "woven");
        // Weaving never reaches the edge columns: those stay the top field's.
        for (int k = 1; k <= p.fieldHeight - 2; ++k)
            for (int c : {0, 1, p.width - 2, p.width - 1}) EXPECT_EQ(out.Y(2 * k + 1, c), TopValue(k));
    }
}

TEST_F(DeinterlaceMotion, OneMovingFrameRestartsTheCountOfOnlyTheTouchedPairs) {
    SettleToWeave();
    // An odd column: its pair is the one starting one column to the left;
    // the rows on both sides of the changed bottom row are affected.
    bottom.Y(3, 21) = uint8_t(bottom.Y(3, 21) - 60);
    const PairGrid touched = PairsCovering(3, 21);
    ExpectGrid(Next(), touched, "moving frame");
    // The picture is still again, but the touched pairs count from 1.
    for (int frame = 2; frame <= 8; ++frame) {
        SCOPED_TRACE(frame);
        ExpectGrid(Next(), touched, "recounting");
    }
    ExpectGrid(Next(), AllPairs(p, true), "eighth still frame after the motion");
}

TEST_F(DeinterlaceMotion, ThresholdIsFiftyOnTheSignedWindowSum) {
    SettleToWeave();
    struct Step {
        int delta0, delta1;  // added to bottom pixels (3, 20) and (3, 21)
        bool moving;
    };
    // Each step changes the picture relative to the previous frame only.
    for (const Step &step : {Step{49, 0, false}, Step{-49, 0, false}, Step{0, 50, true}, Step{0, -50, true},
                             Step{40, -40, false}, Step{-25, -25, true}}) {
        for (int frame = 1; frame <= 8; ++frame) Next();  // weave everywhere again
        SCOPED_TRACE(testing::Message() << step.delta0 << "," << step.delta1);
        bottom.Y(3, 20) = uint8_t(bottom.Y(3, 20) + step.delta0);
        bottom.Y(3, 21) = uint8_t(bottom.Y(3, 21) + step.delta1);
        ExpectGrid(Next(), step.moving ? PairsCovering(3, 20) : AllPairs(p, true), "changed frame");
    }
}

TEST_F(DeinterlaceMotion, TopFieldMotionAlsoStopsWeaving) {
    SettleToWeave();
    // One top pixel: its windows lie in the rows above and below it. The
    // pixels' own values change too, so only check woven or not.
    top.Y(4, 50) = uint8_t(top.Y(4, 50) + 50);
    out.Clear();
    session.GiveFrame(top, bottom, out);
    const PairGrid want = PairsCovering(4, 50);
    for (int k = 1; k <= p.fieldHeight - 2; ++k)
        for (int x = 2; x + 1 <= p.width - 3; x += 2) {
            const bool woven = out.Y(2 * k + 1, x) == bottom.Y(k, x) && out.Y(2 * k + 1, x + 1) == bottom.Y(k, x + 1);
            EXPECT_EQ(woven, want.At(k, x)) << "row " << 2 * k + 1 << " pair " << x;
        }
}

// ---------------------------------------------------------------------------
// Resources

TEST(DeinterlaceResources, FieldsAllocateNothing) {
    using namespace tessaly::testsupport;
    const tqDEINTERLACE_PARA_S &p = kGeometry;
    Session s(p);
    Field top(p), bottom(p);
    FillTop(top, p.fieldHeight, p.width);
    FillBottom(bottom, p.fieldHeight, p.width);
    Frame out(p);

    StartCountingAllocations();
    auto *probe = new std::vector<int>(10);
    const long probeCount = StopCountingAllocations();
    delete probe;
    ASSERT_GE(probeCount, 1) << "the counter must see allocations";

    StartCountingAllocations();
    int32_t failures = 0;
    for (int frame = 0; frame < 12; ++frame) {
        failures += s.Give(top, PIC_TYPE_TOP_FIELD, out) != TQ_DEINTERLACE_OK;
        failures += s.Give(bottom, PIC_TYPE_BOTTOM_FIELD, out) != TQ_DEINTERLACE_OK;
    }
    const long allocations = StopCountingAllocations();
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(allocations, 0);
}

}  // namespace
