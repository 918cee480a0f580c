#include "h264dec/slice/cabac_contexts.h"

#include "h264dec/tables/cabac_decision_table.h"
#include "h264dec/tables/tables.h"

namespace tessaly::h264 {

void InitCabacContexts(CabacContext *ctx, SliceType type, int cabacInitIdc, int sliceQp) {
    const int8_t(*mn)[2] = type == SliceType::kI ? kCabacInitI : kCabacInitP[cabacInitIdc > 2 ? 0 : cabacInitIdc];
    const int qp = sliceQp < 0 ? 0 : (sliceQp > 51 ? 51 : sliceQp);
    for (int i = 0; i < kNumCabacContexts; ++i) {
        int pre = ((mn[i][0] * qp) >> 4) + mn[i][1];
        pre = pre < 1 ? 1 : (pre > 126 ? 126 : pre);
        const int s = pre <= 63 ? (63 - pre) << 1 : ((pre - 64) << 1) | 1;  // pStateIdx << 1 | valMPS
        ctx[i] = CabacContext(kCabacDecisionTable.word[s]);
    }
}

}  // namespace tessaly::h264
