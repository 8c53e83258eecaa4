#include "CSimServer.h"

#include "SimText.h"
#include "platform/FileOps.h"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/timerfd.h>
#include <unistd.h>

namespace qarn::sim {

namespace {

using nlohmann::json;

constexpr int kAskedBufferBytes = 4 * 1024 * 1024;
constexpr size_t kMaxDatagram = 65536;
// Reads per wake-up before timers and sends get their turn.
constexpr int kReadsPerWake = 256;
// Retry delay after ENOBUFS, which no readiness event announces the end of (ms).
constexpr uint64_t kNoBufferRetryMs = 1;

std::string ErrnoText(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

// SO_xxxFORCE passes the system limit where the process may (root); otherwise the plain option is
// capped by the limit.
void AskBuffer(int fd, int forced, int plain, int bytes) {
    if (setsockopt(fd, SOL_SOCKET, forced, &bytes, sizeof bytes) != 0)
        setsockopt(fd, SOL_SOCKET, plain, &bytes, sizeof bytes);
}

sigset_t LoopSignals() {
    sigset_t set;
    sigemptyset(&set);
    for (const int signal : {SIGUSR1, SIGTERM, SIGINT, SIGHUP})
        sigaddset(&set, signal);
    return set;
}

} // namespace

CSimServer::CSimServer(CSimFleet& fleet, CSimEventLog& log)
    : m_fleet(fleet), m_log(log), m_buffer(kMaxDatagram),
      m_start(std::chrono::steady_clock::now()) {}

CSimServer::~CSimServer() {
    for (const int fd : {m_socket, m_epoll, m_timer, m_signals})
        if (fd >= 0)
            close(fd);
}

uint64_t CSimServer::NowMs() const {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now() - m_start)
                                     .count());
}

bool CSimServer::Open(const Options& options, std::string* why) {
    m_options = options;
    const sigset_t signals = LoopSignals();
    if (sigprocmask(SIG_BLOCK, &signals, nullptr) != 0) {
        *why = ErrnoText("sigprocmask");
        return false;
    }
    m_signals = signalfd(-1, &signals, SFD_NONBLOCK | SFD_CLOEXEC);
    m_timer = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    m_epoll = epoll_create1(EPOLL_CLOEXEC);
    if (m_signals < 0 || m_timer < 0 || m_epoll < 0) {
        *why = ErrnoText("signalfd/timerfd/epoll");
        return false;
    }
    if (!OpenSocket(why))
        return false;
    for (const int fd : {m_socket, m_timer, m_signals}) {
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.fd = fd;
        if (epoll_ctl(m_epoll, EPOLL_CTL_ADD, fd, &event) != 0) {
            *why = ErrnoText("epoll_ctl");
            return false;
        }
    }
    return true;
}

