// The interval figures end to end: the in-memory simulator driven through one script of passes (Ethernet
// errors, a retrain, a long outage), watched once by the monitor with its recording and once by the line
// test. The monitor's counters, the recording's interval_class column and the line test's figures are
// checked against the counts the script injected.
#include "linetest/LineTest.h"
#include "monitor/BoardSession.h"
#include "monitor/Monitor.h"
#include "monitor/MonitorRecording.h"
#include "sim/SimSerialDevice.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <unistd.h>

namespace tessor {
namespace {

using namespace std::chrono_literals;

constexpr int kPasses = 40;

// Before pass k: two FCS errors of 1000 frames at 5 and 6 (errored), the line drops and retrains at 10
// (severely errored), and it is held down from 15 until 27. The 12 down intervals start an unavailable
// period and the retrain at 27 lies in it (13); the 10 intervals after it end the period.
void Before(sim::CSimulator& simulator, int k) {
    simulator.WithPair([k](sim::CSimModemPair& p) {
        p.FixCount(0x8D04, k == 5 || k == 6 ? 2u : 0u);
        if (k == 10)
            p.DropLine();
        if (k == 15 || k == 27)
            p.SetLineCut(k == 15);
        return 0;
    });
    simulator.AdvanceTime(1000);
}
const std::map<std::string, std::uint64_t> kExpected{
    {"errored", 2}, {"severely_errored", 1}, {"unavailable", 13}, {"good", kPasses - 1 - 16}};

std::shared_ptr<sim::CSimulator> Simulator() {
    sim::SimConfig config;
    config.manualClock = true;
    config.trainMs = 0;
    auto simulator = std::make_shared<sim::CSimulator>(config);
    simulator->WithPair([](sim::CSimModemPair& p) {
        // Exact counts: no corrected RS errors, no receive errors, 1000 frames a read.
        for (const std::uint16_t counter : {0x8C91, 0x8CF8, 0x8D04})
            p.FixCount(counter, 0u);
        p.FixCount(0x8D20, 1000u);
        return 0;
    });
    simulator->AdvanceTime(10); // the line trains
    return simulator;
}

CConsolePort::DeviceOpener OpenerOf(std::shared_ptr<sim::CSimulator> simulator) {
    return [simulator](const std::string&, const LineSettings&, int*) {
        return sim::CSimulator::CreateDevice(simulator);
    };
}

// The line test's board, with the script run before each PHY pass.
class ScriptedSimBoard : public linetest::COpsLineTestBoard {
public:
    ScriptedSimBoard(IRegisterBus& bus, sim::CSimulator& simulator)
        : COpsLineTestBoard(bus), m_sim(simulator) {}
    linetest::PhyRead RunPhyPass() override {
        Before(m_sim, m_pass++);
        return COpsLineTestBoard::RunPhyPass();
    }

private:
    sim::CSimulator& m_sim;
    int m_pass = 0;
};

// Each line of a text split at sep.
std::vector<std::string> Split(const std::string& text, char sep) {
    std::vector<std::string> parts;
    std::istringstream in(text);
    for (std::string part; std::getline(in, part, sep);)
        parts.push_back(part);
    return parts;
}

TEST(IntervalsEndToEnd, MonitorRecordingAndLineTestCountWhatTheScriptInjected) {
    // The monitor, a pass every 20 ms, one second apart by its read clock, each pass recorded.
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
    o.opener = OpenerOf(simulator);
    int reads = 0;
    o.readClock = [&reads] {
        return std::chrono::steady_clock::time_point{} + std::chrono::seconds(reads++);
    };
    int passes = 0;
    monitor::Snapshot last;
    monitor::CMonitor* running = nullptr;
    Before(*simulator, 0);
    monitor::CMonitor m(
        o,
        [&](const monitor::Snapshot& s) {
            recording->AddPass(s);
            last = s;
            if (++passes == kPasses)
                running->Stop();
            else
                Before(*simulator, passes);
        },
        nullptr);
    running = &m;
    m.Run();
    recording.reset();
    ASSERT_EQ(reads, kPasses) << "a pass without its PHY reads";

    // The counters as published: errored counts the severely errored one too; one second an interval.
    std::map<std::string, std::string> metrics;
    for (const std::string& line : Split(monitor::RenderExposition(last), '\n')) {
        if (line.rfind("tessor_line_", 0) == 0)
            metrics[line.substr(0, line.find('{'))] = line.substr(line.rfind(' ') + 1);
    }
    EXPECT_EQ(metrics["tessor_line_errored_intervals_total"], "3");
    EXPECT_EQ(metrics["tessor_line_errored_seconds_total"], "3");
    EXPECT_EQ(metrics["tessor_line_severely_errored_intervals_total"], "1");
    EXPECT_EQ(metrics["tessor_line_unavailable_intervals_total"], "13");
    EXPECT_EQ(metrics["tessor_line_unavailable_seconds_total"], "13");
    EXPECT_EQ(metrics["tessor_line_unmeasured_intervals_total"], "0");

    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    std::remove(path);
    const std::vector<std::string> rows = Split(text.str(), '\n');
    ASSERT_FALSE(rows.empty());
    const std::vector<std::string> header = Split(rows[0], ',');
    const auto column = std::find(header.begin(), header.end(), "interval_class") - header.begin();
    std::map<std::string, std::uint64_t> classes;
    for (std::size_t i = 1; i < rows.size(); ++i) {
        const std::vector<std::string> fields = Split(rows[i], ',');
        if (column < static_cast<std::ptrdiff_t>(fields.size()) && !fields[column].empty())
            ++classes[fields[column]];
    }
    EXPECT_EQ(classes, kExpected);

    // The line test against the same script: the same counts, and each interval criterion fails.
    simulator = Simulator();
    auto bus = monitor::CBoardSession::Open("sim", 5000ms, nullptr, &error, OpenerOf(simulator));
    ASSERT_TRUE(bus) << error;
    ScriptedSimBoard board(*bus, *simulator);
    linetest::LineTestOptions options;
    options.interval = 20ms;
    options.duration = options.interval * (kPasses - 1);
    const linetest::LineTestResult r = linetest::CLineTest(board, options).Run();
    ASSERT_EQ(r.passReads.size(), static_cast<std::size_t>(kPasses));
    std::map<std::string, std::uint64_t> counted;
    for (const IntervalClassDef& d : kIntervalClasses) {
        if (const std::uint64_t n = r.intervals.classes[static_cast<std::size_t>(d.value)])
            counted[d.name] = n;
    }
    EXPECT_EQ(counted, kExpected);
    EXPECT_EQ(r.intervals.errored.intervals, 3u);
    for (const linetest::CriterionResult& c : r.criteria) {
        const bool interval = c.id == CriterionId::NoUnavailableInterval ||
                              c.id == CriterionId::ErroredRatio || c.id == CriterionId::SeverelyErroredRatio;
        EXPECT_TRUE(!interval || !c.passed) << CriterionName(c.id) << ": " << c.measured;
    }
}

} // namespace
} // namespace tessor
