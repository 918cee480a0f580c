// Vector kernels against the C reference, bit for bit.
//
// For every member of every vector KernelSet (SSE2, and AVX2 when the
// processor has it) that differs from the C member, the same inputs go to
// both and everything the two may touch is compared: the destination block
// together with a random-filled surround (a write outside the contract shows
// up as a difference), the coefficient buffers the transforms must clear, and
// the samples an edge filter may change. Inputs are random, constant 0 and
// 255, 0/255 checkerboards, smooth areas that pass the deblocking
// thresholds, full-range and extreme coefficients, odd strides and every
// source alignment. One file a kernel family (checkasm_<family>.cc).
//
//   checkasm [--seed N]    run the checks (exit status 1 on any mismatch)
//   checkasm --bench       nanoseconds per call, C and each vector set

#include "checkasm.h"

#include <chrono>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace tessaly::h264::checkasm {

std::mt19937 gRng;

void Fill(uint8_t *p, size_t n, Pattern pattern) {
    const int centre = Uniform(0, 255);
    for (size_t i = 0; i < n; i++) {
        switch (pattern) {
        case kRandom: p[i] = static_cast<uint8_t>(Uniform(0, 255)); break;
        case kZero: p[i] = 0; break;
        case kFull: p[i] = 255; break;
        case kChecker: p[i] = ((i ^ (i >> 5)) & 1) ? 255 : 0; break;
        default: {
            const int v = centre + Uniform(-3, 3);
            p[i] = static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
        }
        }
    }
}

bool Report::Expect(bool same, const std::string &what) {
    checked++;
    if (!same) {
        if (failed < 20) std::printf("  MISMATCH %s\n", what.c_str());
        failed++;
    }
    return same;
}

std::string Format(const char *fmt, ...) {
    char text[256];
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(text, sizeof text, fmt, args);
    va_end(args);
    return text;
}

