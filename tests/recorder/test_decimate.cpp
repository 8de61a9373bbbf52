// Decimation to pixel columns: extremes per column, gaps as breaks, lines to the edges, and the same
// columns from a live recorder read a block at a time while samples keep coming.
#include "recorder/Decimate.h"
#include "recorder/LineRecorder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <thread>
#include <vector>

namespace tessor::rec {
namespace {

constexpr std::int64_t kStart = 1796000000000;
constexpr std::int64_t kWeek = 7 * 24 * 3600;

SampleTime At(std::int64_t ms) {
    return SampleTime{kStart + ms, 500000 + ms};
}

// A pass with a given SNR error value (a larger error is a lower SNR), or one the board did not answer.
PhySample Pass(std::int64_t ms, std::uint32_t error, bool answered = true) {
    const PhyRegisters raw{error, 576u, 15u, 0xAEu, 0x06u, 3u};
    return MakePhySample(At(ms), DecodePhy(raw, LineReferences{9180, 6920}), answered);
}

// The columns worked out sample by sample, without the reducer: what a column must hold.
std::vector<Column> Expected(const LineStore& store, std::int64_t fromMs, std::int64_t toMs, int columns) {
    std::vector<Column> out(static_cast<std::size_t>(columns));
    for (std::size_t i = 0; i < store.phy.size(); ++i) {
        const PhySample& s = store.phy[i];
        if (!s.values.snrCenti || s.time.wallMs < fromMs || s.time.wallMs > toMs)
            continue;
        const double v = *s.values.snrCenti / 100.0;
        const auto c =
            std::min<std::int64_t>((s.time.wallMs - fromMs) * columns / (toMs - fromMs), columns - 1);
        Column& col = out[static_cast<std::size_t>(c)];
        const bool joined = i > 0 && !s.afterGap && store.phy[i - 1].values.snrCenti.has_value();
        if (!col.any) {
            col = Column{true, joined, false, v, v, v, v, false};
            continue;
        }
        col.broken = col.broken || !joined;
        col.last = v;
        col.min = std::min(col.min, v);
        col.max = std::max(col.max, v);
    }
    return out;
}

void ExpectSameColumns(const std::vector<Column>& expected, const std::vector<Column>& got) {
    ASSERT_EQ(expected.size(), got.size());
    for (std::size_t c = 0; c < got.size(); ++c) {
        SCOPED_TRACE("column " + std::to_string(c));
        EXPECT_EQ(expected[c].any, got[c].any);
        EXPECT_EQ(expected[c].joined, got[c].joined);
        EXPECT_EQ(expected[c].broken, got[c].broken);
        EXPECT_EQ(expected[c].min, got[c].min);
        EXPECT_EQ(expected[c].max, got[c].max);
        EXPECT_EQ(expected[c].first, got[c].first);
        EXPECT_EQ(expected[c].last, got[c].last);
    }
}

// A week of a flapping line: every other pass has no answer, the rest a varying SNR.
void RecordFlappingWeek(CLineRecorder* recorder) {
    for (std::int64_t i = 0; i * 5 < kWeek; ++i)
        recorder->AddPhy(Pass(i * 5000, 20000 + (i * 7919) % 900000, i % 2 == 0));
}

TEST(Decimation, EachPhySeriesTakesItsValueInItsUnit) {
    // Error value 2000000 with the QAM 256 references; level 576; link fail counter 3.
    LineStore store;
    PhySample sample = Pass(0, 2000000);
    sample.rsCentiPerSecond = 24680;
    store.phy.push_back(sample);
    store.phy.push_back(Pass(5000, 0, false));
    const std::pair<Series, double> table[] = {{Series::Snr, 28.79},
                                               {Series::Mse, 6.19},
                                               {Series::TxPower, -60.0},
                                               {Series::LinkFail, 3.0},
                                               {Series::RsPerSecond, 246.8}};
    for (const auto& [series, expected] : table) {
        double value = 0;
        ASSERT_TRUE(SeriesValue(store, series, 0, &value)) << static_cast<int>(series);
        EXPECT_DOUBLE_EQ(value, expected) << static_cast<int>(series);
        EXPECT_FALSE(SeriesValue(store, series, 1, &value)) << "no answer, no value";
    }
}

TEST(Decimation, AFlappingWeekGivesEveryColumnItsExtremesAndNoJoins) {
    CLineRecorder recorder;
    RecordFlappingWeek(&recorder);
    recorder.Read([](const LineStore& store) {
        for (int columns : {800, 1, 97, 60480}) {
            SCOPED_TRACE("columns " + std::to_string(columns));
            const Reduced r = Decimate(store, Series::Snr, At(0).wallMs, At(kWeek * 1000).wallMs, columns);
            const std::vector<Column> expected = Expected(store, r.fromMs, r.toMs, columns);
            ExpectSameColumns(expected, r.columns);
            // 60,480 runs, one sample each: nothing joins anything.
            for (const Column& c : r.columns)
                EXPECT_FALSE(c.joined);
            EXPECT_EQ(
                std::count_if(r.columns.begin(), r.columns.end(), [](const Column& c) { return c.any; }),
                columns);
        }
        // A middle stretch: the extremes of each column, and the values really vary.
        const Reduced part = Decimate(store, Series::Snr, At(86400000).wallMs, At(90000000).wallMs, 300);
        ExpectSameColumns(Expected(store, part.fromMs, part.toMs, 300), part.columns);
        EXPECT_LT(part.columns[0].min + 1, part.columns[0].max);
        EXPECT_TRUE(part.columns[0].broken);
        // As runs for polylines: one a column, from its first value through both extremes to its last.
        const std::vector<Polyline> runs = Runs(part);
        ASSERT_EQ(runs.size(), 300u);
        for (std::size_t c = 0; c < runs.size(); ++c) {
            double low = runs[c][0].value, high = low;
            for (const Point& p : runs[c]) {
                low = std::min(low, p.value);
                high = std::max(high, p.value);
            }
            EXPECT_EQ(low, part.columns[c].min);
            EXPECT_EQ(high, part.columns[c].max);
            EXPECT_EQ(runs[c].front().value, part.columns[c].first);
            EXPECT_EQ(runs[c].back().value, part.columns[c].last);
        }
    });
}

TEST(Decimation, AColumnKeepsItsValuesInTheOrderTheyHappened) {
    // Link fail counter values one second apart, all in one column.
    const std::vector<std::vector<std::uint32_t>> orders{
        {5, 9, 1, 6}, {5, 1, 9, 6}, {1, 9, 5}, {9, 1, 5}, {4, 4}};
    for (const std::vector<std::uint32_t>& values : orders) {
        LineStore store;
        for (std::size_t i = 0; i < values.size(); ++i) {
            const PhyRegisters raw{2000000u, 576u, 15u, 0xAEu, 0x06u, values[i]};
            store.phy.push_back(MakePhySample(At(static_cast<std::int64_t>(i) * 1000),
                                              DecodePhy(raw, LineReferences{9180, 6920}), true));
        }
        const Reduced r = Decimate(store, Series::LinkFail, At(0).wallMs, At(60000).wallMs, 1);
        ASSERT_EQ(r.columns.size(), 1u);
        const Column& c = r.columns[0];
        EXPECT_EQ(c.first, static_cast<double>(values.front()));
        EXPECT_EQ(c.last, static_cast<double>(values.back()));
        EXPECT_EQ(c.min, static_cast<double>(*std::min_element(values.begin(), values.end())));
        EXPECT_EQ(c.max, static_cast<double>(*std::max_element(values.begin(), values.end())));
        // Drawn in time order: every value as it came, a repeated one once.
        std::vector<double> expected;
        for (std::int64_t v : values) {
            if (expected.empty() || expected.back() != static_cast<double>(v))
                expected.push_back(static_cast<double>(v));
        }
        const std::vector<Polyline> runs = Runs(r);
        ASSERT_EQ(runs.size(), 1u);
        std::vector<double> drawn;
        for (const Point& p : runs[0])
            drawn.push_back(p.value);
        EXPECT_EQ(drawn, expected);
    }
}

TEST(Decimation, SamplesMoreThanTwoPointFourIntervalsApartAreNotJoined) {
    CLineRecorder recorder(5000); // join limit 12 s
    for (std::int64_t ms : {0, 5000, 10000, 22000, 34001, 39001})
        recorder.AddPhy(Pass(ms, 20000));
    recorder.Read([](const LineStore& store) {
        const Reduced r = Decimate(store, Series::Snr, At(0).wallMs, At(40000).wallMs, 40);
        std::vector<bool> joined;
        for (const Column& c : r.columns) {
            if (c.any)
                joined.push_back(c.joined);
        }
        EXPECT_EQ(joined, (std::vector<bool>{false, true, true, true, false, true}));
        ExpectSameColumns(Expected(store, r.fromMs, r.toMs, 40), r.columns);
    });
}

TEST(Decimation, LinesRunToTheEdgesButNotAcrossABreak) {
    CLineRecorder recorder(5000);
    for (std::int64_t ms : {0, 5000, 10000, 15000})
        recorder.AddPhy(Pass(ms, 20000 + ms));
    recorder.AddPhy(Pass(20000, 0, false));
    recorder.AddPhy(Pass(25000, 20000));
    recorder.Read([](const LineStore& store) {
        // Between two samples: no column has data, the line crosses from the one before to the one after.
        const Reduced between = Decimate(store, Series::Snr, At(6000).wallMs, At(9000).wallMs, 30);
        EXPECT_TRUE(between.before.any && between.after.any);
        const std::vector<Polyline> across = Runs(between);
        ASSERT_EQ(across.size(), 1u);
        ASSERT_EQ(across[0].size(), 2u);
        EXPECT_EQ(across[0][1].wallMs, At(10000).wallMs);
        EXPECT_EQ(between.before.wallMs, At(5000).wallMs);
        EXPECT_EQ(between.after.wallMs, At(10000).wallMs);
        double low = 0, high = 0;
        ASSERT_TRUE(between.Extremes(&low, &high));
        EXPECT_LT(low, high);
        // Into the range from before it; the sample after the range has no value: no edge there.
        const Reduced inner = Decimate(store, Series::Snr, At(7000).wallMs, At(18000).wallMs, 11);
        EXPECT_TRUE(inner.before.any);
        EXPECT_FALSE(inner.after.any);
        EXPECT_TRUE(inner.columns[3].any && inner.columns[3].joined); // 10 s
        // Past the pass without an answer the line starts afresh: nothing joins the edge before.
        const Reduced late = Decimate(store, Series::Snr, At(22000).wallMs, At(30000).wallMs, 8);
        EXPECT_FALSE(late.before.any);
        EXPECT_FALSE(late.columns[3].joined);
        // A range beyond every sample holds nothing.
        EXPECT_FALSE(
            Decimate(store, Series::Snr, At(90000).wallMs, At(99000).wallMs, 8).Extremes(&low, &high));
    });
}

TEST(Decimation, ASharedViewGivesTheSameColumnsWithoutTheLockWhileSamplesKeepComing) {
    CLineRecorder recorder;
    RecordFlappingWeek(&recorder);
    for (std::int64_t i = 0; i * 5 < kWeek; ++i) {
        EthSample e;
        e.time = At(i * 5000 + 2000);
        e.totals.fill(static_cast<std::uint64_t>(i * i));
        e.reads.fill(static_cast<std::uint32_t>(2 * i + 1)); // counts that grow through the week
        recorder.AddEth(e);
    }
    const std::int64_t from = At(3600000).wallMs;
    const std::int64_t to = At(kWeek * 1000 - 3600000).wallMs;
    std::map<int, Reduced> locked;
    std::shared_ptr<const LineStore> view;
    recorder.Read([&](const LineStore& store) {
        for (int s = 0; s < static_cast<int>(Series::kCount); ++s)
            locked[s] = Decimate(store, static_cast<Series>(s), from, to, 700);
        view = ShareSamples(store);
    });
    // A poll thread adds samples all the while, filling the view's last block and new ones.
    std::atomic<bool> stop{false};
    const std::uint64_t taken = recorder.Revision();
    std::thread poll([&] {
        for (std::int64_t i = 0; !stop.load(); ++i)
            recorder.AddPhy(Pass(kWeek * 1000 + i * 5000, 30000));
    });
    const LineStore& shared = *view;
    std::vector<Reduced> unlocked;
    for (int s = 0; s < static_cast<int>(Series::kCount); ++s)
        unlocked.push_back(Decimate(shared, static_cast<Series>(s), from, to, 700));
    while (recorder.Revision() < taken + 5000)
        std::this_thread::yield();
    stop.store(true);
    poll.join();
    for (int s = 0; s < static_cast<int>(Series::kCount); ++s) {
        SCOPED_TRACE("series " + std::to_string(s));
        ExpectSameColumns(locked[s].columns, unlocked[static_cast<std::size_t>(s)].columns);
        EXPECT_EQ(locked[s].before.any, unlocked[static_cast<std::size_t>(s)].before.any);
        EXPECT_EQ(locked[s].after.wallMs, unlocked[static_cast<std::size_t>(s)].after.wallMs);
    }
    EXPECT_EQ(shared.phy.size(), 120960u); // the view stays as it was taken
    double low = 0, high = 0;
    ASSERT_TRUE(unlocked[static_cast<int>(Series::TxFramesRate)].Extremes(&low, &high));
    EXPECT_GT(high, low); // the rates rise through the week
}

} // namespace
} // namespace tessor::rec
