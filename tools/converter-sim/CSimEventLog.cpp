#include "CSimEventLog.h"

#include "platform/FileOps.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace qarn::sim {

CSimEventLog::~CSimEventLog() {
    if (m_file != nullptr)
        std::fclose(m_file);
}

bool CSimEventLog::Open(const std::string& path, std::string* why) {
    // Never through a link or into another user's file: the simulator runs as root.
    const int fd = platform::OpenOwnRegularFile(path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    FILE* file = fd >= 0 ? fdopen(fd, "w") : nullptr;
    if (file == nullptr) {
        if (fd >= 0)
            close(fd);
        if (why != nullptr)
            *why = path + ": " + std::strerror(errno);
        return false;
    }
    if (m_file != nullptr)
        std::fclose(m_file);
    m_file = file;
    return true;
}

void CSimEventLog::Write(const nlohmann::json& event) {
    if (m_file != nullptr) {
        // Bytes that are not UTF-8 (a serial number from a write, say) are replaced, not thrown.
        const std::string line =
            event.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
        std::fwrite(line.data(), 1, line.size(), m_file);
        std::fputc('\n', m_file);
    }
    if (m_keepInMemory)
        m_events.push_back(event);
}

void CSimEventLog::Flush() {
    if (m_file != nullptr)
        std::fflush(m_file);
}

} // namespace qarn::sim
