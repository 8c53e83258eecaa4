#include "platform/Process.h"

#include <fcntl.h>
#include <string>
#include <unistd.h>

#include <gtest/gtest.h>

namespace qarn::platform {
namespace {

// What OutputDebugString writes to standard error while `body` runs.
template <typename Body>
std::string CaptureStandardError(Body body) {
    int pipeFds[2];
    EXPECT_EQ(pipe2(pipeFds, O_CLOEXEC), 0);
    const int saved = dup(STDERR_FILENO);
    dup2(pipeFds[1], STDERR_FILENO);
    body();
    dup2(saved, STDERR_FILENO);
    close(saved);
    close(pipeFds[1]);
    std::string text;
    char buffer[256];
    ssize_t n;
    while ((n = read(pipeFds[0], buffer, sizeof buffer)) > 0)
        text.append(buffer, static_cast<size_t>(n));
    close(pipeFds[0]);
    return text;
}

TEST(DebugOutputTest, WritesOneLineUnlessSwitchedOff) {
    EXPECT_EQ(CaptureStandardError([] { OutputDebugString("first"); }), "first\n");
    EXPECT_EQ(CaptureStandardError([] { OutputDebugString("second\n"); }), "second\n");

    SetDebugOutputEnabled(false);
    EXPECT_EQ(CaptureStandardError([] { OutputDebugString("hidden\n"); }), "");
    SetDebugOutputEnabled(true);
    EXPECT_EQ(CaptureStandardError([] { OutputDebugString("back"); }), "back\n");
}

} // namespace
} // namespace qarn::platform
