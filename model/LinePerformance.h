#pragma once

// Line performance from the tool's passes: each pass after the first ends an interval, built from the raw
// register counts of the two passes that bound it (RawCounts.h: clear-on-read counts, the 8-bit link fail
// counter over its wraps), classified by LineIntervals.h, summed in total and in wall-clock aligned
// 15-minute and 24-hour bins, with the time the current sync began as the tool saw it.

#include "model/LineIntervals.h"
#include "model/PhyValues.h"
#include "model/RawCounts.h"

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace tessor {

// One pass as read: the PHY registers and the raw clear-on-read counts of the Ethernet counters.
struct PassReads {
    std::int64_t monoMs = 0; // monotonic time of the pass's reads
    std::int64_t wallMs = 0; // wall-clock time, ms since 1970 UTC
    bool answered = false;   // the board answered every read of the pass
    PhyValues phy;           // a register whose read failed stays empty
    // In the order of kCounterDefs; empty where the read failed or was not made.
    std::array<std::optional<std::uint32_t>, kCounterDefCount> ethernet{};
};

// Turns consecutive passes into intervals. The first pass only starts the counts; an interval is measured
// when the reads at both its ends were answered (after a lost read the counts cover a time not known).
// A retrain in an interval is the link fail counter moving (8D38, over its wrap), a micro interruption
// latched (8C98 bit 7) or the line up after the pass before saw it down. Errors are FCS plus receive
// errors, known when both counts are; frames are the frames received.
class CPassIntervals {
public:
    // The interval the pass ends; none for the first pass.
    std::optional<IntervalInput> Add(const PassReads& pass);
    // Wall-clock time of the first pass that saw the line up after it was down, a retrain, or the first
    // pass of all; none while the line is down or before a pass saw it up. A pass without an answer
    // leaves it as it was: a retrain meanwhile shows in the link fail counter at the next answer.
    std::optional<std::int64_t> UpSinceWallMs() const { return m_upSince; }

private:
    static std::optional<std::uint64_t>
    ReadCleared(CClearedCount* count, const std::optional<std::uint32_t>& read, std::int64_t monoMs);

    CClearedCount m_rs;
    CWrappingCount m_linkFail;
    CClearedCount m_fcs;
    CClearedCount m_rxErrors;
    CClearedCount m_rxFrames;
    std::optional<std::int64_t> m_lastMonoMs;
    bool m_lastAnswered = false;
    std::optional<bool> m_lastLineUp; // as the last answered pass saw it
    bool m_linkFailMoved = false;     // since the last answered pass that saw the line up
    std::optional<std::int64_t> m_upSince;
};

// The current and the previous bin of a fixed length, aligned on wall-clock (UTC) multiples of it, as the
// DSL line MIBs keep them. An interval belongs to the bin its end falls in; one that ends exactly on a
// boundary lies wholly before it and belongs to the bin before. An interval decided after its bin has
// gone by more than one is counted in Missed().
class CIntervalBins {
public:
    static constexpr std::int64_t kQuarterHourMs = 15 * 60 * 1000;
    static constexpr std::int64_t kDayMs = 24 * 60 * 60 * 1000;

    struct Bin {
        std::int64_t startWallMs = 0;
        IntervalFigures figures;
    };

    explicit CIntervalBins(std::int64_t binMs) : m_binMs(binMs) {}

    // Moves the current bin on to the one an interval ending at wallMs belongs to (never back).
    void AdvanceTo(std::int64_t wallMs);
    void Add(const DecidedInterval& interval);

    // None before the first interval; the previous bin is empty when no interval ended in it.
    const std::optional<Bin>& Current() const { return m_current; }
    const std::optional<Bin>& Previous() const { return m_previous; }
    const IntervalFigures& Missed() const { return m_missed; }
    std::int64_t BinMs() const { return m_binMs; }

private:
    std::int64_t BinOf(std::int64_t endWallMs) const;

    std::int64_t m_binMs;
    std::optional<Bin> m_current;
    std::optional<Bin> m_previous;
    IntervalFigures m_missed;
};

// Everything a front end shows of a line's performance, fed pass by pass.
class CLinePerformance {
public:
    explicit CLinePerformance(IntervalRules rules = {}) : m_classifier(rules) {}

    struct Added {
        std::optional<IntervalInput> interval;    // none for the first pass
        std::optional<IntervalClass> provisional; // the class of that interval as it stands now
        std::vector<DecidedInterval> decided;     // intervals whose class became final with this pass
    };
    Added Add(const PassReads& pass);

    struct View {
        IntervalFigures total;
        CIntervalBins quarter{CIntervalBins::kQuarterHourMs};
        CIntervalBins day{CIntervalBins::kDayMs};
    };
    // Final figures only: they only grow (counters). The last few intervals may still be pending.
    const View& Settled() const { return m_settled; }
    // The settled figures with the pending intervals in their provisional class.
    View Provisional() const;
    std::vector<DecidedInterval> Pending() const { return m_classifier.Pending(); }
    std::optional<std::int64_t> UpSinceWallMs() const { return m_passes.UpSinceWallMs(); }

private:
    static void Settle(View* view, const std::vector<DecidedInterval>& decided);

    CPassIntervals m_passes;
    CIntervalClassifier m_classifier;
    View m_settled;
};

// A finished history (a recording, a line test): the class of each pass's interval (none for the first
// pass) with the pending intervals at the end decided as if the state held, and the figures.
struct ClassifiedHistory {
    std::vector<std::optional<IntervalClass>> classes; // one per pass
    IntervalFigures figures;
};
ClassifiedHistory ClassifyHistory(const std::vector<PassReads>& passes, IntervalRules rules = {});

} // namespace tessor
