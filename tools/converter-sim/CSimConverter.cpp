#include "CSimConverter.h"

#include "SimText.h"
#include "SimWire.h"
#include "platform/ByteOrder.h"
#include "protocol/LANconvConfigHdr.h"
#include "protocol/Scramble.h"

#include <algorithm>

namespace qarn::sim {

namespace {

using nlohmann::json;

std::string Hex8(uint32_t value) {
    char text[12];
    std::snprintf(text, sizeof text, "0x%02X", value);
    return text;
}

// The fields of a write that the converter takes, as the log shows them.
json WriteFields(const SimSettings& s) {
    return json{{"ip", IpText(s.ip)},
                {"gateway", IpText(s.gateway)},
                {"prefix", s.prefix},
                {"option_a", s.optionA},
                {"extra_ip", IpText(s.extraIp)},
                {"option_b", s.optionB},
                {"option_d", s.optionD},
                {"peer", IpText(s.peer)},
                {"port1", s.port1},
                {"port2", s.port2},
                {"code", s.code},
                {"letter", s.letter},
                {"system_type", s.systemType},
                {"option_e", s.optionE}};
}

bool UsableAddress(uint32_t ip) {
    return ip != 0 && ip != 0xFFFFFFFFu && (ip >> 28) < 0xE; // not multicast or class E
}

} // namespace

CSimConverter::CSimConverter(const SimConverterConfig& config, ISimHost& host)
    : m_config(config), m_host(host), m_random(config.seed), m_firmware(config.EffectiveLayout()) {}

void CSimConverter::Log(json event) {
    m_host.Log(*this, std::move(event));
}

uint32_t CSimConverter::NextSeed() {
    return static_cast<uint32_t>(m_random());
}

uint32_t CSimConverter::DrawDelay() {
    const SimDelay& d = m_config.delay;
    if (d.maxMs <= d.minMs)
        return d.minMs;
    return std::uniform_int_distribution<uint32_t>(d.minMs, d.maxMs)(m_random);
}

bool CSimConverter::LoseIncoming() {
    const double share = m_config.misbehave.lossIn;
    return share > 0 && std::uniform_real_distribution<double>(0, 1)(m_random) < share;
}

bool CSimConverter::LoseOutgoing() {
    const double share = m_config.misbehave.lossOut;
    return share > 0 && std::uniform_real_distribution<double>(0, 1)(m_random) < share;
}

void CSimConverter::OnDatagram(uint64_t nowMs, uint32_t src, uint16_t srcPort, Delivery delivery,
                               const uint8_t* data, size_t size) {
    if (m_phase == Phase::Restarting || data == nullptr)
        return;
    if (LoseIncoming()) {
        Log({{"event", "lost_in"}, {"len", size}});
        return;
    }
    if (size == 4 && data[0] == 0 && data[1] == 0 && data[2] == 0 && BlockForRequest(data[3]))
        return OnBlockRequest(nowMs, src, srcPort, data[3]);
    if (size < kHeaderSize || data[0] != 1)
        return;
    switch (data[1]) {
    case kCmdDiscoveryRequest:
        return OnDiscovery(nowMs, src, srcPort);
    case kCmdConfiguration:
    case kCmdWriteByMac:
        return OnWrite(src, delivery, data, size);
    case kCmdFirmwareBlock:
        if (delivery == Delivery::Unicast)
            OnFirmwareBlock(nowMs, src, srcPort, data, size);
        return;
    case kCmdFirmwareCommit:
        if (delivery == Delivery::Unicast)
            OnCommit(nowMs, src, srcPort, data);
        return;
    default:
        return;
    }
}

void CSimConverter::Answer(uint64_t nowMs, uint32_t delayMs, uint32_t to, uint16_t port,
                           std::vector<uint8_t> bytes) {
    const SimMisbehaviour& m = m_config.misbehave;
    const uint32_t from = m.answerFrom != 0 ? m.answerFrom : m_config.settings.ip;
    for (uint32_t copy = 0; copy <= m.duplicates; ++copy) {
        if (LoseOutgoing()) {
            Log({{"event", "lost_out"}, {"len", bytes.size()}});
            continue;
        }
        m_host.Send(*this, nowMs + delayMs, from, to, port, bytes);
    }
    ++m_answers;
}

void CSimConverter::OnDiscovery(uint64_t nowMs, uint32_t src, uint16_t srcPort) {
    const uint32_t delay = DrawDelay();
    const SimAnswerStyle style = m_config.style;
    json sent = json::array();
    if (style != SimAnswerStyle::Blocks) {
        const size_t length =
            style == SimAnswerStyle::Config80 ? kConfigAnswerShort : kConfigAnswerLong;
        auto bytes = BuildConfigurationAnswer(m_config.settings, NextSeed(), length);
        if (m_config.misbehave.configAnswerLength != 0)
            bytes.resize(m_config.misbehave.configAnswerLength, 0);
        sent.push_back("config" + std::to_string(bytes.size()));
        Answer(nowMs, delay, src, srcPort, std::move(bytes));
    }
    if (style == SimAnswerStyle::Blocks || style == SimAnswerStyle::ConfigAndBlocks) {
        for (const uint8_t code : m_config.blockCodes) {
            sent.push_back(Hex8(code));
            Answer(nowMs, delay, src, srcPort, BuildBlockAnswer(code, m_config.settings));
        }
    }
    Log({{"event", "answered"}, {"to", IpText(src)}, {"delay_ms", delay}, {"answers", sent}});
}

void CSimConverter::OnBlockRequest(uint64_t nowMs, uint32_t src, uint16_t srcPort, uint8_t code) {
    const SimAnswerStyle style = m_config.style;
    if (style != SimAnswerStyle::Blocks && style != SimAnswerStyle::ConfigAndBlocks)
        return;
    const uint8_t block = BlockForRequest(code);
    Answer(nowMs, DrawDelay(), src, srcPort, BuildBlockAnswer(block, m_config.settings));
    Log({{"event", "answered"}, {"to", IpText(src)}, {"answers", json::array({Hex8(block)})}});
}

void CSimConverter::OnWrite(uint32_t src, Delivery delivery, const uint8_t* data, size_t size) {
    SimConfigurationWrite write;
    if (!ParseConfigurationWrite(data, size, &write)) {
        if (delivery == Delivery::Unicast)
            Log({{"event", "write_refused"}, {"reason", "not an 88-byte write"}, {"len", size}});
        return;
    }
    const bool macMatches = write.fields.mac == m_config.settings.mac;
    const bool byAddress = delivery == Delivery::Unicast && write.cmd == kCmdConfiguration;
    if (!byAddress && !macMatches) {
        if (delivery == Delivery::Unicast)
            Log({{"event", "write_refused"}, {"reason", "MAC address differs"}});
        return;
    }
    json event = {{"cmd", Hex8(write.cmd)},
                  {"from", IpText(src)},
                  {"via", delivery == Delivery::Unicast ? "unicast" : "broadcast"},
                  {"fields", WriteFields(write.fields)},
                  {"kept",
                   {{"marker", write.fields.marker},
                    {"mac", MacText(write.fields.mac)},
                    {"serial", write.fields.serial}}}};
    std::string why;
    const uint32_t oldIp = m_config.settings.ip;
    if (!CheckWrite(write.fields, &why) ||
        (write.fields.ip != oldIp && !m_host.ChangeAddress(*this, write.fields.ip, &why))) {
        event["event"] = "write_refused";
        event["reason"] = why;
        Log(std::move(event));
        return;
    }
    ApplyWrite(write.fields);
    event["event"] = "write_applied";
    event["old_ip"] = IpText(oldIp);
    Log(std::move(event));
}

bool CSimConverter::CheckWrite(const SimSettings& fields, std::string* why) const {
    if (fields.prefix > 32) {
        *why = "prefix length " + std::to_string(fields.prefix) + " out of range";
        return false;
    }
    if (!UsableAddress(fields.ip)) {
        *why = "address " + IpText(fields.ip) + " cannot be a converter's";
        return false;
    }
    return true;
}

// The factory data (generation marker, MAC address, serial number) stays as it is: a write carries
// them to identify the converter, not to change them.
void CSimConverter::ApplyWrite(const SimSettings& f) {
    SimSettings& s = m_config.settings;
    s.ip = f.ip;
    s.gateway = f.gateway;
    s.prefix = f.prefix;
    s.optionA = f.optionA;
    s.extraIp = f.extraIp;
    s.optionB = f.optionB;
    s.optionD = f.optionD;
    s.peer = f.peer;
    s.port1 = f.port1;
    s.port2 = f.port2;
    s.code = f.code;
    s.letter = f.letter;
    s.systemType = f.systemType;
    s.optionE = f.optionE;
}

bool CSimConverter::FaultHits(SimFault& fault, uint32_t& used, uint16_t number) {
    if (!fault.enabled || (fault.block && *fault.block != number) ||
        (fault.times != 0 && used >= fault.times))
        return false;
    ++used;
    return true;
}

bool CSimConverter::FirmwareSilenced(uint32_t dwBlock, bool commit) {
    const auto& from = m_config.misbehave.silentFromBlock;
    if (!m_firmwareSilent && from && !commit && (dwBlock & 0xFFFF) >= *from) {
        m_firmwareSilent = true;
        Log({{"event", "firmware_silent"}, {"block", dwBlock & 0xFFFF}});
    }
    return m_firmwareSilent;
}

void CSimConverter::SendBlockAck(uint64_t nowMs, uint32_t src, uint16_t srcPort, uint16_t number,
                                 bool accepted) {
    SimMisbehaviour& m = m_config.misbehave;
    const uint8_t answerCmd = accepted ? kAccepted : 0;
    if (accepted && FaultHits(m.wrongEcho, m_wrongEchoUsed, number)) {
        const auto wrong = static_cast<uint16_t>((number + 1) & 0xFFFF);
        Log({{"event", "wrong_echo"}, {"block", number}, {"echo", wrong}});
        Answer(nowMs, 0, src, srcPort,
               BuildFirmwareAnswer(kCmdFirmwareBlock, answerCmd, wrong, NextSeed()));
        if (!m.wrongEchoThenRight)
            return;
    }
    auto bytes = BuildFirmwareAnswer(kCmdFirmwareBlock, answerCmd, number, NextSeed());
    if (FaultHits(m.wrongAckLength, m_wrongLengthUsed, number)) {
        bytes.resize(m.ackLength, 0);
        Log({{"event", "wrong_length"}, {"block", number}, {"len", bytes.size()}});
    }
    Answer(nowMs, 0, src, srcPort, std::move(bytes));
}

void CSimConverter::OnFirmwareBlock(uint64_t nowMs, uint32_t src, uint16_t srcPort,
                                    const uint8_t* data, size_t size) {
    const uint32_t dwBlock = platform::GetLe32(data + 4);
    if (FirmwareSilenced(dwBlock, false))
        return;
    std::vector<uint8_t> plain(data + kHeaderSize, data + size);
    ScramblePayload(platform::GetLe32(data + 12), plain.data(), static_cast<int32_t>(plain.size()));
    const auto result = m_firmware.OnBlock(dwBlock, plain.data(), plain.size());
    const auto number = static_cast<uint16_t>(dwBlock & 0xFFFF);
    json event = {{"event", "block"},
                  {"block", number},
                  {"short_flag", (dwBlock & CSimFirmwareReceiver::kShortBlockFlag) != 0},
                  {"len", plain.size()},
                  {"accepted", result.accepted}};
    if (result.accepted)
        event["offset"] = result.offset;
    else
        event["reason"] = result.reason;
    if (result.restarted)
        event["new_transfer"] = true;
    Log(std::move(event));
    SendBlockAck(nowMs, src, srcPort, number, result.accepted);
    if (!result.complete)
        return;
    const std::string text = CSimFirmwareReceiver::FixedImageVersionText(m_firmware.Image());
    uint32_t version = m_config.settings.firmwareVersion;
    const bool readable = ParseVersion(text, &version);
    Log({{"event", "transfer_complete"}, {"version_text", text}, {"version_readable", readable}});
    ScheduleRestart(nowMs, version, m_firmware.Image().size());
}

void CSimConverter::OnCommit(uint64_t nowMs, uint32_t src, uint16_t srcPort, const uint8_t* data) {
    if (FirmwareSilenced(0, true))
        return;
    LANconvConfigHdr header;
    header.DecodeFrom(data, kHeaderSize);
    const auto result = m_firmware.OnCommit(header.dwBlock, header.dwLength);
    char sent[12];
    char computed[12];
    std::snprintf(sent, sizeof sent, "0x%08X", header.dwBlock);
    std::snprintf(computed, sizeof computed, "0x%08X", result.checksum);
    json event = {{"event", "commit"},
                  {"ok", result.ok},
                  {"length", header.dwLength},
                  {"checksum", sent},
                  {"computed", computed}};
    if (!result.ok)
        event["reason"] = result.reason;
    Log(std::move(event));
    // A refusal is a bare header without the commit code, so that it cannot pass for consent.
    const uint8_t cmd = result.ok ? kCmdFirmwareCommit : 0;
    if (result.ok && m_config.misbehave.commitAckLost)
        Log({{"event", "lost_out"}, {"len", kHeaderSize}, {"commit_ack", true}});
    else
        Answer(nowMs, 0, src, srcPort,
               BuildFirmwareAnswer(cmd, result.ok ? kAccepted : 0, 0, NextSeed()));
    if (result.ok)
        ScheduleRestart(nowMs, m_config.versionAfter1024Update, header.dwLength);
}

void CSimConverter::ScheduleRestart(uint64_t nowMs, uint32_t newVersion, size_t imageBytes) {
    m_lastImageBytes = imageBytes;
    m_lastImageChecksum = m_firmware.Checksum(imageBytes);
    m_phase = Phase::RestartPending;
    m_pendingVersion = newVersion;
    m_host.WakeAt(*this, nowMs + kRestartGraceMs);
}

void CSimConverter::OnWake(uint64_t nowMs) {
    if (m_phase == Phase::RestartPending) {
        m_phase = Phase::Restarting;
        char checksum[12];
        std::snprintf(checksum, sizeof checksum, "0x%08X", m_lastImageChecksum);
        Log({{"event", "restart_begin"},
             {"silent_ms", m_config.restartMs},
             {"image_bytes", m_lastImageBytes},
             {"image_adler32", checksum}});
        m_host.SetPresent(*this, false);
        m_host.WakeAt(*this, nowMs + m_config.restartMs);
    } else if (m_phase == Phase::Restarting) {
        m_phase = Phase::Running;
        m_config.settings.firmwareVersion = m_pendingVersion;
        m_firmware.Reset();
        ++m_restarts;
        m_host.SetPresent(*this, true);
        Log({{"event", "restart_end"}, {"version", VersionText(m_pendingVersion)}});
    }
}

json CSimConverter::State() const {
    const SimSettings& s = m_config.settings;
    json state = WriteFields(s);
    state["mac"] = MacText(s.mac);
    state["serial"] = s.serial;
    char marker[12];
    std::snprintf(marker, sizeof marker, "0x%08X", s.marker);
    state["marker"] = marker;
    state["version"] = VersionText(s.firmwareVersion);
    state["version_number"] = s.firmwareVersion;
    state["option_c"] = s.optionC;
    state["phase"] = m_phase == Phase::Running          ? "running"
                     : m_phase == Phase::RestartPending ? "restart_pending"
                                                        : "restarting";
    state["answers"] = m_answers;
    state["restarts"] = m_restarts;
    state["firmware"] = {
        {"layout", m_firmware.Layout() == SimFirmwareLayout::Fixed126 ? "fixed126" : "blocks1024"},
        {"blocks_received", m_firmware.BlocksReceived()},
        {"image_bytes", m_firmware.Image().size()},
        {"last_image_bytes", m_lastImageBytes},
        {"last_image_adler32", m_lastImageChecksum}};
    return state;
}

} // namespace qarn::sim
