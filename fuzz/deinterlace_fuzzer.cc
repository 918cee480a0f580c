// Arbitrary geometries and fields through the deinterlacer. The first bytes
// choose the six parameters (around their limits, sometimes extreme values),
// the rest drive a sequence of calls: picture type, and the field bytes.
// Every buffer is allocated at exactly the size the header documents, so a
// read or write beyond it is caught; the output's row padding must stay
// untouched.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "tessaly/tq_deinterlace.h"

namespace {

constexpr uint8_t kPadding = 0xA5;
constexpr int kMaxCalls = 24;

const int32_t kExtremes[4] = {INT32_MIN, -1, 0, INT32_MAX};

struct Input {
    const uint8_t *data;
    size_t size;
    size_t pos = 0;
    uint8_t Byte() { return pos < size ? data[pos++] : 0; }
};

// A parameter near its lower limit: up to two below, up to 13 above.
int32_t Near(int32_t limit, uint8_t byte) { return limit - 2 + byte % 16; }

tqDEINTERLACE_PARA_S ChooseGeometry(Input &in) {
    tqDEINTERLACE_PARA_S p;
    p.width = 118 + in.Byte();  // 118..373: below and above the minimum, odd and even
    p.fieldHeight = 1 + in.Byte() % 40;
    p.yStride = Near(p.width, in.Byte());
    p.uvStride = Near(p.width / 2, in.Byte());
    p.outYStride = Near(p.width, in.Byte());
    p.outUvStride = Near(p.width / 2, in.Byte());
    const uint8_t extreme = in.Byte();
    if (extreme & 0x80) {
        int32_t *fields[6] = {&p.width, &p.fieldHeight, &p.yStride, &p.uvStride, &p.outYStride, &p.outUvStride};
        *fields[(extreme >> 2) % 6] = kExtremes[extreme & 3];
    }
    return p;
}

void Fill(std::vector<uint8_t> &buffer, Input &in, uint8_t seed) {
    for (size_t k = 0; k < buffer.size(); ++k)
        buffer[k] = in.size ? uint8_t(in.data[(k + seed) % in.size] + seed) : seed;
}

// Bytes between the rows of an output plane were never written.
bool PaddingKept(const std::vector<uint8_t> &plane, size_t rows, int32_t width, int32_t stride) {
    for (size_t r = 0; r + 1 < rows; ++r)
        for (size_t c = size_t(width); c < size_t(stride); ++c)
            if (plane[r * size_t(stride) + c] != kPadding) return false;
    return true;
}

// Gives the handle up to kMaxCalls fields (some refused), then checks that
// the output's row padding was never written.
void RunCalls(Input &in, const tqDEINTERLACE_PARA_S &p, void *handle) {
    const size_t fh = size_t(p.fieldHeight);
    const size_t chromaRows = 2 * (fh / 2);
    std::vector<uint8_t> y(fh * size_t(p.yStride)), u(fh * size_t(p.uvStride) / 2), v(u.size());
    std::vector<uint8_t> outY((2 * fh - 1) * size_t(p.outYStride) + size_t(p.width), kPadding);
    std::vector<uint8_t> outU((chromaRows - 1) * size_t(p.outUvStride) + size_t(p.width / 2), kPadding);
    std::vector<uint8_t> outV(outU.size(), kPadding);
    const tqDEINTERLACE_FRAME_S frame = {outY.data(), outU.data(), outV.data()};

    for (int call = 0; call < kMaxCalls && in.pos < in.size; ++call) {
        const uint8_t control = in.Byte();
        const int32_t type = control % 4;  // 0 and 3 are refused
        uint8_t seed = control;
        for (std::vector<uint8_t> *plane : {&y, &u, &v}) Fill(*plane, in, seed++);
        const uint8_t *yIn = (control & 0x40) ? nullptr : y.data();
        const int32_t rc = TQ_Deinterlace(handle, frame, yIn, u.data(), v.data(), tqPIC_TYPE_E(type));
        const int32_t want = yIn == nullptr             ? TQ_DEINTERLACE_ERR_NULL
                             : (type == 1 || type == 2) ? TQ_DEINTERLACE_OK
                                                        : TQ_DEINTERLACE_ERR_PIC_TYPE;
        if (rc != want) __builtin_trap();
    }
    if (!PaddingKept(outY, 2 * fh, p.width, p.outYStride) ||
        !PaddingKept(outU, chromaRows, p.width / 2, p.outUvStride) ||
        !PaddingKept(outV, chromaRows, p.width / 2, p.outUvStride))
        __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    Input in{data, size};
    const tqDEINTERLACE_PARA_S p = ChooseGeometry(in);

    int marker = 0;
    void *handle = &marker;
    const int32_t created = TQ_InitDeinterlace(&handle, p);
    if (created != TQ_DEINTERLACE_OK) {
        if (handle != nullptr) __builtin_trap();
        if (created != TQ_DEINTERLACE_ERR_PARAM && created != TQ_DEINTERLACE_ERR_MEMORY) __builtin_trap();
        return 0;
    }
    // The output strides are the caller's business and may be accepted at
    // any size; only those this harness can afford to back are exercised.
    const bool affordable = p.outYStride <= 4096 && p.outUvStride <= 4096;
    if (affordable) RunCalls(in, p, handle);
    if (TQ_ReleaseDeinterlace(handle) != TQ_DEINTERLACE_OK) __builtin_trap();
    return 0;
}
