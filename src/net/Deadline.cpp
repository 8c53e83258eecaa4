#include "net/Deadline.h"

#include <chrono>
#include <limits>

namespace qarn {

namespace {

// 12999 -> 12000; -1 -> -1000 (a clock before its epoch still rounds down).
int64_t WholeSeconds(int64_t clockMs) {
    const int64_t remainder = clockMs % 1000;
    return clockMs - (remainder < 0 ? remainder + 1000 : remainder);
}

int64_t MonotonicMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

int64_t WholeSecondClockMs() {
    return WholeSeconds(MonotonicMs());
}

Deadline MakeDeadline(int64_t spanMs) {
    return MakeDeadlineAt(MonotonicMs(), spanMs);
}

bool IsDeadlinePassed(const Deadline& deadline) {
    return IsDeadlinePassedAt(deadline, MonotonicMs());
}

Deadline MakeDeadlineAt(int64_t clockMs, int64_t spanMs) {
    const int64_t now = WholeSeconds(clockMs);
    // Spans near the limits saturate instead of wrapping into the other direction.
    using Limits = std::numeric_limits<int64_t>;
    if (spanMs > 0 && now > Limits::max() - spanMs)
        return Deadline{Limits::max()};
    if (spanMs < 0 && now < Limits::min() - spanMs)
        return Deadline{Limits::min()};
    return Deadline{now + spanMs};
}

bool IsDeadlinePassedAt(const Deadline& deadline, int64_t clockMs) {
    return WholeSeconds(clockMs) >= deadline.ms;
}

} // namespace qarn
