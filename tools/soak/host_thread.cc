#include "host_thread.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <string>
#include <thread>

namespace tessaly::soak {
namespace {

std::atomic<SoakState *> callbackState{nullptr};

void KOVA_CALL OnPicture(int32_t, uint8_t *picture, int32_t size, int32_t width, int32_t height, intptr_t user) {
    SoakState *state = callbackState.load(std::memory_order_relaxed);
    const auto port = size_t(user);
    const bool sane = size > 0 && width > 0 && height > 0 && size == width * height * 3 / 2;
    if (size > 0) {
        // Reading both ends lets AddressSanitizer check the size given.
        [[maybe_unused]] volatile uint8_t ends = picture[0] ^ picture[size - 1];
    }
    if (!sane) state->badPictures.fetch_add(1, std::memory_order_relaxed);
    state->callbacks[port].fetch_add(1, std::memory_order_relaxed);
}

void KOVA_CALL OnVoiceFrame(const uint8_t *, uint32_t) {}

}  // namespace

HostThread::HostThread(SoakState &state, int index)
    : state_(state),
      index_(index),
      random_(state.options.seed * 7919u + uint32_t(index)),
      period_(std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1 / state.options.fps))) {
    callbackState.store(&state, std::memory_order_relaxed);
}

bool HostThread::Chance(double perSecond, double secondsPerStep) {
    return std::uniform_real_distribution<double>(0, 1)(random_) < perSecond * secondsPerStep;
}

void HostThread::Run() {
    while (!state_.stop.load(std::memory_order_relaxed)) {
        state_.gate.Checkpoint();
        const Clock::time_point now = Clock::now();
        Clock::time_point wake = now + std::chrono::milliseconds(20);
        for (size_t p = size_t(index_); p < state_.ports.size(); p += size_t(state_.options.threads)) {
            PortState &port = state_.ports[p];
            if (!port.open) {
                Open(port);
                port.due = now;
                continue;
            }
            if (port.due > now) {
                wake = std::min(wake, port.due);
                continue;
            }
            Feed(port);
            if (port.open) Occasionally(port);
            port.due = now - port.due > std::chrono::seconds(1) ? now + period_ : port.due + period_;
        }
        if (now >= nextChores_) {
            ThreadChores();
            nextChores_ = now + std::chrono::milliseconds(100);
        }
        std::this_thread::sleep_until(std::min(wake, nextChores_));
    }
    state_.gate.Leave();
}

void HostThread::Open(PortState &port) {
    const uint32_t p = port.port;
    const unsigned long window = state_.windows.Pick(random_);
    // The host may destroy a window while a port is given it.
    const int32_t windowGone = window ? KOVA_ERR_INVALID_ARGUMENT : KOVA_OK;
    const bool withCallback = random_() % 2 == 0;
    const KOVA_DecodedFrameCallback callback = withCallback ? OnPicture : nullptr;
    const auto user = intptr_t(p);
    const uint32_t draw = uint32_t(random_() % 100);
    port.kind = draw < 55 ? PortKind::kLive : draw < 70 ? PortKind::kFile : draw < 85 ? PortKind::kFt : PortKind::kRaw;
    const SoakOptions &o = state_.options;
    const bool allowed[] = {o.live, o.files && !state_.streams.recordFiles.empty(), o.ft, o.raw};
    while (!allowed[size_t(port.kind)]) port.kind = PortKind((int(port.kind) + 1) % kPortKinds);
    // A raw-picture port needs a window (and lives in a table of its own).
    const unsigned long rawWindow = port.kind == PortKind::kRaw ? state_.windows.Pick(random_, false) : 0;
    if (port.kind == PortKind::kRaw && rawWindow == 0) port.kind = o.live ? PortKind::kLive : PortKind::kFt;
    port.next = 0;
    port.sound = false;
    int32_t code = KOVA_OK;
    switch (port.kind) {
    case PortKind::kLive: {
        port.live = &state_.streams.live[random_() % state_.streams.live.size()];
        port.sound = random_() % 4 == 0;
        const uint32_t kind = 1 + random_() % 2;
        code = Watch("KOVA_OpenStreamEx", p,
                     [&] { return KOVA_OpenStreamEx(p, window, kind, port.sound, callback, user); });
        Check(state_, tally_, "KOVA_OpenStreamEx", p, code, {KOVA_OK, windowGone});
        port.totals.lastStream = port.live->name;
        break;
    }
    case PortKind::kFile: {
        const std::string &path = state_.streams.recordFiles[random_() % state_.streams.recordFiles.size()];
        KOVA_RecordFileInfo info{};
        code = Watch("KOVA_OpenFileEx", p,
                     [&] { return KOVA_OpenFileEx(p, path.c_str(), window, &info, callback, user); });
        Check(state_, tally_, "KOVA_OpenFileEx", p, code, {KOVA_OK, windowGone});
        if (code == KOVA_OK)
            Check(state_, tally_, "KOVA_Play", p, Watch("KOVA_Play", p, [&] { return KOVA_Play(p); }), {KOVA_OK});
        port.totals.lastStream = path.substr(path.find_last_of('/') + 1);
        break;
    }
    case PortKind::kFt: {
        const size_t which = random_() % state_.streams.ft.size();
        port.ft = &state_.streams.ft[which];
        code = Watch("KOVA_OpenStream_FT", p, [&] { return KOVA_OpenStream_FT(p, window, 1, 0, callback, user); });
        Check(state_, tally_, "KOVA_OpenStream_FT", p, code, {KOVA_OK, windowGone});
        port.totals.lastStream = state_.streams.ft[which].name;
        break;
    }
    case PortKind::kRaw:
        code = Watch("KOVA_YUV_Open", p, [&] { return KOVA_YUV_Open(p, rawWindow); });
        Check(state_, tally_, "KOVA_YUV_Open", p, code, {KOVA_OK, KOVA_ERR_INVALID_ARGUMENT});
        port.totals.lastStream = "raw pictures";
        break;
    }
    port.open = code == KOVA_OK;
    if (port.open) ++port.totals.opens[size_t(port.kind)];
}

