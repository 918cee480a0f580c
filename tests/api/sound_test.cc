// A port's sound, the voice output, the decoders and voice capture through
// SDL's real drivers: the disk driver writes what a playback device plays to
// the file $SDL_DISKAUDIOFILE names and reads a capture device's input from
// $SDL_DISKAUDIOFILEIN, both when the device opens, at real-time pace.
#include <signal.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "stream_file.h"
#include "tessaly/kova.h"
#include "tessaly/tq_voice.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Samples = std::vector<int16_t>;
using namespace std::chrono_literals;

Samples ReadSamples(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    const Bytes bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    Samples out(bytes.size() / 2);
    std::memcpy(out.data(), bytes.data(), out.size() * 2);
    return out;
}

Samples TestSignal() { return ReadSamples(std::string(TESSALY_TESTDATA) + "/voice/noise.pcm"); }

// Frames of `samples` samples each, one encoder carried through.
std::vector<Bytes> Encode(const Samples &pcm, int16_t mode, int samples = 80) {
    alignas(8) uint8_t state[TQ_VOICE_STATE_BYTES];
    TQ_VOICE_EncReset(state, mode);
    std::vector<Bytes> frames;
    for (size_t at = 0; at + samples <= pcm.size(); at += samples) {
        Bytes frame(TQ_VOICE_MAX_FRAME_BYTES);
        EXPECT_EQ(TQ_VOICE_EncodeFrame(state, pcm.data() + at, frame.data(), static_cast<int16_t>(samples), mode), 0u);
        frame.resize(2u * (frame[2] + 2u));
        frames.push_back(frame);
    }
    return frames;
}

// What a fresh decoder makes of the frames.
Samples Decode(std::vector<Bytes> frames, int16_t mode) {
    alignas(8) uint8_t state[TQ_VOICE_STATE_BYTES];
    TQ_VOICE_DecReset(state, mode);
    Samples out;
    for (Bytes &frame : frames) {
        int16_t pcm[TQ_VOICE_MAX_SAMPLES];
        int16_t count = 0;
        EXPECT_EQ(TQ_VOICE_DecodeFrame(state, frame.data(), pcm, mode, &count), 0u);
        out.insert(out.end(), pcm, pcm + count);
    }
    return out;
}

// A device may add silence, nothing else: compare without zero samples.
Samples WithoutSilence(const Samples &in) {
    Samples out;
    for (int16_t s : in)
        if (s != 0) out.push_back(s);
    return out;
}

Bytes Joined(const std::vector<Bytes> &frames, size_t first, size_t count) {
    Bytes out;
    for (size_t k = first; k < first + count && k < frames.size(); ++k)
        out.insert(out.end(), frames[k].begin(), frames[k].end());
    return out;
}

int ThreadCount() {
    int n = 0;
    for ([[maybe_unused]] auto &entry : std::filesystem::directory_iterator("/proc/self/task")) ++n;
    return n;
}

class SoundTest : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("SDL_AUDIODRIVER", "disk", 1);
        dir_ =
            std::filesystem::temp_directory_path() / ("tessaly-sound-" + std::to_string(getpid()) + "-" +
                                                      ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(dir_);
        ASSERT_EQ(KOVA_Init(), KOVA_OK);
    }
    void TearDown() override {
        KOVA_Voice_StopCapture();
        KOVA_Voice_StopOutput();
        KOVA_DeInit();
        std::filesystem::remove_all(dir_);
    }
    // The next playback device writes here.
    std::string NextOutput(const std::string &name) {
        const std::string path = (dir_ / name).string();
        setenv("SDL_DISKAUDIOFILE", path.c_str(), 1);
        return path;
    }

    std::filesystem::path dir_;
};

// Where the frames go: a stream port's sound, or the voice output.
struct Sink {
    const char *name;
    void (*start)();
    int32_t (*push)(const uint8_t *, uint32_t);
    void (*stop)();
};

