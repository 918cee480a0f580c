// LevelScale tables (scaling list x normAdjust) for the active picture parameter set.
#pragma once

#include "h264dec/bitstream/param_sets.h"
#include "h264dec/slice_params.h"

namespace tessaly::h264 {

void BuildDequantTables(const ScalingLists &lists, DequantTables *out);

}  // namespace tessaly::h264
