// Line performance by interval, against hand-computed pass sequences: the classes of single intervals and
// the threshold edge, the 10-interval runs into and out of an unavailable period, intervals built from raw
// passes (wraps, clear-on-read counts, the first pass, passes without an answer), up-since, and the bins.
#include "model/LinePerformance.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace tessor {
namespace {

// ---- One interval on its own ----

IntervalInput Measured(std::optional<std::uint64_t> errors,
                       std::optional<std::uint64_t> frames = std::nullopt) {
    IntervalInput in;
    in.lengthMs = 5000;
    in.measured = true;
    in.errors = errors;
    in.framesReceived = frames;
    return in;
}

TEST(LineIntervals, ClassOfOneIntervalAndTheSevereEdge) {
    IntervalInput retrain = Measured(0, 1000);
    retrain.retrain = true;
    IntervalInput down = Measured(std::nullopt);
    down.lineDown = true;
    IntervalInput fec = Measured(0, 1000);
    fec.rsCorrected = 3;
    IntervalInput fecAndError = Measured(1, 1000);
    fecAndError.rsCorrected = 3;
    IntervalInput unanswered = down;
    unanswered.measured = false;
    IntervalInput unknownRs = Measured(0, 1000);
    const struct {
        const char* what;
        IntervalInput in;
        IntervalClass expected;
    } table[] = {
        {"1 error in 100 frames: exactly 1 %", Measured(1, 100), IntervalClass::kSeverelyErrored},
        {"99 in 10000: just below 1 %", Measured(99, 10000), IntervalClass::kErrored},
        {"100 in 10000", Measured(100, 10000), IntervalClass::kSeverelyErrored},
        {"3 in 300", Measured(3, 300), IntervalClass::kSeverelyErrored},
        {"2 in 201", Measured(2, 201), IntervalClass::kErrored},
        {"one error, no frame counts", Measured(1), IntervalClass::kSeverelyErrored},
        {"errors, no frames received", Measured(1, 0), IntervalClass::kSeverelyErrored},
        {"no errors, no frames received", Measured(0, 0), IntervalClass::kGood},
        {"no errors, no frame counts", Measured(0), IntervalClass::kGood},
        {"error counts unknown", Measured(std::nullopt, 100), IntervalClass::kGood},
        {"retrain without errors", retrain, IntervalClass::kSeverelyErrored},
        {"line down", down, IntervalClass::kUnavailable},
        {"RS corrected moved", fec, IntervalClass::kFec},
        {"errored before FEC", fecAndError, IntervalClass::kErrored},
        {"RS count unknown", unknownRs, IntervalClass::kGood},
        {"not answered, whatever it saw", unanswered, IntervalClass::kUnmeasured},
    };
    for (const auto& row : table)
        EXPECT_EQ(ClassOnItsOwn(Judge(row.in, IntervalRules{})), row.expected) << row.what;
}

TEST(LineIntervals, ThresholdIsConfigurable) {
    const IntervalRules fivePercent{*SevereErrorPpmOfPercent(5.0)};
    EXPECT_EQ(fivePercent.severeErrorPpm, 50000u);
    EXPECT_FALSE(Judge(Measured(4, 100), fivePercent).severe);
    EXPECT_TRUE(Judge(Measured(4, 100), fivePercent).errored);
    EXPECT_TRUE(Judge(Measured(5, 100), fivePercent).severe);
    for (const double refused : {0.0, -1.0, 100.5, std::nan("")})
        EXPECT_FALSE(SevereErrorPpmOfPercent(refused)) << refused;
    EXPECT_EQ(SevereErrorPpmOfPercent(100.0), 1000000u);
}

TEST(LineIntervals, MachineNamesRoundTrip) {
    for (std::size_t i = 0; i < kIntervalClassCount; ++i) {
        EXPECT_EQ(static_cast<std::size_t>(kIntervalClasses[i].value), i);
        EXPECT_EQ(IntervalClassOfName(kIntervalClasses[i].name), kIntervalClasses[i].value);
    }
    EXPECT_STREQ(IntervalClassName(IntervalClass::kSeverelyErrored), "severely_errored");
    EXPECT_FALSE(IntervalClassOfName("bad"));
}

// Each figure's counters are named after it; the tally it points at is its own.
TEST(LineIntervals, FigureTableNamesItsCounters) {
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
        EXPECT_STREQ(kMetricFamilies[d.intervals].type, "counter");
        if (d.seconds != kMetricFamilyCount) {
            EXPECT_EQ(kMetricFamilies[d.seconds].name, base + "_seconds_total");
            EXPECT_STREQ(kMetricFamilies[d.seconds].unit, "seconds");
        }
    }
    EXPECT_STREQ(kMetricFamilies[kMetricUpSince].name, "tessor_line_up_since_timestamp_seconds");
}

