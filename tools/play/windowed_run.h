// Playing into a video wall on the X display.
#pragma once

#include "options.h"
#include "playback_session.h"

namespace tessaly::play {

// Runs until q, the window is closed, the streams are played out, the
// duration ends or an interrupt. Returns the exit status.
int RunWindowed(const Options &options, PlaybackSession &session);

}  // namespace tessaly::play
