/*
 * minimal_host.c - the smallest host of libtessaly: one live stream port
 * drawing into an XCB window, fed from a .264 file at 25 frames per second,
 * a snapshot after two seconds and the port's counters at the end.
 *
 *   minimal_host STREAM.264 [SNAPSHOT.bmp [SECONDS]]
 *
 * Without $DISPLAY (or when the X server cannot be reached) the port gets
 * window 0: it decodes and counts, but draws nothing. A key press in the
 * window ends the run early.
 */
#define _POSIX_C_SOURCE 200809L
#include <stdio.h>
#include <stdlib.h>
#include <time.h>
#include <xcb/xcb.h>

#include <tessaly/kova_stats.h>

#include "example_support.h"

enum { kPort = 0, kFramesPerSecond = 25, kSnapshotFrame = 2 * kFramesPerSecond };

/* A window of the stream's size; the library scales pictures to whatever size it has. */
static xcb_window_t CreateWindow(xcb_connection_t *connection) {
    xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    xcb_window_t window = xcb_generate_id(connection);
    uint32_t values[2] = {screen->black_pixel, XCB_EVENT_MASK_KEY_PRESS};
    xcb_create_window(connection, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, 704, 576, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, XCB_CW_BACK_PIXEL | XCB_CW_EVENT_MASK,
                      values);
    xcb_map_window(connection, window);
    /* A round trip: the library checks the id on its own connection, so the window must exist by then. */
    free(xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), NULL));
    return window;
}

static int KeyPressed(xcb_connection_t *connection) {
    xcb_generic_event_t *event;
    int pressed = 0;
    while (connection && (event = xcb_poll_for_event(connection)) != NULL) {
        pressed |= (event->response_type & 0x7f) == XCB_KEY_PRESS;
        free(event);
    }
    return pressed;
}

int main(int argc, char **argv) {
    const char *snapshot = argc > 2 ? argv[2] : "./snapshot.bmp";
    long frameLimit = argc > 3 ? atol(argv[3]) * kFramesPerSecond : -1;
    xcb_connection_t *connection = NULL;
    xcb_window_t window = 0;
    AnnexBStream stream;
    const uint8_t *unit;
    size_t length;
    long frame = 0, refused = 0, wait;
    uint32_t capacity, fill;
    struct timespec due, pause = {0, 20000000L};
    KOVA_PortStatistics stats = {.size = sizeof(KOVA_PortStatistics)};
    int32_t result;

    if (argc < 2 || argc > 4) {
        fprintf(stderr, "usage: minimal_host STREAM.264 [SNAPSHOT.bmp [SECONDS]]\n");
        return 2;
    }
    if (LoadAnnexBStream(argv[1], &stream) != 0) {
        fprintf(stderr, "minimal_host: cannot read %s\n", argv[1]);
        return 1;
    }
    if (getenv("DISPLAY")) connection = xcb_connect(NULL, NULL);
    if (connection && xcb_connection_has_error(connection)) {
        xcb_disconnect(connection);
        connection = NULL;
    }
    if (connection) window = CreateWindow(connection);
    if (!window) printf("no X display: playing without a window\n");

    KOVA_Init();
    /* Stream kind 1: a 32 ms display tick, a little faster than the 40 ms the frames come at. */
    result = KOVA_OpenStreamEx(kPort, window, 1, 0, NULL, 0);
    if (result != KOVA_OK) {
        ReportFailure("minimal_host", NULL, "KOVA_OpenStreamEx", result);
        KOVA_DeInit();
        return 1;
    }
    clock_gettime(CLOCK_MONOTONIC, &due);
    while (frame != frameLimit && NextAccessUnit(&stream, &unit, &length) && !KeyPressed(connection)) {
        result = KOVA_AddStreamFrame(kPort, KOVA_FRAME_VIDEO, unit, (uint32_t)length);
        /* A full buffer drops the frame; the port itself waits for the next key frame. */
        if (result == KOVA_ERR_BUFFER_FULL)
            ++refused;
        else if (result != KOVA_OK)
            ReportFailure("minimal_host", NULL, "KOVA_AddStreamFrame", result);
        if (++frame == kSnapshotFrame) {
            result = KOVA_Snapshot(kPort, snapshot);
            if (result == KOVA_OK)
                printf("snapshot: %s\n", snapshot);
            else
                ReportFailure("minimal_host", NULL, "KOVA_Snapshot", result);
        }
        due.tv_nsec += 1000000000L / kFramesPerSecond;
        if (due.tv_nsec >= 1000000000L) {
            due.tv_nsec -= 1000000000L;
            ++due.tv_sec;
        }
        clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &due, NULL);
    }

    /* Let the port decode what it was given, for at most two seconds; the last picture stays unseen,
     * waiting for a frame that does not come. */
    for (wait = 0; wait < 100 && KOVA_GetStreamBufInfo(kPort, &capacity, &fill) == KOVA_OK && fill > 0; ++wait)
        nanosleep(&pause, NULL);
    nanosleep(&pause, NULL);
    result = KOVA_GetPortStatistics(kPort, &stats);
    if (result == KOVA_OK) {
        printf("framesSent=%ld refusedBufferFull=%ld\n", frame, refused);
        printf("framesReceived=%u framesRefused=%u picturesDecoded=%u picturesShown=%u damagedPictures=%u\n",
               stats.framesReceived, stats.framesRefused, stats.picturesDecoded, stats.picturesShown,
               stats.damagedPictures);
        printf("width=%u height=%u bufferFill=%u bufferCapacity=%u decodeMicrosAverage=%u framesPerSecond=%.2f\n",
               stats.width, stats.height, stats.bufferFill, stats.bufferCapacity, stats.decodeMicrosAverage,
               stats.framesPerSecond100 / 100.0);
    } else {
        ReportFailure("minimal_host", NULL, "KOVA_GetPortStatistics", result);
    }
    KOVA_Close(kPort);
    KOVA_DeInit();
    if (connection) xcb_disconnect(connection);
    free(stream.data);
    return 0;
}