// ---- Sequences through availability ----

// One letter an interval: S severely errored, E errored, F FEC, G good, D line down, U not answered.
IntervalInput Letter(char c) {
    IntervalInput in = Measured(0, 1000);
    switch (c) {
    case 'S':
        in.retrain = true;
        break;
    case 'E':
        in.errors = 1;
        break;
    case 'F':
        in.rsCorrected = 1;
        break;
    case 'D':
        in.lineDown = true;
        break;
    case 'U':
        in.measured = false;
        break;
    }
    return in;
}

// One letter a class: u unavailable, s severely errored, e errored, f FEC, g good, m unmeasured.
char Letter(IntervalClass value) {
    return "usefgm"[static_cast<std::size_t>(value)];
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
        {"10 severe: unavailable from the first", "G" + s10 + "E", "g" + Times(10, "u") + "u"},
        {"an errored one breaks the entry run", Times(5, "S") + "E" + Times(5, "S") + "G",
         Times(5, "s") + "e" + Times(5, "s") + "g"},
        {"10 not severe end it, available again from the first", s10 + "EFG" + Times(7, "G") + "S",
         Times(10, "u") + "efg" + Times(7, "g") + "s"},
        {"9 not severe are not enough", s10 + Times(9, "G") + "S" + Times(3, "G"),
         Times(10, "u") + Times(9, "u") + "u" + Times(3, "u")},
        {"a severe one restarts the exit run", s10 + Times(9, "G") + "S" + Times(10, "G"),
         Times(20, "u") + Times(10, "g")},
        {"line down counts in the entry run", "DDD" + Times(7, "S") + "G", Times(10, "u") + "u"},
        {"line down alone is unavailable, the rest not", "DDSSG", "uussg"},
        {"line down breaks the exit run", s10 + Times(5, "G") + "D" + Times(4, "G"), Times(20, "u")},
        {"unanswered breaks the entry run", Times(5, "S") + "U" + Times(5, "S") + "G",
         Times(5, "s") + "m" + Times(5, "s") + "g"},
        {"unanswered is never unavailable; the state holds", s10 + "U" + Times(10, "G"),
         Times(10, "u") + "m" + Times(10, "g")},
        {"unanswered breaks the exit run", s10 + Times(5, "G") + "U" + Times(5, "G"),
         Times(15, "u") + "m" + Times(5, "u")},
        {"a long period and back", Times(25, "S") + Times(10, "F"), Times(25, "u") + Times(10, "f")},
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
    EXPECT_EQ(c.Provisional().available, (IntervalTally{9, 45000}));
    // The tenth decides them all unavailable; errored and severely errored never counted them.
    EXPECT_EQ(c.Add(Letter('S')), IntervalClass::kUnavailable);
    EXPECT_EQ(c.Settled().unavailable, (IntervalTally{10, 50000}));
    EXPECT_EQ(c.Settled().severelyErrored, IntervalTally{});
    EXPECT_EQ(c.Settled().errored, IntervalTally{});
    EXPECT_TRUE(c.Unavailable());
    // Recovering: pending, provisionally unavailable.
    for (const char l : std::string("EFGGGGGGG"))
        EXPECT_EQ(c.Add(Letter(l)), IntervalClass::kUnavailable);
    EXPECT_EQ(c.Settled().unavailable.intervals, 10u);
    EXPECT_EQ(c.Provisional().unavailable.intervals, 19u);
    EXPECT_EQ(c.Pending().size(), 9u);
    EXPECT_EQ(c.Add(Letter('G')), IntervalClass::kGood);
    EXPECT_FALSE(c.Unavailable());
    const IntervalFigures& f = c.Settled();
    EXPECT_EQ(f.unavailable.intervals, 10u);
    EXPECT_EQ(f.available, (IntervalTally{10, 50000}));
    EXPECT_EQ(f.errored.intervals, 1u);
    EXPECT_EQ(f.fec.intervals, 1u);
    EXPECT_EQ(f.classes[static_cast<std::size_t>(IntervalClass::kGood)], 8u);
    EXPECT_EQ(c.Provisional(), f);
}

