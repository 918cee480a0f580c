// Single-threaded H.264 decoding speed, ours against libavcodec, on the same
// streams in the same process. Each round decodes every stream once with each
// decoder, alternating, and the table reports the median frames per second.
// Before timing, every output picture of ours is compared with libavcodec's.
//
//   decode_vs_libavcodec [--rounds N] STREAM.264...
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include "cropped_picture.h"
#include "h264dec/h264_decoder.h"

namespace {

using tessaly::bench::Cropped;
using tessaly::bench::Picture;
using tessaly::bench::ReadFile;
using Clock = std::chrono::steady_clock;

// Decodes a whole stream with our decoder; calls sink for every picture.
template <typename Sink>
int DecodeOurs(const std::vector<uint8_t> &stream, Sink &&sink) {
    DecoderAttr attr = {};
    attr.widthMbs = 120;
    attr.heightMbs = 68;
    attr.bufferCount = 16;
    H264Decoder *dec = H264Decoder_Create(&attr);
    if (!dec) return -1;
    int pictures = 0;
    DecodedPicture pic;
    const uint8_t *data = stream.data();
    uint32_t length = static_cast<uint32_t>(stream.size());
    for (uint32_t flags = 0;; flags = DEC_FLAG_END_OF_STREAM) {
        int rc;
        while ((rc = H264Decoder_Decode(dec, data, length, 0, 0, &pic, flags)) == DEC_OK) {
            data = nullptr;
            length = 0;
            sink(pic);
            ++pictures;
        }
        data = nullptr;
        length = 0;
        if (flags == DEC_FLAG_END_OF_STREAM) break;
    }
    H264Decoder_Destroy(dec);
    return pictures;
}

template <typename Sink>
int DecodeLibavcodec(const std::vector<uint8_t> &stream, Sink &&sink) {
    const AVCodec *codec = avcodec_find_decoder(AV_CODEC_ID_H264);
    AVCodecContext *ctx = avcodec_alloc_context3(codec);
    ctx->thread_count = 1;
    ctx->flags |= AV_CODEC_FLAG_UNALIGNED;
    if (avcodec_open2(ctx, codec, nullptr) < 0) return -1;
    AVCodecParserContext *parser = av_parser_init(AV_CODEC_ID_H264);
    AVPacket *packet = av_packet_alloc();
    AVFrame *frame = av_frame_alloc();
    int pictures = 0;
    auto drain = [&] {
        while (avcodec_receive_frame(ctx, frame) == 0) {
            sink(*frame);
            ++pictures;
        }
    };
    const uint8_t *data = stream.data();
    int left = static_cast<int>(stream.size());
    while (left > 0) {
        const int used =
            av_parser_parse2(parser, ctx, &packet->data, &packet->size, data, left, AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
        data += used;
        left -= used;
        if (packet->size) {
            avcodec_send_packet(ctx, packet);
            drain();
        }
    }
    av_parser_parse2(parser, ctx, &packet->data, &packet->size, nullptr, 0, AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
    if (packet->size) {
        avcodec_send_packet(ctx, packet);
        drain();
    }
    avcodec_send_packet(ctx, nullptr);
    drain();
    av_frame_free(&frame);
    av_packet_free(&packet);
    av_parser_close(parser);
    avcodec_free_context(&ctx);
    return pictures;
}

// Ours against libavcodec, picture by picture; returns the number that differ.
int CompareOutputs(const std::vector<uint8_t> &stream, int &count) {
    std::vector<Picture> reference;
    DecodeLibavcodec(stream, [&](const AVFrame &f) { reference.push_back(Cropped(f)); });
    int index = 0, differing = 0;
    DecodeOurs(stream, [&](const DecodedPicture &d) {
        const Picture p = Cropped(d);
        if (index >= static_cast<int>(reference.size()) || reference[static_cast<size_t>(index)] != p) ++differing;
        ++index;
    });
    count = index;
    return differing + std::abs(static_cast<int>(reference.size()) - index);
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

}  // namespace

int main(int argc, char **argv) {
    int rounds = 5;
    std::vector<std::string> paths;
    for (int k = 1; k < argc; ++k) {
        if (std::strcmp(argv[k], "--rounds") == 0 && k + 1 < argc)
            rounds = std::max(1, std::atoi(argv[++k]));
        else
            paths.emplace_back(argv[k]);
    }
    if (paths.empty()) {
        std::fprintf(stderr, "usage: decode_vs_libavcodec [--rounds N] STREAM.264...\n");
        return 1;
    }
    std::printf("%-44s %7s %9s %13s %7s %s\n", "stream", "frames", "ours fps", "libavcodec fps", "ratio", "output");
    bool allExact = true;
    for (const std::string &path : paths) {
        const std::vector<uint8_t> stream = ReadFile(path);
        if (stream.empty()) {
            std::fprintf(stderr, "cannot read %s\n", path.c_str());
            return 1;
        }
        int frames = 0;
        const int differing = CompareOutputs(stream, frames);
        allExact &= differing == 0;
        std::vector<double> ours, theirs;
        for (int r = 0; r < rounds; ++r) {
            auto t0 = Clock::now();
            const int a = DecodeOurs(stream, [](const DecodedPicture &) {});
            auto t1 = Clock::now();
            const int b = DecodeLibavcodec(stream, [](const AVFrame &) {});
            auto t2 = Clock::now();
            ours.push_back(a / std::chrono::duration<double>(t1 - t0).count());
            theirs.push_back(b / std::chrono::duration<double>(t2 - t1).count());
        }
        const double o = Median(ours), t = Median(theirs);
        const std::string name = path.substr(path.find_last_of('/') + 1);
        std::printf("%-44s %7d %9.1f %13.1f %7.3f %s\n", name.c_str(), frames, o, t, o / t,
                    differing ? ("DIFFERS in " + std::to_string(differing) + " pictures").c_str() : "identical");
    }
    return allExact ? 0 : 2;
}
