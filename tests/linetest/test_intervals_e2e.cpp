// The interval figures end to end: the in-memory simulator driven through one script of passes (Ethernet
// errors, a retrain, a long outage), watched once by the monitor with its recording and once by the line
// test. The monitor's counters, the recording's interval_class column and the line test's figures are
// checked against the counts the script injected.
#include "linetest/LineTest.h"
#include "model/LineIntervals.h"
#include "monitor/BoardSession.h"
#include "monitor/Monitor.h"
#include "monitor/MonitorRecording.h"
#include "monitor/Snapshot.h"
#include "sim/SimSerialDevice.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace tessor {
namespace {

using namespace std::chrono_literals;

constexpr int kPasses = 40;
constexpr std::uint16_t kRsCorrected = 0x8C91;
constexpr std::uint16_t kFcsErrors = 0x8D04;
constexpr std::uint16_t kReceiveErrors = 0x8CF8;
constexpr std::uint16_t kRxFrames = 0x8D20;

// What happens before each pass; the interval a pass ends is the one the event falls in.
struct Script {
    std::vector<int> errored{5, 6}; // two FCS errors of 1000 frames: errored, not severely
    int retrain = 10;               // the line drops once and trains again at once
    int cutFrom = 15;               // the line is held down for these passes: a long outage
    int cutUntil = 27;              // the first pass that finds it up again (a retrain too)

    // The counts the script makes, by the classifier's rules: the outage's 12 down intervals start an
    // unavailable period and the retrain that ends it lies in it; the 10 intervals after it end it.
    std::uint64_t Unavailable() const { return static_cast<std::uint64_t>(cutUntil - cutFrom + 1); }
    std::uint64_t SeverelyErrored() const { return 1; }
    std::uint64_t Errored() const { return errored.size() + SeverelyErrored(); }
    std::uint64_t Intervals() const { return kPasses - 1; }

