// The frame reader behind KOVA_ReadFile_*: hands out a record file's frame
// records one by one, without decoding, skipping damaged records by searching
// for the next frame header. One reader per slot; the slot's lock serialises
// the calls, the reader itself takes none.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>

#include "platform/page_block.h"
#include "platform/read_only_file.h"
#include "recfile/record_format.h"
#include "tessaly/kova.h"

namespace tessaly::recfile {

// A record's video and audio together never exceed this: larger totals are
// damage.
constexpr uint32_t kFrameBufferBytes = 524288;

class RecordReader {
public:
    bool IsOpen() const { return file_.IsOpen(); }

    // KOVA_OK, KOVA_ERR_ALREADY_OPEN, KOVA_ERR_FILE_OPEN, KOVA_ERR_FILE_SHORT,
    // KOVA_ERR_FILE_READ, KOVA_ERR_FILE_HEADER or KOVA_ERR_MISSING_OBJECT; on
    // any failure the reader is left closed.
    int32_t Open(const char *path, KOVA_RecordFileInfo *info);

    // The next record: KOVA_OK, KOVA_ERR_NOT_OPEN, KOVA_ERR_END_OF_FILE or
    // KOVA_ERR_FILE_READ (the reading moved 128 KiB on). The record's bytes
    // stay valid until the next call.
    int32_t NextFrame(KOVA_RecordFrame *frame);

    // Moves to thousandths (0..1000) of the file, then on to the next key
    // frame. KOVA_OK or KOVA_ERR_NOT_OPEN.
    int32_t SetReadPos(uint32_t thousandths);

    // Closing a closed reader does nothing.
    void Close();

    // The time stamp of the record last read or moved to, in frame periods.
    uint32_t TimeStamp() const { return timeStamp_; }

private:
    int32_t OpenFile(const char *path, KOVA_RecordFileInfo *info);
    // Reads 16 bytes at the read position into a frame header.
    int32_t ReadFrameHeader(FrameHeader *header);
    int32_t SkipReadError();
    uint32_t LastTimeStamp() const;

    platform::ReadOnlyFile file_;
    uint8_t fileHeader_[kFileHeaderBytes] = {};
    uint32_t position_ = 0;  // kept equal to the file's position
    uint32_t timeStamp_ = 0;
    // The header search's scratch too: a search always ends before a payload
    // is read into it.
    platform::PageBlock frame_;
};

struct ReaderSlot {
    std::mutex lock;
    RecordReader reader;
};

}  // namespace tessaly::recfile
