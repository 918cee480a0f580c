/*
 * kova.h - the player interface of libtessaly.
 *
 * Overview
 * --------
 * A host loads libtessaly.so, calls KOVA_Init() once, and then drives up to
 * 256 player ports, numbered 0 to 255. Each port plays a live H.264 stream
 * that the host pushes in frame by frame (KOVA_OpenStream, KOVA_AddStreamFrame)
 * and shows the decoded pictures in a window the host owns, hands them to a
 * host callback, or both. KOVA_DeInit() closes every port.
 *
 * Every call returns a signed 32-bit result: 0 for success or one of the
 * KOVA_ERR_* codes below. No call raises an exception or aborts the process;
 * bad arguments get their code. The same code means the same thing in every
 * call.
 *
 * Windows
 * -------
 * A window is an X11 window id (KOVA_HWND), as the host's toolkit gives it
 * (for example GDK_WINDOW_XID, QWidget::winId). 0 means "no window": the port
 * decodes and calls back but draws nothing. The library opens its own
 * connection to the X server named by $DISPLAY on first use; a non-zero id
 * that is not a window on that server (or any non-zero id when there is no X
 * server) is refused with KOVA_ERR_INVALID_ARGUMENT.
 *
 * When the X server goes away, ports stop drawing into its windows (decoding,
 * callbacks and snapshots go on) and KOVA_Close works as before. The next call
 * given a non-zero window opens a fresh connection from $DISPLAY as it is then,
 * so KOVA_SetDisplayWindow with a window of a new server draws again.
 *
 * Streams
 * -------
 * A port decodes H.264 Baseline, Main and High profile streams (4:2:0, 8-bit,
 * I and P slices, frame or field pictures) as surveillance cameras send them:
 * any picture size up to 5632 x 4096 (352 x 256 macroblocks) and up to 16
 * reference frames. A port starts with a decoder for 720 x 576 pictures and 2
 * reference frames; a key frame whose sequence parameter set announces a
 * larger picture or more reference frames reopens it for them before it is
 * decoded (it never shrinks, so memory grows only for ports that need it). A
 * stream that uses B slices or weighted prediction is not shown (its pictures
 * are refused by the decoder; nothing fails).
 *
 * Pictures reach the callback, the window and snapshots cropped as the
 * sequence parameter set says; a 1088-row picture whose set gives no cropping
 * is shown as 1080 rows. Half-height field pictures marked by the camera's
 * field-coding message are deinterlaced in pairs into frames of twice the
 * (cropped) field height.
 *
 * The picture of a frame appears once the next frame has arrived: a decoder
 * cannot know a picture is complete before the next one begins, so the last
 * picture (or the last two) of a stream that stops stays unseen until more
 * frames come. Record files do not wait: each record is a whole frame.
 *
 * Threads
 * -------
 * Any host thread may call any function. Calls on one port are serialised by
 * that port's lock, which is held for the whole call, except that KOVA_Close
 * lets go of it before waiting (up to 10 seconds) for the port's worker
 * thread. Calls on different ports run in parallel. KOVA_Init and
 * KOVA_DeInit must be called from one thread while no other call is running.
 *
 * Each open port has a worker thread that decodes its frames. All ports are
 * paced by one library-wide timer with a 2 ms base period: a stream port
 * decodes one queued frame per display tick (32 ms for stream kind 1, 38 ms
 * otherwise), and catches up at full speed while more than 15 frames wait.
 * At most 64 ports get ticks; a further port still opens but decodes only
 * while its backlog exceeds 15 frames.
 *
 * Callbacks
 * ---------
 * The decoded-frame callback runs on the port's worker thread, once for every
 * picture shown, and holds no lock of the library while it runs. The picture
 * it receives belongs to the library and is valid only during the call: copy
 * what you need. A callback may call any function, on its own port too:
 * KOVA_AddStreamFrame, KOVA_GetStreamBufInfo, the play controls, KOVA_Snapshot
 * (the picture being passed to the callback) and KOVA_SetDisplayWindow work as
 * from any thread, while other host threads use the port as well. KOVA_Close
 * of its own port returns at once: the port is closed, no further callback
 * starts, and the worker ends after the callback returns. The port decodes
 * nothing while a callback runs, so it should return quickly.
 *
 * Once KOVA_Close (or KOVA_DeInit) has returned, no callback of that port's
 * open starts any more, even when one was still running when the close gave
 * up waiting for it. An exception a C++ callback throws is caught and
 * ignored.
 *
 * Sound
 * -----
 * A port plays the G.726 sound its camera sends (KOVA_AddStreamFrame with
 * KOVA_FRAME_AUDIO) once its sound is started: by the open calls' sound
 * argument or by KOVA_EnableSound. Frames of 24 bytes are G.726 at 16 kbit/s,
 * 44 bytes at 32 kbit/s, 80 samples (10 ms at 8 kHz) each, with the 4-byte
 * header of tq_voice.h; a change of size starts the decoder afresh. Each
 * started port opens its own playback device on the default sound output
 * (SDL's audio: $SDL_AUDIODRIVER and SDL's other variables apply), fed from a
 * queue of about two seconds; a frame arriving at a full queue is dropped.
 * When the queue runs dry the device plays silence, and it resumes once about
 * 70 ms are queued again, so a sender at real-time pace is heard with about
 * 100 ms of delay and never chopped. Without any sound device the calls still
 * succeed and nothing is heard.
 *
 * A device lost while it plays (unplugged, or failing in its driver) plays
 * nothing more: its queue fills and later frames are dropped, the calls still
 * succeed at once, and video goes on. Stopping and starting the sound again
 * (KOVA_EnableSound off and on, KOVA_Voice_StopOutput and
 * KOVA_Voice_StartOutput) opens the default device anew; starting a started
 * one does not. A lost capture device delivers no more frames until
 * KOVA_Voice_StopCapture and KOVA_Voice_StartCapture.
 *
 * Two-way voice is library-wide and needs no KOVA_Init: KOVA_Voice_Output
 * plays the frames a camera sends back, KOVA_Voice_StartCapture records the
 * microphone and hands the host one 244-byte G.726 32 kbit/s frame (480
 * samples) every 60 ms. KOVA_DeInit leaves both running. KOVA_Audio_Decode
 * decodes frames for hosts that play sound themselves.
 *
 * SDL's audio is started when the first device opens, never at load, and shut
 * down when the library is neither initialised nor playing or recording, so
 * KOVA_DeInit leaves no sound thread behind (unless voice still runs). SDL's
 * initialisation counts its users: a host that uses SDL itself is not
 * disturbed. The library asks SDL to leave signal handlers alone.
 *
 * Record files
 * ------------
 * A recorder writes a camera's frames to a record file: a 32-byte file
 * header ("KVRF", frame rate, audio flag, picture size, the last time stamp)
 * and one record per frame, each a 16-byte frame header (sync 00 00 00 07,
 * key-frame flag, video and audio lengths, time stamp in frame periods), the
 * frame's H.264 access unit and its voice frames. tessaly-rec writes, checks
 * and exports such files.
 *
 * KOVA_OpenFile opens one into a port for playback: paused at the first
 * record, one record shown per tick of 1000 / frame rate ms (as fast as it
 * decodes when the port has no window), the play controls acting on the file
 * (see KOVA_Play). A file whose header sets the audio flag and an audio value
 * above 0 starts the port's sound; sound plays at normal speed only. Damaged
 * records are skipped by searching forward for the next frame header.
 *
 * The frame reader (KOVA_ReadFile_*) hands a host the records of a file one
 * by one, without decoding: 256 readers, numbered as ports but independent of
 * them, each with its own lock.
 *
 * Files shorter than 16384 bytes are refused (KOVA_ERR_FILE_SHORT), and so
 * are headers with a wrong magic, value A above 1, a frame rate outside 1..30
 * or value B other than 1 (KOVA_ERR_FILE_HEADER).
 *
 * FFmpeg
 * ------
 * FT ports (KOVA_OpenStream_FT) and record files whose header selects it
 * decode through FFmpeg's libavcodec (H.264 and Motion JPEG), which the
 * library loads at KOVA_Init: libavcodec.so.59 and libavutil.so.57 from the
 * library's own directory, else the system's. Without them only this path is
 * off: such ports open and take data but show nothing. Pictures are taken as
 * planar 4:2:0 (JPEG 4:2:2 and 4:4:4 chroma is subsampled; JPEG levels are
 * passed on as they are). Decoding is single-threaded per port. FFmpeg's own
 * log is silenced unless TESSALY_DEBUG=1 or the host has set its level.
 *
 * Calling convention
 * ------------------
 * KOVA_CALL is empty on x86-64 Linux (there is one convention there).
 */
