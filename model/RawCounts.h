#pragma once

// Figures made from raw register counts: sums of what a clear-on-read register delivered, its rate over
// the real time between the reads that delimit each count, and the 8-bit link fail counter turned into a
// total that goes on over its wraps. Standard library only: the monitor and the recording export use them.

#include <chrono>
#include <cstdint>
#include <optional>

namespace tessor {

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

    // The sum of the counts read; nothing before the first answered read (the count is not known yet).
    std::optional<std::uint64_t> Total() const { return m_total; }
    std::optional<double> PerSecond() const { return m_perSecond; }

private:
    std::optional<std::uint64_t> m_total;
    std::optional<Clock::time_point> m_last;
    std::optional<double> m_perSecond;
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
