// The vector members of the KernelSet, installed family by family over a
// table that already holds the C set (families without a vector version keep
// their C members).
#pragma once

#include "h264dec/dsp/kernel_set.h"

namespace tessaly::h264 {

#if defined(__x86_64__) || defined(__i386__)
#define TESSALY_H264_X86_SIMD 1

// SSE2 (CpuLevel 4).
void InstallLumaMcSse2(KernelSet &ks);
void InstallChromaMcSse2(KernelSet &ks);
void InstallIdctSse2(KernelSet &ks);
void InstallDeblockSse2(KernelSet &ks);
void InstallIntra4x4Sse2(KernelSet &ks);
void InstallIntra8x8Sse2(KernelSet &ks);
void InstallIntra16x16Sse2(KernelSet &ks);
void InstallIntraChromaSse2(KernelSet &ks);
void InstallIntraPlaneSse2(KernelSet &ks);
void InstallCopySse2(KernelSet &ks);

// AVX2, on top of the SSE2 set; only called when CpuHasAvx2().
void InstallLumaMcAvx2(KernelSet &ks);
void InstallChromaMcAvx2(KernelSet &ks);
void InstallDeblockAvx2(KernelSet &ks);
void InstallIdctAvx2(KernelSet &ks);

// AVX-512BW/VL, on top of the AVX2 set; only called when CpuHasAvx512Bw().
void InstallLumaMcAvx512(KernelSet &ks);
#endif

}  // namespace tessaly::h264
