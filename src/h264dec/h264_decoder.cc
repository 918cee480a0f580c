// The decoder's call interface: creation, the decode call protocol, destruction.
#include "h264dec/h264_decoder.h"

#include <cstring>
#include <new>

#include "h264dec/aligned_alloc.h"
#include "h264dec/decoder_context.h"
#include "h264dec/dsp/kernel_set.h"
#include "h264dec/picture/field_merge.h"
#include "h264dec/slice_threads.h"

using namespace tessaly::h264;

namespace {

constexpr uint32_t kDefaultWidthMbs = 120, kDefaultHeightMbs = 68;
constexpr uint32_t kNalSlack = 4096;
constexpr uint8_t kEndMarker[4] = {0, 0, 0, 1};

// Distance between picture buffers. Common sizes are whole 4 KiB pages
// (1920x1088 is 765 of them), and a still block copied from the same place
// in the reference would then load from addresses whose low 12 bits equal
// those of the stores just made: the processor takes every such load for a
// possible reload of the store (4K aliasing) and waits. An odd number of
// cache lines more sets each buffer apart.
size_t PicturePitch(size_t pictureBytes) { return pictureBytes + 19 * 64; }

template <typename T>
T *AllocArray(size_t count) {
    void *block = AlignedAllocZeroed(sizeof(T) * count);
    if (!block) return nullptr;
    T *items = static_cast<T *>(block);
    for (size_t i = 0; i < count; ++i) new (&items[i]) T();
    return items;
}

void FreeAll(H264Decoder *h) {
    if (!h) return;
    if (h->sliceDecoder) SliceDecoderDestroy(h->sliceDecoder);
    // A worker that did not stop in time may still write into the picture
    // planes or read reference pictures: those stay allocated for it.
    const bool workersEnded = SliceThreadsDestroy(h->threads);
    if (workersEnded) AlignedFree(h->pictureBlock);
    AlignedFree(h->outputBuffer);
    AlignedFree(h->historyPlane);
    AlignedFree(h->mbDecoded);
    AlignedFree(h->nalBuffer);
    AlignedFree(h->spsStore);
    AlignedFree(h->ppsStore);
    h->~H264Decoder();
    AlignedFree(h);
}

void FillOutput(const Picture &p, DecodedPicture *out) {
    out->y = p.y;
    out->u = p.u;
    out->v = p.v;
    out->width = p.width;
    out->height = p.height;
    out->yStride = p.width;
    out->uvStride = p.width / 2;
    out->cropLeft = p.cropLeft;
    out->cropRight = p.cropRight;
    out->cropTop = p.cropTop;
    out->cropBottom = p.cropBottom;
    out->bufferIndex = uint32_t(p.index);
    out->fieldHint = p.fieldHint;
    out->damaged = p.damaged;
    out->isIdr = p.isIdr;
    out->userLow = p.userLow;
    out->userHigh = p.userHigh;
    out->poc = p.Poc();
    out->userData = p.userData;
    out->stats = p.stats;
}

bool TakeOutput(H264Decoder *h, DecodedPicture *out) {
    Picture *p = DpbTakeOutput(&h->dpb);
    if (!p) return false;
    FillOutput(*p, out);
    if ((h->modeFlags & DEC_MODE_FIELD_MERGE) && p->interlace != 0) {
        const size_t lumaBytes = size_t(h->maxWidth) * h->maxHeight;
        const MergeTarget target{h->outputBuffer, h->outputBuffer + lumaBytes,
                                 h->outputBuffer + lumaBytes + lumaBytes / 4, h->historyPlane};
        FieldMerge(*p, target);
        out->y = target.y;
        out->u = target.u;
        out->v = target.v;
    }
    return true;
}

}  // namespace

namespace tessaly::h264 {

void WaitForSliceWorkers(H264Decoder *h) {
    if (h->threads) h->currentMbs += SliceThreadsWaitAll(h->threads);
}

void ResetStream(H264Decoder *h) {
    NalScannerInit(&h->scanner, h->nalBuffer, uint32_t(h->pictureBytes + kNalSlack));
    h->dpb.numPictures = int32_t(2 * h->bufferCount + 4);
    h->dpb.size = int32_t(h->bufferCount);
    h->dpb.displayOrder = (h->modeFlags & DEC_MODE_DISPLAY_ORDER) ? 1 : 0;
    DpbReset(&h->dpb);
    for (int i = 0; i < kMaxSps; ++i) h->spsStore[i].id = kMaxSps;
    for (int i = 0; i < kMaxPps; ++i) h->ppsStore[i].id = kMaxPps;
    h->activeSps.id = kMaxSps;
    h->activePps.id = kMaxPps;
    h->state = StreamState::kWaitSps;
    h->current = nullptr;
    h->lastReference = nullptr;
    h->havePrev = 0;
}

}  // namespace tessaly::h264

