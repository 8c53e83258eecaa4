#include "firmware/CLtxTransfer.h"

#include "firmware/CFirmwareSession.h"
#include "platform/ByteOrder.h"
#include "protocol/LANconvConfigHdr.h"
#include "protocol/Scramble.h"

#include <algorithm>
#include <utility>

namespace qarn {

namespace {

constexpr char kEngine[] = "UpdateLtxLANconverter";
constexpr size_t kHeader = LANconvConfigHdr::kSize;

} // namespace

CLtxTransfer::CLtxTransfer(FirmwareTransferEnvironment environment)
    : m_environment(std::move(environment)), m_datagram(kHeader + kLtxLongBlock, 0) {}

bool CLtxTransfer::Run(const std::string& target, std::span<const uint8_t> image,
                       IProgressDisplay* progress, bool waitForRestart, bool useUdp) {
    if (image.empty())
        return false;
    CFirmwareSession session(kEngine, target, m_environment, progress);
    // The layout covers exactly this many bytes: a longer image would lose its tail unnoticed, a
    // shorter one would be read past its end.
    if (image.size() != kLtxImageBytes) {
        session.Error("Failure:Invalid image size:%zu bytes (expect:%zu bytes)", image.size(),
                      kLtxImageBytes);
        return false;
    }
    if (!session.Open(useUdp, kClientLimit, kClientPauseMs))
        return false;
    session.ShowStart();
    session.DrainQueue();

    std::fill(m_datagram.begin(), m_datagram.end(), 0);
    for (const FirmwareBlock& block : LtxBlockLayout()) {
        if (!SendBlock(session, block, image))
            return false;
    }
    return session.FinishSuccess(waitForRestart);
}

bool CLtxTransfer::SendBlock(CFirmwareSession& session, const FirmwareBlock& block,
                             std::span<const uint8_t> image) {
    const std::span<const uint8_t> datagram(
        m_datagram.data(), EncodeFirmwareBlock(block, image, MakeSeed(), m_datagram.data()));

    int wrongLength = 0;
    int mismatched = 0;
    session.Send(datagram);
    Deadline deadline = MakeDeadline(CFirmwareSession::kAnswerWaitMs);
    for (;;) {
        const CMsg* answer = session.WaitForAnswer(deadline);
        if (answer == nullptr) {
            session.Error("Failure:Timeout");
            return false;
        }
        const std::vector<uint8_t>& bytes = answer->data;
        if (bytes.size() == kHeader) {
            const uint16_t echo = platform::GetLe16(bytes.data() + 4);
            const uint8_t command = bytes[2];
            if (echo == block.number && command != 0) {
                session.ShowProgress(static_cast<int32_t>(block.number * 1000 / kProgressDivisor));
                return true;
            }
            session.Error("Failure:Invalid block sequence or answer command: block(send:%d "
                          "got:%lu) cmd:%d",
                          static_cast<int>(block.number), static_cast<unsigned long>(echo),
                          static_cast<int>(command));
            if (++mismatched >= kMaxMismatchedAnswers) {
                session.Error("Failure:Too many mismatching answers:%d for block:%d", mismatched,
                              static_cast<int>(block.number));
                return false;
            }
            deadline = MakeDeadline(CFirmwareSession::kAnswerWaitMs);
            continue;
        }
        session.Error("Failure:Invalid anser length:%d bytes (expect:LANconvConfigHdr(%u bytes))",
                      static_cast<int>(bytes.size()), static_cast<unsigned>(kHeader));
        if (++wrongLength >= kMaxWrongLengthAnswers)
            return false;
        session.Send(datagram);
        deadline = MakeDeadline(CFirmwareSession::kAnswerWaitMs);
    }
}

} // namespace qarn
