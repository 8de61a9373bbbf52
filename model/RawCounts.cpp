#include "model/RawCounts.h"

namespace tessor {

void CClearedCount::Read(std::uint32_t count, Clock::time_point at) {
    m_total = m_total.value_or(0) + count;
    m_perSecond.reset();
    if (m_last && at > *m_last)
        m_perSecond = static_cast<double>(count) / std::chrono::duration<double>(at - *m_last).count();
    m_last = at;
}

void CClearedCount::Lost() {
    m_last.reset();
    m_perSecond.reset();
}

void CWrappingCount::Read(std::uint8_t value) {
    if (m_last)
        m_total += static_cast<std::uint8_t>(value - *m_last);
    m_last = value;
}

} // namespace tessor