extern "C" {

H264Decoder *H264Decoder_Create(const DecoderAttr *attr) {
    const int cpuLevel = CpuLevelProbe();
    if (cpuLevel < 2) return nullptr;
    if (!attr) return nullptr;
    const KernelSet *kernels = KernelSetGet(cpuLevel);
    if (!kernels) return nullptr;

    void *block = AlignedAllocZeroed(sizeof(H264Decoder));
    if (!block) return nullptr;
    H264Decoder *h = new (block) H264Decoder();

    h->widthMbs = (attr->widthMbs < 2 || attr->widthMbs > 352) ? kDefaultWidthMbs : attr->widthMbs;
    h->heightMbs = (attr->heightMbs < 6 || attr->heightMbs > 256) ? kDefaultHeightMbs : attr->heightMbs;
    h->bufferCount = attr->bufferCount == 0 ? 4 : (attr->bufferCount > 16 ? 16 : attr->bufferCount);
    h->modeFlags = attr->modeFlags;
    h->maxWidth = 16 * h->widthMbs;
    h->maxHeight = 16 * h->heightMbs;
    h->pictureBytes = size_t(h->maxWidth) * h->maxHeight * 3 / 2;
    h->kernels = kernels;

    const uint32_t numPictures = 2 * h->bufferCount + 4;
    // The NalBuffer keeps 16 readable bytes behind its capacity for look-ahead.
    h->spsStore = AllocArray<Sps>(kMaxSps);
    h->ppsStore = AllocArray<Pps>(kMaxPps);
    h->nalBuffer = static_cast<uint8_t *>(AlignedAllocZeroed(h->pictureBytes + kNalSlack + 16));
    h->outputBuffer = static_cast<uint8_t *>(AlignedAllocZeroed(h->pictureBytes));
    h->pictureBlock = static_cast<uint8_t *>(AlignedAllocZeroed(PicturePitch(h->pictureBytes) * numPictures));
    if (h->modeFlags & DEC_MODE_FIELD_MERGE)
        h->historyPlane = static_cast<uint8_t *>(AlignedAllocZeroed(h->pictureBytes));
    h->mbDecoded = static_cast<uint8_t *>(AlignedAllocZeroed(size_t(h->widthMbs) * h->heightMbs));
    h->sliceDecoder = SliceDecoderCreate(int32_t(h->widthMbs), int32_t(h->heightMbs), kernels);
    const bool threaded = (h->modeFlags & DEC_MODE_SLICE_THREADS) != 0;
    if (threaded)
        h->threads =
            SliceThreadsCreate(int32_t(h->widthMbs), int32_t(h->heightMbs), h->pictureBytes + kNalSlack, kernels);
    if ((threaded && !h->threads) || !h->spsStore || !h->ppsStore || !h->nalBuffer || !h->outputBuffer ||
        !h->pictureBlock || !h->mbDecoded || ((h->modeFlags & DEC_MODE_FIELD_MERGE) && !h->historyPlane) ||
        !h->sliceDecoder) {
        FreeAll(h);
        return nullptr;
    }

    const size_t lumaBytes = size_t(h->maxWidth) * h->maxHeight;
    for (uint32_t i = 0; i < numPictures; ++i) {
        uint8_t *base = h->pictureBlock + i * PicturePitch(h->pictureBytes);
        Picture &p = h->dpb.pictures[i];
        p.y = base;
        p.u = base + lumaBytes;
        p.v = p.u + lumaBytes / 4;
    }
    ResetStream(h);
    return h;
}

void H264Decoder_Destroy(H264Decoder *h) { FreeAll(h); }

int32_t H264Decoder_Decode(H264Decoder *h, const uint8_t *data, uint32_t length, uint32_t userLow, uint32_t userHigh,
                           DecodedPicture *out, uint32_t flags) {
    if (!h || !out) return DEC_BAD_ARGUMENT;
    out->y = out->u = out->v = nullptr;
    h->userLow = userLow;
    h->userHigh = userHigh;

    bool endOfStream = false;
    if (data && length) {
        h->pending = data;
        h->pendingLength = length;
        h->pendingPos = 0;
        h->streamEnded = 0;
        h->endMarkerFed = 0;
    } else if (flags & DEC_FLAG_END_OF_STREAM) {
        endOfStream = true;
        // Close the last unit with a start code, once per stream segment.
        if (!h->streamEnded && !h->endMarkerFed && h->pendingPos >= h->pendingLength) {
            h->pending = kEndMarker;
            h->pendingLength = sizeof(kEndMarker);
            h->pendingPos = 0;
            h->endMarkerFed = 1;
        }
    }

    for (;;) {
        while (h->pending && h->pendingPos < h->pendingLength) {
            NalUnit unit;
            h->pendingPos +=
                NalScannerScan(&h->scanner, h->pending + h->pendingPos, h->pendingLength - h->pendingPos, &unit);
            if (unit.size) {
                ProcessNalUnit(h, unit);
                if (DpbHasOutput(&h->dpb) && TakeOutput(h, out)) return DEC_OK;
            }
        }
        h->pending = nullptr;
        h->pendingLength = h->pendingPos = 0;
        // The end of an access unit: its last unit closed by a start code.
        if (endOfStream || !(flags & DEC_FLAG_END_OF_ACCESS_UNIT) || h->endMarkerFed || h->streamEnded) break;
        h->pending = kEndMarker;
        h->pendingLength = sizeof(kEndMarker);
        h->endMarkerFed = 1;
    }
    if (!endOfStream) {
        if (!(flags & DEC_FLAG_END_OF_ACCESS_UNIT)) return DEC_NEED_MORE_DATA;
        if (h->current) {
            WaitForSliceWorkers(h);
            ClosePicture(h);
            h->scanner.window = kScannerIdleWindow;
        }
        return TakeOutput(h, out) ? DEC_OK : DEC_NEED_MORE_DATA;
    }

    if (!h->streamEnded) {
        WaitForSliceWorkers(h);
        if (h->current) ClosePicture(h);
        DpbFlush(&h->dpb);
        h->streamEnded = 1;
        h->scanner.window = kScannerIdleWindow;
    }
    return TakeOutput(h, out) ? DEC_OK : DEC_NO_PICTURE;
}

}  // extern "C"
