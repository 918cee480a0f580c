// Processor level from the CPUID feature flags.
#include "h264dec/dsp/kernel_set.h"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

namespace tessaly::h264 {

int CpuLevelProbe() {
#if defined(__x86_64__) || defined(__i386__)
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return 0;
    const bool mmx = edx & (1u << 23), cmov = edx & (1u << 15), fxsr = edx & (1u << 24);
    const bool sse = edx & (1u << 25), sse2 = edx & (1u << 26), sse3 = ecx & 1u;
    const bool osxsave = ecx & (1u << 27);
    if (!mmx) return 0;
    if (!cmov) return 1;
    if (!fxsr || !sse) return 2;
    // With XSAVE enabled by the OS, XCR0 bit 1 says whether it saves the SSE
    // state. Without OSXSAVE the OS uses FXSAVE, which the x86-64 ABI (and
    // any OS that set CR4.OSFXSR, the only way SSE instructions run) covers.
    if (osxsave) {
        unsigned xcr0Low = 0, xcr0High = 0;
        __asm__ volatile("xgetbv" : "=a"(xcr0Low), "=d"(xcr0High) : "c"(0));
        if (!(xcr0Low & 2u)) return 2;
    }
    if (!sse2) return 3;
    return sse3 ? 5 : 4;
#else
    return 0;
#endif
}

}  // namespace tessaly::h264

namespace tessaly::h264 {

bool CpuHasAvx2() {
#if defined(__x86_64__) || defined(__i386__)
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return false;
    const bool osxsave = ecx & (1u << 27), avx = ecx & (1u << 28);
    if (!osxsave || !avx) return false;
    unsigned xcr0Low = 0, xcr0High = 0;
    __asm__ volatile("xgetbv" : "=a"(xcr0Low), "=d"(xcr0High) : "c"(0));
    if ((xcr0Low & 6u) != 6u) return false;  // XMM and YMM state
    if (!__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx)) return false;
    return ebx & (1u << 5);
#else
    return false;
#endif
}

bool CpuHasAvx512Bw() {
#if defined(__x86_64__) || defined(__i386__)
    if (!CpuHasAvx2()) return false;  // also establishes OSXSAVE
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    unsigned xcr0Low = 0, xcr0High = 0;
    __asm__ volatile("xgetbv" : "=a"(xcr0Low), "=d"(xcr0High) : "c"(0));
    if ((xcr0Low & 0xE6u) != 0xE6u) return false;  // XMM, YMM, opmask, ZMM 0-15 upper halves, ZMM 16-31
    if (!__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx)) return false;
    const unsigned f = 1u << 16, bw = 1u << 30, vl = 1u << 31;
    return (ebx & (f | bw | vl)) == (f | bw | vl);
#else
    return false;
#endif
}

bool CpuRunsAvx512Cheaply() {
#if defined(__x86_64__) || defined(__i386__)
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (!__get_cpuid(0, &eax, &ebx, &ecx, &edx)) return false;
    const bool amd = ebx == 0x68747541 && edx == 0x69746e65 && ecx == 0x444d4163;  // "AuthenticAMD"
    if (amd && __get_cpuid(1, &eax, &ebx, &ecx, &edx)) {
        const unsigned family = ((eax >> 8) & 0xF) + ((eax >> 20) & 0xFF);
        if (family == 0x19) return false;
    }
    if (!__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx)) return false;
    return ecx & (1u << 6);  // AVX512_VBMI2
#else
    return false;
#endif
}

}  // namespace tessaly::h264