void HostThread::Close(PortState &port) {
    const uint32_t p = port.port;
    if (port.kind == PortKind::kRaw) {
        Check(state_, tally_, "KOVA_YUV_Close", p, Watch("KOVA_YUV_Close", p, [&] { return KOVA_YUV_Close(p); }),
              {KOVA_OK});
    } else {
        CollectStatistics(state_, tally_, index_, port);
        Check(state_, tally_, "KOVA_Close", p, Watch("KOVA_Close", p, [&] { return KOVA_Close(p); }), {KOVA_OK});
    }
    port.open = false;
}

void HostThread::Feed(PortState &port) {
    const uint32_t p = port.port;
    switch (port.kind) {
    case PortKind::kLive: {
        const Bytes &frame = port.live->frames[port.next];
        port.next = (port.next + 1) % port.live->frames.size();
        const int32_t code = Watch("KOVA_AddStreamFrame", p, [&] {
            return KOVA_AddStreamFrame(p, KOVA_FRAME_VIDEO, frame.data(), uint32_t(frame.size()));
        });
        Check(state_, tally_, "KOVA_AddStreamFrame", p, code, {KOVA_OK, KOVA_ERR_BUFFER_FULL});
        if (port.sound) {
            const Bytes &sound = state_.streams.soundBlocks[(port.next) % state_.streams.soundBlocks.size()];
            const int32_t audio = Watch("KOVA_AddStreamFrame", p, [&] {
                return KOVA_AddStreamFrame(p, KOVA_FRAME_AUDIO, sound.data(), uint32_t(sound.size()));
            });
            Check(state_, tally_, "KOVA_AddStreamFrame (audio)", p, audio, {KOVA_OK});
        }
        break;
    }
    case PortKind::kFt: {
        // Chunks of any size up to two packets' worth: the port completes one
        // packet a call, and a host sending faster than that overflows its
        // collecting buffer (-504, the stream starts afresh).
        const size_t left = port.ft->bytes.size() - port.next;
        const size_t chunk = std::min(left, size_t(1 + random_() % (2 * port.ft->bytes.size() / port.ft->packets)));
        const int32_t code = Watch("KOVA_AddStreamData_FT", p, [&] {
            return KOVA_AddStreamData_FT(p, KOVA_FRAME_VIDEO, port.ft->bytes.data() + port.next, uint32_t(chunk));
        });
        Check(state_, tally_, "KOVA_AddStreamData_FT", p, code,
              {KOVA_OK, KOVA_ERR_BUFFER_FULL, KOVA_ERR_INVALID_ARGUMENT});
        port.next = (port.next + chunk) % port.ft->bytes.size();
        break;
    }
    case PortKind::kRaw: {
        const Bytes &picture = state_.rawPicture;
        const int32_t code = Watch("KOVA_YUV_Show", p, [&] {
            return KOVA_YUV_Show(p, KOVA_FORMAT_I420, picture.data(), uint32_t(picture.size()), 352, 288);
        });
        Check(state_, tally_, "KOVA_YUV_Show", p, code, {KOVA_OK});
        break;
    }
    case PortKind::kFile: ControlFile(port); break;
    }
}

