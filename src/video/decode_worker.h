// The per-port video decode worker: feeds each received frame to the H.264
// decoder, copies every picture that comes back into the PictureBuffer
// (cropped as its sequence parameter set says), hands it to the host's
// decoded-frame callback and to the display. Field pictures go through the
// deinterlacer; each completed pair is one frame.
//
// Every operation runs with the owning port's DecoderLock held (taken once),
// and the object takes no lock of its own for them. The one exception is the
// decoded-frame callback: DecodeFrame releases the DecoderLock around it, so
// that the host may call into its port from the callback and other threads
// may snapshot or change the window meanwhile. The PictureBuffer is written by
// the decoding thread alone, so it stays intact while the lock is released.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

#include "h264dec/h264_decoder.h"
#include "platform/callback_gate.h"
#include "platform/page_block.h"
#include "platform/recursive_lock.h"
#include "tessaly/kova.h"
#include "video/picture_counters.h"
#include "video/x11_renderer.h"

namespace tessaly::video {

class TextOverlay;

// Where the decode loop is, for the diagnostic line of a close that times out.
enum ProgressState : int32_t {
    kProgressEntered = 0,
    kProgressDrawing = 1,
    kProgressDrawn = 2,
    kProgressDecodingMore = 3,
    kProgressLeft = 4,
};

// A compact planar 4:2:0 picture: width x height luma bytes, then the two
// chroma planes of width / 2 x height / 2 bytes.
struct I420View {
    const uint8_t *y = nullptr, *u = nullptr, *v = nullptr;
    uint32_t width = 0, height = 0;
    uint32_t yStride = 0, uvStride = 0;
};

class DecodeWorker {
public:
    // Reference frames a setup is sized for at least.
    static constexpr int32_t kMinRefFrames = 2;

    DecodeWorker(KOVA_HWND window, platform::RecursiveLock &decoderLock);
    virtual ~DecodeWorker();
    DecodeWorker(const DecodeWorker &) = delete;
    DecodeWorker &operator=(const DecodeWorker &) = delete;

    // 1 when a setup for (width, height) frames with refFrames reference
    // frames was opened; 0 when refused (below 320 x 240, or a setup is
    // already open).
    int OpenSetup(int32_t width, int32_t height, int32_t refFrames = kMinRefFrames);
    void CloseSetup();
    // False when the memory for the decoder or its picture could not be had.
    bool HasSetup() const { return decoder_ && pictureBuffer_; }

    // Decodes one frame; 1 when at least one picture was shown during the call.
    // A frame that leads with a sequence parameter set announcing a larger
    // picture or more reference frames first reopens the setup for it. A
    // whole access unit (a record file's record) is shown at once; otherwise
    // its picture is shown when the next frame begins.
    int DecodeFrame(const uint8_t *data, uint32_t length, bool wholeAccessUnit = false);

    // Shows a picture the host decoded itself (planar 4:2:0, planes contiguous,
    // or with strides); the setup grows to it when needed. KOVA_OK, or
    // KOVA_ERR_INVALID_ARGUMENT for a format other than KOVA_FORMAT_I420.
    int32_t ShowYuv(uint32_t format, const uint8_t *data, uint32_t width, uint32_t height);
    int32_t ShowYuvStrided(uint32_t format, const uint8_t *y, uint32_t yStride, const uint8_t *u, const uint8_t *v,
                           uint32_t uvStride, uint32_t width, uint32_t height);

    // The port's text overlay, drawn into each frame picture (not into
    // deinterlaced field pairs nor host pictures) before it is handed on; it
    // must outlive the worker's decoding.
    void SetTextOverlay(TextOverlay *overlay) { overlay_ = overlay; }

    // Hands a picture decoded elsewhere (the FFmpeg path: contiguous planar
    // 4:2:0, owned by the caller and left alone by the next calls until its
    // next picture) to the callback and the window, as a decoded one.
    void PresentPicture(uint8_t *picture, uint32_t width, uint32_t height);

