// Writes a rectangle of what the X server shows on the root window to a
// binary PPM file, so tests can look at what a program really drew.
//
//   tessaly-x11-grab OUT.ppm X Y WIDTH HEIGHT
#include <xcb/xcb.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char **argv) {
    if (argc != 6) {
        std::fprintf(stderr, "usage: tessaly-x11-grab OUT.ppm X Y WIDTH HEIGHT\n");
        return 2;
    }
    xcb_connection_t *c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c)) {
        std::fprintf(stderr, "tessaly-x11-grab: cannot open display\n");
        return 1;
    }
    const xcb_setup_t *setup = xcb_get_setup(c);
    const xcb_screen_t *screen = xcb_setup_roots_iterator(setup).data;
    const int x = std::atoi(argv[2]), y = std::atoi(argv[3]), w = std::atoi(argv[4]), h = std::atoi(argv[5]);
    const xcb_get_image_cookie_t cookie = xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, screen->root, int16_t(x),
                                                        int16_t(y), uint16_t(w), uint16_t(h), ~0u);
    xcb_get_image_reply_t *image = xcb_get_image_reply(c, cookie, nullptr);
    // The test server's 24-bit screen keeps each pixel as a little-endian 0x00RRGGBB word.
    if (!image || image->depth != 24 || xcb_get_image_data_length(image) != w * h * 4 ||
        setup->image_byte_order != XCB_IMAGE_ORDER_LSB_FIRST) {
        std::fprintf(stderr, "tessaly-x11-grab: cannot read a 24-bit true-colour image\n");
        return 1;
    }
    const uint8_t *data = xcb_get_image_data(image);
    std::vector<uint8_t> rgb(static_cast<size_t>(w) * h * 3);
    for (size_t i = 0; i < rgb.size(); ++i) rgb[i] = data[i / 3 * 4 + 2 - i % 3];
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
