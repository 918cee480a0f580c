#include "player/video_player.h"

#include <chrono>
#include <thread>

#include "platform/trace.h"
#include "platform/x11_windows.h"
#include "player/playback_timer.h"
#include "player/stream_buffer.h"
#include "video/snapshot.h"
#include "video/video_dec_ddraw.h"

namespace tessaly::player {

using video::CTQ_PLAY_VideoDecDDraw;

struct CVideoPlayer::Session {
    platform::Event frameEvent{false};
    platform::RecursiveLock queueLock;
    platform::RecursiveLock decoderLock;
    CTQ_PLAY_VideoDecDDraw decoder;
    // Stream ports only.
    std::unique_ptr<StreamBuffer> stream;
    std::unique_ptr<uint8_t[]> wrapScratch;

    Session(KOVA_HWND window, bool forStream) : decoder(window) {
        if (!forStream) return;
        stream = std::make_unique<StreamBuffer>(queueLock);
        wrapScratch.reset(new uint8_t[StreamBuffer::kMaxFrame]);
    }
};

namespace {

constexpr auto kCloseTimeout = std::chrono::milliseconds(10000);
constexpr int32_t kBacklogFrames = 15;

}  // namespace

CVideoPlayer::~CVideoPlayer() { Close(); }

int32_t CVideoPlayer::OpenStream(KOVA_HWND window, uint32_t streamKind) {
    if (m_nMode != kModeClosed) return KOVA_ERR_ALREADY_OPEN;
    if (window != 0 && !platform::IsWindow(window)) return KOVA_ERR_INVALID_ARGUMENT;

    m_hWindow = window;
    auto session = std::make_shared<Session>(window, true);
    if (!m_worker.Start([session](platform::Event &stop) { StreamDecodeThread(*session, stop); }))
        return KOVA_ERR_MISSING_OBJECT;
    m_pSession = std::move(session);
    m_nTimerClient = m_pTimer->Register(StreamTickPeriod(streamKind), &CVideoPlayer::Tick, this);
    m_nMode = kModeStream;
    return KOVA_OK;
}

int32_t CVideoPlayer::OpenRawPicture(KOVA_HWND window) {
    if (m_nMode != kModeClosed) return KOVA_ERR_ALREADY_OPEN;
    if (!platform::IsWindow(window)) return KOVA_ERR_INVALID_ARGUMENT;
    m_hWindow = window;
    m_pSession = std::make_shared<Session>(window, false);
    m_nMode = kModeRawPicture;
    return KOVA_OK;
}

int32_t CVideoPlayer::ShowRawPicture(uint32_t format, const uint8_t *data, uint32_t width, uint32_t height) {
    if (m_nMode != kModeRawPicture) return KOVA_ERR_NOT_OPEN;
    if (!m_pSession) return KOVA_ERR_MISSING_OBJECT;
    platform::ScopedLock lock(m_pSession->decoderLock);
    return m_pSession->decoder.ShowYuv(format, data, width, height);
}

int32_t CVideoPlayer::SetDisplayWindow(KOVA_HWND window) {
    if (!m_pSession) return KOVA_ERR_MISSING_OBJECT;
    if (window != 0 && !platform::IsWindow(window)) return KOVA_ERR_INVALID_ARGUMENT;
    platform::ScopedLock lock(m_pSession->decoderLock);
    m_hWindow = window;
    return m_pSession->decoder.SetWindow(window);
}

void CVideoPlayer::SetCallback(KOVA_DecodedFrameCallback callback, intptr_t user) {
    if (!m_pSession) return;
    platform::ScopedLock lock(m_pSession->decoderLock);
    m_pSession->decoder.SetCallback(callback, user);
}

int32_t CVideoPlayer::Close() {
    // No tick runs in this player once the client is removed.
    if (m_nTimerClient != -1) {
        m_pTimer->Unregister(m_nTimerClient);
        m_nTimerClient = -1;
    }
    if (m_worker.Running() && !m_worker.Stop(kCloseTimeout)) {
        // The worker still holds its session; it is freed when the thread ends.
        platform::Trace("CVideoPlayer::Close() Wait Time Out, m_pVideoDecDDraw->nFlag %d",
                        m_pSession ? m_pSession->decoder.Progress() : -1);
    }
    if (m_nMode == kModeFile) {
        m_bPaused = 1;
        m_nSpeedLevel = 0;
    }
    m_pSession.reset();
    m_hWindow = 0;
    m_nMode = kModeClosed;
    return KOVA_OK;
}

void CVideoPlayer::Tick(int, void *user) {
    auto *self = static_cast<CVideoPlayer *>(user);
    // Registered only while a session exists; Close unregisters before dropping it.
    self->m_pSession->frameEvent.Set();
}

void CVideoPlayer::StreamDecodeThread(Session &s, platform::Event &stop) {
    platform::Event *events[] = {&stop, &s.frameEvent};
    for (;;) {
        if (platform::WaitAny(events, 2) == 0) return;
        const int32_t length = s.stream->PeekLength();
        if (length == 0) continue;
        if (length < 1 || length > static_cast<int32_t>(StreamBuffer::kMaxFrame)) return;
        const uint8_t *frame = s.stream->FrameBytes(length, s.wrapScratch.get());
        {
            platform::ScopedLock lock(s.decoderLock);
            s.decoder.DecodeFrame(frame, static_cast<uint32_t>(length));
        }
        if (s.stream->Pop(length) > kBacklogFrames) s.frameEvent.Set();
    }
}

int32_t CVideoPlayer::SubmitVideo(const uint8_t *data, uint32_t length) {
    if (m_nMode != kModeStream || !m_pSession) return KOVA_ERR_NOT_OPEN;
    return m_pSession->stream->Submit(data, length);
}

int32_t CVideoPlayer::GetStreamBufInfo(uint32_t *capacity, uint32_t *fill) {
    const bool stream = m_nMode == kModeStream && m_pSession;
    *capacity = stream ? StreamBuffer::kCapacity : 0;
    *fill = stream ? m_pSession->stream->Fill() : 0;
    return KOVA_OK;
}

int32_t CVideoPlayer::Snapshot(const char *fileName) {
    if (!m_pSession) return KOVA_ERR_MISSING_OBJECT;
    // The decoder's planes are rewritten by every decode: hold the worker off.
    platform::ScopedLock lock(m_pSession->decoderLock);
    const CTQ_PLAY_VideoDecDDraw &worker = m_pSession->decoder;
    const DecodedPicture &last = worker.LastPicture();
    if (!last.y || !last.u || !last.v) return KOVA_ERR_NO_PICTURE;
    video::PlanarPicture picture{last.y, last.u, last.v, last.yStride, last.uvStride, last.width, last.height};
    if (last.fieldHint != 0) {
        uint8_t *const *frame = worker.LastFrame();
        if (!frame[0] || !frame[1] || !frame[2]) return KOVA_ERR_NO_PICTURE;
        picture = {frame[0], frame[1], frame[2], last.width, last.width / 2, last.width, 2 * last.height};
    }
    return video::WriteBitmap(fileName, picture);
}

// A live stream has no file to position or time, and its tick follows the
// stream kind: play control changes only the paused flag, which the stream
// worker does not consult, and NextFrame releases one extra decoding step.
int32_t CVideoPlayer::Play() {
    m_bPaused = 0;
    return KOVA_OK;
}

int32_t CVideoPlayer::Pause() {
    m_bPaused = 1;
    return KOVA_OK;
}

int32_t CVideoPlayer::Stop() {
    m_bPaused = 1;
    return KOVA_OK;
}

int32_t CVideoPlayer::NextFrame() {
    if (m_pSession) m_pSession->frameEvent.Set();
    return KOVA_OK;
}

int32_t CVideoPlayer::Slow() { return KOVA_OK; }
int32_t CVideoPlayer::Fast() { return KOVA_OK; }

int32_t CVideoPlayer::GetSpeed(int32_t *level) {
    if (!level) return KOVA_ERR_INVALID_ARGUMENT;
    *level = m_nSpeedLevel;
    return KOVA_OK;
}

int32_t CVideoPlayer::GetPlayingPos(uint32_t *thousandths) {
    if (!thousandths) return KOVA_ERR_INVALID_ARGUMENT;
    *thousandths = 0;
    return KOVA_OK;
}

int32_t CVideoPlayer::SetPlayingPos(uint32_t thousandths) {
    return thousandths > 1000 ? KOVA_ERR_INVALID_ARGUMENT : KOVA_OK;
}

int32_t CVideoPlayer::GetPlayingTime(uint32_t *seconds) {
    if (!seconds) return KOVA_ERR_INVALID_ARGUMENT;
    *seconds = 0;
    return KOVA_OK;
}

}  // namespace tessaly::player
