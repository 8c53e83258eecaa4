#include "firmware/CFirmwareSession.h"

#include "diag/FileLogger.h"
#include "firmware/IProgressDisplay.h"
#include "net/CSupport.h"

#include <algorithm>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <thread>
#include <utility>
#include <vector>

namespace qarn {

namespace {

std::string FormatV(const char* format, va_list arguments) {
    va_list measure;
    va_copy(measure, arguments);
    const int size = std::vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    if (size <= 0)
        return {};
    std::vector<char> text(static_cast<size_t>(size) + 1, '\0');
    std::vsnprintf(text.data(), text.size(), format, arguments);
    return text.data();
}

int64_t MonotonicMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// How long to sleep before `deadline` may have passed: the whole-second clock reaches it at the
// next full second at or after it. 12500 seen at 12100 -> 900. At least 1 ms, so that a caller
// that re-checks the deadline never spins.
int32_t MsUntilPassed(const Deadline& deadline) {
    const int64_t passesAt = (deadline.ms + 999) / 1000 * 1000;
    return static_cast<int32_t>(std::clamp<int64_t>(passesAt - MonotonicMs(), 1, 1000000));
}

} // namespace

CFirmwareSession::CFirmwareSession(const char* engine, std::string target,
                                   const FirmwareTransferEnvironment& environment,
                                   IProgressDisplay* progress)
    : m_engine(engine), m_target(std::move(target)), m_environment(environment),
      m_progress(progress) {
    m_targetAddress = CSupport::GetIP(m_target);
}

CFirmwareSession::~CFirmwareSession() {
    m_lastAnswer.reset();
    // The transport goes first: its workers push into the queue until it is closed.
    if (m_transport) {
        m_transport->Close();
        m_transport.reset();
    }
    m_queue.reset();
}

std::string CFirmwareSession::Prefix() const {
    return std::string("CConfigLANconverter::") + m_engine + ": Dst:'" + m_target + "' ";
}

void CFirmwareSession::Error(const char* format, ...) const {
    if (!IsErrorLogEnabled())
        return;
    va_list arguments;
    va_start(arguments, format);
    const std::string detail = FormatV(format, arguments);
    va_end(arguments);
    LogError(Prefix() + detail);
}

void CFirmwareSession::Info(const std::string& detail) const {
    if (IsInfoLogEnabled())
        LogInfo(Prefix() + detail);
}

bool CFirmwareSession::Open(bool useUdp, int32_t clientLimit, int clientPauseMs) {
    m_transport =
        m_environment.makeTransport ? m_environment.makeTransport(useUdp, clientLimit) : nullptr;
    if (!m_transport) {
        Error(useUdp ? "Failure:UDP transport not available"
                     : "Failure:communication client not available");
        return false;
    }
    if (!useUdp && clientPauseMs > 0)
        m_environment.sleep(std::chrono::milliseconds(clientPauseMs));
    m_queue = std::make_unique<CMsgQueue>();
    const bool signal = m_environment.answerWait == AnswerWait::Event;
    if (!m_transport->Open(*m_queue, m_targetAddress, signal)) {
        m_transport.reset();
        return false;
    }
    return true;
}

void CFirmwareSession::Send(std::span<const uint8_t> datagram) {
    (void)m_transport->Send(datagram);
}

const CMsg* CFirmwareSession::WaitForAnswer(const Deadline& deadline) {
    m_lastAnswer.reset();
    m_lastAnswer = m_environment.answerWait == AnswerWait::Event ? AwaitAnswer(deadline)
                                                                 : PollForAnswer(deadline);
    return m_lastAnswer.get();
}

std::unique_ptr<CMsg> CFirmwareSession::PopFromTarget() {
    while (std::unique_ptr<CMsg> msg = m_queue->Pop()) {
        if (msg->address == m_targetAddress)
            return msg;
        if (IsDebugLogEnabled())
            LogDebug(Prefix() + "Ignored:" + std::to_string(msg->data.size()) +
                     " bytes from another address");
    }
    return nullptr;
}

std::unique_ptr<CMsg> CFirmwareSession::PollForAnswer(const Deadline& deadline) {
    for (;;) {
        if (std::unique_ptr<CMsg> answer = PopFromTarget())
            return answer;
        if (IsDeadlinePassed(deadline))
            return nullptr;
        std::this_thread::sleep_for(std::chrono::milliseconds(kPollIntervalMs));
    }
}

// The event is reset before each look at the queue, so an answer pushed after the look sets it
// again and the wait returns at once: none is missed, none waits for the deadline.
std::unique_ptr<CMsg> CFirmwareSession::AwaitAnswer(const Deadline& deadline) {
    platform::Event& arrived = m_queue->GetEvent();
    const auto lookUntil = std::chrono::steady_clock::now() + m_environment.answerSpin;
    while (std::chrono::steady_clock::now() < lookUntil) {
        if (std::unique_ptr<CMsg> answer = PopFromTarget())
            return answer;
        std::this_thread::yield();
    }
    for (;;) {
        arrived.Reset();
        if (std::unique_ptr<CMsg> answer = PopFromTarget())
            return answer;
        if (IsDeadlinePassed(deadline))
            return nullptr;
        if (arrived.Wait(MsUntilPassed(deadline)) == platform::WaitResult::Failed)
            std::this_thread::sleep_for(std::chrono::milliseconds(kPollIntervalMs));
    }
}

void CFirmwareSession::DrainQueue() {
    while (m_queue->Pop()) {
    }
}

void CFirmwareSession::ShowStart() {
    m_result.started = true;
    m_result.percent = 0;
    if (m_progress == nullptr)
        return;
    m_progress->SetPos(0);
    m_progress->RepaintNow();
    m_progress->RepaintParentNow();
}

void CFirmwareSession::ShowProgress(int32_t percent) {
    m_result.percent = percent;
    if (m_progress == nullptr)
        return;
    m_progress->SetPos(percent);
    m_progress->RepaintParentNow();
}

bool CFirmwareSession::AwaitRestart() {
    // The converter takes the image and restarts meanwhile; it would not answer earlier.
    for (int slice = 0; slice < kRestartPauseSlices; ++slice)
        m_environment.sleep(std::chrono::milliseconds(kRestartPauseSliceMs));
    if (m_progress != nullptr) {
        m_progress->SetShowText(false);
        m_progress->SetWindowText("");
    }
    return m_environment.pingWait(m_target, kRestartPingRetries);
}

bool CFirmwareSession::FinishSuccess(bool waitForRestart) {
    Info("done:Success");
    ShowProgress(100);
    if (!waitForRestart) {
        if (m_progress != nullptr) {
            m_progress->SetShowText(false);
            m_progress->SetWindowText("");
        }
        m_result.verdict = TransferVerdict::Done;
        return true;
    }
    if (AwaitRestart()) {
        m_result.verdict = TransferVerdict::Done;
        return true;
    }
    m_result.verdict = TransferVerdict::Unconfirmed;
    m_result.reason = "every step was acknowledged, but the converter did not answer echo after "
                      "its restart";
    return false;
}

bool CFirmwareSession::FinishUnconfirmed(const std::string& reason) {
    Error("Unconfirmed:%s; waiting for the restart", reason.c_str());
    const bool back = AwaitRestart();
    m_result.verdict = TransferVerdict::Unconfirmed;
    m_result.reason =
        reason + (back ? "; the converter answered echo after the restart wait"
                       : "; the converter did not answer echo after the restart wait");
    return false;
}

bool CFirmwareSession::Fail(const std::string& reason) {
    m_result.verdict = TransferVerdict::Failed;
    m_result.reason = reason;
    return false;
}

} // namespace qarn
