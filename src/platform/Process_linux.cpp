#include "platform/FileOps.h"
#include "platform/Process.h"

#include <atomic>
#include <limits.h>
#include <string>
#include <sys/syscall.h>
#include <unistd.h>

namespace qarn::platform {

std::optional<std::string> GetModuleFileName() {
    char buffer[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer);
    if (n <= 0 || n >= static_cast<ssize_t>(sizeof buffer))
        return std::nullopt;
    return std::string(buffer, static_cast<size_t>(n));
}

std::optional<std::string> GetModuleBaseName() {
    auto path = GetModuleFileName();
    if (!path)
        return std::nullopt;
    const auto slash = path->rfind('/');
    std::string base = slash == std::string::npos ? *path : path->substr(slash + 1);
    if (base.empty())
        return std::nullopt;
    return base;
}

uint32_t GetCurrentThreadId() {
    return static_cast<uint32_t>(syscall(SYS_gettid));
}

namespace {
std::atomic<bool> g_debugOutputEnabled{true};
} // namespace

void SetDebugOutputEnabled(bool enabled) {
    g_debugOutputEnabled.store(enabled);
}

void OutputDebugString(std::string_view text) {
    if (!g_debugOutputEnabled.load())
        return;
    std::string line(text);
    if (line.empty() || line.back() != '\n')
        line.push_back('\n');
    // One write call keeps the line whole against other threads writing to the same stream.
    WriteAll(STDERR_FILENO, line.data(), line.size());
}

} // namespace qarn::platform
