// Voice codec throughput in samples per second, for every mode, next to
// libavcodec's G.726 (g726le) encoder and decoder on the same speech input.
//
//   voice_bench [--benchmark_filter=G726]
#include <benchmark/benchmark.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tessaly/tq_voice.h"

#ifdef TESSALY_BENCH_LIBAVCODEC
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
}
#endif

namespace {

constexpr int kFrameSamples = 80;

const std::vector<int16_t> &Speech() {
    static const std::vector<int16_t> pcm = [] {
        std::ifstream in(std::string(TESSALY_TESTDATA) + "/voice/speech.pcm", std::ios::binary);
        const std::vector<char> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        std::vector<int16_t> samples(bytes.size() / 2);
        for (size_t k = 0; k < samples.size(); ++k)
            samples[k] = static_cast<int16_t>(static_cast<uint8_t>(bytes[2 * k]) | (bytes[2 * k + 1] << 8));
        samples.resize(samples.size() / kFrameSamples * kFrameSamples);
        return samples;
    }();
    return pcm;
}

std::vector<std::vector<uint8_t>> EncodeFrames(int16_t mode) {
    const auto &pcm = Speech();
    uint8_t state[TQ_VOICE_STATE_BYTES];
    TQ_VOICE_EncReset(state, mode);
    std::vector<std::vector<uint8_t>> frames;
    for (size_t start = 0; start < pcm.size(); start += kFrameSamples) {
        uint8_t frame[TQ_VOICE_MAX_FRAME_BYTES];
        TQ_VOICE_EncodeFrame(state, &pcm[start], frame, kFrameSamples, mode);
        frames.emplace_back(frame, frame + 4 + 2 * frame[2]);
    }
    return frames;
}

void BM_Encode(benchmark::State &state) {
    const int16_t mode = static_cast<int16_t>(state.range(0));
    const auto &pcm = Speech();
    uint8_t codec[TQ_VOICE_STATE_BYTES];
    uint8_t frame[TQ_VOICE_MAX_FRAME_BYTES];
    for (auto _ : state) {
        TQ_VOICE_EncReset(codec, mode);
        for (size_t start = 0; start < pcm.size(); start += kFrameSamples)
            benchmark::DoNotOptimize(TQ_VOICE_EncodeFrame(codec, &pcm[start], frame, kFrameSamples, mode));
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * pcm.size()));
}

void BM_Decode(benchmark::State &state) {
    const int16_t mode = static_cast<int16_t>(state.range(0));
    const auto frames = EncodeFrames(mode);
    uint8_t codec[TQ_VOICE_STATE_BYTES];
    int16_t pcm[TQ_VOICE_MAX_SAMPLES];
    int16_t count = 0;
    int64_t samples = 0;
    for (auto _ : state) {
        TQ_VOICE_DecReset(codec, mode);
        for (const auto &f : frames) {
            // Modes 36-39 rewrite the payload; decode a copy so every pass sees the same input.
            uint8_t copy[TQ_VOICE_MAX_FRAME_BYTES];
            std::copy(f.begin(), f.end(), copy);
            TQ_VOICE_DecodeFrame(codec, copy, pcm, mode, &count);
            samples += count;
        }
        benchmark::DoNotOptimize(pcm);
    }
    state.SetItemsProcessed(samples);
}

void AllModes(benchmark::internal::Benchmark *b) {
    for (int mode : {1, 2, 3, 35, 4, 5, 6, 7, 36, 37, 38, 39}) b->Arg(mode);
}

BENCHMARK(BM_Encode)->Apply(AllModes);
BENCHMARK(BM_Decode)->Apply(AllModes);

#ifdef TESSALY_BENCH_LIBAVCODEC
// libavcodec's g726le with the same 10 ms framing, for comparison with modes 4-7.
AVCodecContext *OpenG726(bool encoder, int bits) {
    const AVCodec *codec = encoder ? avcodec_find_encoder_by_name("g726le") : avcodec_find_decoder_by_name("g726le");
    if (!codec) return nullptr;
    AVCodecContext *ctx = avcodec_alloc_context3(codec);
    ctx->sample_rate = 8000;
    ctx->sample_fmt = AV_SAMPLE_FMT_S16;
    ctx->bit_rate = 8000 * bits;
    ctx->bits_per_coded_sample = bits;
    av_channel_layout_default(&ctx->ch_layout, 1);
    if (avcodec_open2(ctx, codec, nullptr) < 0) avcodec_free_context(&ctx);
    return ctx;
}

void BM_LibavcodecG726Encode(benchmark::State &state) {
    const int bits = static_cast<int>(state.range(0));
    const auto &pcm = Speech();
    AVCodecContext *ctx = OpenG726(true, bits);
    if (!ctx) return state.SkipWithError("libavcodec has no g726le encoder");
    AVFrame *frame = av_frame_alloc();
    AVPacket *packet = av_packet_alloc();
    frame->nb_samples = ctx->frame_size > 0 ? ctx->frame_size : kFrameSamples;
    frame->format = AV_SAMPLE_FMT_S16;
    av_channel_layout_copy(&frame->ch_layout, &ctx->ch_layout);
    av_frame_get_buffer(frame, 0);
    const int block = frame->nb_samples;
    for (auto _ : state) {
        for (size_t start = 0; start + block <= pcm.size(); start += block) {
            av_frame_make_writable(frame);
            std::copy(&pcm[start], &pcm[start] + block, reinterpret_cast<int16_t *>(frame->data[0]));
            avcodec_send_frame(ctx, frame);
            while (avcodec_receive_packet(ctx, packet) == 0) av_packet_unref(packet);
        }
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * (pcm.size() / block * block)));
    av_packet_free(&packet);
    av_frame_free(&frame);
    avcodec_free_context(&ctx);
}

void BM_LibavcodecG726Decode(benchmark::State &state) {
    const int bits = static_cast<int>(state.range(0));
    // The payloads of our LSB-first frames are g726le packets.
    const auto frames = EncodeFrames(static_cast<int16_t>(bits + 2));
    AVCodecContext *ctx = OpenG726(false, bits);
    if (!ctx) return state.SkipWithError("libavcodec has no g726le decoder");
    AVFrame *frame = av_frame_alloc();
    AVPacket *packet = av_packet_alloc();
    int64_t samples = 0;
    for (auto _ : state) {
        for (const auto &f : frames) {
            av_new_packet(packet, static_cast<int>(f.size() - 4));
            std::copy(f.begin() + 4, f.end(), packet->data);
            avcodec_send_packet(ctx, packet);
            av_packet_unref(packet);
            while (avcodec_receive_frame(ctx, frame) == 0) samples += frame->nb_samples;
        }
    }
    state.SetItemsProcessed(samples);
    av_packet_free(&packet);
    av_frame_free(&frame);
    avcodec_free_context(&ctx);
}

BENCHMARK(BM_LibavcodecG726Encode)->DenseRange(2, 5);
BENCHMARK(BM_LibavcodecG726Decode)->DenseRange(2, 5);
#endif

}  // namespace

BENCHMARK_MAIN();
