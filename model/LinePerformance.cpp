#include "model/LinePerformance.h"

#include <chrono>

namespace tessor {

std::optional<std::uint64_t> CPassIntervals::ReadCleared(CClearedCount* count,
                                                         const std::optional<std::uint32_t>& read,
                                                         std::int64_t monoMs) {
    if (!read) {
        count->Lost();
        return std::nullopt;
    }
    const std::uint64_t before = count->Total().value_or(0);
    count->Read(*read, CClearedCount::Clock::time_point{std::chrono::milliseconds(monoMs)});
    return *count->Total() - before;
}

std::optional<IntervalInput> CPassIntervals::Add(const PassReads& pass) {
    const PhyValues& phy = pass.phy;
    const std::optional<std::uint64_t> rs = ReadCleared(&m_rs, phy.registers.rsCorrected, pass.monoMs);
    const auto ethernet = [&](CClearedCount* count, int counter) {
        return ReadCleared(count, pass.ethernet[static_cast<std::size_t>(counter)], pass.monoMs);
    };
    const std::optional<std::uint64_t> fcs = ethernet(&m_fcs, kCounterFrameCheckSequenceErrors);
    const std::optional<std::uint64_t> rxErrors = ethernet(&m_rxErrors, kCounterReceiveErrors);
    const std::optional<std::uint64_t> rxFrames = ethernet(&m_rxFrames, kCounterRxFrames);

    bool linkFailMoved = false;
    if (phy.linkFailCount) {
        const std::optional<std::uint64_t> before = m_linkFail.Total();
        m_linkFail.Read(*phy.linkFailCount);
        linkFailMoved = before && *m_linkFail.Total() != *before;
    }
    m_linkFailMoved = m_linkFailMoved || linkFailMoved;

    const std::optional<bool> lineUp = pass.answered ? phy.LineUp() : std::nullopt;
    const bool cameUp = lineUp == true && m_lastLineUp == false;
    const bool microInterruption = pass.answered && phy.Indicator(kIndMicroInterruption) == true;

    std::optional<IntervalInput> interval;
    if (m_lastMonoMs) {
        IntervalInput in;
        in.lengthMs = pass.monoMs - *m_lastMonoMs;
        in.endWallMs = pass.wallMs;
        in.measured = pass.answered && m_lastAnswered;
        in.lineDown = lineUp == false;
        in.retrain = linkFailMoved || microInterruption || cameUp;
        if (fcs && rxErrors)
            in.errors = *fcs + *rxErrors;
        in.framesReceived = rxFrames;
        in.rsCorrected = rs;
        interval = in;
    }

    if (lineUp == false) {
        m_upSince.reset();
    } else if (lineUp == true) {
        if (!m_upSince || m_linkFailMoved || microInterruption || cameUp)
            m_upSince = pass.wallMs;
        m_linkFailMoved = false;
    }
    if (lineUp)
        m_lastLineUp = lineUp;
    m_lastMonoMs = pass.monoMs;
    m_lastAnswered = pass.answered;
    return interval;
}

std::int64_t CIntervalBins::BinOf(std::int64_t endWallMs) const {
    // The interval ends at endWallMs and covers the time before it: its last millisecond decides.
    const std::int64_t last = endWallMs - 1;
    const std::int64_t q = last / m_binMs;
    return (last % m_binMs < 0 ? q - 1 : q) * m_binMs;
}

void CIntervalBins::AdvanceTo(std::int64_t wallMs) {
    const std::int64_t start = BinOf(wallMs);
    if (m_current && start <= m_current->startWallMs)
        return;
    if (m_current && m_current->startWallMs == start - m_binMs)
        m_previous = m_current;
    else if (m_current)
        m_previous = Bin{start - m_binMs, {}};
    m_current = Bin{start, {}};
}

void CIntervalBins::Add(const DecidedInterval& interval) {
    AdvanceTo(interval.input.endWallMs);
    const std::int64_t start = BinOf(interval.input.endWallMs);
    if (start == m_current->startWallMs)
        AddTo(&m_current->figures, interval);
    else if (m_previous && start == m_previous->startWallMs)
        AddTo(&m_previous->figures, interval);
    else
        AddTo(&m_missed, interval);
}

void CLinePerformance::Settle(View* view, const std::vector<DecidedInterval>& decided) {
    for (const DecidedInterval& d : decided) {
        AddTo(&view->total, d);
        view->quarter.Add(d);
        view->day.Add(d);
    }
}

CLinePerformance::Added CLinePerformance::Add(const PassReads& pass) {
    Added added;
    added.interval = m_passes.Add(pass);
    if (!added.interval)
        return added;
    added.provisional = m_classifier.Add(*added.interval);
    m_settled.quarter.AdvanceTo(added.interval->endWallMs);
    m_settled.day.AdvanceTo(added.interval->endWallMs);
    added.decided = m_classifier.TakeDecided();
    Settle(&m_settled, added.decided);
    return added;
}

CLinePerformance::View CLinePerformance::Provisional() const {
    View view = m_settled;
    Settle(&view, m_classifier.Pending());
    return view;
}

ClassifiedHistory ClassifyHistory(const std::vector<PassReads>& passes, IntervalRules rules) {
    ClassifiedHistory history;
    history.classes.resize(passes.size());
    CPassIntervals intervals;
    CIntervalClassifier classifier(rules);
    std::vector<std::size_t> passOf; // the pass that ends each interval
    for (std::size_t i = 0; i < passes.size(); ++i) {
        if (const std::optional<IntervalInput> in = intervals.Add(passes[i])) {
            classifier.Add(*in);
            passOf.push_back(i);
        }
    }
    classifier.Finish();
    for (const DecidedInterval& d : classifier.TakeDecided())
        history.classes[passOf[d.index]] = d.value;
    history.figures = classifier.Settled();
    return history;
}

} // namespace tessor
