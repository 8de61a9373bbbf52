#pragma once

// Line performance by interval. The modems give no per-second counters, so an interval is one pass of the
// tool: the time between the two reads that bound it. Each interval is judged on its own (errored, severely
// errored, FEC, line down) and then within availability: an unavailable period starts with 10 consecutive
// severely errored intervals, counted from the first of them, and ends before 10 consecutive intervals that
// are not, as G.826 does with seconds. Errored, severely errored and FEC intervals count only while the line
// is available. Standard library only: the monitor, the recording, the Line History and the line test all
// take their figures from here.

#include "model/MetricNames.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

namespace tessor {

// The class of an interval: the first of these that applies.
enum class IntervalClass { kUnavailable, kSeverelyErrored, kErrored, kFec, kGood, kUnmeasured, kCount };
constexpr std::size_t kIntervalClassCount = static_cast<std::size_t>(IntervalClass::kCount);

struct IntervalClassDef {
    IntervalClass value;
    const char* name;    // machine name: the value of the interval_class column and JSON key
    const char* caption; // for people: tables, legends
};
// In the order of IntervalClass.
extern const std::array<IntervalClassDef, kIntervalClassCount> kIntervalClasses;
const char* IntervalClassName(IntervalClass value);
// The class of a machine name, or none.
std::optional<IntervalClass> IntervalClassOfName(const char* name);
// The recording column that holds each pass's class.
constexpr const char* kIntervalClassColumn = "interval_class";

// An unavailable period starts with, and ends before, this many consecutive intervals.
constexpr int kAvailabilityRun = 10;

// What one interval saw. Unknown figures stay empty; an unknown figure never makes an interval errored.
struct IntervalInput {
    std::int64_t lengthMs = 0;  // the real time between the reads that bound it
    std::int64_t endWallMs = 0; // wall-clock time (ms since 1970, UTC) of the read that ends it
    bool measured = false;      // both bounding reads were answered
    bool lineDown = false;      // the read that ends it saw the line down
    bool retrain = false;       // the link fail counter moved, a micro interruption, or the line came up
    std::optional<std::uint64_t> errors;         // FCS plus receive errors
    std::optional<std::uint64_t> framesReceived; // frames received
    std::optional<std::uint64_t> rsCorrected;    // corrected RS errors
};

struct IntervalRules {
    // Errors of at least this many parts per million of the frames received make an interval severely
    // errored (10000: 1 %). Kept in integers so that the edge is exact.
    std::uint32_t severeErrorPpm = 10000;
};
// The rule for a percentage an operator gives (0.0001 to 100, to a millionth of the frames), or none.
std::optional<std::uint32_t> SevereErrorPpmOfPercent(double percent);

// An interval judged on its own, before availability.
struct IntervalEvents {
    bool measured = false;
    bool lineDown = false;
    bool severe =
        false; // a retrain, or errors of at least the rule's share of the frames (one without frames)
    bool errored = false; // at least one error, or severe
    bool fec = false;     // corrected RS errors moved
};
IntervalEvents Judge(const IntervalInput& input, const IntervalRules& rules);
// The class of an interval on its own, as an available line would give it (line down: unavailable).
IntervalClass ClassOnItsOwn(const IntervalEvents& events);

// A count of intervals and the time they cover.
struct IntervalTally {
    std::uint64_t intervals = 0;
    std::int64_t ms = 0;
    double Seconds() const { return static_cast<double>(ms) / 1000.0; }
    bool operator==(const IntervalTally& o) const { return intervals == o.intervals && ms == o.ms; }
};

// The figures of a run of intervals. Errored includes severely errored; errored, severely errored and FEC
// count available intervals only; available and unavailable are measured intervals; unmeasured stands apart.
struct IntervalFigures {
    IntervalTally available;
    IntervalTally errored;
    IntervalTally severelyErrored;
    IntervalTally fec;
    IntervalTally unavailable;
    IntervalTally unmeasured;
    // Intervals of each class.
    std::array<std::uint64_t, kIntervalClassCount> classes{};

    bool operator==(const IntervalFigures& o) const;
};

// The errored and severely errored ratios (ESR, SESR) over the available time, and the unavailable share
// of the measured time, by the time the intervals cover (their lengths differ). None without that time.
struct IntervalRatios {
    std::optional<double> errored;
    std::optional<double> severelyErrored;
    std::optional<double> unavailable;
};
IntervalRatios RatiosOf(const IntervalFigures& figures);

// The figures a front end publishes, each with the counter families of its intervals and of the seconds
// they cover (kMetricFamilyCount where it has none). JSON keys and recording columns are the name with
// "_intervals" and "_seconds".
struct IntervalFigureDef {
    const char* name;
    IntervalTally IntervalFigures::*tally;
    MetricFamily intervals;
    MetricFamily seconds;
};
constexpr std::size_t kIntervalFigureCount = 5;
extern const std::array<IntervalFigureDef, kIntervalFigureCount> kIntervalFigures;

// An interval whose class is final, the index-th interval added (from 0).
struct DecidedInterval {
    std::uint64_t index = 0;
    IntervalInput input;
    IntervalEvents events;
    IntervalClass value = IntervalClass::kUnmeasured;
};
void AddTo(IntervalFigures* figures, const DecidedInterval& interval);

// Classifies intervals in order. An interval's class is final once availability around it is decided: at
// once for most, but a run of severely errored intervals while available (or of intervals that are not,
// while unavailable) waits until it reaches 10 or breaks. Those wait in a pending window of at most 9;
// their provisional class is the one they get if the state holds, which is also what Finish() gives them.
// Settled figures only grow, so a counter can be made of them; they trail by the pending window.
//
// Line down counts as severely errored in the runs. An unmeasured interval ends a run of either kind (the
// runs are of consecutive passes) and leaves the state as it is; it is never unavailable nor good.
class CIntervalClassifier {
public:
    explicit CIntervalClassifier(IntervalRules rules = {}) : m_rules(rules) {}

    // Adds the next interval; gives its provisional class.
    IntervalClass Add(const IntervalInput& input);
    // Decides the pending intervals as if the state held (the end of a history).
    void Finish();

    // The intervals decided since the last call, in order; they are kept until taken.
    std::vector<DecidedInterval> TakeDecided();
    // The figures of every interval decided so far, also those already taken.
    const IntervalFigures& Settled() const { return m_settled; }
    // Settled plus the pending intervals in their provisional class.
    IntervalFigures Provisional() const;
    // The pending intervals in their provisional class (index, input and events as they will be decided).
    std::vector<DecidedInterval> Pending() const;
    // Whether the line is in an unavailable period (as decided so far).
    bool Unavailable() const { return m_unavailable; }
    std::uint64_t Added() const { return m_next; }

private:
    void Decide(const DecidedInterval& interval, bool unavailable);
    void DecidePending(bool unavailable);

    IntervalRules m_rules;
    bool m_unavailable = false;
    std::uint64_t m_next = 0;
    std::deque<DecidedInterval> m_pending; // the run that may change the state; value unset
    std::vector<DecidedInterval> m_decided;
    IntervalFigures m_settled;
};

} // namespace tessor
