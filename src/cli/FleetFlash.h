#pragma once

#include "cli/ConverterSession.h"
#include "cli/FlashCommand.h"
#include "cli/FleetProgress.h"

#include <ostream>

namespace qarn::cli {

// Updates several converters at once: `options.targets`, or with `options.all` every listed
// converter (of `options.kind` when given). Each gets the image and transfer its firmware version
// calls for (PlanFlash), with the same datagrams as a single update; up to `options.parallel`
// transfers run at a time over one endpoint on port 58009 (SharedFirmwareEndpoint), each seeing
// only its own converter's answers. A converter that fails does not stop the others; a failed
// transfer starts over while `options.attempts` allows, and so does one whose converter does not
// report a new version afterwards.
//
// Progress goes to `out` in `form`; at the end a summary table (converter, old version, new
// version, verdict, seconds: its transfer from the first attempt's start to the last one's end,
// the restart wait included) or, with Json, one "result" object per converter and a "summary".
// Returns 0 only when every converter reports its new version (with `all`, a converter that
// already has the newest image counts as done); otherwise one line on `err` names the ones that
// were not updated, and 1.
int RunFleetFlash(const EndpointOptions& endpoint, const FlashOptions& options, FleetOutput form,
                  std::ostream& out, std::ostream& err, int terminalRows = 24);

// The verb's checks of a fleet update's command line that need no network: the port, the
// placeholder images, and the options that do not go with several converters. A usage error
// gives kExitUsage, a refusal kExitFailure, each with its one line on `err`; 0 when all is well.
int CheckFleetOptions(const EndpointOptions& endpoint, const FlashOptions& options,
                      std::ostream& err);

} // namespace qarn::cli
