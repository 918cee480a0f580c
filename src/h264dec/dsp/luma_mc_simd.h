// The 6-tap arithmetic of the vector luma interpolation kernels, once for
// both register widths (see simd_ops.h), on 16-bit lanes of 8-bit samples.
// Loading rows and packing the results to bytes is left to each instruction
// set's file.
#pragma once

#include "h264dec/dsp/simd_ops.h"

namespace tessaly::h264 {
namespace {

// a - 5b + 20c + 20d - 5e + f, as a + f + 5 * (4(c + d) - (b + e)): the sums
// of 8-bit samples fit in 16 bits.
// The 6-tap filter as three pairs of signed byte taps, for byte-pair
// multiply-adds (pmaddubsw): (1, -5), (20, 20) and (-5, 1), each pair one
// 16-bit word, first tap in the low byte. No sum of samples by them can
// saturate.
inline constexpr int16_t kTapPairOuter0 = int16_t(0xFB01);
inline constexpr int16_t kTapPairInner = int16_t(0x1414);
inline constexpr int16_t kTapPairOuter4 = int16_t(0x01FB);

template <class V>
inline typename V::T Tap6(typename V::T a, typename V::T b, typename V::T c, typename V::T d, typename V::T e,
                          typename V::T f) {
    const typename V::T inner = V::Sub16(V::template Shl16<2>(V::Add16(c, d)), V::Add16(b, e));
    return V::Add16(V::Add16(a, f), V::Mul16(inner, V::Set16(5)));
}

// (sum + 16) >> 5, before the clip of packing to bytes.
template <class V>
inline typename V::T Round5(typename V::T sum) {
    return V::template Sar16<5>(V::Add16(sum, V::Set16(16)));
}

// j's second pass over the unrounded 16-bit horizontal sums m0..m5 of rows
// y-2..y+3: (m0 + m5 - 5(m1 + m4) + 20(m2 + m3) + 512) >> 10 needs 32 bits,
// so the terms are paired for the multiply-add; back to 16-bit lanes in order.
template <class V>
inline typename V::T Tap6Mid(typename V::T m0, typename V::T m1, typename V::T m2, typename V::T m3, typename V::T m4,
                             typename V::T m5) {
    using T = typename V::T;
    const T s05 = V::Add16(m0, m5), s14 = V::Add16(m1, m4), s23 = V::Add16(m2, m3);
    const T k1m5 = V::Set32(static_cast<int32_t>(0xFFFB0001u));  // (1, -5) pairs
    const T k20r = V::Set32((512 << 16) | 20);                   // (20, 512) pairs
    const T one = V::Set16(1);
    const T lo = V::Add32(V::MulAdd16(V::UnpackLo16(s05, s14), k1m5), V::MulAdd16(V::UnpackLo16(s23, one), k20r));
    const T hi = V::Add32(V::MulAdd16(V::UnpackHi16(s05, s14), k1m5), V::MulAdd16(V::UnpackHi16(s23, one), k20r));
    return V::PackS32(V::template Sar32<10>(lo), V::template Sar32<10>(hi));
}

}  // namespace
}  // namespace tessaly::h264
