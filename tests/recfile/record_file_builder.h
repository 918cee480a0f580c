// Builds record files for the reader tests and remembers where each record
// went. Payload, garbage and padding bytes are never 0, so no sync pattern
// appears where no record was written.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "recfile/record_format.h"
#include "tessaly/kova.h"

namespace tessaly::recfile {

struct RecordFileBuilder {
    struct Record {
        uint32_t offset;
        bool keyFrame;
        uint32_t videoLength, audioLength, timeStamp;
        uint32_t End() const { return offset + kFrameHeaderBytes + videoLength + audioLength; }
    };

    static constexpr uint32_t kLastTimeStamp = 750;  // 30 s at 25 frames per second

    std::vector<uint8_t> bytes;
    std::vector<Record> records;
    mutable std::vector<std::string> written;  // removed with the builder

    RecordFileBuilder() : bytes(kFileHeaderBytes) {
        std::memcpy(bytes.data(), "KVRF", 4);
        bytes[5] = 25;  // frame rate
        bytes[6] = 1;
        bytes[8] = 0x60, bytes[9] = 0x01;    // 352 wide
        bytes[10] = 0x20, bytes[11] = 0x01;  // 288 high
        bytes[14] = kLastTimeStamp & 0xFF, bytes[15] = kLastTimeStamp >> 8;
    }

    ~RecordFileBuilder() {
        for (const std::string &path : written) ::unlink(path.c_str());
    }

    uint32_t Size() const { return static_cast<uint32_t>(bytes.size()); }

    const Record &Add(bool keyFrame, uint32_t videoLength, uint32_t audioLength = 0) {
        const Record record{Size(), keyFrame, videoLength, audioLength, static_cast<uint32_t>(records.size() + 1)};
        bytes.resize(bytes.size() + kFrameHeaderBytes);
        WriteFrameHeader(&bytes[record.offset], keyFrame, videoLength, audioLength, record.timeStamp);
        for (uint32_t i = 0; i < videoLength + audioLength; ++i)
            bytes.push_back(static_cast<uint8_t>((record.offset + 13 * i) % 251 + 1));
        records.push_back(record);
        return records.back();
    }

    void Garbage(uint32_t count) { bytes.insert(bytes.end(), count, 0xAA); }
    void PadTo(uint32_t size) {
        if (Size() < size) bytes.resize(size, 0xEE);
    }

    std::string Write(const std::string &name) const {
        const std::string path = ::testing::TempDir() + "recfile_" + std::to_string(getpid()) + "_" + name;
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char *>(bytes.data()), bytes.size());
        written.push_back(path);
        return path;
    }

    // A record handed out must be the stored one, byte for byte.
    void ExpectRecord(const KOVA_RecordFrame &frame, const Record &record) const {
        EXPECT_EQ(frame.keyFrame, record.keyFrame ? 1u : 0u);
        ASSERT_EQ(frame.videoLength, record.videoLength);
        ASSERT_EQ(frame.audioLength, record.audioLength);
        ASSERT_EQ(frame.audio, frame.video + frame.videoLength);
        const uint8_t *stored = &bytes[record.offset + kFrameHeaderBytes];
        EXPECT_EQ(std::memcmp(frame.video, stored, record.videoLength + record.audioLength), 0);
        EXPECT_EQ(frame.progress, record.End() / (Size() / 1000));
    }
};

}  // namespace tessaly::recfile
