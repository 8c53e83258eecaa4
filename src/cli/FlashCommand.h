#pragma once

#include "cli/ConverterSession.h"
#include "cli/TextProgress.h"

#include <cstdint>
#include <ostream>
#include <string>

namespace qarn::cli {

struct FlashOptions {
    std::string target;
    bool waitForRestart = true;
    // The build's images are placeholders (random bytes): sent only when this is set, for
    // simulated converters.
    bool allowPlaceholderImages = false;
    // The transfer goes through the local communication service (qarn-comm-service), which puts
    // the same datagrams on the wire, instead of this program's own endpoint.
    bool viaService = false;
    // Time-out for the converter to be listed with all its answers before the update, and again
    // for it to be listed with its new firmware afterwards.
    double seconds = 30.0;
    // Transfers tried in all: a failed one starts over from the first block. The transfer itself
    // stops at its first unanswered block (the fixed layout) or its third (the 1024-byte one).
    int attempts = 1;
};

// Updates one converter's firmware as the window does: finds it, decides image and transfer by
// its firmware version (PlanFlash), closes its own endpoint so that the transfer can have port
// 58009, runs the transfer with a progress display in `style` on `out`, then discovers afresh and
// prints the firmware the converter now reports. `endpoint.port` must be the converters' port
// 58009, the one the transfer uses (the transfer itself sends no broadcast). A transfer whose last
// acknowledgement never came is decided by the version the converter reports after its restart. A
// failed transfer starts over, up to `attempts` transfers in all. Returns 0 only when the converter
// answers with a new firmware version; a refusal or a failure is one line on `err` and 1.
int RunFlash(const EndpointOptions& endpoint, const FlashOptions& options, ProgressStyle style,
             std::ostream& out, std::ostream& err);

} // namespace qarn::cli
