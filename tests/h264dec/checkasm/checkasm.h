// What the checkasm harness (checkasm.cc) shares with its kernel families (checkasm_<family>.cc).
#pragma once

#include <cstddef>
#include <cstdint>
#include <random>
#include <string>

#include "h264dec/dsp/kernel_set.h"

namespace tessaly::h264::checkasm {

struct Candidate {
    const char *name;
    const KernelSet *ks;
};

extern std::mt19937 gRng;
inline int Uniform(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(gRng); }

// Sample patterns a block is filled with.
enum Pattern { kRandom, kZero, kFull, kChecker, kSmooth, kNumPatterns };
void Fill(uint8_t *p, size_t n, Pattern pattern);

struct Report {
    int checked = 0, failed = 0;
    bool Expect(bool same, const std::string &what);
};

std::string Format(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

inline constexpr int kLumaW[3] = {16, 8, 4};
inline constexpr int kChromaW[3] = {8, 4, 2};

// One family a file: each checks the members of c.ks that differ from ref.
void CheckLumaMc(const Candidate &c, const KernelSet &ref, Report &r);
void CheckChromaMc(const Candidate &c, const KernelSet &ref, Report &r);
void CheckTransforms(const Candidate &c, const KernelSet &ref, Report &r);
void CheckDeblock(const Candidate &c, const KernelSet &ref, Report &r);
void CheckIntra(const Candidate &c, const KernelSet &ref, Report &r);
void CheckCopies(const Candidate &c, const KernelSet &ref, Report &r);

}  // namespace tessaly::h264::checkasm
