// Deblocking: single edges and chroma edge sets, on smooth areas and on steps across the edge.
#include <cstring>

#include "checkasm.h"
#include "h264dec/tables/tables.h"

namespace tessaly::h264::checkasm {
namespace {

struct EdgeCase {
    int alpha, beta;
    int8_t tc0[4];
};

EdgeCase RandomEdge() {
    EdgeCase e;
    const int indexA = Uniform(0, 51), indexB = Uniform(0, 51);
    e.alpha = Uniform(0, 7) == 0 ? Uniform(0, 255) : kDeblockAlpha[indexA];
    e.beta = Uniform(0, 7) == 0 ? Uniform(0, 18) : kDeblockBeta[indexB];
    for (int8_t &t : e.tc0) {
        const int bS = Uniform(0, 3);
        t = bS == 0 ? int8_t(-1) : static_cast<int8_t>(kDeblockTc0[indexA][bS - 1]);
        if (Uniform(0, 9) == 0) t = static_cast<int8_t>(Uniform(0, 25));
    }
    return e;
}

void CheckEdges(const Candidate &c, const KernelSet &ref, Report &r) {
    struct Member {
        const char *name;
        EdgeFilterFn refNormal, newNormal;
        EdgeFilterStrongFn refStrong, newStrong;
        bool vertical, chroma;
    };
    const Member members[] = {
        {"lumaEdgeV", ref.lumaEdgeV, c.ks->lumaEdgeV, nullptr, nullptr, true, false},
        {"lumaEdgeH", ref.lumaEdgeH, c.ks->lumaEdgeH, nullptr, nullptr, false, false},
        {"lumaEdgeVStrong", nullptr, nullptr, ref.lumaEdgeVStrong, c.ks->lumaEdgeVStrong, true, false},
        {"lumaEdgeHStrong", nullptr, nullptr, ref.lumaEdgeHStrong, c.ks->lumaEdgeHStrong, false, false},
        {"chromaEdgeV", ref.chromaEdgeV, c.ks->chromaEdgeV, nullptr, nullptr, true, true},
        {"chromaEdgeH", ref.chromaEdgeH, c.ks->chromaEdgeH, nullptr, nullptr, false, true},
        {"chromaEdgeVStrong", nullptr, nullptr, ref.chromaEdgeVStrong, c.ks->chromaEdgeVStrong, true, true},
        {"chromaEdgeHStrong", nullptr, nullptr, ref.chromaEdgeHStrong, c.ks->chromaEdgeHStrong, false, true},
    };
    constexpr int kRows = 32, kMaxStride = 80;
    alignas(16) uint8_t planeRef[kRows * kMaxStride], planeNew[kRows * kMaxStride];
    for (const Member &m : members) {
        if (m.refNormal == m.newNormal && m.refStrong == m.newStrong) continue;
        for (int trial = 0; trial < 6000; trial++) {
            const ptrdiff_t stride = (trial & 1) ? kMaxStride : 40 + Uniform(0, 20);
            // Edge at (x, y) with room for p3..q3 either way.
            const int x = m.vertical ? 8 + Uniform(0, 8) : 8 + Uniform(0, 4) * 4;
            const int y = 8;
            Fill(planeRef, sizeof planeRef, trial % 3 ? kSmooth : static_cast<Pattern>(trial % kNumPatterns));
            if (trial % 5 == 1) {  // a step across the edge, as at block borders
                const int step = Uniform(-40, 40);
                for (int yy = 0; yy < kRows; yy++)
                    for (int xx = 0; xx < stride; xx++) {
                        const bool qSide = m.vertical ? xx >= x : yy >= y;
                        const int v = planeRef[yy * stride + xx] + (qSide ? step : 0);
                        planeRef[yy * stride + xx] = static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
                    }
            }
            std::memcpy(planeNew, planeRef, sizeof planeRef);
            const EdgeCase e = RandomEdge();
            uint8_t *pRef = planeRef + y * stride + x, *pNew = planeNew + y * stride + x;
            if (m.refNormal) {
                m.refNormal(pRef, stride, e.alpha, e.beta, e.tc0);
                m.newNormal(pNew, stride, e.alpha, e.beta, e.tc0);
            } else {
                m.refStrong(pRef, stride, e.alpha, e.beta);
                m.newStrong(pNew, stride, e.alpha, e.beta);
            }
            if (!r.Expect(std::memcmp(planeRef, planeNew, sizeof planeRef) == 0,
                          Format("%s %s alpha %d beta %d tc0 %d %d %d %d stride %td", c.name, m.name, e.alpha, e.beta,
                                 e.tc0[0], e.tc0[1], e.tc0[2], e.tc0[3], stride)))
                break;
        }
    }
}

// Both chroma planes side by side in one buffer (Cb at column 8, Cr at 40),
// so one comparison covers both and everything around them.
void CheckChromaEdgeSets(const Candidate &c, const KernelSet &ref, Report &r) {
    struct Member {
        const char *name;
        ChromaEdgesFn refFn, newFn;
    };
    const Member members[] = {{"chromaEdgesV", ref.chromaEdgesV, c.ks->chromaEdgesV},
                              {"chromaEdgesH", ref.chromaEdgesH, c.ks->chromaEdgesH}};
    constexpr int kRows = 24, kMaxStride = 96;
    alignas(16) uint8_t planeRef[kRows * kMaxStride], planeNew[kRows * kMaxStride];
    for (const Member &m : members) {
        if (m.refFn == m.newFn) continue;
        for (int trial = 0; trial < 6000; trial++) {
            const ptrdiff_t stride = (trial & 1) ? kMaxStride : 64 + Uniform(0, 20);
            Fill(planeRef, sizeof planeRef, trial % 3 ? kSmooth : static_cast<Pattern>(trial % kNumPatterns));
            std::memcpy(planeNew, planeRef, sizeof planeRef);
            ChromaEdgeSet set;
            for (int e = 0; e < 2; e++) {
                set.strong[e] = Uniform(0, 3) == 0;
                for (int pl = 0; pl < 2; pl++) {
                    const EdgeCase ec = RandomEdge();
                    set.alpha[e][pl] = static_cast<uint8_t>(ec.alpha);
                    set.beta[e][pl] = static_cast<uint8_t>(ec.beta);
                    std::memcpy(set.tc0[e][pl], ec.tc0, 4);
                }
                // Usually the same thresholds in both planes, as with equal chroma offsets.
                if (Uniform(0, 1)) {
                    set.alpha[e][1] = set.alpha[e][0];
                    set.beta[e][1] = set.beta[e][0];
                    std::memcpy(set.tc0[e][1], set.tc0[e][0], 4);
                }
                // An edge left alone, as the macroblock edge at a slice border.
                if (Uniform(0, 3) == 0) {
                    set.strong[e] = 0;
                    std::memset(set.tc0[e], -1, sizeof set.tc0[e]);
                }
            }
            const ptrdiff_t at = 8 * stride + 8;
            m.refFn(planeRef + at, planeRef + at + 32, stride, set);
            m.newFn(planeNew + at, planeNew + at + 32, stride, set);
            if (!r.Expect(
                    std::memcmp(planeRef, planeNew, sizeof planeRef) == 0,
                    Format("%s %s strong %d %d alpha %d %d / %d %d stride %td", c.name, m.name, set.strong[0],
                           set.strong[1], set.alpha[0][0], set.alpha[0][1], set.alpha[1][0], set.alpha[1][1], stride)))
                break;
        }
    }
}

}  // namespace

void CheckDeblock(const Candidate &c, const KernelSet &ref, Report &r) {
    CheckEdges(c, ref, r);
    CheckChromaEdgeSets(c, ref, r);
}

}  // namespace tessaly::h264::checkasm
