#include "recfile/record_format.h"

#include <cstring>

namespace tessaly::recfile {

namespace {

uint32_t Read32(const uint8_t *p) { return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24; }
uint16_t Read16(const uint8_t *p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

void Write32(uint8_t *p, uint32_t v) {
    for (int k = 0; k < 4; ++k) p[k] = static_cast<uint8_t>(v >> (8 * k));
}

}  // namespace

int32_t ParseFileHeader(const uint8_t *bytes, FileHeader *header) {
    if (std::memcmp(bytes, "KVRF", 4) != 0 || bytes[4] > 1 || bytes[5] < 1 || bytes[5] > 30 || bytes[6] != 1)
        return KOVA_ERR_FILE_HEADER;
    header->valueA = bytes[4];
    header->frameRate = bytes[5];
    header->valueB = bytes[6];
    header->audioFlag = bytes[7];
    header->width = Read16(bytes + 8);
    header->height = Read16(bytes + 10);
    header->audioValue = Read16(bytes + 12);
    header->lastTimeStamp = Read32(bytes + 14);
    header->decoderSelector = bytes[22];
    return KOVA_OK;
}

KOVA_RecordFileInfo MakeRecordFileInfo(const FileHeader &header) {
    KOVA_RecordFileInfo info{};
    info.version = 1;
    info.headerA = header.valueA;
    info.frameRate = header.frameRate;
    info.headerB = header.valueB;
    info.audioFlag = header.audioFlag;
    info.width = header.width;
    info.height = header.height;
    info.audioValue = header.audioValue;
    info.seconds = static_cast<uint16_t>(header.lastTimeStamp / header.frameRate);
    return info;
}

FrameHeader ParseFrameHeader(const uint8_t *bytes) {
    FrameHeader frame;
    const uint32_t info = Read32(bytes + 4);
    frame.sync = std::memcmp(bytes, kSyncBytes, 4) == 0;
    frame.keyFrame = (info & 3) == 1;
    frame.lengthField = (info >> 2) & 0x3FFFF;
    frame.videoLength = (uint32_t{bytes[12]} << 18) + frame.lengthField;
    frame.audioLength = info >> 20;
    frame.timeStamp = Read32(bytes + 8);
    return frame;
}

void WriteFrameHeader(uint8_t *bytes, bool keyFrame, uint32_t videoLength, uint32_t audioLength, uint32_t timeStamp) {
    std::memset(bytes, 0, kFrameHeaderBytes);
    std::memcpy(bytes, kSyncBytes, 4);
    Write32(bytes + 4, (keyFrame ? 1u : 0u) | (videoLength & 0x3FFFF) << 2 | audioLength << 20);
    Write32(bytes + 8, timeStamp);
    bytes[12] = static_cast<uint8_t>(videoLength >> 18);
}

}  // namespace tessaly::recfile
