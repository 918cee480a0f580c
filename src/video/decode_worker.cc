#include "video/decode_worker.h"

#include <cxxabi.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "platform/trace.h"
#include "tessaly/tq_deinterlace.h"
#include "video/plane_copy.h"
#include "video/sps_probe.h"
#include "video/text_overlay.h"

namespace tessaly::video {
namespace {

constexpr int32_t kInitialWidth = 720;
constexpr int32_t kInitialHeight = 576;
constexpr int32_t kMinSetupWidth = 320;
constexpr int32_t kMinSetupHeight = 240;
constexpr int32_t kMaxRefFrames = 16;

// Moves rows of `width` bytes at srcStride to dst at stride width. dst never
// lies after src, so going forward row by row reads every row before it is
// overwritten.
void CompactPlane(uint8_t *dst, const uint8_t *src, size_t srcStride, uint32_t width, uint32_t rows) {
    for (uint32_t r = 0; r < rows; ++r) std::memmove(dst + size_t{r} * width, src + r * srcStride, width);
}

}  // namespace

DecodeWorker::DecodeWorker(KOVA_HWND window, platform::RecursiveLock &decoderLock)
    : decoderLock_(decoderLock), window_(window) {
    if (window_) renderer_.Create(window_, kInitialWidth, kInitialHeight);
    OpenSetup(kInitialWidth, kInitialHeight);
}

DecodeWorker::~DecodeWorker() {
    CloseSetup();
    if (window_) renderer_.Release();
}

int DecodeWorker::OpenSetup(int32_t width, int32_t height, int32_t refFrames) {
    if (width < kMinSetupWidth || height < kMinSetupHeight) return 0;
    if (pictureBuffer_ || decoder_) return 0;
    // The window keeps its renderer; its surface only grows.
    if (renderer_.IsInitialised()) renderer_.GrowSurface(static_cast<uint32_t>(width), static_cast<uint32_t>(height));

    // Room for a cropped frame, and for a deinterlaced frame of two setup-sized
    // fields. Untouched pages cost nothing, so the field room is free for
    // frame streams.
    const size_t area = size_t((width + 7) & ~7) * size_t(height);
    pictureBufferBytes_ = area * 3;
    pictureBuffer_ = platform::AllocatePages(pictureBufferBytes_);

    decoderAttr_ = DecoderAttr{};
    decoderAttr_.widthMbs = static_cast<uint32_t>(width / 16);
    decoderAttr_.heightMbs = static_cast<uint32_t>(height / 16);
    decoderAttr_.bufferCount = static_cast<uint32_t>(std::clamp(refFrames, kMinRefFrames, kMaxRefFrames));
    decoder_ = H264Decoder_Create(&decoderAttr_);

    setupWidth_ = width;
    setupHeight_ = height;
    setupRefFrames_ = static_cast<int32_t>(decoderAttr_.bufferCount);
    lastShown_ = I420View{};
    currentPicture_ = DecodedPicture{};
    return 1;
}

void DecodeWorker::CloseSetup() {
    // A setup whose buffer or decoder could not be made is released here too,
    // so a later growth can open a fresh one.
    pictureBuffer_.reset();
    pictureBufferBytes_ = 0;
    lastShown_ = I420View{};
    cleanLuma_.reset();
    cleanLumaShown_ = false;
    TQ_ReleaseDeinterlace(deinterlacer_);
    deinterlacer_ = nullptr;
    std::fill(std::begin(deinterlaceGeometry_), std::end(deinterlaceGeometry_), 0);
    H264Decoder_Destroy(decoder_);
    decoder_ = nullptr;
}

void DecodeWorker::GrowSetup(int32_t width, int32_t height, int32_t refFrames) {
    refFrames = std::clamp(refFrames, kMinRefFrames, kMaxRefFrames);
    if (width <= setupWidth_ && height <= setupHeight_ && refFrames <= setupRefFrames_ && decoder_ && pictureBuffer_)
        return;
    const int32_t w = std::max(width, setupWidth_), h = std::max(height, setupHeight_);
    const int32_t refs = std::max(refFrames, setupRefFrames_);
    CloseSetup();
    OpenSetup(w, h, refs);
}

int DecodeWorker::DecodeFrame(const uint8_t *data, uint32_t length, bool wholeAccessUnit) {
    progress_ = kProgressEntered;
    int shown = 0;
    h264::SpsSummary sps;
    if (ProbeKeyFrameSps(data, length, sps))
        GrowSetup(static_cast<int32_t>(sps.codedWidth), static_cast<int32_t>(sps.codedHeight),
                  static_cast<int32_t>(sps.numRefFrames));
    if (!decoder_ || !pictureBuffer_) {
        progress_ = kProgressLeft;
        return 0;
    }
    const uint32_t flags = wholeAccessUnit ? uint32_t{DEC_FLAG_END_OF_ACCESS_UNIT} : 0u;
    auto started = PictureCounters::Clock::now();
    int32_t r = H264Decoder_Decode(decoder_, data, length, 0, 0, &currentPicture_, flags);
    while (r != DEC_NEED_MORE_DATA) {
        counters_.DecodeTime(PictureCounters::Clock::now() - started);
        if (r == DEC_OK) {
            // The decoder keeps only the picture it handed out last.
            if (lastShownInDecoder_) lastShown_ = I420View{};
            counters_.Decoded(currentPicture_.damaged != 0);
            if (ShowPicture(currentPicture_)) shown = 1;
        }
        progress_ = kProgressDecodingMore;
        started = PictureCounters::Clock::now();
        r = H264Decoder_Decode(decoder_, nullptr, 0, 0, 0, &currentPicture_, flags);
    }
    counters_.DecodeTime(PictureCounters::Clock::now() - started);
    progress_ = kProgressLeft;
    return shown;
}

DecodeWorker::VisibleArea DecodeWorker::Visible(const DecodedPicture &pic) {
    uint32_t left = pic.cropLeft, right = pic.cropRight, top = pic.cropTop, bottom = pic.cropBottom;
    if (uint64_t{left} + right >= pic.width || uint64_t{top} + bottom >= pic.height) left = right = top = bottom = 0;
    // Streams that do not say so still carry eight rows of padding in a 1088-row picture.
    if ((left | right | top | bottom) == 0 && pic.height == 1088) bottom = 8;
    return {left, top, pic.width - left - right, pic.height - top - bottom};
}

bool DecodeWorker::ShowPicture(const DecodedPicture &pic) {
    const VisibleArea a = Visible(pic);
    if (pic.fieldHint != 0) return ShowField(pic, a);

    const size_t area = size_t{a.width} * a.height;
    if (area * 3 / 2 > pictureBufferBytes_) return false;  // never past the buffer
    const size_t chromaOffset = size_t{a.top / 2} * pic.uvStride + a.left / 2;
    if (!callback_ && !(overlay_ && overlay_->HasLines())) {
        // Nobody needs a packed copy of its own: the window and snapshots
        // read the decoder's planes, which stay unchanged until it hands out
        // the next picture (decoding happens under the DecoderLock, as do
        // snapshots).
        cleanLumaShown_ = false;
        Show({pic.y + size_t{a.top} * pic.yStride + a.left, pic.u + chromaOffset, pic.v + chromaOffset, a.width,
              a.height, pic.yStride, pic.uvStride},
             nullptr);
        return true;
    }
    uint8_t *y = pictureBuffer_.get();
    CopyPlanePacked(y, pic.y + size_t{a.top} * pic.yStride + a.left, pic.yStride, a.width, a.height);
    CopyPlanePacked(y + area, pic.u + chromaOffset, pic.uvStride, a.width / 2, a.height / 2);
    CopyPlanePacked(y + area * 5 / 4, pic.v + chromaOffset, pic.uvStride, a.width / 2, a.height / 2);
    DrawOverlay(y, a.width, a.height);
    Present(a.width, a.height);
    return true;
}

// The deinterlacer works on the visible rows but from column 0, so that the
// rows it reads never run past the decoder's planes; a left crop is removed
// afterwards by compacting the frame in place.
bool DecodeWorker::PrepareDeinterlacer(const DecodedPicture &pic, const VisibleArea &a) {
    const int32_t geometry[4] = {static_cast<int32_t>(a.left + a.width), static_cast<int32_t>(a.height),
                                 static_cast<int32_t>(pic.yStride), static_cast<int32_t>(pic.uvStride)};
    if (size_t(geometry[0]) * size_t(geometry[1]) * 3 > pictureBufferBytes_) return false;
    if (!std::equal(std::begin(geometry), std::end(geometry), deinterlaceGeometry_)) {
        // A new field geometry (the first fields, or a stream of another size):
        // a fresh history. A refused geometry is not retried field by field.
        TQ_ReleaseDeinterlace(deinterlacer_);
        deinterlacer_ = nullptr;
        std::copy(std::begin(geometry), std::end(geometry), deinterlaceGeometry_);
        tqDEINTERLACE_PARA_S para{};
        para.width = geometry[0];
        para.fieldHeight = geometry[1];
        para.yStride = geometry[2];
        para.uvStride = geometry[3];
        para.outYStride = geometry[0];
        para.outUvStride = geometry[0] / 2;
        TQ_InitDeinterlace(&deinterlacer_, para);
    }
    return deinterlacer_ != nullptr;
}

bool DecodeWorker::ShowField(const DecodedPicture &pic, const VisibleArea &a) {
    if (!PrepareDeinterlacer(pic, a)) return false;
    cleanLumaShown_ = false;
    const uint32_t fullWidth = a.left + a.width, rows = 2 * a.height;
    uint8_t *y = pictureBuffer_.get();
    uint8_t *u = y + size_t{fullWidth} * rows;
    uint8_t *v = u + size_t{fullWidth / 2} * a.height;
    const size_t chromaOffset = size_t{a.top / 2} * pic.uvStride;
    tqDEINTERLACE_FRAME_S frame{y, u, v};
    TQ_Deinterlace(deinterlacer_, frame, pic.y + size_t{a.top} * pic.yStride, pic.u + chromaOffset,
                   pic.v + chromaOffset, static_cast<tqPIC_TYPE_E>(pic.fieldHint));
    if (pic.fieldHint != PIC_TYPE_BOTTOM_FIELD) return false;

    if (a.left != 0) {
        const size_t area = size_t{a.width} * rows;
        CompactPlane(y, y + a.left, fullWidth, a.width, rows);
        CompactPlane(y + area, u + a.left / 2, fullWidth / 2, a.width / 2, a.height);
        CompactPlane(y + area * 5 / 4, v + a.left / 2, fullWidth / 2, a.width / 2, a.height);
    }
    Present(a.width, rows);
    return true;
}

// Draws the port's text into the frame in the PictureBuffer, keeping its luma
// plane as decoded aside for snapshots. The room for it is made once per
// setup, the first time text is shown; without it the text is left out.
void DecodeWorker::DrawOverlay(uint8_t *luma, uint32_t width, uint32_t height) {
    cleanLumaShown_ = false;
    if (!overlay_ || !overlay_->HasLines()) return;
    // A frame's luma plane is at most two thirds of the PictureBuffer.
    if (!cleanLuma_) cleanLuma_ = platform::AllocatePages(pictureBufferBytes_ / 3 * 2);
    if (cleanLuma_) cleanLumaShown_ = overlay_->Render(luma, width, height, cleanLuma_.get());
}

void DecodeWorker::Present(uint32_t width, uint32_t height) { PresentPicture(pictureBuffer_.get(), width, height); }

void DecodeWorker::PresentPicture(uint8_t *y, uint32_t width, uint32_t height) {
    if (y != pictureBuffer_.get()) cleanLumaShown_ = false;
    const size_t area = size_t{width} * height;
    Show({y, y + area, y + area * 5 / 4, width, height, width, width / 2}, y);
}

void DecodeWorker::Show(const I420View &view, uint8_t *packed) {
    counters_.Shown(view.width, view.height);
    lastShown_ = view;
    lastShownInDecoder_ = packed == nullptr;
    if (view.width > shownWidth_ || view.height > shownHeight_) {
        // A picture larger than the setup (deinterlaced fields): the window's
        // surface grows once for it.
        shownWidth_ = std::max(view.width, shownWidth_);
        shownHeight_ = std::max(view.height, shownHeight_);
        if (renderer_.IsInitialised()) renderer_.GrowSurface(shownWidth_, shownHeight_);
    }
    if (packed) RunCallback(packed, view.width, view.height);
    if (window_) {
        progress_ = kProgressDrawing;
        renderer_.SetPictureSize(view.width, view.height);
        renderer_.DrawYuvStrided(view.y, view.yStride, view.u, view.v, view.uvStride, 1);
        progress_ = kProgressDrawn;
    }
}

void DecodeWorker::RunCallback(uint8_t *picture, uint32_t width, uint32_t height) {
    const KOVA_DecodedFrameCallback callback = callback_;
    const intptr_t user = user_;
    if (!callback) return;
    // The host may call into this port from the callback, and other host
    // threads may take the DecoderLock under their port lock meanwhile.
    platform::ScopedUnlock unlocked(decoderLock_);
    if (!callbackGate_.Enter()) return;
    try {
        callback(KOVA_FORMAT_I420, picture, static_cast<int32_t>(size_t{width} * height * 3 / 2),
                 static_cast<int32_t>(width), static_cast<int32_t>(height), user);
    } catch (const abi::__forced_unwind &) {
        callbackGate_.Leave();
        throw;  // the thread is being cancelled: let it unwind
    } catch (...) {
        platform::Trace("decoded-frame callback threw an exception; ignored");
    }
    callbackGate_.Leave();
}

bool DecodeWorker::StopCallbacks(std::chrono::steady_clock::time_point deadline) {
    return callbackGate_.Close(deadline);
}

int32_t DecodeWorker::ShowYuv(uint32_t format, const uint8_t *data, uint32_t width, uint32_t height) {
    const size_t area = size_t{width} * height;
    return ShowYuvStrided(format, data, width, data + area, data + area * 5 / 4, width / 2, width, height);
}

int32_t DecodeWorker::ShowYuvStrided(uint32_t format, const uint8_t *y, uint32_t yStride, const uint8_t *u,
                                     const uint8_t *v, uint32_t uvStride, uint32_t width, uint32_t height) {
    if (format != KOVA_FORMAT_I420) return KOVA_ERR_INVALID_ARGUMENT;
    GrowSetup(static_cast<int32_t>(width), static_cast<int32_t>(height), setupRefFrames_);
    if (!window_) return KOVA_OK;
    renderer_.SetPictureSize(width, height);
    renderer_.DrawYuvStrided(y, yStride, u, v, uvStride, 1);
    return KOVA_OK;
}

int32_t DecodeWorker::SetWindow(KOVA_HWND window) {
    if (window_) renderer_.Release();
    window_ = window;
    if (window_)
        renderer_.Create(window_, std::max(static_cast<uint32_t>(setupWidth_), shownWidth_),
                         std::max(static_cast<uint32_t>(setupHeight_), shownHeight_));
    return KOVA_OK;
}

void DecodeWorker::Redraw() {
    const I420View &last = lastShown_;
    if (!last.y || !window_) return;
    renderer_.SetPictureSize(last.width, last.height);
    renderer_.DrawYuvStrided(last.y, last.yStride, last.u, last.v, last.uvStride, 1);
}

}  // namespace tessaly::video