const Sink kSinks[] = {
    {"port", [] { ASSERT_EQ(KOVA_OpenStream(7, 0, 1, 1), KOVA_OK); },
     [](const uint8_t *data, uint32_t length) { return KOVA_AddStreamFrame(7, KOVA_FRAME_AUDIO, data, length); },
     [] { EXPECT_EQ(KOVA_Close(7), KOVA_OK); }},
    {"voice", [] { ASSERT_EQ(KOVA_Voice_StartOutput(), KOVA_OK); }, KOVA_Voice_Output,
     [] { EXPECT_EQ(KOVA_Voice_StopOutput(), KOVA_OK); }},
};

class SoundSinkTest : public SoundTest, public ::testing::WithParamInterface<Sink> {};

// One second at 16 kbit/s, then one at 32 kbit/s, in submissions of one to
// three frames at real-time pace: the device plays every sample, in order,
// the rate change starting the decoder afresh.
TEST_P(SoundSinkTest, PlaysEverySampleInOrder) {
    const std::string output = NextOutput("out.raw");
    GetParam().start();
    const Samples signal = TestSignal();
    Samples expected;
    const auto begin = std::chrono::steady_clock::now();
    size_t sent = 0;
    for (int16_t mode : {TQ_VOICE_MODE_G726_16K, TQ_VOICE_MODE_G726_32K}) {
        const std::vector<Bytes> frames = Encode(signal, mode);
        const Samples decoded = Decode(frames, mode);
        expected.insert(expected.end(), decoded.begin(), decoded.end());
        for (size_t k = 0; k < frames.size();) {
            const size_t count = 1 + k % 3;
            const Bytes batch = Joined(frames, k, count);
            ASSERT_EQ(GetParam().push(batch.data(), static_cast<uint32_t>(batch.size())), KOVA_OK);
            k += count;
            sent += count;
            std::this_thread::sleep_until(begin + sent * 10ms);
        }
    }
    std::this_thread::sleep_for(400ms);  // the queue drains
    GetParam().stop();

    const Samples played = ReadSamples(output);
    EXPECT_GE(played.size(), expected.size());
    EXPECT_EQ(WithoutSilence(played), WithoutSilence(expected));
}

INSTANTIATE_TEST_SUITE_P(Sinks, SoundSinkTest, ::testing::ValuesIn(kSinks),
                         [](const auto &info) { return std::string(info.param.name); });

// Stopping drops what was queued: a new start plays none of it. Start and
// stop are idempotent.
TEST_F(SoundTest, StopDropsWhatIsQueued) {
    NextOutput("first.raw");
    ASSERT_EQ(KOVA_OpenStream(3, 0, 1, 0), KOVA_OK);
    EXPECT_EQ(KOVA_EnableSound(3, 0), KOVA_OK);
    EXPECT_EQ(KOVA_EnableSound(3, 1), KOVA_OK);
    EXPECT_EQ(KOVA_EnableSound(3, 1), KOVA_OK);
    const Bytes burst = Joined(Encode(TestSignal(), TQ_VOICE_MODE_G726_32K), 0, 40);
    ASSERT_EQ(KOVA_AddStreamFrame(3, KOVA_FRAME_AUDIO, burst.data(), static_cast<uint32_t>(burst.size())), KOVA_OK);
    EXPECT_EQ(KOVA_EnableSound(3, 0), KOVA_OK);
    EXPECT_EQ(KOVA_EnableSound(3, 0), KOVA_OK);

    const std::string second = NextOutput("second.raw");
    EXPECT_EQ(KOVA_EnableSound(3, 1), KOVA_OK);
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(KOVA_Close(3), KOVA_OK);
    const Samples played = ReadSamples(second);
    EXPECT_FALSE(played.empty());
    EXPECT_TRUE(WithoutSilence(played).empty());
}

