#include "h264dec/bitstream/sps_summary.h"

#include <algorithm>

#include "h264dec/bitstream/nal_scanner.h"
#include "h264dec/bitstream/param_sets.h"

namespace tessaly::h264 {
namespace {

// From vui_parameters_present_flag to the timing information; what follows it
// is not needed. A set cut short there just has no timing.
void ReadVuiTiming(BitReader &br, SpsSummary *out) {
    if (!br.ReadFlag()) return;                               // vui_parameters_present_flag
    if (br.ReadFlag() && br.ReadBits(8) == 255) br.Skip(32);  // aspect ratio; Extended_SAR
    if (br.ReadFlag()) br.Skip(1);                            // overscan
    if (br.ReadFlag()) {                                      // video signal type
        br.Skip(4);
        if (br.ReadFlag()) br.Skip(24);  // colour description
    }
    if (br.ReadFlag()) {  // chroma sample location
        br.ReadUe();
        br.ReadUe();
    }
    if (!br.ReadFlag()) return;  // timing_info_present_flag
    const uint32_t unitsInTick = br.ReadBits(32), timeScale = br.ReadBits(32);
    if (br.Overrun() || unitsInTick == 0 || timeScale == 0) return;
    out->hasTiming = true;
    out->numUnitsInTick = unitsInTick;
    out->timeScale = timeScale;
}

}  // namespace

bool ParseSpsSummary(const uint8_t *nal, size_t size, SpsSummary *out) {
    if (size < 2 || (nal[0] & 0x1F) != 7) return false;
    // The decoder's scanner strips the emulation-prevention bytes; the unit
    // is framed with start codes of our own. Its buffer holds the closing
    // start code too, and the scanner zeroes 8 bytes of padding after a unit.
    // Bounding the input bounds the unit, so the scanner never drops it for
    // its length.
    constexpr uint32_t kCapacity = kSpsSummaryMaxBytes + 3;
    uint8_t buffer[kCapacity + 8];
    NalScanner scanner;
    NalScannerInit(&scanner, buffer, kCapacity);
    static constexpr uint8_t kStartCode[3] = {0, 0, 1};
    NalUnit unit;
    NalScannerScan(&scanner, kStartCode, sizeof(kStartCode), &unit);
    size_t fed = NalScannerScan(&scanner, nal, std::min<size_t>(size, kSpsSummaryMaxBytes), &unit);
    if (unit.size == 0) fed += NalScannerScan(&scanner, kStartCode, sizeof(kStartCode), &unit);
    // A unit too short to keep is skipped by the scanner: whatever it closes
    // next is not the set asked about.
    if (unit.size == 0 || unit.inputBytes != fed) return false;

    // The largest decoder a creation record can ask for.
    static constexpr ParamSetLimits kDecoderLimits{352, 256, 16};
    BitReader br(unit.data + 1, unit.size - 1);
    Sps sps;
    if (ParseSps(br, kDecoderLimits, &sps) != kStatusOk || br.Overrun()) return false;
    out->widthMbs = sps.widthMbs;
    out->frameHeightMbs = sps.frameHeightMbs;
    out->codedWidth = sps.width;
    out->codedHeight = sps.height;
    out->cropLeft = sps.cropLeft;
    out->cropRight = sps.cropRight;
    out->cropTop = sps.cropTop;
    out->cropBottom = sps.cropBottom;
    out->width = sps.width - sps.cropLeft - sps.cropRight;
    out->height = sps.height - sps.cropTop - sps.cropBottom;
    out->numRefFrames = sps.numRefFrames;
    out->frameMbsOnly = sps.frameMbsOnly != 0;
    out->profileIdc = sps.profileIdc;
    out->levelIdc = sps.levelIdc;
    out->hasTiming = false;
    out->numUnitsInTick = out->timeScale = 0;
    ReadVuiTiming(br, out);
    return true;
}

}  // namespace tessaly::h264
