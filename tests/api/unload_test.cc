// Unloading the library while ports play sound and two-way voice runs stops
// all of it: no thread of the library or of SDL is left behind.
#include <dlfcn.h>

#include <cstdlib>
#include <filesystem>
#include <thread>

#include <gtest/gtest.h>

#include "tessaly/kova.h"

namespace {

int ThreadCount() {
    int n = 0;
    for ([[maybe_unused]] auto &entry : std::filesystem::directory_iterator("/proc/self/task")) ++n;
    return n;
}

template <typename Function>
Function Find(void *library, const char *name) {
    void *symbol = dlsym(library, name);
    EXPECT_NE(symbol, nullptr) << name;
    return reinterpret_cast<Function>(symbol);
}

void IgnoreFrame(const uint8_t *, uint32_t) {}

TEST(Unload, LeavesNoThreadBehind) {
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", "/dev/null", 1);
    setenv("SDL_DISKAUDIOFILEIN", "/dev/zero", 1);
    // A thread started and ended first: a sanitizer's runtime starts its own
    // helper thread with the process's first thread, and that one stays.
    std::thread([] {}).join();
    const int baseline = ThreadCount();
    for (int round = 0; round < 2; ++round) {
        void *library = dlopen(TESSALY_LIBRARY, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(library, nullptr) << dlerror();
        ASSERT_EQ(Find<decltype(&KOVA_Init)>(library, "KOVA_Init")(), KOVA_OK);
        ASSERT_EQ(Find<decltype(&KOVA_OpenStream)>(library, "KOVA_OpenStream")(2, 0, 1, 1), KOVA_OK);
        ASSERT_EQ(Find<decltype(&KOVA_Voice_StartOutput)>(library, "KOVA_Voice_StartOutput")(), KOVA_OK);
        ASSERT_EQ(Find<decltype(&KOVA_Voice_StartCapture)>(library, "KOVA_Voice_StartCapture")(IgnoreFrame), KOVA_OK);
        EXPECT_GT(ThreadCount(), baseline);
        ASSERT_EQ(dlclose(library), 0);
        EXPECT_EQ(ThreadCount(), baseline) << "round " << round;
    }
}

}  // namespace
