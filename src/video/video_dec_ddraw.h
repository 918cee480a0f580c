// The per-port video decode worker: feeds each received frame to the H.264
// decoder, copies every picture that comes back into the PictureBuffer, hands
// it to the host's decoded-frame callback and to the display. Field pictures
// go through the deinterlacer; each completed pair is one frame.
//
// Every operation runs with the owning port's DecoderLock held; the object
// itself takes no lock.
#pragma once

#include <atomic>
#include <cstdint>

#include "h264dec/h264_decoder.h"
#include "tessaly/kova.h"
#include "video/directx_draw.h"

namespace tessaly::video {

// Where the decode loop is, for the diagnostic line of a close that times out.
enum ProgressState : int32_t {
    kProgressEntered = 0,
    kProgressDrawing = 1,
    kProgressDrawn = 2,
    kProgressDecodingMore = 3,
    kProgressLeft = 4,
};

class CTQ_PLAY_VideoDecDDraw {
public:
    explicit CTQ_PLAY_VideoDecDDraw(KOVA_HWND window);
    virtual ~CTQ_PLAY_VideoDecDDraw();
    CTQ_PLAY_VideoDecDDraw(const CTQ_PLAY_VideoDecDDraw &) = delete;
    CTQ_PLAY_VideoDecDDraw &operator=(const CTQ_PLAY_VideoDecDDraw &) = delete;

    // 1 when a setup for (width, height) was opened; 0 when refused (below
    // 320 x 240, or a setup is already open).
    int OpenSetup(int32_t width, int32_t height);
    void CloseSetup();

    // Decodes one frame; 1 when at least one picture was shown during the call.
    int DecodeFrame(const uint8_t *data, uint32_t length);

    // Shows a picture the host decoded itself (planar 4:2:0, planes contiguous,
    // or with strides); the setup grows to it when needed. 0, or -504 for a
    // format other than 1.
    int32_t ShowYuv(uint32_t format, const uint8_t *data, uint32_t width, uint32_t height);
    int32_t ShowYuvStrided(uint32_t format, const uint8_t *y, uint32_t yStride, const uint8_t *u, const uint8_t *v,
                           uint32_t uvStride, uint32_t width, uint32_t height);

    int32_t SetWindow(KOVA_HWND window);
    void Redraw();
    CTQ_DIRECTX_Draw &Renderer() { return m_renderer; }

    void SetCallback(KOVA_DecodedFrameCallback callback, intptr_t user) {
        m_pfnCallback = callback;
        m_nUser = user;
    }

    int32_t Progress() const { return nFlag; }
    int32_t SetupWidth() const { return m_nSetupWidth; }
    int32_t SetupHeight() const { return m_nSetupHeight; }
    bool HasDecoder() const { return m_pDecoder != nullptr; }
    const DecodedPicture &LastPicture() const { return m_stLastPicture; }
    // Planes of the last frame the deinterlacer completed (null before one).
    uint8_t *const *LastFrame() const { return m_pLastFrame; }

private:
    void GrowSetup(int32_t width, int32_t height);
    bool ShowPicture(DecodedPicture &pic);
    bool ShowField(const DecodedPicture &pic);

    std::atomic<int32_t> nFlag{kProgressLeft};  // read by a closing thread, for diagnostics only
    DecodedPicture m_stLastPicture{};
    uint8_t *m_pLastFrame[3] = {nullptr, nullptr, nullptr};
    KOVA_DecodedFrameCallback m_pfnCallback = nullptr;
    intptr_t m_nUser = 0;
    CTQ_DIRECTX_Draw m_renderer;
    KOVA_HWND m_hWindow = 0;
    H264Decoder *m_pDecoder = nullptr;
    DecoderAttr m_stAttr{};
    DecodedPicture m_stCurrent{};
    void *m_pDeinterlacer = nullptr;
    uint8_t *m_pPictureBuffer = nullptr;
    uint8_t *m_pFramePlanes[3] = {nullptr, nullptr, nullptr};
    bool m_bDeinterlacerReady = false;
    int32_t m_nSetupWidth = 0;
    int32_t m_nSetupHeight = 0;
};

}  // namespace tessaly::video
