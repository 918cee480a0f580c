// Intra predictors: every mode under every neighbour availability.
#include <cstring>

#include "checkasm.h"

namespace tessaly::h264::checkasm {
namespace {

void CheckModes(const Candidate &c, const char *name, const IntraPredFn *refFns, const IntraPredFn *newFns, int modes,
                Report &r) {
    alignas(16) uint8_t planeRef[48 * 40], planeNew[48 * 40];
    for (int mode = 0; mode < modes; mode++) {
        if (refFns[mode] == newFns[mode]) continue;
        for (int trial = 0; trial < 400; trial++) {
            const ptrdiff_t stride = (trial & 1) ? 48 : 40;
            const int avail = trial % 16;
            Fill(planeRef, sizeof planeRef, static_cast<Pattern>((trial / 16) % kNumPatterns));
            std::memcpy(planeNew, planeRef, sizeof planeRef);
            refFns[mode](planeRef + 8 * stride + 16, stride, avail);
            newFns[mode](planeNew + 8 * stride + 16, stride, avail);
            if (!r.Expect(std::memcmp(planeRef, planeNew, sizeof planeRef) == 0,
                          Format("%s %s mode %d avail %d", c.name, name, mode, avail)))
                break;
        }
    }
}

}  // namespace

void CheckIntra(const Candidate &c, const KernelSet &ref, Report &r) {
    CheckModes(c, "intra4x4", ref.intra4x4, c.ks->intra4x4, kNumIntraNxNModes, r);
    CheckModes(c, "intra8x8", ref.intra8x8, c.ks->intra8x8, kNumIntraNxNModes, r);
    CheckModes(c, "intra16x16", ref.intra16x16, c.ks->intra16x16, kNumIntra16x16Modes, r);
    CheckModes(c, "intraChroma", ref.intraChroma, c.ks->intraChroma, kNumIntraChromaModes, r);
}

}  // namespace tessaly::h264::checkasm
