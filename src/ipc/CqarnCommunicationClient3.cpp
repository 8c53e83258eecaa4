#include "ipc/CqarnCommunicationClient3.h"

#include "ipc/CSharedQueue.h"
#include "ipc/MailslotFolder.h"
#include "platform/TextCodec.h"
#include "protocol/ConverterText.h"

#include <chrono>
#include <thread>

namespace qarn {

CqarnCommunicationClient3::CqarnCommunicationClient3() {
    m_ownQueue.SetName("CqarnCommunicationClient3");
}

CqarnCommunicationClient3::~CqarnCommunicationClient3() {
    // Without "C": the service finds the mailslot gone.
    m_connected.store(false);
    CMailslot::Close();
    m_service.Close();
    m_serial.Close();
}

std::string CqarnCommunicationClient3::AnswerSlotId(uint32_t address) {
    return "QCS_" + IpToText(address) + "_" + std::to_string(kPeerPort);
}

std::string DescribeServiceProblem(const std::string& serviceId) {
    std::string problem;
    if (!MailslotFolder(&problem))
        return problem;
    CSharedQueue queue;
    if (!queue.Open(false, serviceId, 0))
        return queue.GetProblem();
    return {};
}

bool CqarnCommunicationClient3::Open(CMsgQueue* queue, uint32_t address, uint32_t limit) {
    if (IsOpen())
        Close();
    m_closedByService.store(false);
    CqarnCommunicationClientData& data = Data();
    data.limitValue = limit;
    data.peerPort = kPeerPort;
    data.peerAddress = address;
    data.useSerial = 0;
    m_answers.store(queue != nullptr ? queue : &m_ownQueue);

    const std::string slotId = AnswerSlotId(address);
    m_slotId = platform::Utf8ToUtf16(slotId);
    if (!CMailslot::Open(false, slotId, m_answers.load(), 0))
        return false;
    if (!m_service.Open(false, m_serviceId, nullptr)) {
        CMailslot::Close();
        return false;
    }
    CMsg open;
    Serialize(open.data);
    if (!m_service.SendMsg(u"O", m_slotId, open)) {
        CMailslot::Close();
        m_service.Close();
        return false;
    }
    m_connected.store(true);
    return true;
}

bool CqarnCommunicationClient3::IsOpen() {
    if (m_closedByService.load()) {
        Close();
        return false;
    }
    if (!m_connected.load())
        return false;
    if (Data().useSerial != 0)
        return m_serial.IsOpen();
    return m_service.IsOpen() && IsHandleValid();
}

bool CqarnCommunicationClient3::Send(uint32_t address, std::span<const uint8_t> bytes) {
    if (!IsOpen())
        return false;
    CMsg msg;
    msg.address = address;
    msg.port = static_cast<int32_t>(kPeerPort);
    msg.data.assign(bytes.begin(), bytes.end());
    return SendMsg(msg);
}

bool CqarnCommunicationClient3::SendMsg(CMsg& msg) {
    if (!IsOpen())
        return false;
    if (Data().useSerial != 0)
        return m_serial.Write(msg.data.data(), msg.data.size()) == 0;
    return m_service.SendMsg(u"S", m_slotId, msg);
}

void CqarnCommunicationClient3::CloseService(bool sendClose) {
    if (sendClose && m_service.IsOpen()) {
        CMsg close;
        m_service.SendMsg(u"C", m_slotId, close);
    }
    m_service.Close();
}

void CqarnCommunicationClient3::Close() {
    m_connected.store(false);
    m_answers.store(nullptr);
    if (Data().useSerial != 0) {
        m_serial.StopThread();
        m_serial.Close();
    } else {
        CMailslot::Close();
        CloseService(!m_closedByService.load());
    }
    m_closedByService.store(false);
    std::this_thread::sleep_for(std::chrono::milliseconds(kCloseSettleMs));
}

void CqarnCommunicationClient3::Forward(std::unique_ptr<CMsg> msg) {
    CMsgQueue* answers = m_answers.load();
    if (!msg || !m_connected.load() || m_closedByService.load() || answers == nullptr)
        return;
    if (const int32_t tag = m_tag.load(); tag != 0)
        msg->tag = tag;
    answers->Push(std::move(msg), true);
}

bool CqarnCommunicationClient3::OnMessage(std::unique_ptr<CMsg>& msg) {
    std::unique_ptr<CMsg> taken = std::move(msg);
    if (!m_connected.load()) {
        m_closedByService.store(true);
        return true;
    }
    if (taken->text.empty())
        return true;
    switch (taken->text.front()) {
    case u'C':
        m_closedByService.store(true);
        break;
    case u'D':
        Forward(std::move(taken));
        break;
    default:
        break;
    }
    return true;
}

} // namespace qarn
