#include "player/video_player.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "audio/audio_player.h"

#include "platform/trace.h"
#include "platform/x11_windows.h"
#include "player/ft_assembler.h"
#include "player/playback_timer.h"
#include "player/record_file_playback.h"
#include "player/stream_buffer.h"
#include "video/decode_worker.h"
#include "video/ffmpeg_path.h"
#include "video/snapshot.h"
#include "video/sps_probe.h"

namespace tessaly::player {

using video::DecodeWorker;

struct VideoPlayer::Session {
    platform::Event frameEvent{false};
    platform::RecursiveLock queueLock;
    platform::RecursiveLock decoderLock;
    DecodeWorker decoder;
    std::unique_ptr<StreamBuffer> stream;       // stream ports only
    std::unique_ptr<RecordFilePlayback> file;   // file ports only
    std::atomic<bool> paused{true};             // file ports: read by the tick
    std::atomic<int32_t> speedLevel{0};         // file ports: sound plays at level 0 only
    audio::AudioPlayer *audio = nullptr;        // file ports: the port's sound
    video::TextOverlay *overlay = nullptr;      // the port's, for the FFmpeg path
    std::unique_ptr<video::FfmpegPath> ffmpeg;  // set: FFmpeg decodes the frames
    // FT byte-stream input, host side: an assembler per packet header kind,
    // made on first use, and the codec the first FT packet fixed (0: none yet).
    std::unique_ptr<FtAssembler> ft[2];
    int ftKind = 0;
    std::atomic<uint32_t> recordsRead{0};  // file ports
    uint32_t ticksSinceRedraw = 0;         // the tick's own

