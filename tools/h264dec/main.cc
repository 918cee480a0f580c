// tessaly-h264dec: decodes an Annex B H.264 file through the decoder's call
// interface; prints per-picture MD5s and/or writes cropped yuv420p. With
// neither, it decodes and discards (for timing).
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "h264dec/bitstream/sps_summary.h"
#include "h264dec/h264_decoder.h"
#include "md5.h"

namespace {

struct Options {
    bool md5 = false;
    bool displayOrder = false;
    const char *outPath = nullptr;
    const char *inPath = nullptr;
    size_t chunk = 0;  // 0: whole file
    uint32_t buffers = 16;
    bool threads = false;      // slice-thread mode
    bool fieldMerge = false;   // field-merge post-processing
    bool accessUnits = false;  // one access unit per call
    bool info = false;         // one key=value line per picture
};

int Usage(const char *message) {
    std::fprintf(stderr,
                 "tessaly-h264dec: %s (usage: tessaly-h264dec [--md5] [-o OUT.yuv] [--chunk N] "
                 "[--display-order] [--buffers N] [--threads] [--field-merge] [--au] [--info] INPUT.264)\n",
                 message);
    return 1;
}

bool ParseCount(const char *text, unsigned long max, unsigned long *value) {
    if (!text || !*text) return false;
    char *end = nullptr;
    errno = 0;
    const unsigned long v = std::strtoul(text, &end, 10);
    if (errno || *end || v == 0 || v > max || text[0] == '-') return false;
    *value = v;
    return true;
}

// Largest picture announced by any sequence parameter set, in macroblocks.
void SizeFromStream(const std::vector<uint8_t> &bytes, uint32_t *widthMbs, uint32_t *heightMbs) {
    const size_t n = bytes.size();
    for (size_t i = 0; i + 3 < n; ++i) {
        // Start codes end in a 1: memchr finds those candidates far faster
        // than a byte loop (this scan is part of every timed run).
        const void *one = std::memchr(bytes.data() + i + 2, 1, n - 3 - i);
        if (!one) break;
        i = size_t(static_cast<const uint8_t *>(one) - bytes.data()) - 2;
        if (bytes[i] != 0 || bytes[i + 1] != 0) continue;
        tessaly::h264::SpsSummary sps;
        if (!tessaly::h264::ParseSpsSummary(bytes.data() + i + 3, n - i - 3, &sps)) continue;
        if (sps.widthMbs > *widthMbs) *widthMbs = sps.widthMbs;
        if (sps.frameHeightMbs > *heightMbs) *heightMbs = sps.frameHeightMbs;
    }
}

// Access-unit boundaries the way a player's demultiplexer finds them: a unit
// starts at an SPS, PPS, SEI or delimiter that follows a slice, or at a slice
// whose first_mb_in_slice is 0 that follows a slice. Returns the offsets of
// the start codes that open access units (0 first), and the file size last.
std::vector<size_t> AccessUnitStarts(const std::vector<uint8_t> &bytes) {
    std::vector<size_t> starts{0};
    bool afterSlice = false;
    const size_t n = bytes.size();
    for (size_t i = 0; i + 3 < n; ++i) {
        if (bytes[i] != 0 || bytes[i + 1] != 0 || bytes[i + 2] != 1) continue;
        const size_t unitStart = (i > 0 && bytes[i - 1] == 0) ? i - 1 : i;  // four-byte start codes
        const uint8_t type = bytes[i + 3] & 0x1F;
        bool opens = false;
        if (type == 1 || type == 5) {
            // first_mb_in_slice is ue(v): a leading 1 bit means 0.
            const bool firstMbZero = i + 4 < n && (bytes[i + 4] & 0x80) != 0;
            opens = afterSlice && firstMbZero;
            afterSlice = true;
        } else if (type == 6 || type == 7 || type == 8 || type == 9) {
            opens = afterSlice;
            afterSlice = false;
        }
        if (opens && unitStart > starts.back()) starts.push_back(unitStart);
        i += 2;
    }
    starts.push_back(n);
    return starts;
}

class PictureSink {
public:
    PictureSink(bool md5, FILE *out, bool info) : md5_(md5), info_(info), out_(out) {}
    bool Write(const DecodedPicture &pic) {
        if (info_) PrintInfo(pic);
        if (!md5_ && !out_) {
            ++index_;
            return true;
        }
        const uint32_t w = pic.width - pic.cropLeft - pic.cropRight;
        const uint32_t h = pic.height - pic.cropTop - pic.cropBottom;
        Md5 digest;
        bool ok = true;
        auto plane = [&](const uint8_t *base, uint32_t stride, uint32_t x, uint32_t y, uint32_t pw, uint32_t ph) {
            for (uint32_t row = 0; row < ph; ++row) {
                const uint8_t *line = base + size_t(y + row) * stride + x;
                if (md5_) digest.Update(line, pw);
                if (out_ && std::fwrite(line, 1, pw, out_) != pw) ok = false;
            }
        };
        plane(pic.y, pic.yStride, pic.cropLeft, pic.cropTop, w, h);
        plane(pic.u, pic.uvStride, pic.cropLeft / 2, pic.cropTop / 2, (w + 1) / 2, (h + 1) / 2);
        plane(pic.v, pic.uvStride, pic.cropLeft / 2, pic.cropTop / 2, (w + 1) / 2, (h + 1) / 2);
        if (md5_) std::printf("%s\n", digest.HexDigest().c_str());
        ++index_;
        return ok;
    }

private:
    struct UserData {  // the decoder's UserDataRecord layout
        uint32_t tag, length;
        const uint32_t *data;
        uint32_t reserved;
    };