#ifndef TESSALY_KOVA_H
#define TESSALY_KOVA_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(TESSALY_BUILDING_LIBRARY)
#define KOVA_API __attribute__((visibility("default")))
#else
#define KOVA_API
#endif

/* The callee-pops convention on 32-bit Windows; empty here. */
#define KOVA_CALL

/* An X11 window id; 0 = no window. */
typedef unsigned long KOVA_HWND;

/* Result codes. */
#define KOVA_OK 0
/* KOVA_ERR_MISSING_OBJECT: a needed object is missing or could not be made: the port's sound not started
 * (audio frames), memory or a thread not had (opens, snapshots), or any other internal failure.
 * KOVA_ERR_INVALID_ARGUMENT: port above 255, null pointer, zero length, not a window, position above 1000,
 * frame longer than the port's limit. */
#define KOVA_ERR_MISSING_OBJECT (-501)
#define KOVA_ERR_NOT_INITIALISED (-503) /* KOVA_Init has not been called, or KOVA_DeInit has */
#define KOVA_ERR_INVALID_ARGUMENT (-504)
#define KOVA_ERR_ALREADY_OPEN (-505) /* the port is already open */
#define KOVA_ERR_NOT_OPEN (-506)     /* the port is not open (or not in the needed mode) */
#define KOVA_ERR_BUFFER_FULL (-508)  /* the port's stream buffer has no room: the frame was dropped */
#define KOVA_ERR_FRAME_TYPE (-509)   /* frame type other than 1 (video) or 2 (audio) */
#define KOVA_ERR_FILE_OPEN (-510)    /* a file could not be opened or created */
#define KOVA_ERR_FILE_READ (-511)    /* a read error in a record file */
#define KOVA_ERR_FILE_SHORT (-512)   /* the record file is shorter than 16384 bytes */
#define KOVA_ERR_FILE_HEADER (-513)  /* the record file's header is not valid */
#define KOVA_ERR_NO_PICTURE (-514)   /* no decoded picture for a snapshot */
#define KOVA_ERR_CAPTURE (-515)      /* voice capture could not start */
#define KOVA_ERR_END_OF_FILE (-516)  /* no further frame in the record file */

