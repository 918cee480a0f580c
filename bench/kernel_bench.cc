// Every DSP kernel of every kernel set this processor runs (C, SSE2, AVX2),
// side by side: "kernel/set" rows, nanoseconds per call.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "h264dec/dsp/kernel_set.h"

namespace {

using tessaly::h264::KernelSet;

constexpr ptrdiff_t kStride = 96;
alignas(16) uint8_t gPlane[96 * 96], gDst[32 * 32], gSmooth[32 * 32], gWork[32 * 32];
alignas(16) int16_t gCoeffs[64];

struct Set {
    const char *name;
    const KernelSet *ks;
};

void Add(const std::string &kernel, const std::vector<Set> &sets, const std::function<void(const KernelSet &)> &call) {
    for (const Set &set : sets)
        benchmark::RegisterBenchmark((kernel + "/" + set.name).c_str(), [call, ks = set.ks](benchmark::State &state) {
            for (auto _ : state) {
                call(*ks);
                benchmark::ClobberMemory();
            }
        });
}

void RegisterAll(const std::vector<Set> &sets) {
    using namespace tessaly::h264;
    for (size_t i = 0; i < sizeof gPlane; ++i) gPlane[i] = uint8_t(i * 2654435761u >> 24);
    for (size_t i = 0; i < sizeof gSmooth; ++i) gSmooth[i] = uint8_t(100 + (i * 7) % 5);
    const uint8_t *src = gPlane + 8 * kStride + 8;
    const int lumaW[3] = {16, 8, 4}, chromaW[3] = {8, 4, 2};
    for (int wi = 0; wi < 3; ++wi) {
        const int w = lumaW[wi], cw = chromaW[wi];
        for (int pos = 0; pos < 16; ++pos)
            Add("lumaMc" + std::to_string(w) + "/pos" + std::to_string(pos), sets,
                [=](const KernelSet &ks) { ks.lumaMc[wi][pos](gDst, 32, src, kStride, w); });
        Add("chromaMc" + std::to_string(cw), sets,
            [=](const KernelSet &ks) { ks.chromaMc[wi](gDst, 32, src, kStride, cw, 3, 5); });
    }
    // The transforms clear their input: it is refilled each call, alike for every set.
    const auto idct = [&](const char *name, IdctAddFn KernelSet::*member, int n) {
        Add(name, sets, [=](const KernelSet &ks) {
            for (int i = 0; i < n; ++i) gCoeffs[i] = int16_t((i * 37) % 61 - 30);
            (ks.*member)(gDst, 32, gCoeffs);
        });
    };
    idct("idct4x4Add", &KernelSet::idct4x4Add, 16);
    idct("idct4x4DcAdd", &KernelSet::idct4x4DcAdd, 1);
    idct("idct8x8Add", &KernelSet::idct8x8Add, 64);
    idct("idct8x8DcAdd", &KernelSet::idct8x8DcAdd, 1);
    Add("chromaDcAdd", sets, [](const KernelSet &ks) {
        for (int k = 0; k < 4; ++k) gCoeffs[16 * k] = int16_t(900 - 500 * k);
        ks.chromaDcAdd(gDst, 32, gCoeffs);
    });
    // Deblocking on a smooth area, so that every line is filtered; the work
    // copy is refreshed each call so the input does not drift.
    static const int8_t tc0[4] = {2, 3, 2, 4};
    static ChromaEdgeSet chromaSet{};
    for (int e = 0; e < 2; ++e)
        for (int pl = 0; pl < 2; ++pl) {
            chromaSet.alpha[e][pl] = 40;
            chromaSet.beta[e][pl] = 10;
            std::memcpy(chromaSet.tc0[e][pl], tc0, 4);
        }
    const auto edge = [&](const char *name, void (*call)(const KernelSet &, uint8_t *)) {
        Add(name, sets, [=](const KernelSet &ks) {
            std::memcpy(gWork, gSmooth, sizeof gWork);
            call(ks, gWork + 8 * 32 + 8);
        });
    };
    edge("lumaEdgeV", [](const KernelSet &ks, uint8_t *p) { ks.lumaEdgeV(p, 32, 40, 10, tc0); });
    edge("lumaEdgeH", [](const KernelSet &ks, uint8_t *p) { ks.lumaEdgeH(p, 32, 40, 10, tc0); });
    edge("lumaEdgeVStrong", [](const KernelSet &ks, uint8_t *p) { ks.lumaEdgeVStrong(p, 32, 40, 10); });
    edge("lumaEdgeHStrong", [](const KernelSet &ks, uint8_t *p) { ks.lumaEdgeHStrong(p, 32, 40, 10); });
    edge("chromaEdgeV", [](const KernelSet &ks, uint8_t *p) { ks.chromaEdgeV(p, 32, 40, 10, tc0); });
    edge("chromaEdgeH", [](const KernelSet &ks, uint8_t *p) { ks.chromaEdgeH(p, 32, 40, 10, tc0); });
    edge("chromaEdgeVStrong", [](const KernelSet &ks, uint8_t *p) { ks.chromaEdgeVStrong(p, 32, 40, 10); });
    edge("chromaEdgeHStrong", [](const KernelSet &ks, uint8_t *p) { ks.chromaEdgeHStrong(p, 32, 40, 10); });
    edge("chromaEdgesV", [](const KernelSet &ks, uint8_t *p) { ks.chromaEdgesV(p, p + 12, 32, chromaSet); });
    edge("chromaEdgesH", [](const KernelSet &ks, uint8_t *p) { ks.chromaEdgesH(p, p + 12, 32, chromaSet); });
    constexpr int kAround = kAvailLeft | kAvailTop | kAvailTopLeft;
    const auto intra = [&](const char *name, auto member, int modes, int avail) {
        for (int mode = 0; mode < modes; ++mode)
            Add(std::string(name) + "/mode" + std::to_string(mode), sets,
                [=](const KernelSet &ks) { (ks.*member)[mode](gWork + 8 * 32 + 8, 32, avail); });
    };
    intra("intra4x4", &KernelSet::intra4x4, kNumIntraNxNModes, kAround | kAvailTopRight);
    intra("intra8x8", &KernelSet::intra8x8, kNumIntraNxNModes, kAround | kAvailTopRight);
    intra("intra16x16", &KernelSet::intra16x16, kNumIntra16x16Modes, kAround);
    intra("intraChroma", &KernelSet::intraChroma, kNumIntraChromaModes, kAround);
}

}  // namespace

int main(int argc, char **argv) {
    using namespace tessaly::h264;
    std::vector<Set> sets{{"c", KernelSetGetExact(2)}};
    if (const KernelSet *ks = KernelSetGetExact(4)) sets.push_back({"sse2", ks});
    if (const KernelSet *ks = KernelSetGetExact(kCpuLevelAvx2)) sets.push_back({"avx2", ks});
    if (const KernelSet *ks = KernelSetGetExact(kCpuLevelAvx512)) sets.push_back({"avx512", ks});
    RegisterAll(sets);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
