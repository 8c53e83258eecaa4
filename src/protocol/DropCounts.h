#pragma once

#include <cstdint>

namespace qarn {

// What the way from the endpoint to the device list dropped to keep its work and memory bounded
// (a flood of datagrams, most from spoofed sources). Each count is of datagrams, but echoRefused,
// which counts echoes that could not start at once.
struct DropCounts {
    uint64_t queueFull = 0;   // the receive worker found the endpoint's queue full
    uint64_t waitingFull = 0; // the intake had no room to let them wait for the list
    uint64_t listFull = 0;    // from new sources while the list held its most rows
    uint64_t echoRefused = 0; // new rows' echoes refused: too many outstanding; asked again later

    bool Any() const { return queueFull + waitingFull + listFull + echoRefused != 0; }

    DropCounts& operator+=(const DropCounts& more) {
        queueFull += more.queueFull;
        waitingFull += more.waitingFull;
        listFull += more.listFull;
        echoRefused += more.echoRefused;
        return *this;
    }
    friend DropCounts operator-(DropCounts a, const DropCounts& b) {
        a.queueFull -= b.queueFull;
        a.waitingFull -= b.waitingFull;
        a.listFull -= b.listFull;
        a.echoRefused -= b.echoRefused;
        return a;
    }
    friend bool operator==(const DropCounts&, const DropCounts&) = default;
};

} // namespace qarn