#define KOVA_MAX_PORTS 256
#define KOVA_MAX_FRAME_BYTES 393216     /* a port's video frame limit until a larger picture is announced */
#define KOVA_STREAM_BUFFER_BYTES 524288 /* a port's stream buffer capacity until then */

/* Frame types of KOVA_AddStreamFrame. */
#define KOVA_FRAME_VIDEO 1
#define KOVA_FRAME_AUDIO 2

/* Picture formats passed to the decoded-frame callback. */
#define KOVA_FORMAT_I420 1 /* planar 4:2:0: Y (width x height), then U, then V (each width/2 x height/2) */

/*
 * Called with every picture a port shows.
 *
 * format:  KOVA_FORMAT_I420.
 * picture: the planes, contiguous; valid only during the call.
 * size:    width * height * 3 / 2.
 * width, height: the picture size, cropped (see "Streams"; a pair of field
 *          pictures is one frame of twice the field height).
 * user:    the value given to KOVA_OpenStreamEx.
 *
 * Runs on the port's worker thread; see "Callbacks" above.
 */
typedef void(KOVA_CALL *KOVA_DecodedFrameCallback)(int32_t format, uint8_t *picture, int32_t size, int32_t width,
                                                   int32_t height, intptr_t user);

/*
 * What a record file's header says (filled by KOVA_OpenFile, KOVA_OpenFileEx
 * and KOVA_ReadFile_Open). 28 bytes.
 */
typedef struct KOVA_RecordFileInfo {
    uint32_t version;       /* always 1 */
    uint32_t headerA;       /* file header byte 4 (0 or 1) */
    uint32_t frameRate;     /* frames per second, 1..30 */
    uint32_t headerB;       /* file header byte 6 (always 1) */
    uint32_t audioFlag;     /* file header byte 7 */
    uint16_t width, height; /* picture size (file playback: from the first sequence parameter set) */
    uint16_t audioValue;    /* file header bytes 12..13 */
    uint16_t seconds;       /* last time stamp / frame rate */
} KOVA_RecordFileInfo;

/*
 * One frame record of a record file, as KOVA_ReadFile_GetNextFrame hands it
 * out. With 64-bit addresses the record is 40 bytes here.
 */
typedef struct KOVA_RecordFrame {
    uint32_t keyFrame;    /* 1 for a key frame */
    const uint8_t *video; /* valid until the next call on the same reader */
    uint32_t videoLength;
    const uint8_t *audio; /* video + videoLength */
    uint32_t audioLength;
    uint32_t progress; /* thousandths of the file */
} KOVA_RecordFrame;

/*
 * One line of text laid over a port's pictures (see KOVA_SetTextOSD_FT).
 * 144 bytes.
 */
typedef struct KOVA_TextOsdLine {
    uint8_t enabled;
    uint8_t reserved[3];
    int32_t x, y;      /* left and top of the line, pixels */
    uint32_t fontSize; /* 0: 6x12 / 12x12, 1: 8x16 / 16x16, 2: 12x24 / 24x24 */
    char text[128];    /* single-byte and GB2312 double-byte characters, zero-terminated */
} KOVA_TextOsdLine;
typedef struct KOVA_TextOsdInput {
    KOVA_TextOsdLine line[4];
} KOVA_TextOsdInput; /* 576 bytes */

/*
 * Receives one encoded voice frame of the microphone (see
 * KOVA_Voice_StartCapture): 244 bytes, valid only during the call. Runs on the
 * sound device's thread; it should return quickly.
 */
typedef void(KOVA_CALL *KOVA_VoiceFrameCallback)(const uint8_t *frame, uint32_t length);

/*
 * Initialises the library: starts the playback timer and makes the ports
 * usable. Calling it again while initialised does nothing. Always returns 0.
 */
KOVA_API int32_t KOVA_CALL KOVA_Init(void);

/*
 * Closes every open port, stops the playback timer and closes the library's
 * connection to the X server, so that a shut-down library holds no thread,
 * descriptor or connection of its own (two-way voice, which does not need
 * KOVA_Init, runs on). Does nothing when the library is not initialised.
 * Unloading the library calls it. Always returns 0.
 */
KOVA_API int32_t KOVA_CALL KOVA_DeInit(void);

/*
 * Opens a port for a live H.264 stream.
 *
 * port:       0..255.
 * window:     where to draw, or 0 to decode without drawing.
 * streamKind: 1 selects a 32 ms display tick (31 frames per second); any
 *             other value 38 ms (26 frames per second).
 * sound:      non-zero starts the port's sound after the open (see "Sound";
 *             whether a sound device opened does not change the result).
 *
 * Returns 0, KOVA_ERR_NOT_INITIALISED, KOVA_ERR_INVALID_ARGUMENT (port above
 * 255, or a non-zero window that is not a window), KOVA_ERR_ALREADY_OPEN or
 * KOVA_ERR_MISSING_OBJECT (memory or a thread not had; the port stays closed).
 */
KOVA_API int32_t KOVA_CALL KOVA_OpenStream(uint32_t port, KOVA_HWND window, uint32_t streamKind, uint32_t sound);

