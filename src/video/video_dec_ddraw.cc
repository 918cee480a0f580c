#include "video/video_dec_ddraw.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "tessaly/tq_deinterlace.h"
#include "video/sps_probe.h"

namespace tessaly::video {
namespace {

constexpr int32_t kInitialWidth = 720;
constexpr int32_t kInitialHeight = 576;
constexpr int32_t kMinSetupWidth = 320;
constexpr int32_t kMinSetupHeight = 240;

void CopyPlane(uint8_t *dst, const uint8_t *src, uint32_t srcStride, uint32_t width, uint32_t rows) {
    for (uint32_t r = 0; r < rows; ++r) std::memcpy(dst + size_t{r} * width, src + size_t{r} * srcStride, width);
}

}  // namespace

CTQ_PLAY_VideoDecDDraw::CTQ_PLAY_VideoDecDDraw(KOVA_HWND window) : m_hWindow(window) {
    OpenSetup(kInitialWidth, kInitialHeight);
}

CTQ_PLAY_VideoDecDDraw::~CTQ_PLAY_VideoDecDDraw() { CloseSetup(); }

int CTQ_PLAY_VideoDecDDraw::OpenSetup(int32_t width, int32_t height) {
    if (width < kMinSetupWidth || height < kMinSetupHeight) return 0;
    if (m_pPictureBuffer || m_pDecoder) return 0;
    m_pDeinterlacer = nullptr;
    m_bDeinterlacerReady = false;
    std::fill(std::begin(m_pFramePlanes), std::end(m_pFramePlanes), nullptr);
    if (m_hWindow) m_renderer.Create(m_hWindow, static_cast<uint32_t>(width), static_cast<uint32_t>(height));

    // Room for a frame picture and for a deinterlaced frame of twice the height.
    const size_t area = size_t((width + 7) & ~7) * size_t(height);
    m_pPictureBuffer = static_cast<uint8_t *>(std::calloc(area * 3 / 2 + area * 4, 1));

    m_stAttr = DecoderAttr{};
    m_stAttr.widthMbs = static_cast<uint32_t>(width / 16);
    m_stAttr.heightMbs = static_cast<uint32_t>(height / 16);
    m_stAttr.bufferCount = 2;
    m_pDecoder = H264Decoder_Create(&m_stAttr);

    m_nSetupWidth = width;
    m_nSetupHeight = height;
    m_stLastPicture = DecodedPicture{};
    m_stCurrent = DecodedPicture{};
    std::fill(std::begin(m_pLastFrame), std::end(m_pLastFrame), nullptr);
    return 1;
}

void CTQ_PLAY_VideoDecDDraw::CloseSetup() {
    // A setup whose buffer or decoder could not be made is released here too,
    // so a later growth can open a fresh one.
    std::free(m_pPictureBuffer);
    m_pPictureBuffer = nullptr;
    TQ_ReleaseDeinterlace(m_pDeinterlacer);
    m_pDeinterlacer = nullptr;
    m_bDeinterlacerReady = false;
    H264Decoder_Destroy(m_pDecoder);
    m_pDecoder = nullptr;
    if (m_hWindow) m_renderer.Release();
}

void CTQ_PLAY_VideoDecDDraw::GrowSetup(int32_t width, int32_t height) {
    if (width <= m_nSetupWidth && height <= m_nSetupHeight && m_pDecoder && m_pPictureBuffer) return;
    const int32_t w = std::max(width, m_nSetupWidth), h = std::max(height, m_nSetupHeight);
    CloseSetup();
    OpenSetup(w, h);
}

int CTQ_PLAY_VideoDecDDraw::DecodeFrame(const uint8_t *data, uint32_t length) {
    nFlag = kProgressEntered;
    int shown = 0;
    if (!m_pDecoder || !m_pPictureBuffer) {
        nFlag = kProgressLeft;
        return 0;
    }
    ProbedSize size;
    if (ProbeSpsSize(data, length, size)) {
        GrowSetup(size.width, size.height);
        if (!m_pDecoder || !m_pPictureBuffer) {
            nFlag = kProgressLeft;
            return 0;
        }
    }
    int32_t r = H264Decoder_Decode(m_pDecoder, data, length, 0, 0, &m_stCurrent, 0);
    while (r != DEC_NEED_MORE_DATA) {
        if (r == DEC_OK && ShowPicture(m_stCurrent)) shown = 1;
        nFlag = kProgressDecodingMore;
        r = H264Decoder_Decode(m_pDecoder, nullptr, 0, 0, 0, &m_stCurrent, 0);
    }
    nFlag = kProgressLeft;
    return shown;
}

bool CTQ_PLAY_VideoDecDDraw::ShowPicture(DecodedPicture &pic) {
    // The bottom eight rows of a 1088-row picture are padding and never shown.
    if (pic.height == 1088) pic.height = 1080;
    m_stLastPicture = pic;
    if (pic.fieldHint != 0) return ShowField(pic);

    const uint32_t w = pic.width, h = pic.height;
    if (size_t{w} * h > size_t(m_nSetupWidth) * size_t(m_nSetupHeight)) return false;  // never past the buffer
    uint8_t *y = m_pPictureBuffer;
    CopyPlane(y, pic.y, pic.yStride, w, h);
    CopyPlane(y + size_t{w} * h, pic.u, pic.uvStride, w / 2, h / 2);
    CopyPlane(y + size_t{w} * h * 5 / 4, pic.v, pic.uvStride, w / 2, h / 2);
    if (m_hWindow) m_renderer.SetPictureSize(w, h);
    if (m_pfnCallback)
        m_pfnCallback(KOVA_FORMAT_I420, y, static_cast<int32_t>(w * h * 3 / 2), static_cast<int32_t>(w),
                      static_cast<int32_t>(h), m_nUser);
    if (m_hWindow) {
        nFlag = kProgressDrawing;
        m_renderer.DrawYuv(y, y + size_t{w} * h, y + size_t{w} * h * 5 / 4, 1);
        nFlag = kProgressDrawn;
    }
    return true;
}

bool CTQ_PLAY_VideoDecDDraw::ShowField(const DecodedPicture &pic) {
    const uint32_t w = pic.width, h = pic.height;
    if (size_t{w} * h * 2 > size_t(m_nSetupWidth) * size_t(m_nSetupHeight) * 2) return false;
    if (!m_bDeinterlacerReady) {
        tqDEINTERLACE_PARA_S para{};
        para.width = static_cast<int32_t>(w);
        para.fieldHeight = static_cast<int32_t>(h);
        para.yStride = static_cast<int32_t>(pic.yStride);
        para.uvStride = static_cast<int32_t>(pic.uvStride);
        para.outYStride = static_cast<int32_t>(w);
        para.outUvStride = static_cast<int32_t>(w / 2);
        TQ_InitDeinterlace(&m_pDeinterlacer, para);
        m_pFramePlanes[0] = m_pPictureBuffer;
        m_pFramePlanes[1] = m_pPictureBuffer + 2 * size_t{w} * h;
        m_pFramePlanes[2] = m_pPictureBuffer + 5 * size_t{w} * h / 2;
        m_bDeinterlacerReady = true;
    }
    tqDEINTERLACE_FRAME_S frame{m_pFramePlanes[0], m_pFramePlanes[1], m_pFramePlanes[2]};
    TQ_Deinterlace(m_pDeinterlacer, frame, pic.y, pic.u, pic.v, static_cast<tqPIC_TYPE_E>(pic.fieldHint));
    if (pic.fieldHint != PIC_TYPE_BOTTOM_FIELD) return false;

    std::copy(std::begin(m_pFramePlanes), std::end(m_pFramePlanes), m_pLastFrame);
    if (m_hWindow) m_renderer.SetPictureSize(w, 2 * h);
    if (m_pfnCallback)
        m_pfnCallback(KOVA_FORMAT_I420, m_pPictureBuffer, static_cast<int32_t>(w * h * 3), static_cast<int32_t>(w),
                      static_cast<int32_t>(2 * h), m_nUser);
    if (m_hWindow) m_renderer.DrawYuv(m_pFramePlanes[0], m_pFramePlanes[1], m_pFramePlanes[2], 1);
    return true;
}

int32_t CTQ_PLAY_VideoDecDDraw::ShowYuv(uint32_t format, const uint8_t *data, uint32_t width, uint32_t height) {
    const size_t area = size_t{width} * height;
    return ShowYuvStrided(format, data, width, data + area, data + area * 5 / 4, width / 2, width, height);
}

int32_t CTQ_PLAY_VideoDecDDraw::ShowYuvStrided(uint32_t format, const uint8_t *y, uint32_t yStride, const uint8_t *u,
                                               const uint8_t *v, uint32_t uvStride, uint32_t width,
                                               uint32_t height) {
    if (format != KOVA_FORMAT_I420) return KOVA_ERR_INVALID_ARGUMENT;
    GrowSetup(static_cast<int32_t>(width), static_cast<int32_t>(height));
    if (!m_hWindow) return KOVA_OK;
    m_renderer.SetPictureSize(width, height);
    m_renderer.DrawYuvStrided(y, yStride, u, v, uvStride, 1);
    return KOVA_OK;
}

int32_t CTQ_PLAY_VideoDecDDraw::SetWindow(KOVA_HWND window) {
    if (m_hWindow) m_renderer.Release();
    m_hWindow = window;
    if (m_hWindow)
        m_renderer.Create(m_hWindow, static_cast<uint32_t>(m_nSetupWidth), static_cast<uint32_t>(m_nSetupHeight));
    return KOVA_OK;
}

void CTQ_PLAY_VideoDecDDraw::Redraw() {
    const DecodedPicture &last = m_stLastPicture;
    if (!last.y || !last.u || !last.v || !m_hWindow) return;
    if (last.fieldHint != 0) {
        if (m_pLastFrame[0] && m_pLastFrame[1] && m_pLastFrame[2])
            m_renderer.DrawYuv(m_pLastFrame[0], m_pLastFrame[1], m_pLastFrame[2], 1);
        return;
    }
    const size_t area = size_t{last.width} * last.height;
    m_renderer.DrawYuv(m_pPictureBuffer, m_pPictureBuffer + area, m_pPictureBuffer + area * 5 / 4, 1);
}

}  // namespace tessaly::video
