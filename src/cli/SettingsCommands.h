#pragma once

#include "cli/ConverterSession.h"
#include "cli/NetworkCommands.h"

#include <ostream>
#include <string>

namespace qarn::cli {

struct ExportOptions {
    double seconds = 3.0; // how long to listen before writing the file
    bool csv = false;     // JSON otherwise
};

struct ApplyOptions {
    std::string file;
    bool dryRun = false;
    bool verify = true;
    double seconds = 15.0; // time-out for finding the converters, and again for the verification
};

// Writes the settings file (SettingsFile.h) of every converter that is listed and complete after
// listening, in the list's order, to `out`. Converters whose answers are still incomplete are left
// out and named in one line on `err`; the status is 0 all the same.
int RunExport(const EndpointOptions& endpoint, const ExportOptions& options, std::ostream& out,
              std::ostream& err);

// Writes each converter of the file whose settings differ from what it reports, with `write`'s
// rules and checks, and waits until each shows its new settings. The whole file is refused, with
// nothing sent, when it cannot be read, when a value is refused for its converter, or when it
// would leave two converters with one address (or move one onto an address that another still
// holds). A converter of the file that is not listed is reported and skipped. Prints per converter
// what changes (`dryRun`: only that, nothing is sent). Returns 0 only when every converter of the
// file is listed and shows its settings.
int RunApply(const EndpointOptions& endpoint, const ApplyOptions& options, std::ostream& out,
             std::ostream& err);

} // namespace qarn::cli
