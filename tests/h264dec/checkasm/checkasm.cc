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
//   (nanoseconds per call, C and each vector set: bench/kernel_bench)

#include "checkasm.h"

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
    const int sse2 = native >= 4 ? 4 : 2;
    const int avx2 = native >= 4 && KernelSetGetExact(kCpuLevelAvx2) ? kCpuLevelAvx2 : sse2;
    const int top = native >= 4 && KernelSetGetExact(kCpuLevelAvx512) ? kCpuLevelAvx512 : avx2;
    const int best = CpuRunsAvx512Cheaply() ? top : avx2;  // unforced: AVX-512 only where it pays
    const Case cases[] = {{"2", 2},    {"0", 2},   {"3", 2},   {"4", sse2}, {"5", sse2},
                          {"6", avx2}, {"7", top}, {"", best}, {"x", best}, {"44", best}};
    for (const Case &c : cases) {
        setenv("TESSALY_CPU_LEVEL", c.value, 1);
        r.Expect(KernelSetGet(native) == KernelSetGetExact(c.level),
                 Format("TESSALY_CPU_LEVEL=\"%s\" should select table %d", c.value, c.level));
    }
    unsetenv("TESSALY_CPU_LEVEL");
    r.Expect(KernelSetGet(native) == KernelSetGetExact(best), "no TESSALY_CPU_LEVEL: the best table that pays");
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
                std::printf("%-6s %-10s  (C members)\n", c.name, f.name);
            else
                std::printf("%-6s %-10s  %6d cases  %s\n", c.name, f.name, r.checked, r.failed ? "FAILED" : "ok");
            failures += r.failed;
        }
    }
    return failures;
}

}  // namespace
}  // namespace tessaly::h264::checkasm

int main(int argc, char **argv) {
    using namespace tessaly::h264;
    using namespace tessaly::h264::checkasm;
    unsigned seed = 20261206;
    for (int i = 1; i < argc; i++) {
        if (std::strcmp(argv[i], "--seed") == 0 && i + 1 < argc) {
            seed = static_cast<unsigned>(std::strtoul(argv[++i], nullptr, 0));
        } else {
            std::fprintf(stderr, "usage: checkasm [--seed N]   (kernel timings: bench/kernel_bench)\n");
            return 2;
        }
    }
    gRng.seed(seed);
    const KernelSet *ref = KernelSetGetExact(2);
    std::vector<Candidate> sets;
    if (const KernelSet *ks = KernelSetGetExact(4)) sets.push_back({"sse2", ks});
    if (const KernelSet *ks = KernelSetGetExact(kCpuLevelAvx2)) sets.push_back({"avx2", ks});
    if (const KernelSet *ks = KernelSetGetExact(kCpuLevelAvx512)) sets.push_back({"avx512", ks});
    std::printf("checkasm seed %u\n", seed);
    const int failures = RunChecks(*ref, sets);
    if (sets.empty()) std::printf("no vector kernel set on this build or processor\n");
    std::printf(failures ? "%d mismatches\n" : "all vector kernels match C\n", failures);
    return failures ? 1 : 0;
}
