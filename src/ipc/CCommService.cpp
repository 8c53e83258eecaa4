#include "ipc/CCommService.h"

#include "diag/FileLogger.h"
#include "ipc/SystemErrorText.h"
#include "net/CUDPSocket.h"
#include "platform/TextCodec.h"
#include "protocol/ConverterText.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <vector>

namespace qarn {

namespace {

int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

constexpr int32_t kRunStepMs = 100;

} // namespace

CCommService::CCommService(CommServiceOptions options) : m_options(std::move(options)) {
    m_requests.SetName("qarn-comm-service requests");
    m_answers.SetName("qarn-comm-service answers");
    // A flood of converter datagrams must not grow the service without bound.
    m_answers.SetCapacity(4096);
    m_requests.SetCapacity(4096);
}

CCommService::~CCommService() {
    Stop();
}

bool CCommService::Start(std::string* why) {
    if (!m_queue.Create(m_options.queueId, &m_requests, m_options.blockSize, m_options.group,
                        kQueuePollMs)) {
        const int error = errno;
        if (why != nullptr) {
            *why = "cannot create the shared queue '" + m_options.queueId + "' (" +
                   CSharedQueue::SegmentName("Global\\" + m_options.queueId) +
                   "): " + SystemErrorText(error);
            if (!m_queue.GetProblem().empty())
                *why += " (" + m_queue.GetProblem() + ")";
        }
        return false;
    }
    m_nextProbeMs = NowMs() + kProbeIntervalMs;
    return true;
}

void CCommService::Run(const std::atomic<bool>& stop) {
    while (!stop.load())
        RunOnce(kRunStepMs);
}

void CCommService::RunOnce(int32_t waitMs) {
    const int32_t untilProbe = static_cast<int32_t>(std::max<int64_t>(0, m_nextProbeMs - NowMs()));
    platform::Event::WaitAny(m_requests.GetEvent(), &m_answers.GetEvent(),
                             std::min(waitMs, untilProbe));
    m_requests.GetEvent().Reset();
    m_answers.GetEvent().Reset();
    // Records first: an "O" must be in place before its converter's first answer is routed.
    for (auto& request : m_requests.TakeAll())
        HandleRequest(*request);
    for (auto& answer : m_answers.TakeAll())
        HandleAnswer(*answer);
    if (NowMs() >= m_nextProbeMs) {
        ProbeClients();
        m_nextProbeMs = NowMs() + kProbeIntervalMs;
    }
}

void CCommService::Stop() {
    std::vector<std::string> slots;
    for (const auto& entry : m_connections)
        slots.push_back(entry.first);
    for (const std::string& slot : slots)
        Disconnect(slot, true, "the service stops");
    m_queue.Close();
    m_endpoint.reset();
}

void CCommService::Event(const std::string& text) {
    if (IsInfoLogEnabled())
        LogInfo("CCommService: " + text);
    if (m_hook)
        m_hook(text);
}

void CCommService::HandleRequest(const CMsg& msg) {
    ClientRecord record;
    if (!ParseClientRecord(msg, record)) {
        ++m_counters.refused;
        if (IsErrorLogEnabled())
            LogError(FormatText("CCommService::HandleRequest: record dropped (text %zu units, "
                                "data %zu bytes)",
                                msg.text.size(), msg.data.size()));
        return;
    }
    switch (record.command) {
    case ClientRecord::Command::Open:
        Open(record);
        break;
    case ClientRecord::Command::Send:
        Forward(record);
        break;
    case ClientRecord::Command::Close:
        Disconnect(record.slotId, false, "closed by the client");
        break;
    }
}

void CCommService::Open(const ClientRecord& record) {
    if (record.data.useSerial != 0) {
        // The service has no serial port of its own; such a client talks to its port directly.
        ++m_counters.refused;
        Tell(record.slotId, u"C", nullptr);
        return;
    }
    m_connections[record.slotId] = Connection{record.data};
    if (!EnsureEndpoint()) {
        Disconnect(record.slotId, true, "no UDP endpoint");
        return;
    }
    ++m_counters.opened;
    Event("open " + record.slotId + " " + IpToText(record.data.peerAddress));
}

void CCommService::Forward(const ClientRecord& record) {
    const auto found = m_connections.find(record.slotId);
    if (found == m_connections.end()) {
        ++m_counters.refused;
        Tell(record.slotId, u"C", nullptr);
        return;
    }
    // A client reaches the converter it connected for, and no other host.
    if (record.address != found->second.data.peerAddress) {
        ++m_counters.refused;
        if (IsErrorLogEnabled())
            LogError("CCommService::Forward: " + record.slotId + " sent to " +
                     IpToText(record.address) + " instead of " +
                     IpToText(found->second.data.peerAddress) + "; dropped");
        return;
    }
    if (m_endpoint && m_endpoint->Write(record.payload, record.address, m_options.converterPort))
        ++m_counters.sent;
}

void CCommService::Disconnect(const std::string& slotId, bool tellClient, const char* why) {
    const auto found = m_connections.find(slotId);
    if (found == m_connections.end())
        return;
    m_connections.erase(found);
    if (tellClient)
        Tell(slotId, u"C", nullptr);
    ++m_counters.closed;
    Event("close " + slotId + " (" + why + ")");
    ReleaseEndpointIfIdle();
}

void CCommService::HandleAnswer(const CMsg& answer) {
    std::vector<std::string> gone;
    bool routed = false;
    for (const auto& [slot, connection] : m_connections) {
        if (connection.data.peerAddress != answer.address)
            continue;
        routed = true;
        CMsg copy = answer;
        copy.text = u"D" + platform::Utf8ToUtf16(slot);
        const int error = m_writer.Send(slot, copy);
        if (error == 0)
            ++m_counters.answered;
        else if (error == ENOENT || error == ECONNREFUSED)
            gone.push_back(slot);
        else if (IsErrorLogEnabled())
            LogError("CCommService::HandleAnswer: " + slot + ": " + SystemErrorText(error));
    }
    if (!routed)
        ++m_counters.unrouted;
    for (const std::string& slot : gone)
        Disconnect(slot, false, "its mailslot is gone");
}

void CCommService::ProbeClients() {
    std::vector<std::string> gone;
    for (const auto& entry : m_connections) {
        if (!m_writer.IsListening(entry.first))
            gone.push_back(entry.first);
    }
    for (const std::string& slot : gone)
        Disconnect(slot, false, "its mailslot is gone");
}

void CCommService::Tell(const std::string& slotId, const std::u16string& command,
                        const CMsg* from) {
    CMsg msg = from != nullptr ? *from : CMsg{};
    msg.text = command + platform::Utf8ToUtf16(slotId);
    (void)m_writer.Send(slotId, msg);
}

bool CCommService::EnsureEndpoint() {
    if (m_endpoint)
        return true;
    auto endpoint = std::make_unique<CUDPSocket>();
    if (!endpoint->Open(0, m_options.localPort, m_options.converterPort, 0)) {
        if (IsErrorLogEnabled())
            LogError(FormatText("CCommService: cannot open UDP port %d: %s",
                                static_cast<int>(m_options.localPort),
                                SystemErrorText(errno).c_str()));
        return false;
    }
    endpoint->StartReceiving(&m_answers, 0, true, kUdpReadTimeoutMs);
    if (!endpoint->IsRunning())
        return false;
    m_endpoint = std::move(endpoint);
    return true;
}

void CCommService::ReleaseEndpointIfIdle() {
    if (m_connections.empty() && m_endpoint) {
        m_endpoint.reset();
        m_answers.Clear();
    }
}

} // namespace qarn
