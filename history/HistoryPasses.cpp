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

std::vector<PassReads> PassesOf(const rec::LineStore& store) {
    std::vector<PassReads> passes;
    passes.reserve(store.phy.size());
    CHistoryPasses history;
    std::size_t e = 0;
    for (std::size_t p = 0; p < store.phy.size(); ++p) {
        const rec::PhySample& phy = store.phy[p];
        for (; e < store.eth.size() && store.eth[e].time.wallMs <= phy.time.wallMs; ++e)
            history.AddEth(store, e);
        passes.push_back(history.Pass(phy));
    }
    return passes;
}

CLinePerformance PerformanceOf(const std::vector<PassReads>& passes, IntervalRules rules) {
    CLinePerformance performance(rules);
    for (const PassReads& p : passes)
        performance.Add(p);
    return performance;
}

bool Marked(IntervalClass value) {
    return value == IntervalClass::kErrored || value == IntervalClass::kSeverelyErrored ||
           value == IntervalClass::kUnavailable;
}

std::vector<IntervalMark> IntervalMarks(const rec::LineStore& store, std::int64_t fromMs, std::int64_t toMs) {
    std::vector<IntervalMark> marks;
    // The first sample that ends at or after fromMs (samples are in time order).
    std::size_t low = 1, high = store.phy.size();
    while (low < high) {
        const std::size_t mid = low + (high - low) / 2;
        if (store.phy[mid].time.wallMs < fromMs)
            low = mid + 1;
        else
            high = mid;
    }
    for (std::size_t i = low; i < store.phy.size(); ++i) {
        const rec::PhySample& s = store.phy[i];
        const std::int64_t from = store.phy[i - 1].time.wallMs;
        if (from > toMs)
            break;
        if (!s.intervalClass || !Marked(*s.intervalClass))
            continue;
        if (!marks.empty() && marks.back().value == *s.intervalClass && marks.back().toMs == from)
            marks.back().toMs = s.time.wallMs;
        else
            marks.push_back(IntervalMark{from, s.time.wallMs, *s.intervalClass});
    }
    return marks;
}

} // namespace tessor
