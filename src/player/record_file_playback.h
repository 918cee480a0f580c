// The file side of a file port: the open record file, its header, the
// position of the next record and the time stamp of the last one read, and
// the reading of one record per tick with the search for the next frame
// header after a seek or a damaged record.
//
// The port's worker reads records and host threads seek, both under the
// port's QueueLock; the position, the frame stamp and the length are also
// read without it (the timer's tick, the queries), so they are atomic.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "platform/page_block.h"
#include "platform/read_only_file.h"
#include "recfile/record_format.h"

namespace tessaly::player {

class RecordFilePlayback {
public:
    // A record's video may take this much, its audio 4096 bytes.
    static constexpr uint32_t kMaxVideoBytes = 393216;
    static constexpr uint32_t kReadBufferBytes = kMaxVideoBytes + 4096;

    // Opens and checks the file and finds the picture size in its first
    // sequence parameter set: KOVA_OK, KOVA_ERR_FILE_OPEN, KOVA_ERR_FILE_SHORT,
    // KOVA_ERR_FILE_READ or KOVA_ERR_FILE_HEADER. Stands at the first record.
    int32_t Open(const char *fileName);

    // The header, with the picture size of the first sequence parameter set
    // when one was found.
    const recfile::FileHeader &Header() const { return header_; }
    uint32_t Length() const { return length_; }
    uint32_t Position() const { return position_.load(std::memory_order_relaxed); }
    bool AtEnd() const { return Position() >= length_; }

    struct Record {
        const uint8_t *video = nullptr;
        uint32_t videoLength = 0;
        const uint8_t *audio = nullptr;
        uint32_t audioLength = 0;
    };
    // Under the QueueLock: reads the next record into the read buffer. False
    // when this tick shows nothing: the end, a short read, a read error (the
    // reading moves 128 KiB on), an empty record, or a damaged one (the
    // position moves to the next frame header instead). The record stays
    // valid until the next call; only the port's worker calls this.
    bool ReadRecord(Record &record);

    // Under the QueueLock: positions at thousandths of the file (0: the first
    // record, 1000: the end) and on to the next key frame's header, or to the
    // end when there is none.
    void Seek(uint32_t thousandths);
    // Under the QueueLock: back to the first record when at the end.
    void RewindIfAtEnd();

    // Thousandths of the file read so far (above 1000 near the end of a file
    // whose length is not a multiple of 1000) and the seconds of the last
    // record read.
    uint32_t PlayingThousandths() const { return Position() / (length_ / 1000); }
    uint32_t PlayingSeconds() const { return frameStamp_.load(std::memory_order_relaxed) / header_.frameRate; }

private:
    void ScanPictureSize();
    // Moves the position to the next frame header (any, or a key frame).
    bool Resync(bool keyFramesOnly);
    void SkipReadError();
    void SetPosition(uint32_t offset) { position_.store(offset, std::memory_order_relaxed); }

    platform::ReadOnlyFile file_;
    recfile::FileHeader header_;
    uint32_t length_ = 0;
    std::atomic<uint32_t> position_{0};
    std::atomic<uint32_t> frameStamp_{0};
    platform::PageBlock readBuffer_;
    platform::PageBlock searchBuffer_;  // apart from the read buffer, which a decode may be using
};

}  // namespace tessaly::player
