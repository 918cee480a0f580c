// One deinterlacer: the luma history of the last four fields, the still
// counters and the chroma of the last field, for one picture geometry.
//
// All memory is taken at creation. A field costs one block copy of its luma
// and one of its chroma; a bottom field also writes the frame. The exported
// calls (tq_deinterlace.cc) check the arguments; this type trusts them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/page_block.h"
#include "tessaly/tq_deinterlace.h"
#include "video/deinterlace_dsp.h"

namespace tessaly::video {

class Deinterlacer {
public:
    // Checks the geometry and builds a deinterlacer with grey history.
    // Returns TQ_DEINTERLACE_OK with *out set, or TQ_DEINTERLACE_ERR_PARAM /
    // TQ_DEINTERLACE_ERR_MEMORY with *out null.
    static int32_t Create(const tqDEINTERLACE_PARA_S &para, Deinterlacer **out);
    ~Deinterlacer();

    Deinterlacer(const Deinterlacer &) = delete;
    Deinterlacer &operator=(const Deinterlacer &) = delete;

    // Takes one field (pointers non-null, buffers as the public header sizes
    // them). A bottom field first writes the frame into `frame`.
    void TakeField(const uint8_t *y, const uint8_t *u, const uint8_t *v, bool bottom,
                   const tqDEINTERLACE_FRAME_S &frame);

private:
    explicit Deinterlacer(const tqDEINTERLACE_PARA_S &para);
    bool Allocate();

    void WriteLuma(uint8_t *out) const;
    void WriteChroma(uint8_t *out, const uint8_t *store) const;
    void RotateHistory();

    const tqDEINTERLACE_PARA_S para_;
    const int64_t frameHeight_;  // 2 * fieldHeight
    const DeinterlaceDsp &dsp_;

    size_t planeBytes_ = 0;   // one luma field: fieldHeight * yStride
    size_t chromaBytes_ = 0;  // one chroma plane of a field: fieldHeight * uvStride / 2

    platform::PageBlock planeBlock_;  // the planes start 8-aligned in it
    // history_[0] is the field of the current call, [1] the one before, ...
    uint8_t *history_[4] = {};
    uint8_t *stillCount_ = nullptr;
    platform::PageBlock storedU_;
    platform::PageBlock storedV_;
};

}  // namespace tessaly::video
