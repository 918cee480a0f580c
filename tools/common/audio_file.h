// 8 kHz mono 16-bit audio files for the tools: WAV (RIFF, PCM) or raw
// little-endian samples, chosen by content (a RIFF header) or by the .pcm/.raw
// name ending.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace voicetool {

// Reads the samples; on failure returns false with a one-line reason.
bool ReadAudio(const std::string &path, std::vector<int16_t> &samples, std::string &error);

// Writes WAV, or raw samples when the name ends in .pcm or .raw.
bool WriteAudio(const std::string &path, const std::vector<int16_t> &samples, std::string &error);

bool ReadFileBytes(const std::string &path, std::vector<uint8_t> &bytes, std::string &error);
bool WriteFileBytes(const std::string &path, const std::vector<uint8_t> &bytes, std::string &error);

}  // namespace voicetool
