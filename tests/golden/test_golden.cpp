// Every published form of one pass, compared byte for byte with the golden files beside this test: a
// renamed field, metric or column shows as a diff of a golden file. Times and durations are fixed or
// masked. TESSOR_UPDATE_GOLDEN=1 writes the files anew instead of comparing.

#include "cli/CliCommands.h"
#include "linetest/LineTest.h"
#include "linetest/LineTestBoard.h"
#include "linetest/LineTestReport.h"
#include "monitor/BoardPasses.h"
#include "monitor/Monitor.h"
#include "monitor/MonitorRecording.h"
#include "ops/ScriptedBus.h"
#include "recorder/RecordingFile.h"
#include "sim/SimSerialDevice.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#ifndef TESSOR_GOLDEN_DIR
#error "TESSOR_GOLDEN_DIR must name the folder of the golden files"
#endif

namespace tessor {
namespace {

using namespace std::chrono_literals;

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// The lines that differ, each as "-expected" and "+actual" with its line number.
std::string Diff(const std::string& expected, const std::string& actual) {
    const std::vector<std::string> e = Lines(expected);
    const std::vector<std::string> a = Lines(actual);
    std::ostringstream out;
    for (std::size_t i = 0; i < std::max(e.size(), a.size()); ++i) {
        const std::string* before = i < e.size() ? &e[i] : nullptr;
        const std::string* after = i < a.size() ? &a[i] : nullptr;
        if (before && after && *before == *after)
            continue;
        out << "line " << i + 1 << ":\n";
        if (before)
            out << "-" << *before << "\n";
        if (after)
            out << "+" << *after << "\n";
    }
    return out.str();
}

// Compares actual with the golden file name, or writes it when TESSOR_UPDATE_GOLDEN is set.
void ExpectGolden(const std::string& name, const std::string& actual) {
    const std::string path = std::string(TESSOR_GOLDEN_DIR) + "/" + name;
    const char* update = std::getenv("TESSOR_UPDATE_GOLDEN");
    if (update && std::string(update) == "1") {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << actual;
        return;
    }
    std::ifstream in(path, std::ios::binary);
    ASSERT_TRUE(in) << path << " is missing: run with TESSOR_UPDATE_GOLDEN=1 to write it";
    std::ostringstream expected;
    expected << in.rdbuf();
    EXPECT_TRUE(expected.str() == actual) << path << " differs (TESSOR_UPDATE_GOLDEN=1 rewrites it):\n"
                                          << Diff(expected.str(), actual);
}

// A board with fixed registers: LT, line up, every figure of a PHY pass nonzero.
opstest::CScriptedBus FixedBoard() {
    opstest::CScriptedBus bus;
    bus.regs["8C70"] = 0x00;   // LT
    bus.regs["8C40"] = 0x22;   // downstream: QAM 64, interpolation 8
    bus.regs["8C44"] = 0x22;   // upstream
    bus.regs["8C99"] = 100000; // error value
    bus.regs["8C9C"] = 576;    // transmit level
    bus.regs["8C91"] = 50;     // corrected RS errors since the last read
    bus.regs["8C71"] = 0xAE;   // link status
    bus.regs["8C98"] = 0x06;   // line flags
    bus.regs["8D38"] = 3;      // link fail counter
    bus.regs["8D04"] = 7;      // an Ethernet counter
    bus.regs["8C72"] = 0x61;
    bus.regs["8C73"] = 0x62;
    bus.regs["8C6F"] = 0x63;
    return bus;
}

TEST(Golden, StatusJson) {
    opstest::CScriptedBus bus = FixedBoard();
    nlohmann::json doc;
    std::string text;
    const std::optional<RegResult> failed = cli::ReadStatus(bus, &doc, &text);
    ASSERT_FALSE(failed);
    ExpectGolden("status.json", doc.dump(2) + "\n");
    ExpectGolden("status.txt", text);
}

// The values that depend on when the test ran, replaced by a mark.
void Mask(nlohmann::json& doc, const std::vector<std::string>& keys) {
    for (const std::string& key : keys) {
        if (doc.contains(key) && !doc[key].is_null())
            doc[key] = "<masked>";
    }
}

// A short line test of the fixed board.
linetest::LineTestResult FixedBoardLineTest() {
    opstest::CScriptedBus bus = FixedBoard();
    linetest::COpsLineTestBoard board(bus);
    linetest::LineTestOptions options;
    options.interval = 20ms;
    options.duration = options.interval * 2;
    options.site = "Site";
    options.operatorName = "Operator";
    options.note = "Note";
    return linetest::CLineTest(board, options).Run();
}

TEST(Golden, LineTestJson) {
    const linetest::LineTestResult result = FixedBoardLineTest();
    nlohmann::json doc = cli::LineTestJson(result, "report.html");
    // Rates are over the real time of the run.
    Mask(doc, {"start", "end", "duration_s", "ethernet_seconds", "rs_corrected_per_second"});
    for (nlohmann::json& c : doc["criteria"]) {
        Mask(c, {"first_breach_s"});
        if (c["name"] == "rs_corrected_per_second")
            c["measured"] = "<masked>";
    }
    for (nlohmann::json& d : doc["drops_s"])
        d = "<masked>";
    for (auto& [key, value] : doc["intervals"].items()) {
        if (key.size() > 8 && key.compare(key.size() - 8, 8, "_seconds") == 0)
            value = "<masked>";
    }
    ExpectGolden("linetest.json", doc.dump(2) + "\n");
}

// The values of the report's attributes that programs read, "attribute value" a line in the order of the
// document.
std::string ReportIds(const std::string& html) {
    std::string out;
    for (std::size_t at = html.find(" data-"); at != std::string::npos; at = html.find(" data-", at + 1)) {
        const std::size_t eq = html.find("=\"", at);
        const std::size_t end = eq == std::string::npos ? eq : html.find('"', eq + 2);
        if (end == std::string::npos)
            break;
        const std::string attribute = html.substr(at + 1, eq - at - 1);
        if (attribute == "data-figure" || attribute == "data-criterion" || attribute == "data-result" ||
            attribute == "data-verdict")
            out += attribute + " " + html.substr(eq + 2, end - eq - 2) + "\n";
    }
    return out;
}

TEST(Golden, LineTestReportIds) {
    ExpectGolden("linetest-report-ids.txt", ReportIds(linetest::ReportHtml(FixedBoardLineTest())));
}

// The monitor's second pass against the in-process simulator: 36 corrected errors a read and 6 FCS
// errors, read 18 s apart by the monitor's clock.
monitor::Snapshot SecondMonitorPass() {
    sim::SimConfig config;
    config.manualClock = true;
    auto sim = std::make_shared<sim::CSimulator>(config);
    sim->AdvanceTime(4000); // the line trains
    auto setCounts = [&sim] {
        sim->WithPair([](sim::CSimModemPair& p) {
            p.SetCounter(sim::CSimModemPair::kLocal, 0x8C91, 36);
            p.SetCounter(sim::CSimModemPair::kLocal, 0x8D04, 6);
            return 0;
        });
    };
    setCounts();
    monitor::MonitorOptions o;
    o.device = "sim";
    o.interval = 20ms;
    o.answerTimeout = 100ms;
    o.opener = [sim](const std::string&, const LineSettings&, int*) {
        return sim::CSimulator::CreateDevice(sim);
    };
    int reads = 0;
    o.readClock = [&reads, &setCounts] {
        setCounts();
        return std::chrono::steady_clock::time_point{} + std::chrono::seconds(18 * reads++);
    };
    std::vector<monitor::Snapshot> passes;
    monitor::CMonitor* running = nullptr;
    monitor::CMonitor m(
        o,
        [&passes, &running](const monitor::Snapshot& s) {
            passes.push_back(s);
            if (passes.size() == 2)
                running->Stop();
        },
        nullptr);
    running = &m;
    m.Run();
    if (passes.size() < 2)
        return {};
    monitor::Snapshot s = passes[1];
    s.passStartUnixSeconds = 1765000000.5;
    s.passDurationSeconds = 0.25;
    s.lastGoodPassUnixSeconds = 1765000000.75;
    s.upSinceUnixSeconds = 1764999000.25;
    s.snrBaselineDb = 38.5;
    return s;
}

TEST(Golden, MonitorJsonLineAndMetrics) {
    const monitor::Snapshot s = SecondMonitorPass();
    ASSERT_TRUE(s.boardUp);
    ExpectGolden("monitor.jsonl", monitor::RenderJsonLine(s) + "\n");
    ExpectGolden("metrics.txt", monitor::RenderExposition(s));
}

// A recording's rows after its header with the two time fields of each masked, and its own path named
// PATH.
std::string MaskRecording(const std::string& text, const std::string& path) {
    std::string out;
    for (std::string line : Lines(text)) {
        for (std::size_t at; (at = line.find(path)) != std::string::npos;)
            line.replace(at, path.size(), "PATH");
        if (!out.empty()) { // the header stays whole
            const std::size_t first = line.find(',');
            const std::size_t second = first == std::string::npos ? first : line.find(',', first + 1);
            if (second != std::string::npos)
                line = "<time>,<mono>" + line.substr(second);
        }
        out += line + "\n";
    }
    return out;
}

TEST(Golden, MonitorRecording) {
    const monitor::Snapshot s = SecondMonitorPass();
    ASSERT_TRUE(s.boardUp);
    char path[] = "/tmp/tessor-golden-XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    std::remove(path); // a new file gets the header
    std::string error;
    auto recording = monitor::CMonitorRecording::Open(path, 5000ms, nullptr, &error);
    ASSERT_TRUE(recording) << error;
    recording->AddPass(s);
    recording.reset();
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    std::remove(path);
    ExpectGolden("recording.csv", MaskRecording(text.str(), path));
}

// The same PHY passes fed to every front end, each at the layer that decides what it records and shows:
// whether the row is answered, and whether SNR, line state, link fail count and RS count are known.
using Seen = std::array<bool, 5>;
struct PassCase {
    const char* name;
    std::vector<std::string> garbled; // PHY reads whose replies come back garbled
    std::string silentAt;             // the PHY read at which the board falls silent, or none
    Seen expected;
};

const std::vector<std::string> kPhyReads{"RD 8C99,3", "RD 8C9C,2", "RD 8C91,4",
                                         "RD 8C71",   "RD 8C98",   "RD 8D38"};

// The fixed board, failing the case's reads of the PHY pass only (its 8C71 follows 8C91; the line check's
// does not).
std::unique_ptr<opstest::CScriptedBus> CaseBoard(const PassCase& c) {
    auto bus = std::make_unique<opstest::CScriptedBus>(FixedBoard());
    bus->fail = [b = bus.get(), c](std::size_t index, const std::string& line) -> std::optional<Outcome> {
        const bool phy = line == "RD 8C71" ? index > 0 && b->lines[index - 1] == "RD 8C91,4"
                                           : std::count(kPhyReads.begin(), kPhyReads.end(), line) > 0;
        if (phy && line == c.silentAt)
            return Outcome::NoAnswer;
        if (phy && std::count(c.garbled.begin(), c.garbled.end(), line) > 0)
            return Outcome::Garbled;
        return std::nullopt;
    };
    return bus;
}

Seen SeenIn(const rec::PhySample& s) {
    return {s.answered, s.values.snrCenti.has_value(), s.values.LineUp().has_value(),
            s.values.linkFailCount.has_value(), s.values.registers.rsCorrected.has_value()};
}

TEST(PassRule, EveryFrontEndRecordsAndShowsAPassAlike) {
    const std::vector<PassCase> cases{
        {"every read answered", {}, "", {true, true, true, true, true}},
        {"half answered", {"RD 8C99,3", "RD 8C91,4"}, "", {true, false, true, true, false}},
        {"garbled status reads", {"RD 8C71", "RD 8C98"}, "", {true, true, false, true, true}},
        {"nothing valid", kPhyReads, "", {false, false, false, false, false}},
        {"silent", {}, "RD 8D38", {false, false, false, false, false}},
    };
    const std::optional<ops::PhyReferences> references = ops::PhyReferencesFor(0);
    for (const PassCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(SeenIn(rec::MakePhySample({}, ops::RunPhyPass(*CaseBoard(c), references))), c.expected)
            << "recorder";

        ops::PhyPass pass;
        monitor::CBoardPasses(*CaseBoard(c)).ReadPhy(references, pass);
        EXPECT_EQ(SeenIn(rec::MakePhySample({}, pass)), c.expected) << "monitor";

        const auto lineTestBus = CaseBoard(c);
        linetest::COpsLineTestBoard board(*lineTestBus);
        linetest::LineTestOptions options;
        options.duration = 0ms; // one pass
        linetest::CLineTest(board, options).Run().recording->Read([&](const rec::LineStore& store) {
            ASSERT_EQ(store.phy.size(), 1u);
            EXPECT_EQ(SeenIn(store.phy.back()), c.expected) << "line test";
        });

        nlohmann::json doc;
        std::string text;
        const bool printed = !cli::ReadStatus(*CaseBoard(c), &doc, &text);
        nlohmann::json phy = printed ? doc["phy"] : nlohmann::json::object();
        const auto known = [&](const char* key) { return phy.contains(key) && !phy[key].is_null(); };
        EXPECT_EQ((Seen{printed && phy["answered"] == true, known("snr_db"),
                        printed && !phy["indicators"]["full_constellation"].is_null(),
                        known("link_fail_count"), known("rs_corrected_count")}),
                  c.expected)
            << "status";
    }
}

} // namespace
} // namespace tessor
