// A raw-picture port reads all three planes of the host's picture, so a length
// that covers the luma plane and part of the chroma is refused, not overread.
#include <xcb/xcb.h>

#include <cstdlib>
#include <vector>

#include <gtest/gtest.h>

#include "tessaly/kova.h"
#include "x_test_server.h"

TEST(RawPicturePort, LengthMustCoverBothChromaPlanes) {
    ASSERT_NE(std::getenv("DISPLAY"), nullptr) << "run under an X server (test.sh uses Xvfb)";
    xcb_connection_t *c = tessaly::testsupport::ConnectToTestServer();
    ASSERT_FALSE(xcb_connection_has_error(c));
    const xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    const xcb_window_t window = xcb_generate_id(c);
    ASSERT_EQ(
        xcb_request_check(c, xcb_create_window_checked(c, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, 64, 64, 0,
                                                       XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, 0, nullptr)),
        nullptr);

    ASSERT_EQ(KOVA_Init(), KOVA_OK);
    ASSERT_EQ(KOVA_YUV_Open(5, window), KOVA_OK);
    const uint32_t w = 64, h = 48, length = w * h * 3 / 2;
    const std::vector<uint8_t> picture(length, 128);
    EXPECT_EQ(KOVA_YUV_Show(5, 1, picture.data(), length - 1, w, h), KOVA_ERR_INVALID_ARGUMENT);
    EXPECT_EQ(KOVA_YUV_Show(5, 1, picture.data(), length, w, h), KOVA_OK);
    EXPECT_EQ(KOVA_YUV_Close(5), KOVA_OK);
    EXPECT_EQ(KOVA_DeInit(), KOVA_OK);
    xcb_destroy_window(c, window);
    xcb_disconnect(c);
}
