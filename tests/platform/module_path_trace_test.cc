// The library's own directory and the diagnostic output hook.
#include <unistd.h>

#include <climits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/module_path.h"
#include "platform/trace.h"

TEST(ModulePath, NamesTheDirectoryOfTheCodeThatAsks) {
    // Linked statically into this test, the code lives in the test executable.
    const std::string dir = tessaly::platform::LibraryDirectory();
    ASSERT_FALSE(dir.empty());
    EXPECT_EQ(dir.back(), '/');
    char exe[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    ASSERT_GT(n, 0);
    exe[n] = '\0';
    const std::string exePath(exe);
    EXPECT_EQ(exePath.substr(0, exePath.find_last_of('/') + 1), dir);
}

TEST(Trace, HookReceivesFormattedLinesCutToTheBuffer) {
    std::vector<std::string> lines;
    tessaly::platform::SetTraceHook([&](const std::string &line) { lines.push_back(line); });
    tessaly::platform::Trace("CVideoPlayer::Close() Wait Time Out, m_pVideoDecDDraw->nFlag %d", 3);
    tessaly::platform::Trace("%s", std::string(1000, 'x').c_str());
    tessaly::platform::SetTraceHook(nullptr);
    tessaly::platform::Trace("not captured");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "CVideoPlayer::Close() Wait Time Out, m_pVideoDecDDraw->nFlag 3");
    EXPECT_EQ(lines[1].size(), 255u);
}
