#include "player/record_file_playback.h"

#include <new>

#include "h264dec/bitstream/sps_summary.h"
#include "recfile/header_search.h"

namespace tessaly::player {

using recfile::FrameHeader;

int32_t RecordFilePlayback::Open(const char *fileName) {
    if (!file_.Open(fileName)) return KOVA_ERR_FILE_OPEN;
    length_ = file_.Length();
    if (length_ < recfile::kMinFileBytes) {
        file_.Close();
        return KOVA_ERR_FILE_SHORT;
    }
    uint8_t bytes[recfile::kFileHeaderBytes];
    if (file_.Read(bytes, sizeof bytes) != sizeof bytes) {
        file_.Close();
        return KOVA_ERR_FILE_READ;
    }
    if (const int32_t rc = recfile::ParseFileHeader(bytes, &header_); rc != KOVA_OK) {
        file_.Close();
        return rc;
    }
    readBuffer_ = platform::AllocatePages(kReadBufferBytes);
    searchBuffer_ = platform::AllocatePages(recfile::kSearchScratchBytes);
    if (!readBuffer_ || !searchBuffer_) {
        file_.Close();
        throw std::bad_alloc();
    }
    ScanPictureSize();
    file_.Seek(recfile::kFileHeaderBytes);
    SetPosition(recfile::kFileHeaderBytes);
    frameStamp_.store(0, std::memory_order_relaxed);
    return KOVA_OK;
}

// The header's own size is what recorders wrote at start-up; the stream's
// first sequence parameter set says what the camera really sends (its coded
// size, all macroblock rows of a field-coded picture counted).
void RecordFilePlayback::ScanPictureSize() {
    uint64_t consumed = recfile::kFileHeaderBytes;
    while (consumed < length_) {
        uint8_t bytes[recfile::kFrameHeaderBytes];
        if (file_.Read(bytes, sizeof bytes) != sizeof bytes) return;
        const FrameHeader frame = recfile::ParseFrameHeader(bytes);
        if (!frame.sync || frame.videoLength > kMaxVideoBytes || frame.audioLength > recfile::kMaxAudioBytes) return;
        const uint32_t payload = frame.videoLength + frame.audioLength;
        if (payload == 0 || file_.Read(readBuffer_.get(), payload) != payload) return;
        consumed += sizeof bytes + payload;
        const uint8_t *video = readBuffer_.get();
        h264::SpsSummary sps;
        if (frame.videoLength >= 16 && video[0] == 0 && video[1] == 0 && video[2] == 0 && video[3] == 1 &&
            (video[4] & 0x1F) == 7 && h264::ParseSpsSummary(video + 4, frame.videoLength - 4, &sps)) {
            header_.width = static_cast<uint16_t>(sps.codedWidth);
            header_.height = static_cast<uint16_t>(sps.codedHeight);
            return;
        }
    }
}

void RecordFilePlayback::SkipReadError() {
    file_.Seek(recfile::SkipOn(file_.Position()));
    SetPosition(recfile::SkipOn(Position()));
}

bool RecordFilePlayback::ReadRecord(Record &record) {
    if (AtEnd()) return false;
    uint8_t bytes[recfile::kFrameHeaderBytes];
    const int64_t got = file_.Read(bytes, sizeof bytes);
    if (got < 0) {
        SkipReadError();
        return false;
    }
    SetPosition(Position() + static_cast<uint32_t>(got));
    if (got < static_cast<int64_t>(sizeof bytes)) return false;

    const FrameHeader frame = recfile::ParseFrameHeader(bytes);
    if (!frame.sync || frame.videoLength > kMaxVideoBytes || frame.audioLength > recfile::kMaxAudioBytes) {
        Resync(false);
        return false;
    }
    const uint32_t payload = frame.videoLength + frame.audioLength;
    if (payload == 0) return false;
    const int64_t read = file_.Read(readBuffer_.get(), payload);
    if (read < 0) {
        SkipReadError();
        return false;
    }
    SetPosition(Position() + static_cast<uint32_t>(read));
    frameStamp_.store(frame.timeStamp, std::memory_order_relaxed);
    if (read < payload) return false;
    record = {readBuffer_.get(), frame.videoLength, readBuffer_.get() + frame.videoLength, frame.audioLength};
    return true;
}

bool RecordFilePlayback::Resync(bool keyFramesOnly) {
    uint32_t position = Position();
    if (position >= length_) {
        SetPosition(length_);
        frameStamp_.store(header_.lastTimeStamp, std::memory_order_relaxed);
        return false;
    }
    uint32_t stamp = 0;
    const auto outcome = recfile::SearchFrameHeader(file_, position, searchBuffer_.get(), {keyFramesOnly, true}, stamp);
    SetPosition(position);
    if (outcome == recfile::SearchOutcome::kFound) frameStamp_.store(stamp, std::memory_order_relaxed);
    if (outcome == recfile::SearchOutcome::kEndOfFile)
        frameStamp_.store(header_.lastTimeStamp, std::memory_order_relaxed);
    return outcome == recfile::SearchOutcome::kFound;
}

void RecordFilePlayback::Seek(uint32_t thousandths) {
    uint32_t offset = length_ / 1000 * thousandths;
    if (thousandths == 0) offset = recfile::kFileHeaderBytes;
    if (thousandths >= 1000) {
        offset = length_;
        frameStamp_.store(header_.lastTimeStamp, std::memory_order_relaxed);
    }
    SetPosition(offset);
    file_.Seek(offset);
    Resync(true);
}

void RecordFilePlayback::RewindIfAtEnd() {
    if (!AtEnd()) return;
    file_.Seek(recfile::kFileHeaderBytes);
    SetPosition(recfile::kFileHeaderBytes);
}

}  // namespace tessaly::player
