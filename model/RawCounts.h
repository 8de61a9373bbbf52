#pragma once

// Figures made from raw register counts: sums of what a clear-on-read register delivered, its rate over
// the real time between the reads that delimit each count, the mean rate of many counts, and the 8-bit
// link fail counter turned into a total that goes on over its wraps. Standard library only: the monitor,
// the recording export and the line test use them.

#include <chrono>
#include <cstdint>
#include <optional>

namespace tessor {

// A count over the time it covers, in seconds; none when no time passed.
std::optional<double> PerSecond(std::uint64_t count, double seconds);
// A count over the time between the two reads that delimit it, in milliseconds of a monotonic clock; none
// when no time passed (or the times cannot be subtracted).
std::optional<double> PerSecondBetween(std::uint64_t count, std::int64_t fromMs, std::int64_t toMs);
// The same rate in hundredths per second, rounded; also none for a rate beyond what 32 bits hold.
std::optional<std::int32_t> CentiPerSecondBetween(std::uint64_t count, std::int64_t fromMs,
                                                  std::int64_t toMs);

// The increase of an 8-bit counter that wraps from 255 to 0, from the value before to the value now:
// fewer than 256 events are assumed between them, so 254 then 2 is 4.
constexpr std::uint8_t WrappedIncrease(std::uint8_t before, std::uint8_t now) {
    return static_cast<std::uint8_t>(now - before);
}

// A count register that clears when it is read (8C91..8C94: corrected RS errors).
class CClearedCount {
public:
    using Clock = std::chrono::steady_clock;

    // A read that delivered count at the time at. Its rate is the count over the time since the read
    // before it; there is none for the first read and for the first after a lost one.
    void Read(std::uint32_t count, Clock::time_point at);
    // A read that delivered nothing (garbled, unanswered or not made): what it cleared is lost, and the
    // next count covers a time that is not known.
    void Lost();
    // A read at the time at that cleared the register but whose count was lost: the next count covers
    // the time from this read.
    void Cleared(Clock::time_point at);

    // The sum of the counts read; nothing before the first answered read (the count is not known yet).
    std::optional<std::uint64_t> Total() const { return m_total; }
    std::optional<double> PerSecond() const { return m_perSecond; }
    // The time in seconds the last read's count covers; none when its rate has no known time.
    std::optional<double> Seconds() const { return m_seconds; }

private:
    std::optional<std::uint64_t> m_total;
    std::optional<Clock::time_point> m_last;
    std::optional<double> m_seconds;
    std::optional<double> m_perSecond;
};

// Counts over the time each covered: their sum, the whole time and the mean rate. Only counts whose time
// is known belong here (CClearedCount::Seconds).
class CCountedRate {
public:
    void Add(std::uint64_t count, double seconds);
    std::uint64_t Total() const { return m_total; }
    double Seconds() const { return m_seconds; }
    // The total over the time; none before any time was counted.
    std::optional<double> PerSecond() const;

private:
    std::uint64_t m_total = 0;
    double m_seconds = 0;
};

// An 8-bit counter that goes on counting and wraps from 255 to 0 (8D38: link failures). Fewer than 256
// events are assumed between two reads, so a value lower than the one before means it wrapped: 254 then 2
// is 4 more. The total counts the increases seen since the first value read.
class CWrappingCount {
public:
    void Read(std::uint8_t value);
    // Nothing before the first value read.
    std::optional<std::uint64_t> Total() const {
        return m_last ? std::optional<std::uint64_t>(m_total) : std::nullopt;
    }

private:
    std::uint64_t m_total = 0;
    std::optional<std::uint8_t> m_last;
};

} // namespace tessor