    void Before(sim::CSimulator& simulator, int pass) const {
        simulator.WithPair([&](sim::CSimModemPair& p) {
            bool error = false;
            for (const int e : errored)
                error = error || e == pass;
            p.FixCount(kFcsErrors, error ? 2u : 0u);
            if (pass == retrain)
                p.DropLine();
            if (pass == cutFrom)
                p.SetLineCut(true);
            if (pass == cutUntil)
                p.SetLineCut(false);
            return 0;
        });
        simulator.AdvanceTime(1000);
    }
};

std::shared_ptr<sim::CSimulator> Simulator() {
    sim::SimConfig config;
    config.manualClock = true;
    config.trainMs = 0;
    auto simulator = std::make_shared<sim::CSimulator>(config);
    simulator->WithPair([](sim::CSimModemPair& p) {
        // Every count exact: no corrected RS errors, no errors unless the script makes them.
        p.FixCount(kRsCorrected, 0u);
        p.FixCount(kReceiveErrors, 0u);
        p.FixCount(kFcsErrors, 0u);
        p.FixCount(kRxFrames, 1000u);
        return 0;
    });
    simulator->AdvanceTime(10); // the line trains
    return simulator;
}

// The line test's board, with the script run before each PHY pass.
class ScriptedSimBoard : public linetest::COpsLineTestBoard {
public:
    ScriptedSimBoard(IRegisterBus& bus, sim::CSimulator& simulator, const Script& script)
        : COpsLineTestBoard(bus), m_simulator(simulator), m_script(script) {}
    linetest::PhyRead RunPhyPass() override {
        m_script.Before(m_simulator, m_pass++);
        return COpsLineTestBoard::RunPhyPass();
    }

private:
    sim::CSimulator& m_simulator;
    const Script& m_script;
    int m_pass = 0;
};

// The value of a metric family's sample in an exposition (no labels but the board's).
std::optional<double> Sample(const std::string& exposition, const std::string& family) {
    std::istringstream in(exposition);
    for (std::string line; std::getline(in, line);) {
        if (line.compare(0, family.size(), family) == 0 &&
            (line[family.size()] == ' ' || line[family.size()] == '{'))
            return std::stod(line.substr(line.rfind(' ') + 1));
    }
    return std::nullopt;
}

// How many PHY rows of a recording carry each interval class.
std::map<std::string, std::uint64_t> ClassColumn(const std::string& path) {
    std::ifstream in(path);
    std::map<std::string, std::uint64_t> counts;
    std::string line;
    std::getline(in, line);
    std::vector<std::string> header;
    std::istringstream names(line);
    for (std::string name; std::getline(names, name, ',');)
        header.push_back(name);
    std::size_t column = header.size();
    for (std::size_t i = 0; i < header.size(); ++i) {
        if (header[i] == kIntervalClassColumn)
            column = i;
    }
    EXPECT_LT(column, header.size()) << "no " << kIntervalClassColumn << " column";
    while (std::getline(in, line)) {
        std::vector<std::string> fields;
        std::istringstream row(line);
        for (std::string field; std::getline(row, field, ',');)
            fields.push_back(field);
        if (column < fields.size() && !fields[column].empty())
            ++counts[fields[column]];
    }
    return counts;
}

TEST(IntervalsEndToEnd, MonitorRecordingAndLineTestCountWhatTheScriptInjected) {
    const Script script;
    std::map<std::string, std::uint64_t> expected{
        {IntervalClassName(IntervalClass::kUnavailable), script.Unavailable()},
        {IntervalClassName(IntervalClass::kSeverelyErrored), script.SeverelyErrored()},
        {IntervalClassName(IntervalClass::kErrored), script.Errored() - script.SeverelyErrored()},
        {IntervalClassName(IntervalClass::kGood),
         script.Intervals() - script.Unavailable() - script.Errored()},
    };

    // The monitor, a pass every 20 ms, one second apart by its read clock.
    auto simulator = Simulator();
    char path[] = "/tmp/tessor-intervals-XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    std::remove(path); // a new file gets the header
    std::string error;
    auto recording = monitor::CMonitorRecording::Open(path, 1000ms, nullptr, &error);
    ASSERT_TRUE(recording) << error;
    monitor::MonitorOptions o;
    o.device = "sim";
    o.interval = 20ms;
    o.answerTimeout = 5000ms; // the in-memory board answers at once; a loaded machine may delay that
    o.opener = [simulator](const std::string&, const LineSettings&, int*) {
        return sim::CSimulator::CreateDevice(simulator);
    };
    int reads = 0;
    o.readClock = [&reads] {
        return std::chrono::steady_clock::time_point{} + std::chrono::seconds(reads++);
    };
    int passes = 0;
    monitor::Snapshot last;
    monitor::CMonitor* running = nullptr;
    script.Before(*simulator, 0);
    monitor::CMonitor m(
        o,
        [&](const monitor::Snapshot& s) {
            recording->AddPass(s);
            last = s;
            if (++passes == kPasses)
                running->Stop();
            else
                script.Before(*simulator, passes);
        },
        nullptr);
    running = &m;
    m.Run();
    recording.reset();
    ASSERT_EQ(passes, kPasses);
    ASSERT_EQ(reads, kPasses) << "a pass without its PHY reads";

    const std::string metrics = monitor::RenderExposition(last);
    const std::vector<std::pair<const char*, std::uint64_t>> counters{
        {"tessor_line_unavailable_intervals_total", script.Unavailable()},
        {"tessor_line_severely_errored_intervals_total", script.SeverelyErrored()},
        {"tessor_line_errored_intervals_total", script.Errored()},
        {"tessor_line_unmeasured_intervals_total", 0},
        {"tessor_line_unavailable_seconds_total", script.Unavailable()}, // one second each
        {"tessor_line_errored_seconds_total", script.Errored()},
    };
    for (const auto& [family, count] : counters)
        EXPECT_EQ(Sample(metrics, family), static_cast<double>(count)) << family;
    EXPECT_EQ(ClassColumn(path), expected);
    std::remove(path);

    // The line test against the same script.
    simulator = Simulator();
    auto bus = monitor::CBoardSession::Open("sim", 5000ms, nullptr, &error,
                                            [simulator](const std::string&, const LineSettings&, int*) {
                                                return sim::CSimulator::CreateDevice(simulator);
                                            });
    ASSERT_TRUE(bus) << error;
    ScriptedSimBoard board(*bus, *simulator, script);
    linetest::LineTestOptions options;
    options.interval = 20ms;
    options.duration = options.interval * (kPasses - 1);
    const linetest::LineTestResult r = linetest::CLineTest(board, options).Run();
    ASSERT_EQ(r.passReads.size(), static_cast<std::size_t>(kPasses));
    EXPECT_EQ(r.intervals.unavailable.intervals, script.Unavailable());
    EXPECT_EQ(r.intervals.severelyErrored.intervals, script.SeverelyErrored());
    EXPECT_EQ(r.intervals.errored.intervals, script.Errored());
    EXPECT_EQ(r.intervals.available.intervals, script.Intervals() - script.Unavailable());
    EXPECT_EQ(r.intervals.unmeasured.intervals, 0u);
    // The ratios are of the real time the passes took: each of the line test's criteria sees them.
    ASSERT_TRUE(r.ratios.errored && r.ratios.severelyErrored);
    EXPECT_GT(*r.ratios.severelyErrored, 0.0);
    EXPECT_GT(*r.ratios.errored, *r.ratios.severelyErrored);
    for (const CriterionId id :
         {CriterionId::NoUnavailableInterval, CriterionId::ErroredRatio, CriterionId::SeverelyErroredRatio}) {
        for (const linetest::CriterionResult& c : r.criteria) {
            if (c.id == id) {
                EXPECT_FALSE(c.passed) << CriterionName(id) << ": " << c.measured;
            }
        }
    }
}

} // namespace
} // namespace tessor
