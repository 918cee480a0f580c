/*
 * kova_stats.h - port statistics, for monitoring clients: what a port has
 * received, decoded and shown, and how fast.
 *
 * An addition to the player interface of kova.h (include that first or
 * alone: this header includes it).
 */
#ifndef TESSALY_KOVA_STATS_H
#define TESSALY_KOVA_STATS_H

#include "tessaly/kova.h"

#ifdef __cplusplus
extern "C" {
#endif

/*
 * The counters of one port since its open (they start at 0 at every open).
 * The caller sets size to sizeof(KOVA_PortStatistics); a later version may
 * add fields at the end and fill only as many as size covers.
 */
typedef struct KOVA_PortStatistics {
    uint32_t size;           /* sizeof(KOVA_PortStatistics), set by the caller */
    uint32_t framesReceived; /* frames accepted by KOVA_AddStreamFrame, or records read from a file */
    uint32_t framesRefused;  /* -508, and frames dropped while waiting for a key frame */
    uint32_t picturesDecoded;
    uint32_t picturesShown;   /* handed to the callback and/or drawn */
    uint32_t damagedPictures; /* pictures the decoder concealed */
    uint32_t width, height;   /* of the last picture shown */
    uint32_t bufferFill, bufferCapacity;
    uint32_t decodeMicrosAverage; /* mean decode time per picture over the last second */
    uint32_t framesPerSecond100;  /* pictures shown per second over the last second, times 100 */
} KOVA_PortStatistics;

/*
 * Fills stats with the port's counters. Any thread may call, as often as it
 * likes: the counters are kept with atomic operations, without a lock on the
 * decoding path, and this call takes only the port lock.
 *
 * Returns 0, KOVA_ERR_NOT_INITIALISED, KOVA_ERR_INVALID_ARGUMENT (port above
 * 255, stats null, or stats->size smaller than the record) or
 * KOVA_ERR_NOT_OPEN.
 */
KOVA_API int32_t KOVA_CALL KOVA_GetPortStatistics(uint32_t port, KOVA_PortStatistics *stats);

#ifdef __cplusplus
}
#endif

#endif /* TESSALY_KOVA_STATS_H */