/*
 * As KOVA_OpenStream, and every shown picture is also passed to callback (may
 * be null) with the user value.
 */
KOVA_API int32_t KOVA_CALL KOVA_OpenStreamEx(uint32_t port, KOVA_HWND window, uint32_t streamKind, uint32_t sound,
                                             KOVA_DecodedFrameCallback callback, intptr_t user);

/*
 * Closes a port: stops its ticks, its decoded-frame callbacks and its sound
 * (dropping what was not played yet), and ends its
 * worker thread (waiting at most 10 seconds, without the port's lock; a worker
 * stuck longer is left to finish on its own and frees what it holds when it
 * ends, and a diagnostic line is written when TESSALY_DEBUG=1). The port is
 * closed, and may be opened again, as soon as the wait begins. Called from the
 * port's own callback it does not wait (see "Callbacks"). A port that is not
 * open gives 0.
 *
 * Returns 0, KOVA_ERR_NOT_INITIALISED or KOVA_ERR_INVALID_ARGUMENT.
 */
KOVA_API int32_t KOVA_CALL KOVA_Close(uint32_t port);

/*
 * Submits one frame to a stream port.
 *
 * frameType: KOVA_FRAME_VIDEO: one H.264 access unit in Annex B form, holding
 *            whole NAL units, of 1 byte up to the port's frame limit: 393216
 *            bytes, or width x height x 3 / 8 for the largest picture a key
 *            frame has announced if that is more. A key frame begins with a
 *            four-byte start code and a sequence parameter set; it is judged
 *            by the picture size its own set announces.
 *            KOVA_FRAME_AUDIO: one or more voice frames of 24 or 44 bytes, all
 *            of the size the first frame's header announces, for the port's
 *            sound (see "Sound"). Answered KOVA_ERR_MISSING_OBJECT while the
 *            port's sound is not started, KOVA_ERR_INVALID_ARGUMENT for
 *            another size or a length that is not a multiple of it (nothing
 *            is played). A frame that does not decode (a damaged header) is
 *            dropped, and so is one that finds the sound queue full.
 * data, length: the frame; copied before the call returns.
 *
 * Video frames queue in the port's stream buffer: 512 KiB, or more than three
 * times the frame limit when that is larger (the buffer grows with the limit
 * and never shrinks). A frame that does
 * not fit (it must be strictly smaller than the free space) is refused with
 * KOVA_ERR_BUFFER_FULL; the port then drops every following frame (answering
 * 0) until one that begins with a sequence parameter set, so the decoder never
 * sees a hole in a group of pictures.
 *
 * Returns 0, KOVA_ERR_NOT_INITIALISED, KOVA_ERR_INVALID_ARGUMENT (port above
 * 255, data null, length 0, video frame over the port's limit),
 * KOVA_ERR_NOT_OPEN, KOVA_ERR_BUFFER_FULL, KOVA_ERR_FRAME_TYPE, or for audio
 * KOVA_ERR_MISSING_OBJECT.
 */
KOVA_API int32_t KOVA_CALL KOVA_AddStreamFrame(uint32_t port, uint32_t frameType, const uint8_t *data, uint32_t length);

/*
 * The stream buffer's capacity (524288 until it grows, see
 * KOVA_AddStreamFrame) and the bytes it holds. On a port that is open but not
 * for a stream both are 0.
 *
 * Returns 0, KOVA_ERR_NOT_INITIALISED, KOVA_ERR_INVALID_ARGUMENT (port above
 * 255, capacity or fill null) or KOVA_ERR_NOT_OPEN.
 */
KOVA_API int32_t KOVA_CALL KOVA_GetStreamBufInfo(uint32_t port, uint32_t *capacity, uint32_t *fill);

/*
 * Play control. On a file port (KOVA_OpenFile):
 *   KOVA_Play            plays; at the end of the file, from the first record
 *                        again.
 *   KOVA_Pause           pauses (the picture stays).
 *   KOVA_Stop            on a playing port: pauses, goes back to the first key
 *                        frame and shows it and the record after it (the call
 *                        takes about 100 ms); on a paused port nothing.
 *   KOVA_NextFrame       reads and shows one more record; on a playing port
 *                        one record between two ticks.
 *   KOVA_Slow, KOVA_Fast the speed level, -2..2: a tick of 4, 2, 1, 1/2 or
 *                        1/4 frame periods (a port without a window gets its
 *                        level's period too). Sound plays at level 0 only.
 *   KOVA_GetSpeed        the level.
 *   KOVA_SetPlayingPos   moves to thousandths of the file (0: the first
 *                        record, 1000: the end) and on to the next key frame;
 *                        a paused port then shows that frame and the record
 *                        after it (the call takes about 50 ms).
 *   KOVA_GetPlayingPos   how far the port has read, in thousandths of the
 *                        file's length (a little above 1000 at the end of a
 *                        file whose length is not a multiple of 1000).
 *   KOVA_GetPlayingTime  the time stamp of the record read last, in seconds.
 * On a live stream port they have no file to act on:
 *   KOVA_Play, KOVA_Pause  set or clear the paused flag; a live stream keeps
 *                          running either way.
 *   KOVA_Stop              sets the paused flag; no file position to move.
 *   KOVA_NextFrame         releases one extra decoding step (the next queued
 *                          frame is decoded at once).
 *   KOVA_Slow, KOVA_Fast   change nothing (the tick follows the stream kind).
 *   KOVA_GetSpeed          reports 0.
 *   KOVA_GetPlayingPos     reports 0.
 *   KOVA_SetPlayingPos     accepts 0..1000 and changes nothing.
 *   KOVA_GetPlayingTime    reports 0.
 *
 * Each returns 0, KOVA_ERR_NOT_INITIALISED, KOVA_ERR_INVALID_ARGUMENT (port
 * above 255; a null out address; a position above 1000) or KOVA_ERR_NOT_OPEN.
 */
