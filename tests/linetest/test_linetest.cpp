// The line test's run loop, criteria and report against a scripted board, the configuration check, and the
// exit codes of both.
#include "cli/CliCommands.h"
#include "linetest/ConfigCompare.h"
#include "linetest/Figures.h"
#include "linetest/LineTest.h"
#include "linetest/LineTestReport.h"
#include "ops/ScriptedBus.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace tessor::linetest {
namespace {

// A board whose PHY passes come from a script; every other read answers with fixed values.
class ScriptedBoard : public ILineTestBoard {
public:
    std::function<PhyRead(int pass)> phy;
    Outcome sideOutcome = Outcome::Answered;
    bool lineUp = true;
    int phyPasses = 0;
    std::vector<int> identificationTargets;

    SideRead ReadSide() override {
        SideRead s;
        s.outcome = sideOutcome;
        s.side = kSideLT;
        s.references = ops::PhyReferences{9180, 6920};
        return s;
    }
    std::optional<bool> LineUp() override { return lost ? std::nullopt : std::optional<bool>(lineUp); }
    IdentificationRead ReadIdentification(int target) override {
        identificationTargets.push_back(target);
        if (static_cast<int>(identificationTargets.size()) == silentInIdentification)
            lost = true;
        IdentificationRead r;
        r.outcome = lost ? Outcome::NoAnswer : Outcome::Answered;
        r.id.id72 = 0x61;
        return r;
    }
    LinkSettingsRead ReadLinkSettings(std::int32_t, bool) override {
        LinkSettingsRead r;
        r.outcome = lost ? Outcome::NoAnswer : Outcome::Answered;
        return r;
    }
    // The script gives the reads; the pass rule decides the pass, as the board behind a bus does.
    PhyRead RunPhyPass() override {
        PhyRead r = phy(phyPasses++);
        r.pass = ops::DecidePhyPass(r.pass.raw, true, ReadSide().references);
        return r;
    }
    EthernetRead RunEthernetPass() override {
        EthernetRead r;
        if (++ethernetPasses == silentInEthernetPass) {
            lost = true;
            r.outcome = Outcome::NoAnswer;
            return r;
        }
        r.outcome = Outcome::Answered;
        r.pass.complete = true;
        r.pass.countersRead = kCounterDefCount;
        r.pass.raw.fill(RegResult::Answer(0));
        if (ethernetPasses == garbledEthernetPass) {
            r.outcome = Outcome::Garbled;
            r.pass.raw[5] = RegResult::Fail(Outcome::Garbled);
        }
        r.pass.raw[0] = RegResult::Answer(500); // transmitted frames: 500 a pass (the page shows 100)
        r.pass.increments[0] = 100;
        return r;
    }
    bool Lost() const override { return lost; }
    bool lost = false;
    int ethernetPasses = 0;
    int garbledEthernetPass = 0;    // 1 for the first
    int silentInEthernetPass = 0;   // the board falls silent in this pass's Ethernet reads
    int silentInIdentification = 0; // ... or in this identification read (1: the first before the passes)
};

// An up line with the given error value (mean square error register) and corrected error count.
PhyRead UpPass(std::int64_t errorValue, std::int64_t rs) {
    PhyRead r;
    r.outcome = Outcome::Answered;
    r.pass.raw.errorValue = RegResult::Answer(errorValue);
    r.pass.raw.txLevel = RegResult::Answer(576);
    r.pass.raw.rsCorrected = RegResult::Answer(rs);
    r.pass.raw.linkStatus = RegResult::Answer(0xAE);
    r.pass.raw.lineFlags = RegResult::Answer(0x06);
    r.pass.raw.linkFailCount = RegResult::Answer(3);
    return r;
}

LineTestOptions Fast(int passes) {
    LineTestOptions o;
    o.interval = std::chrono::milliseconds(20);
    o.duration = o.interval * (passes - 1);
    o.criteria.maxRsPerSecond = 1e9; // passes 20 ms apart make any count a high rate
    return o;
}

const CriterionResult& Find(const LineTestResult& r, CriterionId id) {
    for (const CriterionResult& c : r.criteria) {
        if (c.id == id)
            return c;
    }
    throw std::runtime_error("criterion missing");
}

TEST(LineTestRun, CleanLinePassesAndTheFirstCountIsOnlyTheStart) {
    ScriptedBoard board;
    // 10^5: SNR 91,80 - 50,00 = 41,80 dB.
    board.phy = [](int pass) { return UpPass(100000, pass == 0 ? 100000 : 50); };
    const LineTestResult r = CLineTest(board, Fast(5)).Run();
    for (const CriterionResult& c : r.criteria)
        EXPECT_TRUE(c.passed) << CriterionName(c.id) << ": " << c.measured;
    EXPECT_EQ(r.verdict, Verdict::Passed);
    EXPECT_EQ(r.passes, 7);                     // the reads before and after are passes too
    EXPECT_EQ(r.rsTotal, 4u * 50u);             // the 100000 accumulated before the test are not the line's
    EXPECT_EQ(r.ethernet.totals[0], 4u * 500u); // raw counts, not the page's fifths
    EXPECT_GT(r.ethernetSeconds, 0.05);
    EXPECT_EQ(r.snrCenti.count, 5u);
    EXPECT_DOUBLE_EQ(r.snrCenti.min, 4180);
    EXPECT_EQ(r.intervals.classes[static_cast<std::size_t>(IntervalClass::kFec)], 4u); // 50 corrected a pass
    EXPECT_EQ(r.intervals.available.intervals, 4u);
    ASSERT_TRUE(r.linkFailChange);
    EXPECT_EQ(*r.linkFailChange, 0);
    // Before and after: local and remote identification each.
    EXPECT_EQ(board.identificationTargets, (std::vector<int>{1, 2, 1, 2}));
}

// A garbled Ethernet pass is a row with a gap, and no count starts from it: the third pass starts again.
TEST(LineTestRun, AGarbledEthernetPassIsAGapAndStartsNoCount) {
    ScriptedBoard board;
    board.garbledEthernetPass = 2;
    board.phy = [](int) { return UpPass(100000, 0); };
    const LineTestResult r = CLineTest(board, Fast(5)).Run();
    EXPECT_EQ(r.ethernet.totals[0], 2u * 500u); // the fourth and fifth passes
    r.recording->Read([](const rec::LineStore& store) {
        ASSERT_EQ(store.eth.size(), 5u);
        EXPECT_TRUE(store.eth[1].answered);
        EXPECT_EQ(store.eth[1].failedReads, 1u << 5);
    });
}

TEST(LineTestRun, BreachesFailWithTheTimeOfTheFirst) {
    ScriptedBoard board;
    board.phy = [](int pass) {
        PhyRead r = UpPass(pass >= 2 ? 100000000 : 100000, 0); // 41,80 dB, then 11,80 dB from the third pass
        if (pass == 3) {
            r.pass.raw.linkStatus = RegResult::Answer(0x02); // down
            r.pass.raw.linkFailCount = RegResult::Answer(4);
        }
        return r;
    };
    const LineTestResult r = CLineTest(board, Fast(5)).Run();
    EXPECT_EQ(r.verdict, Verdict::Failed);
    const CriterionResult& snr = Find(r, CriterionId::MinSnr);
    EXPECT_FALSE(snr.passed);
    ASSERT_TRUE(snr.firstBreach);
    std::vector<rec::PhySample> samples;
    r.recording->Read([&](const rec::LineStore& s) {
        for (std::size_t i = 0; i < s.phy.size(); ++i)
            samples.push_back(s.phy[i]);
    });
    ASSERT_EQ(samples.size(), 5u);
    EXPECT_EQ(snr.firstBreach->monoMs, samples[2].time.monoMs);
    const CriterionResult& drop = Find(r, CriterionId::NoLineDrop);
    EXPECT_FALSE(drop.passed);
    ASSERT_TRUE(drop.firstBreach);
    EXPECT_EQ(drop.firstBreach->monoMs, samples[3].time.monoMs);
    EXPECT_FALSE(Find(r, CriterionId::LinkFailUnchanged).passed);
    EXPECT_TRUE(Find(r, CriterionId::Answered).passed);
}

TEST(LineTestRun, ABoardThatNeverAnsweredIsNeverAPass) {
    ScriptedBoard board;
    board.sideOutcome = Outcome::NoAnswer;
    board.phy = [](int) { return UpPass(338844, 0); };
    const LineTestResult r = CLineTest(board, Fast(3)).Run();
    EXPECT_EQ(r.verdict, Verdict::NotRun);
    EXPECT_EQ(board.phyPasses, 0);
    EXPECT_FALSE(r.notRunReason.empty());
}

TEST(LineTestRun, AnUnansweredPassFailsAndTheLostBoardEndsTheTest) {
    // The board falls silent in the third pass: in its PHY reads, or after them in its Ethernet reads.
    for (const bool inEthernet : {false, true}) {
        SCOPED_TRACE(inEthernet ? "silent in the Ethernet reads" : "silent in the PHY reads");
        ScriptedBoard board;
        board.silentInEthernetPass = inEthernet ? 3 : 0;
        board.phy = [&board, inEthernet](int pass) {
            if (pass < 2 || inEthernet)
                return UpPass(338844, 0);
            board.lost = true;
            PhyRead r;
            r.outcome = Outcome::NoAnswer;
            return r;
        };
        const LineTestResult r = CLineTest(board, Fast(10)).Run();
        EXPECT_EQ(r.verdict, Verdict::Failed);
        EXPECT_TRUE(r.boardLost);
        EXPECT_EQ(r.passes, 4); // the reads before, three passes; nothing read after
        EXPECT_EQ(r.unansweredPasses, 1);
        EXPECT_FALSE(Find(r, CriterionId::Answered).passed);
        EXPECT_FALSE(r.after.made);
    }
}

TEST(LineTestRun, SilentInTheReadsAfterThePassesIsAPassWithoutAnAnswer) {
    ScriptedBoard board;
    board.silentInIdentification = 3; // before: local, remote; after: local
    board.phy = [](int) { return UpPass(100000, 0); };
    const LineTestResult r = CLineTest(board, Fast(3)).Run();
    EXPECT_EQ(r.verdict, Verdict::Failed);
    EXPECT_EQ(r.passes, 5);
    EXPECT_EQ(r.unansweredPasses, 1);
    EXPECT_TRUE(r.boardLost);
    EXPECT_TRUE(r.after.made);
    EXPECT_EQ(r.after.local.outcome, Outcome::NoAnswer);
    const CriterionResult& answered = Find(r, CriterionId::Answered);
    EXPECT_FALSE(answered.passed);
    ASSERT_TRUE(answered.firstBreach);
    EXPECT_EQ(answered.firstBreach->monoMs, r.after.time.monoMs);
    EXPECT_EQ(answered.measured, "4 of 5 passes answered, then the board was lost");
}

// The board seam keeps the link's outcome of a failed read; the ones that lose the board end the test.
TEST(LineTestBoard, AFailedReadKeepsTheLinksOutcome) {
    struct Case {
        Outcome outcome;
        bool lost;
        const char* text;
    };
    const Case cases[] = {
        {Outcome::NoAnswer, true, "no answer"},
        {Outcome::Cancelled, true, "cancelled"},
        {Outcome::DeviceFailed, true, "device failed or gone"},
        {Outcome::Garbled, false, "garbled reply"},
        {Outcome::MailboxIncomplete, false, "mailbox did not complete"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(OutcomeName(c.outcome));
        opstest::CScriptedBus bus;
        bus.fail = opstest::FailAt(1, c.outcome); // the second read of the identification
        COpsLineTestBoard board(bus);
        const IdentificationRead read = board.ReadIdentification(kLocal);
        EXPECT_EQ(read.outcome, c.outcome);
        EXPECT_EQ(board.Lost(), c.lost);
        EXPECT_STREQ(OutcomeText(read.outcome), c.text);
    }
}

TEST(LineTestRun, EthernetErrorsAreJudgedOnRawCounts) {
    // Every read of the two watched error counters answers 01 00 00 00; received frames 7 a read.
    opstest::CScriptedBus bus;
    bus.regs["8D04"] = 1; // frame check sequence errors
    bus.regs["8CF8"] = 1; // receive errors
    bus.regs["8D20"] = 7; // received frames
    COpsLineTestBoard board(bus);
    const LineTestResult r = CLineTest(board, Fast(4)).Run();
    // Four reads of each: the first only starts the count (the counters clear when read).
    ASSERT_EQ(std::count(bus.lines.begin(), bus.lines.end(), "RD 8D04,4"), 4);
    EXPECT_EQ(r.ethernet.totals[14], 3u);
    EXPECT_EQ(r.ethernet.totals[11], 3u);
    EXPECT_EQ(r.ethernet.totals[1], 21u);
    const CriterionResult& eth = Find(r, CriterionId::NoEthernetErrors);
    EXPECT_FALSE(eth.passed);
    EXPECT_EQ(eth.measured, "3 FCS, 3 receive errors");
    ASSERT_TRUE(eth.firstBreach);
    EXPECT_EQ(r.verdict, Verdict::Failed);
}

// A result judged from PHY passes one second apart: link fail counter, 8C71, 8C98 and the error value of
// each; none for a register that did not answer.
struct PhyRow {
    std::optional<std::int64_t> linkFail;
    std::optional<std::int64_t> status = 0xC0; // line up
    std::int64_t flags = 0x06;
    std::optional<std::int64_t> errorValue = 100000; // SNR 41,80 dB
    std::uint32_t fcsErrors = 0;                     // the Ethernet pass after it: FCS errors of 1000 frames
};

std::optional<std::uint32_t> Reg(const std::optional<std::int64_t>& value) {
    return value ? std::optional<std::uint32_t>(static_cast<std::uint32_t>(*value)) : std::nullopt;
}

// The passes recorded, not yet judged.
LineTestResult Recorded(const std::vector<PhyRow>& rows, std::vector<RsCount> rs = {},
                        Criteria criteria = {}) {
    LineTestResult r;
    r.options.criteria = criteria;
    r.recording = std::make_shared<rec::CLineRecorder>(1000);
    r.start = {1000, 1000};
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const PhyRegisters raw{Reg(rows[i].errorValue), 576u, 0u, Reg(rows[i].status), Reg(rows[i].flags),
                               Reg(rows[i].linkFail)};
        const auto t = static_cast<std::int64_t>(1000 * (i + 1));
        const PhyValues values = DecodePhy(raw, LineReferences{9180, 6920});
        r.recording->AddPhy(rec::MakePhySample({t, t}, values, true));
        PassReads reads;
        reads.monoMs = reads.wallMs = t;
        reads.answered = true;
        reads.phy = values;
        reads.ethernet.fill(0u);
        reads.ethernet[kCounterRxFrames] = 1000;
        reads.ethernet[kCounterFrameCheckSequenceErrors] = rows[i].fcsErrors;
        r.passReads.push_back(reads);
    }
    r.passes = static_cast<int>(rows.size());
    r.rsCounts = std::move(rs);
    return r;
}

LineTestResult Judged(const std::vector<PhyRow>& rows, std::vector<RsCount> rs = {}, Criteria criteria = {}) {
    LineTestResult r = Recorded(rows, std::move(rs), criteria);
    Evaluate(&r);
    return r;
}

// Ethernet passes one second apart with no errors: the first only starts the count.
void AddEthernetPasses(LineTestResult* r, int passes) {
    for (int i = 0; i < passes; ++i) {
        rec::EthSample s;
        s.time = {1000 * (i + 1), 1000 * (i + 1)};
        s.answered = true;
        r->recording->AddEth(s);
    }
    r->ethernetSeconds = passes > 1 ? passes - 1 : 0;
}

// A criterion that could not be measured fails a finished test, but a stopped one is only unfinished.
TEST(LineTestCriteria, WhatWasNotMeasuredNeverPasses) {
    const std::vector<PhyRow> clean{{3}, {3}, {3}};
    const std::vector<RsCount> rs{{{2000, 2000}, 5, 1.0}, {{3000, 3000}, 5, 1.0}};
    struct Case {
        const char* name;
        std::vector<PhyRow> rows;
        std::vector<RsCount> rs;
        int ethernetPasses;
        std::optional<CriterionId> unmeasured; // none: everything was measured
    };
    const std::vector<Case> cases{
        {"everything measured", clean, rs, 3, std::nullopt},
        {"no SNR value", {{3, 0xC0, 6, {}}, {3, 0xC0, 6, {}}}, rs, 3, CriterionId::MinSnr},
        {"the line state never seen", {{3, {}}, {3, {}}}, rs, 3, CriterionId::NoLineDrop},
        {"the link fail counter never answered", {{{}}, {{}}, {{}}}, rs, 3, CriterionId::LinkFailUnchanged},
        {"no corrected error count", clean, {}, 3, CriterionId::RsPerSecond},
        {"a single Ethernet pass", clean, rs, 1, CriterionId::NoEthernetErrors},
        {"no Ethernet pass", clean, rs, 0, CriterionId::NoEthernetErrors},
    };
    for (const Case& c : cases) {
        for (const bool stopped : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (stopped ? ", stopped" : ""));
            LineTestResult r = Recorded(c.rows, c.rs);
            AddEthernetPasses(&r, c.ethernetPasses);
            r.stopped = stopped;
            Evaluate(&r);
            for (const CriterionResult& k : r.criteria) {
                const bool unmeasured = c.unmeasured == k.id;
                EXPECT_EQ(k.passed, !unmeasured) << CriterionName(k.id) << ": " << k.measured;
                if (unmeasured) {
                    EXPECT_EQ(k.measured, "unknown");
                    EXPECT_FALSE(k.firstBreach);
                }
            }
            const Verdict finished = c.unmeasured ? Verdict::Failed : Verdict::Passed;
            EXPECT_EQ(r.verdict, stopped ? Verdict::Stopped : finished);
        }
    }
}

