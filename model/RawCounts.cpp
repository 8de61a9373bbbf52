#include "model/RawCounts.h"

namespace tessor {

namespace {

// A count over a time: a rate only for a time that passed.
std::optional<double> Rate(std::uint64_t count, double seconds) {
    return seconds > 0 ? std::optional<double>(static_cast<double>(count) / seconds) : std::nullopt;
}

} // namespace

void CClearedCount::Read(std::uint32_t count, Clock::time_point at) {
    m_total = m_total.value_or(0) + count;
    m_seconds.reset();
    m_perSecond.reset();
    if (m_last) {
        m_seconds = std::chrono::duration<double>(at - *m_last).count();
        m_perSecond = Rate(count, *m_seconds);
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
    return Rate(m_total, m_seconds);
}

void CWrappingCount::Read(std::uint8_t value) {
    if (m_last)
        m_total += static_cast<std::uint8_t>(value - *m_last);
    m_last = value;
}

} // namespace tessor
