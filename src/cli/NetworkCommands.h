#pragma once

#include "cli/ConverterSession.h"
#include "cli/WritePlan.h"

#include <cstdint>
#include <ostream>
#include <string>

namespace qarn::cli {

enum class OutputForm { Table, Json, Csv };

struct DiscoverOptions {
    double seconds = 3.0; // how long to listen before printing the list
    OutputForm form = OutputForm::Table;
};

struct ShowOptions {
    std::string target;
    double seconds = 10.0; // time-out for the converter to be listed with all its answers
    bool json = false;
};

struct WriteOptions {
    std::string target;
    WriteEdits edits;
    bool verify = true;
    double seconds = 15.0; // time-out for finding the converter, and again for the verification
};

// The verbs on the network. Each runs its own main loop on the calling thread for as long as it
// needs, prints its result to `out` and a failure as one line to `err`, and returns the exit
// status. `endpoint` names the local port, which is also the converters' port, and the interface
// that broadcasts are limited to.

// Lists every converter that answered within the time, in the list's order.
int RunDiscover(const EndpointOptions& endpoint, const DiscoverOptions& options, std::ostream& out,
                std::ostream& err);

// One converter's full record, once it is listed and complete.
int RunShow(const EndpointOptions& endpoint, const ShowOptions& options, std::ostream& out,
            std::ostream& err);

// Applies the edits with the value rules, runs the write decision, sends, and unless told not to
// waits for the converter's answers to show the new settings. A MAC address that no listed
// converter has is written by MAC address (broadcast).
int RunWrite(const EndpointOptions& endpoint, const WriteOptions& options, std::ostream& out,
             std::ostream& err);

} // namespace qarn::cli
