// The Line History graph: round value axes that stay at or above zero for values that are, round time
// ticks, and what a paint shows: the line's columns, a gap as a break, the chosen entry's mark.
#include "history/HistoryGraph.h"
#include "recorder/Decimate.h"
#include "recorder/LineRecorder.h"

#include <QDateTime>
#include <QImage>

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace tessor {
namespace {

constexpr std::int64_t kStart = 1796000000000;
const QColor kBlue(31, 119, 180);

bool IsRoundStep(double step) {
    const double mantissa = step / std::pow(10.0, std::floor(std::log10(step) + 1e-9));
    return std::fabs(mantissa - 1) < 1e-9 || std::fabs(mantissa - 2) < 1e-9 || std::fabs(mantissa - 5) < 1e-9;
}

TEST(HistoryGraphAxes, RoundValueScales) {
    struct Case {
        double low, high, bottom, top, step;
    };
    const Case cases[] = {
        {24.0, 42.2, 20, 50, 10},     // the SNR of an hour
        {0, 440, 0, 600, 200},        // RS errors with bursts
        {-60, -60, -70, -50, 10},     // a constant transmitted power
        {0, 0, 0, 1, 1},              // a counter that stayed at zero: never below it
        {3, 3, 2, 4, 1},              // ... or at three
        {0, 111580, 0, 150000, 50000} // octets per second
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.low) + " to " + std::to_string(c.high));
        const ValueScale s = RoundScale(c.low, c.high);
        EXPECT_DOUBLE_EQ(s.bottom, c.bottom);
        EXPECT_DOUBLE_EQ(s.top, c.top);
        EXPECT_DOUBLE_EQ(s.step, c.step);
    }
    // Any values: the axis covers them in at most four round steps, from zero or above when none is negative.
    std::mt19937 random(7);
    std::uniform_real_distribution<double> magnitude(-3, 7);
    for (int i = 0; i < 2000; ++i) {
        double a = std::pow(10.0, magnitude(random)) * (i % 3 == 0 ? -1 : 1);
        double b = a + std::pow(10.0, magnitude(random)) * (i % 5 == 0 ? 0 : 1);
        const ValueScale s = RoundScale(a, b);
        ASSERT_LE(s.bottom, a) << a << " " << b;
        ASSERT_GE(s.top, b) << a << " " << b;
        ASSERT_TRUE(IsRoundStep(s.step)) << s.step;
        ASSERT_LE(std::lround((s.top - s.bottom) / s.step), 4) << a << " " << b;
        if (a >= 0) {
            ASSERT_GE(s.bottom, 0) << a << " " << b;
        }
    }
}

TEST(HistoryGraphAxes, LabelsAndTimeTicks) {
    const ValueScale octets{0, 150000, 50000};
    EXPECT_EQ(ScaleLabel(octets, 0), "0");
    EXPECT_EQ(ScaleLabel(octets, 100000), "100k");
    EXPECT_EQ(ScaleLabel(ValueScale{0, 2e7, 5e6}, 1.5e7), "15M");
    EXPECT_EQ(ScaleLabel(ValueScale{36, 37, 0.5}, 36.5), "36.5");
    EXPECT_EQ(ScaleLabel(ValueScale{-0.1, 0.1, 0.05}, -1e-17), "0.00");

    // An hour gets ticks every ten minutes, on the minute of the clock on the wall.
    const std::int64_t from = kStart + 142000; // not on a round time
    std::int64_t step = 0;
    const std::vector<std::int64_t> ticks = TimeTicks(from, from + 3600000, 8, &step);
    EXPECT_EQ(step, 600000);
    ASSERT_EQ(ticks.size(), 6u);
    for (std::int64_t t : ticks) {
        const QDateTime local = QDateTime::fromMSecsSinceEpoch(t);
        EXPECT_EQ(local.time().minute() % 10, 0);
        EXPECT_EQ(local.time().second(), 0);
        EXPECT_GE(t, from);
    }
    // A week at most eight ticks: a day apart, at midnight.
    const std::vector<std::int64_t> week = TimeTicks(from, from + 7 * 86400000LL, 8, &step);
    EXPECT_EQ(step, 86400000);
    EXPECT_LE(week.size(), 8u);
    EXPECT_EQ(QDateTime::fromMSecsSinceEpoch(week.front()).time().hour(), 0);
}

