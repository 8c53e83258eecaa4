#include "net/EchoEngine.h"

#include "diag/FileLogger.h"

#include <algorithm>
#include <string>

namespace qarn {

namespace {

constexpr size_t kMaxProbes = 4; // EchoSchedule::Echo::sequences
constexpr size_t kReadBatch = 256;

EchoSettings Sanitized(EchoSettings settings) {
    settings.probes = std::clamp<uint32_t>(settings.probes, 1, kMaxProbes);
    settings.probesPerSecond = std::max<uint32_t>(settings.probesPerSecond, 1);
    return settings;
}

} // namespace

EchoSchedule::EchoSchedule(IEchoProbeSocket& socket, EchoSettings settings, Done done)
    : m_socket(socket), m_settings(Sanitized(settings)), m_done(std::move(done)) {}

bool EchoSchedule::Submit(uint32_t address, bool urgent) {
    auto found = m_echoes.find(address);
    if (found != m_echoes.end()) {
        // A known host asking again while its echo waits behind new ones moves to the front.
        if (urgent && !found->second.urgent && found->second.sent == 0) {
            found->second.urgent = true;
            --m_normalCount;
            m_urgent.push_back(address);
        }
        return true;
    }
    const size_t urgentCount = m_echoes.size() - m_normalCount;
    if (urgent ? urgentCount >= m_settings.urgentReserve &&
                     m_echoes.size() >= m_settings.maxOutstanding + m_settings.urgentReserve
               : m_normalCount >= m_settings.maxOutstanding)
        return false;
    Echo& echo = m_echoes[address];
    echo.urgent = urgent;
    echo.generation = m_nextGeneration++;
    if (urgent) {
        m_urgent.push_back(address);
    } else {
        ++m_normalCount;
        m_normal.push_back(address);
    }
    return true;
}

bool EchoSchedule::Take(double& tokens) {
    if (tokens < 1.0)
        return false;
    tokens -= 1.0;
    return true;
}

EchoSchedule::SendOutcome EchoSchedule::SendProbe(uint32_t address, Echo& echo) {
    // A sequence number still awaited by another probe is skipped, so that after a wrap an
    // answer cannot be taken for the wrong probe.
    uint16_t sequence = m_nextSequence;
    for (size_t tries = 0; m_probeOwner.count(sequence) != 0 && tries < 65536; ++tries)
        ++sequence;
    if (m_probeOwner.count(sequence) != 0)
        return SendOutcome::Busy;
    switch (m_socket.Send(address, sequence)) {
    case platform::ProbeSend::Busy:
        return SendOutcome::Busy;
    case platform::ProbeSend::Refused:
        m_nextSequence = static_cast<uint16_t>(sequence + 1);
        return SendOutcome::Refused;
    case platform::ProbeSend::Sent:
        break;
    }
    m_nextSequence = static_cast<uint16_t>(sequence + 1);
    m_probeOwner[sequence] = address;
    echo.sequences[echo.sent++] = sequence;
    return SendOutcome::Sent;
}

void EchoSchedule::Finish(uint32_t address, bool reply) {
    auto found = m_echoes.find(address);
    if (found == m_echoes.end())
        return;
    for (uint8_t i = 0; i < found->second.sent; ++i)
        m_probeOwner.erase(found->second.sequences[i]);
    if (!found->second.urgent)
        --m_normalCount;
    m_echoes.erase(found);
    // Queues and timers still naming it find no echo (or another generation) and pass it by.
    if (m_done)
        m_done(address, reply);
}

EchoSchedule::TimePoint EchoSchedule::Run(TimePoint now) {
    // Pacing: a bucket refilled at the rate, holding at most a 20 ms burst.
    const double burst = std::max(1.0, m_settings.probesPerSecond / 50.0);
    if (m_lastRefill == TimePoint{}) {
        m_tokens = burst;
    } else if (now > m_lastRefill) {
        const double seconds = std::chrono::duration<double>(now - m_lastRefill).count();
        m_tokens = std::min(burst, m_tokens + seconds * m_settings.probesPerSecond);
    }
    m_lastRefill = now;

    while (!m_timers.empty() && m_timers.top().at <= now) {
        const Timer timer = m_timers.top();
        m_timers.pop();
        auto found = m_echoes.find(timer.address);
        if (found == m_echoes.end() || found->second.generation != timer.generation)
            continue;
        if (timer.step >= m_settings.probes)
            Finish(timer.address, false);
        else
            m_resend.emplace_back(timer.address, timer.generation);
    }

    bool busy = false;
    // Further probes of echoes in flight first: their time-out runs already.
    while (!busy && !m_resend.empty() && m_tokens >= 1.0) {
        const auto [address, generation] = m_resend.front();
        auto found = m_echoes.find(address);
        if (found == m_echoes.end() || found->second.generation != generation) {
            m_resend.pop_front();
            continue;
        }
        const SendOutcome outcome = SendProbe(address, found->second);
        if (outcome == SendOutcome::Busy) {
            busy = true;
            break;
        }
        Take(m_tokens);
        m_resend.pop_front(); // a later probe that cannot go out leaves the earlier ones waiting
    }
    for (std::deque<uint32_t>* queue : {&m_urgent, &m_normal}) {
        while (!busy && !queue->empty() && m_tokens >= 1.0) {
            const uint32_t address = queue->front();
            auto found = m_echoes.find(address);
            const bool wanted = found != m_echoes.end() && found->second.sent == 0 &&
                                found->second.urgent == (queue == &m_urgent);
            if (!wanted) {
                queue->pop_front();
                continue;
            }
            Echo& echo = found->second;
            const SendOutcome outcome = SendProbe(address, echo);
            if (outcome == SendOutcome::Busy) {
                busy = true;
                break;
            }
            Take(m_tokens);
            queue->pop_front();
            if (outcome == SendOutcome::Refused) {
                Finish(address, false);
                continue;
            }
            echo.firstSent = now;
            for (uint32_t step = 1; step < m_settings.probes; ++step) {
                const TimePoint at = now + step * m_settings.probeSpacing;
                if (at < now + m_settings.timeout)
                    m_timers.push({at, address, echo.generation, static_cast<uint8_t>(step)});
            }
            m_timers.push({now + m_settings.timeout, address, echo.generation,
                           static_cast<uint8_t>(m_settings.probes)});
        }
    }

    TimePoint next = m_timers.empty() ? TimePoint::max() : m_timers.top().at;
    const bool waiting = !m_resend.empty() || !m_urgent.empty() || !m_normal.empty();
    if (busy) {
        next = std::min(next, now + std::chrono::milliseconds(1));
    } else if (waiting) {
        const double missing = std::max(0.0, 1.0 - m_tokens);
        const auto wait = std::chrono::duration_cast<Clock::duration>(
            std::chrono::duration<double>(missing / m_settings.probesPerSecond));
        next = std::min(next, now + std::max<Clock::duration>(wait, Clock::duration(1)));
    }
    return next;
}

void EchoSchedule::OnAnswer(const platform::IcmpAnswer& answer, TimePoint /*now*/) {
    if (answer.identifier != m_socket.Identifier())
        return;
    const auto owner = m_probeOwner.find(answer.sequence);
    if (owner == m_probeOwner.end())
        return; // late (the echo ended), a duplicate, or never ours
    const uint32_t address = owner->second;
    if (answer.target != address)
        return;
    if (answer.status == platform::kIpSuccess) {
        // Only the host itself can answer for itself.
        if (answer.from != address)
            return;
        Finish(address, true);
        return;
    }
    if (IsInfoLogEnabled())
        LogInfo("EchoEngine: echo answered with status " + std::to_string(answer.status));
    Finish(address, false);
}

class EchoEngine::SocketAdapter : public IEchoProbeSocket {
  public:
    explicit SocketAdapter(platform::IcmpProbeSocket& socket) : m_socket(socket) {}
    platform::ProbeSend Send(uint32_t address, uint16_t sequence) override {
        return m_socket.Send(address, sequence);
    }
    uint16_t Identifier() const override { return m_socket.Identifier(); }

