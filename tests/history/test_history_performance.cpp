// The line performance of the Line History: the passes of the two pages classified by the model, the
// bins its window shows, the marks under its time axes and the interval class of each row it records.
#include "history/HistoryGraph.h"
#include "history/HistoryWindow.h"
#include "history/LineHistory.h"
#include "recorder/RecordingFile.h"

#include <QFile>
#include <QTableWidget>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>

namespace tessor::test {
namespace {

enum Eth { kNone, kFirst, kCounted, kSplit }; // kSplit: the errors in one read, the frames in two
struct Step {
    bool answered, up;
    int linkFail, rs;
    Eth eth;           // read by the Ethernet page before the PHY pass
    std::uint32_t fcs; // of 1000 frames
};

constexpr std::int64_t kBase = 1796000LL * 15 * 60 * 1000 - 42000; // steps 0..8 end in the quarter before

std::vector<Step> Steps() {
    std::vector<Step> s{
        {true, true, 3, 0, kNone, 0},     {true, true, 3, 0, kFirst, 5},   // not counted: time unknown
        {true, true, 3, 0, kCounted, 0},  {true, true, 3, 0, kSplit, 3},   // good, errored
        {true, true, 3, 0, kCounted, 10}, {true, true, 3, 7, kCounted, 0}, // 1 %: severely errored, FEC
        {false, true, 3, 0, kNone, 0},    {true, true, 3, 0, kNone, 0},    // unmeasured twice
        {true, true, 4, 0, kNone, 0}}; // a retrain: the first of the unavailable run
    s.insert(s.end(), 12, {true, false, 4, 0, kNone, 0});
    s.insert(s.end(), 10, {true, true, 5, 0, kNone, 0});    // a retrain, still unavailable; then 9 good
    s.push_back({true, true, 5, 0, kFirst, 0});             // the tenth good one ends the period
    s.insert(s.end(), 3, {true, true, 5, 0, kCounted, 50}); // pending at the end
    return s;
}

ops::PhyPass Phy(const Step& s) {
    ops::PhyReadResults raw;
    ops::PhyReadResults* r = &raw;
    const std::array<RegResult*, 6> regs{&r->errorValue, &r->txLevel,   &r->rsCorrected,
                                         &r->linkStatus, &r->lineFlags, &r->linkFailCount};
    const std::array<int, 6> values{2000000, 1024, s.rs, s.up ? 0xAE : 0x2E, 0x06, s.linkFail};
    for (std::size_t i = 0; i < regs.size(); ++i)
        *regs[i] = s.answered ? RegResult::Answer(values[i]) : RegResult::Fail(Outcome::NoAnswer);
    return ops::DecidePhyPass(raw, true, ops::PhyReferencesFor(0));
}

void Eth(CLineHistory& history, std::uint32_t fcs, std::uint32_t frames) {
    std::array<RegResult, kCounterDefCount> reads;
    reads.fill(RegResult::Answer(0));
    reads[kCounterFrameCheckSequenceErrors] = RegResult::Answer(fcs);
    reads[kCounterRxFrames] = RegResult::Answer(frames);
    history.OnEthPass(reads, {});
}

// Feeds the steps to the Line History as the pages report them; gives the same passes as the model
// takes them (each with the counts that cover a known time).
std::vector<PassReads> Feed(CLineHistory& history, const std::vector<Step>& steps) {
    rec::SampleTime now;
    history.SetClock([&now] { return now; });
    std::vector<PassReads> passes;
    for (std::size_t i = 0; i < steps.size(); ++i) {
        const Step& s = steps[i];
        const std::int64_t t = static_cast<std::int64_t>(i) * 5000;
        now = {kBase + t - 3000, t - 3000};
        if (s.eth == kSplit)
            Eth(history, s.fcs, 500);
        now = {kBase + t - 1000, t - 1000};
        if (s.eth != kNone)
            Eth(history, s.eth == kSplit ? 0 : s.fcs, s.eth == kSplit ? 500 : 1000);
        now = {kBase + t, t};
        const ops::PhyPass pass = Phy(s);
        history.OnPhyPass(pass);
        PassReads p{t, kBase + t, s.answered, rec::MakePhySample(now, pass).values, {}};
        if (s.eth == kCounted || s.eth == kSplit) {
            p.ethernet.fill(0);
            p.ethernet[kCounterFrameCheckSequenceErrors] = s.fcs;
            p.ethernet[kCounterRxFrames] = 1000;
        }
        passes.push_back(p);
    }
    history.SetClock(rec::Now);
    return passes;
}

std::vector<std::optional<IntervalClass>> Recorded(const QString& path) {
    rec::LineStore store;
    std::string error;
    EXPECT_TRUE(rec::ReadRecording(path.toStdString(), &store, &error)) << error;
    std::vector<std::optional<IntervalClass>> classes;
    for (std::size_t i = 0; i < store.phy.size(); ++i)
        classes.push_back(store.phy[i].intervalClass);
    return classes;
}

// Each figure's intervals and seconds in its row, a column per bin; an empty column for no bin.
void ExpectTableShows(const QTableWidget& table, const CLinePerformance::View& v) {
    const std::array bins{&v.quarter.Current(), &v.quarter.Previous(), &v.day.Current(), &v.day.Previous()};
    for (int r = 1; r < table.rowCount(); ++r) {
        for (int c = 0; c < 4; ++c) {
            const auto& bin = *bins[static_cast<std::size_t>(c)];
            const auto* t =
                bin ? &(bin->figures.*kIntervalFigures[static_cast<std::size_t>(r - 1)].tally) : nullptr;
            const QString want =
                t ? QStringLiteral("%1 (%2 s)").arg(t->intervals).arg(std::llround(t->Seconds())) : QString();
            EXPECT_EQ(table.item(r, c)->text(), want) << "row " << r << ", column " << c;
        }
    }
}

TEST(HistoryPerformance, PassesOfBothPagesGiveTheModelsFiguresBinsMarksAndRecordedClasses) {
    const std::vector<Step> steps = Steps();
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("line.csv"));
    CLineHistory history(nullptr);
    std::string error;
    ASSERT_TRUE(history.Recorder()->StartRecording(path.toStdString(), &error)) << error;
    const std::vector<PassReads> passes = Feed(history, steps);
    CLinePerformance model;
    for (const PassReads& p : passes)
        model.Add(p);
    const CLinePerformance::View expected = model.Provisional();
    EXPECT_EQ(history.Performance().total, expected.total);
    // Counted by hand: 34 intervals of 5 s.
    const IntervalFigures& t = expected.total;
    EXPECT_EQ(t.errored, (IntervalTally{5, 25000}));
    EXPECT_EQ(t.severelyErrored, (IntervalTally{4, 20000}));
    EXPECT_EQ(t.fec, (IntervalTally{1, 5000}));
    EXPECT_EQ(t.unavailable, (IntervalTally{14, 70000}));
    EXPECT_EQ(t.unmeasured, (IntervalTally{2, 10000}));

