#include "net/CSupport.h"

#include "diag/FileLogger.h"
#include "net/CPing.h"
#include "platform/Compiler.h"
#include "platform/NameLookup.h"
#include "platform/SocketLibrary.h"

#include <cstdarg>
#include <cstdio>
#include <thread>
#include <vector>

namespace qarn {

namespace {

// The helpers log texts that come from the caller (host names), so lines are not cut at a fixed
// length.
QARN_PRINTF_FORMAT(1, 2) std::string Format(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    va_list measure;
    va_copy(measure, arguments);
    const int size = std::vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    std::vector<char> line(size > 0 ? static_cast<size_t>(size) + 1 : 1, '\0');
    std::vsnprintf(line.data(), line.size(), format, arguments);
    va_end(arguments);
    return line.data();
}

// Starts the socket library for GetIP; false (logged) when it is not usable. A start-up that
// succeeded with another version is undone here, so that the count of users stays balanced.
bool StartSocketLibrary() {
    constexpr uint16_t kRequested = CPing::kRequestedVersion;
    uint16_t obtained = 0;
    const int32_t code = platform::SocketLibraryStartup(kRequested, &obtained);
    if (code != 0) {
        if (IsErrorLogEnabled())
            LogError(Format("CSupport::GetIP: WSAStartup (requested version:%u) failure. Code:%d",
                            static_cast<unsigned>(kRequested), code));
        return false;
    }
    if (obtained != kRequested) {
        if (IsErrorLogEnabled())
            LogError(Format("CSupport::GetIP: WSAStartup failure. requested version:%u but got:%u",
                            static_cast<unsigned>(kRequested), static_cast<unsigned>(obtained)));
        platform::SocketLibraryCleanup();
        return false;
    }
    return true;
}

} // namespace

uint32_t CSupport::GetIP(const char* text) {
    if (text == nullptr || *text == '\0')
        return 0;
    if (!StartSocketLibrary())
        return 0;
    const platform::NameLookupResult found = platform::LookupHostIPv4(text);
    if (found.status == platform::NameLookupStatus::Failed && IsErrorLogEnabled())
        LogError(Format("CSupport::GetIP(): error calling 'WSALookupServiceBegin' code:%d",
                        static_cast<int>(found.error)));
    platform::SocketLibraryCleanup();
    return found.status == platform::NameLookupStatus::Found ? found.address : 0;
}

bool CSupport::PingWait(const char* text, int32_t retries) {
    // A null text is shown as empty rather than handed to "%s".
    const char* shown = text != nullptr ? text : "";
    if (IsDebugLogEnabled())
        LogDebug(
            Format("CSupport::PingWait: IP:'%s' Retries:%d", shown, static_cast<int>(retries)));
    CPing ping;
    for (int32_t i = 0; i < retries; ++i) {
        if (ping.PingHost(text, kPingTimeoutMs, kPingTtl) == CPing::kReply) {
            if (IsDebugLogEnabled())
                LogDebug(Format("CSupport::PingWait: IP:'%s' Done(Retries:%d) -> reachable", shown,
                                static_cast<int>(i)));
            return true;
        }
        std::this_thread::yield();
    }
    if (IsWarningLogEnabled())
        LogWarning(Format("CSupport::PingWait: IP:'%s' Done(Retries:%d) -> not reachable", shown,
                          static_cast<int>(retries)));
    return false;
}

} // namespace qarn
