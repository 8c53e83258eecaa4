#include "platform/Process.h"
#include "platform/WinText.h"
#include "platform/WindowsApi.h"

#include <atomic>
#include <string>

namespace qarn::platform {

std::optional<std::string> GetModuleFileName() {
    // Paths may pass MAX_PATH (long path support): grow the buffer until the name fits.
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n =
            GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0)
            return std::nullopt;
        if (n < buffer.size()) {
            buffer.resize(n);
            return WideToUtf8(buffer);
        }
        if (buffer.size() >= 32768)
            return std::nullopt;
        buffer.resize(buffer.size() * 2);
    }
}

std::optional<std::string> GetModuleBaseName() {
    auto path = GetModuleFileName();
    if (!path)
        return std::nullopt;
    const auto slash = path->find_last_of("\\/");
    std::string base = slash == std::string::npos ? *path : path->substr(slash + 1);
    if (base.empty())
        return std::nullopt;
    return base;
}

uint32_t GetCurrentThreadId() {
    return static_cast<uint32_t>(::GetCurrentThreadId());
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
    // A debugger sees the line too; standard error gets it as one write so that lines of several
    // threads do not mix.
    ::OutputDebugStringW(Utf8ToWide(line).c_str());
    const HANDLE error = ::GetStdHandle(STD_ERROR_HANDLE);
    if (error == nullptr || error == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    (void)::WriteFile(error, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

} // namespace qarn::platform
