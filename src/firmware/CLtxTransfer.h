#pragma once

#include "firmware/FirmwareBlockLayout.h"
#include "firmware/FirmwareTransferEnvironment.h"
#include "firmware/TransferResult.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace qarn {

class CFirmwareSession;
class IProgressDisplay;

// The fixed-layout transfer (images 149 and 150, converters 2.x): a 131072-byte image in the 126
// blocks of LtxBlockLayout, each with a seed from MakeSeed, no commit: the converter takes the
// image when block 497 is acknowledged. Then, when asked, the wait for its restart.
//
// Stricter than the 1024-byte transfer: the first time-out fails it, and so does the third answer
// of a wrong length to one block (each one makes the block go out again). An answer of header
// length that does not match the block is logged and waited past, without a resend; the
// kMaxMismatchedAnswers-th of them to one block fails the transfer, so that a peer answering with
// wrong echoes cannot hold it forever. An acknowledgement of an earlier block (a converter that
// repeats its answers) is passed over without a word. The converter takes the image with block
// 497, so when that block is the one that fails, the transfer is Unconfirmed: the engine waits for
// the restart, and the converter's version decides (TransferResult). One Run per object at a
// time.
class CLtxTransfer {
  public:
    static constexpr int kMaxWrongLengthAnswers = 3;
    // A working converter answers each block once, or twice with a duplicate; 16 lies far beyond.
    static constexpr int kMaxMismatchedAnswers = 16;
    static constexpr int32_t kClientLimit = 100;
    // The client transport is opened only after this pause (ms).
    static constexpr int kClientPauseMs = 1000;
    // Progress after block n: n * 1000 / 4980, so block 497 shows 99.
    static constexpr uint32_t kProgressDivisor = 4980;

    explicit CLtxTransfer(FirmwareTransferEnvironment environment);

    // True when all 126 blocks were acknowledged and, with waitForRestart, the converter answered
    // echo again afterwards. An image of any size other than 131072 bytes is refused (logged)
    // before anything is sent.
    // `result`, when given, learns how it ended and why.
    bool Run(const std::string& target, std::span<const uint8_t> image, IProgressDisplay* progress,
             bool waitForRestart, bool useUdp, TransferResult* result = nullptr);

  private:
    bool Transfer(CFirmwareSession& session, std::span<const uint8_t> image, bool waitForRestart,
                  bool useUdp);
    // Empty when the block was acknowledged; else why not ("no answer within 2.5 s").
    std::string SendBlock(CFirmwareSession& session, const FirmwareBlock& block,
                          std::span<const uint8_t> image);

    FirmwareTransferEnvironment m_environment;
    std::vector<uint8_t> m_datagram; // header and room for one long block
};

} // namespace qarn