TEST(LineIntervals, SecondsAreTheIntervalLengthsSummed) {
    CIntervalClassifier c;
    const struct {
        char letter;
        std::int64_t ms;
    } passes[] = {{'E', 4900}, {'S', 5100}, {'U', 30000}, {'F', 5003}, {'D', 12000}};
    for (const auto& p : passes) {
        IntervalInput in = Letter(p.letter);
        in.lengthMs = p.ms;
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
    EXPECT_DOUBLE_EQ(f.fec.Seconds(), 5.003);
    // By time: 10000 of 15003 ms errored, 5100 severely; 12000 of 27003 measured ms unavailable.
    const IntervalRatios r = RatiosOf(f);
    EXPECT_DOUBLE_EQ(*r.errored, 10000.0 / 15003.0);
    EXPECT_DOUBLE_EQ(*r.severelyErrored, 5100.0 / 15003.0);
    EXPECT_DOUBLE_EQ(*r.unavailable, 12000.0 / 27003.0);
}

TEST(LineIntervals, NoRatiosWithoutTheTimeTheyAreOf) {
    IntervalFigures f;
    f.unmeasured = {3, 15000};
    EXPECT_FALSE(RatiosOf(f).errored);
    EXPECT_FALSE(RatiosOf(f).unavailable);
    f.unavailable = {2, 10000};
    EXPECT_FALSE(RatiosOf(f).severelyErrored);
    EXPECT_EQ(RatiosOf(f).unavailable, 1.0);
}

// ---- Intervals from raw passes ----

struct Pass {
    std::int64_t ms;
    bool answered;
    std::optional<std::uint32_t> status; // 8C71: 0xC0 up, 0 down
    std::optional<std::uint32_t> flags;  // 8C98: 0x80 micro interruption
    std::optional<std::uint32_t> linkFail;
    std::optional<std::uint32_t> rs;
    std::optional<std::uint32_t> fcs, rxErrors, rxFrames;
};

constexpr std::int64_t kWall = 1765360800000; // 2025-12-10 10:00:00 UTC

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

constexpr std::uint32_t kUp = 0xC0;

TEST(LinePerformance, IntervalsFromRawPasses) {
    const std::optional<std::uint32_t> none;
    const struct {
        const char* what;
        Pass pass;
        bool interval;
        bool measured;
        bool retrain;
        bool lineDown;
        std::optional<std::uint64_t> errors, frames, rs;
        std::optional<std::int64_t> upSince; // ms after kWall
    } table[] = {
        {"first pass: no interval; its counts only start",
         {0, true, kUp, 0, 250, 40, 9, 9, 900},
         false,
         false,
         false,
         false,
         none,
         none,
         none,
         0},
        {"counts of one read are the interval's",
         {5000, true, kUp, 0, 250, 7, 1, 2, 300},
         true,
         true,
         false,
         false,
         3,
         300,
         7,
         0},
        {"link fail counter moved: a retrain",
         {10000, true, kUp, 0, 254, 0, 0, 0, 100},
         true,
         true,
         true,
         false,
         0,
         100,
         0,
         10000},
        {"wrapped", {15000, true, kUp, 0, 2, 0, 0, 0, 100}, true, true, true, false, 0, 100, 0, 15000},
        {"unchanged", {20000, true, kUp, 0, 2, 0, 0, 0, 100}, true, true, false, false, 0, 100, 0, 15000},
        {"no answer: not measured",
         {25000, false, none, none, none, none, none, none, none},
         true,
         false,
         false,
         false,
         none,
         none,
         none,
         15000},
        {"after a lost read: counts of an unknown time",
         {30000, true, kUp, 0, 3, 12, 0, 0, 100},
         true,
         false,
         true,
         false,
         0,
         100,
         12,
         30000},
        {"measured again",
         {35000, true, kUp, 0, 3, 0, 0, 0, 100},
         true,
         true,
         false,
         false,
         0,
         100,
         0,
         30000},
        {"micro interruption",
         {40000, true, kUp, 0x80, 3, 0, 0, 0, 100},
         true,
         true,
         true,
         false,
         0,
         100,
         0,
         40000},
        {"line down", {45000, true, 0, 0, 4, 0, none, 0, 0}, true, true, true, true, none, 0, 0, none},
        {"line back up", {50000, true, kUp, 0, 4, 0, 0, 0, 0}, true, true, true, false, 0, 0, 0, 50000},
        {"a failed counter read is unknown",
         {55000, true, kUp, 0, 4, none, 0, 1, none},
         true,
         true,
         false,
         false,
         1,
         none,
         none,
         50000},
    };
    CPassIntervals passes;
    for (const auto& row : table) {
        const std::optional<IntervalInput> in = passes.Add(Reads(row.pass));
        ASSERT_EQ(in.has_value(), row.interval) << row.what;
        if (in) {
            EXPECT_EQ(in->lengthMs, 5000) << row.what;
            EXPECT_EQ(in->endWallMs, kWall + row.pass.ms) << row.what;
            EXPECT_EQ(in->measured, row.measured) << row.what;
            EXPECT_EQ(in->retrain, row.retrain) << row.what;
            EXPECT_EQ(in->lineDown, row.lineDown) << row.what;
            EXPECT_EQ(in->errors, row.errors) << row.what;
            EXPECT_EQ(in->framesReceived, row.frames) << row.what;
            EXPECT_EQ(in->rsCorrected, row.rs) << row.what;
        }
        const std::optional<std::int64_t> upSince =
            passes.UpSinceWallMs() ? std::optional<std::int64_t>(*passes.UpSinceWallMs() - kWall)
                                   : std::nullopt;
        EXPECT_EQ(upSince, row.upSince) << row.what;
    }
}

TEST(LinePerformance, RetrainDuringSilenceMovesUpSince) {
    CPassIntervals passes;
    passes.Add(Reads({0, true, kUp, 0, 10, 0, 0, 0, 0}));
    // A partial pass read the counter moved, but it was not answered as a whole.
    passes.Add(Reads({5000, false, std::nullopt, std::nullopt, 11, std::nullopt, std::nullopt, std::nullopt,
                      std::nullopt}));
    EXPECT_EQ(passes.UpSinceWallMs(), kWall);
    passes.Add(Reads({10000, true, kUp, 0, 11, 0, 0, 0, 0}));
    EXPECT_EQ(passes.UpSinceWallMs(), kWall + 10000);
}

// ---- Bins ----

DecidedInterval EndingAt(std::int64_t endWallMs, IntervalClass value = IntervalClass::kGood) {
    DecidedInterval d;
    d.input.lengthMs = 5000;
    d.input.endWallMs = endWallMs;
    d.value = value;
    return d;
}

TEST(LinePerformance, QuarterHourBinsRollOver) {
    constexpr std::int64_t kMin = 60 * 1000;
    CIntervalBins bins(CIntervalBins::kQuarterHourMs);
    EXPECT_FALSE(bins.Current());
    bins.Add(EndingAt(kWall + 14 * kMin + 55000));
    bins.Add(EndingAt(kWall + 15 * kMin)); // ends on the boundary: wholly before it
    ASSERT_TRUE(bins.Current());
    EXPECT_EQ(bins.Current()->startWallMs, kWall);
    EXPECT_EQ(bins.Current()->figures.available, (IntervalTally{2, 10000}));
    EXPECT_FALSE(bins.Previous());
    bins.Add(EndingAt(kWall + 15 * kMin + 1));
    EXPECT_EQ(bins.Current()->startWallMs, kWall + 15 * kMin);
    EXPECT_EQ(bins.Current()->figures.available.intervals, 1u);
    EXPECT_EQ(bins.Previous()->startWallMs, kWall);
    EXPECT_EQ(bins.Previous()->figures.available.intervals, 2u);
    // Decided late: goes to the previous bin, or beyond it to Missed().
    bins.Add(EndingAt(kWall + 10 * kMin, IntervalClass::kUnavailable));
    EXPECT_EQ(bins.Previous()->figures.unavailable.intervals, 1u);
    // A quarter without intervals: the previous bin is empty.
    bins.AdvanceTo(kWall + 45 * kMin + 5000);
    EXPECT_EQ(bins.Current()->startWallMs, kWall + 45 * kMin);
    EXPECT_EQ(bins.Previous()->startWallMs, kWall + 30 * kMin);
    EXPECT_EQ(bins.Previous()->figures, IntervalFigures{});
    bins.Add(EndingAt(kWall + 20 * kMin));
    EXPECT_EQ(bins.Missed().available.intervals, 1u);
    // The clock going back never moves the bins back.
    bins.AdvanceTo(kWall);
    EXPECT_EQ(bins.Current()->startWallMs, kWall + 45 * kMin);
}

TEST(LinePerformance, DayBinsAlignOnUtcMidnight) {
    CIntervalBins day(CIntervalBins::kDayMs);
    day.Add(EndingAt(kWall)); // 10:00 UTC
    EXPECT_EQ(day.Current()->startWallMs, kWall - 10 * 3600 * 1000);
}

// A severely errored run that becomes unavailable after its bin rolled over: the settled counts move
// into the bins of their own end times, the provisional view shows them before.
TEST(LinePerformance, PendingIntervalsSettleIntoTheirBins) {
    CLinePerformance perf;
    std::uint32_t linkFail = 0;
    std::int64_t ms = 14 * 60 * 1000; // passes every minute from 10:14
    perf.Add(Reads({ms, true, kUp, 0, linkFail, 0, 0, 0, 10}));
    for (int i = 0; i < 9; ++i) {
        ms += 60000;
        const CLinePerformance::Added added = perf.Add(Reads({ms, true, kUp, 0, ++linkFail, 0, 0, 0, 10}));
        EXPECT_EQ(added.provisional, IntervalClass::kSeverelyErrored);
        EXPECT_TRUE(added.decided.empty());
    }
    EXPECT_EQ(perf.Settled().quarter.Current()->startWallMs, kWall + 15 * 60 * 1000);
    EXPECT_EQ(perf.Settled().quarter.Previous()->figures, IntervalFigures{});
    EXPECT_EQ(perf.Provisional().quarter.Previous()->figures.severelyErrored.intervals, 1u);
    EXPECT_EQ(perf.Provisional().quarter.Current()->figures.severelyErrored.intervals, 8u);
    ms += 60000;
    const CLinePerformance::Added added = perf.Add(Reads({ms, true, kUp, 0, ++linkFail, 0, 0, 0, 10}));
    EXPECT_EQ(added.decided.size(), 10u);
    EXPECT_EQ(perf.Settled().quarter.Previous()->figures.unavailable.intervals, 1u);
    EXPECT_EQ(perf.Settled().quarter.Current()->figures.unavailable.intervals, 9u);
    EXPECT_EQ(perf.Settled().total.unavailable, (IntervalTally{10, 600000}));
    EXPECT_EQ(perf.Settled().day.Current()->figures.unavailable.intervals, 10u);
}

// The same passes give the same classes pass by pass (once settled) as a whole history.
TEST(LinePerformance, HistoryGivesTheClassOfEachPass) {
    std::vector<PassReads> passes;
    const Pass table[] = {
        {0, true, kUp, 0, 5, 0, 0, 0, 100},       // first: none
        {5000, true, kUp, 0, 5, 3, 0, 0, 100},    // fec
        {10000, true, kUp, 0, 5, 0, 1, 0, 1000},  // errored: 1 in 1000
        {15000, true, kUp, 0, 5, 0, 10, 0, 1000}, // severely errored: 10 in 1000
        {20000, false, std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt,
         std::nullopt},                        // unmeasured
        {25000, true, 0, 0, 6, 0, 0, 0, 0},    // unmeasured: after a lost read
        {30000, true, 0, 0, 6, 0, 0, 0, 0},    // unavailable: down
        {35000, true, kUp, 0, 6, 0, 0, 0, 50}, // severely errored: came up
        {40000, true, kUp, 0, 6, 0, 0, 0, 50}, // good
    };
    for (const Pass& p : table)
        passes.push_back(Reads(p));
    const ClassifiedHistory history = ClassifyHistory(passes);
    std::string classes;
    for (const std::optional<IntervalClass>& c : history.classes)
        classes += c ? Letter(*c) : '-';
    EXPECT_EQ(classes, "-fesmmusg");
    EXPECT_EQ(history.figures.unmeasured.intervals, 2u);
    CLinePerformance perf;
    for (const PassReads& p : passes)
        perf.Add(p);
    EXPECT_EQ(perf.Settled().total, history.figures);
}

} // namespace
} // namespace tessor
