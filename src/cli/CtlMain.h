#pragma once

#include "cli/TextProgress.h"

#include <ostream>

namespace qarn::cli {

// The whole of qarn-converter-ctl: parses the command line, runs the verb, prints its result to
// `out` and problems to `err`, and returns the exit status (ExitStatus.h). `--help` on the program
// or any verb prints help to `out` and gives 0; a wrong command line gives one line on `err` and 2.
// `progress` is how `flash` shows its transfer on `out`: a bar when `out` is a terminal.
//
//     qarn-converter-ctl discover --time 5 --json
//     qarn-converter-ctl write 198.18.1.7 --ip 198.18.9.9
//     qarn-converter-ctl flash 198.18.1.7
//     qarn-converter-ctl diagnostics set --log-level 4 --log-folder /var/log/qarn
int RunCtl(int argc, const char* const* argv, std::ostream& out, std::ostream& err,
           ProgressStyle progress = ProgressStyle::Lines);

} // namespace qarn::cli
