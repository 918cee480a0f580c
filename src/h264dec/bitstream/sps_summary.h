// A sequence parameter set summarised for callers outside the decoder (the
// player's key-frame probe, the tools), parsed by the decoder's own parser
// within the decoder's bounds, so all of them agree on what a set says; and
// the frame rate its VUI announces.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tessaly::h264 {

struct SpsSummary {
    uint32_t widthMbs = 0, frameHeightMbs = 0;  // PicWidthInMbs, FrameHeightInMbs (field coding applied)
    uint32_t codedWidth = 0, codedHeight = 0;   // the macroblock sizes x16
    uint32_t cropLeft = 0, cropRight = 0, cropTop = 0, cropBottom = 0;  // luma pixels
    uint32_t width = 0, height = 0;                                     // cropped picture size
    uint32_t numRefFrames = 0;
    bool frameMbsOnly = true;
    uint8_t profileIdc = 0, levelIdc = 0;
    // The VUI timing information, when the set carries it (the decoder itself
    // does not read the VUI).
    bool hasTiming = false;
    uint32_t numUnitsInTick = 0, timeScale = 0;

    // Frames per second: time_scale / (2 x num_units_in_tick), one frame being
    // two field ticks; 0 when the set does not say.
    double FrameRate() const { return hasTiming ? double(timeScale) / (2.0 * numUnitsInTick) : 0; }
};

// Sets are small: longer units are looked at up to this many bytes only.
inline constexpr uint32_t kSpsSummaryMaxBytes = 1024;

// nal points at the NAL header byte (type 7); size bytes reach up to the end
// of the unit, or further: a start code 00 00 01 ends the unit early. False
// when the set does not parse, is cut short, or is larger than 352 x 256
// macroblocks; *out is then unchanged. Allocates nothing.
bool ParseSpsSummary(const uint8_t *nal, size_t size, SpsSummary *out);

}  // namespace tessaly::h264
