#pragma once

#include "CSimEventLog.h"
#include "CSimFleet.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace qarn::sim {

// The simulator's one UDP socket and its event loop (epoll over the socket, a timerfd and a
// signalfd; no thread per converter). Every received datagram goes to the fleet with the address it
// was sent to (IP_PKTINFO); every answer leaves from its converter's own address. A send that the
// socket refuses for want of buffer space waits in order and is retried when the socket is
// writable again: an answer is never dropped silently (a send that fails for any other reason is
// logged as "send_failed").
//
// Signals: SIGUSR1 writes the fleet state (to the state file, or as a "state" event to the log);
// SIGTERM, SIGINT and SIGHUP end the loop.
class CSimServer {
  public:
    struct Options {
        std::string bindAddress = "0.0.0.0";
        uint16_t port = 58009;   // 0: any free port (see Port())
        int sendBufferBytes = 0; // 0: as large as the system allows, at least 4 MiB asked
        std::string statePath;   // where SIGUSR1 and the end of the run write the state
        uint32_t durationMs = 0; // 0: until a signal ends it
    };
    struct Stats {
        uint64_t received = 0;
        uint64_t sent = 0;
        uint64_t sendRetries = 0; // sends refused for buffer space and tried again later
        uint64_t sendFailures = 0;
    };

    CSimServer(CSimFleet& fleet, CSimEventLog& log);
    ~CSimServer();
    CSimServer(const CSimServer&) = delete;
    CSimServer& operator=(const CSimServer&) = delete;

    // Blocks the loop's signals, opens and binds the socket. False with the reason in `why`.
    bool Open(const Options& options, std::string* why);
    uint16_t Port() const { return m_port; }

    // Runs until a signal or the duration ends it.
    void Run();

    const Stats& Statistics() const { return m_stats; }
    uint64_t NowMs() const;

  private:
    bool OpenSocket(std::string* why);
    void Receive();
    void FlushOutbox();
    bool SendOne(const SimOutgoing& datagram);
    void ArmTimer();
    void OnSignals();
    void DumpState();
    void WatchWritable(bool on);

    CSimFleet& m_fleet;
    CSimEventLog& m_log;
    Options m_options;
    uint16_t m_port = 0;
    int m_socket = -1;
    int m_epoll = -1;
    int m_timer = -1;
    int m_signals = -1;
    bool m_stop = false;
    bool m_watchingWritable = false;
    bool m_retrySoon = false; // ENOBUFS: the socket may look writable; retry by the timer instead
    std::vector<uint8_t> m_buffer;    // one received datagram
    std::deque<SimOutgoing> m_outbox; // due, in order, not yet accepted by the socket
    std::chrono::steady_clock::time_point m_start;
    Stats m_stats;
};

} // namespace qarn::sim
