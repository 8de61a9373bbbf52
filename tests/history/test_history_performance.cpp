// The line performance of the Line History: the passes of the two pages classified by the model, the
// figures and bins it shows, and the interval class of each PHY row in its recording.
#include "history/HistoryGraph.h"
#include "history/HistoryWindow.h"
#include "history/LineHistory.h"
#include "recorder/RecordingFile.h"

#include <QFile>
#include <QRegularExpression>
#include <QTableWidget>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace tessor::test {
namespace {

struct EthRead {
    std::uint32_t fcs, rxErrors, frames;
    bool counted;       // covers a known time (not the page's first read)
    bool split = false; // read in two passes of the page: the errors in the first, the frames in both
};
struct Step {
    bool answered;
    bool up;
    int linkFail;
    int rs;
    std::optional<EthRead> eth; // read by the Ethernet page a second before the PHY pass
};

constexpr std::int64_t kQuarter = 15 * 60 * 1000;
constexpr std::int64_t kBase = 1796000 * kQuarter - 42000; // passes 0..8 end before a quarter boundary

std::vector<Step> Steps() {
    std::vector<Step> steps{
        {true, true, 3, 0, std::nullopt},
        {true, true, 3, 0, EthRead{5, 0, 1000, false}},      // the first read: its errors count nowhere
        {true, true, 3, 0, EthRead{0, 0, 1000, true}},       // good
        {true, true, 3, 0, EthRead{2, 1, 1000, true, true}}, // errored
        {true, true, 3, 0, EthRead{6, 4, 1000, true}},       // 1 %: severely errored
        {true, true, 3, 7, EthRead{0, 0, 1000, true}},       // FEC
        {false, true, 3, 0, std::nullopt},                   // unmeasured
        {true, true, 3, 0, std::nullopt},                    // unmeasured: the pass before was lost
        {true, true, 4, 0, std::nullopt},                    // retrain: the first of the unavailable run
    };
    for (int i = 0; i < 12; ++i)
        steps.push_back({true, false, 4, 0, std::nullopt}); // line down
    steps.push_back({true, true, 5, 0, std::nullopt});      // up again: a retrain, still unavailable
    for (int i = 0; i < 9; ++i)
        steps.push_back({true, true, 5, 0, std::nullopt}); // ten good intervals end the period
    steps.push_back({true, true, 5, 0, EthRead{0, 0, 1000, false}});
    for (int i = 0; i < 3; ++i) // severely errored at the end, pending
        steps.push_back({true, true, 5, 0, EthRead{50, 0, 1000, true}});
    return steps;
}

ops::PhyReadResults PhyResults(const Step& s) {
    ops::PhyReadResults r;
    if (!s.answered) {
        for (RegResult* reg :
             {&r.errorValue, &r.txLevel, &r.rsCorrected, &r.linkStatus, &r.lineFlags, &r.linkFailCount})
            *reg = RegResult::Fail(Outcome::NoAnswer);
        return r;
    }
    r.errorValue = RegResult::Answer(2000000);
    r.txLevel = RegResult::Answer(1024);
    r.rsCorrected = RegResult::Answer(s.rs);
    r.linkStatus = RegResult::Answer(s.up ? 0xAE : 0x2E);
    r.lineFlags = RegResult::Answer(0x06);
    r.linkFailCount = RegResult::Answer(s.linkFail);
    return r;
}

PhyValues Decoded(const ops::PhyReadResults& r) {
    return DecodePhy(ops::RegistersOf(r), ops::PhyReferencesFor(0));
}

std::array<RegResult, 15> EthResults(std::uint32_t fcs, std::uint32_t rxErrors, std::uint32_t frames) {
    std::array<RegResult, 15> reads;
    reads.fill(RegResult::Answer(0));
    reads[kCounterFrameCheckSequenceErrors] = RegResult::Answer(fcs);
    reads[kCounterReceiveErrors] = RegResult::Answer(rxErrors);
    reads[kCounterRxFrames] = RegResult::Answer(frames);
    return reads;
}

rec::SampleTime At(std::size_t step, std::int64_t offsetMs) {
    const std::int64_t mono = static_cast<std::int64_t>(step) * 5000 + offsetMs;
    return {kBase + mono, 100000 + mono};
}

// The same passes as the model takes them: each PHY pass with the counts that cover a known time.
std::vector<PassReads> ModelPasses(const std::vector<Step>& steps) {
    std::vector<PassReads> passes;
    for (std::size_t i = 0; i < steps.size(); ++i) {
        const Step& s = steps[i];
        PassReads p;
        p.monoMs = At(i, 0).monoMs;
        p.wallMs = At(i, 0).wallMs;
        p.answered = s.answered;
        p.phy = rec::MakePhySample(At(i, 0), Decoded(PhyResults(s)), s.answered).values;
        if (s.eth && s.eth->counted) {
            p.ethernet.fill(0);
            p.ethernet[kCounterFrameCheckSequenceErrors] = s.eth->fcs;
            p.ethernet[kCounterReceiveErrors] = s.eth->rxErrors;
            p.ethernet[kCounterRxFrames] = s.eth->frames;
        }
        passes.push_back(p);
    }
    return passes;
}

std::size_t PhyRowsIn(const std::string& path, std::vector<std::optional<IntervalClass>>* classes) {
    rec::LineStore store;
    std::string error;
    EXPECT_TRUE(rec::ReadRecording(path, &store, &error)) << error;
    if (classes) {
        for (std::size_t i = 0; i < store.phy.size(); ++i)
            classes->push_back(store.phy[i].intervalClass);
    }
    return store.phy.size();
}

// The passes of the steps as the two pages report them, each stamped with its own time.
void Feed(CLineHistory& history, const std::vector<Step>& steps) {
    rec::SampleTime now;
    history.SetClock([&now] { return now; });
    for (std::size_t i = 0; i < steps.size(); ++i) {
        if (const std::optional<EthRead>& e = steps[i].eth; e && e->split) {
            now = At(i, -3000);
            history.OnEthPass(EthResults(e->fcs, e->rxErrors, e->frames / 2), {});
            now = At(i, -1000);
            history.OnEthPass(EthResults(0, 0, e->frames - e->frames / 2), {});
        } else if (e) {
            now = At(i, -1000);
            history.OnEthPass(EthResults(e->fcs, e->rxErrors, e->frames), {});
        }
        now = At(i, 0);
        const ops::PhyReadResults r = PhyResults(steps[i]);
        history.OnPhyPass(r, Decoded(r));
    }
    history.SetClock(rec::Now);
}

CLinePerformance::View ModelView(const std::vector<Step>& steps) {
    CLinePerformance model;
    for (const PassReads& p : ModelPasses(steps))
        model.Add(p);
    return model.Provisional();
}

TEST(HistoryPerformance, PassesOfBothPagesGiveTheModelsFiguresAndTheirClassesInTheRecording) {
    const std::vector<Step> steps = Steps();
    QTemporaryDir dir;
    const std::string path = dir.filePath(QStringLiteral("line.csv")).toStdString();
    CLineHistory history(nullptr);
    std::string error;
    ASSERT_TRUE(history.Recorder()->StartRecording(path, &error)) << error;
    Feed(history, steps);

    const CLinePerformance::View expected = ModelView(steps);
    const CLinePerformance::View shown = history.Performance();
    EXPECT_EQ(shown.total, expected.total);
    ASSERT_TRUE(shown.quarter.Current() && shown.quarter.Previous());
    EXPECT_EQ(shown.quarter.Current()->figures, expected.quarter.Current()->figures);
    EXPECT_EQ(shown.quarter.Previous()->figures, expected.quarter.Previous()->figures);
    EXPECT_EQ(shown.day.Current()->figures, expected.day.Current()->figures);

    // Counted by hand: 34 intervals of 5 s.
    const IntervalFigures& t = shown.total;
    EXPECT_EQ(t.errored, (IntervalTally{5, 25000}));
    EXPECT_EQ(t.severelyErrored, (IntervalTally{4, 20000}));
    EXPECT_EQ(t.fec, (IntervalTally{1, 5000}));
    EXPECT_EQ(t.unavailable, (IntervalTally{14, 70000}));
    EXPECT_EQ(t.unmeasured, (IntervalTally{2, 10000}));
    const IntervalFigures& before = shown.quarter.Previous()->figures; // intervals 1..8
    EXPECT_EQ(before.errored.intervals, 2u);
    EXPECT_EQ(before.unavailable.intervals, 1u);
    EXPECT_EQ(before.unmeasured.intervals, 2u);

    // The three pending rows, and what came after the first of them, wait for their class.
    EXPECT_EQ(PhyRowsIn(path, nullptr), steps.size() - 3);
    history.Recorder()->StopRecording();
    std::vector<std::optional<IntervalClass>> recorded;
    ASSERT_EQ(PhyRowsIn(path, &recorded), steps.size());
    EXPECT_EQ(recorded, ClassifyHistory(ModelPasses(steps)).classes);
    EXPECT_EQ(recorded[8], IntervalClass::kUnavailable);
    EXPECT_EQ(recorded.back(), IntervalClass::kSeverelyErrored);
}

// The table's cell of a figure's intervals (seconds: false) or seconds in a column.
QString Cell(const QTableWidget& table, std::size_t figure, bool seconds, int column) {
    const QTableWidgetItem* item = table.item(1 + 2 * static_cast<int>(figure) + (seconds ? 1 : 0), column);
    return item ? item->text() : QStringLiteral("(none)");
}

void ExpectTableShows(const QTableWidget& table, const CLinePerformance::View& view) {
    const std::array<const std::optional<CIntervalBins::Bin>*, 4> bins{
        &view.quarter.Current(), &view.quarter.Previous(), &view.day.Current(), &view.day.Previous()};
    for (int c = 0; c < 4; ++c) {
        for (std::size_t f = 0; f < kIntervalFigureCount; ++f) {
            const std::optional<CIntervalBins::Bin>& bin = *bins[static_cast<std::size_t>(c)];
            const IntervalTally* t = bin ? &(bin->figures.*kIntervalFigures[f].tally) : nullptr;
            EXPECT_EQ(Cell(table, f, false, c), t ? QString::number(t->intervals) : QString())
                << kIntervalFigures[f].name << " column " << c;
            EXPECT_EQ(Cell(table, f, true, c), t ? QString::number(t->Seconds(), 'f', 1) : QString())
                << kIntervalFigures[f].name << " seconds, column " << c;
        }
    }
}

TEST(HistoryPerformance, WindowShowsTheModelsBinsAndMarksTheIntervalsLiveAndFromTheRecording) {
    const std::vector<Step> steps = Steps();
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("line.csv"));
    CLineHistory history(nullptr);
    std::string error;
    ASSERT_TRUE(history.Recorder()->StartRecording(path.toStdString(), &error)) << error;
    Feed(history, steps);
    history.Recorder()->StopRecording();

