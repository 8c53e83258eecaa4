#include "cli/ConverterSession.h"

#include "protocol/PingReachability.h"

#include <algorithm>
#include <ctime>
#include <thread>

namespace qarn::cli {

namespace {

std::chrono::nanoseconds ThreadCpuTime() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec);
}

// "no IPv4 address to broadcast on at interface 'eth7' (interfaces: eth0, wlan0)"
std::string NoInterfaceReason(const std::string& name) {
    std::string known;
    for (const std::string& candidate : ConverterEndpoint::ListBroadcastInterfaces())
        known += (known.empty() ? "" : ", ") + candidate;
    return "no IPv4 address to broadcast on at interface '" + name +
           "' (interfaces: " + (known.empty() ? "none" : known) + ")";
}

} // namespace

ConverterSession::ConverterSession(int32_t port, IReachability* echo, DeviceList::Clock clock)
    : m_endpoint(m_queue, port),
      m_ownEcho(echo == nullptr ? std::make_unique<PingReachability>() : nullptr),
      m_echo(echo == nullptr ? m_ownEcho.get() : echo), m_list(*m_echo, std::move(clock)),
      m_intake(m_queue, m_list), m_discovery(m_endpoint, m_list),
      m_writer(m_endpoint, m_list, m_discovery, *m_echo) {}

ConverterSession::~ConverterSession() {
    // The receive worker pushes into m_queue until the endpoint is closed.
    m_endpoint.Close();
}

bool ConverterSession::Open(std::string* error, const std::string& broadcastInterface) {
    if (!broadcastInterface.empty()) {
        if (ConverterEndpoint::DirectedBroadcastsOf(broadcastInterface).empty()) {
            if (error != nullptr)
                *error = NoInterfaceReason(broadcastInterface);
            return false;
        }
        m_endpoint.SetBroadcastInterface(broadcastInterface);
    }
    if (m_endpoint.Open())
        return true;
    if (error != nullptr)
        *error = "cannot open UDP port " + std::to_string(m_endpoint.GetPort());
    return false;
}

void ConverterSession::ListenAndSettle(std::chrono::milliseconds listen) {
    // The longest a converter's echo runs (PingReachability's time-out) and a little more.
    constexpr std::chrono::milliseconds kEchoSettleLimit{1500};
    RunUntil(listen, [] { return false; });
    m_list.WaitForEchoes(kEchoSettleLimit);
    m_list.CollectEchoResults();
}

bool ConverterSession::HandleOneAnswer() {
    const std::chrono::nanoseconds before = ThreadCpuTime();
    const size_t handled = m_intake.Pump(1, [this](const CMsg& msg, AnswerDisposition disposition) {
        if (m_hook)
            m_hook(msg.address, disposition, msg.data);
    });
    m_answerCpu += ThreadCpuTime() - before;
    m_answers += handled;
    return handled != 0;
}

bool ConverterSession::RunUntil(std::chrono::milliseconds limit,
                                const std::function<bool()>& done) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + limit;
    if (!m_started) {
        m_started = true;
        m_nextTick = Clock::now();
    }
    for (;;) {
        if (m_list.CollectEchoResults() != 0 && done())
            return true;
        Clock::time_point now = Clock::now();
        if (now >= m_nextTick) {
            m_discovery.Tick();
            // A timer does not pile up ticks it missed while the loop was busy.
            m_nextTick += kTickInterval;
            if (m_nextTick <= now)
                m_nextTick = now + kTickInterval;
            if (done())
                return true;
        }
        if (HandleOneAnswer()) {
            if (done())
                return true;
            if (Clock::now() < deadline)
                continue;
        }
        now = Clock::now();
        if (now >= deadline)
            return done();
        const auto pause = std::min({Clock::duration(std::chrono::milliseconds(kQueuePollMs)),
                                     m_nextTick - now, deadline - now});
        std::this_thread::sleep_for(pause);
    }
}

} // namespace qarn::cli
