#include "video/ffmpeg_path.h"

#include <cstring>

#include "tessaly/kova.h"
#include "video/decode_worker.h"
#include "video/plane_copy.h"
#include "video/text_overlay.h"

namespace tessaly::video {

int FfmpegPath::KindOf(const uint8_t *data, uint32_t length) {
    return length >= 4 && data[0] == 0 && data[1] == 0 && data[2] == 0 && data[3] == 1 ? kFfmpegH264 : kFfmpegMjpeg;
}

void FfmpegPath::Decode(const uint8_t *data, uint32_t length, TextOverlay *overlay, DecodeWorker &worker) {
    const int kind = KindOf(data, length);
    if (kind != kind_ || !decoder_.IsOpen()) {
        kind_ = kind;
        if (!decoder_.Open(kind)) return;
    }
    const auto started = PictureCounters::Clock::now();
    const std::optional<FfmpegPicture> decoded = decoder_.Decode(data, length);
    worker.Counters().DecodeTime(PictureCounters::Clock::now() - started);
    if (!decoded || decoded->width <= 0 || decoded->height <= 0) return;
    worker.Counters().Decoded(false);
    // Odd sizes keep their last column and row out: the picture is 4:2:0 of
    // whole chroma samples, as the callback's size says.
    const uint32_t width = static_cast<uint32_t>(decoded->width) & ~1u;
    const uint32_t height = static_cast<uint32_t>(decoded->height) & ~1u;
    if (width == 0 || height == 0) return;
    const size_t area = size_t{width} * height;
    {
        std::lock_guard<std::mutex> lock(pictureLock_);
        uint8_t *y = picture_.Hold(area * 3 / 2);  // a larger stream: grows once
        if (!y) return;
        CopyPlanePacked(y, decoded->y, decoded->yStride, width, height);
        CopyPlanePacked(y + area, decoded->u, decoded->uvStride, width / 2, height / 2);
        CopyPlanePacked(y + area * 5 / 4, decoded->v, decoded->uvStride, width / 2, height / 2);
        width_ = width;
        height_ = height;
        if (overlay) overlay->Render(y, width, height);
    }
    // Only this thread writes the picture, so it stays intact without the lock.
    worker.PresentPicture(picture_.Data(), width, height);
}

int32_t FfmpegPath::Snapshot(BitmapImage &image) {
    std::lock_guard<std::mutex> lock(pictureLock_);
    if (width_ == 0) return KOVA_ERR_NO_PICTURE;
    const uint32_t w = width_, h = height_;
    // The half-height pictures of D1 cameras (704 or more wide, at most 288
    // rows) are line-doubled, so the bitmap has the picture's proportions.
    const bool doubled = w >= 704 && h <= 288;
    const uint32_t rows = doubled ? 2 * h : h;
    const size_t area = size_t{w} * rows;
    const uint8_t *from = picture_.Data();
    uint8_t *to = snapshot_.Hold(area * 3 / 2);
    if (!to) return KOVA_ERR_MISSING_OBJECT;
    const auto copy = [&](const uint8_t *plane, uint8_t *out, uint32_t width, uint32_t height) {
        for (uint32_t row = 0; row < height; ++row) {
            const uint8_t *line = plane + size_t{row} * width;
            if (doubled) {
                std::memcpy(out + size_t{2 * row} * width, line, width);
                std::memcpy(out + size_t{2 * row + 1} * width, line, width);
            } else {
                std::memcpy(out + size_t{row} * width, line, width);
            }
        }
    };
    const size_t sourceArea = size_t{w} * h;
    copy(from, to, w, h);
    copy(from + sourceArea, to + area, w / 2, h / 2);
    copy(from + sourceArea * 5 / 4, to + area * 5 / 4, w / 2, h / 2);
    return image.Convert({to, to + area, to + area * 5 / 4, w, w / 2, w, rows});
}

}  // namespace tessaly::video