    void PrintInfo(const DecodedPicture &pic) const {
        const long userData = pic.userData ? long(static_cast<const UserData *>(pic.userData)->length) : -1L;
        std::printf("index=%lu poc=%d fieldHint=%u damaged=%u idr=%u bytes=%u userData=%ld\n", index_, pic.poc,
                    pic.fieldHint, pic.damaged, pic.isIdr, pic.stats ? pic.stats[0] : 0u, userData);
    }

    bool md5_;
    bool info_;
    FILE *out_;
    unsigned long index_ = 0;
};

}  // namespace

int main(int argc, char **argv) {
    Options opt;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        unsigned long v = 0;
        if (a == "--md5") {
            opt.md5 = true;
        } else if (a == "--display-order") {
            opt.displayOrder = true;
        } else if (a == "--threads") {
            opt.threads = true;
        } else if (a == "--field-merge") {
            opt.fieldMerge = true;
        } else if (a == "--au") {
            opt.accessUnits = true;
        } else if (a == "--info") {
            opt.info = true;
        } else if (a == "-o") {
            if (++i >= argc) return Usage("-o needs a file name");
            opt.outPath = argv[i];
        } else if (a == "--chunk") {
            if (++i >= argc || !ParseCount(argv[i], 0xFFFFFFFFul, &v)) return Usage("--chunk needs a positive count");
            opt.chunk = v;
        } else if (a == "--buffers") {
            if (++i >= argc || !ParseCount(argv[i], 16, &v)) return Usage("--buffers needs a count from 1 to 16");
            opt.buffers = uint32_t(v);
        } else if (a.size() > 1 && a[0] == '-') {
            return Usage(("unknown option " + a).c_str());
        } else if (!opt.inPath) {
            opt.inPath = argv[i];
        } else {
            return Usage("more than one input file");
        }
    }
    if (!opt.inPath) return Usage("no input file");
    if (opt.accessUnits && opt.chunk) return Usage("--au and --chunk exclude each other");

    FILE *in = std::fopen(opt.inPath, "rb");
    if (!in) {
        std::fprintf(stderr, "tessaly-h264dec: cannot open %s: %s\n", opt.inPath, std::strerror(errno));
        return 1;
    }
    std::vector<uint8_t> bytes;
    if (std::fseek(in, 0, SEEK_END) == 0) {
        const long size = std::ftell(in);
        if (size > 0) bytes.reserve(size_t(size));
        std::rewind(in);
    }
    uint8_t buf[1 << 16];
    for (size_t got; (got = std::fread(buf, 1, sizeof buf, in)) > 0;) bytes.insert(bytes.end(), buf, buf + got);
    std::fclose(in);

    FILE *out = nullptr;
    if (opt.outPath) {
        out = std::fopen(opt.outPath, "wb");
        if (!out) {
            std::fprintf(stderr, "tessaly-h264dec: cannot create %s: %s\n", opt.outPath, std::strerror(errno));
            return 1;
        }
    }

    uint32_t widthMbs = 0, heightMbs = 0;
    SizeFromStream(bytes, &widthMbs, &heightMbs);
    DecoderAttr attr{};
    attr.widthMbs = widthMbs;
    attr.heightMbs = heightMbs;
    attr.bufferCount = opt.buffers;
    attr.modeFlags = (opt.displayOrder ? uint32_t(DEC_MODE_DISPLAY_ORDER) : 0u) |
                     (opt.threads ? uint32_t(DEC_MODE_SLICE_THREADS) : 0u) |
                     (opt.fieldMerge ? uint32_t(DEC_MODE_FIELD_MERGE) : 0u);
    H264Decoder *dec = H264Decoder_Create(&attr);
    if (!dec) {
        std::fprintf(stderr, "tessaly-h264dec: cannot create the decoder\n");
        if (out) std::fclose(out);
        return 1;
    }

    PictureSink sink(opt.md5, out, opt.info);
    bool writeOk = true;
    DecodedPicture pic;
    std::vector<size_t> pieces;
    if (opt.accessUnits) {
        pieces = AccessUnitStarts(bytes);
    } else {
        const size_t chunk = opt.chunk ? opt.chunk : (bytes.empty() ? 1 : bytes.size());
        for (size_t pos = 0; pos < bytes.size(); pos += chunk) pieces.push_back(pos);
        pieces.push_back(bytes.size());
    }
    for (size_t k = 0; k + 1 < pieces.size(); ++k) {
        const size_t pos = pieces[k], n = pieces[k + 1] - pos;
        if (n == 0) continue;
        int32_t r = H264Decoder_Decode(dec, bytes.data() + pos, uint32_t(n), 0, 0, &pic, 0);
        while (r == DEC_OK) {
            writeOk &= sink.Write(pic);
            r = H264Decoder_Decode(dec, nullptr, 0, 0, 0, &pic, 0);
        }
    }
    while (H264Decoder_Decode(dec, nullptr, 0, 0, 0, &pic, DEC_FLAG_END_OF_STREAM) == DEC_OK)
        writeOk &= sink.Write(pic);
    H264Decoder_Destroy(dec);
    if (out && std::fclose(out) != 0) writeOk = false;
    if (!writeOk) {
        std::fprintf(stderr, "tessaly-h264dec: cannot write %s\n", opt.outPath);
        return 1;
    }
    return 0;
}
