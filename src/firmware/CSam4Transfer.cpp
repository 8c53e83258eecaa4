#include "firmware/CSam4Transfer.h"

#include "firmware/CConfigLANconverter.h"
#include "firmware/CFirmwareSession.h"
#include "platform/ByteOrder.h"
#include "platform/SystemTime.h"
#include "protocol/LANconvConfigHdr.h"
#include "protocol/Scramble.h"

#include <algorithm>
#include <cstdlib>
#include <utility>

namespace qarn {

namespace {

constexpr char kEngine[] = "UpdateSam4LANconverter";
constexpr size_t kHeader = LANconvConfigHdr::kSize;

// The 16-bit block echo of an answer and its byAnswerCmd; bytes the answer lacks read as 0.
uint16_t BlockEcho(const CMsg& answer) {
    return answer.data.size() >= 6 ? platform::GetLe16(answer.data.data() + 4) : 0;
}
uint8_t AnswerCommand(const CMsg& answer) {
    return answer.data.size() >= 3 ? answer.data[2] : 0;
}

uint32_t NextDraw() {
    return static_cast<uint32_t>(std::rand()) & CSam4Transfer::kSeedMask;
}

} // namespace

CSam4Transfer::CSam4Transfer(FirmwareTransferEnvironment environment)
    : m_environment(std::move(environment)), m_datagram(kHeader + kSam4BlockSize, 0) {}

bool CSam4Transfer::Run(const std::string& target, std::span<const uint8_t> image,
                        IProgressDisplay* progress, bool waitForRestart, bool useUdp,
                        TransferResult* result) {
    std::srand(platform::GetTickCount());
    CFirmwareSession session(kEngine, target, m_environment, progress);
    const bool done = Transfer(session, image, waitForRestart, useUdp);
    if (result != nullptr)
        *result = session.Result();
    return done;
}

bool CSam4Transfer::Transfer(CFirmwareSession& session, std::span<const uint8_t> image,
                             bool waitForRestart, bool useUdp) {
    if (image.empty())
        return session.Fail("the image is empty");
    if (image.size() > kSam4MaxImageSize) {
        session.Error("Failure:Invalid image size:%zu bytes (expect:at most %zu bytes)",
                      image.size(), kSam4MaxImageSize);
        return session.Fail("the image is too large for this transfer");
    }
    if (!session.Open(useUdp, kClientLimit, 0))
        return session.Fail("the transfer's endpoint could not be opened");
    session.ShowStart();
    session.DrainQueue();

    std::fill(m_datagram.begin(), m_datagram.end(), 0);
    const std::vector<FirmwareBlock> blocks = Sam4BlockLayout(image.size());
    for (const FirmwareBlock& block : blocks) {
        if (!SendBlock(session, block, image, blocks.size()))
            return false;
    }
    if (!Commit(session, image))
        return false;
    return session.FinishSuccess(waitForRestart);
}

const CMsg* CSam4Transfer::Exchange(CFirmwareSession& session, size_t length,
                                    const char* wrongLengthError,
                                    const std::function<bool(const CMsg&)>& stale) {
    session.Send(std::span<const uint8_t>(m_datagram.data(), length));
    const Deadline deadline = MakeDeadline(CFirmwareSession::kAnswerWaitMs);
    const CMsg* answer = session.WaitForAnswer(deadline);
    while (answer != nullptr && stale(*answer))
        answer = session.WaitForAnswer(deadline);
    if (answer == nullptr)
        session.Error("Failure:Timeout");
    else if (answer->data.size() != kHeader)
        session.Error(wrongLengthError, static_cast<int>(answer->data.size()),
                      static_cast<unsigned>(kHeader));
    return answer;
}

bool CSam4Transfer::SendBlock(CFirmwareSession& session, const FirmwareBlock& block,
                              std::span<const uint8_t> image, size_t blockCount) {
    const size_t datagramLength = EncodeFirmwareBlock(block, image, NextDraw(), m_datagram.data());
    const uint16_t number = static_cast<uint16_t>(block.number & 0xFFFF);
    // Blocks go out in rising order, so an echo below this block's number acknowledges one that
    // is done already.
    const auto earlier = [number](const CMsg& answer) {
        return answer.data.size() >= 6 && BlockEcho(answer) < number;
    };
    int unanswered = 0;
    for (int attempt = 1; attempt <= kAttempts; ++attempt) {
        const CMsg* answer = Exchange(
            session, datagramLength,
            "Failure:Invalid anser length:%d bytes (expect:LANconvConfigHdr(%u bytes))", earlier);
        if (answer == nullptr) {
            ++unanswered;
            if (attempt == kAttempts)
                return session.Fail("block " + std::to_string(number) + " of " +
                                    std::to_string(blockCount) + " was not acknowledged (" +
                                    std::to_string(unanswered) + " of " +
                                    std::to_string(kAttempts) + " attempts without an answer)");
            continue;
        }
        const size_t length = answer->data.size();
        const uint16_t echo = BlockEcho(*answer);
        const uint8_t command = AnswerCommand(*answer);
        if (length >= 6 && echo == number && command != 0) {
            session.ShowProgress(
                static_cast<int32_t>(size_t{block.number} * 1000 / blockCount / 10));
            return true;
        }
        session.Error("Failure:Invalid block sequence or answer command: block(send:%d got:%lu) "
                      "cmd:%d",
                      static_cast<int>(block.number), static_cast<unsigned long>(echo),
                      static_cast<int>(command));
    }
    // The third attempt was answered, if wrongly: the converter is there, and the commit's
    // checksum will tell whether it holds the image.
    return true;
}

bool CSam4Transfer::Commit(CFirmwareSession& session, std::span<const uint8_t> image) {
    LANconvConfigHdr header;
    header.byType = 1;
    header.byCmd = kCmdFirmwareCommit;
    header.dwBlock = CConfigLANconverter::_CreateFirmwareChecksum(image);
    header.dwLength = static_cast<uint32_t>(image.size());
    header.dwSeed = NextDraw();
    header.EncodeTo(m_datagram.data(), kHeader);

    // A block acknowledgement (one that carries its echo) that comes this late answers no commit.
    const auto blockAnswer = [](const CMsg& answer) {
        return answer.data.size() >= 6 && answer.data[1] == kCmdFirmwareBlock;
    };
    int unanswered = 0;
    for (int attempt = 1; attempt <= kAttempts; ++attempt) {
        const CMsg* answer =
            Exchange(session, kHeader,
                     "Failure:Invalid answer length:%d bytes (expect:LANconvConfigHdr(%u bytes))",
                     blockAnswer);
        if (answer == nullptr) {
            ++unanswered;
            continue;
        }
        if (answer->data.size() >= 2 && answer->data[1] == kCmdFirmwareCommit)
            return true;
    }
    // Each refusal used up an attempt silently; without this line a refused image would leave
    // no trace in the log.
    session.Error("Failure:Commit not acknowledged");
    if (unanswered == 0)
        return session.Fail("the converter refused the image: it answered the commit " +
                            std::to_string(kAttempts) + " times without consent");
    // An acknowledgement lost on its way back looks just like this, and the converter that took
    // the image restarts with it (and refuses a repeated commit meanwhile).
    return session.FinishUnconfirmed("the commit was not acknowledged (" +
                                     std::to_string(unanswered) + " of " +
                                     std::to_string(kAttempts) + " attempts without an answer)");
}

} // namespace qarn