// Columns of the image with a pixel of the colour inside rows [top, bottom).
std::vector<bool> ColumnsWith(const QImage& image, const QColor& color, int top, int bottom) {
    std::vector<bool> found(static_cast<std::size_t>(image.width()), false);
    for (int x = 0; x < image.width(); ++x) {
        for (int y = top; y < bottom && !found[static_cast<std::size_t>(x)]; ++y)
            found[static_cast<std::size_t>(x)] = image.pixelColor(x, y) == color;
    }
    return found;
}

TEST(HistoryGraphPaint, TheLineItsGapAndTheMark) {
    rec::CLineRecorder recorder(5000);
    for (std::int64_t s = 0; s <= 600; s += 5) {
        if (s > 200 && s < 400)
            continue; // no samples: a gap
        const auto error = static_cast<std::uint32_t>(20000 + (s % 60) * 1000);
        const PhyRegisters raw{error, 576u, 15u, 0xAEu, 0x06u, 3u};
        recorder.AddPhy(rec::MakePhySample(rec::SampleTime{kStart + s * 1000, s * 1000},
                                           DecodePhy(raw, LineReferences{9180, 6920}), true));
    }
    CHistoryGraph graph(QStringLiteral("graphSnr"), {{rec::Series::Snr, QStringLiteral("SNR (dB)"), kBlue}});
    graph.resize(760, 160);
    recorder.Read([&](const rec::LineStore& store) {
        graph.SetData({rec::Decimate(store, rec::Series::Snr, kStart, kStart + 600000, graph.Columns())});
    });
    EXPECT_EQ(graph.objectName(), "graphSnr");
    EXPECT_EQ(graph.accessibleName(), "SNR (dB)");
    EXPECT_GE(graph.Scale().bottom, 0);
    const QRect plot = graph.PlotArea();
    auto xAt = [&](std::int64_t s) { return plot.left() + static_cast<int>(s * plot.width() / 600); };

    const QImage image = graph.grab().toImage();
    const std::vector<bool> line = ColumnsWith(image, kBlue, plot.top(), plot.bottom() + 1);
    for (std::int64_t s : {10, 100, 190, 410, 500, 590})
        EXPECT_TRUE(line[static_cast<std::size_t>(xAt(s))]) << s << " s";
    for (std::int64_t s = 210; s < 395; s += 5)
        EXPECT_FALSE(line[static_cast<std::size_t>(xAt(s))]) << s << " s is in the gap";
    // The legend's box in the line's colour above the plot.
    const std::vector<bool> legend = ColumnsWith(image, kBlue, 0, plot.top());
    EXPECT_GE(std::count(legend.begin(), legend.end(), true), 5);

    const QColor markColor(110, 110, 110);
    EXPECT_FALSE(
        ColumnsWith(image, markColor, plot.top(), plot.bottom())[static_cast<std::size_t>(xAt(300))]);
    graph.SetMarker(kStart + 300000);
    const std::vector<bool> marked =
        ColumnsWith(graph.grab().toImage(), markColor, plot.top(), plot.bottom());
    EXPECT_TRUE(marked[static_cast<std::size_t>(xAt(300))]);
    EXPECT_TRUE(graph.accessibleDescription().contains(QStringLiteral("marked at")));
    // The time under a position is the one the wheel zooms around.
    EXPECT_NEAR(static_cast<double>(graph.TimeAt(xAt(300)) - kStart), 300000, 600000.0 / plot.width() + 1);
}

} // namespace
} // namespace tessor
