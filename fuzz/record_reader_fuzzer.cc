// Arbitrary records behind a valid file header, through the frame reader: the
// input follows the header, zeros pad the file to at least 16384 bytes and to
// a search chunk past the input (a search finds headers in whole chunks only;
// each chunk more only costs runs), and the file is read to the end and from
// a few positions. The frame buffer is allocated at its exact size, so any
// read past it shows.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "recfile/header_search.h"
#include "recfile/record_reader.h"

namespace {

using namespace tessaly::recfile;

// Reads up to limit records; every one must fit the buffer and its bytes are
// touched at both ends.
void ReadOn(RecordReader &reader, uint32_t limit) {
    KOVA_RecordFrame frame{};
    for (uint32_t k = 0; k < limit; ++k) {
        const int32_t rc = reader.NextFrame(&frame);
        if (rc == KOVA_ERR_END_OF_FILE) return;
        if (rc != KOVA_OK) __builtin_trap();  // no read errors from memory
        const uint32_t total = frame.videoLength + frame.audioLength;
        if (total > kFrameBufferBytes || frame.audio != frame.video + frame.videoLength) __builtin_trap();
        if (total > 0) {
            volatile uint8_t ends = frame.video[0] ^ frame.video[total - 1];
            (void)ends;
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size > (1u << 20)) return 0;
    static const int fd = memfd_create("record_reader_fuzzer", MFD_CLOEXEC);
    static const std::string path = "/proc/self/fd/" + std::to_string(fd);
    if (fd < 0) __builtin_trap();

    const uint8_t header[kFileHeaderBytes] = {'K',  'V',  'R',  'F',  0, 25, 1,    0,
                                              0x60, 0x01, 0x20, 0x01, 0, 0,  0xEE, 0x02};
    const uint32_t length =
        std::max<uint32_t>(kMinFileBytes, kFileHeaderBytes + static_cast<uint32_t>(size) + kSearchChunkBytes);
    if (ftruncate(fd, 0) != 0 || pwrite(fd, header, sizeof header, 0) != sizeof header ||
        pwrite(fd, data, size, kFileHeaderBytes) != static_cast<ssize_t>(size) || ftruncate(fd, length) != 0)
        __builtin_trap();

    RecordReader reader;
    KOVA_RecordFileInfo info{};
    if (reader.Open(path.c_str(), &info) != KOVA_OK) __builtin_trap();
    // Every record read moves the reader on by at least a header.
    const uint32_t most = length / kFrameHeaderBytes + 1;
    ReadOn(reader, most);
    // Small inputs lie in the first tenth of the file.
    const uint32_t seeks[] = {0, size > 0 ? data[0] % 128u : 1u, 1000};
    for (const uint32_t thousandths : seeks) {
        if (reader.SetReadPos(thousandths) != KOVA_OK) __builtin_trap();
        ReadOn(reader, 2);
    }
    reader.Close();
    return 0;
}
