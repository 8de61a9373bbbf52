#include "model/RawCounts.h"

#include <cmath>
#include <limits>

namespace tessor {

namespace {

// The milliseconds from one time to a later one; none when no time passed or when the difference would
// not fit (times from a file are bounded, but it is only taken when it cannot overflow).
std::optional<std::int64_t> MsBetween(std::int64_t from, std::int64_t to) {
    if (to <= from || (from < 0 && to > std::numeric_limits<std::int64_t>::max() + from))
        return std::nullopt;
    return to - from;
}

} // namespace

std::optional<double> PerSecond(std::uint64_t count, double seconds) {
    return seconds > 0 ? std::optional<double>(static_cast<double>(count) / seconds) : std::nullopt;
}

std::optional<double> PerSecondBetween(std::uint64_t count, std::int64_t fromMs, std::int64_t toMs) {
    const std::optional<std::int64_t> ms = MsBetween(fromMs, toMs);
    if (!ms)
        return std::nullopt;
    return static_cast<double>(count) * 1000.0 / static_cast<double>(*ms);
}

std::optional<std::int32_t> CentiPerSecondBetween(std::uint64_t count, std::int64_t fromMs,
                                                  std::int64_t toMs) {
    const std::optional<std::int64_t> ms = MsBetween(fromMs, toMs);
    if (!ms)
        return std::nullopt;
    const double centi = static_cast<double>(count) * 100000.0 / static_cast<double>(*ms);
    if (centi >= static_cast<double>(std::numeric_limits<std::int32_t>::max()))
        return std::nullopt;
    return static_cast<std::int32_t>(std::lround(centi));
}

void CClearedCount::Read(std::uint32_t count, Clock::time_point at) {
    m_total = m_total.value_or(0) + count;
    m_seconds.reset();
    m_perSecond.reset();
    if (m_last) {
        m_seconds = std::chrono::duration<double>(at - *m_last).count();
        m_perSecond = tessor::PerSecond(count, *m_seconds);
    }
    m_last = at;
}

void CClearedCount::Lost() {
    m_last.reset();
    m_seconds.reset();
    m_perSecond.reset();
}

void CClearedCount::Cleared(Clock::time_point at) {
    m_last = at;
    m_seconds.reset();
    m_perSecond.reset();
}

void CCountedRate::Add(std::uint64_t count, double seconds) {
    m_total += count;
    m_seconds += seconds;
}

std::optional<double> CCountedRate::PerSecond() const {
    return tessor::PerSecond(m_total, m_seconds);
}

void CWrappingCount::Read(std::uint8_t value) {
    if (m_last)
        m_total += WrappedIncrease(*m_last, value);
    m_last = value;
}

} // namespace tessor