    CHistoryWindow window(history.Recorder());
    window.SetLivePerformance([&history] { return history.Performance(); });
    window.Refresh(true);
    const CLinePerformance::View expected = ModelView(steps);
    ASSERT_FALSE(expected.day.Previous()); // the day before had no bin: its column stays empty
    ExpectTableShows(*window.PerformanceTable(), expected);
    EXPECT_EQ(Cell(*window.PerformanceTable(), 2, false, 1), QStringLiteral("1")); // unavailable, by hand

    const auto t = [](std::size_t step) { return At(step, 0).wallMs; };
    const std::vector<IntervalMark> marks{{t(2), t(3), IntervalClass::kErrored},
                                          {t(3), t(4), IntervalClass::kSeverelyErrored},
                                          {t(7), t(21), IntervalClass::kUnavailable},
                                          {t(31), t(34), IntervalClass::kSeverelyErrored}};
    for (const CHistoryGraph* graph : window.Graphs())
        EXPECT_EQ(graph->IntervalMarks(), marks);

    // The recording opened: its passes classified anew give the same.
    ASSERT_TRUE(window.OpenRecording(path));
    ExpectTableShows(*window.PerformanceTable(), expected);
    EXPECT_EQ(window.Graphs().front()->IntervalMarks(), marks);

    // A recording without the classes (an earlier version) is marked with those classes.
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    QString text = QString::fromUtf8(file.readAll());
    file.close();
    text.replace(QRegularExpression(QStringLiteral(",[a-z_]+\n")), QStringLiteral(",\n"));
    const QString bare = dir.filePath(QStringLiteral("bare.csv"));
    QFile out(bare);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write(text.toUtf8());
    out.close();
    ASSERT_TRUE(window.OpenRecording(bare));
    EXPECT_EQ(window.Graphs().front()->IntervalMarks(), marks);
}

} // namespace
} // namespace tessor::test
