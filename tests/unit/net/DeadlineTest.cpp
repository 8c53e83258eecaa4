#include "net/Deadline.h"

#include <cstdint>

#include <gtest/gtest.h>

namespace qarn {
namespace {

TEST(DeadlineTest, PassesOnTheWholeSecondClock) {
    struct Row {
        const char* name;
        int64_t madeAtMs; // clock reading when the deadline is made
        int64_t spanMs;
        int64_t lastNotPassedMs; // latest reading at which it has not passed; -1: passed at once
        int64_t firstPassedMs;
    };
    const Row rows[] = {
        {"2.5 s late in a second", 10900, 2500, 12999, 13000},
        {"2.5 s early in a second", 10000, 2500, 12999, 13000},
        {"1 s made at the end of a second", 10999, 1000, 10999, 11000},
        {"1 s made at the start of a second", 11000, 1000, 11999, 12000},
        {"zero span has passed when made", 10500, 0, -1, 10500},
        {"negative span has passed when made", 10500, -3000, -1, 10500},
        {"below a second, made at a full second", 20000, 999, 20999, 21000},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const Deadline deadline = MakeDeadlineAt(row.madeAtMs, row.spanMs);
        if (row.lastNotPassedMs >= 0) {
            EXPECT_FALSE(IsDeadlinePassedAt(deadline, row.lastNotPassedMs));
        }
        EXPECT_TRUE(IsDeadlinePassedAt(deadline, row.firstPassedMs));
        EXPECT_TRUE(IsDeadlinePassedAt(deadline, row.firstPassedMs + 86400000));
    }
}

TEST(DeadlineTest, SpansAtTheLimitsSaturate) {
    const Deadline far = MakeDeadlineAt(5000, INT64_MAX);
    EXPECT_EQ(far.ms, INT64_MAX);
    EXPECT_FALSE(IsDeadlinePassedAt(far, INT64_MAX - 1000));
    EXPECT_TRUE(IsDeadlinePassedAt(MakeDeadlineAt(5000, INT64_MIN), 0));
}

TEST(DeadlineTest, RunsOnTheMonotonicClock) {
    EXPECT_TRUE(IsDeadlinePassed(MakeDeadline(0)));
    EXPECT_FALSE(IsDeadlinePassed(MakeDeadline(60000)));
    EXPECT_EQ(WholeSecondClockMs() % 1000, 0);
}

} // namespace
} // namespace qarn
