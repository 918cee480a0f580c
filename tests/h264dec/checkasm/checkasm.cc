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
// source alignment. Motion-compensation sources sit against an inaccessible
// page so that a read past the documented window faults.
//
//   checkasm [--seed N]    run the checks (exit status 1 on any mismatch)
//   checkasm --bench       nanoseconds per call, C and each vector set
#include <sys/mman.h>
#include <unistd.h>

#include <chrono>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "h264dec/dsp/kernel_set.h"
#include "h264dec/tables/tables.h"

namespace tessaly::h264::checkasm {
namespace {

struct Candidate {
    const char *name;
    const KernelSet *ks;
};

std::mt19937 gRng;
int Uniform(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(gRng); }

// Sample patterns a block is filled with.
enum Pattern { kRandom, kZero, kFull, kChecker, kSmooth, kNumPatterns };

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

// Pages with an inaccessible page before and after the usable bytes.
class GuardedArena {
public:
    explicit GuardedArena(size_t bytes) {
        page_ = static_cast<size_t>(sysconf(_SC_PAGESIZE));
        usable_ = (bytes + page_ - 1) / page_ * page_;
        void *m = mmap(nullptr, usable_ + 2 * page_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (m == MAP_FAILED) {
            std::perror("mmap");
            std::exit(2);
        }
        base_ = static_cast<uint8_t *>(m);
        mprotect(base_, page_, PROT_NONE);
        mprotect(base_ + page_ + usable_, page_, PROT_NONE);
    }
    ~GuardedArena() { munmap(base_, usable_ + 2 * page_); }
    uint8_t *Begin() { return base_ + page_; }
    uint8_t *End() { return base_ + page_ + usable_; }
    size_t Size() const { return usable_; }

private:
    uint8_t *base_;
    size_t page_, usable_;
};

struct Report {
    int checked = 0, failed = 0;
    bool Expect(bool same, const std::string &what) {
        checked++;
        if (!same) {
            if (failed < 20) std::printf("  MISMATCH %s\n", what.c_str());
            failed++;
        }
        return same;
    }
};

std::string Format(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char *fmt, ...) {
    char text[256];
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(text, sizeof text, fmt, args);
    va_end(args);
    return text;
}

#define Describe(set, ...) (std::string(set) + " " + Format(__VA_ARGS__))

// ---------------------------------------------------------------- MC

constexpr int kLumaW[3] = {16, 8, 4};
constexpr int kChromaW[3] = {8, 4, 2};

// Places a (winW x winH) read window so that it ends at the arena's end
// (tail) or starts at its beginning (head); returns the window's first byte.
uint8_t *PlaceWindow(GuardedArena &arena, ptrdiff_t stride, int winW, int winH, bool atEnd) {
    const size_t span = static_cast<size_t>((winH - 1) * stride + winW);
    return atEnd ? arena.End() - span : arena.Begin();
}

void CheckLumaMc(const Candidate &c, const KernelSet &ref, Report &r) {
    GuardedArena arena(128 * 1024);
    alignas(16) uint8_t dstRef[48 * 24], dstNew[48 * 24];
    for (int wi = 0; wi < 3; wi++) {
        const int w = kLumaW[wi];
        for (int pos = 0; pos < 16; pos++) {
            if (c.ks->lumaMc[wi][pos] == ref.lumaMc[wi][pos]) continue;
            for (int h : {4, 8, 16}) {
                for (int trial = 0; trial < 24; trial++) {
                    const ptrdiff_t srcStride = trial < 4 ? w + 5 + trial : (trial & 1 ? 64 + Uniform(0, 64) : 2 * 1920);
                    const int align = trial % 16;
                    const bool atEnd = trial & 2;
                    // The window: x = -2..w+2, y = -2..h+2, shifted by `align` columns.
                    uint8_t *win = PlaceWindow(arena, srcStride, w + 5 + align, h + 5, atEnd);
                    const size_t span = static_cast<size_t>((h + 4) * srcStride + w + 5 + align);
                    Fill(win, span, static_cast<Pattern>(trial % kNumPatterns));
                    const uint8_t *src = win + 2 * srcStride + 2 + align;
                    // Destination: 16-byte aligned for 16 wide, otherwise any multiple of w.
                    const ptrdiff_t dstStride = (trial & 4) ? 48 : 32;
                    const int dstX = 16 + (w == 16 ? 0 : w * Uniform(0, 16 / w - 1));
                    Fill(dstRef, sizeof dstRef, kRandom);
                    std::memcpy(dstNew, dstRef, sizeof dstRef);
                    ref.lumaMc[wi][pos](dstRef + 2 * dstStride + dstX, dstStride, src, srcStride, h);
                    c.ks->lumaMc[wi][pos](dstNew + 2 * dstStride + dstX, dstStride, src, srcStride, h);
                    if (!r.Expect(std::memcmp(dstRef, dstNew, sizeof dstRef) == 0,
                                  Describe(c.name, "lumaMc w%d h%d pos %d stride %td align %d", w, h, pos, srcStride, align)))
                        break;
                }
            }
        }
    }
}

void CheckChromaMc(const Candidate &c, const KernelSet &ref, Report &r) {
    GuardedArena arena(64 * 1024);
    alignas(16) uint8_t dstRef[32 * 12], dstNew[32 * 12];
    for (int wi = 0; wi < 3; wi++) {
        if (c.ks->chromaMc[wi] == ref.chromaMc[wi]) continue;
        const int w = kChromaW[wi];
        for (int h : {2, 4, 8}) {
            for (int mxy = 0; mxy < 64; mxy++) {
                const int mx = mxy & 7, my = mxy >> 3;
                for (int trial = 0; trial < 6; trial++) {
                    const ptrdiff_t srcStride = trial == 0 ? w + 1 : (trial & 1 ? 40 + Uniform(0, 40) : 2 * 960);
                    const int align = Uniform(0, 15);
                    // The window: x = 0..w, y = 0..h.
                    uint8_t *win = PlaceWindow(arena, srcStride, w + 1 + align, h + 1, trial & 2);
                    Fill(win, static_cast<size_t>(h * srcStride + w + 1 + align), static_cast<Pattern>(Uniform(0, kNumPatterns - 1)));
                    const uint8_t *src = win + align;
                    const ptrdiff_t dstStride = 32;
                    uint8_t *const blockRef = dstRef + dstStride + 8 + w * Uniform(0, 8 / w - 1);
                    Fill(dstRef, sizeof dstRef, kRandom);
                    std::memcpy(dstNew, dstRef, sizeof dstRef);
                    ref.chromaMc[wi](blockRef, dstStride, src, srcStride, h, mx, my);
                    c.ks->chromaMc[wi](dstNew + (blockRef - dstRef), dstStride, src, srcStride, h, mx, my);
                    if (!r.Expect(std::memcmp(dstRef, dstNew, sizeof dstRef) == 0,
                                  Describe(c.name, "chromaMc w%d h%d mx %d my %d stride %td", w, h, mx, my, srcStride)))
                        break;
                }
            }
        }
    }
}

// ---------------------------------------------------------------- transforms

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
        const bool same = std::memcmp(planeRef, planeNew, sizeof planeRef) == 0 && std::memcmp(coefRef, coefNew, sizeof coefRef) == 0;
        if (!r.Expect(same, Describe(c.name, "%s coefficient kind %d trial %d", name, kind, trial))) break;
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
            const bool same = std::memcmp(blocksRef, blocksNew, sizeof blocksRef) == 0 && std::memcmp(dcRef, dcNew, sizeof dcRef) == 0;
            if (!r.Expect(same, Describe(c.name, "%s qp %d", which ? "chromaDc" : "lumaDc", qp))) break;
        }
    }
}

