// Labels on each port's pictures through the text overlay, as a monitoring
// client shows them, top right: the file's name and a clock, the time of day
// for live cameras and the time into the file for record files. Polled from
// the main loop and set when the clock's text changes; a call replaces all
// four lines, so each port's lines stay ready and only the clock's text is
// rewritten. A network camera or container file has a third line, its
// state (connecting, playing, reconnecting in N s, failed), set when it changes.
#pragma once

#include <cstdint>
#include <vector>

#include "playback_session.h"
#include "tessaly/kova.h"

namespace tessaly::play {

class PortLabels {
public:
    // After the ports have opened.
    explicit PortLabels(const PlaybackSession &session);

    // From the main loop, often: sets the labels whose clock has moved on.
    void Update();

private:
    static constexpr uint32_t kNothingShown = ~0u;

    const PlaybackSession &session_;
    std::vector<KOVA_TextOsdInput> labels_;
    std::vector<uint32_t> shown_;  // seconds on each port's clock
};

}  // namespace tessaly::play