namespace {

// TESSALY_CPU_LEVEL caps the table KernelSetGet hands out; the decoder
// relies on it for the forced-level conformance runs.
int CheckSelection() {
    Report r;
    const int native = CpuLevelProbe();
    const char *saved = std::getenv("TESSALY_CPU_LEVEL");
    const std::string savedValue = saved ? saved : "";
    struct Case {
        const char *value;
        int level;  // the table expected, as for KernelSetGetExact
    };
    const int best = native >= 4 ? (KernelSetGetExact(kCpuLevelAvx2) ? kCpuLevelAvx2 : 4) : 2;
    const Case cases[] = {
        {"2", 2},   {"0", 2},    {"3", 2},    {"4", native >= 4 ? 4 : 2}, {"5", native >= 4 ? 4 : 2}, {"6", best},
        {"", best}, {"x", best}, {"44", best}};
    for (const Case &c : cases) {
        setenv("TESSALY_CPU_LEVEL", c.value, 1);
        r.Expect(KernelSetGet(native) == KernelSetGetExact(c.level),
                 Format("TESSALY_CPU_LEVEL=\"%s\" should select table %d", c.value, c.level));
    }
    unsetenv("TESSALY_CPU_LEVEL");
    r.Expect(KernelSetGet(native) == KernelSetGetExact(best), "no TESSALY_CPU_LEVEL: the best table");
    r.Expect(KernelSetGet(2) == KernelSetGetExact(2) && KernelSetGet(1) == nullptr, "level 2 is C, level 1 none");
    if (saved) setenv("TESSALY_CPU_LEVEL", savedValue.c_str(), 1);
    std::printf("table selection  %d cases  %s\n", r.checked, r.failed ? "FAILED" : "ok");
    return r.failed;
}

int RunChecks(const KernelSet &ref, const std::vector<Candidate> &sets) {
    struct Family {
        const char *name;
        void (*check)(const Candidate &, const KernelSet &, Report &);
    };
    static constexpr Family kFamilies[] = {{"luma MC", CheckLumaMc},  {"chroma MC", CheckChromaMc},
                                           {"idct", CheckTransforms}, {"deblock", CheckDeblock},
                                           {"intra", CheckIntra},     {"copy", CheckCopies}};
    int failures = CheckSelection();
    for (const Candidate &c : sets) {
        for (const Family &f : kFamilies) {
            Report r;
            f.check(c, ref, r);
            if (r.checked == 0)
                std::printf("%-5s %-10s  (C members)\n", c.name, f.name);
            else
                std::printf("%-5s %-10s  %6d cases  %s\n", c.name, f.name, r.checked, r.failed ? "FAILED" : "ok");
            failures += r.failed;
        }
    }
    return failures;
}

// ---------------------------------------------------------------- bench

template <typename Fn>
double NsPerCall(Fn &&fn) {
    using Clock = std::chrono::steady_clock;
    for (int i = 0; i < 200; i++) fn();
    double best = 1e30;
    for (int round = 0; round < 5; round++) {
        constexpr int kCalls = 4000;
        const auto t0 = Clock::now();
        for (int i = 0; i < kCalls; i++) fn();
        const double ns = std::chrono::duration<double, std::nano>(Clock::now() - t0).count() / kCalls;
        if (ns < best) best = ns;
    }
    return best;
}

void RunBench(const KernelSet &ref, const std::vector<Candidate> &sets) {
    std::vector<Candidate> all{{"c", &ref}};
    all.insert(all.end(), sets.begin(), sets.end());
    std::printf("%-28s", "kernel (ns per call)");
    for (const Candidate &c : all) std::printf("%9s", c.name);
    std::printf("\n");
    alignas(16) static uint8_t plane[96 * 96], dst[32 * 32];
    alignas(16) static int16_t coeffs[64];
    Fill(plane, sizeof plane, kRandom);
    auto row = [&](const std::string &name, auto &&call) {
        std::printf("%-28s", name.c_str());
        for (const Candidate &c : all) std::printf("%9.1f", NsPerCall([&] { call(*c.ks); }));
        std::printf("\n");
    };
    constexpr ptrdiff_t kStride = 96;
    const uint8_t *src = plane + 8 * kStride + 8;
    for (int wi = 0; wi < 3; wi++)
        for (int pos = 0; pos < 16; pos++) {
            const int w = kLumaW[wi];
            row(Format("lumaMc %dx%d pos %d", w, w, pos),
                [&](const KernelSet &ks) { ks.lumaMc[wi][pos](dst, 32, src, kStride, w); });
        }
    for (int wi = 0; wi < 3; wi++) {
        const int w = kChromaW[wi];
        row(Format("chromaMc %dx%d", w, w),
            [&](const KernelSet &ks) { ks.chromaMc[wi](dst, 32, src, kStride, w, 3, 5); });
    }
    // The transforms clear their input: refill the coefficients each call
    // (the refill is the same for every set).
    auto idctRow = [&](const char *name, IdctAddFn KernelSet::*member, int n) {
        row(name, [&](const KernelSet &ks) {
            for (int i = 0; i < n; i++) coeffs[i] = static_cast<int16_t>((i * 37) % 61 - 30);
            (ks.*member)(dst, 32, coeffs);
        });
    };
    idctRow("idct4x4Add", &KernelSet::idct4x4Add, 16);
    idctRow("idct4x4DcAdd", &KernelSet::idct4x4DcAdd, 1);
    idctRow("idct8x8Add", &KernelSet::idct8x8Add, 64);
    idctRow("idct8x8DcAdd", &KernelSet::idct8x8DcAdd, 1);
    row("chromaDcAdd", [&](const KernelSet &ks) {
        for (int k = 0; k < 4; k++) coeffs[16 * k] = static_cast<int16_t>(900 - 500 * k);
        ks.chromaDcAdd(dst, 32, coeffs);
    });
    // Deblocking on a smooth area so that every line is filtered; the work
    // copy is refreshed each call so the input does not drift.
    alignas(16) static uint8_t smooth[32 * 32], work[32 * 32];
    for (int i = 0; i < 32 * 32; i++) smooth[i] = static_cast<uint8_t>(100 + (i * 7) % 5);
    const int8_t tc0[4] = {2, 3, 2, 4};
    auto edgeRow = [&](const char *name, auto &&call) {
        row(name, [&](const KernelSet &ks) {
            std::memcpy(work, smooth, sizeof work);
            call(ks, work + 8 * 32 + 8);
        });
    };
    edgeRow("lumaEdgeV", [&](const KernelSet &ks, uint8_t *p) { ks.lumaEdgeV(p, 32, 40, 10, tc0); });
    edgeRow("lumaEdgeH", [&](const KernelSet &ks, uint8_t *p) { ks.lumaEdgeH(p, 32, 40, 10, tc0); });
    edgeRow("lumaEdgeVStrong", [&](const KernelSet &ks, uint8_t *p) { ks.lumaEdgeVStrong(p, 32, 40, 10); });
    edgeRow("lumaEdgeHStrong", [&](const KernelSet &ks, uint8_t *p) { ks.lumaEdgeHStrong(p, 32, 40, 10); });
    edgeRow("chromaEdgeV", [&](const KernelSet &ks, uint8_t *p) { ks.chromaEdgeV(p, 32, 40, 10, tc0); });
    edgeRow("chromaEdgeH", [&](const KernelSet &ks, uint8_t *p) { ks.chromaEdgeH(p, 32, 40, 10, tc0); });
    edgeRow("chromaEdgeVStrong", [&](const KernelSet &ks, uint8_t *p) { ks.chromaEdgeVStrong(p, 32, 40, 10); });
    edgeRow("chromaEdgeHStrong", [&](const KernelSet &ks, uint8_t *p) { ks.chromaEdgeHStrong(p, 32, 40, 10); });
    ChromaEdgeSet set{};
    for (int e = 0; e < 2; e++)
        for (int pl = 0; pl < 2; pl++) {
            set.alpha[e][pl] = 40;
            set.beta[e][pl] = 10;
            std::memcpy(set.tc0[e][pl], tc0, 4);
        }
    edgeRow("chromaEdgesV", [&](const KernelSet &ks, uint8_t *p) { ks.chromaEdgesV(p, p + 12, 32, set); });
    edgeRow("chromaEdgesH", [&](const KernelSet &ks, uint8_t *p) { ks.chromaEdgesH(p, p + 12, 32, set); });
    edgeRow("(refresh only)", [&](const KernelSet &, uint8_t *) {});
    auto intraRows = [&](const char *name, auto member, int modes, int avail) {
        for (int mode = 0; mode < modes; mode++)
            row(Format("%s mode %d", name, mode),
                [&](const KernelSet &ks) { (ks.*member)[mode](work + 8 * 32 + 8, 32, avail); });
    };
    constexpr int kAround = kAvailLeft | kAvailTop | kAvailTopLeft;
    intraRows("intra4x4", &KernelSet::intra4x4, kNumIntraNxNModes, kAround | kAvailTopRight);
    intraRows("intra8x8", &KernelSet::intra8x8, kNumIntraNxNModes, kAround | kAvailTopRight);
    intraRows("intra16x16", &KernelSet::intra16x16, kNumIntra16x16Modes, kAround);
    intraRows("intraChroma", &KernelSet::intraChroma, kNumIntraChromaModes, kAround);
}

}  // namespace
}  // namespace tessaly::h264::checkasm

