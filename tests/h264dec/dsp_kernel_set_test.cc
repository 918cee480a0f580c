// Kernel table selection and the processor probe.
#include <gtest/gtest.h>

#include "h264dec/dsp/kernel_set.h"

namespace tessaly::h264 {
namespace {

TEST(KernelSet, EveryMemberIsFilledForUsableLevels) {
    EXPECT_EQ(KernelSetGet(0), nullptr);
    EXPECT_EQ(KernelSetGet(1), nullptr);
    for (int level = 2; level <= 5; level++) {
        const KernelSet *ks = KernelSetGet(level);
        ASSERT_NE(ks, nullptr) << level;
        // The struct is nothing but function pointers: none may be left empty.
        const auto *slots = reinterpret_cast<void *const *>(ks);
        for (size_t i = 0; i < sizeof(KernelSet) / sizeof(void *); i++)
            EXPECT_NE(slots[i], nullptr) << level << " slot " << i;
    }
}

TEST(CpuLevel, ProbeIsInRangeAndStable) {
    const int level = CpuLevelProbe();
    EXPECT_GE(level, 0);
    EXPECT_LE(level, 5);
    EXPECT_EQ(level, CpuLevelProbe());
#if defined(__x86_64__)
    // SSE2 is part of x86-64 and every 64-bit OS saves its state.
    EXPECT_GE(level, 4);
#endif
}

}  // namespace
}  // namespace tessaly::h264