// ---------------------------------------------------------------- deblocking

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
                          Describe(c.name, "%s alpha %d beta %d tc0 %d %d %d %d stride %td", m.name, e.alpha, e.beta,
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
            if (!r.Expect(std::memcmp(planeRef, planeNew, sizeof planeRef) == 0,
                          Describe(c.name, "%s strong %d %d alpha %d %d / %d %d stride %td", m.name, set.strong[0],
                                   set.strong[1], set.alpha[0][0], set.alpha[0][1], set.alpha[1][0], set.alpha[1][1],
                                   stride)))
                break;
        }
    }
}

// ---------------------------------------------------------------- intra, copies

void CheckIntra(const Candidate &c, const char *name, const IntraPredFn *refFns, const IntraPredFn *newFns, int modes,
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
                          Describe(c.name, "%s mode %d avail %d", name, mode, avail)))
                break;
        }
    }
}

void CheckCopies(const Candidate &c, const KernelSet &ref, Report &r) {
    alignas(16) uint8_t src[64 * 20], dstRef[64 * 20], dstNew[64 * 20];
    for (int wi = 0; wi < 3; wi++) {
        if (ref.copy[wi] == c.ks->copy[wi]) continue;
        for (int trial = 0; trial < 200; trial++) {
            const int h = Uniform(1, 16);
            Fill(src, sizeof src, kRandom);
            Fill(dstRef, sizeof dstRef, kRandom);
            std::memcpy(dstNew, dstRef, sizeof dstRef);
            const ptrdiff_t srcStride = 40 + Uniform(0, 24), dstStride = 64;
            const int srcX = Uniform(0, 15);
            ref.copy[wi](dstRef + 16, dstStride, src + srcX, srcStride, h);
            c.ks->copy[wi](dstNew + 16, dstStride, src + srcX, srcStride, h);
            if (!r.Expect(std::memcmp(dstRef, dstNew, sizeof dstRef) == 0, Describe(c.name, "copy[%d] h %d", wi, h))) break;
        }
    }
}

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
    const Case cases[] = {{"2", 2}, {"0", 2}, {"3", 2}, {"4", native >= 4 ? 4 : 2}, {"5", native >= 4 ? 4 : 2},
                          {"6", best}, {"", best}, {"x", best}, {"44", best}};
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
    int failures = CheckSelection();
    for (const Candidate &c : sets) {
        struct Family {
            const char *name;
            Report report;
        };
        std::vector<Family> families;
        auto run = [&](const char *name, auto &&fn) {
            Family f{name, {}};
            fn(f.report);
            families.push_back(f);
        };
        run("luma MC", [&](Report &r) { CheckLumaMc(c, ref, r); });
        run("chroma MC", [&](Report &r) { CheckChromaMc(c, ref, r); });
        run("idct", [&](Report &r) {
            CheckIdct(c, "idct4x4Add", ref.idct4x4Add, c.ks->idct4x4Add, 4, 0, r);
            CheckIdct(c, "idct4x4DcAdd", ref.idct4x4DcAdd, c.ks->idct4x4DcAdd, 4, 16, r);
            CheckIdct(c, "idct8x8Add", ref.idct8x8Add, c.ks->idct8x8Add, 8, 0, r);
            CheckIdct(c, "idct8x8DcAdd", ref.idct8x8DcAdd, c.ks->idct8x8DcAdd, 8, 64, r);
            CheckIdct(c, "chromaDcAdd", ref.chromaDcAdd, c.ks->chromaDcAdd, 8, 16, r);
            CheckDcHelpers(c, ref, r);
        });
        run("deblock", [&](Report &r) {
            CheckEdges(c, ref, r);
            CheckChromaEdgeSets(c, ref, r);
        });
        run("intra", [&](Report &r) {
            CheckIntra(c, "intra4x4", ref.intra4x4, c.ks->intra4x4, kNumIntraNxNModes, r);
            CheckIntra(c, "intra8x8", ref.intra8x8, c.ks->intra8x8, kNumIntraNxNModes, r);
            CheckIntra(c, "intra16x16", ref.intra16x16, c.ks->intra16x16, kNumIntra16x16Modes, r);
            CheckIntra(c, "intraChroma", ref.intraChroma, c.ks->intraChroma, kNumIntraChromaModes, r);
        });
        run("copy", [&](Report &r) { CheckCopies(c, ref, r); });
        for (const Family &f : families) {
            if (f.report.checked == 0)
                std::printf("%-5s %-10s  (C members)\n", c.name, f.name);
            else
                std::printf("%-5s %-10s  %6d cases  %s\n", c.name, f.name, f.report.checked, f.report.failed ? "FAILED" : "ok");
            failures += f.report.failed;
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
        row(Format("chromaMc %dx%d", w, w), [&](const KernelSet &ks) { ks.chromaMc[wi](dst, 32, src, kStride, w, 3, 5); });
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