KOVA_API int32_t KOVA_CALL KOVA_Play(uint32_t port);
KOVA_API int32_t KOVA_CALL KOVA_Pause(uint32_t port);
KOVA_API int32_t KOVA_CALL KOVA_Stop(uint32_t port);
KOVA_API int32_t KOVA_CALL KOVA_NextFrame(uint32_t port);
KOVA_API int32_t KOVA_CALL KOVA_Slow(uint32_t port);
KOVA_API int32_t KOVA_CALL KOVA_Fast(uint32_t port);
KOVA_API int32_t KOVA_CALL KOVA_GetSpeed(uint32_t port, int32_t *level);
KOVA_API int32_t KOVA_CALL KOVA_GetPlayingPos(uint32_t port, uint32_t *thousandths);
KOVA_API int32_t KOVA_CALL KOVA_SetPlayingPos(uint32_t port, uint32_t thousandths);
KOVA_API int32_t KOVA_CALL KOVA_GetPlayingTime(uint32_t port, uint32_t *seconds);

/*
 * Starts (on non-zero) or stops the port's sound. Starting a started port or
 * stopping a stopped one does nothing; stopping drops what was not played.
 * Whether a sound device opened does not change the result.
 *
 * Returns 0, KOVA_ERR_NOT_INITIALISED, KOVA_ERR_INVALID_ARGUMENT (port above
 * 255) or KOVA_ERR_NOT_OPEN.
 */
KOVA_API int32_t KOVA_CALL KOVA_EnableSound(uint32_t port, uint32_t on);

/*
 * Decodes voice frames without playing them, for hosts that play sound
 * themselves. Each of the 64 decoders keeps its state from call to call, so a
 * stream's consecutive frames go through one decoder; a decoder must not be
 * used by two threads at once. Needs no KOVA_Init.
 *
 * decoder:   0..63.
 * data, length: frames of 24 or 44 bytes (see "Sound"), all of the size the
 *            first header announces.
 * pcm:       receives 160 bytes (80 samples, 16-bit, 8 kHz mono) per frame.
 * pcmLength: receives the bytes written.
 *
 * Returns 0, KOVA_ERR_INVALID_ARGUMENT (decoder above 63, a null address,
 * length 0, a frame size other than 24 or 44, a length that is not a multiple
 * of it: nothing decoded) or KOVA_ERR_MISSING_OBJECT (a frame that does not
 * decode: the frames before it are in pcm, pcmLength is not written).
 */
KOVA_API int32_t KOVA_CALL KOVA_Audio_Decode(uint32_t decoder, const uint8_t *data, uint32_t length, uint8_t *pcm,
                                             uint32_t *pcmLength);

/*
 * The speaker side of two-way voice: one library-wide output, like a port's
 * sound (see "Sound"), guarded by a lock of its own. Needs no KOVA_Init and
 * keeps running across KOVA_DeInit.
 *
 * KOVA_Voice_StartOutput: opens the output (does nothing when started).
 * KOVA_Voice_Output: plays frames of 24 or 44 bytes; results as
 *   KOVA_AddStreamFrame's for sound (KOVA_ERR_MISSING_OBJECT when not
 *   started, KOVA_ERR_INVALID_ARGUMENT for a null address, length 0 or a bad
 *   size).
 * KOVA_Voice_StopOutput: closes it, dropping what was not played (does
 *   nothing when stopped).
 */
KOVA_API int32_t KOVA_CALL KOVA_Voice_StartOutput(void);
KOVA_API int32_t KOVA_CALL KOVA_Voice_Output(const uint8_t *data, uint32_t length);
KOVA_API int32_t KOVA_CALL KOVA_Voice_StopOutput(void);

/*
 * The microphone side of two-way voice: records the default capture device at
 * 8 kHz and hands every 480 samples (60 ms) to callback as one voice frame of
 * G.726 at 32 kbit/s (244 bytes: 00 01 78 00, then 240 bytes of codes; decode
 * it with TQ_VOICE_DecodeFrame, mode TQ_VOICE_MODE_G726_32K, or split it into
 * six 44-byte frames of 80 samples for KOVA_Voice_Output). The encoder carries
 * its state from frame to frame and starts afresh at every start; frames are
 * delivered from the start of the recording on. Needs no KOVA_Init.
 *
 * KOVA_Voice_StartCapture: callback may be null (frames are dropped). While
 *   recording, a second start returns 0 and keeps the first callback. Returns
 *   0 or KOVA_ERR_CAPTURE (no capture device).
 * KOVA_Voice_StopCapture: once it returns the callback is not called again
 *   (so it must not be called from the callback itself). Returns 0, also when
 *   not recording.
 */
KOVA_API int32_t KOVA_CALL KOVA_Voice_StartCapture(KOVA_VoiceFrameCallback callback);
KOVA_API int32_t KOVA_CALL KOVA_Voice_StopCapture(void);

