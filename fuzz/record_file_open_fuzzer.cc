// Arbitrary bytes as a whole record file, header included, through both opens:
// the frame reader's (KOVA_ReadFile_*) and the file port's (with its search
// for the picture size). The first input byte says whether the magic is
// written over the input and whether the file is padded to the shortest
// length accepted; the rest is the file. Whatever the header holds, an open
// either refuses it with its code or leaves a reader whose first records fit
// their buffers.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "player/record_file_playback.h"
#include "recfile/record_format.h"
#include "recfile/record_reader.h"

namespace {

using namespace tessaly;

constexpr int kRecordsRead = 8;

bool HeaderAccepted(const std::vector<uint8_t> &file) {
    return file.size() >= recfile::kMinFileBytes && std::memcmp(file.data(), "KVRF", 4) == 0 && file[4] <= 1 &&
           file[5] >= 1 && file[5] <= 30 && file[6] == 1;
}

void OpenReader(const char *path, const std::vector<uint8_t> &file) {
    recfile::RecordReader reader;
    KOVA_RecordFileInfo info{};
    const int32_t rc = reader.Open(path, &info);
    if (rc != KOVA_OK) {
        if (reader.IsOpen() || HeaderAccepted(file)) __builtin_trap();
        return;
    }
    if (!HeaderAccepted(file) || info.frameRate != file[5]) __builtin_trap();
    KOVA_RecordFrame frame{};
    for (int k = 0; k < kRecordsRead && reader.NextFrame(&frame) == KOVA_OK; ++k)
        if (frame.videoLength + frame.audioLength > recfile::kFrameBufferBytes) __builtin_trap();
    reader.Close();
}

void OpenPlayback(const char *path, const std::vector<uint8_t> &file) {
    player::RecordFilePlayback playback;
    const int32_t rc = playback.Open(path);
    if ((rc == KOVA_OK) != HeaderAccepted(file)) __builtin_trap();
    if (rc != KOVA_OK) return;
    if (playback.Header().frameRate != file[5] || playback.Length() != file.size()) __builtin_trap();
    for (int k = 0; k < kRecordsRead && !playback.AtEnd(); ++k) {
        player::RecordFilePlayback::Record record;
        if (playback.ReadRecord(record) && (record.videoLength > player::RecordFilePlayback::kMaxVideoBytes ||
                                            record.audioLength > recfile::kMaxAudioBytes))
            __builtin_trap();
    }
    (void)playback.PlayingSeconds();
    (void)playback.PlayingThousandths();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1 || size > (1u << 20)) return 0;
    static const int fd = memfd_create("record_file_open_fuzzer", MFD_CLOEXEC);
    static const std::string path = "/proc/self/fd/" + std::to_string(fd);
    if (fd < 0) __builtin_trap();

    const uint8_t how = data[0];
    std::vector<uint8_t> file(data + 1, data + size);
    if ((how & 1) && file.size() >= 4) std::memcpy(file.data(), "KVRF", 4);
    if ((how & 2) && file.size() < recfile::kMinFileBytes) file.resize(recfile::kMinFileBytes, 0);
    if (ftruncate(fd, 0) != 0 ||
        (!file.empty() && pwrite(fd, file.data(), file.size(), 0) != static_cast<ssize_t>(file.size())))
        __builtin_trap();

    OpenReader(path.c_str(), file);
    OpenPlayback(path.c_str(), file);
    return 0;
}