bool CSimServer::OpenSocket(std::string* why) {
    uint32_t bindIp = 0;
    if (!ParseIp(m_options.bindAddress, &bindIp)) {
        *why = "bind address " + m_options.bindAddress + " is not an IPv4 address";
        return false;
    }
    m_socket = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (m_socket < 0) {
        *why = ErrnoText("socket");
        return false;
    }
    const int on = 1;
    setsockopt(m_socket, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    setsockopt(m_socket, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    if (setsockopt(m_socket, IPPROTO_IP, IP_PKTINFO, &on, sizeof on) != 0) {
        *why = ErrnoText("IP_PKTINFO");
        return false;
    }
    const int sendBytes =
        m_options.sendBufferBytes > 0 ? m_options.sendBufferBytes : kAskedBufferBytes;
    if (m_options.sendBufferBytes > 0)
        setsockopt(m_socket, SOL_SOCKET, SO_SNDBUF, &sendBytes, sizeof sendBytes);
    else
        AskBuffer(m_socket, SO_SNDBUFFORCE, SO_SNDBUF, sendBytes);
    AskBuffer(m_socket, SO_RCVBUFFORCE, SO_RCVBUF, kAskedBufferBytes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(bindIp);
    address.sin_port = htons(m_options.port);
    if (bind(m_socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        *why = ErrnoText("bind " + m_options.bindAddress + ":" + std::to_string(m_options.port));
        return false;
    }
    socklen_t size = sizeof address;
    getsockname(m_socket, reinterpret_cast<sockaddr*>(&address), &size);
    m_port = ntohs(address.sin_port);
    return true;
}

void CSimServer::Run() {
    ArmTimer();
    m_log.Flush();
    epoll_event events[8];
    while (!m_stop) {
        const int count = epoll_wait(m_epoll, events, 8, -1);
        if (count < 0 && errno != EINTR)
            break;
        for (int i = 0; i < count; ++i) {
            const int fd = events[i].data.fd;
            if (fd == m_socket && (events[i].events & EPOLLIN) != 0)
                Receive();
            if (fd == m_timer) {
                uint64_t expirations = 0;
                [[maybe_unused]] const ssize_t ignored =
                    read(m_timer, &expirations, sizeof expirations);
                m_retrySoon = false;
            }
            if (fd == m_signals)
                OnSignals();
        }
        const uint64_t now = NowMs();
        m_fleet.Advance(now);
        for (auto& datagram : m_fleet.TakeDue(now))
            m_outbox.push_back(std::move(datagram));
        FlushOutbox();
        if (m_options.durationMs != 0 && now >= m_options.durationMs)
            m_stop = true;
        ArmTimer();
        m_log.Flush();
    }
    if (!m_options.statePath.empty())
        DumpState();
    m_fleet.LogEvent(NowMs(), {{"event", "stopped"},
                               {"received", m_stats.received},
                               {"sent", m_stats.sent},
                               {"send_retries", m_stats.sendRetries},
                               {"send_failures", m_stats.sendFailures},
                               {"unsent", m_outbox.size() + m_fleet.PendingSends()}});
    m_log.Flush();
}

void CSimServer::Receive() {
    for (int reads = 0; reads < kReadsPerWake; ++reads) {
        sockaddr_in source{};
        iovec data{m_buffer.data(), m_buffer.size()};
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))];
        msghdr message{};
        message.msg_name = &source;
        message.msg_namelen = sizeof source;
        message.msg_iov = &data;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        const ssize_t size = recvmsg(m_socket, &message, 0);
        if (size < 0)
            return; // EAGAIN: drained; anything else is retried at the next readiness
        uint32_t destination = 0;
        for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
            if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
                in_pktinfo info{};
                std::memcpy(&info, CMSG_DATA(c), sizeof info);
                destination = ntohl(info.ipi_addr.s_addr);
            }
        }
        ++m_stats.received;
        m_fleet.OnDatagram(NowMs(), ntohl(source.sin_addr.s_addr), ntohs(source.sin_port),
                           destination, m_buffer.data(), static_cast<size_t>(size));
    }
}

void CSimServer::FlushOutbox() {
    while (!m_outbox.empty()) {
        if (!SendOne(m_outbox.front()))
            break;
        m_outbox.pop_front();
    }
    WatchWritable(!m_outbox.empty() && !m_retrySoon);
}

// False when the datagram has to wait for buffer space; true when it was sent or its failure
// logged.
bool CSimServer::SendOne(const SimOutgoing& datagram) {
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_addr.s_addr = htonl(datagram.to);
    target.sin_port = htons(datagram.port);
    iovec data{const_cast<uint8_t*>(datagram.bytes.data()), datagram.bytes.size()};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
    msghdr message{};
    message.msg_name = &target;
    message.msg_namelen = sizeof target;
    message.msg_iov = &data;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    cmsghdr* c = CMSG_FIRSTHDR(&message);
    c->cmsg_level = IPPROTO_IP;
    c->cmsg_type = IP_PKTINFO;
    c->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
    in_pktinfo info{};
    info.ipi_spec_dst.s_addr = htonl(datagram.from); // the source address of the answer
    std::memcpy(CMSG_DATA(c), &info, sizeof info);
    const uint64_t now = NowMs();
    if (sendmsg(m_socket, &message, 0) < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == ENOBUFS || errno == EINTR) {
            m_retrySoon = errno == ENOBUFS;
            ++m_stats.sendRetries;
            return false;
        }
        ++m_stats.sendFailures;
        m_fleet.LogEvent(now, {{"event", "send_failed"},
                               {"conv", IpText(datagram.converter)},
                               {"src", IpText(datagram.from)},
                               {"dst", IpText(datagram.to) + ":" + std::to_string(datagram.port)},
                               {"error", std::strerror(errno)}});
        return true;
    }
    ++m_stats.sent;
    if (!m_log.DatagramsLogged())
        return true;
    m_fleet.LogEvent(now, {{"event", "sent"},
                           {"conv", IpText(datagram.converter)},
                           {"src", IpText(datagram.from)},
                           {"dst", IpText(datagram.to) + ":" + std::to_string(datagram.port)},
                           {"len", datagram.bytes.size()},
                           {"late_ms", now > datagram.dueMs ? now - datagram.dueMs : 0},
                           {"hex", HexText(datagram.bytes.data(), datagram.bytes.size())}});
    return true;
}

