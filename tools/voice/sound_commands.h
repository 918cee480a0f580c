// The commands that use the sound devices through the library's two-way voice
// calls: talk (microphone -> codec -> speaker) and play (a frame file to the
// speaker). Both end early, cleanly, on SIGINT or SIGTERM.
#pragma once

#include <cstdint>
#include <string>

namespace voicetool {

// Records the microphone and plays every captured frame, split into 80-sample
// frames, through the voice output, for `seconds` (0: until Enter, end of
// input or a signal); prints a summary. False with the reason when capture or
// output cannot start.
bool Talk(double seconds, std::string &error);

// Plays a frame file at real-time pace, frames longer than 80 samples split by
// the G.726 `mode` (4 or 6), and waits until it is heard; prints a summary.
// Every frame is checked before anything plays: false with the reason naming
// the frame and its byte offset.
bool Play(const std::string &path, int16_t mode, std::string &error);

}  // namespace voicetool
