// Motion compensation and the block copies. MC sources sit against an
// inaccessible page: a read outside the documented window faults.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "checkasm.h"

namespace tessaly::h264::checkasm {
namespace {

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

private:
    uint8_t *base_;
    size_t page_, usable_;
};

// Places a (winW x winH) read window so that it ends at the arena's end
// (tail) or starts at its beginning (head); returns the window's first byte.
uint8_t *PlaceWindow(GuardedArena &arena, ptrdiff_t stride, int winW, int winH, bool atEnd) {
    const size_t span = static_cast<size_t>((winH - 1) * stride + winW);
    return atEnd ? arena.End() - span : arena.Begin();
}

}  // namespace

void CheckLumaMc(const Candidate &c, const KernelSet &ref, Report &r) {
    GuardedArena arena(128 * 1024);
    alignas(16) uint8_t dstRef[48 * 24], dstNew[48 * 24];
    for (int wi = 0; wi < 3; wi++) {
        const int w = kLumaW[wi];
        for (int pos = 0; pos < 16; pos++) {
            if (c.ks->lumaMc[wi][pos] == ref.lumaMc[wi][pos]) continue;
            for (int h : {4, 8, 16}) {
                for (int trial = 0; trial < 24; trial++) {
                    const ptrdiff_t srcStride =
                        trial < 4 ? w + 5 + trial : (trial & 1 ? 64 + Uniform(0, 64) : 2 * 1920);
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
                                  Format("%s lumaMc w%d h%d pos %d stride %td align %d", c.name, w, h, pos, srcStride,
                                         align)))
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
                    Fill(win, static_cast<size_t>(h * srcStride + w + 1 + align),
                         static_cast<Pattern>(Uniform(0, kNumPatterns - 1)));
                    const uint8_t *src = win + align;
                    const ptrdiff_t dstStride = 32;
                    uint8_t *const blockRef = dstRef + dstStride + 8 + w * Uniform(0, 8 / w - 1);
                    Fill(dstRef, sizeof dstRef, kRandom);
                    std::memcpy(dstNew, dstRef, sizeof dstRef);
                    ref.chromaMc[wi](blockRef, dstStride, src, srcStride, h, mx, my);
                    c.ks->chromaMc[wi](dstNew + (blockRef - dstRef), dstStride, src, srcStride, h, mx, my);
                    if (!r.Expect(
                            std::memcmp(dstRef, dstNew, sizeof dstRef) == 0,
                            Format("%s chromaMc w%d h%d mx %d my %d stride %td", c.name, w, h, mx, my, srcStride)))
                        break;
                }
            }
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
            if (!r.Expect(std::memcmp(dstRef, dstNew, sizeof dstRef) == 0, Format("%s copy[%d] h %d", c.name, wi, h)))
                break;
        }
    }
}

}  // namespace tessaly::h264::checkasm
