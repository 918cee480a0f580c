// Error concealment, ours against libavcodec: each stream is damaged the same
// way for both decoders (access units dropped at random, or bits flipped in
// slice data, from fixed seeds), fed one access unit at a time, and every
// output picture is compared with the undamaged decode of the same access
// unit. The table gives, per decoder, the pictures shown, those that differ
// from the undamaged ones, and their mean PSNR (Y, and Y+U+V together).
//
//   concealment_psnr [--runs N] STREAM.264...
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/log.h>
}

#include "annexb_access_units.h"
#include "cropped_picture.h"
#include "h264dec/h264_decoder.h"

namespace {

using tessaly::bench::Cropped;
using tessaly::bench::Picture;

struct Unit {
    size_t index;  // in the undamaged stream
    std::vector<uint8_t> bytes;
};

struct Damage {
    const char *name;
    double dropRate;  // chance of each access unit to be lost
    double flipRate;  // chance of each access unit to get three flipped bits
};

// One decoder's outputs, by the index of the access unit they came from.
using Outputs = std::vector<std::pair<size_t, Picture>>;

Outputs DecodeOurs(const std::vector<Unit> &units) {
    DecoderAttr attr = {};
    attr.widthMbs = 120;
    attr.heightMbs = 68;
    attr.bufferCount = 16;
    H264Decoder *dec = H264Decoder_Create(&attr);
    Outputs out;
    if (!dec) return out;
    DecodedPicture pic;
    for (const Unit &u : units) {
        const uint8_t *data = u.bytes.data();
        uint32_t length = static_cast<uint32_t>(u.bytes.size());
        while (H264Decoder_Decode(dec, data, length, static_cast<uint32_t>(u.index), 0, &pic,
                                  DEC_FLAG_END_OF_ACCESS_UNIT) == DEC_OK) {
            out.emplace_back(pic.userLow, Cropped(pic));
            data = nullptr;
            length = 0;
        }
    }
    while (H264Decoder_Decode(dec, nullptr, 0, 0, 0, &pic, DEC_FLAG_END_OF_STREAM) == DEC_OK)
        out.emplace_back(pic.userLow, Cropped(pic));
    H264Decoder_Destroy(dec);
    return out;
}

// Single thread, default error concealment; one packet per access unit, its
// index as the time stamp.
Outputs DecodeLibavcodec(const std::vector<Unit> &units) {
    Outputs out;
    const AVCodec *codec = avcodec_find_decoder(AV_CODEC_ID_H264);
    AVCodecContext *ctx = avcodec_alloc_context3(codec);
    ctx->thread_count = 1;
    if (avcodec_open2(ctx, codec, nullptr) < 0) return out;
    AVPacket *packet = av_packet_alloc();
    AVFrame *frame = av_frame_alloc();
    const auto drain = [&] {
        while (avcodec_receive_frame(ctx, frame) == 0) out.emplace_back(size_t(frame->pts), Cropped(*frame));
    };
    for (const Unit &u : units) {
        av_new_packet(packet, static_cast<int>(u.bytes.size()));
        std::memcpy(packet->data, u.bytes.data(), u.bytes.size());
        packet->pts = static_cast<int64_t>(u.index);
        avcodec_send_packet(ctx, packet);
        av_packet_unref(packet);
        drain();
    }
    avcodec_send_packet(ctx, nullptr);
    drain();
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&ctx);
    return out;
}

std::vector<Unit> Damaged(const std::vector<Unit> &clean, const Damage &d, uint32_t seed) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> chance(0, 1);
    std::vector<Unit> units;
    for (const Unit &u : clean) {
        if (chance(random) < d.dropRate) continue;
        units.push_back(u);
        if (chance(random) >= d.flipRate) continue;
        // Past the first tenth: slice data rather than the headers before it.
        std::vector<uint8_t> &b = units.back().bytes;
        for (int k = 0; k < 3; ++k) b[b.size() / 10 + random() % (b.size() * 9 / 10)] ^= uint8_t(1u << (random() % 8));
    }
    return units;
}