    // The three pending rows wait for their class; stopping writes them as they stand.
    EXPECT_EQ(Recorded(path).size(), steps.size() - 3);
    history.Recorder()->StopRecording();
    const std::vector<std::optional<IntervalClass>> recorded = Recorded(path);
    EXPECT_EQ(recorded, ClassifyHistory(passes).classes);
    EXPECT_EQ(recorded[8], IntervalClass::kUnavailable);

    CHistoryWindow window(history.Recorder());
    window.SetLivePerformance([&history] { return history.Performance(); });
    window.Refresh(true);
    ASSERT_TRUE(expected.quarter.Previous() && !expected.day.Previous()); // no day before: left empty
    ExpectTableShows(*window.PerformanceTable(), expected);
    EXPECT_EQ(window.PerformanceTable()->item(3, 1)->text(),
              QStringLiteral("1 (5 s)")); // unavailable, by hand
    const auto at = [](std::int64_t step) { return kBase + step * 5000; };
    const std::vector<IntervalMark> marks{{at(2), at(3), IntervalClass::kErrored},
                                          {at(3), at(4), IntervalClass::kSeverelyErrored},
                                          {at(7), at(21), IntervalClass::kUnavailable},
                                          {at(31), at(34), IntervalClass::kSeverelyErrored}};
    for (const CHistoryGraph* graph : window.Graphs())
        EXPECT_EQ(graph->IntervalMarks(), marks);

    // The recording opened, its passes classified anew; and without the classes (an earlier version).
    ASSERT_TRUE(window.OpenRecording(path));
    ExpectTableShows(*window.PerformanceTable(), expected);
    EXPECT_EQ(window.Graphs().front()->IntervalMarks(), marks);
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    QByteArray text = file.readAll();
    for (const IntervalClassDef& d : kIntervalClasses)
        text.replace(QByteArray(",") + d.name + "\n", ",\n");
    file.resize(0);
    file.write(text);
    file.close();
    ASSERT_TRUE(window.OpenRecording(path));
    EXPECT_EQ(window.Graphs().front()->IntervalMarks(), marks);
}

} // namespace
} // namespace tessor::test
