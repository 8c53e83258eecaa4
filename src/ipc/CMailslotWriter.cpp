#include "ipc/CMailslotWriter.h"

#include "ipc/MailslotFolder.h"
#include "net/MsgBytes.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace qarn {

namespace {

constexpr int kFullRetryMs = 2;

bool AddressOf(const std::string& id, sockaddr_un& address) {
    const std::optional<std::string> folder = MailslotFolder();
    if (!folder)
        return false;
    const std::string path = MailslotPath(*folder, id);
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address.sun_path) {
        errno = ENAMETOOLONG;
        return false;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

} // namespace

CMailslotWriter::~CMailslotWriter() {
    if (m_fd >= 0)
        close(m_fd);
}

bool CMailslotWriter::EnsureSocket() {
    if (m_fd < 0)
        m_fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    return m_fd >= 0;
}

int CMailslotWriter::Send(const std::string& id, const CMsg& msg) {
    std::vector<uint8_t> bytes;
    if (!MsgToBytes(msg, bytes))
        return ENOMEM;
    sockaddr_un address{};
    if (!AddressOf(id, address) || !EnsureSocket())
        return errno != 0 ? errno : EINVAL;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kFullWaitMs);
    for (;;) {
        const ssize_t sent = sendto(m_fd, bytes.data(), bytes.size(), MSG_DONTWAIT | MSG_NOSIGNAL,
                                    reinterpret_cast<const sockaddr*>(&address), sizeof address);
        if (sent == static_cast<ssize_t>(bytes.size()))
            return 0;
        if (sent >= 0)
            return EMSGSIZE;
        const int error = errno;
        if ((error != EAGAIN && error != EWOULDBLOCK && error != EINTR) ||
            std::chrono::steady_clock::now() >= deadline)
            return error;
        std::this_thread::sleep_for(std::chrono::milliseconds(kFullRetryMs));
    }
}

bool CMailslotWriter::IsListening(const std::string& id) {
    sockaddr_un address{};
    if (!AddressOf(id, address))
        return false;
    const int probe = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (probe < 0)
        return true; // cannot tell: do not drop a client for it
    const bool listening =
        connect(probe, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    const int error = errno;
    close(probe);
    return listening || (error != ECONNREFUSED && error != ENOENT);
}

} // namespace qarn