double Psnr(double squaredError, size_t samples) {
    return squaredError == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 * double(samples) / squaredError);
}

struct Tally {
    size_t shown = 0, differing = 0;
    double psnrY = 0, psnrYuv = 0;  // sums over the differing pictures

    void Add(const Outputs &outputs, const std::vector<Picture> &reference) {
        for (const auto &[index, p] : outputs) {
            ++shown;
            if (index >= reference.size() || reference[index].yuv.size() != p.yuv.size()) continue;
            const Picture &r = reference[index];
            if (r == p) continue;
            const size_t luma = size_t(p.width) * size_t(p.height);
            double y = 0, all = 0;
            for (size_t k = 0; k < p.yuv.size(); ++k) {
                const double e = double(p.yuv[k]) - double(r.yuv[k]);
                all += e * e;
                if (k < luma) y += e * e;
            }
            ++differing;
            psnrY += Psnr(y, luma);
            psnrYuv += Psnr(all, p.yuv.size());
        }
    }

    std::string Row() const {
        char text[96];
        if (differing == 0)
            std::snprintf(text, sizeof text, "%zu | %zu | - | -", shown, differing);
        else
            std::snprintf(text, sizeof text, "%zu | %zu | %.2f | %.2f", shown, differing, psnrY / double(differing),
                          psnrYuv / double(differing));
        return text;
    }
};

}  // namespace

int main(int argc, char **argv) {
    int runs = 4;
    std::vector<std::string> paths;
    for (int k = 1; k < argc; ++k) {
        if (std::strcmp(argv[k], "--runs") == 0 && k + 1 < argc)
            runs = std::max(1, std::atoi(argv[++k]));
        else
            paths.emplace_back(argv[k]);
    }
    if (paths.empty()) {
        std::fprintf(stderr, "usage: concealment_psnr [--runs N] STREAM.264...\n");
        return 1;
    }
    av_log_set_level(AV_LOG_QUIET);  // every damaged unit would be reported
    const Damage damages[] = {
        {"1% of units lost", 0.01, 0}, {"3% lost", 0.03, 0}, {"10% lost", 0.10, 0}, {"bits flipped in 10%", 0, 0.10}};
    std::printf(
        "| stream | damage | units (lost) | ours: shown | differ | PSNR Y | PSNR YUV "
        "| libavcodec: shown | differ | PSNR Y | PSNR YUV |\n");
    std::printf("| --- | --- | --- | --- | --- | --- | --- | --- | --- | --- | --- |\n");
    for (const std::string &path : paths) {
        const std::vector<uint8_t> stream = tessaly::bench::ReadFile(path);
        std::vector<Unit> clean;
        for (const auto &r : tessaly::tools::SplitAccessUnits(stream.data(), stream.size()))
            clean.push_back(
                {clean.size(), {stream.begin() + ptrdiff_t(r.offset), stream.begin() + ptrdiff_t(r.offset + r.size)}});
        std::vector<Picture> reference(clean.size());
        for (auto &[index, p] : DecodeOurs(clean))
            if (index < reference.size()) reference[index] = std::move(p);
        const std::string name = path.substr(path.find_last_of('/') + 1);
        for (size_t d = 0; d < std::size(damages); ++d) {
            Tally ours, theirs;
            size_t units = 0, lost = 0;
            for (int r = 0; r < runs; ++r) {
                const std::vector<Unit> damaged = Damaged(clean, damages[d], uint32_t(1000 * d + r + 1));
                units += clean.size();
                lost += clean.size() - damaged.size();
                ours.Add(DecodeOurs(damaged), reference);
                theirs.Add(DecodeLibavcodec(damaged), reference);
            }
            std::printf("| %s | %s | %zu (%zu) | %s | %s |\n", name.c_str(), damages[d].name, units, lost,
                        ours.Row().c_str(), theirs.Row().c_str());
            std::fflush(stdout);
        }
    }
    return 0;
}
