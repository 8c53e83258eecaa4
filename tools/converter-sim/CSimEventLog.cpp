#include "CSimEventLog.h"

#include <cerrno>
#include <cstring>

namespace qarn::sim {

CSimEventLog::~CSimEventLog() {
    if (m_file != nullptr)
        std::fclose(m_file);
}

bool CSimEventLog::Open(const std::string& path, std::string* why) {
    FILE* file = std::fopen(path.c_str(), "w");
    if (file == nullptr) {
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