int main(int argc, char **argv) {
    using namespace tessaly::h264;
    using namespace tessaly::h264::checkasm;
    bool bench = false;
    unsigned seed = 20261206;
    for (int i = 1; i < argc; i++) {
        if (std::strcmp(argv[i], "--bench") == 0) {
            bench = true;
        } else if (std::strcmp(argv[i], "--seed") == 0 && i + 1 < argc) {
            seed = static_cast<unsigned>(std::strtoul(argv[++i], nullptr, 0));
        } else {
            std::fprintf(stderr, "usage: checkasm [--seed N] [--bench]\n");
            return 2;
        }
    }
    gRng.seed(seed);
    const KernelSet *ref = KernelSetGetExact(2);
    std::vector<Candidate> sets;
    if (const KernelSet *ks = KernelSetGetExact(4)) sets.push_back({"sse2", ks});
    if (const KernelSet *ks = KernelSetGetExact(kCpuLevelAvx2)) sets.push_back({"avx2", ks});
    if (bench) {
        RunBench(*ref, sets);
        return 0;
    }
    std::printf("checkasm seed %u\n", seed);
    const int failures = RunChecks(*ref, sets);
    if (sets.empty()) std::printf("no vector kernel set on this build or processor\n");
    std::printf(failures ? "%d mismatches\n" : "all vector kernels match C\n", failures);
    return failures ? 1 : 0;
}
