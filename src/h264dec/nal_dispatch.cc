// Routes each closed NAL unit by type: parameter sets, private SEI, slices.
#include "h264dec/decoder_context.h"

namespace tessaly::h264 {
namespace {

enum : uint32_t { kUnitRefused = 0x10000001 };

// A refused parameter set also retires the stored one with its id, so the
// slices meant for the refused set are dropped instead of decoded with stale
// values. The id is the set's first field (after profile and level for an SPS).
uint32_t StoreSps(H264Decoder *h, BitReader &br) {
    const ParamSetLimits limits{h->widthMbs, h->heightMbs, h->bufferCount};
    Sps &scratch = h->spsScratch;
    BitReader idReader = br;
    idReader.ReadBits(24);
    const uint32_t id = idReader.ReadUe();
    if (const uint32_t status = ParseSps(br, limits, &scratch)) {
        if (id < uint32_t(kMaxSps) && !idReader.Overrun()) h->spsStore[id].id = kMaxSps;
        return status;
    }
    h->spsStore[scratch.id] = scratch;
    h->sei.fieldCoding = 0;
    if (h->state == StreamState::kWaitSps) h->state = StreamState::kWaitPps;
    return kStatusOk;
}

uint32_t StorePps(H264Decoder *h, BitReader &br) {
    Pps &scratch = h->ppsScratch;
    BitReader idReader = br;
    const uint32_t id = idReader.ReadUe();
    if (const uint32_t status = ParsePps(br, h->spsStore, &scratch)) {
        if (id < uint32_t(kMaxPps) && !idReader.Overrun()) h->ppsStore[id].id = kMaxPps;
        return status;
    }
    h->ppsStore[scratch.id] = scratch;
    if (h->state == StreamState::kWaitPps) h->state = StreamState::kWaitIntra;
    return kStatusOk;
}

}  // namespace

void ProcessNalUnit(H264Decoder *h, const NalUnit &unit) {
    const uint8_t type = unit.data[0] & 0x1F;
    const uint8_t *payload = unit.data + 1;
    const uint32_t payloadSize = unit.size - 1;
    BitReader br(payload, payloadSize);
    uint32_t status = kStatusOk;
    // Workers read the current picture's state; nothing else may change it
    // underneath them.
    if (type == 6 || type == 7 || type == 8) WaitForSliceWorkers(h);
    switch (type) {
    case 1:
    case 5: status = ProcessSlice(h, unit); break;
    case 6: ReadPrivateSei(payload, payloadSize, &h->sei, &h->userData); break;
    case 7: status = StoreSps(h, br); break;
    case 8: status = StorePps(h, br); break;
    case 9:
    case 10:
    case 11:
    case 12: break;
    default: status = kUnitRefused; break;
    }
    (void)status;  // refusals are silent by design; the code helps when debugging
}

}  // namespace tessaly::h264
