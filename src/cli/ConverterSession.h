#pragma once

#include "net/CMsgQueue.h"
#include "protocol/AnswerIntake.h"
#include "protocol/ConfigurationWrite.h"
#include "protocol/ConverterEndpoint.h"
#include "protocol/DeviceList.h"
#include "protocol/DiscoveryCycle.h"
#include "protocol/IReachability.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>

namespace qarn::cli {

// Where the network verbs talk: the local port, which is also the converters' port, and the
// interface that broadcasts are limited to ("" for every interface).
struct EndpointOptions {
    int32_t port = CUDPSocket::kConverterPort;
    std::string broadcastInterface;
};

// The command line's main loop around the core: the endpoint on the converter port, whose receive
// worker fills a queue, and one thread (the caller's) that owns the device list, hands it every
// queued datagram and drives discovery once a second: the first request at once, then every 4 s.
// Datagrams pass the AnswerIntake (listed sources first, bounded waiting); the echoes of new
// converters run on the list's workers, and the loop collects their results.
//
//     ConverterSession session(58009);
//     if (!session.Open(&why)) ...
//     session.RunUntil(std::chrono::seconds(3), [] { return false; });
//     Print(session.List());
class ConverterSession {
  public:
    // Between two looks at the queue when it was empty (ms). The receive worker is not asked to
    // signal, as in the window, so the loop looks this often.
    static constexpr int kQueuePollMs = 10;
    static constexpr std::chrono::milliseconds kTickInterval{1000};

    // Called on the loop's thread after each datagram went through the list: its source (network
    // order), what the list did with it, and the datagram itself.
    using AnswerHook = std::function<void(uint32_t source, AnswerDisposition disposition,
                                          std::span<const uint8_t> data)>;

    // `port` is the local port and the converters' port. `echo` (not owned; it must serve several
    // threads at once) replaces the echo to new converters and to a new address before a write;
    // null uses the ICMP echo with its one-second time-out.
    explicit ConverterSession(int32_t port, IReachability* echo = nullptr,
                              DeviceList::Clock clock = DeviceList::MonotonicSeconds);
    ~ConverterSession();
    ConverterSession(const ConverterSession&) = delete;
    ConverterSession& operator=(const ConverterSession&) = delete;

    // Opens the endpoint; false with a one-line reason when the port cannot be had. With
    // `broadcastInterface`, discovery and broadcast writes go to that interface's directed
    // broadcast only; false (nothing opened) when it has no IPv4 address to broadcast on.
    bool Open(std::string* error, const std::string& broadcastInterface = std::string());

    // Runs the loop until `done` says so (asked after every datagram and every tick) or `limit`
    // has passed; true when `done` said so. The first call ticks at once; later calls keep the
    // one-second rhythm of the first.
    bool RunUntil(std::chrono::milliseconds limit, const std::function<bool()>& done);

    // Takes answers for `listen`, then waits for the echoes of the listed converters (at most the
    // echo's time-out and a little more) and applies their results without taking further
    // datagrams: what a command prints then says who answered the echo.
    void ListenAndSettle(std::chrono::milliseconds listen);

    void SetAnswerHook(AnswerHook hook) { m_hook = std::move(hook); }

    DeviceList& List() { return m_list; }
    DiscoveryCycle& Discovery() { return m_discovery; }
    ConfigurationWriter& Writer() { return m_writer; }
    IReachability& Echo() { return *m_echo; }
    int32_t GetPort() const { return m_endpoint.GetPort(); }

    // Datagrams handed to the list so far, and how long the list spent on them (CPU time of the
    // loop's thread, echoes included as far as they use the CPU), for the benchmark.
    uint64_t GetAnswerCount() const { return m_answers; }
    std::chrono::nanoseconds GetAnswerCpuTime() const { return m_answerCpu; }

  private:
    // Hands the next waiting datagram to the list; false when there was none.
    bool HandleOneAnswer();

    CMsgQueue m_queue;
    ConverterEndpoint m_endpoint;
    std::unique_ptr<IReachability> m_ownEcho;
    IReachability* m_echo;
    DeviceList m_list;
    AnswerIntake m_intake;
    DiscoveryCycle m_discovery;
    ConfigurationWriter m_writer;
    AnswerHook m_hook;
    bool m_started = false;
    std::chrono::steady_clock::time_point m_nextTick;
    uint64_t m_answers = 0;
    std::chrono::nanoseconds m_answerCpu{0};
};

} // namespace qarn::cli
