// Deinterlacer state: creation, the field history and frame assembly.
#include "video/deinterlace.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace tessaly::video {
namespace {

constexpr int32_t kMinWidth = 128;
constexpr int32_t kMinFieldHeight = 4;
constexpr uint8_t kGrey = 128;
// Padding the allocation sizes carry beyond the planes (the plane block also
// uses it to align its first plane).
constexpr size_t kSlack = 8;
// Geometries needing more than this are refused as out of memory rather than
// left to fill (and be killed for) most of the machine's memory.
constexpr uint64_t kMaxStateBytes = uint64_t{1} << 30;

// Parameters in the order they are checked; the first out of range refuses.
bool GeometryAccepted(const tqDEINTERLACE_PARA_S &p) {
    if (p.width < kMinWidth) return false;
    if (p.fieldHeight < kMinFieldHeight) return false;
    if (p.yStride < p.width) return false;
    if (p.uvStride < p.width / 2) return false;
    if (p.outYStride < p.width) return false;
    if (p.outUvStride < p.width / 2) return false;
    return true;
}

uint8_t *AlignUp8(uint8_t *p) {
    const uintptr_t address = reinterpret_cast<uintptr_t>(p);
    return reinterpret_cast<uint8_t *>((address + 7) & ~uintptr_t{7});
}

}  // namespace

Deinterlacer::Deinterlacer(const tqDEINTERLACE_PARA_S &para)
    : para_(para), frameHeight_(2 * int64_t{para.fieldHeight}), dsp_(DeinterlaceDsp_Get()) {}

Deinterlacer::~Deinterlacer() = default;

int32_t Deinterlacer::Create(const tqDEINTERLACE_PARA_S &para, Deinterlacer **out) {
    *out = nullptr;
    if (!GeometryAccepted(para)) return TQ_DEINTERLACE_ERR_PARAM;
    Deinterlacer *d = new (std::nothrow) Deinterlacer(para);
    if (d == nullptr) return TQ_DEINTERLACE_ERR_MEMORY;
    if (!d->Allocate()) {
        delete d;
        return TQ_DEINTERLACE_ERR_MEMORY;
    }
    *out = d;
    return TQ_DEINTERLACE_OK;
}

bool Deinterlacer::Allocate() {
    // Accepted parameters are positive 32-bit values, so each product fits in
    // 64 bits; the weighted sum is formed only once both are known small.
    const uint64_t plane = uint64_t(para_.fieldHeight) * uint64_t(para_.yStride);
    const uint64_t chroma = uint64_t(para_.fieldHeight) * uint64_t(para_.uvStride) / 2;
    if (plane > kMaxStateBytes || chroma > kMaxStateBytes) return false;
    if (5 * plane + 2 * chroma > kMaxStateBytes) return false;
    planeBytes_ = size_t(plane);
    chromaBytes_ = size_t(chroma);

    planeBlock_ = platform::AllocatePages(5 * planeBytes_ + kSlack);
    storedU_ = platform::AllocatePages(chromaBytes_ + kSlack);
    storedV_ = platform::AllocatePages(chromaBytes_ + kSlack);
    if (!planeBlock_ || !storedU_ || !storedV_) return false;

    uint8_t *plane0 = AlignUp8(planeBlock_.get());
    for (int i = 0; i < 4; ++i) history_[i] = plane0 + i * planeBytes_;
    stillCount_ = plane0 + 4 * planeBytes_;
    std::memset(plane0, kGrey, 4 * planeBytes_);
    std::memset(stillCount_, 0, planeBytes_);
    std::memset(storedU_.get(), kGrey, chromaBytes_ + kSlack);
    std::memset(storedV_.get(), kGrey, chromaBytes_ + kSlack);
    return true;
}

void Deinterlacer::TakeField(const uint8_t *y, const uint8_t *u, const uint8_t *v, bool bottom,
                             const tqDEINTERLACE_FRAME_S &frame) {
    std::memcpy(history_[0], y, planeBytes_);
    if (bottom) {
        WriteLuma(frame.y);
        // The stores still hold the previous field's chroma: the top field's.
        WriteChroma(frame.u, storedU_.get());
        WriteChroma(frame.v, storedV_.get());
    }
    RotateHistory();
    std::memcpy(storedU_.get(), u, chromaBytes_);
    std::memcpy(storedV_.get(), v, chromaBytes_);
}

// Even rows from the top field (its first and last rows doubled at the
// frame's edges, where there is no second row to interpolate towards), odd
// rows in between from the motion-adaptive kernel.
void Deinterlacer::WriteLuma(uint8_t *out) const {
    const ptrdiff_t inStride = para_.yStride;
    const ptrdiff_t outStride = para_.outYStride;
    const size_t width = size_t(para_.width);
    const uint8_t *top = history_[1];
    const int32_t lastTopRow = para_.fieldHeight - 1;
    auto outRow = [&](int64_t i) { return out + i * outStride; };

    std::memcpy(outRow(0), top, width);
    std::memcpy(outRow(1), top, width);
    FieldRows rows{history_[0], history_[1], history_[2], history_[3], inStride};
    for (int32_t k = 1; k < lastTopRow; ++k) {
        const ptrdiff_t offset = k * inStride;
        rows.bottom = history_[0] + offset;
        rows.top = history_[1] + offset;
        rows.prevBottom = history_[2] + offset;
        rows.prevTop = history_[3] + offset;
        std::memcpy(outRow(2 * int64_t{k}), rows.top, width);
        dsp_.buildMissingRow(outRow(2 * int64_t{k} + 1), rows, stillCount_ + offset, para_.width);
    }
    std::memcpy(outRow(frameHeight_ - 2), top + lastTopRow * inStride, width);
    std::memcpy(outRow(frameHeight_ - 1), top + lastTopRow * inStride, width);
}

// Each stored chroma row twice.
void Deinterlacer::WriteChroma(uint8_t *out, const uint8_t *store) const {
    const ptrdiff_t inStride = para_.uvStride;
    const ptrdiff_t outStride = para_.outUvStride;
    const size_t width = size_t(para_.width / 2);
    const int32_t rows = para_.fieldHeight / 2;
    for (int32_t j = 0; j < rows; ++j) {
        const uint8_t *src = store + j * inStride;
        std::memcpy(out + (2 * j) * outStride, src, width);
        std::memcpy(out + (2 * j + 1) * outStride, src, width);
    }
}

// The oldest plane is reused for the next call's field.
void Deinterlacer::RotateHistory() {
    uint8_t *oldest = history_[3];
    history_[3] = history_[2];
    history_[2] = history_[1];
    history_[1] = history_[0];
    history_[0] = oldest;
}

}  // namespace tessaly::video
