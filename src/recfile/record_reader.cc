#include "recfile/record_reader.h"

#include <cstring>
#include <new>

#include "recfile/header_search.h"

namespace tessaly::recfile {

static_assert(kSearchScratchBytes <= kFrameBufferBytes, "the frame buffer is the search's scratch");

int32_t RecordReader::Open(const char *path, KOVA_RecordFileInfo *info) {
    if (IsOpen()) return KOVA_ERR_ALREADY_OPEN;
    int32_t rc;
    try {
        rc = OpenFile(path, info);
    } catch (...) {
        rc = KOVA_ERR_MISSING_OBJECT;
    }
    if (rc != KOVA_OK) Close();
    return rc;
}

int32_t RecordReader::OpenFile(const char *path, KOVA_RecordFileInfo *info) {
    if (!file_.Open(path)) return KOVA_ERR_FILE_OPEN;
    if (file_.Length() < kMinFileBytes) return KOVA_ERR_FILE_SHORT;
    const int64_t got = file_.Read(fileHeader_, kFileHeaderBytes);
    if (got != kFileHeaderBytes) return KOVA_ERR_FILE_READ;
    position_ = kFileHeaderBytes;
    FileHeader header;
    if (ParseFileHeader(fileHeader_, &header) != KOVA_OK) return KOVA_ERR_FILE_HEADER;
    timeStamp_ = 0;
    frame_ = platform::AllocatePages(kFrameBufferBytes);
    if (!frame_) return KOVA_ERR_MISSING_OBJECT;
    *info = MakeRecordFileInfo(header);
    return KOVA_OK;
}

int32_t RecordReader::NextFrame(KOVA_RecordFrame *frame) {
    if (!IsOpen()) return KOVA_ERR_NOT_OPEN;
    const uint32_t length = file_.Length();
    if (position_ >= length) return KOVA_ERR_END_OF_FILE;
    FrameHeader header;
    if (const int32_t rc = ReadFrameHeader(&header); rc != KOVA_OK) return rc;
    if (!header.sync || header.videoLength + header.audioLength > kFrameBufferBytes) {
        // The found header's own time stamp becomes current only once its
        // record has been read.
        uint32_t foundTimeStamp = 0;
        switch (SearchFrameHeader(file_, position_, frame_.get(), SearchRule{false, false}, foundTimeStamp)) {
        case SearchOutcome::kEndOfFile: timeStamp_ = LastTimeStamp(); return KOVA_ERR_END_OF_FILE;
        case SearchOutcome::kReadError: return KOVA_ERR_FILE_READ;
        case SearchOutcome::kFound: break;
        }
        if (const int32_t rc = ReadFrameHeader(&header); rc != KOVA_OK) return rc;
    }
    // The search checks only the low 18 bits of the video length: byte 12 can
    // still make a found record too large for the buffer.
    const uint32_t total = header.videoLength + header.audioLength;
    if (total > kFrameBufferBytes) return KOVA_ERR_END_OF_FILE;
    const int64_t got = file_.Read(frame_.get(), total);
    if (got < 0) return SkipReadError();
    position_ += static_cast<uint32_t>(got);
    timeStamp_ = header.timeStamp;
    if (got < total) return KOVA_ERR_END_OF_FILE;

    frame->keyFrame = header.keyFrame ? 1 : 0;
    frame->video = frame_.get();
    frame->videoLength = header.videoLength;
    frame->audio = frame_.get() + header.videoLength;
    frame->audioLength = header.audioLength;
    frame->progress = position_ / (length / 1000);  // files are at least kMinFileBytes long
    return KOVA_OK;
}

int32_t RecordReader::SetReadPos(uint32_t thousandths) {
    if (!IsOpen()) return KOVA_ERR_NOT_OPEN;
    const uint32_t length = file_.Length();
    if (thousandths == 0) {
        position_ = kFileHeaderBytes;
    } else if (thousandths >= 1000) {
        position_ = length;  // the search below ends at once, at the last time stamp
    } else {
        position_ = length / 1000 * thousandths;
    }
    file_.Seek(position_);
    // Whether a key frame was found is not reported: without one the reader
    // stands at the end and the next read says so.
    if (SearchFrameHeader(file_, position_, frame_.get(), SearchRule{true, false}, timeStamp_) ==
        SearchOutcome::kEndOfFile)
        timeStamp_ = LastTimeStamp();
    return KOVA_OK;
}

void RecordReader::Close() {
    file_.Close();
    std::memset(fileHeader_, 0, sizeof fileHeader_);
    position_ = 0;
    timeStamp_ = 0;
    frame_.reset();
}

int32_t RecordReader::ReadFrameHeader(FrameHeader *header) {
    uint8_t bytes[kFrameHeaderBytes];
    const int64_t got = file_.Read(bytes, kFrameHeaderBytes);
    if (got < 0) return SkipReadError();
    position_ += static_cast<uint32_t>(got);
    if (got < kFrameHeaderBytes) return KOVA_ERR_END_OF_FILE;
    *header = ParseFrameHeader(bytes);
    return KOVA_OK;
}

// A damaged stretch of medium: step over it rather than fail on it forever.
int32_t RecordReader::SkipReadError() {
    file_.Seek(SkipOn(file_.Position()));
    position_ = SkipOn(position_);
    return KOVA_ERR_FILE_READ;
}

uint32_t RecordReader::LastTimeStamp() const {
    FileHeader header;
    ParseFileHeader(fileHeader_, &header);  // checked at open
    return header.lastTimeStamp;
}

}  // namespace tessaly::recfile