TEST(LineTestCriteria, SnrAtTheLimitPassesAndAHundredthBelowFails) {
    struct Case {
        std::int32_t minSnrCenti;
        bool passed;
    };
    for (const Case& c : {Case{4180, true}, Case{4181, false}}) { // the passes measure 41,80 dB
        SCOPED_TRACE(c.minSnrCenti);
        Criteria k;
        k.minSnrCenti = c.minSnrCenti;
        const LineTestResult r = Judged({{3}, {3}}, {}, k);
        const CriterionResult& snr = Find(r, CriterionId::MinSnr);
        EXPECT_EQ(snr.passed, c.passed) << snr.measured;
        EXPECT_EQ(snr.firstBreach ? snr.firstBreach->monoMs : 0, c.passed ? 0 : 1000);
    }
}

// A drop is a pass that finds the line down after it was up, or at the first read.
TEST(LineTestCriteria, EveryDropCountsTheFirstReadToo) {
    struct Case {
        const char* name;
        std::optional<bool> upBefore; // the reads before the passes; none: not made
        std::vector<PhyRow> rows;
        std::size_t drops;
        std::int64_t breachMs; // 0: none
    };
    const std::vector<Case> cases{
        {"up throughout", true, {{3}, {3}}, 0, 0},
        {"down at the reads before", false, {{3}, {3}}, 1, 500},
        {"down at the first pass", std::nullopt, {{3, 0x02}, {3}}, 1, 1000},
        {"down twice", true, {{3}, {3, 0x02}, {3, 0x02}, {3}, {3, 0x02}}, 2, 2000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LineTestResult r = Recorded(c.rows);
        if (c.upBefore) {
            r.before.made = true;
            r.before.time = {500, 500};
            r.before.lineUp = c.upBefore;
            ++r.passes;
        }
        Evaluate(&r);
        const CriterionResult& drop = Find(r, CriterionId::NoLineDrop);
        EXPECT_EQ(r.drops.size(), c.drops);
        EXPECT_EQ(drop.passed, c.drops == 0);
        EXPECT_EQ(drop.firstBreach ? drop.firstBreach->monoMs : 0, c.breachMs);
    }
}

TEST(LineTestCriteria, TheLinkCriterionFailsOnAnyDropItSaw) {
    struct Case {
        const char* name;
        std::vector<PhyRow> rows;
        bool passed;
        const char* measured;
        std::int64_t breachMs; // 0: none
    };
    const std::vector<Case> cases{
        {"unchanged", {{3}, {3}, {3}}, true, "3 -> 3 (+0)", 0},
        {"wrapped once", {{250}, {3}}, false, "250 -> 3 (+9)", 2000},
        {"a whole wrap between the ends", {{255}, {10}, {255}}, false, "255 -> 255 (+256)", 2000},
        {"a micro interruption",
         {{3}, {3, 0xC0, 0x86}, {3}},
         false,
         "3 -> 3 (+0), 1 micro interruption",
         2000},
        {"the line seen down", {{3}, {3, 0x02}, {3}}, false, "3 -> 3 (+0), line down at 1 pass", 2000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const LineTestResult r = Judged(c.rows);
        const CriterionResult& fail = Find(r, CriterionId::LinkFailUnchanged);
        EXPECT_EQ(fail.passed, c.passed);
        EXPECT_EQ(fail.measured, c.measured);
        EXPECT_EQ(fail.firstBreach ? fail.firstBreach->monoMs : 0, c.breachMs);
    }
}

TEST(LineTestCriteria, RsMeanAtTheLimitPassesAndAboveItFails) {
    Criteria k;
    k.maxRsPerSecond = 10;
    EXPECT_TRUE(Find(Judged({{3}, {3}}, {{{2000, 2000}, 50, 5.0}}, k), CriterionId::RsPerSecond).passed);
    EXPECT_FALSE(Find(Judged({{3}, {3}}, {{{2000, 2000}, 51, 5.0}}, k), CriterionId::RsPerSecond).passed);
}

// The interval criteria on passes one second apart, each interval as the model classes it.
TEST(LineTestCriteria, IntervalsJudgedByTheirClass) {
    const PhyRow up{3}, fcs{3, 0xC0, 6, 100000, 1}, retrain{4}, down{3, 0x02};
    struct Case {
        const char* name;
        std::vector<PhyRow> rows;
        double maxEsrPercent;
        const char* unavailable; // each criterion's measured text; passed: no breach
        const char* esr;
        const char* sesr;
        std::array<std::int64_t, 3> breachMs; // 0: passed without a breach; -1: failed, unknown
    };
    const std::vector<Case> cases{
        {"clean",
         {up, up, up},
         1,
         "0 of 2 measured intervals unavailable",
         "0.00 % (0 of 2 intervals)",
         "0.00 % (0 of 2 intervals)",
         {0, 0, 0}},
        {"one error in ten intervals at the limit",
         {up, up, fcs, up, up, up, up, up, up, up, up},
         10,
         "0 of 10 measured intervals unavailable",
         "10.00 % (1 of 10 intervals)",
         "0.00 % (0 of 10 intervals)",
         {0, 0, 0}},
        {"one error in ten intervals above the limit",
         {up, up, fcs, up, up, up, up, up, up, up, up},
         9.99,
         "0 of 10 measured intervals unavailable",
         "10.00 % (1 of 10 intervals)",
         "0.00 % (0 of 10 intervals)",
         {0, 3000, 0}},
        {"a retrain is severely errored",
         {up, up, retrain, retrain},
         50,
         "0 of 3 measured intervals unavailable",
         "33.33 % (1 of 3 intervals)",
         "33.33 % (1 of 3 intervals)",
         {0, 0, 3000}},
        // Coming up again is a retrain.
        {"the line seen down is unavailable",
         {up, down, up, up},
         1,
         "1 of 3 measured intervals unavailable",
         "50.00 % (1 of 2 intervals)",
         "50.00 % (1 of 2 intervals)",
         {2000, 3000, 3000}},
        {"nothing measured", {up}, 1, "unknown", "unknown", "unknown", {-1, -1, -1}},
    };
    // 20 errors in 1000 frames: severely errored at the default threshold, only errored at 5 %.
    for (const auto& [ppm, severe] : {std::pair<std::uint32_t, std::uint64_t>{10000, 1}, {50000, 0}}) {
        Criteria k;
        k.intervalRules.severeErrorPpm = ppm;
        const LineTestResult r = Judged({up, {3, 0xC0, 6, 100000, 20}, up}, {}, k);
        EXPECT_EQ(r.intervals.errored.intervals, 1u) << ppm;
        EXPECT_EQ(r.intervals.severelyErrored.intervals, severe) << ppm;
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Criteria k;
        k.maxEsrPercent = c.maxEsrPercent;
        const LineTestResult r = Judged(c.rows, {}, k);
        const CriterionId ids[] = {CriterionId::NoUnavailableInterval, CriterionId::ErroredRatio,
                                   CriterionId::SeverelyErroredRatio};
        const char* measured[] = {c.unavailable, c.esr, c.sesr};
        for (std::size_t i = 0; i < 3; ++i) {
            const CriterionResult& judged = Find(r, ids[i]);
            EXPECT_EQ(judged.measured, measured[i]) << CriterionName(ids[i]);
            EXPECT_EQ(judged.passed, c.breachMs[i] == 0) << CriterionName(ids[i]);
            EXPECT_EQ(judged.firstBreach    ? judged.firstBreach->monoMs
                      : c.breachMs[i] == -1 ? -1
                                            : 0,
                      c.breachMs[i])
                << CriterionName(ids[i]);
        }
    }
}

TEST(LineTestFigures, HundredthsRoundHalfAway) {
    EXPECT_EQ(Centi(3650.5), "36.51");
    EXPECT_EQ(Centi(3650.49), "36.50");
    EXPECT_EQ(Centi(3650.0), "36.50");
}

// The corrected RS errors of a run, as the raw-count figures make them: the first count only starts it, a
// count not known (garbled, unanswered) starts none, and the progress shows what the result says.
TEST(LineTestRun, RsFiguresComeFromTheRawCounts) {
    ScriptedBoard board;
    board.phy = [](int pass) {
        PhyRead r = UpPass(100000, 1000 * (pass + 1));
        if (pass == 2) {
            r.pass.raw.rsCorrected = RegResult::Fail(Outcome::Garbled);
            r.outcome = Outcome::Garbled;
        } else if (pass == 4) {
            r.pass.raw.rsCorrected = RegResult::Fail(Outcome::NoAnswer);
        }
        return r;
    };
    std::vector<LineTestProgress> progress;
    const LineTestResult r = CLineTest(board, Fast(7)).Run([&](const LineTestProgress& p) {
        if (p.phase == "passes")
            progress.push_back(p);
    });
    // Counted: the second pass (from the first) and the seventh (from the sixth); the fourth and the
    // sixth follow a count not known.
    std::vector<std::uint64_t> counts;
    double seconds = 0;
    for (const RsCount& c : r.rsCounts) {
        counts.push_back(c.count);
        EXPECT_GT(c.seconds, 0.0);
        seconds += c.seconds;
    }
    EXPECT_EQ(counts, (std::vector<std::uint64_t>{2000, 7000}));
    EXPECT_EQ(r.rsTotal, 9000u);
    EXPECT_EQ(r.rsSeconds, seconds);
    ASSERT_TRUE(r.rsPerSecond);
    EXPECT_EQ(*r.rsPerSecond, 9000.0 / seconds);
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.back().rsTotal, r.rsTotal);
    EXPECT_EQ(progress.back().rsPerSecond, r.rsPerSecond);
}

// A pass with a garbled PHY reply fails the criterion that every pass was answered (its row is recorded
// with the gaps).
TEST(LineTestRun, AGarbledPassIsNoAnsweredPass) {
    ScriptedBoard board;
    board.phy = [](int pass) {
        if (pass != 2)
            return UpPass(338844, 0);
        PhyRead r;
        r.outcome = Outcome::Garbled;
        return r;
    };
    const LineTestResult r = CLineTest(board, Fast(4)).Run();
    EXPECT_EQ(r.garbledPasses, 1);
    EXPECT_EQ(r.unansweredPasses, 1);
    // Its counts are lost: neither interval it bounds is measured.
    EXPECT_EQ(r.intervals.unmeasured.intervals, 2u);
    EXPECT_EQ(r.intervals.available.intervals, 1u);
    EXPECT_FALSE(Find(r, CriterionId::Answered).passed);
    EXPECT_EQ(r.verdict, Verdict::Failed);
}

TEST(LineTestRun, StoppedIsNoPassAndTheRemoteIsNotReadWhileDown) {
    ScriptedBoard board;
    board.lineUp = false;
    board.phy = [](int) { return UpPass(338844, 0); };
    CLineTest test(board, Fast(1000));
    test.Stop();
    const LineTestResult r = test.Run();
    EXPECT_TRUE(r.stopped);
    // The read before the passes saw the line down: a stopped test fails on what it saw.
    EXPECT_EQ(r.verdict, Verdict::Failed);
    EXPECT_EQ(board.identificationTargets, (std::vector<int>{1, 1}));
    EXPECT_EQ(r.before.remote.outcome, Outcome::LineDown);
}

TEST(LineTestRun, StopFromAnotherThreadEndsTheWaitAtOnce) {
    ScriptedBoard board;
    std::atomic<int> passes{0};
    board.phy = [&passes](int) {
        ++passes;
        return UpPass(100000, 0);
    };
    LineTestOptions o = Fast(2);
    o.interval = std::chrono::milliseconds(60000); // the second pass would come after a minute
    o.duration = o.interval;
    CLineTest test(board, o);
    std::thread stopper([&] {
        while (passes.load() == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        test.Stop();
    });
    const auto start = std::chrono::steady_clock::now();
    const LineTestResult r = test.Run();
    stopper.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_TRUE(r.stopped);
    EXPECT_EQ(r.passes, 3); // the reads before, one pass, the reads after
    EXPECT_NE(r.verdict, Verdict::Passed);
    EXPECT_TRUE(r.after.made); // the modems are still read after a stop
}

TEST(LineTestRun, TheFeedGetsTheSamplesToo) {
    ScriptedBoard board;
    board.phy = [](int) { return UpPass(338844, 0); };
    auto feed = std::make_shared<rec::CLineRecorder>();
    CLineTest(board, Fast(3), feed).Run();
    std::size_t phy = 0, eth = 0;
    feed->Read([&](const rec::LineStore& s) {
        phy = s.phy.size();
        eth = s.eth.size();
    });
    EXPECT_EQ(phy, 3u);
    EXPECT_EQ(eth, 3u);
}

TEST(LineTestReport, EscapesUserTextAndKeepsEverythingInline) {
    EXPECT_EQ(EscapeHtml("<a href=\"x\">O'N & co</a>"),
              "&lt;a href=&quot;x&quot;&gt;O&#39;N &amp; co&lt;/a&gt;");
    EXPECT_EQ(EscapeHtml("bad \xC3 byte"), "bad \xEF\xBF\xBD byte");
    EXPECT_EQ(EscapeHtml("bell\x07"), "bell ");
    EXPECT_EQ(EscapeHtml("Gr\xC3\xBC\xC3\x9F"
                         "e"),
              "Gr\xC3\xBC\xC3\x9F"
              "e");

    ScriptedBoard board;
    board.phy = [](int) { return UpPass(338844, 5); };
    LineTestOptions o = Fast(3);
    o.site = "</title><script>";
    const LineTestResult r = CLineTest(board, o).Run();
    const std::string html = ReportHtml(r);
    EXPECT_EQ(html.find("<script>"), std::string::npos);
    EXPECT_NE(html.find("&lt;/title&gt;&lt;script&gt;"), std::string::npos);
    EXPECT_EQ(html.find(" src="), std::string::npos);
    EXPECT_EQ(html.find("<link"), std::string::npos);
    EXPECT_NE(html.find("data-verdict=\"passed\""), std::string::npos);
    const std::string forPdf = ReportHtml(r, ReportOptions{true});
    EXPECT_NE(forPdf.find("<img src=\"graph0.png\""), std::string::npos);
    EXPECT_EQ(forPdf.find("<svg"), std::string::npos);
}

TEST(ConfigCompare, NotAConfigurationAndDifferences) {
    EXPECT_FALSE(ParseConfiguration("shopping list").ok);
    // The load's checker decides: a register twice or none at all is not a configuration.
    EXPECT_FALSE(ParseConfiguration("LT\r\n8C40:5A\r\n8C40:5B").ok);
    EXPECT_FALSE(ParseConfiguration("NT").ok);
    std::array<std::uint8_t, kConfigRegisterCount> values{};
    for (std::size_t i = 0; i < values.size(); ++i)
        values[i] = static_cast<std::uint8_t>(i);
    const ParsedConfiguration file = ParseConfiguration(WriteConfigFile(kSideLT, values));
    ASSERT_TRUE(file.ok) << file.message;
    EXPECT_EQ(file.side, kSideLT);
    ops::SaveRead read;
    read.ok = true;
    read.values = values;
    EXPECT_TRUE(CompareConfiguration(file, read, kSideLT).Equal());
    read.values[3] = 0xEE; // 8C43
    const ConfigComparison c = CompareConfiguration(file, read, kSideNT);
    EXPECT_FALSE(c.sideMatches);
    ASSERT_EQ(c.differences.size(), 1u);
    EXPECT_EQ(c.differences[0].address, "8C43");
    EXPECT_EQ(c.differences[0].file, std::optional<std::uint8_t>(3));
    EXPECT_EQ(c.differences[0].board, std::optional<std::uint8_t>(0xEE));
}

TEST(ExitCodes, LineTestByVerdictAndReport) {
    struct Case {
        Verdict verdict;
        bool reportProblem;
        int code;
    };
    const Case cases[] = {
        {Verdict::Passed, false, cli::kExitOk},      {Verdict::Failed, false, cli::kExitDiffer},
        {Verdict::Stopped, false, cli::kExitDiffer}, {Verdict::NotRun, false, cli::kExitNoAnswer},
        {Verdict::Passed, true, cli::kExitFile},     {Verdict::NotRun, true, cli::kExitFile},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(VerdictName(c.verdict)) + (c.reportProblem ? ", report not written" : ""));
        EXPECT_EQ(cli::LineTestExitCode(c.verdict, c.reportProblem), c.code);
    }
}

TEST(ExitCodes, VerifyIsDifferentForARegisterOrTheSide) {
    struct Case {
        const char* name;
        bool sideMatches;
        std::size_t differences;
        int code;
    };
    const Case cases[] = {
        {"equal", true, 0, cli::kExitOk},
        {"a register differs", true, 1, cli::kExitDiffer},
        {"the side differs", false, 0, cli::kExitDiffer},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ConfigComparison comparison;
        comparison.sideMatches = c.sideMatches;
        comparison.differences.resize(c.differences, RegisterDifference{"8C43", 3, 0xEE});
        EXPECT_EQ(cli::VerifyExitCode(comparison), c.code);
    }
}

} // namespace
} // namespace tessor::linetest