// Sizes are checked before anything is decoded; a later frame whose own
// header disagrees is dropped (a port) or ends the decoding (the decoders).
TEST_F(SoundTest, RefusalsAndTheDecoders) {
    const std::vector<Bytes> frames16 = Encode(TestSignal(), TQ_VOICE_MODE_G726_16K);
    const std::vector<Bytes> frames32 = Encode(TestSignal(), TQ_VOICE_MODE_G726_32K);
    const Bytes two = Joined(frames16, 0, 2);
    ASSERT_EQ(KOVA_OpenStream(0, 0, 1, 0), KOVA_OK);
    EXPECT_EQ(KOVA_AddStreamFrame(0, KOVA_FRAME_AUDIO, two.data(), 48), KOVA_ERR_MISSING_OBJECT);
    NextOutput("refusals.raw");
    ASSERT_EQ(KOVA_EnableSound(0, 1), KOVA_OK);
    const Bytes three32 = Joined(frames32, 0, 3);
    EXPECT_EQ(KOVA_AddStreamFrame(0, KOVA_FRAME_AUDIO, three32.data(), 68), KOVA_ERR_INVALID_ARGUMENT);
    EXPECT_EQ(KOVA_AddStreamFrame(0, KOVA_FRAME_AUDIO, three32.data(), 3), KOVA_ERR_INVALID_ARGUMENT);
    const Bytes other = Encode(TestSignal(), TQ_VOICE_MODE_G711_ALAW)[0];
    EXPECT_EQ(KOVA_AddStreamFrame(0, KOVA_FRAME_AUDIO, other.data(), static_cast<uint32_t>(other.size())),
              KOVA_ERR_INVALID_ARGUMENT);
    Bytes mixed = Joined(frames16, 0, 1);
    mixed.insert(mixed.end(), frames32[0].begin(), frames32[0].begin() + 24);  // announces 44 bytes in 24
    EXPECT_EQ(KOVA_AddStreamFrame(0, KOVA_FRAME_AUDIO, mixed.data(), 48), KOVA_OK);
    EXPECT_EQ(KOVA_AddStreamFrame(9, KOVA_FRAME_AUDIO, two.data(), 48), KOVA_ERR_NOT_OPEN);
    EXPECT_EQ(KOVA_EnableSound(9, 1), KOVA_ERR_NOT_OPEN);
    EXPECT_EQ(KOVA_EnableSound(256, 1), KOVA_ERR_INVALID_ARGUMENT);

    uint8_t pcm[160 * 8];
    uint32_t length = 12345;
    EXPECT_EQ(KOVA_Audio_Decode(64, two.data(), 48, pcm, &length), KOVA_ERR_INVALID_ARGUMENT);
    EXPECT_EQ(KOVA_Audio_Decode(0, nullptr, 48, pcm, &length), KOVA_ERR_INVALID_ARGUMENT);
    EXPECT_EQ(KOVA_Audio_Decode(0, two.data(), 48, pcm, nullptr), KOVA_ERR_INVALID_ARGUMENT);
    EXPECT_EQ(KOVA_Audio_Decode(0, three32.data(), 68, pcm, &length), KOVA_ERR_INVALID_ARGUMENT);
    EXPECT_EQ(KOVA_Audio_Decode(0, mixed.data(), 48, pcm, &length), KOVA_ERR_MISSING_OBJECT);
    EXPECT_EQ(length, 12345u);

    // Decoder 1 takes the frames one call at a time, decoder 2 all at once,
    // through a change of rate and back: both keep state across calls.
    Samples oneByOne, atOnce;
    std::vector<Bytes> sequence = {frames16[0], frames16[1], frames32[0], frames32[1], frames16[0]};
    for (const Bytes &frame : sequence) {
        ASSERT_EQ(KOVA_Audio_Decode(1, frame.data(), static_cast<uint32_t>(frame.size()), pcm, &length), KOVA_OK);
        ASSERT_EQ(length, 160u);
        oneByOne.insert(oneByOne.end(), reinterpret_cast<int16_t *>(pcm), reinterpret_cast<int16_t *>(pcm) + 80);
    }
    for (const auto &[first, count, mode] :
         {std::tuple{0, 2, TQ_VOICE_MODE_G726_16K}, {2, 2, TQ_VOICE_MODE_G726_32K}, {4, 1, TQ_VOICE_MODE_G726_16K}}) {
        const Bytes run = Joined(sequence, first, count);
        ASSERT_EQ(KOVA_Audio_Decode(2, run.data(), static_cast<uint32_t>(run.size()), pcm, &length), KOVA_OK);
        ASSERT_EQ(length, 160u * count);
        const Samples expected = Decode({sequence.begin() + first, sequence.begin() + first + count}, mode);
        EXPECT_EQ(0, std::memcmp(pcm, expected.data(), length)) << "frames from " << first;
        atOnce.insert(atOnce.end(), reinterpret_cast<int16_t *>(pcm), reinterpret_cast<int16_t *>(pcm) + 80 * count);
    }
    EXPECT_EQ(oneByOne, atOnce);

    // The decoders need no initialisation.
    KOVA_DeInit();
    EXPECT_EQ(KOVA_Audio_Decode(3, two.data(), 48, pcm, &length), KOVA_OK);
    EXPECT_EQ(length, 320u);
    EXPECT_EQ(KOVA_EnableSound(0, 1), KOVA_ERR_NOT_INITIALISED);
}

