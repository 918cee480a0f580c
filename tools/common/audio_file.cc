#include "audio_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace voicetool {
namespace {

constexpr uint32_t kSampleRate = 8000;

uint32_t Le32(const uint8_t *p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t{p[3]} << 24); }
uint16_t Le16(const uint8_t *p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

void PutLe32(std::vector<uint8_t> &out, uint32_t v) {
    for (int k = 0; k < 4; ++k) out.push_back(static_cast<uint8_t>(v >> (8 * k)));
}
void PutLe16(std::vector<uint8_t> &out, uint16_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

bool EndsWith(const std::string &s, const char *suffix) {
    const size_t n = std::strlen(suffix);
    return s.size() >= n && s.compare(s.size() - n, n, suffix) == 0;
}

bool IsRawName(const std::string &path) { return EndsWith(path, ".pcm") || EndsWith(path, ".raw"); }

void AppendSamples(const uint8_t *data, size_t bytes, std::vector<int16_t> &samples) {
    samples.resize(bytes / 2);
    for (size_t k = 0; k < samples.size(); ++k) samples[k] = static_cast<int16_t>(Le16(data + 2 * k));
}

bool ParseWav(const std::vector<uint8_t> &file, std::vector<int16_t> &samples, std::string &error) {
    if (file.size() < 12 || std::memcmp(file.data() + 8, "WAVE", 4) != 0) {
        error = "not a WAV file (no RIFF/WAVE header)";
        return false;
    }
    bool haveFormat = false;
    size_t pos = 12;
    while (pos + 8 <= file.size()) {
        const uint8_t *chunk = file.data() + pos;
        const uint32_t size = Le32(chunk + 4);
        const size_t body = pos + 8;
        if (size > file.size() - body) {
            error = "truncated WAV file (chunk runs past the end)";
            return false;
        }
        if (std::memcmp(chunk, "fmt ", 4) == 0) {
            if (size < 16) {
                error = "malformed WAV format chunk";
                return false;
            }
            const uint8_t *f = file.data() + body;
            const uint16_t format = Le16(f), channels = Le16(f + 2), bits = Le16(f + 14);
            const uint32_t rate = Le32(f + 4);
            if (format != 1 || channels != 1 || rate != kSampleRate || bits != 16) {
                error = "unsupported WAV format (format " + std::to_string(format) + ", " + std::to_string(channels) +
                        " channel(s), " + std::to_string(rate) + " Hz, " + std::to_string(bits) +
                        " bits): need 8000 Hz mono 16-bit PCM";
                return false;
            }
            haveFormat = true;
        } else if (std::memcmp(chunk, "data", 4) == 0) {
            if (!haveFormat) {
                error = "malformed WAV file (data before format)";
                return false;
            }
            AppendSamples(file.data() + body, size, samples);
            return true;
        }
        pos = body + size + (size & 1);
    }
    error = haveFormat ? "WAV file has no data chunk" : "WAV file has no format chunk";
    return false;
}

}  // namespace

bool ReadFileBytes(const std::string &path, std::vector<uint8_t> &bytes, std::string &error) {
    FILE *f = std::fopen(path.c_str(), "rb");
    if (!f) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    bytes.clear();
    uint8_t buffer[1 << 16];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) bytes.insert(bytes.end(), buffer, buffer + n);
    const bool failed = std::ferror(f);
    std::fclose(f);
    if (failed) error = "cannot read " + path;
    return !failed;
}

bool WriteFileBytes(const std::string &path, const std::vector<uint8_t> &bytes, std::string &error) {
    FILE *f = std::fopen(path.c_str(), "wb");
    if (!f) {
        error = "cannot create " + path + ": " + std::strerror(errno);
        return false;
    }
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    if (std::fclose(f) != 0 || !ok) {
        error = "cannot write " + path;
        return false;
    }
    return true;
}

bool ReadAudio(const std::string &path, std::vector<int16_t> &samples, std::string &error) {
    std::vector<uint8_t> file;
    if (!ReadFileBytes(path, file, error)) return false;
    samples.clear();
    if (file.size() >= 4 && std::memcmp(file.data(), "RIFF", 4) == 0) {
        if (!ParseWav(file, samples, error)) {
            error = path + ": " + error;
            return false;
        }
    } else if (IsRawName(path)) {
        if (file.size() % 2) {
            error = path + ": raw PCM has an odd number of bytes";
            return false;
        }
        AppendSamples(file.data(), file.size(), samples);
    } else {
        error = path + ": not a WAV file (raw PCM must end in .pcm or .raw)";
        return false;
    }
    if (samples.empty()) {
        error = path + ": no samples";
        return false;
    }
    return true;
}

bool WriteAudio(const std::string &path, const std::vector<int16_t> &samples, std::string &error) {
    std::vector<uint8_t> out;
    const uint32_t dataBytes = static_cast<uint32_t>(2 * samples.size());
    if (!IsRawName(path)) {
        out.insert(out.end(), {'R', 'I', 'F', 'F'});
        PutLe32(out, 36 + dataBytes);
        out.insert(out.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
        PutLe32(out, 16);
        PutLe16(out, 1);
        PutLe16(out, 1);
        PutLe32(out, kSampleRate);
        PutLe32(out, 2 * kSampleRate);
        PutLe16(out, 2);
        PutLe16(out, 16);
        out.insert(out.end(), {'d', 'a', 't', 'a'});
        PutLe32(out, dataBytes);
    }
    for (int16_t s : samples) PutLe16(out, static_cast<uint16_t>(s));
    return WriteFileBytes(path, out, error);
}

}  // namespace voicetool
