#include "linetest/LineTestJudge.h"

#include "linetest/Figures.h"
#include "linetest/LineTestTexts.h"

#include <algorithm>
#include <cmath>

namespace tessor::linetest {

namespace {

void Accumulate(Statistic* statistic, double value) {
    if (statistic->count == 0) {
        statistic->min = value;
        statistic->max = value;
    }
    statistic->min = std::min(statistic->min, value);
    statistic->max = std::max(statistic->max, value);
    statistic->mean += (value - statistic->mean) / static_cast<double>(++statistic->count);
}

// Keeps the earlier of two moments.
void KeepFirst(std::optional<rec::SampleTime>* first, const rec::SampleTime& time) {
    if (!*first || time.monoMs < (*first)->monoMs)
        *first = time;
}

bool Seen(const rec::PhySample& s, int indicator) {
    return s.values.Indicator(indicator).value_or(false);
}

std::string Counted(int count, const char* one, const char* many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

CriterionResult Judge(CriterionId id, bool checked) {
    CriterionResult c;
    c.id = id;
    c.checked = checked;
    return c;
}

// What the PHY passes showed that a criterion judges.
struct PhyFindings {
    std::optional<rec::SampleTime> snrBreach;
    std::optional<rec::SampleTime> unanswered;
    std::optional<rec::SampleTime> linkBreach; // a changed link fail counter or a micro interruption
};

// The link fail counter is 8 bits: each pass adds its change over the wrap, so 250 -> 3 is +9 and a
// counter that comes round to where it started has still changed.
void FollowLinkFail(LineTestResult* r, const rec::PhySample& s, CWrappingCount* fails, PhyFindings* f) {
    if (!s.values.linkFailCount)
        return;
    const std::uint8_t count = *s.values.linkFailCount;
    const std::optional<std::uint64_t> before = fails->Total();
    fails->Read(count);
    if (before && fails->Total() != before)
        KeepFirst(&f->linkBreach, s.time);
    if (!r->linkFailFirst)
        r->linkFailFirst = count;
    r->linkFailLast = count;
}

void EvaluatePhy(LineTestResult* r, const rec::LineStore& store, PhyFindings* f) {
    CWrappingCount fails;
    for (std::size_t i = 0; i < store.phy.size(); ++i) {
        const rec::PhySample& s = store.phy[i];
        if (!s.answered) {
            KeepFirst(&f->unanswered, s.time);
            continue;
        }
        const PhyValues& v = s.values;
        if (v.snrCenti) {
            Accumulate(&r->snrCenti, *v.snrCenti);
            if (*v.snrCenti < r->options.criteria.minSnrCenti)
                KeepFirst(&f->snrBreach, s.time);
        }
        if (v.mseCenti)
            Accumulate(&r->mseCenti, *v.mseCenti);
        if (v.txPowerDbmHz)
            Accumulate(&r->txPowerDb, *v.txPowerDbmHz);
        FollowLinkFail(r, s, &fails, f);
        // Latched and cleared by the read: every pass that sees it is one.
        if (Seen(s, kIndMicroInterruption)) {
            ++r->microInterruptions;
            KeepFirst(&f->linkBreach, s.time);
        }
    }
    if (const std::optional<std::uint64_t> change = fails.Total())
        r->linkFailChange = static_cast<int>(*change);
}

// The line as each pass saw it, in time order: the reads before, the PHY passes, the reads after. A drop
// is a pass that saw it down after it was up, or first. Gives how many passes saw the line at all.
int FindDrops(LineTestResult* r, const rec::LineStore& store) {
    int seen = 0;
    bool wasUp = true;
    const auto see = [&](const rec::SampleTime& time, bool up) {
        ++seen;
        if (!up) {
            ++r->downPasses;
            if (wasUp)
                r->drops.push_back(time);
        }
        wasUp = up;
    };
    if (r->before.made && r->before.lineUp)
        see(r->before.time, *r->before.lineUp);
    for (std::size_t i = 0; i < store.phy.size(); ++i) {
        const rec::PhySample& s = store.phy[i];
        if (s.answered && s.values.Indicator(kIndFullConstellation))
            see(s.time, Seen(s, kIndFullConstellation) || Seen(s, kIndReducedConstellation));
    }
    if (r->after.made && r->after.lineUp)
        see(r->after.time, *r->after.lineUp);
    return seen;
}

// The reads before and after the passes that went without an answer.
void UnansweredStates(const LineTestResult& r, std::optional<rec::SampleTime>* unanswered) {
    for (const BoardState* state : {&r.before, &r.after}) {
        if (state->made && !state->answered)
            KeepFirst(unanswered, state->time);
    }
}

// The pass at which the mean so far first went above the limit.
std::optional<rec::SampleTime> RsBreach(const LineTestResult& r) {
    CCountedRate rs;
    for (const RsCount& c : r.rsCounts) {
        rs.Add(c.count, c.seconds);
        if (rs.PerSecond() && *rs.PerSecond() > r.options.criteria.maxRsPerSecond)
            return c.time;
    }
    return std::nullopt;
}

std::uint64_t WatchedErrors(const std::array<std::uint64_t, kCounterDefCount>& totals) {
    std::uint64_t sum = 0;
    for (const int i : kWatchedErrorCounters)
        sum += totals[static_cast<std::size_t>(i)];
    return sum;
}

std::optional<rec::SampleTime> EthernetBreach(const rec::LineStore& store,
                                              std::optional<rec::SampleTime>* unanswered) {
    std::optional<rec::SampleTime> breach;
    for (std::size_t i = 0; i < store.eth.size(); ++i) {
        const rec::EthSample& s = store.eth[i];
        if (!s.answered)
            KeepFirst(unanswered, s.time);
        if (!breach && s.answered && WatchedErrors(s.totals) > 0)
            breach = s.time;
    }
    return breach;
}

// Any drop the passes saw fails it: a changed counter (over its wrap), a micro interruption, the line down.
CriterionResult JudgeLinkFail(const LineTestResult& r, std::optional<rec::SampleTime> breach,
                              const std::optional<rec::SampleTime>& lineDrop) {
    CriterionResult c = Judge(CriterionId::LinkFailUnchanged, r.options.criteria.checkLinkFail);
    c.limit = "no change, no micro interruption, line never down";
    c.measured = r.linkFailChange
                     ? std::to_string(*r.linkFailFirst) + " -> " + std::to_string(*r.linkFailLast) + " (+" +
                           std::to_string(*r.linkFailChange) + ")"
                     : "unknown";
    if (r.microInterruptions > 0)
        c.measured += ", " + Counted(r.microInterruptions, "micro interruption", "micro interruptions");
    if (r.downPasses > 0)
        c.measured += ", line down at " + Counted(r.downPasses, "pass", "passes");
    if (lineDrop)
        KeepFirst(&breach, *lineDrop);
    c.passed = r.linkFailChange && *r.linkFailChange == 0 && r.microInterruptions == 0 && r.downPasses == 0;
    c.firstBreach = breach;
    return c;
}

// The time of the pass that ends an interval.
rec::SampleTime TimeOf(const PassReads& pass) {
    rec::SampleTime t;
    t.wallMs = pass.wallMs;
    t.monoMs = pass.monoMs;
    return t;
}

// The passes whose intervals first counted against each interval criterion.
struct IntervalFindings {
    std::optional<rec::SampleTime> unavailable;
    std::optional<rec::SampleTime> errored; // severely errored ones included
    std::optional<rec::SampleTime> severelyErrored;
};

IntervalFindings ClassifyPasses(LineTestResult* r) {
    const ClassifiedHistory history = ClassifyHistory(r->passReads, r->options.criteria.intervalRules);
    r->intervals = history.figures;
    r->ratios = RatiosOf(history.figures);
    IntervalFindings f;
    for (std::size_t i = 0; i < history.classes.size(); ++i) {
        if (!history.classes[i])
            continue;
        const rec::SampleTime time = TimeOf(r->passReads[i]);
        switch (*history.classes[i]) {
        case IntervalClass::kUnavailable:
            KeepFirst(&f.unavailable, time);
            break;
        case IntervalClass::kSeverelyErrored:
            KeepFirst(&f.severelyErrored, time);
            KeepFirst(&f.errored, time);
            break;
        case IntervalClass::kErrored:
            KeepFirst(&f.errored, time);
            break;
        default:
            break;
        }
    }
    return f;
}

std::string Percent(double ratio) {
    return Fixed(ratio * 100.0, 2) + " %";
}

std::string IntervalsText(std::uint64_t count) {
    return std::to_string(count) + (count == 1 ? " interval" : " intervals");
}

// No measured interval: unknown, never passed.
CriterionResult JudgeUnavailable(const LineTestResult& r, const std::optional<rec::SampleTime>& first) {
    CriterionResult c = Judge(CriterionId::NoUnavailableInterval, r.options.criteria.checkUnavailable);
    c.limit = "none";
    const std::uint64_t measured = r.intervals.available.intervals + r.intervals.unavailable.intervals;
    c.measured = measured > 0
                     ? std::to_string(r.intervals.unavailable.intervals) + " of " + std::to_string(measured) +
                           (measured == 1 ? " measured interval" : " measured intervals") + " unavailable"
                     : "unknown";
    c.passed = measured > 0 && r.intervals.unavailable.intervals == 0;
    c.firstBreach = first;
    return c;
}

// A share of the available time at most limitPercent; unknown without available time.
CriterionResult JudgeRatio(CriterionId id, bool checked, double limitPercent, const IntervalTally& part,
                           const IntervalTally& available, const std::optional<double>& ratio,
                           const std::optional<rec::SampleTime>& first) {
    CriterionResult c = Judge(id, checked);
    c.limit = "at most " + Fixed(limitPercent, 2) + " % of the available time";
    c.measured = ratio ? Percent(*ratio) + " (" + std::to_string(part.intervals) + " of " +
                             IntervalsText(available.intervals) + ")"
                       : "unknown";
    // part / available <= limit / 100, without the rounding of the division.
    c.passed =
        ratio && static_cast<double>(part.ms) * 100.0 <= limitPercent * static_cast<double>(available.ms);
    if (!c.passed)
        c.firstBreach = first;
    return c;
}

} // namespace

const std::array<int, 2> kWatchedErrorCounters{kCounterFrameCheckSequenceErrors, kCounterReceiveErrors};

bool MinSnrDbAccepted(double db) {
    return std::isfinite(db) && db >= 0 && db <= kMinSnrHighestDb;
}

bool MaxRsPerSecondAccepted(double perSecond) {
    return std::isfinite(perSecond) && perSecond >= 0 && perSecond <= kMaxRsPerSecondHighest;
}

bool RatioPercentAccepted(double percent) {
    return std::isfinite(percent) && percent >= 0 && percent <= 100;
}

bool SevereErrorPercentAccepted(double percent) {
    return SevereErrorPpmOfPercent(percent).has_value();
}

double SevereErrorPercent(const Criteria& criteria) {
    return static_cast<double>(criteria.intervalRules.severeErrorPpm) / 10000.0;
}

bool* CheckOf(Criteria* criteria, CriterionId id) {
    switch (id) {
    case CriterionId::MinSnr:
        return &criteria->checkSnr;
    case CriterionId::NoLineDrop:
        return &criteria->checkLineDrop;
    case CriterionId::LinkFailUnchanged:
        return &criteria->checkLinkFail;
    case CriterionId::RsPerSecond:
        return &criteria->checkRs;
    case CriterionId::NoEthernetErrors:
        return &criteria->checkEthernetErrors;
    case CriterionId::NoUnavailableInterval:
        return &criteria->checkUnavailable;
    case CriterionId::ErroredRatio:
        return &criteria->checkEsr;
    case CriterionId::SeverelyErroredRatio:
        return &criteria->checkSesr;
    case CriterionId::Answered:
        break;
    }
    return nullptr;
}

CCountedRate RsCounted(const std::vector<RsCount>& counts) {
    CCountedRate rs;
    for (const RsCount& c : counts)
        rs.Add(c.count, c.seconds);
    return rs;
}

void Evaluate(LineTestResult* r) {
    const Criteria& k = r->options.criteria;
    r->snrCenti = {};
    r->mseCenti = {};
    r->txPowerDb = {};
    r->linkFailFirst.reset();
    r->linkFailLast.reset();
    r->linkFailChange.reset();
    r->microInterruptions = 0;
    r->downPasses = 0;
    r->drops.clear();
    r->criteria.clear();
    const CCountedRate counted = RsCounted(r->rsCounts);
    r->rsTotal = counted.Total();
    r->rsSeconds = counted.Seconds();
    r->rsPerSecond = counted.PerSecond();

    PhyFindings phy;
    std::optional<rec::SampleTime> ethBreach;
    bool haveEth = false;
    int lineSeen = 0;
    r->recording->Read([&](const rec::LineStore& store) {
        EvaluatePhy(r, store, &phy);
        ethBreach = EthernetBreach(store, &phy.unanswered);
        haveEth = !store.eth.empty();
        lineSeen = FindDrops(r, store);
    });
    UnansweredStates(*r, &phy.unanswered);
    const std::optional<rec::SampleTime> lineDrop =
        r->drops.empty() ? std::nullopt : std::optional<rec::SampleTime>(r->drops.front());

    CriterionResult snr = Judge(CriterionId::MinSnr, k.checkSnr);
    snr.limit = "at least " + Centi(k.minSnrCenti) + " dB";
    snr.measured = r->snrCenti.count ? "lowest " + Centi(r->snrCenti.min) + " dB" : "unknown";
    snr.passed = r->snrCenti.count > 0 && !phy.snrBreach;
    snr.firstBreach = phy.snrBreach;
    r->criteria.push_back(snr);

    CriterionResult drop = Judge(CriterionId::NoLineDrop, k.checkLineDrop);
    drop.limit = "line up at every pass";
    drop.measured = lineSeen > 0 ? std::to_string(r->drops.size()) + " drops" : "unknown";
    drop.passed = lineSeen > 0 && r->drops.empty();
    drop.firstBreach = lineDrop;
    r->criteria.push_back(drop);

    r->criteria.push_back(JudgeLinkFail(*r, phy.linkBreach, lineDrop));

    CriterionResult rs = Judge(CriterionId::RsPerSecond, k.checkRs);
    rs.limit = "at most " + Fixed(k.maxRsPerSecond, 2) + " per second";
    rs.measured = r->rsPerSecond ? Fixed(*r->rsPerSecond, 2) + " per second (" + std::to_string(r->rsTotal) +
                                       " in " + Fixed(r->rsSeconds, 1) + " s)"
                                 : "unknown";
    rs.passed = r->rsPerSecond && *r->rsPerSecond <= k.maxRsPerSecond;
    if (!rs.passed)
        rs.firstBreach = RsBreach(*r);
    r->criteria.push_back(rs);

    CriterionResult eth = Judge(CriterionId::NoEthernetErrors, k.checkEthernetErrors);
    eth.limit = "none";
    const std::uint64_t errors = WatchedErrors(r->ethernet.totals);
    eth.measured = haveEth && r->ethernetSeconds > 0
                       ? std::to_string(r->ethernet.totals[kCounterFrameCheckSequenceErrors]) + " FCS, " +
                             std::to_string(r->ethernet.totals[kCounterReceiveErrors]) + " receive errors"
                       : "unknown";
    eth.passed = haveEth && r->ethernetSeconds > 0 && errors == 0;
    eth.firstBreach = ethBreach;
    r->criteria.push_back(eth);

    const IntervalFindings intervals = ClassifyPasses(r);
    r->criteria.push_back(JudgeUnavailable(*r, intervals.unavailable));
    r->criteria.push_back(JudgeRatio(CriterionId::ErroredRatio, k.checkEsr, k.maxEsrPercent,
                                     r->intervals.errored, r->intervals.available, r->ratios.errored,
                                     intervals.errored));
    r->criteria.push_back(JudgeRatio(CriterionId::SeverelyErroredRatio, k.checkSesr, k.maxSesrPercent,
                                     r->intervals.severelyErrored, r->intervals.available,
                                     r->ratios.severelyErrored, intervals.severelyErrored));

    CriterionResult answered = Judge(CriterionId::Answered, true);
    answered.limit = "every pass";
    answered.measured = std::to_string(r->passes - r->unansweredPasses) + " of " + std::to_string(r->passes) +
                        " passes answered" + (r->boardLost ? ", then the board was lost" : "");
    answered.passed = r->passes > 0 && r->unansweredPasses == 0 && !r->boardLost;
    answered.firstBreach = phy.unanswered;
    r->criteria.push_back(answered);

    // A stopped test fails on a breach it saw; what it could not measure only leaves it unfinished.
    bool failed = false;
    bool breached = false;
    for (const CriterionResult& c : r->criteria) {
        failed = failed || (c.checked && !c.passed);
        breached = breached || (c.checked && !c.passed && c.firstBreach);
    }
    if (!r->notRunReason.empty() || r->passes == 0)
        r->verdict = Verdict::NotRun;
    else if (r->stopped)
        r->verdict = breached ? Verdict::Failed : Verdict::Stopped;
    else
        r->verdict = failed ? Verdict::Failed : Verdict::Passed;
}

} // namespace tessor::linetest
