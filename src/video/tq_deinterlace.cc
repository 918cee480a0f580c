// The exported deinterlacer calls: argument checks and result codes. The
// handle a host holds is the Deinterlacer itself.
#include "tessaly/tq_deinterlace.h"

#include <cstring>

#include "video/deinterlace.h"

using tessaly::video::Deinterlacer;

TQ_DEINTERLACE_API int32_t TQ_InitDeinterlace(void **handle, tqDEINTERLACE_PARA_S para) {
    if (handle == nullptr) return TQ_DEINTERLACE_ERR_NULL;
    Deinterlacer *created = nullptr;
    const int32_t result = Deinterlacer::Create(para, &created);
    *handle = created;
    return result;
}

TQ_DEINTERLACE_API int32_t TQ_Deinterlace(void *handle, tqDEINTERLACE_FRAME_S frame, const uint8_t *y, const uint8_t *u,
                                          const uint8_t *v, tqPIC_TYPE_E type) {
    if (handle == nullptr || frame.y == nullptr || frame.u == nullptr || frame.v == nullptr || y == nullptr ||
        u == nullptr || v == nullptr) {
        return TQ_DEINTERLACE_ERR_NULL;
    }
    // Compared as a plain integer: hosts may pass any value through the enum.
    const int32_t pictureType = static_cast<int32_t>(type);
    if (pictureType != PIC_TYPE_TOP_FIELD && pictureType != PIC_TYPE_BOTTOM_FIELD) {
        return TQ_DEINTERLACE_ERR_PIC_TYPE;
    }
    static_cast<Deinterlacer *>(handle)->TakeField(y, u, v, pictureType == PIC_TYPE_BOTTOM_FIELD, frame);
    return TQ_DEINTERLACE_OK;
}

TQ_DEINTERLACE_API int32_t TQ_ReleaseDeinterlace(void *handle) {
    if (handle == nullptr) return TQ_DEINTERLACE_ERR_NULL;
    delete static_cast<Deinterlacer *>(handle);
    return TQ_DEINTERLACE_OK;
}

TQ_DEINTERLACE_API int32_t TQ_GetVersion(char **version) {
    if (version == nullptr || *version == nullptr) return TQ_DEINTERLACE_ERR_NULL;
    std::memcpy(*version, TQ_DEINTERLACE_VERSION, TQ_DEINTERLACE_VERSION_BYTES);
    return TQ_DEINTERLACE_OK;
}
