#include "CSimFleet.h"

#include "SimText.h"

namespace qarn::sim {

using nlohmann::json;

CSimFleet::CSimFleet(CSimEventLog& log, ISimAddressControl* control)
    : m_log(log), m_control(control) {}

CSimFleet::~CSimFleet() = default;

bool CSimFleet::Add(const SimConverterConfig& config, std::string* why) {
    const uint32_t ip = config.settings.ip;
    if (ip == 0 || ip == 0xFFFFFFFFu) {
        *why = "converter without a usable address";
        return false;
    }
    if (m_byIp.count(ip) != 0) {
        *why = "two converters at " + IpText(ip);
        return false;
    }
    m_converters.push_back(std::make_unique<CSimConverter>(config, *this));
    m_byIp[ip] = m_converters.back().get();
    return true;
}

const CSimConverter* CSimFleet::Find(uint32_t ip) const {
    const auto it = m_byIp.find(ip);
    return it == m_byIp.end() ? nullptr : it->second;
}

std::vector<CSimConverter*> CSimFleet::Targets(uint32_t dst,
                                               CSimConverter::Delivery* delivery) const {
    std::vector<CSimConverter*> targets;
    if (const auto it = m_byIp.find(dst); it != m_byIp.end()) {
        *delivery = CSimConverter::Delivery::Unicast;
        targets.push_back(it->second);
        return targets;
    }
    *delivery = CSimConverter::Delivery::Broadcast;
    for (const auto& converter : m_converters) {
        const SimSettings& s = converter->Settings();
        // A /31 or /32 network has no broadcast address of its own.
        if (dst == 0xFFFFFFFFu || (s.prefix < 31 && s.DirectedBroadcast() == dst))
            targets.push_back(converter.get());
    }
    return targets;
}

void CSimFleet::OnDatagram(uint64_t nowMs, uint32_t src, uint16_t srcPort, uint32_t dst,
                           const uint8_t* data, size_t size) {
    m_nowMs = nowMs;
    CSimConverter::Delivery delivery{};
    const auto targets = Targets(dst, &delivery);
    size_t silent = 0;
    for (const CSimConverter* target : targets)
        silent += target->Silent() ? 1 : 0;
    if (m_log.DatagramsLogged())
        LogEvent(nowMs, {{"event", "datagram"},
                         {"src", IpText(src) + ":" + std::to_string(srcPort)},
                         {"dst", IpText(dst)},
                         {"len", size},
                         {"hex", HexText(data, size)},
                         {"converters", targets.size() - silent},
                         {"restarting", silent}});
    for (CSimConverter* target : targets)
        target->OnDatagram(nowMs, src, srcPort, delivery, data, size);
}

void CSimFleet::Advance(uint64_t nowMs) {
    m_nowMs = nowMs;
    while (!m_wakes.empty() && m_wakes.begin()->first <= nowMs) {
        CSimConverter* converter = m_wakes.begin()->second;
        m_wakeOf.erase(converter);
        m_wakes.erase(m_wakes.begin());
        converter->OnWake(nowMs); // may ask for the next wake
    }
}

std::optional<uint64_t> CSimFleet::NextDueMs() const {
    std::optional<uint64_t> next;
    if (!m_sends.empty())
        next = m_sends.top().dueMs;
    if (!m_wakes.empty() && (!next || m_wakes.begin()->first < *next))
        next = m_wakes.begin()->first;
    return next;
}

std::vector<SimOutgoing> CSimFleet::TakeDue(uint64_t nowMs) {
    std::vector<SimOutgoing> due;
    while (!m_sends.empty() && m_sends.top().dueMs <= nowMs) {
        due.push_back(m_sends.top());
        m_sends.pop();
    }
    return due;
}

void CSimFleet::LogEvent(uint64_t nowMs, json event) {
    event["t_ms"] = nowMs;
    m_log.Write(event);
}

json CSimFleet::State() const {
    json converters = json::array();
    for (const auto& converter : m_converters)
        converters.push_back(converter->State());
    return {{"t_ms", m_nowMs}, {"pending_sends", m_sends.size()}, {"converters", converters}};
}

void CSimFleet::Send(const CSimConverter& sender, uint64_t dueMs, uint32_t from, uint32_t to,
                     uint16_t port, std::vector<uint8_t> bytes) {
    m_sends.push({dueMs, m_sequence++, from, to, port, sender.Ip(), std::move(bytes)});
}

void CSimFleet::Log(const CSimConverter& sender, json event) {
    event["conv"] = IpText(sender.Ip());
    LogEvent(m_nowMs, std::move(event));
}

bool CSimFleet::ChangeAddress(CSimConverter& sender, uint32_t newIp, std::string* why) {
    const uint32_t oldIp = sender.Ip();
    if (m_byIp.count(newIp) != 0) {
        *why = "address " + IpText(newIp) + " is held by another converter";
        return false;
    }
    std::string control = "none";
    if (m_control != nullptr) {
        std::string failure;
        control = m_control->Move(oldIp, newIp, &failure) ? "ok" : "failed: " + failure;
    }
    m_byIp.erase(oldIp);
    m_byIp[newIp] = &sender;
    LogEvent(m_nowMs, {{"event", "address_moved"},
                       {"conv", IpText(oldIp)},
                       {"from", IpText(oldIp)},
                       {"to", IpText(newIp)},
                       {"control", control}});
    return true;
}

void CSimFleet::SetPresent(const CSimConverter& sender, bool present) {
    if (m_control == nullptr)
        return;
    std::string failure;
    const bool ok =
        present ? m_control->Add(sender.Ip(), &failure) : m_control->Remove(sender.Ip(), &failure);
    Log(sender, {{"event", present ? "address_added" : "address_removed"},
                 {"control", ok ? "ok" : "failed: " + failure}});
}

void CSimFleet::WakeAt(CSimConverter& sender, uint64_t whenMs) {
    if (const auto it = m_wakeOf.find(&sender); it != m_wakeOf.end()) {
        m_wakes.erase(it->second);
        m_wakeOf.erase(it);
    }
    m_wakeOf[&sender] = m_wakes.emplace(whenMs, &sender);
}

} // namespace qarn::sim