void HostThread::ControlFile(PortState &port) {
    const uint32_t p = port.port;
    const double step = 1 / state_.options.fps;
    if (!Chance(1.0, step)) return;
    switch (random_() % 8) {
    case 0:
        Check(state_, tally_, "KOVA_Pause", p, Watch("KOVA_Pause", p, [&] { return KOVA_Pause(p); }), {KOVA_OK});
        break;
    case 1:
        Check(state_, tally_, "KOVA_Play", p, Watch("KOVA_Play", p, [&] { return KOVA_Play(p); }), {KOVA_OK});
        break;
    case 2:
        Check(state_, tally_, "KOVA_Fast", p, Watch("KOVA_Fast", p, [&] { return KOVA_Fast(p); }), {KOVA_OK});
        break;
    case 3:
        Check(state_, tally_, "KOVA_Slow", p, Watch("KOVA_Slow", p, [&] { return KOVA_Slow(p); }), {KOVA_OK});
        break;
    case 4:
        Check(state_, tally_, "KOVA_NextFrame", p, Watch("KOVA_NextFrame", p, [&] { return KOVA_NextFrame(p); }),
              {KOVA_OK});
        break;
    case 5: {
        const uint32_t at = uint32_t(random_() % 1001);
        Check(state_, tally_, "KOVA_SetPlayingPos", p,
              Watch("KOVA_SetPlayingPos", p, [&] { return KOVA_SetPlayingPos(p, at); }), {KOVA_OK});
        break;
    }
    case 6: {
        uint32_t thousandths = 0, seconds = 0;
        Check(state_, tally_, "KOVA_GetPlayingPos", p,
              Watch("KOVA_GetPlayingPos", p, [&] { return KOVA_GetPlayingPos(p, &thousandths); }), {KOVA_OK});
        Check(state_, tally_, "KOVA_GetPlayingTime", p,
              Watch("KOVA_GetPlayingTime", p, [&] { return KOVA_GetPlayingTime(p, &seconds); }), {KOVA_OK});
        if (thousandths > 1000) Check(state_, tally_, "position above 1000", p, int32_t(thousandths), {});
        break;
    }
    case 7:
        Check(state_, tally_, "KOVA_Stop", p, Watch("KOVA_Stop", p, [&] { return KOVA_Stop(p); }), {KOVA_OK});
        break;
    }
}

// Operator actions, each a few times a minute per port.
void HostThread::Occasionally(PortState &port) {
    const uint32_t p = port.port;
    const double step = 1 / state_.options.fps;
    if (Chance(1 / 15.0, step)) {
        Close(port);
        return;
    }
    if (Chance(1 / 10.0, step) && port.kind != PortKind::kRaw) {
        const std::string path = state_.scratchDirectory + "/port" + std::to_string(p) + ".bmp";
        const int32_t code = Watch("KOVA_Snapshot", p, [&] { return KOVA_Snapshot(p, path.c_str()); });
        Check(state_, tally_, "KOVA_Snapshot", p, code, {KOVA_OK, KOVA_ERR_NO_PICTURE});
        unlink(path.c_str());
    }
    if (Chance(1 / 8.0, step) && port.kind == PortKind::kLive) {
        port.sound = !port.sound;
        const uint32_t on = port.sound;
        Check(state_, tally_, "KOVA_EnableSound", p,
              Watch("KOVA_EnableSound", p, [&] { return KOVA_EnableSound(p, on); }), {KOVA_OK});
    }
    if (Chance(1 / 10.0, step) && port.kind != PortKind::kRaw) {
        const unsigned long window = state_.windows.Pick(random_);
        const int32_t code = Watch("KOVA_SetDisplayWindow", p, [&] { return KOVA_SetDisplayWindow(p, window); });
        Check(state_, tally_, "KOVA_SetDisplayWindow", p, code,
              {KOVA_OK, window ? KOVA_ERR_INVALID_ARGUMENT : KOVA_OK});
    }
    if (Chance(1 / 10.0, step) && port.kind == PortKind::kFt) {
        KOVA_TextOsdInput osd{};
        osd.line[0].enabled = 1;
        osd.line[0].x = int32_t(random_() % 400);
        osd.line[0].y = int32_t(random_() % 300);
        osd.line[0].fontSize = uint32_t(random_() % 3);
        std::snprintf(osd.line[0].text, sizeof osd.line[0].text, "port %u", p);
        Check(state_, tally_, "KOVA_SetTextOSD_FT", p,
              Watch("KOVA_SetTextOSD_FT", p, [&] { return KOVA_SetTextOSD_FT(p, &osd); }), {KOVA_OK});
    }
    if (Chance(1.0, step) && port.kind != PortKind::kRaw) {
        KOVA_PortStatistics stats{};
        stats.size = sizeof stats;
        Check(state_, tally_, "KOVA_GetPortStatistics", p,
              Watch("KOVA_GetPortStatistics", p, [&] { return KOVA_GetPortStatistics(p, &stats); }), {KOVA_OK});
        uint32_t capacity = 0, fill = 0;
        if (port.kind != PortKind::kFile)
            Check(state_, tally_, "KOVA_GetStreamBufInfo", p,
                  Watch("KOVA_GetStreamBufInfo", p, [&] { return KOVA_GetStreamBufInfo(p, &capacity, &fill); }),
                  {KOVA_OK});
        if (fill > capacity) Check(state_, tally_, "stream buffer fill above capacity", p, int32_t(fill), {});
    }
}

