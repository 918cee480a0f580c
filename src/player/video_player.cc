#include "player/video_player.h"

#include <algorithm>
#include <chrono>

#include "platform/trace.h"
#include "platform/x11_windows.h"
#include "player/playback_timer.h"
#include "player/stream_buffer.h"
#include "video/snapshot.h"
#include "video/sps_probe.h"
#include "video/decode_worker.h"

namespace tessaly::player {

using video::DecodeWorker;

struct VideoPlayer::Session {
    platform::Event frameEvent{false};
    platform::RecursiveLock queueLock;
    platform::RecursiveLock decoderLock;
    DecodeWorker decoder;
    std::unique_ptr<StreamBuffer> stream;  // stream ports only

    Session(KOVA_HWND window, bool forStream) : decoder(window, decoderLock) {
        if (forStream) stream = std::make_unique<StreamBuffer>(queueLock);
    }
};

namespace {

constexpr int32_t kBacklogFrames = 15;

// The access-unit limit a picture size asks for: a key frame of an
// uncompressible picture is about 3/8 byte per pixel.
uint32_t FrameLimitFor(const h264::SpsSummary &sps) {
    return std::max(StreamBuffer::kMinFrameLimit, uint32_t(uint64_t{sps.codedWidth} * sps.codedHeight * 3 / 8));
}

}  // namespace

VideoPlayer::~VideoPlayer() { Close(); }

int32_t VideoPlayer::OpenStream(KOVA_HWND window, uint32_t streamKind) {
    if (m_nMode != kModeClosed) return KOVA_ERR_ALREADY_OPEN;
    if (window != 0 && !platform::WindowExists(window)) return KOVA_ERR_INVALID_ARGUMENT;

    auto session = std::make_shared<Session>(window, true);
    auto worker = std::make_unique<platform::WorkerThread>();
    if (!worker->Start([session](platform::Event &stop) { StreamDecodeThread(*session, stop); }))
        return KOVA_ERR_MISSING_OBJECT;
    m_hWindow = window;
    m_pSession = std::move(session);
    m_pWorker = std::move(worker);
    m_nTimerClient = m_pTimer->Register(StreamTickPeriod(streamKind), &VideoPlayer::Tick, m_pSession.get());
    m_nMode = kModeStream;
    return KOVA_OK;
}

int32_t VideoPlayer::OpenRawPicture(KOVA_HWND window) {
    if (m_nMode != kModeClosed) return KOVA_ERR_ALREADY_OPEN;
    if (!platform::WindowExists(window)) return KOVA_ERR_INVALID_ARGUMENT;
    m_hWindow = window;
    m_pSession = std::make_shared<Session>(window, false);
    m_nMode = kModeRawPicture;
    return KOVA_OK;
}

int32_t VideoPlayer::ShowRawPicture(uint32_t format, const uint8_t *data, uint32_t width, uint32_t height) {
    if (m_nMode != kModeRawPicture) return KOVA_ERR_NOT_OPEN;
    if (!m_pSession) return KOVA_ERR_MISSING_OBJECT;
    platform::ScopedLock lock(m_pSession->decoderLock);
    return m_pSession->decoder.ShowYuv(format, data, width, height);
}

int32_t VideoPlayer::SetDisplayWindow(KOVA_HWND window) {
    if (!m_pSession) return KOVA_ERR_MISSING_OBJECT;
    if (window != 0 && !platform::WindowExists(window)) return KOVA_ERR_INVALID_ARGUMENT;
    platform::ScopedLock lock(m_pSession->decoderLock);
    m_hWindow = window;
    return m_pSession->decoder.SetWindow(window);
}

void VideoPlayer::SetCallback(KOVA_DecodedFrameCallback callback, intptr_t user) {
    if (!m_pSession) return;
    platform::ScopedLock lock(m_pSession->decoderLock);
    m_pSession->decoder.SetCallback(callback, user);
}

VideoPlayer::PendingClose VideoPlayer::BeginClose() {
    // No tick runs for this session once the client is removed.
    if (m_nTimerClient != -1) {
        m_pTimer->Unregister(m_nTimerClient);
        m_nTimerClient = -1;
    }
    PendingClose pending;
    if (m_pWorker) m_pWorker->StopEvent().Set();
    pending.m_pSession = std::move(m_pSession);
    pending.m_pWorker = std::move(m_pWorker);
    if (m_nMode == kModeFile) {
        m_bPaused = 1;
        m_nSpeedLevel = 0;
    }
    m_hWindow = 0;
    m_nMode = kModeClosed;
    return pending;
}

int32_t VideoPlayer::Close() {
    BeginClose().Finish(std::chrono::steady_clock::now() + kCloseTimeout);
    return KOVA_OK;
}

VideoPlayer::PendingClose::PendingClose() = default;
VideoPlayer::PendingClose::PendingClose(PendingClose &&) noexcept = default;
VideoPlayer::PendingClose &VideoPlayer::PendingClose::operator=(PendingClose &&) noexcept = default;

VideoPlayer::PendingClose::~PendingClose() {
    if (!m_pSession && !m_pWorker) return;
    try {
        Finish(std::chrono::steady_clock::now() + kCloseTimeout);
    } catch (...) {
        // Joining failed: the thread keeps what it holds and frees it at its end.
    }
}

void VideoPlayer::PendingClose::Finish(std::chrono::steady_clock::time_point deadline) {
    if (m_pSession) m_pSession->decoder.StopCallbacks(deadline);
    if (m_pWorker) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (m_pWorker->IsCurrentThread()) {
            m_pWorker->Abandon();  // closed from its own callback: it ends after the callback
        } else if (!m_pWorker->Stop(std::max(left, std::chrono::milliseconds(0)))) {
            // The worker still holds its session; it is freed when the thread ends.
            platform::Trace("CVideoPlayer::Close() Wait Time Out, m_pVideoDecDDraw->nFlag %d",
                            m_pSession ? m_pSession->decoder.Progress() : -1);
        }
    }
    m_pWorker.reset();
    m_pSession.reset();
}

