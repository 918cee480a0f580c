// The layout of a luma interpolation table, kept in one place for the C and
// vector kernel files: entry 4 * my + mx is the kernel of quarter-sample
// position (mx, my).
#pragma once

#include <type_traits>
#include <utility>

#include "h264dec/dsp/kernel_set.h"

namespace tessaly::h264 {

// kernel(mx, my) gets each position as a std::integral_constant, so that it
// can name a kernel template; an entry it answers with nullptr is left as it
// was (a vector set that keeps the baseline kernel for that position).
template <typename Kernel>
void FillLumaMcTable(LumaMcFn (&table)[16], Kernel kernel) {
    [&]<int... kIndex>(std::integer_sequence<int, kIndex...>) {
        const LumaMcFn fns[] = {
            kernel(std::integral_constant<int, kIndex % 4>{}, std::integral_constant<int, kIndex / 4>{})...};
        for (int i = 0; i < 16; i++)
            if (fns[i]) table[i] = fns[i];
    }
    (std::make_integer_sequence<int, 16>{});
}

}  // namespace tessaly::h264
