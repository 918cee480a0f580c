// Playing without a display: pictures reach only the decoded-frame callback,
// and every port is snapshotted at a fixed interval.
#pragma once

#include "options.h"
#include "playback_session.h"

namespace tessaly::play {

// Runs until the streams are played out, the duration ends or an interrupt.
// Returns the exit status.
int RunHeadless(const Options &options, PlaybackSession &session);

}  // namespace tessaly::play
