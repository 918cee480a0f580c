// tessaly-ft: FT byte streams, as some cameras send H.264 or Motion JPEG, for
// trying the library's FFmpeg path.
//
//   tessaly-ft wrap [--raw] --h264 IN.264 OUT.ft
//   tessaly-ft wrap [--raw] --mjpeg IN.mjpeg|IN.avi|IN.mp4 OUT.ft
//   tessaly-ft unwrap [--raw] IN.ft OUT
//   tessaly-ft md5 [--raw] IN.ft
//
// wrap makes one packet an access unit (or JPEG picture): 40-byte headers,
// or with --raw the 8-byte marker alone. unwrap gives the payloads back as
// the library fixes them up, joined: an Annex B stream or a Motion JPEG file.
// In the FT variant the library rewrites an access unit's first NAL header
// byte 0x67 to 0x27 and 0x61 to 0x21 (nal_ref_idc 3 to 1, which decodes the
// same), so only there may unwrap differ from what was wrapped. md5 decodes
// the payloads with the library's FFmpeg decoder and prints, a picture a
// line, the MD5 of its Y, U and V planes (4:2:0) and its size.
#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "annexb_access_units.h"
#include "ft_stream.h"
#include "jpeg_pictures.h"
#include "md5.h"
#include "video/ffmpeg_library.h"

namespace {

using ftool::Bytes;
using tessaly::player::FtPayload;
using tessaly::player::FtVariant;

int Fail(const std::string &message) {
    std::fprintf(stderr, "tessaly-ft: %s\n", message.c_str());
    return 1;
}

int Usage() {
    return Fail(
        "usage: tessaly-ft wrap [--raw] --h264 IN.264|--mjpeg IN.mjpeg|IN.avi|IN.mp4 OUT.ft | unwrap [--raw] IN.ft "
        "OUT | md5 [--raw] IN.ft");
}

bool ReadBytes(const std::string &path, Bytes &bytes, std::string &error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot open " + path;
        return false;
    }
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

bool WriteBytes(const std::string &path, const Bytes &bytes, std::string &error) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char *>(bytes.data()), std::streamsize(bytes.size()));
    if (!out) error = "cannot write " + path;
    return bool(out);
}

// The payloads of the input: H.264 access units with their filler, or JPEG pictures.
bool Payloads(const std::string &kind, const std::string &path, std::vector<Bytes> &payloads, std::string &error) {
    if (kind == "--mjpeg") return ftool::ReadJpegPictures(path, payloads, error);
    Bytes stream;
    if (!ReadBytes(path, stream, error)) return false;
    for (const tessaly::tools::ByteRange &unit : tessaly::tools::SplitAccessUnits(stream.data(), stream.size())) {
        Bytes payload;
        if (ftool::H264Payload(stream.data() + unit.offset, unit.size, uint32_t(payloads.size()), payload))
            payloads.push_back(std::move(payload));
    }
    if (payloads.empty()) error = path + " holds no H.264 access unit";
    return !payloads.empty();
}

int Wrap(FtVariant variant, const std::string &kind, const std::string &in, const std::string &out) {
    std::vector<Bytes> payloads;
    std::string error;
    if (!Payloads(kind, in, payloads, error)) return Fail(error);
    Bytes stream;
    for (size_t k = 0; k < payloads.size(); ++k) {
        if (payloads[k].size() > ftool::MaxPayload(variant))
            return Fail("picture " + std::to_string(k) + " is " + std::to_string(payloads[k].size()) +
                        " bytes, more than the library's assembly buffer takes (" +
                        std::to_string(ftool::MaxPayload(variant)) + ")");
        ftool::AppendPacket(stream, payloads[k].data(), payloads[k].size(), uint32_t(k), variant);
    }
    return WriteBytes(out, stream, error) ? 0 : Fail(error);
}

// Calls back with each payload that holds something; false with a message
// when a packet was too large.
bool ForEachPayload(FtVariant variant, const std::string &in, const std::function<void(const FtPayload &)> &use,
                    std::string &error) {
    Bytes stream;
    if (!ReadBytes(in, stream, error)) return false;
    uint32_t dropped = 0;
    ftool::UnwrapStream(
        stream, variant,
        [&](const FtPayload &payload) {
            if (payload.length > 0) use(payload);
        },
        dropped);
    if (dropped > 0) error = in + ": " + std::to_string(dropped) + " packet(s) too large for the assembly buffer";
    return dropped == 0;
}

int Unwrap(FtVariant variant, const std::string &in, const std::string &out) {
    Bytes joined;
    std::string error;
    const bool whole = ForEachPayload(
        variant, in, [&](const FtPayload &p) { joined.insert(joined.end(), p.data, p.data + p.length); }, error);
    if (!whole) return Fail(error);
    return WriteBytes(out, joined, error) ? 0 : Fail(error);
}

void PrintMd5(const tessaly::video::FfmpegPicture &picture) {
    Md5 digest;
    for (int row = 0; row < picture.height; ++row)
        digest.Update(picture.y + ptrdiff_t(row) * picture.yStride, size_t(picture.width));
    const int width = (picture.width + 1) / 2, height = (picture.height + 1) / 2;
    for (const uint8_t *plane : {picture.u, picture.v})
        for (int row = 0; row < height; ++row) digest.Update(plane + ptrdiff_t(row) * picture.uvStride, size_t(width));
    std::printf("%s %dx%d\n", digest.HexDigest().c_str(), picture.width, picture.height);
}

int Md5Pictures(FtVariant variant, const std::string &in) {
    using tessaly::video::FfmpegDecoder;
    if (!tessaly::video::LoadFfmpeg()) return Fail("FFmpeg (libavcodec.so.59, libavutil.so.57) cannot be loaded");
    FfmpegDecoder decoder;
    int codec = 0;
    bool opened = true;
    auto drain = [&] {
        while (auto picture = decoder.Drain()) PrintMd5(*picture);
    };
    std::string error;
    const bool whole = ForEachPayload(
        variant, in,
        [&](const FtPayload &p) {
            if (p.kind != codec) {
                drain();
                codec = p.kind;
                opened = opened && decoder.Open(codec);
            }
            if (auto picture = decoder.Decode(p.data, p.length)) PrintMd5(*picture);
        },
        error);
    drain();
    if (!opened) return Fail("the FFmpeg decoder does not open");
    return whole ? 0 : Fail(error);
}

}  // namespace

int main(int argc, char **argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) return Usage();
    const std::string command = args[0];
    args.erase(args.begin());
    FtVariant variant = FtVariant::kFt;
    if (!args.empty() && args[0] == "--raw") {
        variant = FtVariant::kRaw;
        args.erase(args.begin());
    }
    if (command == "wrap" && args.size() == 3 && (args[0] == "--h264" || args[0] == "--mjpeg"))
        return Wrap(variant, args[0], args[1], args[2]);
    if (command == "unwrap" && args.size() == 2) return Unwrap(variant, args[0], args[1]);
    if (command == "md5" && args.size() == 1) return Md5Pictures(variant, args[0]);
    return Usage();
}
