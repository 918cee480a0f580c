// --stats: a line a second per port from the library's own counters
// (KOVA_GetPortStatistics), e.g.
// "stats port 0 cam: received 250 refused 0 decoded 250 shown 249 damaged 0
//  704x576 buffer 0/524288 decode 812 us fps 25.00".
#pragma once

#include <cstdio>

#include "playback_session.h"

namespace tessaly::play {

void PrintPortStatistics(std::FILE *out, const PlaybackSession &session);

}  // namespace tessaly::play
