#include "ipc/CMailslot.h"

#include "diag/FileLogger.h"
#include "ipc/MailslotFolder.h"
#include "ipc/SystemErrorText.h"
#include "net/MsgBytes.h"

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace qarn {

namespace {

bool MakeAddress(const std::string& path, sockaddr_un& address) {
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

// A socket file whose owner is gone refuses a connection; a live one takes it.
bool SocketIsLive(const sockaddr_un& address) {
    const int probe = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (probe < 0)
        return true;
    const bool live =
        connect(probe, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 ||
        errno != ECONNREFUSED;
    close(probe);
    return live;
}

} // namespace

CMailslot::CMailslot() {
    SetName("CMailslot");
    m_lock.SetName("CMailslot");
}

CMailslot::~CMailslot() {
    CMailslot::Close();
}

bool CMailslot::BindSocket(int fd) {
    sockaddr_un address{};
    if (!MakeAddress(m_slotPath, address)) {
        errno = ENAMETOOLONG;
        return false;
    }
    const auto* raw = reinterpret_cast<const sockaddr*>(&address);
    if (bind(fd, raw, sizeof address) != 0) {
        if (errno != EADDRINUSE)
            return false;
        struct stat info {};
        if (lstat(m_slotPath.c_str(), &info) != 0 || !S_ISSOCK(info.st_mode) ||
            SocketIsLive(address)) {
            errno = EEXIST;
            return false;
        }
        // Left behind by a mailslot whose process died.
        if (unlink(m_slotPath.c_str()) != 0 || bind(fd, raw, sizeof address) != 0)
            return false;
    }
    // The folder keeps others out; the group may write where the folder is a group's.
    (void)chmod(m_slotPath.c_str(), 0660);
    struct stat info {};
    if (lstat(m_slotPath.c_str(), &info) == 0) {
        m_slotDevice = info.st_dev;
        m_slotInode = info.st_ino;
    }
    return true;
}

bool CMailslot::Open(bool /*flag*/, const std::string& id, CMsgQueue* queue,
                     uint32_t /*readTimeoutMs*/) {
    if (m_handle >= 0)
        Close();
    m_receiving = true;
    if (m_queue == nullptr) {
        if (queue != nullptr) {
            m_queue = queue;
        } else {
            m_ownedQueue = std::make_unique<CMsgQueue>();
            m_ownedQueue->SetName("Mailslot " + id);
            m_queue = m_ownedQueue.get();
        }
    }
    m_id = id;
    const std::optional<std::string> folder = MailslotFolder();
    m_slotPath = folder ? MailslotPath(*folder, id) : std::string();
    if (IsDebugLogEnabled())
        LogDebug(FormatText("CMailslot::Open: ServerSlot:'%s'", m_slotPath.c_str()));

    int fd = -1;
    bool ok = folder.has_value();
    if (ok) {
        fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        ok = fd >= 0 && BindSocket(fd);
    }
    if (!ok) {
        m_lastError = errno;
        if (fd >= 0)
            close(fd);
        if (IsErrorLogEnabled())
            LogError(FormatText("CMailslot::Open: ID:'%s' Error:0x%x '%s'", id.c_str(),
                                static_cast<unsigned>(m_lastError),
                                SystemErrorText(m_lastError).c_str()));
        return false;
    }
    m_handle = fd;
    m_lastError = 0;
    SetName("CMailslot " + id);
    if (IsRunning())
        return false;
    // No pause between steps: each step waits on the socket (kPollMs).
    StartThread(nullptr, 0);
    return true;
}

bool CMailslot::OnMessage(std::unique_ptr<CMsg>& /*msg*/) {
    return false;
}

bool CMailslot::EventThread(int32_t /*index*/) {
    return TimeoutThread();
}

bool CMailslot::TimeoutThread() {
    pollfd wait{m_handle, POLLIN, 0};
    const int ready = poll(&wait, 1, kPollMs);
    if (ready < 0 && errno != EINTR) {
        if (IsErrorLogEnabled())
            LogError(FormatText("CMailslot::TimeoutThread: ID:'%s' GetMailslotInfo:Error",
                                m_id.c_str()));
        return false;
    }
    if (ready > 0)
        DrainStep();
    return true;
}

void CMailslot::DrainStep() {
    for (int i = 0; i < kMessagesPerStep && !IsStopRequested(); ++i) {
        // The size of the next message without taking it.
        const ssize_t size = recv(m_handle, nullptr, 0, MSG_PEEK | MSG_TRUNC | MSG_DONTWAIT);
        if (size < 0) {
            if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR && IsErrorLogEnabled())
                LogError(FormatText("CMailslot::TimeoutThread: ID:'%s' GetMailslotInfo:Error",
                                    m_id.c_str()));
            return;
        }
        std::vector<uint8_t> bytes(static_cast<size_t>(size));
        const ssize_t got = recv(m_handle, bytes.data(), bytes.size(), MSG_DONTWAIT);
        if (got < 0) {
            m_lastError = errno;
            if (IsErrorLogEnabled())
                LogError(FormatText("CMailslot::TimeoutThread: ID:'%s' ReadFile:Error code:0x%x "
                                    "'%s'",
                                    m_id.c_str(), static_cast<unsigned>(m_lastError),
                                    SystemErrorText(m_lastError).c_str()));
            continue;
        }
        bytes.resize(static_cast<size_t>(got));
        auto msg = std::make_unique<CMsg>();
        if (!BytesToMsg(bytes, *msg)) {
            if (IsErrorLogEnabled())
                LogError(FormatText("CMailslot::TimeoutThread: ID:'%s' Deserialize CMsg:Error "
                                    "(ArrayLen:%u bytes)",
                                    m_id.c_str(), static_cast<unsigned>(bytes.size())));
            continue;
        }
        if (!OnMessage(msg) && msg && m_queue != nullptr)
            m_queue->Push(std::move(msg), true);
    }
}

void CMailslot::Close() {
    const bool locked = m_lock.Lock(kCloseLockMs);
    if (!locked && IsWarningLogEnabled())
        LogWarning(
            FormatText("CMailslot::Close: ID:'%s' got no lock timeout:1000 ms", m_id.c_str()));
    StopThread();
    if (m_handle >= 0) {
        if (IsDebugLogEnabled())
            LogDebug(FormatText("CMailslot::Close: ID:'%s'", m_id.c_str()));
        struct stat info {};
        if (lstat(m_slotPath.c_str(), &info) == 0 && info.st_dev == m_slotDevice &&
            info.st_ino == m_slotInode)
            unlink(m_slotPath.c_str());
        m_lastError = close(m_handle) == 0 ? 0 : errno;
        m_handle = -1;
    }
    m_queue = nullptr;
    m_ownedQueue.reset();
    // A lock that was not had is not released: that would end another holder's exclusion.
    if (locked)
        m_lock.Unlock();
}

} // namespace qarn
