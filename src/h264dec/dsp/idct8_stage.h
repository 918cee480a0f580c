// The 8-point inverse transform butterfly, written once for any vector of
// 32-bit lanes: `Lanes` supplies Add, Sub and Sar (arithmetic shift right)
// on its type V. Each lane carries one independent 1-D transform.
#pragma once

namespace tessaly::h264 {

template <typename Lanes, typename V>
inline void Idct8Butterfly(V *x) {
    const V d0 = x[0], d1 = x[1], d2 = x[2], d3 = x[3], d4 = x[4], d5 = x[5], d6 = x[6], d7 = x[7];
    auto add = Lanes::Add;
    auto sub = Lanes::Sub;
    auto sar = Lanes::Sar;
    const V e0 = add(d0, d4);
    const V e1 = sub(sub(sub(d5, d3), d7), sar(d7, 1));
    const V e2 = sub(d0, d4);
    const V e3 = sub(sub(add(d1, d7), d3), sar(d3, 1));
    const V e4 = sub(sar(d2, 1), d6);
    const V e5 = add(add(sub(d7, d1), d5), sar(d5, 1));
    const V e6 = add(d2, sar(d6, 1));
    const V e7 = add(add(add(d3, d5), d1), sar(d1, 1));
    const V f0 = add(e0, e6), f1 = add(e1, sar(e7, 2));
    const V f2 = add(e2, e4), f3 = add(e3, sar(e5, 2));
    const V f4 = sub(e2, e4), f5 = sub(sar(e3, 2), e5);
    const V f6 = sub(e0, e6), f7 = sub(e7, sar(e1, 2));
    x[0] = add(f0, f7);
    x[1] = add(f2, f5);
    x[2] = add(f4, f3);
    x[3] = add(f6, f1);
    x[4] = sub(f6, f1);
    x[5] = sub(f4, f3);
    x[6] = sub(f2, f5);
    x[7] = sub(f0, f7);
}

}  // namespace tessaly::h264
