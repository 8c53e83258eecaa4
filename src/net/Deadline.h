#pragma once

#include <compare>
#include <cstdint>

// Deadlines for waits of a few seconds, on a clock that counts whole seconds: "now" is always the
// last full second, so a deadline of 2500 ms made at 10.9 s (clock reads 10 s, deadline 12.5 s)
// passes when the clock reads 13 s, at 13.0 s: between 2.1 and 3.0 s later. Deadline(0) has
// passed already when it is made; Deadline(1000) made at 10.999 s passes at 11.0 s.
//
// The clock is the monotonic one, not the wall clock: a step of the system time or a change of
// daylight saving time neither ends a wait early nor stretches it by an hour. The value is a plain
// count of milliseconds, so deadlines compare and copy as numbers; they mean nothing across
// processes or reboots.

namespace qarn {

struct Deadline {
    int64_t ms = 0; // milliseconds of the monotonic clock

    friend auto operator<=>(const Deadline&, const Deadline&) = default;
};

// The monotonic clock in milliseconds, cut down to whole seconds: 12999 -> 12000.
int64_t WholeSecondClockMs();

// Now (whole seconds) + `spanMs`. A negative span gives a deadline that has passed.
Deadline MakeDeadline(int64_t spanMs);

// True when now (whole seconds) is at or after `deadline`.
bool IsDeadlinePassed(const Deadline& deadline);

// The same two against a clock reading `clockMs` (milliseconds of any clock, not yet cut to
// whole seconds); the two above pass the monotonic clock.
Deadline MakeDeadlineAt(int64_t clockMs, int64_t spanMs);
bool IsDeadlinePassedAt(const Deadline& deadline, int64_t clockMs);

} // namespace qarn
