#pragma once

// The simulator as a child process, and its JSON-lines log read back, for tests that run the real
// program (on loopback in a namespace of their own, or on the simulated LAN).

#include <chrono>
#include <csignal>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <spawn.h>
#include <string>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace qarn::sim::test {

class SimProcess {
  public:
    SimProcess() = default;
    ~SimProcess() {
        if (m_pid > 0) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
    }
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    // Starts argv[0] (a path) with the arguments; false when it cannot be started.
    bool Start(const std::vector<std::string>& argv) {
        std::vector<char*> args;
        for (const auto& arg : argv)
            args.push_back(const_cast<char*>(arg.c_str()));
        args.push_back(nullptr);
        return posix_spawn(&m_pid, args[0], nullptr, nullptr, args.data(), environ) == 0;
    }

    bool Signal(int signal) const { return m_pid > 0 && kill(m_pid, signal) == 0; }
    // To the main thread alone, as a fault of its own would come: a signal to the process may be
    // taken by any of its threads.
    bool SignalMainThread(int signal) const {
        return m_pid > 0 && syscall(SYS_tgkill, m_pid, m_pid, signal) == 0;
    }

    // The exit status once the process has ended within `timeout`; -1 otherwise.
    int Wait(std::chrono::milliseconds timeout) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (m_pid > 0) {
            int status = 0;
            const pid_t ended = waitpid(m_pid, &status, WNOHANG);
            if (ended == m_pid) {
                m_pid = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            if (std::chrono::steady_clock::now() > deadline)
                return -1;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return -1;
    }

  private:
    pid_t m_pid = -1;
};

// Every complete line of the log that parses as JSON.
inline std::vector<nlohmann::json> ReadEvents(const std::string& path) {
    std::vector<nlohmann::json> events;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        auto event = nlohmann::json::parse(line, nullptr, false);
        if (!event.is_discarded())
            events.push_back(std::move(event));
    }
    return events;
}

inline std::vector<nlohmann::json> EventsNamed(const std::vector<nlohmann::json>& events,
                                               const std::string& name) {
    std::vector<nlohmann::json> found;
    for (const auto& event : events)
        if (event.value("event", "") == name)
            found.push_back(event);
    return found;
}

// Polls the log until `done` holds for its events or `timeout` passes; the last events read.
inline std::vector<nlohmann::json>
WaitForEvents(const std::string& path, std::chrono::milliseconds timeout,
              const std::function<bool(const std::vector<nlohmann::json>&)>& done) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        auto events = ReadEvents(path);
        if (done(events) || std::chrono::steady_clock::now() > deadline)
            return events;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

} // namespace qarn::sim::test