    Session(KOVA_HWND window, bool forStream) : decoder(window, decoderLock) {
        if (forStream) stream = std::make_unique<StreamBuffer>(queueLock);
    }
};

namespace {

constexpr int32_t kBacklogFrames = 15;
// A paused or finished file port repaints its last picture (the window may
// have been covered) this often, in ticks, rather than at every tick.
constexpr uint32_t kRedrawTicks = 8;

// The access-unit limit a picture size asks for: a key frame of an
// uncompressible picture is about 3/8 byte per pixel.
uint32_t FrameLimitFor(const h264::SpsSummary &sps) {
    return std::max(StreamBuffer::kMinFrameLimit, uint32_t(uint64_t{sps.codedWidth} * sps.codedHeight * 3 / 8));
}

}  // namespace

VideoPlayer::~VideoPlayer() { Close(); }

int32_t VideoPlayer::OpenStream(KOVA_HWND window, uint32_t streamKind) {
    if (mode_ != kModeClosed) return KOVA_ERR_ALREADY_OPEN;
    if (window != 0 && !platform::WindowExists(window)) return KOVA_ERR_INVALID_ARGUMENT;

    if (!MakeSession(window, true) || !StartWorker(&VideoPlayer::StreamDecodeThread)) return KOVA_ERR_MISSING_OBJECT;
    window_ = window;
    timerClient_ = timer_->Register(StreamTickPeriod(streamKind), &VideoPlayer::Tick, session_.get());
    mode_ = kModeStream;
    return KOVA_OK;
}

int32_t VideoPlayer::OpenStreamFt(KOVA_HWND window, uint32_t streamKind) {
    const int32_t rc = OpenStream(window, streamKind);
    if (rc != KOVA_OK) return rc;
    try {
        session_->ffmpeg = std::make_unique<video::FfmpegPath>();
    } catch (...) {
        Close();
        throw;
    }
    return KOVA_OK;
}

int32_t VideoPlayer::OpenFile(const char *fileName, KOVA_HWND window, KOVA_RecordFileInfo *info) {
    if (mode_ != kModeClosed) return KOVA_ERR_ALREADY_OPEN;
    if (fileName == nullptr || info == nullptr) return KOVA_ERR_INVALID_ARGUMENT;
    if (window != 0 && !platform::WindowExists(window)) return KOVA_ERR_INVALID_ARGUMENT;
    auto file = std::make_unique<RecordFilePlayback>();
    if (const int32_t rc = file->Open(fileName); rc != KOVA_OK) return rc;

    if (!MakeSession(window, false)) return KOVA_ERR_MISSING_OBJECT;
    session_->file = std::move(file);
    session_->audio = audio_;
    if (session_->file->Header().decoderSelector != 0) session_->ffmpeg = std::make_unique<video::FfmpegPath>();
    if (!StartWorker(&VideoPlayer::FileReadThread)) return KOVA_ERR_MISSING_OBJECT;
    window_ = window;
    speedLevel_ = 0;
    RetimeFile(true);
    mode_ = kModeFile;
    *info = recfile::MakeRecordFileInfo(session_->file->Header());
    return KOVA_OK;
}

bool VideoPlayer::MakeSession(KOVA_HWND window, bool forStream) {
    session_ = std::make_shared<Session>(window, forStream);
    // Out of memory for the first decoder, the port would open and never show a picture.
    if (session_->decoder.HasSetup()) return true;
    session_.reset();
    return false;
}

bool VideoPlayer::StartWorker(void (*thread)(Session &, platform::Event &)) {
    session_->decoder.SetTextOverlay(&overlay_);
    session_->overlay = &overlay_;
    auto worker = std::make_unique<platform::WorkerThread>();
    auto session = session_;
    if (!worker->Start([session, thread](platform::Event &stop) { thread(*session, stop); })) {
        session_.reset();
        return false;
    }
    worker_ = std::move(worker);
    return true;
}

void VideoPlayer::RetimeFile(bool initial) {
    const uint32_t base = 1000u / session_->file->Header().frameRate;
    uint32_t period = base;
    switch (speedLevel_) {
    case -2: period = base * 4; break;
    case -1: period = base * 2; break;
    case 1: period = base / 2; break;
    case 2: period = base / 4; break;
    default: break;
    }
    // Without a window a file is decoded as fast as the worker goes.
    if (initial && window_ == 0) period = 1;
    if (period == 0) return;
    if (timerClient_ != -1) timer_->Unregister(timerClient_);
    timerClient_ = timer_->Register(period, &VideoPlayer::Tick, session_.get());
}

int32_t VideoPlayer::OpenRawPicture(KOVA_HWND window) {
    if (mode_ != kModeClosed) return KOVA_ERR_ALREADY_OPEN;
    if (!platform::WindowExists(window)) return KOVA_ERR_INVALID_ARGUMENT;
    window_ = window;
    session_ = std::make_shared<Session>(window, false);
    mode_ = kModeRawPicture;
    return KOVA_OK;
}

int32_t VideoPlayer::ShowRawPicture(uint32_t format, const uint8_t *data, uint32_t width, uint32_t height) {
    if (mode_ != kModeRawPicture) return KOVA_ERR_NOT_OPEN;
    if (!session_) return KOVA_ERR_MISSING_OBJECT;
    platform::ScopedLock lock(session_->decoderLock);
    return session_->decoder.ShowYuv(format, data, width, height);
}

int32_t VideoPlayer::SetDisplayWindow(KOVA_HWND window) {
    if (!session_) return KOVA_ERR_MISSING_OBJECT;
    if (window != 0 && !platform::WindowExists(window)) return KOVA_ERR_INVALID_ARGUMENT;
    platform::ScopedLock lock(session_->decoderLock);
    window_ = window;
    return session_->decoder.SetWindow(window);
}

void VideoPlayer::SetCallback(KOVA_DecodedFrameCallback callback, intptr_t user) {
    if (!session_) return;
    platform::ScopedLock lock(session_->decoderLock);
    session_->decoder.SetCallback(callback, user);
}

VideoPlayer::PendingClose VideoPlayer::BeginClose() {
    // No tick runs for this session once the client is removed.
    if (timerClient_ != -1) {
        timer_->Unregister(timerClient_);
        timerClient_ = -1;
    }
    PendingClose pending;
    if (worker_) worker_->StopEvent().Set();
    pending.session_ = std::move(session_);
    pending.worker_ = std::move(worker_);
    if (mode_ == kModeFile) {
        paused_ = true;
        speedLevel_ = 0;
    }
    window_ = 0;
    mode_ = kModeClosed;
    return pending;
}

int32_t VideoPlayer::Close() {
    // Its destructor finishes the close with the default time-out and never throws.
    const PendingClose pending = BeginClose();
    return KOVA_OK;
}

VideoPlayer::PendingClose::PendingClose() = default;
VideoPlayer::PendingClose::PendingClose(PendingClose &&) noexcept = default;
VideoPlayer::PendingClose &VideoPlayer::PendingClose::operator=(PendingClose &&) noexcept = default;

VideoPlayer::PendingClose::~PendingClose() {
    if (!session_ && !worker_) return;
    try {
        Finish(std::chrono::steady_clock::now() + kCloseTimeout);
    } catch (...) {
        // Joining failed: the thread keeps what it holds and frees it at its end.
    }
}

void VideoPlayer::PendingClose::Finish(std::chrono::steady_clock::time_point deadline) {
    if (session_) session_->decoder.StopCallbacks(deadline);
    if (worker_) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (worker_->IsCurrentThread()) {
            worker_->Abandon();  // closed from its own callback: it ends after the callback
        } else if (!worker_->Stop(std::max(left, std::chrono::milliseconds(0)))) {
            // The worker still holds its session; it is freed when the thread ends.
            // The line keeps its documented wording, old names and all: hosts match it.
            platform::Trace("CVideoPlayer::Close() Wait Time Out, m_pVideoDecDDraw->nFlag %d",
                            session_ ? session_->decoder.Progress() : -1);
        }
    }
    worker_.reset();
    session_.reset();
}

