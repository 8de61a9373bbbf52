// Figures from raw counts: the mean rate of many counts, a read that cleared the counter but lost its
// count, the rate between two reads and the 8-bit counter's wrap.
#include "model/RawCounts.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <limits>
#include <optional>

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

// The rate of a count between two reads on a monotonic clock, and the 8-bit counter's increase.
TEST(RawCounts, RatesBetweenTwoReadsAndTheWrappedIncrease) {
    const struct {
        std::uint64_t count;
        std::int64_t fromMs, toMs;
        std::optional<double> perSecond;
        std::optional<std::int32_t> centi;
    } rates[] = {
        {36, 0, 18000, 2.0, 200},
        {1, 0, 200000, 0.005, 1}, // half a hundredth rounds up
        {7, 4000, 4000, std::nullopt, std::nullopt},
        {7, -2, std::numeric_limits<std::int64_t>::max(), std::nullopt, std::nullopt}, // does not fit
        {4294967295u, 0, 1, 4294967295000.0, std::nullopt}, // beyond the hundredths field
    };
    for (const auto& r : rates) {
        EXPECT_EQ(PerSecondBetween(r.count, r.fromMs, r.toMs), r.perSecond) << r.count;
        EXPECT_EQ(CentiPerSecondBetween(r.count, r.fromMs, r.toMs), r.centi) << r.count;
    }
    EXPECT_EQ(WrappedIncrease(254, 2), 4);
    EXPECT_EQ(WrappedIncrease(3, 3), 0);
}

} // namespace
} // namespace tessor
