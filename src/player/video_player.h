// One port's video player. Owns the port's decode worker, its stream input, one worker thread, the frame event and the
// locks, and the port's entry in the playback timer.
//
// Host threads call in with the port lock held. The worker thread takes the
// QueueLock and then (never while holding it) the DecoderLock, and releases
// the DecoderLock while the host's decoded-frame callback runs; the timer
// thread enters through the tick. Lock order: port lock, QueueLock,
// DecoderLock. Closing is split so that the port lock is not held while the
// close waits for the worker (see BeginClose).
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>

#include "platform/event.h"
#include "platform/recursive_lock.h"
#include "platform/worker_thread.h"
#include "tessaly/kova.h"
#include "tessaly/kova_stats.h"
#include "video/text_overlay.h"

namespace tessaly::video {
class DecodeWorker;
}
namespace tessaly::audio {
class AudioPlayer;
}

namespace tessaly::player {

class PlaybackTimer;
class StreamBuffer;

enum PlayerMode : int32_t { kModeClosed = 0, kModeStream = 1, kModeFile = 2, kModeRawPicture = 3 };

class VideoPlayer {
    // What the worker thread touches. Shared with the thread, so a worker that
    // misses the close time-out keeps it alive until it ends.
    struct Session;

public:
    VideoPlayer() = default;
    ~VideoPlayer();
    VideoPlayer(const VideoPlayer &) = delete;
    VideoPlayer &operator=(const VideoPlayer &) = delete;

    int32_t OpenStream(KOVA_HWND window, uint32_t streamKind);
    // A stream port whose frames FFmpeg decodes: H.264 access units or JPEG
    // pictures, submitted whole or cut from an FT byte stream.
    int32_t OpenStreamFt(KOVA_HWND window, uint32_t streamKind);
    // A record file port: checks the file, starts the worker paused at the
    // first record and fills `info` (picture size from the stream's first
    // sequence parameter set). KOVA_ERR_ALREADY_OPEN unless closed,
    // KOVA_ERR_INVALID_ARGUMENT when not a window, else the file's codes.
    int32_t OpenFile(const char *fileName, KOVA_HWND window, KOVA_RecordFileInfo *info);
    // A raw-picture port: a decode worker and renderer for the window, no
    // input and no thread. KOVA_ERR_ALREADY_OPEN unless closed,
    // KOVA_ERR_INVALID_ARGUMENT when not a window.
    int32_t OpenRawPicture(KOVA_HWND window);
    int32_t ShowRawPicture(uint32_t format, const uint8_t *data, uint32_t width, uint32_t height);
    void SetCallback(KOVA_DecodedFrameCallback callback, intptr_t user);

    // What a close leaves to finish once the port lock is released.
    class PendingClose {
    public:
        PendingClose();
        PendingClose(PendingClose &&) noexcept;
        PendingClose &operator=(PendingClose &&) noexcept;
        ~PendingClose();  // Finish with the default time-out, if not done
        // Stops the decoded-frame callbacks (none starts after this returns)
        // and waits for the worker thread until the deadline; a worker that
        // misses it, or that is the calling thread itself, finishes on its own
        // and frees what it holds when it ends.
        void Finish(std::chrono::steady_clock::time_point deadline);

    private:
        friend class VideoPlayer;
        std::shared_ptr<Session> session_;
        std::unique_ptr<platform::WorkerThread> worker_;
    };
    static constexpr std::chrono::milliseconds kCloseTimeout{10000};

    // With the port lock held: takes the port out of play (no tick, no new
    // input, the worker asked to stop) and leaves it closed, ready to open
    // again. The rest is for PendingClose::Finish, without the port lock.
    PendingClose BeginClose();
    // BeginClose and Finish in one, for owners that hold no port lock.
    int32_t Close();

    int32_t SubmitVideo(const uint8_t *data, uint32_t length);
    // The next bytes of an FT byte stream (raw: 8-byte packet headers, else
    // 40): a completed packet's payload is queued like a frame.
    // KOVA_ERR_NOT_OPEN unless the port decodes through FFmpeg.
    int32_t SubmitFtData(const uint8_t *data, uint32_t length, bool raw);
    int32_t GetStreamBufInfo(uint32_t *capacity, uint32_t *fill);
    // The counters of the port's open (KOVA_PortStatistics, size not written).
    int32_t GetStatistics(KOVA_PortStatistics *stats);

    // Writes the last shown picture (a field pair: the deinterlaced frame) as a
    // bitmap: KOVA_OK, KOVA_ERR_MISSING_OBJECT, KOVA_ERR_FILE_OPEN or
    // KOVA_ERR_NO_PICTURE.
    int32_t Snapshot(const char *fileName);

    // Moves the display to another window (0 stops drawing; decoding and
    // callbacks go on). KOVA_ERR_MISSING_OBJECT without a decode worker,
    // KOVA_ERR_INVALID_ARGUMENT when not a window.
    int32_t SetDisplayWindow(KOVA_HWND window);

    // Play control (stream ports have no file: see kova.h).
    int32_t Play();
    int32_t Pause();
    int32_t Stop();
    int32_t NextFrame();
    int32_t Slow();
    int32_t Fast();
    int32_t GetSpeed(int32_t *level);
    int32_t GetPlayingPos(uint32_t *thousandths);
    int32_t SetPlayingPos(uint32_t thousandths);
    int32_t GetPlayingTime(uint32_t *seconds);

    // The library-wide timer every port registers with, and the port's sound,
    // which a file's voice frames go to; set once at load.
    void AttachTimer(PlaybackTimer &timer) { timer_ = &timer; }
    void AttachAudio(audio::AudioPlayer &audio) { audio_ = &audio; }

    // The port's text overlay, kept across closes; drawn by the decode worker
    // of each stream or file session.
    video::TextOverlay &Overlay() { return overlay_; }

    PlayerMode Mode() const { return mode_; }
    int TimerClient() const { return timerClient_; }

    // The period a stream port ticks at: 1000 / 31 ms for kind 1, else 1000 / 26.
    static uint32_t StreamTickPeriod(uint32_t streamKind) { return streamKind == 1 ? 1000 / 31 : 1000 / 26; }

private:
    static void Tick(int clientIndex, void *user);
    static void StreamDecodeThread(Session &session, platform::Event &stop);
    static void FileReadThread(Session &session, platform::Event &stop);
    // A frame of the session's stream or file, to whichever decoder it uses.
    static void DecodeOne(Session &session, const uint8_t *data, uint32_t length, bool wholeAccessUnit);
    int32_t QueueFtPayload(uint8_t *payload, uint32_t length, bool raw);
    // A session with its decoder; false (and none) when the decoder could not be made.
    bool MakeSession(KOVA_HWND window, bool forStream);
    bool StartWorker(void (*thread)(Session &, platform::Event &));
    // Registers the tick at the period the file's rate and the speed level
    // give (a port without a window at 1 ms until the speed changes).
    void RetimeFile(bool initial);
    void SetPlayingPosition(uint32_t thousandths);

    PlaybackTimer *timer_ = nullptr;
    audio::AudioPlayer *audio_ = nullptr;
    PlayerMode mode_ = kModeClosed;
    KOVA_HWND window_ = 0;
    bool paused_ = true;  // a stream port's flag; a file port's is in its session
    int32_t speedLevel_ = 0;
    int timerClient_ = -1;
    std::shared_ptr<Session> session_;
    std::unique_ptr<platform::WorkerThread> worker_;
    video::TextOverlay overlay_;
};

}  // namespace tessaly::player
