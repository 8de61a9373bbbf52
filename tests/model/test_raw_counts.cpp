// Figures from raw counts that the line test takes: the mean rate of many counts, and a read that cleared
// the counter but lost its count.
#include "model/RawCounts.h"

#include <gtest/gtest.h>

#include <chrono>
#include <limits>
#include <optional>
#include <tuple>

namespace tessor {
namespace {

TEST(RawCounts, CountedRateIsTheTotalOverTheWholeTime) {
    const struct {
        std::uint64_t count;
        double seconds;
        std::uint64_t total;
        double allSeconds;
        std::optional<double> perSecond;
    } steps[] = {
        {7, 0.0, 7, 0.0, std::nullopt}, // no time yet: no rate
        {3, 2.0, 10, 2.0, 5.0},
        {0, 3.0, 10, 5.0, 2.0},
        {40, 5.0, 50, 10.0, 5.0},
    };
    CCountedRate rs;
    EXPECT_EQ(rs.PerSecond(), std::nullopt);
    for (const auto& s : steps) {
        rs.Add(s.count, s.seconds);
        EXPECT_EQ(rs.Total(), s.total);
        EXPECT_EQ(rs.Seconds(), s.allSeconds);
        EXPECT_EQ(rs.PerSecond(), s.perSecond);
    }
}

// A read that cleared the counter but whose count was lost starts the next count's time; a lost read
// (nothing known of it) leaves the next count without a time.
TEST(RawCounts, AClearedReadStartsTheNextCountAndALostOneLeavesItWithoutTime) {
    using Clock = CClearedCount::Clock;
    const auto at = [](int seconds) { return Clock::time_point(std::chrono::seconds(seconds)); };
    enum Kind { Read, Cleared, Lost };
    const struct {
        Kind kind;
        int atSeconds;
        std::uint32_t count;
        std::optional<double> seconds;
        std::optional<double> perSecond;
        std::optional<std::uint64_t> total;
    } steps[] = {
        {Read, 0, 9, std::nullopt, std::nullopt, 9}, // the first read: its time is not known
        {Read, 2, 4, 2.0, 2.0, 13},
        {Cleared, 4, 0, std::nullopt, std::nullopt, 13}, // its count is lost, not counted
        {Read, 9, 10, 5.0, 2.0, 23},                     // from the cleared read
        {Lost, 10, 0, std::nullopt, std::nullopt, 23},
        {Read, 12, 6, std::nullopt, std::nullopt, 29}, // after a lost read: no time
        {Read, 12, 6, 0.0, std::nullopt, 35},          // no time passed: no rate
    };
    CClearedCount rs;
    for (const auto& s : steps) {
        SCOPED_TRACE(s.atSeconds);
        if (s.kind == Read)
            rs.Read(s.count, at(s.atSeconds));
        else if (s.kind == Cleared)
            rs.Cleared(at(s.atSeconds));
        else
            rs.Lost();
        EXPECT_EQ(rs.Seconds(), s.seconds);
        EXPECT_EQ(rs.PerSecond(), s.perSecond);
        EXPECT_EQ(rs.Total(), s.total);
    }
}

// Hundredths per second between two reads: rounded, none without time or beyond 32 bits; the 8-bit wrap.
TEST(RawCounts, RatesBetweenTwoReadsAndTheWrappedIncrease) {
    EXPECT_EQ(CentiPerSecondBetween(36, 0, 18000), 200);
    EXPECT_EQ(CentiPerSecondBetween(1, 0, 200000), 1);             // half a hundredth rounds up
    EXPECT_EQ(CentiPerSecondBetween(0, 4000, 4000), std::nullopt); // no time, not 0 per second
    EXPECT_EQ(CentiPerSecondBetween(7, -2, std::numeric_limits<std::int64_t>::max()), std::nullopt);
    EXPECT_EQ(CentiPerSecondBetween(4294967295u, 0, 1), std::nullopt);
    EXPECT_EQ(WrappedIncrease(254, 2), 4);
}

} // namespace
} // namespace tessor