std::mutex gFramesLock;
std::vector<Bytes> gFrames[2];
template <int Which>
void Collect(const uint8_t *frame, uint32_t length) {
    std::lock_guard<std::mutex> lock(gFramesLock);
    gFrames[Which].emplace_back(frame, frame + length);
}

size_t CollectedFrames() {
    std::lock_guard<std::mutex> lock(gFramesLock);
    return gFrames[0].size();
}

// Three seconds recorded: 244-byte frames equal to the codec's encoding of the
// recording's 480-sample blocks, from the first block on; a second start keeps
// the first function; a new start begins from a fresh encoder.
TEST_F(SoundTest, CaptureDeliversTheRecordingEncoded) {
    Samples recording;
    for (int k = 0; k < 3; ++k) {
        const Samples second = TestSignal();
        recording.insert(recording.end(), second.begin(), second.end());
    }
    const std::string input = (dir_ / "microphone.raw").string();
    std::ofstream(input, std::ios::binary)
        .write(reinterpret_cast<const char *>(recording.data()), static_cast<std::streamsize>(recording.size() * 2));
    setenv("SDL_DISKAUDIOFILEIN", input.c_str(), 1);
    const std::vector<Bytes> expected = Encode(recording, TQ_VOICE_MODE_G726_32K, 480);
    ASSERT_EQ(expected.size(), 50u);
    ASSERT_EQ(expected[0].size(), 244u);

    EXPECT_EQ(KOVA_Voice_StopCapture(), KOVA_OK);
    ASSERT_EQ(KOVA_Voice_StartCapture(Collect<0>), KOVA_OK);
    EXPECT_EQ(KOVA_Voice_StartCapture(Collect<1>), KOVA_OK);
    for (int wait = 0; wait < 100 && CollectedFrames() < expected.size(); ++wait) std::this_thread::sleep_for(100ms);
    EXPECT_EQ(KOVA_Voice_StopCapture(), KOVA_OK);
    {
        std::lock_guard<std::mutex> lock(gFramesLock);
        ASSERT_GE(gFrames[0].size(), expected.size());
        gFrames[0].resize(expected.size());
        EXPECT_EQ(gFrames[0], expected);
        EXPECT_TRUE(gFrames[1].empty());
        gFrames[0].clear();
    }
    ASSERT_EQ(KOVA_Voice_StartCapture(Collect<0>), KOVA_OK);
    for (int wait = 0; wait < 50 && CollectedFrames() == 0; ++wait) std::this_thread::sleep_for(20ms);
    EXPECT_EQ(KOVA_Voice_StopCapture(), KOVA_OK);
    std::lock_guard<std::mutex> lock(gFramesLock);
    ASSERT_FALSE(gFrames[0].empty());
    EXPECT_EQ(gFrames[0][0], expected[0]);
}

