// The decoder handle: everything one H.264 stream needs, allocated once.
//
// Slice-thread workers (slice_threads.h) copy SliceParams (plain data) and own
// a SliceDecoder and NalBuffer each; the picture layer keeps everything else
// here, on the caller's thread.
#pragma once

#include <cstdint>

#include "h264dec/bitstream/nal_scanner.h"
#include "h264dec/bitstream/param_sets.h"
#include "h264dec/bitstream/private_sei.h"
#include "h264dec/bitstream/slice_header.h"
#include "h264dec/h264_decoder.h"
#include "h264dec/picture/dpb.h"
#include "h264dec/picture/poc.h"
#include "h264dec/picture/ref_list.h"
#include "h264dec/slice_params.h"

namespace tessaly::h264 {

struct KernelSet;
class SliceDecoder;
struct SliceThreads;

enum class StreamState : uint8_t { kWaitSps = 0, kWaitPps = 1, kWaitIntra = 2, kDecoding = 3 };

// Values of the previous slice that new-picture detection compares against.
struct PrevSliceValues {
    uint32_t ppsId = 0;
    uint8_t nalRefIdc = 0;
    uint32_t frameNum = 0;
    uint8_t idr = 0;
    uint32_t idrPicId = 0;
    uint8_t fieldPic = 0;
    uint8_t bottomField = 0;
    uint32_t pocLsb = 0;
    int32_t deltaPocBottom = 0;
    int32_t deltaPoc[2] = {0, 0};
};

inline constexpr uint32_t kForgottenIdrPicId = 0xFFFFFFFFu;

}  // namespace tessaly::h264

struct H264Decoder {
    // Creation values after defaults and bounds.
    uint32_t widthMbs = 0, heightMbs = 0, bufferCount = 0, modeFlags = 0;
    uint32_t maxWidth = 0, maxHeight = 0;  // W, H in luma samples
    size_t pictureBytes = 0;               // S
    const tessaly::h264::KernelSet *kernels = nullptr;

    // Blocks from the allocation routine.
    uint8_t *pictureBlock = nullptr;
    uint8_t *outputBuffer = nullptr;
    uint8_t *historyPlane = nullptr;
    uint8_t *mbDecoded = nullptr;  // per macroblock of the current frame picture, without slice threads
    uint8_t *nalBuffer = nullptr;
    tessaly::h264::Sps *spsStore = nullptr;
    tessaly::h264::Pps *ppsStore = nullptr;
    tessaly::h264::SliceDecoder *sliceDecoder = nullptr;
    tessaly::h264::SliceThreads *threads = nullptr;  // DEC_MODE_SLICE_THREADS only

    // Input across calls.
    tessaly::h264::NalScanner scanner;
    const uint8_t *pending = nullptr;
    size_t pendingLength = 0, pendingPos = 0;
    uint8_t streamEnded = 0;
    uint8_t endMarkerFed = 0;
    uint32_t userLow = 0, userHigh = 0;

    // Parameter sets and stream state.
    tessaly::h264::StreamState state = tessaly::h264::StreamState::kWaitSps;
    tessaly::h264::Sps activeSps;
    tessaly::h264::Pps activePps;
    tessaly::h264::Sps spsScratch;
    tessaly::h264::Pps ppsScratch;
    uint8_t dequantValid = 0;
    tessaly::h264::PrivateSeiState sei;
    tessaly::h264::UserDataRecord userData{};

    // Slices and pictures.
    tessaly::h264::SliceHeader slice;          // slice being processed
    tessaly::h264::SliceHeader pictureHeader;  // first slice of the current picture
    tessaly::h264::PrevSliceValues prev;
    uint8_t havePrev = 0;
    tessaly::h264::PocState poc;
    uint32_t prevRefFrameNum = 0;
    tessaly::h264::Picture *current = nullptr;
    tessaly::h264::Picture *lastReference = nullptr;  // the source of concealment
    uint8_t currentStructure = 0;
    int32_t currentMbs = 0;
    int32_t currentExpectedMbs = 0;
    uint8_t sliceLayerStarted = 0;  // SliceDecoderStartPicture called for `current`
    tessaly::h264::Dpb dpb;
    tessaly::h264::RefListEntry refList[tessaly::h264::kRefListSize];
    alignas(16) tessaly::h264::DequantTables dequant;
    tessaly::h264::SliceParams sliceParams;
};

namespace tessaly::h264 {

// Unit dispatcher: one closed NAL unit.
void ProcessNalUnit(H264Decoder *h, const NalUnit &unit);
// Slice units (nal_unit_type 1 and 5).
uint32_t ProcessSlice(H264Decoder *h, const NalUnit &unit);
// Picture lifecycle.
bool StartPicture(H264Decoder *h, const SliceHeader &sh);
void ClosePicture(H264Decoder *h);
// Slice threads: waits until no worker is busy (no-op without threads).
void WaitForSliceWorkers(H264Decoder *h);
// Resets StreamState, scanner, DPB and stores (creation).
void ResetStream(H264Decoder *h);

}  // namespace tessaly::h264
