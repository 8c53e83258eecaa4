#pragma once

#include <cstdint>
#include <string>

namespace qarn {

// How a firmware transfer ended, for a caller that tells the user more than yes or no.
enum class TransferVerdict {
    // Every block and the commit were acknowledged and, when asked, the converter answered echo
    // after its restart.
    Done,
    // The last step was never confirmed: the commit (or the fixed layout's last block) got no
    // acknowledgement, or the converter acknowledged it but did not answer echo after its
    // restart. The converter may well hold the new image: an acknowledgement can be lost on its
    // way back, and a converter that took the image restarts and refuses a repeated commit. The
    // engine has waited for the restart as on success; the firmware version the converter now
    // reports decides (a caller that cannot ask counts it as a failure).
    Unconfirmed,
    // The converter does not hold the new image: a block went unacknowledged, the converter
    // refused the commit, or nothing could be sent.
    Failed,
};

struct TransferResult {
    TransferVerdict verdict = TransferVerdict::Failed;
    // What happened, one line for the user, without the converter's address; empty for Done.
    // "block 72 of 146 was not acknowledged (no answer to 3 attempts)"
    std::string reason;
    // The progress last shown, 0..100, and whether the transfer got as far as showing any.
    int32_t percent = 0;
    bool started = false;
};

} // namespace qarn