    int32_t SetWindow(KOVA_HWND window);
    void Redraw();
    X11Renderer &Renderer() { return renderer_; }

    void SetCallback(KOVA_DecodedFrameCallback callback, intptr_t user) {
        callback_ = callback;
        user_ = user;
    }
    // From now on no decoded-frame callback starts. Waits, until the deadline,
    // for one that is running on another thread to return; true when none runs
    // any more (a callback of the calling thread itself does not count). Call
    // without the DecoderLock.
    bool StopCallbacks(std::chrono::steady_clock::time_point deadline);

    int32_t Progress() const { return progress_; }
    // Pictures decoded, concealed and shown, and the rates of the last second.
    const PictureCounters &Counters() const { return counters_; }
    // For the FFmpeg path, which decodes elsewhere.
    PictureCounters &Counters() { return counters_; }
    int32_t SetupWidth() const { return setupWidth_; }
    int32_t SetupHeight() const { return setupHeight_; }
    int32_t SetupRefFrames() const { return setupRefFrames_; }
    bool HasDecoder() const { return decoder_ != nullptr; }
    // The picture last handed to the callback and the window, as decoded:
    // without the text overlay (a field pair: the deinterlaced frame); empty
    // before the first.
    I420View LastShown() const {
        I420View view = lastShown_;
        if (cleanLumaShown_) view.y = cleanLuma_.get();
        return view;
    }

private:
    // The visible part of a decoded picture, in luma pixels.
    struct VisibleArea {
        uint32_t left, top, width, height;
    };
    static VisibleArea Visible(const DecodedPicture &pic);

    void GrowSetup(int32_t width, int32_t height, int32_t refFrames);
    bool ShowPicture(const DecodedPicture &pic);
    bool ShowField(const DecodedPicture &pic, const VisibleArea &area);
    bool PrepareDeinterlacer(const DecodedPicture &pic, const VisibleArea &area);
    // Hands the PictureBuffer's width x height picture to the callback and the window.
    void Present(uint32_t width, uint32_t height);
    // Counts the picture, keeps it as the last shown, hands the packed copy
    // (null: none was made) to the callback and the view to the window.
    void Show(const I420View &view, uint8_t *packed);
    void DrawOverlay(uint8_t *luma, uint32_t width, uint32_t height);
    void RunCallback(uint8_t *picture, uint32_t width, uint32_t height);

    std::atomic<int32_t> progress_{kProgressLeft};  // read by a closing thread, for diagnostics only
    PictureCounters counters_;
    platform::RecursiveLock &decoderLock_;
    I420View lastShown_{};
    bool lastShownInDecoder_ = false;  // lastShown_ names the decoder's planes
    KOVA_DecodedFrameCallback callback_ = nullptr;
    intptr_t user_ = 0;
    platform::CallbackGate callbackGate_;  // around each callback; closed by StopCallbacks
    X11Renderer renderer_;
    KOVA_HWND window_ = 0;
    TextOverlay *overlay_ = nullptr;
    // The last frame's luma plane before the overlay was drawn into it; made
    // the first time a setup shows text.
    platform::PageBlock cleanLuma_;
    bool cleanLumaShown_ = false;
    H264Decoder *decoder_ = nullptr;
    DecoderAttr decoderAttr_{};
    DecodedPicture currentPicture_{};
    void *deinterlacer_ = nullptr;
    int32_t deinterlaceGeometry_[4] = {0, 0, 0, 0};  // width, field height, input strides
    platform::PageBlock pictureBuffer_;
    size_t pictureBufferBytes_ = 0;
    int32_t setupWidth_ = 0;
    int32_t setupHeight_ = 0;
    int32_t setupRefFrames_ = 0;
    // The largest picture shown so far, which a new window's surface is made for.
    uint32_t shownWidth_ = 0;
    uint32_t shownHeight_ = 0;
};

}  // namespace tessaly::video
