#pragma once

#include "firmware/FirmwareTransferEnvironment.h"
#include "firmware/IFirmwareTransport.h"
#include "firmware/TransferResult.h"
#include "net/CMsg.h"
#include "net/CMsgQueue.h"
#include "net/Deadline.h"
#include "platform/Compiler.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace qarn {

class IProgressDisplay;

// What both transfer engines share for one call: the target, the private answer queue and the
// transport, the last answer taken, the progress display, the log lines, the closing steps and the
// result. The destructor lets go of everything in the right order (last answer, transport, queue)
// on every path out of an engine.
//
// Only datagrams from the converter being updated are answers: whatever else reaches the port (a
// stray answer of another converter, forged acknowledgements, junk) is dropped unseen, so that
// it can neither break a transfer off nor pass for the converter's consent.
class CFirmwareSession {
  public:
    // Time an engine waits for an answer, counted on the whole-second clock (2 to 3 s).
    static constexpr int64_t kAnswerWaitMs = 2500;
    // The look at the queue between two polls (AnswerWait::Poll).
    static constexpr int kPollIntervalMs = 5;
    // After the last acknowledgement: 100 slices of 50 ms before the converter is pinged.
    static constexpr int kRestartPauseSlices = 100;
    static constexpr int kRestartPauseSliceMs = 50;
    static constexpr int32_t kRestartPingRetries = 25;

    // `engine` names the engine in the log lines ("UpdateSam4LANconverter"); `target` is the
    // converter's address as text, resolved here. `progress` may be null.
    CFirmwareSession(const char* engine, std::string target,
                     const FirmwareTransferEnvironment& environment, IProgressDisplay* progress);
    ~CFirmwareSession();

    CFirmwareSession(const CFirmwareSession&) = delete;
    CFirmwareSession& operator=(const CFirmwareSession&) = delete;

    // Makes the queue and the transport and opens it towards the target. With the client
    // transport the engine may ask for a pause before the opening. False (logged) when the
    // transport is not available or does not open.
    bool Open(bool useUdp, int32_t clientLimit, int clientPauseMs);

    void Send(std::span<const uint8_t> datagram);

    // The first answer from the target taken before `deadline` passes, or null on a time-out.
    // The answer stays valid until the next call; the one before is deleted.
    const CMsg* WaitForAnswer(const Deadline& deadline);

    // Deletes whatever is already queued.
    void DrainQueue();

    // Progress: 0 with both repaints at the start; a position and its parent's repaint later.
    void ShowStart();
    void ShowProgress(int32_t percent);

    // The closing steps after the last acknowledgement: the success line, 100 %, then either the
    // restart pause and the pings (their result is the transfer's) or true at once. A converter
    // that does not answer echo after its restart leaves the result Unconfirmed.
    bool FinishSuccess(bool waitForRestart);
    // The last step got no acknowledgement: logs `reason`, waits for the restart as the success
    // path does (whatever the caller asked, for the converter's version to decide), and records
    // the result Unconfirmed. Returns false.
    bool FinishUnconfirmed(const std::string& reason);
    // Records why the transfer failed (the result Failed); returns false.
    bool Fail(const std::string& reason);

    const TransferResult& Result() const { return m_result; }

    // "CConfigLANconverter::<engine>: Dst:'<target>' " + the formatted detail.
    QARN_PRINTF_FORMAT(2, 3) void Error(const char* format, ...) const;

    const std::string& Target() const { return m_target; }

  private:
    std::unique_ptr<CMsg> PollForAnswer(const Deadline& deadline);
    std::unique_ptr<CMsg> AwaitAnswer(const Deadline& deadline);
    // The next queued message from the target; others are dropped. Null when none is queued.
    std::unique_ptr<CMsg> PopFromTarget();
    // The restart pause and the pings: true when the converter answers echo again.
    bool AwaitRestart();
    void Info(const std::string& detail) const;
    std::string Prefix() const;

    const char* m_engine;
    std::string m_target;
    uint32_t m_targetAddress = 0;
    const FirmwareTransferEnvironment& m_environment;
    IProgressDisplay* m_progress;
    std::unique_ptr<CMsgQueue> m_queue;
    std::unique_ptr<IFirmwareTransport> m_transport;
    std::unique_ptr<CMsg> m_lastAnswer;
    TransferResult m_result;
};

} // namespace qarn
