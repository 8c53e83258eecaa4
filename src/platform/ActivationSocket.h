#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace qarn::platform {

// A Unix-domain datagram socket bound to a path: the running copy of the program listens on it,
// and a later copy sends it a short request ("come forward"). Datagrams keep their boundaries and
// wait in the socket until read, so a request sent before the listener looks is not lost. Who may
// send is decided by the folder the path lies in (a private folder: only this user). Not meant for
// use by several threads at once. Failures leave the reason in errno.
class ActivationSocket {
  public:
    // Longest path a socket address holds (its terminating zero not counted).
    static constexpr size_t kMaxPathLength = 107;
    // Longest request read whole; longer ones are dropped as not ours.
    static constexpr size_t kMaxMessageLength = 256;

    ActivationSocket() = default;
    ~ActivationSocket();
    ActivationSocket(const ActivationSocket&) = delete;
    ActivationSocket& operator=(const ActivationSocket&) = delete;

    // Binds a fresh socket to `path`, replacing whatever socket file is left there: the caller
    // makes sure it is the only one entitled to the path (it holds the instance record).
    bool Listen(const std::string& path);

    // Descriptor to watch for readability; -1 when not listening.
    int Descriptor() const { return m_fd; }
    const std::string& Path() const { return m_path; }

    // The requests waiting now, oldest first, at most `maxMessages` of them; never waits.
    std::vector<std::string> ReceivePending(size_t maxMessages = 64);

    // Stops listening and removes the socket file.
    void Close();

    // Sends `message` to the socket at `path` without waiting. False when nobody listens there
    // (ECONNREFUSED, ENOENT) or its queue is full (EAGAIN).
    static bool Send(const std::string& path, std::string_view message);

  private:
    int m_fd = -1;
    std::string m_path;
};

} // namespace qarn::platform