/*
 * Opens a record file for playback at a port (see "Record files").
 *
 * port:     0..255.
 * fileName: the path, a zero-terminated string; the file is read while
 *           others may still write it (its length is taken at the open).
 * window:   where to draw, or 0 to decode without drawing.
 * info:     receives the file's header, with the picture size of the first
 *           sequence parameter set in the file (its coded size: 1920 x 1088
 *           for a 1080p camera) when one is found in the records.
 *
 * The port starts paused at the first record. Once played, it reads, decodes
 * and shows one record per tick: 1000 / frame rate ms with a window, 2 ms
 * (as fast as it decodes) without one, until a speed change; each record's
 * picture is shown with its record, not held back for the next. A damaged
 * record costs one tick: the port searches on from it for the next frame
 * header (in 32 KiB steps; a header in the last, partial step of the file is
 * not found). A read error moves the reading 131072 bytes on. Records whose
 * video is over 393216 bytes or whose audio is over 4096 bytes count as
 * damaged. When the header sets the audio flag and an audio value above 0,
 * the port's sound starts (KOVA_EnableSound stops or starts it again), and the
 * records' voice frames play at normal speed only. At the end of the file the
 * port idles on its last picture until KOVA_Play, KOVA_SetPlayingPos or
 * KOVA_Stop.
 *
 * A file whose header selects FFmpeg (byte 22) is decoded through it, H.264
 * or Motion JPEG records alike (see "FFmpeg").
 *
 * Returns 0, KOVA_ERR_NOT_INITIALISED, KOVA_ERR_INVALID_ARGUMENT (port above
 * 255, fileName or info null, a non-zero window that is not a window),
 * KOVA_ERR_ALREADY_OPEN, KOVA_ERR_FILE_OPEN, KOVA_ERR_FILE_SHORT,
 * KOVA_ERR_FILE_READ (the header could not be read), KOVA_ERR_FILE_HEADER or
 * KOVA_ERR_MISSING_OBJECT. A failed open leaves the port closed.
 *
 * KOVA_OpenFileEx: as KOVA_OpenFile, and every shown picture is also passed
 * to callback (may be null) with the user value.
 */
KOVA_API int32_t KOVA_CALL KOVA_OpenFile(uint32_t port, const char *fileName, KOVA_HWND window,
                                         KOVA_RecordFileInfo *info);
KOVA_API int32_t KOVA_CALL KOVA_OpenFileEx(uint32_t port, const char *fileName, KOVA_HWND window,
                                           KOVA_RecordFileInfo *info, KOVA_DecodedFrameCallback callback,
                                           intptr_t user);

/*
 * The frame reader: a record file's records one by one, as they are stored,
 * for hosts that decode, export or index files themselves. Needs KOVA_Init
 * (every call answers KOVA_ERR_NOT_INITIALISED before it); KOVA_DeInit leaves
 * open readers open, to be used again after the next KOVA_Init.
 *
 * reader: 0..255. The readers are numbered as ports but independent of them
 * (reader 3 and port 3 may both have a file open). Any thread may call; calls
 * on one reader are serialised by that reader's lock, held for the whole
 * call, and calls on different readers run in parallel.
 *
 * A damaged record (no sync, or video and audio together above 524288 bytes)
 * is skipped by searching forward for the next frame header (in 32 KiB steps;
 * a header in the last, partial step of the file is not found); garbage of
 * fewer than 16 bytes between two records costs the record after it too. A
 * read error moves the reader 131072 bytes on from where the read was tried,
 * so that the next call carries on past the damaged stretch.
 */

/*
 * Opens fileName (a zero-terminated path) in the reader and fills info from
 * its header. The reader stands at the first record.
 *
 * Returns 0, KOVA_ERR_NOT_INITIALISED, KOVA_ERR_INVALID_ARGUMENT (reader above
 * 255, fileName or info null), KOVA_ERR_ALREADY_OPEN (the reader has a file
 * open), KOVA_ERR_FILE_OPEN (the file cannot be opened for reading),
 * KOVA_ERR_FILE_SHORT, KOVA_ERR_FILE_READ (the header could not be read),
 * KOVA_ERR_FILE_HEADER or KOVA_ERR_MISSING_OBJECT (no memory for the reader's
 * 512 KiB frame buffer). A failed open leaves no file open in the reader
 * (KOVA_ERR_ALREADY_OPEN leaves the open one as it was).
 */
KOVA_API int32_t KOVA_CALL KOVA_ReadFile_Open(uint32_t reader, const char *fileName, KOVA_RecordFileInfo *info);

/*
 * Reads the next record into frame (see KOVA_RecordFrame): the key-frame
 * flag, the video and audio bytes (in the reader's own buffer, valid until
 * the next call on the same reader) and how far into the file the reader now
 * stands, in thousandths (the offset after the record divided by a
 * thousandth of the file's length, both rounded down, so that the last
 * records of a file may show a little more than 1000).
 *
 * Returns 0, KOVA_ERR_NOT_INITIALISED, KOVA_ERR_INVALID_ARGUMENT (reader above
 * 255, frame null), KOVA_ERR_NOT_OPEN (no file open in the reader),
 * KOVA_ERR_END_OF_FILE (no further record: the end was reached, the last
 * record is cut short, or a found record is larger than 524288 bytes) or
 * KOVA_ERR_FILE_READ (a read error: the reader moved on 131072 bytes; call
 * again to go on). frame is written only when 0 is returned.
 */
