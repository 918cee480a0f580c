// One record file at a port. The library reads and decodes it and, with a
// window, paces it at the file's frame rate; the tool plays, pauses, steps,
// changes speed and seeks it, starts it again at its end for --loop and
// notices that end. Without a window the library would decode the file as
// fast as it can, so a headless run keeps the port paused and steps it one
// record per frame period from a thread of its own: real time, sound
// included.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <thread>

#include "camera_file.h"
#include "port_stats.h"
#include "stop_signal.h"
#include "tessaly/kova.h"

namespace tessaly::play {

class FilePort {
public:
    enum class Control { kTogglePause, kStep, kFaster, kSlower, kSeekBack, kSeekForward };

    FilePort(uint32_t port, const CameraFile &file, bool loop, PortStats &stats, StopSignal &stop);
    ~FilePort();
    FilePort(const FilePort &) = delete;
    FilePort &operator=(const FilePort &) = delete;

    // KOVA_OpenFileEx's result.
    int32_t Open(KOVA_HWND window);
    // Plays the file: stepped from the port's own thread, or by the library.
    void Start(bool stepped);
    void Join();
    // Closes the port, keeping its last state for FormatState.
    void Close();
    // From the main loop, often: a playing file in a window that reached its
    // end starts again (--loop) or counts as ended.
    void Poll();
    bool Ended() const { return ended_.load(std::memory_order_acquire); }
    // Keys: from the main loop, for files the library plays.
    void Apply(Control control);
    // "position 512 time 5/9 s speed 0 playing" (or paused, ended).
    void FormatState(char *text, size_t size) const;

private:
    void StepUntilEnd();
    void SeekBack();

    uint32_t port_;
    const CameraFile &file_;
    bool loop_;
    PortStats &stats_;
    StopSignal &stop_;
    KOVA_RecordFileInfo info_{};
    std::thread stepper_;
    bool stepped_ = false;
    std::atomic<bool> ended_{false};
    bool paused_ = true;
    uint64_t lastPictures_ = 0;
    std::chrono::steady_clock::time_point lastPictureSeen_{};
    char closedState_[96] = "";
};

}  // namespace tessaly::play
