#pragma once

#include "cli/ConverterSession.h"
#include "cli/TextProgress.h"

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace qarn::cli {

struct FlashOptions {
    std::string target;
    // Several converters at once (RunFleetFlash): the targets given, or every listed converter,
    // of one kind ("standard", "extended") when `kind` is set.
    std::vector<std::string> targets;
    bool all = false;
    std::string kind;
    // Transfers that run at the same time.
    int parallel = 10;
    // Progress and results as JSON lines.
    bool json = false;
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

// The checks every update makes before it looks for converters: the transfer's port 58009, and
// placeholder images only when allowed. 0 when they pass; else the status after one line on `err`.
int CheckFlashBasics(const EndpointOptions& endpoint, const FlashOptions& options,
                     std::ostream& err);

// After the converter to update was found, until the answers of the others to the last discovery
// request are over (at most a few seconds), with no request sent meanwhile: the transfer takes
// only its converter's datagrams, but the converter's own late configuration answer would count
// as a wrong answer to a block.
void LetAnswersSettle(ConverterSession& session);

} // namespace qarn::cli
