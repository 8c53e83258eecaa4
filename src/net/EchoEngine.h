#pragma once

#include "platform/Event.h"
#include "platform/Icmp.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

#include <queue>

namespace qarn {

// What the echo schedule sends through; the engine puts the system's probe socket behind it, tests
// a table of their own.
class IEchoProbeSocket {
  public:
    virtual ~IEchoProbeSocket() = default;
    virtual platform::ProbeSend Send(uint32_t address, uint16_t sequence) = 0;
    // The identifier the probes carry; answers with another are someone else's.
    virtual uint16_t Identifier() const = 0;
};

struct EchoSettings {
    // From the first probe to the end of an echo without a reply.
    std::chrono::milliseconds timeout{1000};
    // Further probes within the same time-out, so that one lost datagram does not make an
    // answering host look silent: at 0, spacing, 2 x spacing ... while before the time-out.
    std::chrono::milliseconds probeSpacing{250};
    uint32_t probes = 3;
    // Probes per second, all echoes together, so that a big fleet does not overflow the socket's
    // buffer or the segment. 10,000 new hosts with three probes each fit in about 1.5 s.
    uint32_t probesPerSecond = 20000;
    // Echoes waiting or in flight together. Urgent ones have a reserve of their own on top, so
    // that a flood of new sources cannot keep out the hosts already known.
    size_t maxOutstanding = 8192;
    size_t urgentReserve = 1024;
};

// The bookkeeping of every echo in flight, without threads or clocks of its own: the owner calls
// Submit, Run when due (it says when next) and OnAnswer for each answer read, always with the
// current time. An echo ends once: true at the first echo reply from the address itself to one
// of its probes, false at the first ICMP error about one of them, when the first probe cannot be
// sent, or at the time-out. Everything else (late, duplicate, foreign answers) is ignored.
// Per echo a few dozen bytes; no thread.
class EchoSchedule {
  public:
    using Clock = std::chrono::steady_clock;
    using TimePoint = Clock::time_point;
    using Done = std::function<void(uint32_t address, bool reply)>;

    EchoSchedule(IEchoProbeSocket& socket, EchoSettings settings, Done done);

    // Queues an echo to `address` (network order); urgent ones are sent before the others.
    // True when queued or already outstanding; false when the bound is reached.
    bool Submit(uint32_t address, bool urgent);
    // Sends what is due (paced), ends what has timed out; returns when to call again.
    TimePoint Run(TimePoint now);
    void OnAnswer(const platform::IcmpAnswer& answer, TimePoint now);

    size_t Outstanding() const { return m_echoes.size(); }

  private:
    struct Echo {
        TimePoint firstSent{};
        uint32_t generation = 0;
        uint16_t sequences[4] = {};
        uint8_t sent = 0;
        bool urgent = false;
    };
    struct Timer {
        TimePoint at;
        uint32_t address;
        uint32_t generation;
        uint8_t step; // 1 .. probes-1: the next probe; probes: the time-out
        bool operator>(const Timer& other) const { return at > other.at; }
    };
    enum class SendOutcome { Sent, Refused, Busy };

    SendOutcome SendProbe(uint32_t address, Echo& echo);
    void Finish(uint32_t address, bool reply);
    bool Take(double& tokens);

    IEchoProbeSocket& m_socket;
    const EchoSettings m_settings;
    Done m_done;
    std::unordered_map<uint32_t, Echo> m_echoes;         // waiting and in flight
    std::unordered_map<uint16_t, uint32_t> m_probeOwner; // sequence -> address
    std::deque<uint32_t> m_urgent, m_normal;             // waiting for their first probe
    std::deque<std::pair<uint32_t, uint32_t>> m_resend;  // due further probes (address, gen)
    std::priority_queue<Timer, std::vector<Timer>, std::greater<Timer>> m_timers;
    size_t m_normalCount = 0; // normal echoes outstanding
    uint16_t m_nextSequence = 1;
    uint32_t m_nextGeneration = 1;
    double m_tokens = 0;
    TimePoint m_lastRefill{};
};

// The echo service of the process's core: one probe socket and one thread for every echo in
// flight. Submit from any thread; the result is handed to `done` on the engine's thread, which
// must not block in it.
class EchoEngine {
  public:
    using Done = EchoSchedule::Done;

    explicit EchoEngine(Done done, EchoSettings settings = {}, uint8_t ttl = 255);
    // Ends the thread; echoes not ended get no result.
    ~EchoEngine();
    EchoEngine(const EchoEngine&) = delete;
    EchoEngine& operator=(const EchoEngine&) = delete;

    // False when the socket could not be opened (then every Submit ends false at once) or the
    // bound is reached.
    bool Submit(uint32_t address, bool urgent = false);
    bool IsValid() const { return m_socket.IsValid(); }

  private:
    class SocketAdapter;
    void Loop();

    platform::IcmpProbeSocket m_socket;
    std::unique_ptr<SocketAdapter> m_adapter;
    std::mutex m_lock;
    std::unique_ptr<EchoSchedule> m_schedule;
    std::vector<std::pair<uint32_t, bool>> m_finished; // handed to `done` outside the lock
    Done m_done;
    platform::Event m_wake{platform::ResetMode::Auto};
    bool m_stopping = false;
    std::thread m_thread;
};

} // namespace qarn
