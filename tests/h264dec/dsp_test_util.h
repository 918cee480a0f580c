// Helpers shared by the kernel tests: a deterministic random source and a
// padded sample plane.
#pragma once

#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

#include "h264dec/dsp/kernel_set.h"

namespace tessaly::h264::test {

inline const KernelSet &CKernels() { return *KernelSetGet(2); }

class Rng {
public:
    explicit Rng(uint32_t seed) : gen_(seed) {}
    int Uniform(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(gen_); }
    uint8_t Sample() { return static_cast<uint8_t>(Uniform(0, 255)); }
    // Smooth-ish samples so that deblocking thresholds are actually met.
    uint8_t Near(int centre, int spread) {
        const int v = centre + Uniform(-spread, spread);
        return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
    }

private:
    std::mt19937 gen_;
};

// A plane with a margin on every side so kernels may read around a block.
struct Plane {
    Plane(int w, int h, int margin)
        : width(w),
          height(h),
          border(margin),
          stride(w + 2 * margin),
          data(static_cast<size_t>((h + 2 * margin) * (w + 2 * margin))) {}
    uint8_t *At(int x, int y) { return data.data() + (y + border) * stride + (x + border); }
    uint8_t Get(int x, int y) const { return data[(y + border) * stride + (x + border)]; }
    void Fill(Rng &rng) {
        for (auto &v : data) v = rng.Sample();
    }
    int width, height, border;
    ptrdiff_t stride;
    std::vector<uint8_t> data;
};

}  // namespace tessaly::h264::test
