#pragma once

#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace qarn::sim {

// The simulator's machine-readable record: one JSON object per line, for tests to assert on the
// bytes the tool sent and on what each converter did with them. Lines go to a file (when opened)
// and/or to memory (for tests that drive the fleet without a process).
//
//   {"t_ms":1203,"event":"datagram","src":"198.18.0.1:58009","dst":"255.255.255.255",...}
class CSimEventLog {
  public:
    CSimEventLog() = default;
    ~CSimEventLog();
    CSimEventLog(const CSimEventLog&) = delete;
    CSimEventLog& operator=(const CSimEventLog&) = delete;

    // Truncates or creates `path`; false with the reason in `why` when it cannot be opened.
    bool Open(const std::string& path, std::string* why);
    void KeepInMemory(bool keep) { m_keepInMemory = keep; }
    // Whether every datagram received and sent is written with its bytes (the default). Without
    // them only changes are written: a timing run then measures the converters, not the log.
    void SetDatagramsLogged(bool logged) { m_datagramsLogged = logged; }
    bool DatagramsLogged() const { return m_datagramsLogged; }

    void Write(const nlohmann::json& event);
    // Makes everything written so far visible to readers of the file.
    void Flush();

    const std::vector<nlohmann::json>& Events() const { return m_events; }
    void ClearEvents() { m_events.clear(); }

  private:
    FILE* m_file = nullptr;
    bool m_keepInMemory = false;
    bool m_datagramsLogged = true;
    std::vector<nlohmann::json> m_events;
};

} // namespace qarn::sim
