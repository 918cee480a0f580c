// The deblocking filter arithmetic of the vector kernels, once for both
// register widths (see simd_ops.h): every line of an edge is one 16-bit lane,
// and the results match the C kernels exactly. Getting the lines into lanes
// and back is left to each instruction set's file.
#pragma once

#include <cstdint>

#include "h264dec/dsp/simd_ops.h"

namespace tessaly::h264 {
namespace {

// A normal luma edge that changes nothing: every segment has tC0 -1.
inline bool LumaEdgeSkipped(const int8_t tc0[4]) { return (tc0[0] & tc0[1] & tc0[2] & tc0[3]) < 0; }

// Lines whose samples pass |p0 - q0| < alpha, |p1 - p0| < beta, |q1 - q0| < beta.
template <class V>
inline typename V::T EdgeMask(typename V::T p1, typename V::T p0, typename V::T q0, typename V::T q1,
                              typename V::T alpha, typename V::T beta) {
    const typename V::T a = V::Less16(V::AbsDiff16(p0, q0), alpha);
    const typename V::T b = V::And(V::Less16(V::AbsDiff16(p1, p0), beta), V::Less16(V::AbsDiff16(q1, q0), beta));
    return V::And(a, b);
}

// The unclipped change of p0 and q0 under bS 1..3: (4(q0 - p0) + p1 - q1 + 4) >> 3.
template <class V>
inline typename V::T NormalDelta(typename V::T p1, typename V::T p0, typename V::T q0, typename V::T q1) {
    return V::template Sar16<3>(
        V::Add16(V::Add16(V::template Shl16<2>(V::Sub16(q0, p0)), V::Sub16(p1, q1)), V::Set16(4)));
}

// (2a + b + c + 2) >> 2: p0 from p1, p0, q1 where bS 4 leaves p1 alone (and
// q0 from q1, q0, p1).
template <class V>
inline typename V::T ThreeTap(typename V::T a, typename V::T b, typename V::T c) {
    return V::template Shr16<2>(V::Add16(V::Add16(V::template Shl16<1>(a), b), V::Add16(c, V::Set16(2))));
}

// w[k]: p3, p2, p1, p0, q0, q1, q2, q3 of a luma edge; bS 1..3 updates p1..q1.
// tc0 holds tC0 per lane, -1 where the segment is skipped.
template <class V>
inline void LumaNormalCore(typename V::T (&w)[8], typename V::T alpha, typename V::T beta, typename V::T tc0) {
    using T = typename V::T;
    const T p0 = w[3], p1 = w[2], p2 = w[1];
    const T q0 = w[4], q1 = w[5], q2 = w[6];
    const T zero = V::Zero();
    const T live = V::And(EdgeMask<V>(p1, p0, q0, q1, alpha, beta), V::Greater16(tc0, V::Set16(-1)));
    const T ap = V::And(live, V::Less16(V::AbsDiff16(p2, p0), beta));
    const T aq = V::And(live, V::Less16(V::AbsDiff16(q2, q0), beta));
    const T tc = V::Sub16(V::Sub16(tc0, ap), aq);  // masks are -1
    // Statements in this order: the compiler keeps it, and 16 SSE2 registers then suffice.
    const T raw = NormalDelta<V>(p1, p0, q0, q1);
    const T delta = V::And(live, Clip16<V>(raw, V::Sub16(zero, tc), tc));
    const T avg = V::AvgU16(p0, q0);
    const T ntc0 = V::Sub16(zero, tc0);
    const T dp1 = Clip16<V>(V::template Sar16<1>(V::Sub16(V::Add16(p2, avg), V::template Shl16<1>(p1))), ntc0, tc0);
    const T dq1 = Clip16<V>(V::template Sar16<1>(V::Sub16(V::Add16(q2, avg), V::template Shl16<1>(q1))), ntc0, tc0);
    w[2] = V::Add16(p1, V::And(ap, dp1));
    w[5] = V::Add16(q1, V::And(aq, dq1));
    w[3] = V::Add16(p0, delta);
    w[4] = V::Sub16(q0, delta);
}

// bS 4 on the same layout; updates p2..q2.
template <class V>
inline void LumaStrongCore(typename V::T (&w)[8], typename V::T alpha, typename V::T beta) {
    using T = typename V::T;
    const T p0 = w[3], p1 = w[2], p2 = w[1], p3 = w[0];
    const T q0 = w[4], q1 = w[5], q2 = w[6], q3 = w[7];
    const T two = V::Set16(2), four = V::Set16(4);
    const T mask = EdgeMask<V>(p1, p0, q0, q1, alpha, beta);
    const T small = V::Less16(V::AbsDiff16(p0, q0), V::Add16(V::template Sar16<2>(alpha), two));
    const T ap = V::And(small, V::Less16(V::AbsDiff16(p2, p0), beta));
    const T aq = V::And(small, V::Less16(V::AbsDiff16(q2, q0), beta));
    const T p0q0 = V::Add16(p0, q0);
    // One side after the other, for the same reason as in LumaNormalCore.
    const T sp = V::Add16(V::Add16(p1, p0q0), p2);  // p2 + p1 + p0 + q0
    const T p0s = V::template Shr16<3>(V::Add16(V::Add16(sp, V::Add16(p1, p0q0)), V::Add16(q1, four)));
    const T p1s = V::template Shr16<2>(V::Add16(sp, two));
    const T p2s = V::template Shr16<3>(V::Add16(V::Add16(sp, V::template Shl16<1>(V::Add16(p3, p2))), four));
    const T p0w = ThreeTap<V>(p1, p0, q1);
    const T sq = V::Add16(V::Add16(q1, p0q0), q2);
    const T q0s = V::template Shr16<3>(V::Add16(V::Add16(sq, V::Add16(q1, p0q0)), V::Add16(p1, four)));
    const T q1s = V::template Shr16<2>(V::Add16(sq, two));
    const T q2s = V::template Shr16<3>(V::Add16(V::Add16(sq, V::template Shl16<1>(V::Add16(q3, q2))), four));
    const T q0w = ThreeTap<V>(q1, q0, p1);
    const T mp = V::And(mask, ap), mq = V::And(mask, aq);
    w[3] = V::Select(mask, V::Select(ap, p0s, p0w), p0);
    w[2] = V::Select(mp, p1s, p1);
    w[1] = V::Select(mp, p2s, p2);
    w[4] = V::Select(mask, V::Select(aq, q0s, q0w), q0);
    w[5] = V::Select(mq, q1s, q1);
    w[6] = V::Select(mq, q2s, q2);
}

// A chroma edge: p1, p0, q0, q1 per lane, mask from EdgeMask; only p0 and q0
// change. The caller builds the mask before tC0 (fewer live registers in SSE2).
template <class V>
inline void ChromaStrongCore(typename V::T p1, typename V::T &p0, typename V::T &q0, typename V::T q1,
                             typename V::T mask) {
    const typename V::T np0 = ThreeTap<V>(p1, p0, q1), nq0 = ThreeTap<V>(q1, q0, p1);
    p0 = V::Select(mask, np0, p0);
    q0 = V::Select(mask, nq0, q0);
}

// bS 1..3: tc0 holds tC0 per lane, -1 where the segment is skipped.
template <class V>
inline void ChromaNormalCore(typename V::T p1, typename V::T &p0, typename V::T &q0, typename V::T q1,
                             typename V::T mask, typename V::T tc0) {
    using T = typename V::T;
    const T live = V::And(mask, V::Greater16(tc0, V::Set16(-1)));
    const T tc = V::Add16(tc0, V::Set16(1));
    const T raw = NormalDelta<V>(p1, p0, q0, q1);
    const T delta = V::And(live, Clip16<V>(raw, V::Sub16(V::Zero(), tc), tc));
    p0 = V::Add16(p0, delta);
    q0 = V::Sub16(q0, delta);
}

}  // namespace
}  // namespace tessaly::h264
