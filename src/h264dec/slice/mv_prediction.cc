#include "h264dec/slice/mv_prediction.h"

namespace tessaly::h264 {

void PredictSkipMv(const NeighbourCache &c, bool leftAvailable, bool topAvailable, int16_t mv[2]) {
    const int a = Cache(-1, 0);
    const int b = Cache(0, -1);
    if (!leftAvailable || !topAvailable || (c.ref[a] == 0 && c.mv[a][0] == 0 && c.mv[a][1] == 0) ||
        (c.ref[b] == 0 && c.mv[b][0] == 0 && c.mv[b][1] == 0)) {
        mv[0] = mv[1] = 0;
        return;
    }
    PredictMv(c, 0, 0, 4, 0, 0, mv);
}

}  // namespace tessaly::h264
