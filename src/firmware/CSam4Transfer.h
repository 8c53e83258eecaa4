#pragma once

#include "firmware/FirmwareBlockLayout.h"
#include "firmware/FirmwareTransferEnvironment.h"
#include "firmware/TransferResult.h"

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace qarn {

class CFirmwareSession;
class CMsg;
class IProgressDisplay;

// The 1024-byte transfer (image 151, converters 3.x to 5.x): numbered 1024-byte blocks, each
// scrambled with a fresh 15-bit seed and tried up to three times, then a commit that carries the
// image's length and Adler-32, then, when asked, the wait for the converter's restart.
//
// A block fails the transfer only when its third attempt times out; three wrong answers move on
// to the next block, and the converter's verdict on the commit decides. An acknowledgement of an
// earlier block (a converter that repeats its answers, a late one after a resend) is no answer to
// the current block and costs no attempt. A commit refused three times fails the transfer; a
// commit that got no acknowledgement at one attempt or more is Unconfirmed: the engine waits for
// the restart, and the converter's version decides (TransferResult). One Run per object at a
// time; it blocks the calling thread until the transfer ends.
class CSam4Transfer {
  public:
    static constexpr int kAttempts = 3;
    static constexpr int32_t kClientLimit = 50;
    // Seeds are draws of the C library's generator cut to 15 bits: 0..32767.
    static constexpr uint32_t kSeedMask = 0x7FFF;

    explicit CSam4Transfer(FirmwareTransferEnvironment environment);

    // True when every block and the commit were acknowledged and, with waitForRestart, the
    // converter answered echo again afterwards. `target` is the converter's address as text.
    // `result`, when given, learns how it ended and why.
    bool Run(const std::string& target, std::span<const uint8_t> image, IProgressDisplay* progress,
             bool waitForRestart, bool useUdp, TransferResult* result = nullptr);

  private:
    bool Transfer(CFirmwareSession& session, std::span<const uint8_t> image, bool waitForRestart,
                  bool useUdp);
    bool SendBlock(CFirmwareSession& session, const FirmwareBlock& block,
                   std::span<const uint8_t> image, size_t blockCount);
    bool Commit(CFirmwareSession& session, std::span<const uint8_t> image);
    // Sends the first `length` bytes of the datagram and takes the answer of one attempt,
    // passing over answers for earlier steps (`stale`); null (logged) on a time-out. An answer
    // that is not one header long is logged with `wrongLengthError` (a format with the length and
    // the header size) and still returned.
    const CMsg* Exchange(CFirmwareSession& session, size_t length, const char* wrongLengthError,
                         const std::function<bool(const CMsg&)>& stale);

    FirmwareTransferEnvironment m_environment;
    std::vector<uint8_t> m_datagram; // header and room for one block, reused for every block
};

} // namespace qarn