void VideoPlayer::Tick(int, void *user) {
    // Registered for as long as the session lives: BeginClose unregisters first.
    static_cast<Session *>(user)->frameEvent.Set();
}

void VideoPlayer::StreamDecodeThread(Session &s, platform::Event &stop) {
    platform::Event *events[] = {&stop, &s.frameEvent};
    for (;;) {
        if (platform::WaitAny(events, 2) == 0) return;
        const StreamBuffer::Frame frame = s.stream->TakeFront();
        if (frame.length == 0) continue;
        {
            platform::ScopedLock lock(s.decoderLock);
            s.decoder.DecodeFrame(frame.bytes, frame.length);
        }
        if (s.stream->Pop(frame.length) > kBacklogFrames) s.frameEvent.Set();
    }
}

int32_t VideoPlayer::SubmitVideo(const uint8_t *data, uint32_t length) {
    if (m_nMode != kModeStream || !m_pSession) return KOVA_ERR_NOT_OPEN;
    // A key frame that announces a larger picture is judged by that picture.
    h264::SpsSummary sps;
    if (video::ProbeKeyFrameSps(data, length, sps)) m_pSession->stream->Reserve(FrameLimitFor(sps));
    return m_pSession->stream->Submit(data, length);
}

int32_t VideoPlayer::GetStreamBufInfo(uint32_t *capacity, uint32_t *fill) {
    const bool stream = m_nMode == kModeStream && m_pSession;
    // Fill first: the capacity only grows, so the fill never exceeds it.
    *fill = stream ? m_pSession->stream->Fill() : 0;
    *capacity = stream ? m_pSession->stream->Capacity() : 0;
    return KOVA_OK;
}

int32_t VideoPlayer::Snapshot(const char *fileName) {
    if (!m_pSession) return KOVA_ERR_MISSING_OBJECT;
    video::BitmapImage image;
    {
        // The PictureBuffer is rewritten by the next picture: hold the worker off
        // while converting, not while writing the file.
        platform::ScopedLock lock(m_pSession->decoderLock);
        const video::I420View &last = m_pSession->decoder.LastShown();
        if (!last.y) return KOVA_ERR_NO_PICTURE;
        const int32_t rc =
            image.Convert({last.y, last.u, last.v, last.width, last.width / 2, last.width, last.height});
        if (rc != KOVA_OK) return rc;
    }
    return image.Write(fileName);
}

// A live stream has no file to position or time, and its tick follows the
// stream kind: play control changes only the paused flag, which the stream
// worker does not consult, and NextFrame releases one extra decoding step.
int32_t VideoPlayer::Play() {
    m_bPaused = 0;
    return KOVA_OK;
}

int32_t VideoPlayer::Pause() {
    m_bPaused = 1;
    return KOVA_OK;
}

int32_t VideoPlayer::Stop() {
    m_bPaused = 1;
    return KOVA_OK;
}

int32_t VideoPlayer::NextFrame() {
    if (m_pSession) m_pSession->frameEvent.Set();
    return KOVA_OK;
}

int32_t VideoPlayer::Slow() { return KOVA_OK; }
int32_t VideoPlayer::Fast() { return KOVA_OK; }

int32_t VideoPlayer::GetSpeed(int32_t *level) {
    if (!level) return KOVA_ERR_INVALID_ARGUMENT;
    *level = m_nSpeedLevel;
    return KOVA_OK;
}

int32_t VideoPlayer::GetPlayingPos(uint32_t *thousandths) {
    if (!thousandths) return KOVA_ERR_INVALID_ARGUMENT;
    *thousandths = 0;
    return KOVA_OK;
}

int32_t VideoPlayer::SetPlayingPos(uint32_t thousandths) {
    return thousandths > 1000 ? KOVA_ERR_INVALID_ARGUMENT : KOVA_OK;
}

int32_t VideoPlayer::GetPlayingTime(uint32_t *seconds) {
    if (!seconds) return KOVA_ERR_INVALID_ARGUMENT;
    *seconds = 0;
    return KOVA_OK;
}

}  // namespace tessaly::player
