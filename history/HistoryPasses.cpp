#include "history/HistoryPasses.h"

#include <limits>

namespace tessor {

void CHistoryPasses::AddEth(const rec::LineStore& store, std::size_t index) {
    const rec::EthSample& s = store.eth[index];
    for (std::size_t i = 0; i < m_counts.size(); ++i) {
        double rate = 0;
        if (!rec::CounterRate(store, index, static_cast<int>(i), &rate)) {
            m_lost |= 1u << i;
            continue;
        }
        m_counts[i] = m_counts[i].value_or(0) + s.reads[i];
    }
}

PassReads CHistoryPasses::Pass(const rec::PhySample& sample) {
    PassReads pass;
    pass.monoMs = sample.time.monoMs;
    pass.wallMs = sample.time.wallMs;
    pass.answered = sample.answered;
    pass.phy = sample.values;
    for (std::size_t i = 0; i < m_counts.size(); ++i) {
        const bool lost = (m_lost & 1u << i) != 0;
        // Two reads of a pass interval add up; a sum beyond one read's width is not known either.
        if (!lost && m_counts[i] && *m_counts[i] <= std::numeric_limits<std::uint32_t>::max())
            pass.ethernet[i] = static_cast<std::uint32_t>(*m_counts[i]);
        m_counts[i].reset();
    }
    m_lost = 0;
    return pass;
}

CLinePerformance PerformanceOf(const rec::LineStore& store, IntervalRules rules) {
    CLinePerformance performance(rules);
    CHistoryPasses passes;
    std::size_t e = 0;
    for (std::size_t p = 0; p < store.phy.size(); ++p) {
        const rec::PhySample& phy = store.phy[p];
        for (; e < store.eth.size() && store.eth[e].time.wallMs <= phy.time.wallMs; ++e)
            passes.AddEth(store, e);
        performance.Add(passes.Pass(phy));
    }
    return performance;
}

} // namespace tessor
