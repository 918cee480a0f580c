// The record file format: a 32-byte file header, then frame records, each a
// 16-byte frame header, the frame's H.264 bytes and its voice frames. All
// values little-endian. The library reads these files and never writes them;
// tessaly-rec writes them with the same definitions.
//
// File header:
//   0  4  "KVRF"
//   4  1  value A, 0 or 1
//   5  1  frame rate, 1..30 frames per second
//   6  1  value B, 1
//   7  1  audio flag (non-zero: records carry voice frames)
//   8  2  picture width     10  2  picture height
//  12  2  audio value (sound is played when the flag is set and this is > 0)
//  14  4  time stamp of the last frame, in frame periods (unaligned)
//  22  1  decoder selector (non-zero: decode through FFmpeg)
//
// Frame header:
//   0  4  sync 00 00 00 07
//   4  4  info: bits 0-1 frame kind (1: key frame), bits 2-19 the low 18 bits
//         of the video length, bits 20-31 the audio length (0..4095)
//   8  4  time stamp, in frame periods
//  12  1  bits 18-25 of the video length
#pragma once

#include <cstdint>

#include "tessaly/kova.h"

namespace tessaly::recfile {

constexpr uint32_t kFileHeaderBytes = 32;
constexpr uint32_t kFrameHeaderBytes = 16;
constexpr uint32_t kMinFileBytes = 16384;  // shorter files are refused whatever they hold
constexpr uint8_t kSyncBytes[4] = {0x00, 0x00, 0x00, 0x07};
constexpr uint32_t kSearchLengthLimit = 0x60000;  // a found header's 18-bit length field is below this
constexpr uint32_t kMaxAudioBytes = 4096;

struct FileHeader {
    uint8_t valueA = 0, frameRate = 0, valueB = 0, audioFlag = 0;
    uint16_t width = 0, height = 0, audioValue = 0;
    uint32_t lastTimeStamp = 0;
    uint8_t decoderSelector = 0;
};

// KOVA_OK, or KOVA_ERR_FILE_HEADER for a wrong magic, value A, frame rate or
// value B.
int32_t ParseFileHeader(const uint8_t *bytes, FileHeader *header);

// The record handed to the host for a file.
KOVA_RecordFileInfo MakeRecordFileInfo(const FileHeader &header);

struct FrameHeader {
    bool sync = false;
    bool keyFrame = false;
    uint32_t lengthField = 0;  // bits 2-19 of the info word
    uint32_t videoLength = 0;
    uint32_t audioLength = 0;
    uint32_t timeStamp = 0;
};

FrameHeader ParseFrameHeader(const uint8_t *bytes);

// Writes a frame header (for tools and tests); videoLength below 2^26,
// audioLength below 4096.
void WriteFrameHeader(uint8_t *bytes, bool keyFrame, uint32_t videoLength, uint32_t audioLength, uint32_t timeStamp);

}  // namespace tessaly::recfile
