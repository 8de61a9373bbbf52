// Line performance by interval, against hand-computed pass sequences: the threshold edge, the 10-interval
// runs into and out of an unavailable period, intervals built from raw passes (wraps, clear-on-read counts,
// the first pass, passes without an answer), up-since, and the bins.
#include "model/LinePerformance.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace tessor {
namespace {

// One letter an interval: S severely errored (a retrain), E errored, F FEC, G good, D line down, U not
// answered.
IntervalInput Letter(char c, std::optional<std::uint64_t> errors = 0,
                     std::optional<std::uint64_t> frames = 1000) {
    IntervalInput in;
    in.lengthMs = 5000;
    in.measured = c != 'U';
    in.retrain = c == 'S';
    in.lineDown = c == 'D';
    in.errors = c == 'E' ? std::optional<std::uint64_t>(1) : errors;
    in.framesReceived = frames;
    in.rsCorrected = c == 'F' ? 1 : 0;
    return in;
}

// One letter a class: u unavailable, s severely errored, e errored, f FEC, g good, m unmeasured.
char Letter(IntervalClass value) {
    return "usefgm"[static_cast<std::size_t>(value)];
}

TEST(LineIntervals, SevereEdgeIsExact) {
    const std::optional<std::uint64_t> none;
    const struct {
        std::optional<std::uint64_t> errors, frames;
        char expected;
    } table[] = {
        {1, 100, 's'},  {99, 10000, 'e'}, {100, 10000, 's'}, {3, 300, 's'},  {2, 201, 'e'},
        {1, none, 's'}, {1, 0, 's'},      {0, 0, 'g'},       {0, none, 'g'}, {none, 100, 'g'},
    };
    for (const auto& row : table)
        EXPECT_EQ(Letter(ClassOnItsOwn(Judge(Letter('G', row.errors, row.frames), {}))), row.expected)
            << row.errors.value_or(99999) << " in " << row.frames.value_or(99999);
    IntervalInput both = Letter('F', 1);
    EXPECT_EQ(ClassOnItsOwn(Judge(both, {})), IntervalClass::kErrored);

    // The operator's threshold: an interval at it is severely errored, below it only errored.
    const struct {
        double percent;
        std::uint64_t errors, frames;
        char expected;
    } thresholds[] = {
        {5, 2, 100, 'e'},     {5, 4, 100, 'e'},          {5, 5, 100, 's'},          {5, 50, 1000, 's'},
        {5, 49, 1000, 'e'},   {0.5, 1, 200, 's'},        {0.5, 1, 201, 'e'},        {100, 99, 100, 'e'},
        {100, 100, 100, 's'}, {0.0001, 1, 1000000, 's'}, {0.0001, 1, 1000001, 'e'},
    };
    for (const auto& row : thresholds) {
        const IntervalRules rules{*SevereErrorPpmOfPercent(row.percent)};
        EXPECT_EQ(Letter(ClassOnItsOwn(Judge(Letter('G', row.errors, row.frames), rules))), row.expected)
            << row.errors << " in " << row.frames << " at " << row.percent << " %";
    }
    for (const double refused : {0.0, -1.0, 100.5, 0.00001, std::nan("")})
        EXPECT_FALSE(SevereErrorPpmOfPercent(refused)) << refused;
}

// The names each front end takes: classes, and each figure's counters named after it.
TEST(LineIntervals, NamesOfClassesAndFigures) {
    for (std::size_t i = 0; i < kIntervalClassCount; ++i)
        EXPECT_EQ(IntervalClassOfName(kIntervalClasses[i].name), static_cast<IntervalClass>(i));
    EXPECT_STREQ(IntervalClassName(IntervalClass::kSeverelyErrored), "severely_errored");
    IntervalFigures f;
    f.errored.intervals = 1;
    f.severelyErrored.intervals = 2;
    f.unavailable.intervals = 3;
    f.fec.intervals = 4;
    f.unmeasured.intervals = 5;
    std::uint64_t expected = 1;
    for (const IntervalFigureDef& d : kIntervalFigures) {
        EXPECT_EQ((f.*d.tally).intervals, expected++) << d.name;
        const std::string base = std::string("tessor_line_") + d.name;
        EXPECT_EQ(kMetricFamilies[d.intervals].name, base + "_intervals_total");
        if (d.seconds != kMetricFamilyCount) {
            EXPECT_EQ(kMetricFamilies[d.seconds].name, base + "_seconds_total");
        }
    }
}

std::string Classify(const std::string& sequence) {
    CIntervalClassifier classifier;
    for (const char c : sequence)
        classifier.Add(Letter(c));
    classifier.Finish();
    std::string classes;
    for (const DecidedInterval& d : classifier.TakeDecided())
        classes += Letter(d.value);
    return classes;
}

std::string Times(int n, const char* what) {
    std::string text;
    for (int i = 0; i < n; ++i)
        text += what;
    return text;
}

TEST(LineIntervals, UnavailablePeriodsStartAndEndWithTenIntervals) {
    const std::string s10 = Times(10, "S");
    const struct {
        const char* what;
        std::string sequence;
        std::string expected;
    } table[] = {
        {"9 severe then a good one: still available", Times(9, "S") + "G", Times(9, "s") + "g"},
        {"10 severe: unavailable from the first", "G" + s10 + "E", "g" + Times(11, "u")},
        {"an errored one breaks the entry run", Times(5, "S") + "E" + Times(5, "S") + "G",
         Times(5, "s") + "e" + Times(5, "s") + "g"},
        {"10 not severe end it, available from the first", s10 + "EFG" + Times(7, "G") + "S",
         Times(10, "u") + "efg" + Times(7, "g") + "s"},
        {"9 not severe are not enough", s10 + Times(9, "G") + "S" + Times(3, "G"), Times(23, "u")},
        {"a severe one restarts the exit run", s10 + Times(9, "G") + "S" + Times(10, "G"),
         Times(20, "u") + Times(10, "g")},
        {"line down counts in the entry run", "DDD" + Times(7, "S") + "G", Times(11, "u")},
        {"line down alone is unavailable, the rest not", "DDSSG", "uussg"},
        {"line down breaks the exit run", s10 + Times(5, "G") + "D" + Times(4, "G"), Times(20, "u")},
        {"unanswered breaks the entry run", Times(5, "S") + "U" + Times(5, "S") + "G",
         Times(5, "s") + "m" + Times(5, "s") + "g"},
        {"unanswered is never unavailable; the state holds", s10 + "U" + Times(10, "G"),
         Times(10, "u") + "m" + Times(10, "g")},
        {"unanswered breaks the exit run", s10 + Times(5, "G") + "U" + Times(5, "G"),
         Times(15, "u") + "m" + Times(5, "u")},
    };
    for (const auto& row : table)
        EXPECT_EQ(Classify(row.sequence), row.expected) << row.what;
}

TEST(LineIntervals, SettledFiguresWaitForTheRunAndOnlyGrow) {
    CIntervalClassifier c;
    for (int i = 0; i < 9; ++i)
        EXPECT_EQ(c.Add(Letter('S')), IntervalClass::kSeverelyErrored);
    // Nothing decided yet: the 9 are pending, provisionally severely errored (and errored).
    EXPECT_EQ(c.Settled(), IntervalFigures{});
    EXPECT_EQ(c.Provisional().severelyErrored, (IntervalTally{9, 45000}));
    EXPECT_EQ(c.Provisional().errored, (IntervalTally{9, 45000}));
    // The tenth decides them all unavailable; errored and severely errored never counted them.
    EXPECT_EQ(c.Add(Letter('S')), IntervalClass::kUnavailable);
    EXPECT_EQ(c.Settled().unavailable, (IntervalTally{10, 50000}));
    EXPECT_EQ(c.Settled().errored, IntervalTally{});
    // Recovering: pending, provisionally unavailable, until the tenth.
    for (const char l : std::string("EFGGGGGGG"))
        EXPECT_EQ(c.Add(Letter(l)), IntervalClass::kUnavailable);
    EXPECT_EQ(c.Provisional().unavailable.intervals, 19u);
    EXPECT_EQ(c.Add(Letter('G')), IntervalClass::kGood);
    const IntervalFigures& f = c.Settled();
    EXPECT_EQ(f.unavailable.intervals, 10u);
    EXPECT_EQ(f.available, (IntervalTally{10, 50000}));
    EXPECT_EQ(f.errored.intervals, 1u);
    EXPECT_EQ(f.fec.intervals, 1u);
    EXPECT_EQ(f.classes[static_cast<std::size_t>(IntervalClass::kGood)], 8u);
    EXPECT_EQ(c.Provisional(), f);
}

TEST(LineIntervals, SecondsAndRatiosAreByIntervalLengths) {
    CIntervalClassifier c;
    const std::pair<char, std::int64_t> passes[] = {
        {'E', 4900}, {'S', 5100}, {'U', 30000}, {'F', 5003}, {'D', 12000}};
    for (const auto& [letter, ms] : passes) {
        IntervalInput in = Letter(letter);
        in.lengthMs = ms;
        c.Add(in);
    }
    c.Finish();
    const IntervalFigures& f = c.Settled();
    EXPECT_EQ(f.errored, (IntervalTally{2, 10000}));
    EXPECT_EQ(f.severelyErrored, (IntervalTally{1, 5100}));
    EXPECT_EQ(f.unmeasured, (IntervalTally{1, 30000}));
    EXPECT_EQ(f.fec, (IntervalTally{1, 5003}));
    EXPECT_EQ(f.unavailable, (IntervalTally{1, 12000}));
    EXPECT_EQ(f.available, (IntervalTally{3, 15003}));
    const IntervalRatios r = RatiosOf(f);
    EXPECT_DOUBLE_EQ(*r.errored, 10000.0 / 15003.0);
    EXPECT_DOUBLE_EQ(*r.severelyErrored, 5100.0 / 15003.0);
    EXPECT_DOUBLE_EQ(*r.unavailable, 12000.0 / 27003.0);
    // No ratio without the time it is of.
    IntervalFigures down;
    down.unavailable = {2, 10000};
    EXPECT_FALSE(RatiosOf(down).errored);
    EXPECT_EQ(RatiosOf(down).unavailable, 1.0);
    EXPECT_FALSE(RatiosOf(IntervalFigures{}).unavailable);
}

// ---- Intervals from raw passes ----

using Reg = std::optional<std::uint32_t>;
const Reg kNone;
constexpr std::uint32_t kUp = 0xC0;           // 8C71 with a full constellation link
constexpr std::int64_t kWall = 1765360800000; // 2025-12-10 10:00:00 UTC

struct Pass {
    std::int64_t ms;
    bool answered;
    Reg status, flags, linkFail, rs, fcs, rxErrors, rxFrames; // flags: 8C98, 0x80 a micro interruption
};

PassReads Reads(const Pass& p) {
    PhyRegisters r;
    r.linkStatus = p.status;
    r.lineFlags = p.flags;
    r.linkFailCount = p.linkFail;
    r.rsCorrected = p.rs;
    PassReads reads;
    reads.monoMs = p.ms;
    reads.wallMs = kWall + p.ms;
    reads.answered = p.answered;
    reads.phy = DecodePhy(r, std::nullopt);
    reads.ethernet[kCounterFrameCheckSequenceErrors] = p.fcs;
    reads.ethernet[kCounterReceiveErrors] = p.rxErrors;
    reads.ethernet[kCounterRxFrames] = p.rxFrames;
    return reads;
}

template <typename T> std::string Text(const std::optional<T>& v) {
    return v ? std::to_string(*v) : "?";
}

// "measured retrain down errors/frames rs up-since" of what a pass gave, or "none | up-since".
std::string Summary(const std::optional<IntervalInput>& in, const std::optional<std::int64_t>& upSince) {
    const std::string up = " up " + (upSince ? std::to_string((*upSince - kWall) / 1000) : "-");
    if (!in)
        return "none" + up;
    return std::string(in->measured ? "M" : "-") + (in->retrain ? "R" : "-") + (in->lineDown ? "D" : "-") +
           " " + Text(in->errors) + "/" + Text(in->framesReceived) + " rs " + Text(in->rsCorrected) + up +
           " len " + std::to_string(in->lengthMs);
}

TEST(LinePerformance, IntervalsFromRawPasses) {
    const struct {
        Pass pass;
        const char* expected;
    } table[] = {
        {{0, true, kUp, 0, 250, 40, 9, 9, 900}, "none up 0"}, // the first pass only starts the counts
        {{5000, true, kUp, 0, 250, 7, 1, 2, 300}, "M-- 3/300 rs 7 up 0 len 5000"},
        {{10000, true, kUp, 0, 254, 0, 0, 0, 100}, "MR- 0/100 rs 0 up 10 len 5000"}, // link fail moved
        {{15000, true, kUp, 0, 2, 0, 0, 0, 100}, "MR- 0/100 rs 0 up 15 len 5000"},   // over its wrap
        {{20000, true, kUp, 0, 2, 0, 0, 0, 100}, "M-- 0/100 rs 0 up 15 len 5000"},
        {{25000, false, kNone, kNone, kNone, kNone, kNone, kNone, kNone}, "--- ?/? rs ? up 15 len 5000"},
        // After a lost read the counts cover a time not known; the counter still shows the retrain.
        {{30000, true, kUp, 0, 3, 12, 0, 0, 100}, "-R- 0/100 rs 12 up 30 len 5000"},
        {{37000, true, kUp, 0x80, 3, 0, 0, 0, 100}, "MR- 0/100 rs 0 up 37 len 7000"}, // micro interruption
        {{42000, true, 0, 0, 4, 0, kNone, 0, 0}, "MRD ?/0 rs 0 up - len 5000"},
        {{47000, true, kUp, 0, 4, 0, 0, 0, 0}, "MR- 0/0 rs 0 up 47 len 5000"}, // came up
        {{52000, true, kUp, 0, 4, kNone, 0, 1, kNone}, "M-- 1/? rs ? up 47 len 5000"},
    };
    CPassIntervals passes;
    for (const auto& row : table) {
        const std::optional<IntervalInput> in = passes.Add(Reads(row.pass));
        EXPECT_EQ(Summary(in, passes.UpSinceWallMs()), row.expected) << row.pass.ms;
    }
    // A pass without an answer that read the counter moved: the next answer starts a new sync.
    passes.Add(Reads({57000, false, kNone, kNone, 5, kNone, kNone, kNone, kNone}));
    EXPECT_EQ(passes.UpSinceWallMs(), kWall + 47000);
    passes.Add(Reads({62000, true, kUp, 0, 5, 0, 0, 0, 0}));
    EXPECT_EQ(passes.UpSinceWallMs(), kWall + 62000);
}

// ---- Bins ----

DecidedInterval EndingAt(std::int64_t endWallMs, IntervalClass value = IntervalClass::kGood) {
    DecidedInterval d;
    d.input.lengthMs = 5000;
    d.input.endWallMs = endWallMs;
    d.value = value;
    return d;
}

TEST(LinePerformance, BinsRollOverOnWallClockBoundaries) {
    constexpr std::int64_t kMin = 60 * 1000;
    CIntervalBins bins(CIntervalBins::kQuarterHourMs);
    bins.Add(EndingAt(kWall + 14 * kMin + 55000));
    bins.Add(EndingAt(kWall + 15 * kMin)); // ends on the boundary: wholly before it
    EXPECT_EQ(bins.Current()->startWallMs, kWall);
    EXPECT_EQ(bins.Current()->figures.available, (IntervalTally{2, 10000}));
    EXPECT_FALSE(bins.Previous());
    bins.Add(EndingAt(kWall + 15 * kMin + 1));
    EXPECT_EQ(bins.Current()->startWallMs, kWall + 15 * kMin);
    EXPECT_EQ(bins.Previous()->figures.available.intervals, 2u);
    bins.Add(EndingAt(kWall + 10 * kMin, IntervalClass::kUnavailable)); // decided late
    EXPECT_EQ(bins.Previous()->figures.unavailable.intervals, 1u);
    // A quarter without intervals: the previous bin is empty; later than that is missed.
    bins.AdvanceTo(kWall + 45 * kMin + 5000);
    EXPECT_EQ(bins.Previous()->startWallMs, kWall + 30 * kMin);
    EXPECT_EQ(bins.Previous()->figures, IntervalFigures{});
    bins.Add(EndingAt(kWall + 20 * kMin));
    EXPECT_EQ(bins.Missed().available.intervals, 1u);
    bins.AdvanceTo(kWall); // the clock went back
    EXPECT_EQ(bins.Current()->startWallMs, kWall + 45 * kMin);

    CIntervalBins day(CIntervalBins::kDayMs);
    day.Add(EndingAt(kWall));
    EXPECT_EQ(day.Current()->startWallMs, kWall - 10 * 60 * kMin); // UTC midnight
}

// A severely errored run that turns unavailable after its bin rolled over: the settled counts go into the
// bins of their own end times; the provisional view shows them before.
TEST(LinePerformance, PendingIntervalsSettleIntoTheirBins) {
    CLinePerformance perf;
    std::uint32_t linkFail = 0;
    std::int64_t ms = 14 * 60 * 1000; // a pass every minute from 10:14, each with a retrain
    perf.Add(Reads({ms, true, kUp, 0, linkFail, 0, 0, 0, 10}));
    for (int i = 0; i < 9; ++i) {
        ms += 60000;
        const CLinePerformance::Added added = perf.Add(Reads({ms, true, kUp, 0, ++linkFail, 0, 0, 0, 10}));
        EXPECT_EQ(added.provisional, IntervalClass::kSeverelyErrored);
        EXPECT_TRUE(added.decided.empty());
    }
    EXPECT_EQ(perf.Settled().quarter.Previous()->figures, IntervalFigures{});
    EXPECT_EQ(perf.Provisional().quarter.Previous()->figures.severelyErrored.intervals, 1u);
    EXPECT_EQ(perf.Provisional().quarter.Current()->figures.severelyErrored.intervals, 8u);
    EXPECT_EQ(perf.Add(Reads({ms + 60000, true, kUp, 0, ++linkFail, 0, 0, 0, 10})).decided.size(), 10u);
    EXPECT_EQ(perf.Settled().quarter.Previous()->figures.unavailable.intervals, 1u);
    EXPECT_EQ(perf.Settled().quarter.Current()->figures.unavailable.intervals, 9u);
    EXPECT_EQ(perf.Settled().day.Current()->figures.unavailable, (IntervalTally{10, 600000}));
}

// A whole history gives each pass the class the pass-by-pass figures settle on.
TEST(LinePerformance, HistoryGivesTheClassOfEachPass) {
    const Pass table[] = {
        {0, true, kUp, 0, 5, 0, 0, 0, 100},                              // -: first
        {5000, true, kUp, 0, 5, 3, 0, 0, 100},                           // f
        {10000, true, kUp, 0, 5, 0, 1, 0, 1000},                         // e: 1 in 1000
        {15000, true, kUp, 0, 5, 0, 10, 0, 1000},                        // s: 10 in 1000
        {20000, false, kNone, kNone, kNone, kNone, kNone, kNone, kNone}, // m
        {25000, true, 0, 0, 6, 0, 0, 0, 0},                              // m: after a lost read
        {30000, true, 0, 0, 6, 0, 0, 0, 0},                              // u: down
        {35000, true, kUp, 0, 6, 0, 0, 0, 50},                           // s: came up
        {40000, true, kUp, 0, 6, 0, 0, 0, 50},                           // g
    };
    std::vector<PassReads> passes;
    CLinePerformance perf;
    for (const Pass& p : table) {
        passes.push_back(Reads(p));
        perf.Add(passes.back());
    }
    const ClassifiedHistory history = ClassifyHistory(passes);
    std::string classes;
    for (const std::optional<IntervalClass>& c : history.classes)
        classes += c ? Letter(*c) : '-';
    EXPECT_EQ(classes, "-fesmmusg");
    EXPECT_EQ(perf.Settled().total, history.figures);
}

} // namespace
} // namespace tessor
