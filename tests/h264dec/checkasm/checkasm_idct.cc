// Inverse transforms: the block with its surround, and the coefficients they must clear.
#include <cstring>

#include "checkasm.h"

namespace tessaly::h264::checkasm {
namespace {

enum CoeffKind { kSmallCoeffs, kFullRange, kExtremes, kSparse, kNumCoeffKinds };

void FillCoeffs(int16_t *c, int n, CoeffKind kind) {
    for (int i = 0; i < n; i++) {
        switch (kind) {
        case kSmallCoeffs: c[i] = static_cast<int16_t>(Uniform(-300, 300)); break;
        case kFullRange: c[i] = static_cast<int16_t>(Uniform(-32768, 32767)); break;
        case kExtremes: c[i] = static_cast<int16_t>(Uniform(0, 1) ? 32767 : -32768); break;
        default: c[i] = static_cast<int16_t>(Uniform(0, 5) == 0 ? Uniform(-2000, 2000) : 0);
        }
    }
}

// A transform's block in a plane with a surround, plus its coefficient
// buffer followed by guard entries that must keep their values. dcStep: 0
// for full blocks, else only every dcStep-th coefficient may be nonzero.
void CheckIdct(const Candidate &c, const char *name, IdctAddFn refFn, IdctAddFn newFn, int n, int dcStep, Report &r) {
    if (refFn == newFn) return;
    constexpr int kGuard = 8;
    alignas(16) uint8_t planeRef[48 * 16], planeNew[48 * 16];
    alignas(16) int16_t coefRef[64 + kGuard], coefNew[64 + kGuard];
    for (int trial = 0; trial < 4000; trial++) {
        const ptrdiff_t stride = (trial & 1) ? 48 : 24;
        const int x = 8 + n * Uniform(0, 1);
        Fill(planeRef, sizeof planeRef, static_cast<Pattern>(trial % kNumPatterns));
        std::memcpy(planeNew, planeRef, sizeof planeRef);
        const CoeffKind kind = static_cast<CoeffKind>((trial / kNumPatterns) % kNumCoeffKinds);
        FillCoeffs(coefRef, 64 + kGuard, kind);
        if (dcStep)
            for (int i = 0; i < n * n; i++)
                if (i % dcStep) coefRef[i] = 0;
        std::memcpy(coefNew, coefRef, sizeof coefRef);
        refFn(planeRef + stride + x, stride, coefRef);
        newFn(planeNew + stride + x, stride, coefNew);
        const bool same =
            std::memcmp(planeRef, planeNew, sizeof planeRef) == 0 && std::memcmp(coefRef, coefNew, sizeof coefRef) == 0;
        if (!r.Expect(same, Format("%s %s coefficient kind %d trial %d", c.name, name, kind, trial))) break;
    }
}

void CheckDcHelpers(const Candidate &c, const KernelSet &ref, Report &r) {
    alignas(16) int16_t blocksRef[16 * 16], blocksNew[16 * 16], dcRef[16], dcNew[16];
    for (int which = 0; which < 2; which++) {
        const auto refFn = which ? ref.chromaDcDequantIdct : ref.lumaDcDequantIdct;
        const auto newFn = which ? c.ks->chromaDcDequantIdct : c.ks->lumaDcDequantIdct;
        if (refFn == newFn) continue;
        for (int trial = 0; trial < 2000; trial++) {
            const int qp = Uniform(0, 51), levelScale = Uniform(10, 25) * 16;
            FillCoeffs(blocksRef, 256, kFullRange);
            FillCoeffs(dcRef, 16, static_cast<CoeffKind>(trial % kNumCoeffKinds));
            std::memcpy(blocksNew, blocksRef, sizeof blocksRef);
            std::memcpy(dcNew, dcRef, sizeof dcRef);
            refFn(blocksRef, dcRef, qp, levelScale);
            newFn(blocksNew, dcNew, qp, levelScale);
            const bool same = std::memcmp(blocksRef, blocksNew, sizeof blocksRef) == 0 &&
                              std::memcmp(dcRef, dcNew, sizeof dcRef) == 0;
            if (!r.Expect(same, Format("%s %s qp %d", c.name, which ? "chromaDc" : "lumaDc", qp))) break;
        }
    }
}

}  // namespace

void CheckTransforms(const Candidate &c, const KernelSet &ref, Report &r) {
    CheckIdct(c, "idct4x4Add", ref.idct4x4Add, c.ks->idct4x4Add, 4, 0, r);
    CheckIdct(c, "idct4x4DcAdd", ref.idct4x4DcAdd, c.ks->idct4x4DcAdd, 4, 16, r);
    CheckIdct(c, "idct8x8Add", ref.idct8x8Add, c.ks->idct8x8Add, 8, 0, r);
    CheckIdct(c, "idct8x8DcAdd", ref.idct8x8DcAdd, c.ks->idct8x8DcAdd, 8, 64, r);
    CheckIdct(c, "chromaDcAdd", ref.chromaDcAdd, c.ks->chromaDcAdd, 8, 16, r);
    CheckDcHelpers(c, ref, r);
}

}  // namespace tessaly::h264::checkasm