KOVA_API int32_t KOVA_CALL KOVA_ReadFile_GetNextFrame(uint32_t reader, KOVA_RecordFrame *frame);

/*
 * Moves the reader to thousandths of the file (0: the first record; 1000: the
 * end) and on to the first key frame from there. When no key frame follows,
 * the reader stands at the end and the next KOVA_ReadFile_GetNextFrame
 * returns KOVA_ERR_END_OF_FILE; this call still returns 0.
 *
 * Returns 0, KOVA_ERR_NOT_INITIALISED, KOVA_ERR_INVALID_ARGUMENT (reader above
 * 255, thousandths above 1000) or KOVA_ERR_NOT_OPEN.
 */
KOVA_API int32_t KOVA_CALL KOVA_ReadFile_SetReadPos(uint32_t reader, uint32_t thousandths);

/*
 * Closes the reader's file and frees its buffer. A reader with no file open
 * gives 0.
 *
 * Returns 0, KOVA_ERR_NOT_INITIALISED or KOVA_ERR_INVALID_ARGUMENT (reader
 * above 255).
 */
KOVA_API int32_t KOVA_CALL KOVA_ReadFile_Close(uint32_t reader);

/*
 * Sets the text laid over the port's pictures: up to four lines of black
 * letters (luma 0, no background), drawn into every frame picture the port
 * decodes before it goes to the decoded-frame callback and the window.
 * Deinterlaced field pairs, raw-picture ports and snapshots carry no text.
 * Every call replaces all four lines; a call whose lines are all disabled
 * removes the text. The lines stay with the port number across KOVA_Close and
 * the next open, until changed or the library is unloaded.
 *
 * osd: four lines, each:
 *   enabled: 0 leaves the line out, anything else draws it.
 *   x, y: the top left corner of the line's first character, in pixels of the
 *         cropped picture. A line whose x or y is negative draws nothing.
 *   fontSize: 0: characters 6 x 12 and 12 x 12 pixels, 1: 8 x 16 and
 *         16 x 16, 2: 12 x 24 and 24 x 24; any other size draws nothing.
 *   text: zero-terminated; at most 127 bytes are taken, a longer text is cut.
 *         A byte 1..127 is a single-byte character; a byte 128..255 and the
 *         byte after it are one GB2312 double-byte character (lead byte
 *         0xA1..0xF7, trail byte 0xA1..0xFE). Any other pair is left blank,
 *         the next characters keeping their place; a lead byte just before
 *         the terminating zero ends the line.
 * Characters are drawn left to right with no spacing of their own; a line
 * stops at the first character that would not fit whole in the picture, so
 * a line that starts too low or too far right draws nothing.
 *
 * Returns 0, KOVA_ERR_NOT_INITIALISED, KOVA_ERR_INVALID_ARGUMENT (port above
 * 255, osd null), KOVA_ERR_NOT_OPEN (the port is not open, in any mode) or
 * KOVA_ERR_MISSING_OBJECT (no memory for the overlay, at the port's first
 * call).
 */
KOVA_API int32_t KOVA_CALL KOVA_SetTextOSD_FT(uint32_t port, const KOVA_TextOsdInput *osd);

/*
 * Opens a port for an FT byte stream, decoded through FFmpeg (see "FFmpeg"):
 * H.264 access units or Motion JPEG pictures in packets, handed over in
 * chunks of any size with KOVA_AddStreamData_FT or KOVA_AddStreamData_FT_Raw
 * (whole frames may also come with KOVA_AddStreamFrame, type 1). As
 * KOVA_OpenStreamEx otherwise (window, stream kind and callback alike), but
 * the fourth argument is not used: an FT port has no sound.
 *
 * Pictures of any size are shown and passed to the callback at their size;
 * they get the port's text overlay, and so do its snapshots (a picture of 704
 * or more by at most 288 rows, a D1 camera's half-height picture, is written
 * line-doubled). Without FFmpeg the port opens and takes data, and shows
 * nothing.
 *
 * Returns 0, KOVA_ERR_NOT_INITIALISED, KOVA_ERR_INVALID_ARGUMENT (port above
 * 255, a non-zero window that is not a window), KOVA_ERR_ALREADY_OPEN or
 * KOVA_ERR_MISSING_OBJECT.
 */
KOVA_API int32_t KOVA_CALL KOVA_OpenStream_FT(uint32_t port, KOVA_HWND window, uint32_t streamKind, uint32_t unused,
                                              KOVA_DecodedFrameCallback callback, intptr_t user);