  private:
    platform::IcmpProbeSocket& m_socket;
};

EchoEngine::EchoEngine(Done done, EchoSettings settings, uint8_t ttl)
    : m_socket(ttl), m_adapter(std::make_unique<SocketAdapter>(m_socket)), m_done(std::move(done)) {
    m_schedule =
        std::make_unique<EchoSchedule>(*m_adapter, settings, [this](uint32_t address, bool reply) {
            m_finished.emplace_back(address, reply);
        });
    if (!m_socket.IsValid()) {
        if (IsErrorLogEnabled())
            LogError("EchoEngine: no ICMP socket, error " + std::to_string(m_socket.OpenError()));
        return;
    }
    m_thread = std::thread([this] { Loop(); });
}

EchoEngine::~EchoEngine() {
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_stopping = true;
    }
    m_wake.Set();
    if (m_thread.joinable())
        m_thread.join();
}

bool EchoEngine::Submit(uint32_t address, bool urgent) {
    if (!m_socket.IsValid()) {
        if (m_done)
            m_done(address, false);
        return true;
    }
    {
        std::lock_guard<std::mutex> lock(m_lock);
        if (!m_schedule->Submit(address, urgent))
            return false;
    }
    m_wake.Set();
    return true;
}

void EchoEngine::Loop() {
    std::vector<platform::IcmpAnswer> answers;
    std::vector<std::pair<uint32_t, bool>> finished;
    for (;;) {
        EchoSchedule::TimePoint next;
        {
            std::lock_guard<std::mutex> lock(m_lock);
            if (m_stopping)
                return;
            const auto now = EchoSchedule::Clock::now();
            for (const platform::IcmpAnswer& answer : answers)
                m_schedule->OnAnswer(answer, now);
            next = m_schedule->Run(now);
            finished.swap(m_finished);
        }
        answers.clear();
        for (const auto& [address, reply] : finished)
            m_done(address, reply);
        finished.clear();
        int32_t waitMs = platform::Event::kInfinite;
        if (next != EchoSchedule::TimePoint::max()) {
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(next - EchoSchedule::Clock::now());
            waitMs = static_cast<int32_t>(std::clamp<int64_t>(left.count(), 0, 60000));
        }
        const platform::WaitResult woke = m_socket.WaitForAnswers(m_wake, waitMs);
        if (woke == platform::WaitResult::First)
            m_socket.ReadAnswers(answers, kReadBatch);
        else if (woke == platform::WaitResult::Failed)
            return;
    }
}

} // namespace qarn
