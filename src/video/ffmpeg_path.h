// A port's FFmpeg path: the pictures of an FT stream, or of a record file that
// asks for FFmpeg, decoded by libavcodec instead of the library's own decoder.
//
// Each decoded picture is copied into the path's own compact planar 4:2:0
// picture (grown, outside the per-picture path, when a stream's pictures get
// larger), gets the port's text overlay there, and is handed to the port's
// decode worker for the callback and the window. A snapshot copies it, under
// the picture lock, into the path's snapshot picture, line-doubling the
// half-height pictures of D1 cameras.
//
// Decode runs on the port's worker thread with the DecoderLock held; the
// codec is opened and closed under the library-wide FFmpeg lock, taken after
// the DecoderLock. Snapshot runs on a host thread.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include "platform/page_block.h"
#include "video/ffmpeg_library.h"
#include "video/snapshot.h"

namespace tessaly::video {

class DecodeWorker;
class TextOverlay;

class FfmpegPath {
public:
    // The kind of a payload: H.264 when it begins 00 00 00 01, else Motion JPEG.
    static int KindOf(const uint8_t *data, uint32_t length);

    // Decodes one access unit or JPEG picture, opening the codec for its
    // kind (or switching to it); a picture that comes out is overlaid and
    // presented through the worker. Without FFmpeg nothing is shown.
    void Decode(const uint8_t *data, uint32_t length, TextOverlay *overlay, DecodeWorker &worker);

    // Converts the last picture for a bitmap: KOVA_OK, KOVA_ERR_NO_PICTURE
    // before the first one, or KOVA_ERR_MISSING_OBJECT.
    int32_t Snapshot(BitmapImage &image);

private:
    FfmpegDecoder decoder_;
    int kind_ = 0;
    std::mutex pictureLock_;  // the picture and its size, against snapshots
    platform::GrowingPageBlock picture_;
    platform::GrowingPageBlock snapshot_;
    uint32_t width_ = 0, height_ = 0;
};

}  // namespace tessaly::video