void HostThread::ThreadChores() {
    if (index_ == 0) state_.windows.Shuffle(random_);
    if (index_ == 1) ToggleVoice();
    if (Chance(1 / 3.0, 0.1) && !state_.streams.recordFiles.empty()) ReadRecordFile();
}

// The frame reader of this thread's number: a file read through, a seek, and more.
void HostThread::ReadRecordFile() {
    const uint32_t reader = uint32_t(index_);
    const std::string &path = state_.streams.recordFiles[random_() % state_.streams.recordFiles.size()];
    KOVA_RecordFileInfo info{};
    const int32_t code =
        Watch("KOVA_ReadFile_Open", reader, [&] { return KOVA_ReadFile_Open(reader, path.c_str(), &info); });
    Check(state_, tally_, "KOVA_ReadFile_Open", reader, code, {KOVA_OK});
    if (code != KOVA_OK) return;
    KOVA_RecordFrame frame{};
    for (int k = 0; k < 40; ++k) {
        if (k == 20) {
            const uint32_t at = uint32_t(random_() % 1001);
            Check(state_, tally_, "KOVA_ReadFile_SetReadPos", reader,
                  Watch("KOVA_ReadFile_SetReadPos", reader, [&] { return KOVA_ReadFile_SetReadPos(reader, at); }),
                  {KOVA_OK});
        }
        const int32_t got =
            Watch("KOVA_ReadFile_GetNextFrame", reader, [&] { return KOVA_ReadFile_GetNextFrame(reader, &frame); });
        Check(state_, tally_, "KOVA_ReadFile_GetNextFrame", reader, got, {KOVA_OK, KOVA_ERR_END_OF_FILE});
    }
    Check(state_, tally_, "KOVA_ReadFile_Close", reader,
          Watch("KOVA_ReadFile_Close", reader, [&] { return KOVA_ReadFile_Close(reader); }), {KOVA_OK});
}

void HostThread::ToggleVoice() {
    if (Chance(1 / 3.0, 0.1)) {
        voiceOut_ = !voiceOut_;
        const int32_t code = voiceOut_ ? Watch("KOVA_Voice_StartOutput", 0, [] { return KOVA_Voice_StartOutput(); })
                                       : Watch("KOVA_Voice_StopOutput", 0, [] { return KOVA_Voice_StopOutput(); });
        Check(state_, tally_, voiceOut_ ? "KOVA_Voice_StartOutput" : "KOVA_Voice_StopOutput", 0, code, {KOVA_OK});
    }
    if (voiceOut_) {
        const Bytes &block = state_.streams.soundBlocks[random_() % state_.streams.soundBlocks.size()];
        Check(state_, tally_, "KOVA_Voice_Output", 0,
              Watch("KOVA_Voice_Output", 0, [&] { return KOVA_Voice_Output(block.data(), uint32_t(block.size())); }),
              {KOVA_OK});
    }
    if (Chance(1 / 5.0, 0.1)) {
        capturing_ = !capturing_;
        const int32_t code =
            capturing_ ? Watch("KOVA_Voice_StartCapture", 0, [] { return KOVA_Voice_StartCapture(OnVoiceFrame); })
                       : Watch("KOVA_Voice_StopCapture", 0, [] { return KOVA_Voice_StopCapture(); });
        Check(state_, tally_, capturing_ ? "KOVA_Voice_StartCapture" : "KOVA_Voice_StopCapture", 0, code,
              {KOVA_OK, KOVA_ERR_CAPTURE});
        if (code != KOVA_OK) capturing_ = false;
    }
}

}  // namespace tessaly::soak
