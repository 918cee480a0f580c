// Assembles the kernel tables: the C reference set, the SSE2 set over it, the
// AVX2 additions over that and the AVX-512 ones over those. Each table is built once, on first use.
#include "h264dec/dsp/kernel_set.h"

#include <cstdlib>

#include "h264dec/dsp/kernels_c.h"
#include "h264dec/dsp/kernels_simd.h"

namespace tessaly::h264 {
namespace {

KernelSet BuildC() {
    KernelSet ks{};
    InstallIntra4x4C(ks);
    InstallIntra8x8C(ks);
    InstallIntra16x16C(ks);
    InstallIntraChromaC(ks);
    InstallLumaMcC(ks);
    InstallChromaMcC(ks);
    InstallIdctC(ks);
    InstallDeblockC(ks);
    InstallCopyC(ks);
    return ks;
}

#if TESSALY_H264_X86_SIMD
KernelSet BuildSse2() {
    KernelSet ks = BuildC();
    InstallLumaMcSse2(ks);
    InstallChromaMcSse2(ks);
    InstallIdctSse2(ks);
    InstallDeblockSse2(ks);
    InstallIntra4x4Sse2(ks);
    InstallIntra8x8Sse2(ks);
    InstallIntra16x16Sse2(ks);
    InstallIntraChromaSse2(ks);
    InstallIntraPlaneSse2(ks);
    InstallCopySse2(ks);
    return ks;
}

KernelSet BuildAvx2() {
    KernelSet ks = BuildSse2();
    InstallLumaMcAvx2(ks);
    InstallChromaMcAvx2(ks);
    InstallDeblockAvx2(ks);
    InstallIdctAvx2(ks);
    return ks;
}

KernelSet BuildAvx512() {
    KernelSet ks = BuildAvx2();
    InstallLumaMcAvx512(ks);
    return ks;
}
#endif

// Without TESSALY_CPU_LEVEL (or with an unreadable one) the table is the
// processor's best that pays.
constexpr int kLevelUnforced = 10;

// The cap from TESSALY_CPU_LEVEL, or kLevelUnforced. Never below 2: the
// decoder cannot run without a table.
int ForcedLevel() {
    const char *text = std::getenv("TESSALY_CPU_LEVEL");
    if (!text || *text < '0' || *text > '9' || text[1] != '\0') return kLevelUnforced;
    const int level = *text - '0';
    return level < 2 ? 2 : level;
}

const KernelSet &CSet() {
    static const KernelSet ks = BuildC();
    return ks;
}

#if TESSALY_H264_X86_SIMD
const KernelSet &Sse2Set() {
    static const KernelSet ks = BuildSse2();
    return ks;
}

const KernelSet &Avx2Set() {
    static const KernelSet ks = BuildAvx2();
    return ks;
}

const KernelSet &Avx512Set() {
    static const KernelSet ks = BuildAvx512();
    return ks;
}

// The best vector table the processor runs, at most `forced`. Unforced, the
// AVX-512 table only where 512-bit vectors cost no more than 256-bit ones
// (see CpuRunsAvx512Cheaply).
const KernelSet &VectorSet(int forced) {
    const bool avx512 = forced == kLevelUnforced ? CpuHasAvx512Bw() && CpuRunsAvx512Cheaply() : CpuHasAvx512Bw();
    if (forced >= kCpuLevelAvx512 && avx512) return Avx512Set();
    if (forced >= kCpuLevelAvx2 && CpuHasAvx2()) return Avx2Set();
    return Sse2Set();
}
#endif

}  // namespace

const KernelSet *KernelSetGet(int cpuLevel) {
    if (cpuLevel < 2) return nullptr;
    const int forced = ForcedLevel();
    const int level = cpuLevel < forced ? cpuLevel : forced;
#if TESSALY_H264_X86_SIMD
    if (level >= 4) return &VectorSet(forced);
#endif
    return &CSet();
}

const KernelSet *KernelSetGetExact(int level) {
    if (level == 2) return &CSet();
#if TESSALY_H264_X86_SIMD
    if (level == 4) return &Sse2Set();
    if (level == kCpuLevelAvx2 && CpuHasAvx2()) return &Avx2Set();
    if (level == kCpuLevelAvx512 && CpuHasAvx512Bw()) return &Avx512Set();
#endif
    return nullptr;
}

}  // namespace tessaly::h264
