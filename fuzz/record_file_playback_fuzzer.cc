// Arbitrary bytes as a record file opened into a port: after a valid file
// header (the first input byte picks the frame rate), padded to the shortest
// file accepted. The open (with its search for the picture size), every tick
// of reading to the end, and seeks.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "player/record_file_playback.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1) return 0;
    std::vector<uint8_t> file(32, 0);
    file[0] = 'K', file[1] = 'V', file[2] = 'R', file[3] = 'F';
    file[5] = static_cast<uint8_t>(1 + data[0] % 30);
    file[6] = 1;
    file.insert(file.end(), data + 1, data + size);
    if (file.size() < 16384) file.resize(16384, 0);

    const int fd = memfd_create("record", 0);
    if (fd < 0) return 0;
    if (write(fd, file.data(), file.size()) != static_cast<ssize_t>(file.size())) {
        close(fd);
        return 0;
    }
    const std::string path = "/proc/self/fd/" + std::to_string(fd);
    tessaly::player::RecordFilePlayback playback;
    if (playback.Open(path.c_str()) == KOVA_OK) {
        for (uint32_t seek : {0u, 500u, 999u, 1000u}) {
            playback.Seek(seek);
            for (int tick = 0; tick < 100000 && !playback.AtEnd(); ++tick) {
                tessaly::player::RecordFilePlayback::Record record;
                if (playback.ReadRecord(record) &&
                    (record.videoLength > tessaly::player::RecordFilePlayback::kMaxVideoBytes ||
                     record.audioLength > 4096))
                    __builtin_trap();
            }
            (void)playback.PlayingThousandths();
            (void)playback.PlayingSeconds();
        }
    }
    close(fd);
    return 0;
}
