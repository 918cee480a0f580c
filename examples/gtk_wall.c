/*
 * gtk_wall.c - a 2x2 video wall in GTK 3: four drawing areas, each handed to
 * a port through its X11 window id. .264 files play as live cameras, fed one
 * access unit per 40 ms from a GLib timeout on the main loop (and looped);
 * .kvr record files play from disk (KOVA_OpenFile, KOVA_Play).
 *
 *   gtk_wall FILE.264|FILE.kvr ...   (up to four)
 */
#include <gdk/gdkx.h>
#include <gtk/gtk.h>
#include <string.h>

#include <tessaly/kova.h>

#include "example_support.h"

enum { kTiles = 4, kFramePeriodMs = 40 };

typedef struct Tile {
    const char *path;
    int live; /* a .264 file, fed by FeedLiveTiles */
    int open; /* the port (numbered as the tile) is open */
    AnnexBStream stream;
} Tile;

static Tile tiles[kTiles];

static int HasSuffix(const char *text, const char *suffix) {
    size_t length = strlen(text), suffixLength = strlen(suffix);
    return length >= suffixLength && strcmp(text + length - suffixLength, suffix) == 0;
}

/* Realised: the area has its GdkWindow; made native it has an X11 window the library can draw into. */
static void OpenTile(GtkWidget *area, gpointer data) {
    Tile *tile = data;
    uint32_t port = (uint32_t)(tile - tiles);
    GdkWindow *window = gtk_widget_get_window(area);
    KOVA_HWND xid;
    KOVA_RecordFileInfo info;
    int32_t result;

    if (!gdk_window_ensure_native(window)) {
        fprintf(stderr, "gtk_wall: no native window for %s\n", tile->path);
        return;
    }
    xid = gdk_x11_window_get_xid(window);
    /* GDK's requests must reach the server before the library looks the id up on its own connection. */
    gdk_display_sync(gtk_widget_get_display(area));
    if (tile->live) {
        result = KOVA_OpenStream(port, xid, 1, 0);
        if (result != KOVA_OK) ReportFailure("gtk_wall", tile->path, "KOVA_OpenStream", result);
    } else {
        result = KOVA_OpenFile(port, tile->path, xid, &info);
        if (result != KOVA_OK)
            ReportFailure("gtk_wall", tile->path, "KOVA_OpenFile", result);
        else if ((result = KOVA_Play(port)) != KOVA_OK)
            ReportFailure("gtk_wall", tile->path, "KOVA_Play", result);
        else
            printf("%s: %ux%u, %u frames per second, %u s\n", tile->path, info.width, info.height, info.frameRate,
                   info.seconds);
    }
    tile->open = result == KOVA_OK;
}

/* The library draws the pictures; GTK must not paint over them. */
static gboolean SkipDraw(GtkWidget *area, cairo_t *cairo, gpointer data) {
    (void)area, (void)cairo, (void)data;
    return TRUE;
}

static gboolean FeedLiveTiles(gpointer data) {
    const uint8_t *unit;
    size_t length;
    int i;
    (void)data;
    for (i = 0; i < kTiles; ++i) {
        Tile *tile = &tiles[i];
        int32_t result;
        if (!tile->open || !tile->live) continue;
        if (!NextAccessUnit(&tile->stream, &unit, &length)) {
            tile->stream.position = 0; /* loop: the file starts with a key frame */
            if (!NextAccessUnit(&tile->stream, &unit, &length)) continue;
        }
        result = KOVA_AddStreamFrame((uint32_t)i, KOVA_FRAME_VIDEO, unit, (uint32_t)length);
        if (result != KOVA_OK && result != KOVA_ERR_BUFFER_FULL)
            ReportFailure("gtk_wall", tile->path, "KOVA_AddStreamFrame", result);
    }
    return G_SOURCE_CONTINUE;
}

/* Runs before GTK takes the areas' windows away, so no port draws into a window that is gone. */
static void CloseTiles(GtkWidget *toplevel, gpointer data) {
    int i;
    (void)toplevel, (void)data;
    for (i = 0; i < kTiles; ++i) {
        if (tiles[i].open) KOVA_Close((uint32_t)i);
        tiles[i].open = 0;
    }
    gtk_main_quit();
}

int main(int argc, char **argv) {
    GtkWidget *toplevel, *grid;
    int i, count = argc - 1 < kTiles ? argc - 1 : kTiles;

    gdk_set_allowed_backends("x11"); /* window ids are X11 ids: XWayland on a Wayland desktop */
    gtk_init(&argc, &argv);
    if (count < 1) {
        fprintf(stderr, "usage: gtk_wall FILE.264|FILE.kvr ... (up to four)\n");
        return 2;
    }
    for (i = 0; i < count; ++i) {
        tiles[i].path = argv[i + 1];
        tiles[i].live = !HasSuffix(argv[i + 1], ".kvr");
        if (tiles[i].live && LoadAnnexBStream(argv[i + 1], &tiles[i].stream) != 0) {
            fprintf(stderr, "gtk_wall: cannot read %s\n", argv[i + 1]);
            return 1;
        }
    }
    KOVA_Init();

    toplevel = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(toplevel), "gtk_wall");
    grid = gtk_grid_new();
    gtk_grid_set_row_homogeneous(GTK_GRID(grid), TRUE);
    gtk_grid_set_column_homogeneous(GTK_GRID(grid), TRUE);
    gtk_grid_set_row_spacing(GTK_GRID(grid), 2);
    gtk_grid_set_column_spacing(GTK_GRID(grid), 2);
    for (i = 0; i < kTiles; ++i) {
        GtkWidget *area = gtk_drawing_area_new();
        gtk_widget_set_has_window(area, TRUE);
        gtk_widget_set_app_paintable(area, TRUE);
        gtk_widget_set_size_request(area, 352, 288);
        gtk_widget_set_hexpand(area, TRUE);
        gtk_widget_set_vexpand(area, TRUE);
        if (i < count) {
            g_signal_connect(area, "realize", G_CALLBACK(OpenTile), &tiles[i]);
            g_signal_connect(area, "draw", G_CALLBACK(SkipDraw), NULL);
        }
        gtk_grid_attach(GTK_GRID(grid), area, i % 2, i / 2, 1, 1);
    }
    gtk_container_add(GTK_CONTAINER(toplevel), grid);
    g_signal_connect(toplevel, "destroy", G_CALLBACK(CloseTiles), NULL);
    gtk_widget_show_all(toplevel);
    g_timeout_add(kFramePeriodMs, FeedLiveTiles, NULL);
    gtk_main();

    KOVA_DeInit();
    for (i = 0; i < count; ++i) free(tiles[i].stream.data);
    return 0;
}
