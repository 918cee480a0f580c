#include "file_port.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "frame_pacer.h"

namespace tessaly::play {
namespace {

// A seek moves a twentieth of the file.
constexpr int32_t kSeekStep = 50;
constexpr uint32_t kEndPosition = 1000;

}  // namespace

FilePort::FilePort(uint32_t port, const CameraFile &file, bool loop, PortStats &stats, StopSignal &stop)
    : port_(port), file_(file), loop_(loop), stats_(stats), stop_(stop) {}

FilePort::~FilePort() { Join(); }

int32_t FilePort::Open(KOVA_HWND window) {
    return KOVA_OpenFileEx(port_, file_.path.c_str(), window, &info_, CountPicture,
                           reinterpret_cast<intptr_t>(&stats_));
}

void FilePort::Start(bool stepped) {
    stepped_ = stepped;
    if (stepped) {
        stepper_ = std::thread([this] { StepUntilEnd(); });
        return;
    }
    paused_ = false;
    lastPictureSeen_ = std::chrono::steady_clock::now();
    KOVA_Play(port_);
}

void FilePort::Join() {
    if (stepper_.joinable()) stepper_.join();
}

// One record per step. A step that shows no picture at the last thousandth
// found the end: the position alone cannot say so, since the last records
// may share the last thousandth.
void FilePort::StepUntilEnd() {
    FramePacer pacer(file_.fps, stop_);
    uint64_t before = stats_.pictures.load(std::memory_order_acquire);
    bool stepped = false;
    while (pacer.Wait()) {
        const uint64_t pictures = stats_.pictures.load(std::memory_order_acquire);
        uint32_t position = 0;
        if (stepped && pictures == before && KOVA_GetPlayingPos(port_, &position) == KOVA_OK &&
            position >= kEndPosition) {
            if (!loop_) {
                ended_.store(true, std::memory_order_release);
                return;
            }
            // The port stays paused: it shows the first key frame and the record after it.
            KOVA_SetPlayingPos(port_, 0);
        }
        before = stats_.pictures.load(std::memory_order_acquire);
        KOVA_NextFrame(port_);
        stepped = true;
    }
}

void FilePort::Close() {
    char state[sizeof closedState_];
    FormatState(state, sizeof state);
    std::memcpy(closedState_, state, sizeof state);
    KOVA_Close(port_);
}

void FilePort::Poll() {
    if (stepped_ || paused_) return;
    uint32_t position = 0;
    if (KOVA_GetPlayingPos(port_, &position) != KOVA_OK || position < kEndPosition) return;
    // Play starts a file again once its last record has been read, and leaves it alone before.
    if (loop_) {
        KOVA_Play(port_);
        return;
    }
    // The slowest speed shows a record every four frame periods.
    const auto now = std::chrono::steady_clock::now();
    const auto grace = std::chrono::milliseconds(300) + std::chrono::duration<double>(8.0 / file_.fps);
    const uint64_t pictures = stats_.pictures.load(std::memory_order_acquire);
    if (pictures != lastPictures_) {
        lastPictures_ = pictures;
        lastPictureSeen_ = now;
    } else if (now - lastPictureSeen_ >= grace) {
        ended_.store(true, std::memory_order_release);
    }
}

void FilePort::Apply(Control control) {
    if (stepped_) return;
    ended_.store(false, std::memory_order_release);
    lastPictureSeen_ = std::chrono::steady_clock::now();
    uint32_t position = 0;
    switch (control) {
    case Control::kTogglePause:
        paused_ = !paused_;
        paused_ ? KOVA_Pause(port_) : KOVA_Play(port_);
        break;
    case Control::kStep:
        if (paused_) KOVA_NextFrame(port_);
        break;
    case Control::kFaster: KOVA_Fast(port_); break;
    case Control::kSlower: KOVA_Slow(port_); break;
    case Control::kSeekBack: SeekBack(); break;
    case Control::kSeekForward:
        if (KOVA_GetPlayingPos(port_, &position) == KOVA_OK)
            KOVA_SetPlayingPos(port_, std::min(kEndPosition, position + kSeekStep));
        break;
    }
}

// A seek lands on the next key frame, which from just past one is that key
// frame again or one ahead: go back further until the time is earlier. (The
// position cannot tell: a paused port has read on past the key frame.)
void FilePort::SeekBack() {
    uint32_t position = 0, from = 0, landed = 0;
    if (KOVA_GetPlayingPos(port_, &position) != KOVA_OK || KOVA_GetPlayingTime(port_, &from) != KOVA_OK) return;
    do {
        position = position > kSeekStep ? position - kSeekStep : 0;
        if (KOVA_SetPlayingPos(port_, position) != KOVA_OK || KOVA_GetPlayingTime(port_, &landed) != KOVA_OK) return;
    } while (position > 0 && landed >= from);
}

void FilePort::FormatState(char *text, size_t size) const {
    if (closedState_[0]) {
        std::snprintf(text, size, "%s", closedState_);
        return;
    }
    uint32_t position = 0, seconds = 0;
    int32_t speed = 0;
    KOVA_GetPlayingPos(port_, &position);
    KOVA_GetPlayingTime(port_, &seconds);
    KOVA_GetSpeed(port_, &speed);
    const char *state = Ended() ? "ended" : (paused_ && !stepped_) ? "paused" : "playing";
    std::snprintf(text, size, "position %u time %u/%u s speed %d %s", position, seconds, unsigned{info_.seconds}, speed,
                  state);
}

}  // namespace tessaly::play