/*
 * The next bytes of a port's FT byte stream: packets, each the marker
 * FE FD 02 01 FD FE 01 02, 32 header bytes that are not read (none with
 * KOVA_AddStreamData_FT_Raw), then the payload: every byte up to the next
 * marker, so a packet is complete once the next one's marker has arrived.
 * Bytes before the first marker are skipped. Each call completes at most one
 * packet (a packet already complete is taken by the next call, even one of a
 * single byte) and queues its payload as a frame:
 *  - an H.264 payload (beginning 00 00 00 01) carries 8 bytes behind its first
 *    NAL header byte that are not part of the stream, and are dropped;
 *    KOVA_AddStreamData_FT also turns a first NAL header byte of 0x67 or
 *    0x61 into 0x27 or 0x21 (nal_ref_idc 1: decoded the same);
 *  - any other payload is a JPEG picture.
 * With KOVA_AddStreamData_FT the port's first packet fixes the codec: packets
 * of the other kind are dropped (result 0). With KOVA_AddStreamData_FT_Raw
 * the decoder follows each payload's kind. After KOVA_ERR_BUFFER_FULL the port
 * drops H.264 payloads until one that begins with a sequence parameter set,
 * as KOVA_AddStreamFrame does; JPEG pictures are not held back.
 *
 * frameType: 1 (KOVA_FRAME_VIDEO) only.
 * data, length: up to 262144 bytes beside what is collected.
 *
 * Returns 0, KOVA_ERR_NOT_INITIALISED, KOVA_ERR_INVALID_ARGUMENT (port above
 * 255, data null or length 0; or more bytes than the collecting buffer has
 * room for: everything collected is dropped and the stream starts afresh at
 * the next marker), KOVA_ERR_NOT_OPEN (not an FT port), KOVA_ERR_BUFFER_FULL
 * (the packet was dropped) or KOVA_ERR_FRAME_TYPE.
 */
KOVA_API int32_t KOVA_CALL KOVA_AddStreamData_FT(uint32_t port, uint32_t frameType, const uint8_t *data,
                                                 uint32_t length);
KOVA_API int32_t KOVA_CALL KOVA_AddStreamData_FT_Raw(uint32_t port, uint32_t frameType, const uint8_t *data,
                                                     uint32_t length);

/*
 * Writes the port's last shown picture to a 24-bit bitmap file (created or
 * overwritten): the decoder's own picture, without any overlay; for a stream
 * of field pictures the last deinterlaced frame. Colours are converted from
 * BT.601 studio range. The picture is cropped as the callback's is. The file
 * is written after the picture has been converted, while the port decodes on,
 * under a temporary name in the same directory (which must be writable) that
 * replaces the file once it is complete; a device or pipe is written in place.
 *
 * fileName: the path, a zero-terminated string.
 *
 * Returns 0, KOVA_ERR_NOT_INITIALISED, KOVA_ERR_INVALID_ARGUMENT (port above
 * 255, fileName null), KOVA_ERR_NOT_OPEN, KOVA_ERR_NO_PICTURE (nothing shown
 * yet), KOVA_ERR_MISSING_OBJECT (no memory for the pixels) or
 * KOVA_ERR_FILE_OPEN (the file could not be created or written in full, as on
 * a full disk; no partial file is left behind, and a file of that name that
 * was there stays as it was).
 */
KOVA_API int32_t KOVA_CALL KOVA_Snapshot(uint32_t port, const char *fileName);

/*
 * Moves a port's display to another window, or stops drawing (window 0);
 * decoding and the decoded-frame callback go on either way. The picture is
 * scaled to fill the whole window (the aspect ratio is not kept).
 *
 * Returns 0, KOVA_ERR_NOT_INITIALISED, KOVA_ERR_INVALID_ARGUMENT (port above
 * 255, or a non-zero window that is not a window: the old window is kept),
 * KOVA_ERR_NOT_OPEN or KOVA_ERR_MISSING_OBJECT.
 */
KOVA_API int32_t KOVA_CALL KOVA_SetDisplayWindow(uint32_t port, KOVA_HWND window);

/*
 * Raw-picture ports show pictures the host decoded itself. They live in a
 * second table of 256 ports, independent of the player ports with the same
 * numbers (port 3 may be a stream port and a raw-picture port at once).
 *
 * KOVA_YUV_Open(port, window): window must be a window (0 is refused).
 * Returns 0, KOVA_ERR_NOT_INITIALISED, KOVA_ERR_INVALID_ARGUMENT,
 * KOVA_ERR_ALREADY_OPEN or KOVA_ERR_MISSING_OBJECT.
 *
 * KOVA_YUV_Show(port, format, data, length, width, height): draws one picture
 * scaled to the whole window; the call returns once the picture is copied (the
 * window is updated shortly after, on the port's display thread).
 *   format: KOVA_FORMAT_I420 (planar 4:2:0, planes contiguous: Y width x
 *           height, then U and V width/2 x height/2 each).
 *   length: bytes at data; at least width * height * 3 / 2.
 * Returns 0, KOVA_ERR_NOT_INITIALISED, KOVA_ERR_INVALID_ARGUMENT (port above
 * 255, data null, length 0 or too short, a zero size, a format other than
 * KOVA_FORMAT_I420), KOVA_ERR_NOT_OPEN or KOVA_ERR_MISSING_OBJECT.
 *
 * KOVA_YUV_Close(port): a port that is not open gives 0. Returns 0,
 * KOVA_ERR_NOT_INITIALISED or KOVA_ERR_INVALID_ARGUMENT.
 */
KOVA_API int32_t KOVA_CALL KOVA_YUV_Open(uint32_t port, KOVA_HWND window);
KOVA_API int32_t KOVA_CALL KOVA_YUV_Show(uint32_t port, uint32_t format, const uint8_t *data, uint32_t length,
                                         uint32_t width, uint32_t height);
KOVA_API int32_t KOVA_CALL KOVA_YUV_Close(uint32_t port);

#ifdef __cplusplus
}
#endif

#endif /* TESSALY_KOVA_H */
