#pragma once

#include "cli/ConverterSession.h"
#include "cli/WritePlan.h"

#include <string>
#include <vector>

namespace qarn::cli {

// What sending one prepared write did, as `write` and `apply` report it.
struct SentWrite {
    bool sent = false;
    // Why nothing (or nothing whole) went, one line: "198.18.1.6 is taken by another device
    // (02:51:00:00:00:06); nothing sent".
    std::string failure;
    // What happened, for the output: "sent to 198.18.1.4", "the row of 198.18.1.4 is gone; it
    // will answer from 198.18.9.9".
    std::vector<std::string> lines;
};

// Sends `prepared` through the session's write decision (ConfigurationWriter): the check of a
// new address, then unicast, or broadcast for a converter without echo or one named by its MAC
// address.
SentWrite SendPreparedWrite(ConverterSession& session, const PreparedWrite& prepared);

} // namespace qarn::cli