// The capture function may use the library, even to open and close sound
// devices, while another thread stops the capture; it may stop the capture
// itself. Nothing waits for ever.
TEST_F(SoundTest, CaptureFunctionMayUseTheLibrary) {
    setenv("SDL_DISKAUDIOFILEIN", "/dev/zero", 1);
    NextOutput("talk.raw");
    static std::atomic<int> calls{0};
    calls = 0;
    const auto busy = [](const uint8_t *, uint32_t) {
        EXPECT_EQ(KOVA_Voice_StartOutput(), KOVA_OK);
        EXPECT_EQ(KOVA_Voice_StartCapture(Collect<1>), KOVA_OK);
        EXPECT_EQ(KOVA_Voice_StopOutput(), KOVA_OK);
        ++calls;
    };
    ASSERT_EQ(KOVA_Voice_StartCapture(busy), KOVA_OK);
    while (calls < 3) std::this_thread::sleep_for(5ms);
    EXPECT_EQ(KOVA_Voice_StopCapture(), KOVA_OK);
    const int after = calls;
    std::this_thread::sleep_for(150ms);
    EXPECT_EQ(calls, after);

    const auto quits = [](const uint8_t *, uint32_t) {
        EXPECT_EQ(KOVA_Voice_StopCapture(), KOVA_OK);
        ++calls;
    };
    calls = 0;
    ASSERT_EQ(KOVA_Voice_StartCapture(quits), KOVA_OK);
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(KOVA_Voice_StopCapture(), KOVA_OK);
    std::lock_guard<std::mutex> lock(gFramesLock);
    EXPECT_TRUE(gFrames[1].empty());
}

// Without any sound device the calls keep their results: a port's sound counts
// as started and takes frames beyond what its queue holds; capture cannot start.
TEST_F(SoundTest, NoSoundDevice) {
    KOVA_DeInit();  // SDL's audio is down now, and starts again with this driver
    setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
    ASSERT_EQ(KOVA_Init(), KOVA_OK);
    ASSERT_EQ(KOVA_OpenStream(5, 0, 0, 1), KOVA_OK);
    const Bytes frames = Joined(Encode(TestSignal(), TQ_VOICE_MODE_G726_32K), 0, 100);
    for (int k = 0; k < 5; ++k)
        EXPECT_EQ(KOVA_AddStreamFrame(5, KOVA_FRAME_AUDIO, frames.data(), static_cast<uint32_t>(frames.size())),
                  KOVA_OK);
    EXPECT_EQ(KOVA_Voice_StartCapture(Collect<1>), KOVA_ERR_CAPTURE);
    EXPECT_EQ(KOVA_Voice_StartOutput(), KOVA_OK);
    EXPECT_EQ(KOVA_Voice_Output(frames.data(), 440), KOVA_OK);
    EXPECT_EQ(KOVA_Voice_StopOutput(), KOVA_OK);
    EXPECT_EQ(KOVA_Close(5), KOVA_OK);
}

void CountPicture(int32_t, uint8_t *, int32_t, int32_t, int32_t, intptr_t user) {
    reinterpret_cast<std::atomic<uint32_t> *>(user)->fetch_add(1);
}

