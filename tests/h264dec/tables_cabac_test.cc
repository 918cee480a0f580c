// CABAC tables: spot values of every init table of the standard (first,
// middle and last ctxIdx, I and each cabac_init_idc) from an independent
// transcription, the structure shared between slice types, and the
// arithmetic engine's state machine.
#include <gtest/gtest.h>

#include "h264dec/tables/tables.h"

namespace tessaly::h264 {
namespace {

struct Spot {
    int ctxIdx;
    int8_t mn[4][2];  // I (unused: {0, 0}), then cabac_init_idc 0..2
};

constexpr Spot kSpots[] = {
    {0, {{20, -15}, {20, -15}, {20, -15}, {20, -15}}},       {5, {{3, 74}, {3, 74}, {3, 74}, {3, 74}}},
    {10, {{7, 51}, {7, 51}, {7, 51}, {7, 51}}},               {11, {{0, 0}, {23, 33}, {22, 25}, {29, 16}}},
    {17, {{0, 0}, {5, 57}, {2, 65}, {26, 16}}},               {23, {{0, 0}, {17, 50}, {10, 54}, {14, 57}}},
    {24, {{0, 0}, {18, 64}, {26, 34}, {20, 40}}},             {31, {{0, 0}, {-20, 104}, {-15, 101}, {-22, 117}}},
    {39, {{0, 0}, {9, 45}, {8, 43}, {4, 55}}},                {40, {{0, 0}, {-3, 69}, {-2, 69}, {-11, 89}}},
    {46, {{0, 0}, {2, 88}, {-3, 100}, {6, 96}}},              {53, {{0, 0}, {0, 88}, {-5, 95}, {-1, 101}}},
    {54, {{0, 0}, {-7, 67}, {-1, 66}, {3, 55}}},              {56, {{0, 0}, {-4, 74}, {1, 70}, {-2, 75}}},
    {59, {{0, 0}, {1, 58}, {0, 61}, {1, 60}}},                {60, {{0, 41}, {0, 41}, {0, 41}, {0, 41}}},
    {64, {{-9, 83}, {-9, 83}, {-9, 83}, {-9, 83}}},           {69, {{3, 62}, {3, 62}, {3, 62}, {3, 62}}},
    {70, {{0, 11}, {0, 45}, {13, 15}, {7, 34}}},              {87, {{-16, 122}, {-7, 96}, {-7, 94}, {2, 84}}},
    {104, {{-22, 125}, {-8, 88}, {-9, 88}, {-13, 98}}},       {105, {{-7, 93}, {-2, 85}, {-13, 103}, {-4, 86}}},
    {135, {{-15, 100}, {2, 53}, {-5, 61}, {-15, 72}}},        {165, {{12, 72}, {9, 69}, {0, 89}, {-22, 127}}},
    {166, {{24, 0}, {11, 28}, {4, 45}, {4, 39}}},             {196, {{22, -17}, {30, -7}, {34, -30}, {33, -25}}},
    {226, {{2, 97}, {-9, 108}, {-10, 116}, {-24, 127}}},      {227, {{-3, 71}, {-6, 76}, {-23, 112}, {-24, 115}}},
    {251, {{-4, 65}, {2, 43}, {-9, 58}, {-7, 70}}},           {275, {{-14, 97}, {-8, 85}, {-4, 78}, {-10, 87}}},
    {277, {{-6, 93}, {-13, 106}, {-21, 126}, {-22, 127}}},    {307, {{-11, 97}, {7, 46}, {-6, 67}, {0, 68}}},
    {337, {{12, 70}, {26, 43}, {18, 50}, {25, 42}}},          {338, {{15, 6}, {14, 11}, {19, -6}, {17, -13}}},
    {368, {{36, -34}, {28, 0}, {39, -36}, {37, -14}}},        {398, {{19, 66}, {11, 86}, {11, 83}, {25, 61}}},
    {399, {{31, 21}, {12, 40}, {25, 32}, {21, 33}}},          {400, {{31, 31}, {11, 51}, {21, 49}, {19, 50}}},
    {401, {{25, 50}, {14, 59}, {21, 54}, {17, 61}}},          {402, {{-17, 120}, {-4, 79}, {-5, 85}, {-3, 78}}},
    {430, {{0, 54}, {-5, 48}, {-2, 52}, {-10, 56}}},          {459, {{14, 67}, {42, 62}, {47, 57}, {20, 64}}},
};

TEST(CabacInitTables, SpotValuesOfEveryStandardTable) {
    for (const Spot &s : kSpots) {
        EXPECT_EQ(kCabacInitI[s.ctxIdx][0], s.mn[0][0]) << "I m " << s.ctxIdx;
        EXPECT_EQ(kCabacInitI[s.ctxIdx][1], s.mn[0][1]) << "I n " << s.ctxIdx;
        for (int idc = 0; idc < 3; idc++) {
            EXPECT_EQ(kCabacInitP[idc][s.ctxIdx][0], s.mn[idc + 1][0]) << "P m " << idc << " " << s.ctxIdx;
            EXPECT_EQ(kCabacInitP[idc][s.ctxIdx][1], s.mn[idc + 1][1]) << "P n " << idc << " " << s.ctxIdx;
        }
    }
}

TEST(CabacInitTables, SharedRangesAreEqualAcrossSliceTypes) {
    // 0..10 and 60..69 have one column for all slice types; 276 has no context.
    for (int ctx = 0; ctx < 460; ctx++) {
        const bool shared = ctx <= 10 || (ctx >= 60 && ctx <= 69);
        for (int idc = 0; idc < 3 && shared; idc++) {
            EXPECT_EQ(kCabacInitP[idc][ctx][0], kCabacInitI[ctx][0]) << ctx;
            EXPECT_EQ(kCabacInitP[idc][ctx][1], kCabacInitI[ctx][1]) << ctx;
        }
        if (ctx >= 11 && ctx <= 59) {  // P/B-only syntax elements
            EXPECT_EQ(kCabacInitI[ctx][0], 0) << ctx;
            EXPECT_EQ(kCabacInitI[ctx][1], 0) << ctx;
        }
    }
    EXPECT_EQ(kCabacInitI[276][0], 0);
    EXPECT_EQ(kCabacInitI[276][1], 0);
    // The three P columns differ (a copy-paste slip would make two equal).
    int differ01 = 0, differ12 = 0;
    for (int ctx = 11; ctx < 460; ctx++) {
        differ01 += kCabacInitP[0][ctx][1] != kCabacInitP[1][ctx][1];
        differ12 += kCabacInitP[1][ctx][1] != kCabacInitP[2][ctx][1];
    }
    EXPECT_GT(differ01, 300);
    EXPECT_GT(differ12, 300);
}

// pStateIdx / valMPS of 9.3.1.1.
void InitState(const int8_t mn[2], int sliceQp, int &pStateIdx, int &valMps) {
    const int qp = sliceQp < 0 ? 0 : sliceQp > 51 ? 51 : sliceQp;
    int pre = ((mn[0] * qp) >> 4) + mn[1];
    pre = pre < 1 ? 1 : pre > 126 ? 126 : pre;
    pStateIdx = pre <= 63 ? 63 - pre : pre - 64;
    valMps = pre <= 63 ? 0 : 1;
}

TEST(CabacInitTables, DerivedStatesOfKnownContexts) {
    int state = 0, mps = 0;
    InitState(kCabacInitI[0], 26, state, mps);  // mb_type bin 0 of I slices at QP 26: 17
    EXPECT_EQ(state, 46);
    EXPECT_EQ(mps, 0);
    // mb_qp_delta contexts have m = 0: the same state at every QP, and
    // contexts 61..63 start equiprobable.
    for (int qp : {0, 26, 51}) {
        InitState(kCabacInitI[60], qp, state, mps);
        EXPECT_EQ(state, 22);
        for (int ctx = 61; ctx <= 63; ctx++) {
            InitState(kCabacInitI[ctx], qp, state, mps);
            EXPECT_EQ(state, 0);
            EXPECT_EQ(mps, 0);
        }
    }
    // Every context lands in a valid state for every QP.
    for (int qp = 0; qp <= 51; qp++)
        for (int ctx = 0; ctx < 460; ctx++) {
            InitState(kCabacInitP[1][ctx], qp, state, mps);
            ASSERT_GE(state, 0);
            ASSERT_LE(state, 62);
        }
}

TEST(CabacEngineTables, StateMachineShape) {
    EXPECT_EQ(kCabacRangeLps[0][0], 128);
    EXPECT_EQ(kCabacRangeLps[0][3], 240);
    EXPECT_EQ(kCabacRangeLps[63][0], 2);
    EXPECT_EQ(kCabacRangeLps[62][0], 6);
    EXPECT_EQ(kCabacRangeLps[62][3], 9);
    for (int s = 0; s < 64; s++) {
        for (int q = 1; q < 4 && s < 63; q++) EXPECT_GT(kCabacRangeLps[s][q], kCabacRangeLps[s][q - 1]) << s;
        if (s > 0 && s < 63) {
            for (int q = 0; q < 4; q++) EXPECT_LE(kCabacRangeLps[s][q], kCabacRangeLps[s - 1][q]) << s;
        }
        // The LPS range never exceeds the smallest range of its quarter.
        for (int q = 0; q < 4; q++) EXPECT_LE(kCabacRangeLps[s][q], 256 + 64 * q - 1);
    }
    for (int s = 0; s < 62; s++) EXPECT_EQ(kCabacTransIdxMps[s], s + 1);
    EXPECT_EQ(kCabacTransIdxMps[62], 62);
    EXPECT_EQ(kCabacTransIdxMps[63], 63);
    EXPECT_EQ(kCabacTransIdxLps[0], 0);
    EXPECT_EQ(kCabacTransIdxLps[63], 63);
    for (int s = 1; s < 63; s++) {
        EXPECT_LT(kCabacTransIdxLps[s], s);
        EXPECT_GE(kCabacTransIdxLps[s], kCabacTransIdxLps[s - 1]);
    }
    EXPECT_EQ(kCabacTransIdxLps[62], 38);
}

}  // namespace
}  // namespace tessaly::h264
