// The C reference members of the KernelSet, installed family by family.
#pragma once

#include <cstdint>

#include "h264dec/dsp/kernel_set.h"

namespace tessaly::h264 {

void InstallIntra4x4C(KernelSet &ks);
void InstallIntra8x8C(KernelSet &ks);
void InstallIntra16x16C(KernelSet &ks);
void InstallIntraChromaC(KernelSet &ks);
void InstallLumaMcC(KernelSet &ks);
void InstallChromaMcC(KernelSet &ks);
void InstallIdctC(KernelSet &ks);
void InstallDeblockC(KernelSet &ks);
void InstallCopyC(KernelSet &ks);

inline uint8_t ClipPixel(int v) { return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v)); }

}  // namespace tessaly::h264
