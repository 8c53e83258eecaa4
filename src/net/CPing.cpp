#include "net/CPing.h"

#include "diag/FileLogger.h"
#include "net/CSupport.h"
#include "platform/Compiler.h"
#include "platform/Icmp.h"
#include "platform/SocketLibrary.h"

#include <cstdarg>
#include <cstdio>

namespace qarn {

namespace {

// The handle value the echo facility reports when it cannot be opened.
constexpr uint32_t kInvalidHandle = 0xffffffff;

QARN_PRINTF_FORMAT(1, 2) std::string Format(const char* format, ...) {
    char line[256];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(line, sizeof line, format, arguments);
    va_end(arguments);
    return line;
}

} // namespace

CPing::CPing() {
    uint16_t obtained = 0;
    const int32_t code = platform::SocketLibraryStartup(kRequestedVersion, &obtained);
    if (code != 0) {
        if (IsErrorLogEnabled())
            LogError(Format("CPing::CPing: WSAStartup (requested version:%u) failure. Code:%d",
                            static_cast<unsigned>(kRequestedVersion), code));
        return;
    }
    m_started = true;
    if (obtained != kRequestedVersion) {
        if (IsErrorLogEnabled())
            LogError(Format("CPing::CPing: WSAStartup failure. requested version:%u but got:%u",
                            static_cast<unsigned>(kRequestedVersion),
                            static_cast<unsigned>(obtained)));
        return;
    }
    initialized = true;
}

CPing::~CPing() {
    // Only a start-up that succeeded is undone: a failed one must not end another user's.
    if (m_started)
        platform::SocketLibraryCleanup();
}

int32_t CPing::Ping(uint32_t address, uint32_t timeoutMs, uint32_t ttl) {
    replyAddress = 0;
    targetAddress = 0;
    if (!initialized)
        return kLibraryNotUsable;
    if (address == 0)
        return kNoAddress;
    platform::IcmpEcho echo;
    if (!echo.IsValid()) {
        if (IsErrorLogEnabled())
            LogError(Format("CPing: IcmpCreateFile failure. handle:0x%x code:%u", kInvalidHandle,
                            static_cast<unsigned>(echo.OpenError())));
        return kNoUsableReply;
    }
    platform::IcmpEchoReply reply;
    if (!echo.SendEcho(address, static_cast<uint8_t>(ttl & 0xFF), timeoutMs, &reply))
        return kNoUsableReply;
    replyAddress = reply.address;
    targetAddress = address;
    if (reply.status == platform::kIpSuccess)
        return kReply;
    if (IsInfoLogEnabled())
        LogInfo(Format("CPing: IcmpSendEcho returns %u", static_cast<unsigned>(reply.status)));
    return kNoUsableReply;
}

int32_t CPing::PingHost(const char* text, uint32_t timeoutMs, uint32_t ttl) {
    replyAddress = 0;
    targetAddress = 0;
    if (!initialized)
        return kLibraryNotUsable;
    const uint32_t address = CSupport::GetIP(text);
    if (address == 0)
        return kNoAddress;
    return Ping(address, timeoutMs, ttl);
}

} // namespace qarn
