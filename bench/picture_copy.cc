// A decoded 1080p picture copied into a port's packed picture buffer (what a
// decoded-frame callback receives): row by row through the cache, and with
// the streaming stores the worker uses. Sixteen destinations in turn, as
// sixteen ports' buffers would be, so that the destination is rarely cached.
#include <cstdint>
#include <cstring>
#include <vector>

#include <benchmark/benchmark.h>

#include "video/plane_copy.h"

namespace {

constexpr uint32_t kWidth = 1920, kHeight = 1080, kStride = 1920, kCodedHeight = 1088;

struct Buffers {
    std::vector<uint8_t> source = std::vector<uint8_t>(size_t{kStride} * kCodedHeight * 3 / 2, 99);
    std::vector<std::vector<uint8_t>> ports =
        std::vector<std::vector<uint8_t>>(16, std::vector<uint8_t>(size_t{kWidth} * kHeight * 3 / 2));
};

template <typename Copy>
void CopyPicture(benchmark::State &state, Copy copy) {
    Buffers b;
    const uint8_t *y = b.source.data(), *u = y + size_t{kStride} * kCodedHeight,
                  *v = u + kStride / 2 * kCodedHeight / 2;
    size_t port = 0;
    for (auto _ : state) {
        uint8_t *to = b.ports[port++ % 16].data();
        const size_t area = size_t{kWidth} * kHeight;
        copy(to, y, kStride, kWidth, kHeight);
        copy(to + area, u, kStride / 2, kWidth / 2, kHeight / 2);
        copy(to + area * 5 / 4, v, kStride / 2, kWidth / 2, kHeight / 2);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * kWidth * kHeight * 3 / 2);
}

void RowsThroughCache(benchmark::State &state) {
    CopyPicture(state, [](uint8_t *to, const uint8_t *from, size_t stride, uint32_t width, uint32_t rows) {
        for (uint32_t r = 0; r < rows; ++r) std::memcpy(to + size_t{r} * width, from + r * stride, width);
    });
}

void StreamingStores(benchmark::State &state) { CopyPicture(state, tessaly::video::CopyPlanePacked); }

BENCHMARK(RowsThroughCache)->Unit(benchmark::kMicrosecond);
BENCHMARK(StreamingStores)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
