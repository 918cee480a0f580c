// Window queries against a real X server (Xvfb under test.sh), and the
// answers without one; the guard that keeps a write to a dead X socket from
// ending the process.
#include <sys/socket.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <memory>

#include <gtest/gtest.h>

#include "platform/x11_windows.h"
#include "x_test_server.h"

using namespace tessaly::platform;

namespace {

// A second client that owns the test windows, as a host application would.
class HostClient {
public:
    HostClient() : c_(tessaly::testsupport::ConnectToTestServer()) {}
    ~HostClient() { xcb_disconnect(c_); }
    bool ok() const { return !xcb_connection_has_error(c_); }

    xcb_window_t CreateWindow(xcb_window_t parent, int16_t x, int16_t y, uint16_t w, uint16_t h) {
        const xcb_window_t id = xcb_generate_id(c_);
        xcb_create_window(c_, XCB_COPY_FROM_PARENT, id, parent ? parent : Root(), x, y, w, h, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0, nullptr);
        Sync();
        return id;
    }
    void Map(xcb_window_t w) { xcb_map_window(c_, w), Sync(); }
    void Unmap(xcb_window_t w) { xcb_unmap_window(c_, w), Sync(); }
    void Destroy(xcb_window_t w) { xcb_destroy_window(c_, w), Sync(); }
    xcb_window_t Root() { return xcb_setup_roots_iterator(xcb_get_setup(c_)).data->root; }

private:
    // A round trip makes the requests take effect before the library asks.
    void Sync() { free(xcb_get_input_focus_reply(c_, xcb_get_input_focus(c_), nullptr)); }
    xcb_connection_t *c_;
};

}  // namespace

TEST(X11Windows, AnswersForRealWindows) {
    ASSERT_NE(std::getenv("DISPLAY"), nullptr) << "run under an X server (test.sh uses Xvfb)";
    HostClient host;
    ASSERT_TRUE(host.ok());
    ASSERT_NE(SharedXConnection(), nullptr);

    const xcb_window_t top = host.CreateWindow(0, 40, 30, 320, 240);
    const xcb_window_t child = host.CreateWindow(top, 10, 20, 100, 50);
    EXPECT_TRUE(WindowExists(top));
    EXPECT_TRUE(WindowExists(child));
    EXPECT_FALSE(IsWindowViewable(top));

    host.Map(child);
    EXPECT_FALSE(IsWindowViewable(child)) << "a mapped child of an unmapped parent is not viewable";
    WindowState state = QueryWindowState(child);
    EXPECT_TRUE(state.exists);
    EXPECT_FALSE(state.viewable);
    host.Map(top);
    EXPECT_TRUE(IsWindowViewable(top));
    EXPECT_TRUE(IsWindowViewable(child));
    state = QueryWindowState(child);
    EXPECT_TRUE(state.viewable);
    EXPECT_EQ(state.width, 100u);
    EXPECT_EQ(state.height, 50u);

    WindowRect rect;
    ASSERT_TRUE(QueryWindowRect(child, rect));
    EXPECT_EQ(rect.x, 50);
    EXPECT_EQ(rect.y, 50);
    EXPECT_EQ(rect.width, 100u);
    EXPECT_EQ(rect.height, 50u);

    host.Unmap(top);
    EXPECT_FALSE(IsWindowViewable(child));
    host.Destroy(top);
    EXPECT_FALSE(WindowExists(top));
    EXPECT_FALSE(WindowExists(child));
    EXPECT_FALSE(QueryWindowRect(top, rect));
    EXPECT_FALSE(QueryWindowState(child).exists);

    EXPECT_FALSE(WindowExists(0));
    EXPECT_FALSE(WindowExists(0x7FFFFFFF));
    EXPECT_FALSE(WindowExists(0x100000000UL)) << "ids are 32-bit";
}

TEST(X11NoServer, EveryHandleIsNotAWindow) {
    ASSERT_NE(std::getenv("TESSALY_EXPECT_NO_X"), nullptr) << "runs with DISPLAY unset";
    EXPECT_EQ(SharedXConnection(), nullptr);
    WindowRect rect;
    for (unsigned long id : {1UL, 0x200001UL, 0x7FFFFFFFUL}) {
        EXPECT_FALSE(WindowExists(id));
        EXPECT_FALSE(IsWindowViewable(id));
        EXPECT_FALSE(QueryWindowRect(id, rect));
        EXPECT_FALSE(QueryWindowState(id).exists);
    }
}

// A write to a socket whose peer has gone raises SIGPIPE in the writing
// thread (the default action ends the process); under the guard it is
// dropped, and the thread's mask is as before afterwards.
TEST(SigpipeGuard, DropsTheSignalOfAWriteToADeadSocket) {
    int fds[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    close(fds[1]);
    sigset_t before;
    pthread_sigmask(SIG_SETMASK, nullptr, &before);
    for (int round = 0; round < 2; ++round) {
        const SigpipeGuard guard;
        EXPECT_EQ(write(fds[0], "x", 1), -1);
        EXPECT_EQ(errno, EPIPE);
    }
    sigset_t after, pending;
    pthread_sigmask(SIG_SETMASK, nullptr, &after);
    sigpending(&pending);
    EXPECT_EQ(sigismember(&pending, SIGPIPE), 0);
    EXPECT_EQ(sigismember(&after, SIGPIPE), sigismember(&before, SIGPIPE));
    close(fds[0]);
}