// A playback device that cannot open (its file's directory is missing), then
// one lost while it plays (the disk driver gives up on the device when a write
// fails, as it does on /dev/full): the calls keep their results and return at
// once, the port decodes on, the frames that find a queue full are dropped,
// and stopping and starting the sound opens a device that plays again.
TEST_F(SoundTest, DeviceThatCannotOpenOrIsLost) {
    const auto units = AccessUnits(ReadFile(std::string(TESSALY_TESTDATA) + "/h264/conf/BA1_FT_C.264"));
    ASSERT_GT(units.size(), 100u);
    const std::vector<Bytes> sound = Encode(TestSignal(), TQ_VOICE_MODE_G726_32K);
    std::atomic<uint32_t> pictures{0};
    size_t next = 0;
    // Sends 10 ms of sound to both outputs per step and a picture every
    // third, paced like a camera, or all at once.
    const auto send = [&](size_t steps, bool paced) {
        for (size_t k = 0; k < steps; ++k, ++next) {
            const Bytes &frame = sound[next % sound.size()];
            ASSERT_EQ(KOVA_AddStreamFrame(4, KOVA_FRAME_AUDIO, frame.data(), uint32_t(frame.size())), KOVA_OK);
            ASSERT_EQ(KOVA_Voice_Output(frame.data(), uint32_t(frame.size())), KOVA_OK);
            const auto &unit = units[(next / 3) % units.size()];
            if (next % 3 == 0) KOVA_AddStreamFrame(4, 1, unit.data(), uint32_t(unit.size()));
            if (paced) std::this_thread::sleep_for(10ms);
        }
    };
    const auto decodesOn = [&] {
        const uint32_t before = pictures.load();
        for (int wait = 0; wait < 1000 && pictures.load() <= before + 5; ++wait) send(3, true);
        return pictures.load() > before + 5;
    };
    const auto restart = [] {
        EXPECT_EQ(KOVA_EnableSound(4, 0), KOVA_OK);
        EXPECT_EQ(KOVA_EnableSound(4, 1), KOVA_OK);
    };
    const auto restartVoice = [] {
        EXPECT_EQ(KOVA_Voice_StopOutput(), KOVA_OK);
        EXPECT_EQ(KOVA_Voice_StartOutput(), KOVA_OK);
    };

    setenv("SDL_DISKAUDIOFILE", (dir_ / "missing" / "out.raw").c_str(), 1);
    ASSERT_EQ(KOVA_OpenStreamEx(4, 0, 1, 1, &CountPicture, reinterpret_cast<intptr_t>(&pictures)), KOVA_OK);
    ASSERT_EQ(KOVA_Voice_StartOutput(), KOVA_OK);
    send(300, false);  // beyond what the queues hold
    EXPECT_TRUE(decodesOn()) << "without a sound device";

    setenv("SDL_DISKAUDIOFILE", "/dev/full", 1);
    restart();
    restartVoice();
    send(100, true);  // the devices fail on their first full buffer
    send(300, false);
    EXPECT_TRUE(decodesOn()) << "with lost sound devices";

    const std::string portOutput = NextOutput("port.raw");
    restart();
    const std::string voiceOutput = NextOutput("voice.raw");
    restartVoice();
    send(50, true);
    std::this_thread::sleep_for(400ms);  // the queues drain
    EXPECT_EQ(KOVA_Close(4), KOVA_OK);
    EXPECT_EQ(KOVA_Voice_StopOutput(), KOVA_OK);
    EXPECT_GE(WithoutSilence(ReadSamples(portOutput)).size(), 40u * 80) << "the port's sound plays again";
    EXPECT_GE(WithoutSilence(ReadSamples(voiceOutput)).size(), 40u * 80) << "the voice output plays again";
}

// SDL's audio starts with the first device and is gone after KOVA_DeInit: no
// thread left behind, and the host's SIGINT handler untouched (here with
// SDL's dummy driver, which plays into nothing).
TEST_F(SoundTest, DeInitLeavesNoSoundThread) {
    KOVA_DeInit();
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    const int baseline = ThreadCount();
    struct sigaction before {};
    sigaction(SIGINT, nullptr, &before);
    ASSERT_EQ(KOVA_Init(), KOVA_OK);
    NextOutput("lifecycle.raw");
    ASSERT_EQ(KOVA_OpenStream(1, 0, 0, 1), KOVA_OK);
    EXPECT_GT(ThreadCount(), baseline);
    struct sigaction during {};
    sigaction(SIGINT, nullptr, &during);
    EXPECT_EQ(during.sa_handler, before.sa_handler);
    KOVA_DeInit();
    EXPECT_EQ(ThreadCount(), baseline);
}

}  // namespace
