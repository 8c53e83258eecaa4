#include "ipc/CMailslotS.h"

#include "diag/FileLogger.h"
#include "ipc/SystemErrorText.h"
#include "net/MsgBytes.h"

namespace qarn {

CMailslotS::CMailslotS() {
    CThreadClass::SetName("CMailslotS");
    m_lock.SetName("CMailslotS");
}

CMailslotS::~CMailslotS() {
    CMailslotS::Close();
}

void CMailslotS::SetUpQueue(const std::string& id, CMsgQueue* queue) {
    if (m_queue != nullptr)
        return;
    if (queue != nullptr) {
        m_queue = queue;
        return;
    }
    m_ownedQueue = std::make_unique<CMsgQueue>();
    m_ownedQueue->SetName("Mailslot " + id);
    m_queue = m_ownedQueue.get();
}

bool CMailslotS::Open(bool /*flag*/, const std::string& id, CMsgQueue* queue) {
    Close();
    SetUpQueue(id, queue);
    m_id = id;
    m_creating = false;
    if (!CSharedQueue::Open(false, id, 0)) {
        if (IsErrorLogEnabled())
            LogError(FormatText("CMailslotS::Open: ID:'%s' CSharedQueue::Open:Error", id.c_str()));
        return false;
    }
    return true;
}

bool CMailslotS::Create(const std::string& id, CMsgQueue* queue, uint32_t blockSize,
                        std::optional<gid_t> group, uint32_t waitMs) {
    Close();
    SetUpQueue(id, queue);
    m_id = id;
    m_creating = true;
    SetAccessGroup(group);
    if (!CSharedQueue::Open(true, id, blockSize)) {
        if (IsErrorLogEnabled())
            LogError(FormatText("CMailslotS::Open: ID:'%s' CSharedQueue::Open:Error", id.c_str()));
        return false;
    }
    CThreadClass::SetName("CMailslotS " + id);
    StartThread(nullptr, waitMs);
    return true;
}

bool CMailslotS::SendMsg(const std::u16string& command, const std::u16string& suffix, CMsg& msg) {
    if (!IsOpen()) {
        if (IsErrorLogEnabled())
            LogError(FormatText("CMailslotS::SendMsg: ID:'%s' CSharedQueue::IsOpen:Error",
                                m_id.c_str()));
        return false;
    }
    msg.text = command + suffix;
    std::vector<uint8_t> bytes;
    if (!MsgToBytes(msg, bytes)) {
        if (IsErrorLogEnabled())
            LogError(FormatText("CMailslotS::SendMsg: ID:'%s' Serialize CMsg:Error", m_id.c_str()));
        return false;
    }
    if (!m_lock.Lock(kSendLockMs)) {
        if (IsErrorLogEnabled())
            LogError(FormatText("CMailslotS::SendMsg: ID:'%s' No Lock:Error timeout:300 ms",
                                m_id.c_str()));
        return false;
    }
    if (!IsOpen()) {
        if (IsErrorLogEnabled())
            LogError(FormatText("CMailslotS::SendMsg: ID:'%s' CSharedQueue::IsOpen:Error 2",
                                m_id.c_str()));
        m_lock.Unlock();
        return false;
    }
    if (CSharedQueue::Write(bytes)) {
        m_lock.Unlock();
        return true;
    }
    m_lock.Unlock();
    if (IsErrorLogEnabled())
        LogError(
            FormatText("CMailslotS::SendMsg: ID:'%s' CSharedQueue::Write:Error", m_id.c_str()));
    Close();
    return false;
}

bool CMailslotS::OnMessage(std::unique_ptr<CMsg>& /*msg*/) {
    return false;
}

bool CMailslotS::EventThread(int32_t /*index*/) {
    return TimeoutThread();
}

bool CMailslotS::TimeoutThread() {
    if (!m_creating)
        return true;
    std::vector<uint8_t> bytes;
    for (int i = 0; i < kRecordsPerStep && !IsStopRequested(); ++i) {
        if (!CSharedQueue::Read(bytes)) {
            // A lock that could not be had this time is no reason to stop reading for everyone.
            if (IsErrorLogEnabled())
                LogError(FormatText("CMailslotS::TimeoutThread: ID:'%s' CSharedQueue::Read:Error",
                                    m_id.c_str()));
            return CSharedQueue::IsOpen();
        }
        if (bytes.empty())
            break;
        auto msg = std::make_unique<CMsg>();
        if (!BytesToMsg(bytes, *msg)) {
            if (IsErrorLogEnabled())
                LogError(FormatText("CMailslotS::TimeoutThread: ID:'%s' Deserialize CMsg:Error "
                                    "(ArrayLen:%d bytes)",
                                    m_id.c_str(), static_cast<int>(bytes.size())));
            continue;
        }
        if (!OnMessage(msg) && msg && m_queue != nullptr)
            m_queue->Push(std::move(msg), true);
    }
    return true;
}

void CMailslotS::Close() {
    const bool locked = m_lock.Lock(kCloseLockMs);
    if (!locked && IsWarningLogEnabled())
        LogWarning(
            FormatText("CMailslotS::Close: ID:'%s' got no lock timeout:1000 ms", m_id.c_str()));
    StopThread();
    if (IsOpen() && IsDebugLogEnabled())
        LogDebug(FormatText("CMailslotS::Close: ID:'%s'", m_id.c_str()));
    CSharedQueue::Close();
    m_queue = nullptr;
    m_ownedQueue.reset();
    m_creating = false;
    if (locked)
        m_lock.Unlock();
}

} // namespace qarn