void CSimServer::WatchWritable(bool on) {
    if (on == m_watchingWritable)
        return;
    epoll_event event{};
    event.events = EPOLLIN | (on ? EPOLLOUT : 0u);
    event.data.fd = m_socket;
    if (epoll_ctl(m_epoll, EPOLL_CTL_MOD, m_socket, &event) == 0)
        m_watchingWritable = on;
}

void CSimServer::ArmTimer() {
    std::optional<uint64_t> next = m_fleet.NextDueMs();
    if (m_retrySoon)
        next = std::min(next.value_or(UINT64_MAX), NowMs() + kNoBufferRetryMs);
    if (m_options.durationMs != 0)
        next = std::min<uint64_t>(next.value_or(UINT64_MAX), m_options.durationMs);
    itimerspec expiry{};
    if (next) {
        // Absolute on the monotonic clock, which steady_clock reads on Linux; a time already past
        // fires at once.
        const auto when = m_start + std::chrono::milliseconds(*next);
        const auto ns =
            std::chrono::duration_cast<std::chrono::nanoseconds>(when.time_since_epoch()).count();
        expiry.it_value.tv_sec = static_cast<time_t>(ns / 1000000000);
        expiry.it_value.tv_nsec = static_cast<long>(ns % 1000000000);
        if (expiry.it_value.tv_sec == 0 && expiry.it_value.tv_nsec == 0)
            expiry.it_value.tv_nsec = 1;
    }
    timerfd_settime(m_timer, TFD_TIMER_ABSTIME, &expiry, nullptr);
}

void CSimServer::OnSignals() {
    signalfd_siginfo info{};
    while (read(m_signals, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
        if (info.ssi_signo == SIGUSR1)
            DumpState();
        else
            m_stop = true;
    }
}

void CSimServer::DumpState() {
    json state = m_fleet.State();
    state["port"] = m_port;
    state["stats"] = {{"received", m_stats.received},
                      {"sent", m_stats.sent},
                      {"send_retries", m_stats.sendRetries},
                      {"send_failures", m_stats.sendFailures},
                      {"outbox", m_outbox.size()}};
    if (m_options.statePath.empty()) {
        m_fleet.LogEvent(NowMs(), {{"event", "state"}, {"state", state}});
        return;
    }
    // Written beside the target and renamed, so that a reader never sees half a file; never
    // through a link or into another user's file (the rename replaces whatever the name was).
    const std::string temporary = m_options.statePath + ".tmp";
    const int fd = platform::OpenOwnRegularFile(temporary, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    FILE* file = fd >= 0 ? fdopen(fd, "w") : nullptr;
    if (file == nullptr) {
        const int error = errno;
        if (fd >= 0)
            close(fd);
        m_fleet.LogEvent(NowMs(), {{"event", "state_failed"}, {"error", std::strerror(error)}});
        return;
    }
    const std::string text = state.dump(2, ' ', false, json::error_handler_t::replace);
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed || std::rename(temporary.c_str(), m_options.statePath.c_str()) != 0) {
        m_fleet.LogEvent(NowMs(), {{"event", "state_failed"}, {"path", m_options.statePath}});
        return;
    }
    m_fleet.LogEvent(NowMs(), {{"event", "state_written"}, {"path", m_options.statePath}});
}

} // namespace qarn::sim
