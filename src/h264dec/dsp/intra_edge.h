// Directional intra prediction shared by the 4x4 and 8x8 predictors.
//
// Both sizes use the same formulas once the neighbours are laid out as one
// line: e[0..N-1] the left column bottom to top, e[N] the top-left sample,
// e[N+1..3N] the top row and top-right, e[3N+1] a copy of the last top-right
// sample. With that, every diagonal mode is a 2-tap average or 3-tap filter
// at a position that moves by one per row or column, and the special cases at
// the ends of the standard's formulas fall out of the padding.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tessaly::h264::intra_edge {

template <int N>
struct Edge {
    uint8_t e[3 * N + 2];
    uint8_t Left(int y) const { return e[N - 1 - y]; }
    uint8_t Top(int x) const { return e[N + 1 + x]; }
    // (e[k] + e[k+1] + 1) >> 1 and (e[k-1] + 2 e[k] + e[k+1] + 2) >> 2.
    int Avg2(int k) const { return (e[k] + e[k + 1] + 1) >> 1; }
    int Tap3(int k) const { return (e[k - 1] + 2 * e[k] + e[k + 1] + 2) >> 2; }
};

template <int N>
inline void Vertical(uint8_t *dst, ptrdiff_t stride, const Edge<N> &E) {
    for (int y = 0; y < N; y++)
        for (int x = 0; x < N; x++) dst[y * stride + x] = E.Top(x);
}

template <int N>
inline void Horizontal(uint8_t *dst, ptrdiff_t stride, const Edge<N> &E) {
    for (int y = 0; y < N; y++)
        for (int x = 0; x < N; x++) dst[y * stride + x] = E.Left(y);
}

template <int N>
inline void Fill(uint8_t *dst, ptrdiff_t stride, int value) {
    for (int y = 0; y < N; y++)
        for (int x = 0; x < N; x++) dst[y * stride + x] = static_cast<uint8_t>(value);
}

// pred[y][x] = 3-tap at top x+y (the last one, x = y = N-1, meets the
// padding copy and becomes (t[2N-2] + 3 t[2N-1] + 2) >> 2).
template <int N>
inline void DiagonalDownLeft(uint8_t *dst, ptrdiff_t stride, const Edge<N> &E) {
    for (int y = 0; y < N; y++)
        for (int x = 0; x < N; x++) dst[y * stride + x] = static_cast<uint8_t>(E.Tap3(N + 2 + x + y));
}

template <int N>
inline void DiagonalDownRight(uint8_t *dst, ptrdiff_t stride, const Edge<N> &E) {
    for (int y = 0; y < N; y++)
        for (int x = 0; x < N; x++) dst[y * stride + x] = static_cast<uint8_t>(E.Tap3(N + x - y));
}

// Rows 0 and 1 come from the top row; every later row repeats the row two
// above shifted right by one, with a left-column filter value entering.
template <int N>
inline void VerticalRight(uint8_t *dst, ptrdiff_t stride, const Edge<N> &E) {
    for (int x = 0; x < N; x++) {
        dst[x] = static_cast<uint8_t>(E.Avg2(N + x));
        dst[stride + x] = static_cast<uint8_t>(E.Tap3(N + x));
    }
    for (int y = 2; y < N; y++) {
        uint8_t *row = dst + y * stride;
        const uint8_t *above2 = row - 2 * stride;
        for (int x = N - 1; x >= 1; x--) row[x] = above2[x - 1];
        row[0] = static_cast<uint8_t>(E.Tap3(N + 1 - y));
    }
}

// Row 0 from the top row and the corner; every later row repeats the row
// above shifted right by two, with an average and a 3-tap of the left column
// entering.
template <int N>
inline void HorizontalDown(uint8_t *dst, ptrdiff_t stride, const Edge<N> &E) {
    dst[0] = static_cast<uint8_t>(E.Avg2(N - 1));
    dst[1] = static_cast<uint8_t>(E.Tap3(N));
    for (int x = 2; x < N; x++) dst[x] = static_cast<uint8_t>(E.Tap3(N + x - 1));
    for (int y = 1; y < N; y++) {
        uint8_t *row = dst + y * stride;
        const uint8_t *above = row - stride;
        for (int x = N - 1; x >= 2; x--) row[x] = above[x - 2];
        row[0] = static_cast<uint8_t>(E.Avg2(N - 1 - y));
        row[1] = static_cast<uint8_t>(E.Tap3(N - y));
    }
}

template <int N>
inline void VerticalLeft(uint8_t *dst, ptrdiff_t stride, const Edge<N> &E) {
    for (int y = 0; y < N; y++) {
        const int k = y >> 1;
        for (int x = 0; x < N; x++)
            dst[y * stride + x] = static_cast<uint8_t>((y & 1) ? E.Tap3(N + 2 + x + k) : E.Avg2(N + 1 + x + k));
    }
}

// Works on the left column extended downwards with copies of its last sample,
// which turns the standard's end cases into the general formulas.
template <int N>
inline void HorizontalUp(uint8_t *dst, ptrdiff_t stride, const Edge<N> &E) {
    int l[2 * N + 2];
    for (int y = 0; y < N; y++) l[y] = E.Left(y);
    for (int y = N; y < 2 * N + 2; y++) l[y] = E.Left(N - 1);
    for (int y = 0; y < N; y++) {
        for (int k = 0; k < N / 2; k++) {
            const int i = y + k;
            dst[y * stride + 2 * k] = static_cast<uint8_t>((l[i] + l[i + 1] + 1) >> 1);
            dst[y * stride + 2 * k + 1] = static_cast<uint8_t>((l[i] + 2 * l[i + 1] + l[i + 2] + 2) >> 2);
        }
    }
}

}  // namespace tessaly::h264::intra_edge
