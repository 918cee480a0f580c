#include "video/x11_pixel_format.h"

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>

namespace tessaly::video {
namespace {

struct FreeDeleter {
    void operator()(void *p) const { std::free(p); }
};
template <typename T>
using Reply = std::unique_ptr<T, FreeDeleter>;

const xcb_visualtype_t *FindVisual(const xcb_setup_t *setup, xcb_visualid_t id) {
    for (auto screens = xcb_setup_roots_iterator(setup); screens.rem; xcb_screen_next(&screens))
        for (auto depths = xcb_screen_allowed_depths_iterator(screens.data); depths.rem; xcb_depth_next(&depths))
            for (auto visuals = xcb_depth_visuals_iterator(depths.data); visuals.rem; xcb_visualtype_next(&visuals))
                if (visuals.data->visual_id == id) return visuals.data;
    return nullptr;
}

const xcb_format_t *FindPixmapFormat(const xcb_setup_t *setup, uint8_t depth) {
    for (auto formats = xcb_setup_pixmap_formats_iterator(setup); formats.rem; xcb_format_next(&formats))
        if (formats.data->depth == depth) return formats.data;
    return nullptr;
}

// The scaler's name for a channel layout; channel masks are in pixel values,
// so the memory order depends on the server's byte order.
AVPixelFormat ScalerFormat(uint8_t bitsPerPixel, const xcb_visualtype_t &visual, bool lsbFirst) {
    const uint32_t r = visual.red_mask, g = visual.green_mask, b = visual.blue_mask;
    if (bitsPerPixel == 32 && g == 0x00ff00) {
        if (r == 0xff0000 && b == 0x0000ff) return lsbFirst ? AV_PIX_FMT_BGR0 : AV_PIX_FMT_0RGB;
        if (r == 0x0000ff && b == 0xff0000) return lsbFirst ? AV_PIX_FMT_RGB0 : AV_PIX_FMT_0BGR;
    }
    if (bitsPerPixel == 24 && g == 0x00ff00) {
        if (r == 0xff0000 && b == 0x0000ff) return lsbFirst ? AV_PIX_FMT_BGR24 : AV_PIX_FMT_RGB24;
        if (r == 0x0000ff && b == 0xff0000) return lsbFirst ? AV_PIX_FMT_RGB24 : AV_PIX_FMT_BGR24;
    }
    if (bitsPerPixel == 16 && r == 0xf800 && g == 0x07e0 && b == 0x001f)
        return lsbFirst ? AV_PIX_FMT_RGB565LE : AV_PIX_FMT_RGB565BE;
    return AV_PIX_FMT_NONE;
}

}  // namespace

WindowPixelFormat QueryWindowPixelFormat(xcb_connection_t *connection, uint32_t window) {
    WindowPixelFormat format;
    const auto attributesCookie = xcb_get_window_attributes(connection, window);
    const auto geometryCookie = xcb_get_geometry(connection, window);
    Reply<xcb_get_window_attributes_reply_t> attributes(
        xcb_get_window_attributes_reply(connection, attributesCookie, nullptr));
    Reply<xcb_get_geometry_reply_t> geometry(xcb_get_geometry_reply(connection, geometryCookie, nullptr));
    if (!attributes || !geometry) return format;

    const xcb_setup_t *setup = xcb_get_setup(connection);
    const xcb_visualtype_t *visual = FindVisual(setup, attributes->visual);
    const xcb_format_t *pixmap = FindPixmapFormat(setup, geometry->depth);
    if (!visual || !pixmap || visual->_class != XCB_VISUAL_CLASS_TRUE_COLOR) return format;
    if (pixmap->bits_per_pixel % 8 != 0 || pixmap->scanline_pad % 8 != 0 || pixmap->scanline_pad == 0) return format;

    const bool lsbFirst = setup->image_byte_order == XCB_IMAGE_ORDER_LSB_FIRST;
    format.scalerFormat = ScalerFormat(pixmap->bits_per_pixel, *visual, lsbFirst);
    format.depth = geometry->depth;
    format.bytesPerPixel = static_cast<uint8_t>(pixmap->bits_per_pixel / 8);
    format.scanlinePadBytes = static_cast<uint8_t>(pixmap->scanline_pad / 8);
    return format;
}

}  // namespace tessaly::video
