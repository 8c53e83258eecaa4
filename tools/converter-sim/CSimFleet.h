#pragma once

#include "CSimConverter.h"
#include "CSimEventLog.h"
#include "ISimAddressControl.h"
#include "ISimHost.h"

#include <cstdint>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include <queue>

namespace qarn::sim {

// A datagram a converter wants on the wire at `dueMs`.
struct SimOutgoing {
    uint64_t dueMs = 0;
    uint64_t sequence = 0; // keeps the order of datagrams due at the same time
    uint32_t from = 0;     // source address, host order
    uint32_t to = 0;
    uint16_t port = 0;
    uint32_t converter = 0; // the sender's own address when it was queued
    std::vector<uint8_t> bytes;
};

// Many converters behind one socket: hands each received datagram to the converters it is
// addressed to (its own address, the limited broadcast, or a converter's directed broadcast), keeps
// their answers in time order until they are due, and runs their timers. It does no I/O itself:
// the caller passes the time in and takes the due datagrams out, so tests drive it directly.
class CSimFleet : public ISimHost {
  public:
    explicit CSimFleet(CSimEventLog& log, ISimAddressControl* control = nullptr);
    ~CSimFleet() override;
    CSimFleet(const CSimFleet&) = delete;
    CSimFleet& operator=(const CSimFleet&) = delete;

    // False (nothing added) when the address is 0 or already taken.
    bool Add(const SimConverterConfig& config, std::string* why);

    void OnDatagram(uint64_t nowMs, uint32_t src, uint16_t srcPort, uint32_t dst,
                    const uint8_t* data, size_t size);
    // Runs the converter timers that are due.
    void Advance(uint64_t nowMs);
    // The earliest time at which a datagram or a timer is due; empty when nothing waits.
    std::optional<uint64_t> NextDueMs() const;
    // Removes and returns the datagrams due by `nowMs`, earliest first.
    std::vector<SimOutgoing> TakeDue(uint64_t nowMs);
    size_t PendingSends() const { return m_sends.size(); }

    size_t Size() const { return m_converters.size(); }
    const CSimConverter& At(size_t index) const { return *m_converters[index]; }
    const CSimConverter* Find(uint32_t ip) const;

    // Writes an event with the time; for the socket side's own events.
    void LogEvent(uint64_t nowMs, nlohmann::json event);
    nlohmann::json State() const;

    // ISimHost
    void Send(const CSimConverter& sender, uint64_t dueMs, uint32_t from, uint32_t to,
              uint16_t port, std::vector<uint8_t> bytes) override;
    void Log(const CSimConverter& sender, nlohmann::json event) override;
    bool ChangeAddress(CSimConverter& sender, uint32_t newIp, std::string* why) override;
    void SetPresent(const CSimConverter& sender, bool present) override;
    void WakeAt(CSimConverter& sender, uint64_t whenMs) override;

  private:
    struct Later {
        bool operator()(const SimOutgoing& a, const SimOutgoing& b) const {
            return a.dueMs != b.dueMs ? a.dueMs > b.dueMs : a.sequence > b.sequence;
        }
    };
    std::vector<CSimConverter*> Targets(uint32_t dst, CSimConverter::Delivery* delivery) const;

    CSimEventLog& m_log;
    ISimAddressControl* m_control;
    uint64_t m_nowMs = 0;
    uint64_t m_sequence = 0;
    std::vector<std::unique_ptr<CSimConverter>> m_converters;
    std::unordered_map<uint32_t, CSimConverter*> m_byIp;
    std::priority_queue<SimOutgoing, std::vector<SimOutgoing>, Later> m_sends;
    std::multimap<uint64_t, CSimConverter*> m_wakes;
    std::unordered_map<const CSimConverter*, std::multimap<uint64_t, CSimConverter*>::iterator>
        m_wakeOf;
};

} // namespace qarn::sim
