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
                        IProgressDisplay* progress, bool waitForRestart, bool useUdp) {
    std::srand(platform::GetTickCount());
    if (image.empty())
        return false;
    CFirmwareSession session(kEngine, target, m_environment, progress);
    if (image.size() > kSam4MaxImageSize) {
        session.Error("Failure:Invalid image size:%zu bytes (expect:at most %zu bytes)",
                      image.size(), kSam4MaxImageSize);
        return false;
    }
    if (!session.Open(useUdp, kClientLimit, 0))
        return false;
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
                                    const char* wrongLengthError) {
    session.Send(std::span<const uint8_t>(m_datagram.data(), length));
    const CMsg* answer = session.WaitForAnswer(MakeDeadline(CFirmwareSession::kAnswerWaitMs));
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
    for (int attempt = 1; attempt <= kAttempts; ++attempt) {
        const CMsg* answer =
            Exchange(session, datagramLength,
                     "Failure:Invalid anser length:%d bytes (expect:LANconvConfigHdr(%u bytes))");
        if (answer == nullptr) {
            if (attempt == kAttempts)
                return false;
            continue;
        }
        const size_t length = answer->data.size();
        const uint16_t echo = BlockEcho(*answer);
        const uint8_t command = AnswerCommand(*answer);
        if (length >= 6 && echo == (block.number & 0xFFFF) && command != 0) {
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

    for (int attempt = 1; attempt <= kAttempts; ++attempt) {
        const CMsg* answer =
            Exchange(session, kHeader,
                     "Failure:Invalid answer length:%d bytes (expect:LANconvConfigHdr(%u bytes))");
        if (answer == nullptr) {
            if (attempt == kAttempts)
                return false;
            continue;
        }
        if (answer->data.size() >= 2 && answer->data[1] == kCmdFirmwareCommit)
            return true;
    }
    // Each refusal used up an attempt silently; without this line a refused image would leave
    // no trace in the log.
    session.Error("Failure:Commit not acknowledged");
    return false;
}

} // namespace qarn
