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
                       IProgressDisplay* progress, bool waitForRestart, bool useUdp,
                       TransferResult* result) {
    CFirmwareSession session(kEngine, target, m_environment, progress);
    const bool done = Transfer(session, image, waitForRestart, useUdp);
    if (result != nullptr)
        *result = session.Result();
    return done;
}

bool CLtxTransfer::Transfer(CFirmwareSession& session, std::span<const uint8_t> image,
                            bool waitForRestart, bool useUdp) {
    if (image.empty())
        return session.Fail("the image is empty");
    // The layout covers exactly this many bytes: a longer image would lose its tail unnoticed, a
    // shorter one would be read past its end.
    if (image.size() != kLtxImageBytes) {
        session.Error("Failure:Invalid image size:%zu bytes (expect:%zu bytes)", image.size(),
                      kLtxImageBytes);
        return session.Fail("the image does not have the size of this transfer");
    }
    if (!session.Open(useUdp, kClientLimit, kClientPauseMs))
        return session.Fail("the transfer's endpoint could not be opened");
    session.ShowStart();
    session.DrainQueue();

    std::fill(m_datagram.begin(), m_datagram.end(), 0);
    const std::vector<FirmwareBlock> blocks = LtxBlockLayout();
    for (size_t k = 0; k < blocks.size(); ++k) {
        const std::string failure = SendBlock(session, blocks[k], image);
        if (failure.empty())
            continue;
        const std::string reason = "block " + std::to_string(blocks[k].number & 0xFFFF) + " (" +
                                   std::to_string(k + 1) + " of " + std::to_string(blocks.size()) +
                                   ") was not acknowledged (" + failure + ")";
        // The converter takes the image with the last block, whether or not its acknowledgement
        // comes back.
        return k + 1 == blocks.size() ? session.FinishUnconfirmed(reason) : session.Fail(reason);
    }
    return session.FinishSuccess(waitForRestart);
}

std::string CLtxTransfer::SendBlock(CFirmwareSession& session, const FirmwareBlock& block,
                                    std::span<const uint8_t> image) {
    const std::span<const uint8_t> datagram(
        m_datagram.data(), EncodeFirmwareBlock(block, image, MakeSeed(), m_datagram.data()));
    const uint16_t number = static_cast<uint16_t>(block.number & 0xFFFF);

    int wrongLength = 0;
    int mismatched = 0;
    session.Send(datagram);
    Deadline deadline = MakeDeadline(CFirmwareSession::kAnswerWaitMs);
    for (;;) {
        const CMsg* answer = session.WaitForAnswer(deadline);
        if (answer == nullptr) {
            session.Error("Failure:Timeout");
            constexpr int64_t kWait = CFirmwareSession::kAnswerWaitMs;
            return "no answer within " + std::to_string(kWait / 1000) + "." +
                   std::to_string(kWait % 1000 / 100) + " s";
        }
        const std::vector<uint8_t>& bytes = answer->data;
        if (bytes.size() == kHeader) {
            const uint16_t echo = platform::GetLe16(bytes.data() + 4);
            const uint8_t command = bytes[2];
            if (echo == number && command != 0) {
                session.ShowProgress(static_cast<int32_t>(block.number * 1000 / kProgressDivisor));
                return {};
            }
            // Blocks go out in rising order: a lower echo acknowledges one that is done already.
            if (echo < number)
                continue;
            session.Error("Failure:Invalid block sequence or answer command: block(send:%d "
                          "got:%lu) cmd:%d",
                          static_cast<int>(block.number), static_cast<unsigned long>(echo),
                          static_cast<int>(command));
            if (++mismatched >= kMaxMismatchedAnswers) {
                session.Error("Failure:Too many mismatching answers:%d for block:%d", mismatched,
                              static_cast<int>(block.number));
                return std::to_string(mismatched) + " answers that did not match it";
            }
            deadline = MakeDeadline(CFirmwareSession::kAnswerWaitMs);
            continue;
        }
        session.Error("Failure:Invalid anser length:%d bytes (expect:LANconvConfigHdr(%u bytes))",
                      static_cast<int>(bytes.size()), static_cast<unsigned>(kHeader));
        if (++wrongLength >= kMaxWrongLengthAnswers)
            return std::to_string(wrongLength) + " answers of a wrong length";
        session.Send(datagram);
        deadline = MakeDeadline(CFirmwareSession::kAnswerWaitMs);
    }
}

} // namespace qarn
