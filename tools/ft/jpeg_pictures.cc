#include "jpeg_pictures.h"

#include <fstream>
#include <iterator>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace ftool {

namespace {

bool IsRestart(uint8_t marker) { return marker >= 0xD0 && marker <= 0xD7; }

// Offset just past the EOI of the picture whose SOI is at `at`, walking the
// marker segments by their lengths (so a thumbnail inside an APP segment is
// passed over) and the entropy-coded data after each SOS; 0 when damaged.
size_t PictureEnd(const std::vector<uint8_t> &b, size_t at) {
    size_t pos = at + 2;
    while (pos + 2 <= b.size()) {
        if (b[pos] != 0xFF) return 0;
        const uint8_t marker = b[pos + 1];
        if (marker == 0xFF) {  // fill byte
            ++pos;
            continue;
        }
        if (marker == 0xD9) return pos + 2;
        if (IsRestart(marker) || marker == 0x01) {
            pos += 2;
            continue;
        }
        if (pos + 4 > b.size()) return 0;
        pos += 2 + (size_t(b[pos + 2]) << 8 | b[pos + 3]);
        if (marker == 0xDA) {
            while (pos + 1 < b.size() && !(b[pos] == 0xFF && b[pos + 1] != 0 && !IsRestart(b[pos + 1]))) ++pos;
        }
    }
    return 0;
}

bool SplitJpegFile(const std::vector<uint8_t> &bytes, std::vector<std::vector<uint8_t>> &pictures, std::string &error) {
    for (size_t at = 0; at + 1 < bytes.size();) {
        if (bytes[at] != 0xFF || bytes[at + 1] != 0xD8) {
            ++at;
            continue;
        }
        const size_t end = PictureEnd(bytes, at);
        if (end == 0) {
            error = "damaged JPEG picture at byte " + std::to_string(at);
            return false;
        }
        pictures.emplace_back(bytes.begin() + ptrdiff_t(at), bytes.begin() + ptrdiff_t(end));
        at = end;
    }
    return true;
}

bool DemuxJpegPictures(const std::string &path, std::vector<std::vector<uint8_t>> &pictures, std::string &error) {
    AVFormatContext *format = nullptr;
    if (avformat_open_input(&format, path.c_str(), nullptr, nullptr) < 0) {
        error = "cannot read " + path + " as JPEG pictures or a container";
        return false;
    }
    const int stream = avformat_find_stream_info(format, nullptr) < 0
                           ? -1
                           : av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (stream < 0 || format->streams[stream]->codecpar->codec_id != AV_CODEC_ID_MJPEG) {
        error = path + " has no Motion JPEG video";
        avformat_close_input(&format);
        return false;
    }
    AVPacket *packet = av_packet_alloc();
    while (packet != nullptr && av_read_frame(format, packet) >= 0) {
        if (packet->stream_index == stream) pictures.emplace_back(packet->data, packet->data + packet->size);
        av_packet_unref(packet);
    }
    av_packet_free(&packet);
    avformat_close_input(&format);
    return true;
}

}  // namespace

bool ReadJpegPictures(const std::string &path, std::vector<std::vector<uint8_t>> &pictures, std::string &error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot open " + path;
        return false;
    }
    const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    pictures.clear();
    const bool ok = bytes.size() >= 2 && bytes[0] == 0xFF && bytes[1] == 0xD8
                        ? SplitJpegFile(bytes, pictures, error)
                        : DemuxJpegPictures(path, pictures, error);
    if (ok && pictures.empty()) {
        error = path + " holds no JPEG picture";
        return false;
    }
    return ok;
}

}  // namespace ftool