void VideoPlayer::Tick(int, void *user) {
    // Registered for as long as the session lives: BeginClose unregisters first.
    Session &s = *static_cast<Session *>(user);
    if (!s.file || (!s.paused.load(std::memory_order_relaxed) && !s.file->AtEnd())) {
        s.frameEvent.Set();
        return;
    }
    // Never wait for a decode on the timer's thread: every port's tick would.
    if (++s.ticksSinceRedraw < kRedrawTicks || !s.decoderLock.TryLock()) return;
    s.ticksSinceRedraw = 0;
    s.decoder.Redraw();
    s.decoderLock.Unlock();
}

void VideoPlayer::DecodeOne(Session &s, const uint8_t *data, uint32_t length, bool wholeAccessUnit) {
    platform::ScopedLock lock(s.decoderLock);
    if (s.ffmpeg)
        s.ffmpeg->Decode(data, length, s.overlay, s.decoder);
    else
        s.decoder.DecodeFrame(data, length, wholeAccessUnit);
}

// One record per tick. The record is read under the QueueLock (a seek waits
// for it) and decoded after it, so that the decoded-frame callback may seek
// its own port while another thread does too.
void VideoPlayer::FileReadThread(Session &s, platform::Event &stop) {
    platform::Event *events[] = {&stop, &s.frameEvent};
    for (;;) {
        if (platform::WaitAny(events, 2) == 0) return;
        RecordFilePlayback::Record record;
        {
            platform::ScopedLock lock(s.queueLock);
            if (!s.file->ReadRecord(record)) continue;
        }
        s.recordsRead.store(s.recordsRead.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
        if (record.videoLength > 0) DecodeOne(s, record.video, record.videoLength, true);
        if (s.speedLevel.load(std::memory_order_relaxed) != 0 || record.audioLength < 4 || !s.audio) continue;
        // Voice frames of the size the first one announces, whole ones only;
        // the port's sound drops them when it is off.
        const uint32_t frameBytes = 2u * (record.audio[2] | record.audio[3] << 8) + 4;
        for (uint32_t at = 0; frameBytes <= record.audioLength && at + frameBytes <= record.audioLength;
             at += frameBytes)
            s.audio->SubmitFrame(record.audio + at, frameBytes);
    }
}

void VideoPlayer::StreamDecodeThread(Session &s, platform::Event &stop) {
    platform::Event *events[] = {&stop, &s.frameEvent};
    for (;;) {
        if (platform::WaitAny(events, 2) == 0) return;
        const StreamBuffer::Frame frame = s.stream->TakeFront();
        if (frame.length == 0) continue;
        DecodeOne(s, frame.bytes, frame.length, false);
        if (s.stream->Pop(frame.length) > kBacklogFrames) s.frameEvent.Set();
    }
}

int32_t VideoPlayer::SubmitVideo(const uint8_t *data, uint32_t length) {
    if (mode_ != kModeStream || !session_) return KOVA_ERR_NOT_OPEN;
    // A key frame that announces a larger picture is judged by that picture.
    h264::SpsSummary sps;
    if (video::ProbeKeyFrameSps(data, length, sps)) session_->stream->Reserve(FrameLimitFor(sps));
    return session_->stream->Submit(data, length);
}

int32_t VideoPlayer::SubmitFtData(const uint8_t *data, uint32_t length, bool raw) {
    if (mode_ != kModeStream || !session_ || !session_->ffmpeg) return KOVA_ERR_NOT_OPEN;
    std::unique_ptr<FtAssembler> &assembler = session_->ft[raw ? 1 : 0];
    if (!assembler)
        assembler = std::make_unique<FtAssembler>(
            raw ? FtVariant::kRaw : FtVariant::kFt,
            [this, raw](uint8_t *payload, uint32_t size) { return QueueFtPayload(payload, size, raw); });
    return assembler->Add(data, length);
}

int32_t VideoPlayer::QueueFtPayload(uint8_t *payload, uint32_t length, bool raw) {
    const FtPayload fixed = FixUpFtPayload(payload, length, raw ? FtVariant::kRaw : FtVariant::kFt);
    if (fixed.length == 0) return KOVA_OK;
    if (!raw) {
        // The first FT packet fixes the codec for the life of the port.
        if (session_->ftKind == 0) session_->ftKind = fixed.kind;
        if (fixed.kind != session_->ftKind) return KOVA_OK;
    }
    return session_->stream->Submit(fixed.data, fixed.length, fixed.kind == kFtMjpeg);
}

int32_t VideoPlayer::GetStreamBufInfo(uint32_t *capacity, uint32_t *fill) {
    const bool stream = mode_ == kModeStream && session_;
    // Fill first: the capacity only grows, so the fill never exceeds it.
    *fill = stream ? session_->stream->Fill() : 0;
    *capacity = stream ? session_->stream->Capacity() : 0;
    return KOVA_OK;
}

int32_t VideoPlayer::GetStatistics(KOVA_PortStatistics *stats) {
    if (!session_) return KOVA_ERR_NOT_OPEN;
    const Session &s = *session_;
    const video::PictureCounters &pictures = s.decoder.Counters();
    stats->framesReceived = s.stream ? s.stream->Accepted() : s.recordsRead.load(std::memory_order_relaxed);
    stats->framesRefused = s.stream ? s.stream->Refused() : 0;
    stats->picturesDecoded = pictures.DecodedCount();
    stats->picturesShown = pictures.ShownCount();
    stats->damagedPictures = pictures.DamagedCount();
    stats->width = pictures.Width();
    stats->height = pictures.Height();
    stats->bufferFill = s.stream ? s.stream->Fill() : 0;
    stats->bufferCapacity = s.stream ? s.stream->Capacity() : 0;
    stats->decodeMicrosAverage = pictures.DecodeMicrosAverage();
    stats->framesPerSecond100 = pictures.FramesPerSecond100();
    return KOVA_OK;
}

int32_t VideoPlayer::Snapshot(const char *fileName) {
    if (!session_) return KOVA_ERR_MISSING_OBJECT;
    video::BitmapImage image;
    if (session_->ffmpeg) {
        // The FFmpeg path's picture, overlay and all, under its own lock.
        const int32_t rc = session_->ffmpeg->Snapshot(image);
        return rc != KOVA_OK ? rc : image.Write(fileName);
    }
    {
        // The PictureBuffer is rewritten by the next picture: hold the worker off
        // while converting, not while writing the file.
        platform::ScopedLock lock(session_->decoderLock);
        const video::I420View &last = session_->decoder.LastShown();
        if (!last.y) return KOVA_ERR_NO_PICTURE;
        const int32_t rc =
            image.Convert({last.y, last.u, last.v, last.yStride, last.uvStride, last.width, last.height});
        if (rc != KOVA_OK) return rc;
    }
    return image.Write(fileName);
}

// A file port plays, pauses, steps, seeks and changes speed on its file. A
// live stream has no file to position or time, and its tick follows the
// stream kind: play control changes only the paused flag, which the stream
// worker does not consult, and NextFrame releases one extra decoding step.
int32_t VideoPlayer::Play() {
    if (mode_ == kModeFile) {
        {
            platform::ScopedLock lock(session_->queueLock);
            session_->file->RewindIfAtEnd();
        }
        session_->paused.store(false, std::memory_order_relaxed);
    }
    paused_ = false;
    return KOVA_OK;
}

int32_t VideoPlayer::Pause() {
    if (mode_ == kModeFile) session_->paused.store(true, std::memory_order_relaxed);
    paused_ = true;
    return KOVA_OK;
}

int32_t VideoPlayer::Stop() {
    if (mode_ != kModeFile) {
        paused_ = true;
        return KOVA_OK;
    }
    if (session_->paused.exchange(true, std::memory_order_relaxed)) return KOVA_OK;
    paused_ = true;
    // The record being read finishes first; then the first key frame shows.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    SetPlayingPosition(0);
    return KOVA_OK;
}

int32_t VideoPlayer::NextFrame() {
    if (session_) session_->frameEvent.Set();
    return KOVA_OK;
}

int32_t VideoPlayer::Slow() {
    if (mode_ != kModeFile || speedLevel_ < -1) return KOVA_OK;
    --speedLevel_;
    session_->speedLevel.store(speedLevel_, std::memory_order_relaxed);
    RetimeFile(false);
    return KOVA_OK;
}

int32_t VideoPlayer::Fast() {
    if (mode_ != kModeFile || speedLevel_ >= 2) return KOVA_OK;
    ++speedLevel_;
    session_->speedLevel.store(speedLevel_, std::memory_order_relaxed);
    RetimeFile(false);
    return KOVA_OK;
}

int32_t VideoPlayer::GetSpeed(int32_t *level) {
    if (!level) return KOVA_ERR_INVALID_ARGUMENT;
    *level = speedLevel_;
    return KOVA_OK;
}

int32_t VideoPlayer::GetPlayingPos(uint32_t *thousandths) {
    if (!thousandths) return KOVA_ERR_INVALID_ARGUMENT;
    *thousandths = mode_ == kModeFile ? session_->file->PlayingThousandths() : 0;
    return KOVA_OK;
}

int32_t VideoPlayer::SetPlayingPos(uint32_t thousandths) {
    if (thousandths > 1000) return KOVA_ERR_INVALID_ARGUMENT;
    if (mode_ == kModeFile) SetPlayingPosition(thousandths);
    return KOVA_OK;
}

void VideoPlayer::SetPlayingPosition(uint32_t thousandths) {
    {
        platform::ScopedLock lock(session_->queueLock);
        session_->file->Seek(thousandths);
    }
    if (!session_->paused.load(std::memory_order_relaxed)) return;
    // A paused port shows the key frame it landed on and the record after it.
    session_->frameEvent.Set();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    session_->frameEvent.Set();
}

int32_t VideoPlayer::GetPlayingTime(uint32_t *seconds) {
    if (!seconds) return KOVA_ERR_INVALID_ARGUMENT;
    *seconds = mode_ == kModeFile ? session_->file->PlayingSeconds() : 0;
    return KOVA_OK;
}

}  // namespace tessaly::player
