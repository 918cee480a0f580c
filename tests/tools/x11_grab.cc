// Writes what the X server shows on the root window (or a rectangle of it)
// to a binary PPM file, so tests can look at what a program really drew.
//
//   tessaly-x11-grab OUT.ppm [X Y WIDTH HEIGHT]
#include <xcb/xcb.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

int ShiftOf(uint32_t mask) {
    int shift = 0;
    while (mask && !(mask & 1)) {
        mask >>= 1;
        ++shift;
    }
    return shift;
}

const xcb_visualtype_t *FindVisual(const xcb_screen_t *screen) {
    for (auto depths = xcb_screen_allowed_depths_iterator(screen); depths.rem; xcb_depth_next(&depths)) {
        for (auto visuals = xcb_depth_visuals_iterator(depths.data); visuals.rem; xcb_visualtype_next(&visuals)) {
            if (visuals.data->visual_id == screen->root_visual) return visuals.data;
        }
    }
    return nullptr;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 2 && argc != 6) {
        std::fprintf(stderr, "usage: tessaly-x11-grab OUT.ppm [X Y WIDTH HEIGHT]\n");
        return 2;
    }
    xcb_connection_t *c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c)) {
        std::fprintf(stderr, "tessaly-x11-grab: cannot open display\n");
        return 1;
    }
    const xcb_setup_t *setup = xcb_get_setup(c);
    const xcb_screen_t *screen = xcb_setup_roots_iterator(setup).data;
    int x = 0, y = 0, w = screen->width_in_pixels, h = screen->height_in_pixels;
    if (argc == 6) {
        x = std::atoi(argv[2]), y = std::atoi(argv[3]), w = std::atoi(argv[4]), h = std::atoi(argv[5]);
    }
    const xcb_visualtype_t *visual = FindVisual(screen);
    xcb_get_image_reply_t *image = xcb_get_image_reply(
        c,
        xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, screen->root, static_cast<int16_t>(x), static_cast<int16_t>(y),
                      static_cast<uint16_t>(w), static_cast<uint16_t>(h), ~0u),
        nullptr);
    if (!image || !visual || image->depth < 24 || setup->image_byte_order != XCB_IMAGE_ORDER_LSB_FIRST) {
        std::fprintf(stderr, "tessaly-x11-grab: cannot read a 24-bit true-colour image\n");
        return 1;
    }
    const int length = xcb_get_image_data_length(image);
    const uint8_t *data = xcb_get_image_data(image);
    const int bytesPerPixel = length / (w * h);  // 4 on a 24-bit screen
    const int rs = ShiftOf(visual->red_mask), gs = ShiftOf(visual->green_mask), bs = ShiftOf(visual->blue_mask);
    std::vector<uint8_t> rgb(static_cast<size_t>(w) * h * 3);
    for (int i = 0; i < w * h && bytesPerPixel >= 3; ++i) {
        uint32_t pixel = 0;
        for (int b = 0; b < bytesPerPixel; ++b) pixel |= static_cast<uint32_t>(data[i * bytesPerPixel + b]) << (8 * b);
        rgb[i * 3 + 0] = static_cast<uint8_t>((pixel & visual->red_mask) >> rs);
        rgb[i * 3 + 1] = static_cast<uint8_t>((pixel & visual->green_mask) >> gs);
        rgb[i * 3 + 2] = static_cast<uint8_t>((pixel & visual->blue_mask) >> bs);
    }
    std::FILE *out = std::fopen(argv[1], "wb");
    if (!out) {
        std::fprintf(stderr, "tessaly-x11-grab: cannot create %s\n", argv[1]);
        return 1;
    }
    std::fprintf(out, "P6\n%d %d\n255\n", w, h);
    const bool ok = std::fwrite(rgb.data(), 1, rgb.size(), out) == rgb.size();
    std::fclose(out);
    std::free(image);
    xcb_disconnect(c);
    return ok ? 0 : 1;
}
