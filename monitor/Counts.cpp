#include "monitor/Counts.h"

namespace tessor::monitor {

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

void CountPhyPass(const ops::PhyReadResults& results, CClearedCount::Clock::time_point at,
                  CClearedCount& rsCorrected, CWrappingCount& linkFailures) {
    // A count the board answered was cleared on the board: it counts even when the pass broke off later.
    if (results.rsCorrected.ok())
        rsCorrected.Read(static_cast<std::uint32_t>(results.rsCorrected.value), at);
    else
        rsCorrected.Lost();
    if (results.linkFailCount.ok())
        linkFailures.Read(static_cast<std::uint8_t>(results.linkFailCount.value & 0xFF));
}

} // namespace tessor::monitor
