#include "model/LineIntervals.h"

#include <cmath>
#include <cstring>

namespace tessor {

const std::array<IntervalClassDef, kIntervalClassCount> kIntervalClasses{{
    {IntervalClass::kUnavailable, "unavailable", "Unavailable"},
    {IntervalClass::kSeverelyErrored, "severely_errored", "Severely errored"},
    {IntervalClass::kErrored, "errored", "Errored"},
    {IntervalClass::kFec, "fec", "FEC"},
    {IntervalClass::kGood, "good", "Good"},
    {IntervalClass::kUnmeasured, "unmeasured", "Not measured"},
}};

const std::array<IntervalFigureDef, kIntervalFigureCount> kIntervalFigures{{
    {"errored", &IntervalFigures::errored, kMetricErroredIntervals, kMetricErroredSeconds},
    {"severely_errored", &IntervalFigures::severelyErrored, kMetricSeverelyErroredIntervals,
     kMetricSeverelyErroredSeconds},
    {"unavailable", &IntervalFigures::unavailable, kMetricUnavailableIntervals, kMetricUnavailableSeconds},
    {"fec", &IntervalFigures::fec, kMetricFecIntervals, kMetricFamilyCount},
    {"unmeasured", &IntervalFigures::unmeasured, kMetricUnmeasuredIntervals, kMetricFamilyCount},
}};

const char* IntervalClassName(IntervalClass value) {
    return kIntervalClasses[static_cast<std::size_t>(value)].name;
}

std::optional<IntervalClass> IntervalClassOfName(const char* name) {
    for (const IntervalClassDef& d : kIntervalClasses) {
        if (std::strcmp(d.name, name) == 0)
            return d.value;
    }
    return std::nullopt;
}

std::optional<std::uint32_t> SevereErrorPpmOfPercent(double percent) {
    if (!std::isfinite(percent) || percent <= 0 || percent > 100)
        return std::nullopt;
    const auto ppm = static_cast<std::uint32_t>(std::llround(percent * 10000.0));
    // Below a millionth the rule would make every error severe: not what such a small figure asks for.
    return ppm > 0 ? std::optional<std::uint32_t>(ppm) : std::nullopt;
}

IntervalEvents Judge(const IntervalInput& input, const IntervalRules& rules) {
    IntervalEvents e;
    e.measured = input.measured;
    if (!e.measured)
        return e;
    e.lineDown = input.lineDown;
    const std::uint64_t errors = input.errors.value_or(0);
    // errors / frames >= ppm / 1e6, in integers; counts of one read are 32 bits, so nothing overflows.
    const bool manyErrors =
        errors >= 1 &&
        (!input.framesReceived ||
         errors * 1000000u >= static_cast<std::uint64_t>(rules.severeErrorPpm) * *input.framesReceived);
    e.severe = input.retrain || manyErrors;
    e.errored = e.severe || errors >= 1;
    e.fec = input.rsCorrected.value_or(0) > 0;
    return e;
}

IntervalClass ClassOnItsOwn(const IntervalEvents& e) {
    if (!e.measured)
        return IntervalClass::kUnmeasured;
    if (e.lineDown)
        return IntervalClass::kUnavailable;
    if (e.severe)
        return IntervalClass::kSeverelyErrored;
    if (e.errored)
        return IntervalClass::kErrored;
    if (e.fec)
        return IntervalClass::kFec;
    return IntervalClass::kGood;
}

bool IntervalFigures::operator==(const IntervalFigures& o) const {
    return available == o.available && errored == o.errored && severelyErrored == o.severelyErrored &&
           fec == o.fec && unavailable == o.unavailable && unmeasured == o.unmeasured && classes == o.classes;
}

void AddTo(IntervalFigures* f, const DecidedInterval& interval) {
    const auto add = [&interval](IntervalTally* tally) {
        ++tally->intervals;
        tally->ms += interval.input.lengthMs;
    };
    ++f->classes[static_cast<std::size_t>(interval.value)];
    if (interval.value == IntervalClass::kUnmeasured) {
        add(&f->unmeasured);
        return;
    }
    if (interval.value == IntervalClass::kUnavailable) {
        add(&f->unavailable);
        return;
    }
    add(&f->available);
    if (interval.events.errored)
        add(&f->errored);
    if (interval.events.severe)
        add(&f->severelyErrored);
    if (interval.events.fec)
        add(&f->fec);
}

IntervalRatios RatiosOf(const IntervalFigures& f) {
    IntervalRatios r;
    const auto share = [](std::int64_t part, std::int64_t whole) {
        return whole > 0 ? std::optional<double>(static_cast<double>(part) / static_cast<double>(whole))
                         : std::nullopt;
    };
    r.errored = share(f.errored.ms, f.available.ms);
    r.severelyErrored = share(f.severelyErrored.ms, f.available.ms);
    r.unavailable = share(f.unavailable.ms, f.available.ms + f.unavailable.ms);
    return r;
}

namespace {

// Whether an interval counts as severely errored in the runs that start and end unavailable periods.
bool SevereInRuns(const IntervalEvents& e) {
    return e.severe || e.lineDown;
}

IntervalClass ClassIn(const IntervalEvents& e, bool unavailable) {
    if (unavailable && e.measured)
        return IntervalClass::kUnavailable;
    return ClassOnItsOwn(e);
}

} // namespace

void CIntervalClassifier::Decide(const DecidedInterval& interval, bool unavailable) {
    DecidedInterval d = interval;
    d.value = ClassIn(d.events, unavailable);
    AddTo(&m_settled, d);
    m_decided.push_back(d);
}

void CIntervalClassifier::DecidePending(bool unavailable) {
    for (const DecidedInterval& d : m_pending)
        Decide(d, unavailable);
    m_pending.clear();
}

IntervalClass CIntervalClassifier::Add(const IntervalInput& input) {
    DecidedInterval d;
    d.index = m_next++;
    d.input = input;
    d.events = Judge(input, m_rules);
    if (!d.events.measured) {
        // The run breaks; the state holds.
        DecidePending(m_unavailable);
        Decide(d, m_unavailable);
        return IntervalClass::kUnmeasured;
    }
    // While available a run of severe intervals may start a period; while unavailable a run of the others
    // may end it. An interval of the other kind breaks the run, which then keeps the state it waited in.
    if (SevereInRuns(d.events) != m_unavailable) {
        m_pending.push_back(d);
        if (m_pending.size() >= static_cast<std::size_t>(kAvailabilityRun)) {
            m_unavailable = !m_unavailable;
            DecidePending(m_unavailable);
        }
        return ClassIn(d.events, m_unavailable);
    }
    DecidePending(m_unavailable);
    Decide(d, m_unavailable);
    return ClassIn(d.events, m_unavailable);
}

void CIntervalClassifier::Finish() {
    DecidePending(m_unavailable);
}

std::vector<DecidedInterval> CIntervalClassifier::TakeDecided() {
    std::vector<DecidedInterval> taken;
    taken.swap(m_decided);
    return taken;
}

std::vector<DecidedInterval> CIntervalClassifier::Pending() const {
    std::vector<DecidedInterval> pending(m_pending.begin(), m_pending.end());
    for (DecidedInterval& d : pending)
        d.value = ClassIn(d.events, m_unavailable);
    return pending;
}

IntervalFigures CIntervalClassifier::Provisional() const {
    IntervalFigures f = m_settled;
    for (const DecidedInterval& d : Pending())
        AddTo(&f, d);
    return f;
}

} // namespace tessor
