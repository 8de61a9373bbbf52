// The monitor's poll loop against the in-memory simulator: the register traffic of its passes, the
// totals, and what it does with corrupted echoes, a silent board and a device that goes away.

#include "../ops/ScriptedBus.h"
#include "link/NetworkSocket.h"
#include "monitor/BoardPasses.h"
#include "monitor/MetricsServer.h"
#include "monitor/Monitor.h"
#include "monitor/MonitorOutputs.h"
#include "monitor/MonitorRecording.h"
#include "recorder/RecordingFile.h"
#include "sim/SimSerialDevice.h"
#include "support/ChildProcess.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <netinet/in.h>
#include <sstream>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace tessor::monitor {
namespace {

using namespace std::chrono_literals;
using sim::CSimModemPair;
using sim::CSimulator;
using testsupport::WaitFor;

std::shared_ptr<CSimulator> ManualSim() {
    sim::SimConfig config;
    config.manualClock = true;
    return std::make_shared<CSimulator>(config);
}

// Runs a monitor on its own thread and collects the snapshot of every pass.
class MonitorRun {
public:
    explicit MonitorRun(MonitorOptions options) {
        options.device = "sim";
        m_monitor = std::make_unique<CMonitor>(
            options,
            [this](const Snapshot& s) {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_passes.push_back(s);
            },
            [this](const std::string& line) {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_log.push_back(line);
            });
        m_thread = std::thread([this] { m_monitor->Run(); });
    }
    ~MonitorRun() { Stop(); }

    void Stop() {
        m_monitor->Stop();
        if (m_thread.joinable())
            m_thread.join();
    }

    // Waits for the n-th pass (1-based) and returns it.
    Snapshot Pass(std::size_t n) {
        if (!WaitFor([&] { return Count() >= n; }, 10s, 2ms)) {
            ADD_FAILURE() << "no pass " << n;
            return Snapshot{};
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_passes[n - 1];
    }

    // What the monitor logged so far.
    std::vector<std::string> Log() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_log;
    }

    // How many passes have ended so far.
    std::size_t Count() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_passes.size();
    }

    CMonitor& Monitor() { return *m_monitor; }

private:
    std::unique_ptr<CMonitor> m_monitor;
    std::thread m_thread;
    std::mutex m_mutex;
    std::vector<Snapshot> m_passes;
    std::vector<std::string> m_log;
};

MonitorOptions SimOptions(const std::shared_ptr<CSimulator>& sim, std::chrono::milliseconds interval) {
    MonitorOptions o;
    o.interval = interval;
    o.answerTimeout = 100ms;
    o.opener = [sim](const std::string&, const LineSettings&, int*) { return CSimulator::CreateDevice(sim); };
    return o;
}

std::string Reads(std::initializer_list<const char*> commands) {
    std::string out;
    for (const char* c : commands)
        out += std::string("RD ") + c + "\n";
    return out;
}

const std::string kPhyPass = Reads({"8C99,3", "8C9C,2", "8C91,4", "8C71", "8C98", "8D38"});
const std::string kEthernetPass =
    Reads({"8D1C,4", "8D20,4", "8D18,4", "8D14,4", "8D08,4", "8D0C,4", "8D10,4", "8CE4,4", "8CE8,4", "8CF0,4",
           "8CF4,4", "8CF8,4", "8CFC,4", "8D00,4", "8D04,4"});

TEST(MonitorPoll, PassesReadWhatThePagesReadInTheirOrderAndAccumulateTotals) {
    auto sim = ManualSim();
    sim->WithPair([](CSimModemPair& p) {
        p.SetCounter(CSimModemPair::kLocal, 0x8D1C, 49); // adds 9
        p.SetCounter(CSimModemPair::kLocal, 0x8D04, 4);  // adds nothing
        return 0;
    });
    MonitorRun run(SimOptions(sim, 50ms));
    const Snapshot first = run.Pass(1);
    sim->WithPair([](CSimModemPair& p) {
        p.SetCounter(CSimModemPair::kLocal, 0x8D1C, 10);
        return 0;
    });
    const Snapshot third = run.Pass(3);
    run.Stop();

    const std::string start =
        Reads({"8C70", "8C72", "8C73", "8C6F", "8C11", "8C40", "8C42,2", "8C41", "8C44,2", "8D43"});
    const std::string traffic = sim->BytesToBoard();
    const std::string expected = start + kPhyPass + kEthernetPass + kPhyPass + kEthernetPass;
    ASSERT_GE(traffic.size(), expected.size());
    EXPECT_EQ(traffic.substr(0, expected.size()), expected);

    EXPECT_TRUE(first.boardUp);
    EXPECT_EQ(first.lineUp, false);
    EXPECT_EQ(first.id.SideLabel(), "lt");
    EXPECT_EQ(first.id.chip, 0x61);
    // The totals are sums of the raw counts (the Ethernet page would show 9, 0 and 11).
    EXPECT_EQ(first.ethernet[0], 49u);
    EXPECT_EQ(first.ethernet[14], 4u);
    EXPECT_EQ(third.ethernet[0], 59u);
    EXPECT_EQ(third.passes, 3u);
    EXPECT_FALSE(first.phy.snrCenti); // no error value while the line is down
    ASSERT_TRUE(first.link.downstream.carrierHertz);
    EXPECT_GT(*first.link.downstream.carrierHertz, 0.0);
}

// With block reads a pass reads neighbouring runs of registers with one command each, to the same totals.
TEST(MonitorPoll, BlockReadsReadTheSameCountersInFewerCommands) {
    auto sim = ManualSim();
    sim->WithPair([](CSimModemPair& p) {
        p.SetCounter(CSimModemPair::kLocal, 0x8D20, 0xF1000049);
        return 0;
    });
    MonitorOptions options = SimOptions(sim, 50ms);
    options.blockReads = true;
    MonitorRun run(options);
    EXPECT_EQ(run.Pass(1).ethernet[1], 0xF1000049u); // its high digit is in the eighth register of 8D1C,8
    run.Stop();
    const std::string pass = Reads({"8C99,5", "8C91,4", "8C71", "8C98", "8D38", "8D1C,8", "8D14,8", "8D08,8",
                                    "8D10,4", "8CE4,8", "8CF0,8", "8CF8,8", "8D00,8"});
    const std::string traffic = sim->BytesToBoard();
    ASSERT_NE(traffic.find("RD 8C99"), std::string::npos);
    EXPECT_EQ(traffic.substr(traffic.find("RD 8C99"), pass.size()), pass);
}

TEST(MonitorFigures, ClearedCountsAddUpAndTheirRateIsOverTheRealTimeBetweenReads) {
    using Clock = CClearedCount::Clock;
    const Clock::time_point t0{};
    struct Step {
        double atSeconds;
        std::optional<std::uint32_t> count; // empty: the read delivered nothing
        std::uint64_t total;
        std::optional<double> perSecond;
    };
    const Step steps[] = {
        {0, 36, 36, std::nullopt}, // the first read: the time its count covers is unknown
        {18, 36, 72, 2.0},         // 36 over 18 s
        {23, 1, 73, 0.2},          //
        {24, std::nullopt, 73, std::nullopt},
        {30, 12, 85, std::nullopt}, // after a read that delivered nothing
        {33, 12, 97, 4.0},          //
        {33, 5, 102, std::nullopt}, // no time passed: no rate
        {43, 128, 230, 12.8},       //
    };
    CClearedCount rs;
    EXPECT_EQ(rs.Total(), std::nullopt) << "no count is known before the first read";
    rs.Lost();
    EXPECT_EQ(rs.Total(), std::nullopt) << "nor after a first read that delivered nothing";
    for (const Step& s : steps) {
        SCOPED_TRACE(s.atSeconds);
        const auto at =
            t0 + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(s.atSeconds));
        if (s.count)
            rs.Read(*s.count, at);
        else
            rs.Lost();
        EXPECT_EQ(rs.Total(), s.total);
        ASSERT_EQ(rs.PerSecond().has_value(), s.perSecond.has_value());
        if (s.perSecond) {
            EXPECT_NEAR(*rs.PerSecond(), *s.perSecond, 1e-9);
        }
    }

    // A pass's results: a garbled or unanswered 8C91 loses its count and the time of the next one.
    struct Pass {
        double atSeconds;
        RegResult rs;
        RegResult linkFail;
        std::uint64_t rsTotal;
        std::optional<double> perSecond;
        std::uint64_t linkFailures;
    };
    const RegResult garbled = RegResult::Fail(Outcome::Garbled);
    const RegResult silent = RegResult::Fail(Outcome::NoAnswer);
    const Pass passes[] = {
        {0, RegResult::Answer(10), RegResult::Answer(254), 10, std::nullopt, 0},
        {5, RegResult::Answer(10), RegResult::Answer(2), 20, 2.0, 4},
        {10, garbled, garbled, 20, std::nullopt, 4},
        {15, RegResult::Answer(10), RegResult::Answer(3), 30, std::nullopt, 5},
        {20, RegResult::Answer(5), RegResult::Answer(3), 35, 1.0, 5},
        {25, silent, silent, 35, std::nullopt, 5},
        {30, RegResult::Answer(0), RegResult::Answer(3), 35, std::nullopt, 5},
        {40, RegResult::Answer(25), RegResult::Answer(3), 60, 2.5, 5},
    };
    CClearedCount passRs;
    CWrappingCount passFailures;
    for (const Pass& p : passes) {
        SCOPED_TRACE(p.atSeconds);
        ops::PhyReadResults results;
        results.rsCorrected = p.rs;
        results.linkFailCount = p.linkFail;
        CountPhyPass(
            results,
            t0 + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(p.atSeconds)),
            passRs, passFailures);
        EXPECT_EQ(passRs.Total(), p.rsTotal);
        EXPECT_EQ(passRs.PerSecond(), p.perSecond);
        EXPECT_EQ(passFailures.Total(), p.linkFailures);
    }

    // The 8-bit link fail counter: a lower value means it wrapped.
    struct Wrap {
        std::uint8_t value;
        std::uint64_t total;
    };
    const Wrap wraps[] = {{254, 0}, {2, 4}, {2, 4}, {250, 252}, {3, 261}, {255, 513}, {0, 514}};
    CWrappingCount failures;
    EXPECT_EQ(failures.Total(), std::nullopt);
    for (const Wrap& w : wraps) {
        failures.Read(w.value);
        EXPECT_EQ(failures.Total(), w.total) << int(w.value);
    }
}

TEST(MonitorPoll, TotalsAddRawCountsAndTheRsRateIsOverTheRealTimeBetweenItsReads) {
    auto sim = ManualSim();
    // Line drops, each followed by training again: each adds one to the link fail counter.
    auto drop = [&sim](int times) {
        for (int i = 0; i < times; ++i) {
            sim->AdvanceTime(4000);
            sim->WithPair([](CSimModemPair& p) {
                p.DropLine();
                return 0;
            });
        }
        sim->AdvanceTime(4000);
    };
    auto setCounts = [&sim] {
        sim->WithPair([](CSimModemPair& p) {
            p.SetCounter(CSimModemPair::kLocal, 0x8C91, 36); // read at the next pass
            p.SetCounter(CSimModemPair::kLocal, 0x8D04, 6);  // read in this pass
            return 0;
        });
    };
    drop(254);
    setCounts();
    // The clock the reads are timed with: 18 s between the passes. It is read once a pass, after the PHY
    // reads and before the Ethernet ones, which is where this test sets the next counts.
    std::atomic<int> reads{0};
    MonitorOptions options = SimOptions(sim, 60ms);
    options.readClock = [&reads, &setCounts, &drop] {
        const int n = reads.fetch_add(1);
        if (n == 0)
            drop(4); // 254 then 2 at the next pass
        setCounts();
        return std::chrono::steady_clock::time_point{} + std::chrono::seconds(18 * n);
    };
    MonitorRun run(options);
    const Snapshot first = run.Pass(1);
    const Snapshot third = run.Pass(3);
    run.Stop();

    EXPECT_EQ(first.rsCorrectedTotal, 36u);
    EXPECT_FALSE(first.rsCorrectedPerSecond) << "the first read covers a time that is not known";
    EXPECT_EQ(first.ethernet[14], 6u);
    EXPECT_EQ(first.linkFailuresTotal, 0u);
    const std::string firstText = RenderExposition(first);
    EXPECT_EQ(firstText.find("tessor_rs_corrected_errors_per_second"), std::string::npos) << firstText;

    // Three reads of 36 errors 18 s apart: 108 in all, 2 per second; 6 FCS errors a pass: 18.
    EXPECT_EQ(third.rsCorrectedTotal, 108u);
    ASSERT_TRUE(third.rsCorrectedPerSecond);
    EXPECT_DOUBLE_EQ(*third.rsCorrectedPerSecond, 2.0);
    EXPECT_EQ(third.ethernet[14], 18u);
    EXPECT_EQ(third.linkFailuresTotal, 4u) << "254 then 2: the counter wrapped after 4 drops";
    const std::string text = RenderExposition(third);
    for (const char* line : {"# TYPE tessor_rs_corrected_errors_total counter\n"
                             "tessor_rs_corrected_errors_total{port=\"sim\",side=\"lt\"} 108\n",
                             "# TYPE tessor_link_failures_total counter\n"
                             "tessor_link_failures_total{port=\"sim\",side=\"lt\"} 4\n",
                             "tessor_frame_check_sequence_errors_total{port=\"sim\",side=\"lt\"} 18\n"})
        EXPECT_NE(text.find(line), std::string::npos) << line << text;
    EXPECT_EQ(text.find("tessor_rs_corrected_errors_per_second"), std::string::npos)
        << "the rate is left to the queries: " << text;
    const nlohmann::json json = nlohmann::json::parse(RenderJsonLine(third));
    EXPECT_EQ(json["rs_corrected_count"], 36);
    EXPECT_EQ(json["rs_corrected_total"], 108);
    EXPECT_EQ(json["rs_corrected_per_second"], 2.0);
    EXPECT_EQ(json["link_fail_count"], 2);
    EXPECT_FALSE(json.contains("link_failures_total")) << "the metric's total only";
    EXPECT_EQ(json["ethernet_totals"]["frame_check_sequence_errors"], 18);
}

TEST(MonitorPoll, TheLineRateIsExportedInBytesPerSecond) {
    // 8C40 = 22: QAM 64 (6 bits a symbol), interpolation 8; with a 22.5 MHz crystal 16.875 Mbit/s, which
    // is 2,109,375 bytes per second.
    opstest::CScriptedBus bus;
    bus.regs["8C40"] = 0x22;
    CBoardPasses passes(bus);
    LinkValues link;
    ASSERT_TRUE(passes.ReadLinkSettings(22500000, link));
    ASSERT_TRUE(link.downstream.lineRateBytesPerSecond);
    EXPECT_EQ(*link.downstream.lineRateBytesPerSecond, 2109375.0);
    Snapshot s;
    s.port = "a";
    s.boardUp = true;
    s.link = link;
    s.haveLink = true;
    EXPECT_NE(RenderExposition(s).find("tessor_line_rate_bytes_per_second{port=\"a\",side=\"unknown\","
                                       "direction=\"downstream\"} 2109375\n"),
              std::string::npos)
        << RenderExposition(s);
}

TEST(MonitorPoll, AGarbled8C71LeavesTheLineUnknownAndIsNeverExportedAsDown) {
    opstest::CScriptedBus bus;
    bus.regs["8C71"] = 0xC2;
    bus.fail = [](std::size_t, const std::string& line) -> std::optional<Outcome> {
        return line == "RD 8C71" ? std::optional<Outcome>(Outcome::Garbled) : std::nullopt;
    };
    CBoardPasses passes(bus);
    ops::PhyPass pass;
    ASSERT_TRUE(passes.ReadPhy(ops::PhyReferencesFor(0), pass));
    const PhyValues& phy = pass.values;
    EXPECT_TRUE(passes.TakeSpoiltSeen());
    EXPECT_FALSE(phy.LineUp().has_value());
    EXPECT_TRUE(phy.linkFailCount);

    Snapshot s;
    s.boardUp = true;
    s.phy = phy;
    s.lineUp = phy.LineUp();
    EXPECT_EQ(RenderExposition(s).find("tessor_line_up"), std::string::npos) << RenderExposition(s);
    EXPECT_NE(RenderJsonLine(s).find("\"line_up\":null"), std::string::npos) << RenderJsonLine(s);
}

// A device name that is not UTF-8 gives a JSON line with U+FFFD in place of the bad byte, not an abort.
TEST(JsonLines, BytesThatAreNotUtf8AreReplaced) {
    Snapshot s;
    s.port = "/dev/x\xff";
    std::string json;
    EXPECT_NO_THROW(json = RenderJsonLine(s));
    EXPECT_NE(json.find("\"port\":\"/dev/x\xEF\xBF\xBD\""), std::string::npos) << json;
}

// A board from an inventory is named in its line (without one the golden line proves neither key).
TEST(JsonLines, ABoardFromAnInventoryCarriesItsSiteAndBoard) {
    Snapshot s;
    s.site = "north";
    s.board = "cab1-a";
    const nlohmann::json line = nlohmann::json::parse(RenderJsonLine(s));
    EXPECT_EQ(line["site"], "north");
    EXPECT_EQ(line["board"], "cab1-a");
}

TEST(Vocabulary, OneNamePerValueInJsonRecordingColumnsAndMetricsAndOldRecordingsStillOpen) {
    Snapshot s;
    s.boardUp = true;
    s.phy.registers.linkStatus = 0x20;
    s.phy.registers.lineFlags = 0;
    s.phy = DecodePhy(s.phy.registers, std::nullopt);
    s.lineUp = false;
    const std::string metrics = RenderExposition(s);
    const std::string json = RenderJsonLine(s);
    const std::string header = rec::RecordingHeader();
    for (const IndicatorDef& d : kIndicatorDefs) {
        EXPECT_NE(metrics.find(std::string("indicator=\"") + d.name + "\""), std::string::npos) << d.name;
        EXPECT_NE(json.find(std::string("\"") + d.name + "\""), std::string::npos) << d.name;
        EXPECT_NE(header.find(std::string(",") + d.name + ","), std::string::npos) << d.name;
    }
    for (const CounterDef& c : kCounterDefs) {
        EXPECT_NE(metrics.find(std::string("\ntessor_") + c.name + "_total{"), std::string::npos) << c.name;
        EXPECT_NE(json.find(std::string("\"") + c.name + "\""), std::string::npos) << c.name;
        EXPECT_NE(header.find(std::string(",") + c.name + "_total,"), std::string::npos) << c.name;
    }

    // A file written with the earlier column names.
    std::string old = header;
    for (const auto& [now, before] : {std::pair<std::string, std::string>{",tc_sync,", ",tc_synchronized,"},
                                      {",tx_pause_frames_total,", ",tx_pause_total,"}}) {
        old.replace(old.find(now), now.size(), before);
    }
    rec::LineStore store;
    std::string error;
    EXPECT_TRUE(rec::ParseRecording(old + "\n", "old.csv", &store, &error)) << error;
}

TEST(MonitorPoll, CorruptedEchoIsCountedAndSkippedSilentBoardIsMarkedDownAndRetried) {
    auto sim = ManualSim();
    sim->AdvanceTime(4000); // the line has trained
    sim->CorruptNextEcho(); // 8C70: the side is not known after the first pass, so its reads come again
    MonitorRun run(SimOptions(sim, 300ms));
    const Snapshot unsure = run.Pass(1);
    EXPECT_TRUE(unsure.boardUp);
    EXPECT_EQ(unsure.id.SideLabel(), "unknown");
    EXPECT_FALSE(unsure.phy.snrCenti);
    const Snapshot good = run.Pass(2);
    EXPECT_EQ(good.id.SideLabel(), "lt");
    EXPECT_TRUE(good.lineUp);
    EXPECT_TRUE(good.phy.snrCenti);
    sim->WithPair([](CSimModemPair& p) {
        p.SetCounter(CSimModemPair::kLocal, 0x8D1C, 500);
        return 0;
    });
    sim->CorruptNextEcho(); // the first PHY read of the next pass
    const Snapshot spoilt = run.Pass(3);
    EXPECT_TRUE(spoilt.boardUp);
    EXPECT_EQ(spoilt.corruptedReplies, 2u);
    EXPECT_FALSE(spoilt.phy.snrCenti);
    EXPECT_TRUE(spoilt.phy.registers.linkStatus);
    EXPECT_EQ(spoilt.ethernet[0], good.ethernet[0] + 500);

    sim->SetSilent(true);
    const Snapshot silent = run.Pass(4);
    EXPECT_FALSE(silent.boardUp);
    EXPECT_EQ(silent.timeOuts, 1u);
    EXPECT_FALSE(silent.phy.registers.linkStatus);
    EXPECT_EQ(silent.ethernet[0], spoilt.ethernet[0]); // totals survive the board's absence
    EXPECT_EQ(silent.id.SideLabel(), "lt");
    EXPECT_NE(RenderExposition(silent).find("tessor_up{port=\"sim\",side=\"lt\"} 0\n"), std::string::npos);
    EXPECT_EQ(RenderExposition(silent).find("tessor_line_up"), std::string::npos);

    sim->SetSilent(false);
    Snapshot back;
    for (std::size_t n = 5; n < 11 && !back.boardUp; ++n)
        back = run.Pass(n);
    EXPECT_TRUE(back.boardUp);
    EXPECT_EQ(back.reconnections, 1u);
    EXPECT_EQ(back.corruptedReplies, 2u);
}

// Every reply arrives, echo and line end right, but with its data spoilt (a wrong speed or framing on the
// console line looks like this to the monitor).
class CSpoilingDevice : public SerialDevice {
public:
    explicit CSpoilingDevice(std::unique_ptr<SerialDevice> device) : m_device(std::move(device)) {}
    IoResult Write(const std::uint8_t* data, std::size_t len) override { return m_device->Write(data, len); }
    IoResult Read(std::uint8_t* data, std::size_t len) override {
        const IoResult r = m_device->Read(data, len);
        for (std::size_t i = 0; i < r.count && i < len; ++i) {
            if (data[i] == ':')
                data[i] = '#';
        }
        return r;
    }
    bool Purge() override { return m_device->Purge(); }
    void Interrupt() override { m_device->Interrupt(); }

private:
    std::unique_ptr<SerialDevice> m_device;
};

TEST(MonitorPoll, ABoardWhoseEveryReplyIsGarbledIsDownWithItsGarbledRepliesCounted) {
    auto sim = ManualSim();
    sim->AdvanceTime(4000);
    MonitorOptions options = SimOptions(sim, 300ms);
    options.opener = [sim](const std::string&, const LineSettings&, int*) -> std::unique_ptr<SerialDevice> {
        return std::make_unique<CSpoilingDevice>(CSimulator::CreateDevice(sim));
    };
    MonitorRun run(options);
    const Snapshot s = run.Pass(1);
    EXPECT_FALSE(s.boardUp);
    EXPECT_GE(s.corruptedReplies, 22u); // at least the PHY and the Ethernet reads
    EXPECT_EQ(s.timeOuts, 0u);
    const std::string metrics = RenderExposition(s);
    EXPECT_NE(metrics.find("tessor_up{port=\"sim\",side=\"unknown\"} 0\n"), std::string::npos) << metrics;
    EXPECT_NE(metrics.find("tessor_corrupted_replies_total{port=\"sim\",side=\"unknown\"} " +
                           std::to_string(s.corruptedReplies) + "\n"),
              std::string::npos)
        << metrics;
    const nlohmann::json line = nlohmann::json::parse(RenderJsonLine(s));
    EXPECT_EQ(line["up"], false);
    EXPECT_TRUE(line["line_up"].is_null());
    // It is tried again at the next interval, as a silent board is.
    EXPECT_FALSE(run.Pass(2).boardUp);
}

TEST(MonitorPoll, LostDeviceIsReopenedWithGrowingPausesUpToTheLimit) {
    auto first = ManualSim();
    auto second = ManualSim();
    std::mutex mutex;
    std::vector<std::chrono::steady_clock::time_point> attempts;
    std::atomic<bool> plugged{true};
    std::atomic<bool> useSecond{false};
    MonitorOptions o = SimOptions(first, 40ms);
    o.firstRetry = 20ms;
    o.maxRetry = 80ms;
    o.opener = [&](const std::string&, const LineSettings&, int* err) -> std::unique_ptr<SerialDevice> {
        std::lock_guard<std::mutex> lock(mutex);
        attempts.push_back(std::chrono::steady_clock::now());
        if (!plugged.load()) {
            *err = ENOENT;
            return nullptr;
        }
        return CSimulator::CreateDevice(useSecond.load() ? second : first);
    };
    MonitorRun run(o);
    // The board must have answered once before it is lost: on a busy machine a first pass may miss the
    // short answer wait, and a board never seen cannot be reconnected.
    std::size_t n = 1;
    while (n < 20 && !run.Pass(n).boardUp)
        ++n;
    ASSERT_TRUE(run.Pass(n).boardUp);
    plugged = false;
    first->HangUp();
    // Enough tries while unplugged for the pauses to reach the limit: 20, 40, 80, then at the limit.
    const std::size_t before = [&] {
        std::lock_guard<std::mutex> lock(mutex);
        return attempts.size();
    }();
    ASSERT_TRUE(WaitFor(
        [&] {
            std::lock_guard<std::mutex> lock(mutex);
            return attempts.size() >= before + 8;
        },
        10s));
    useSecond = true;
    plugged = true;
    // Only passes from here on: on a busy machine the passes that ended before the unplugging may not
    // have been looked at yet.
    Snapshot back;
    n = run.Count();
    for (const std::size_t last = n + 40; n < last && !back.boardUp; ++n)
        back = run.Pass(n + 1);
    run.Stop();

    EXPECT_TRUE(back.boardUp);
    EXPECT_EQ(back.reconnections, 1u);
    EXPECT_EQ(back.timeOuts, 0u); // a lost device is not a silent board
    std::lock_guard<std::mutex> lock(mutex);
    ASSERT_GE(attempts.size(), 7u);
    std::vector<long> gaps;
    for (std::size_t i = 2; i < attempts.size(); ++i)
        gaps.push_back(static_cast<long>(
            std::chrono::duration_cast<std::chrono::milliseconds>(attempts[i] - attempts[i - 1]).count()));
    // 20, 40, 80, 80, ... ms: growing, then never longer than the limit (plus scheduling slack).
    EXPECT_LT(gaps[0], gaps[2]);
    for (std::size_t i = 3; i + 1 < gaps.size(); ++i) {
        EXPECT_GE(gaps[i], 75);
        EXPECT_LT(gaps[i], 200);
    }
}

// A console server's connection that says its own text and then ends, as a server turning a client away.
class TurnedAwayConnection : public SerialDevice {
public:
    IoResult Write(const std::uint8_t*, std::size_t len) override { return {IoResult::Ok, 0, len}; }
    IoResult Read(std::uint8_t* data, std::size_t len) override {
        static const char kText[] = "Port's device already in use\r\n";
        if (m_next + 1 >= sizeof kText || len == 0)
            return {IoResult::HungUp, kNetworkClosedByServer, 0};
        data[0] = static_cast<std::uint8_t>(kText[m_next++]);
        return {IoResult::Ok, 0, 1};
    }
    bool Purge() override { return true; }
    void Interrupt() override {}

private:
    std::size_t m_next = 0;
};

// A console server that turns the monitor away for a while: the port busy is logged, the board is down
// (not silent) meanwhile, and the monitor connects again as after any lost connection.
TEST(MonitorPoll, AConsoleServerTurningTheMonitorAwayIsConnectedAgainLikeALostDevice) {
    auto sim = ManualSim();
    std::atomic<int> opens{0};
    MonitorOptions o = SimOptions(sim, 40ms);
    o.firstRetry = 20ms;
    o.maxRetry = 80ms;
    o.opener = [&](const std::string&, const LineSettings&, int*) -> std::unique_ptr<SerialDevice> {
        if (opens++ < 3)
            return std::make_unique<TurnedAwayConnection>();
        return CSimulator::CreateDevice(sim);
    };
    MonitorRun run(o);
    Snapshot up;
    for (std::size_t n = 1; n <= 40 && !up.boardUp; ++n)
        up = run.Pass(n);
    run.Stop();
    EXPECT_TRUE(up.boardUp);
    EXPECT_EQ(up.timeOuts, 0u) << "a busy port is not a silent board";
    EXPECT_GE(opens.load(), 4);
    const std::vector<std::string> log = run.Log();
    const auto busy = std::count_if(log.begin(), log.end(), [](const std::string& line) {
        return line.find("the console server's port is busy or refused the connection") != std::string::npos;
    });
    EXPECT_GE(busy, 1) << ::testing::PrintToString(log);
}

TEST(MonitorRecording, EveryPassIsAppendedOnceAcrossRenewalsWithTheBoardsAbsenceInTheJournal) {
    char path[] = "/tmp/tessor-monitor-recording-XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    std::remove(path); // a new file gets the header
    std::string error;
    // A tiny memory limit renews the recorder every few passes.
    auto recording = CMonitorRecording::Open(path, 50ms, nullptr, &error, 4096);
    ASSERT_TRUE(recording) << error;

    auto sim = ManualSim();
    sim->AdvanceTime(4000);
    std::mutex mutex;
    std::vector<Snapshot> passes;
    MonitorOptions o = SimOptions(sim, 50ms);
    o.device = "sim";
    // Only the silenced passes go unanswered: a reply slowed by a loaded machine (or the sanitizers) must
    // not make an absence of its own.
    o.answerTimeout = 1000ms;
    CMonitor monitor(
        o,
        [&](const Snapshot& s) {
            recording->AddPass(s);
            std::lock_guard<std::mutex> lock(mutex);
            passes.push_back(s);
            if (passes.size() == 12)
                sim->SetSilent(true);
            if (passes.size() == 14)
                sim->SetSilent(false);
            if (passes.size() == 30)
                monitor.Stop();
        },
        nullptr);
    monitor.Run();

    rec::LineStore store;
    ASSERT_TRUE(rec::ReadRecording(path, &store, &error)) << error;
    std::remove(path);
    EXPECT_GT(recording->Renewals(), 2);
    ASSERT_EQ(store.phy.size(), passes.size());
    std::size_t answered = 0;
    for (std::size_t i = 0; i < passes.size(); ++i) {
        EXPECT_EQ(store.phy[i].answered, passes[i].boardUp) << i;
        answered += passes[i].boardUp ? 1 : 0;
    }
    ASSERT_EQ(store.eth.size(), answered);
    EXPECT_EQ(store.eth.back().totals, passes.back().ethernet);
    int noAnswer = 0, again = 0, lineUp = 0, started = 0, named = 0;
    for (const rec::Event& e : store.events) {
        named += e.kind == rec::EventKind::Recording && e.text.rfind("Board ", 0) == 0;
        noAnswer += e.kind == rec::EventKind::NoAnswer;
        again += e.kind == rec::EventKind::AnsweringAgain;
        lineUp += e.kind == rec::EventKind::LineUp;
        started += e.text == std::string("Recording to ") + path;
    }
    EXPECT_EQ(noAnswer, 1);
    EXPECT_EQ(again, 1);
    EXPECT_EQ(lineUp, 1);  // renewals derive nothing of their own
    EXPECT_EQ(started, 1); // nor start a recording of their own
    EXPECT_EQ(named, 0);   // a board without an inventory is not named
    ASSERT_TRUE(store.phy[0].values.snrCenti);
    EXPECT_EQ(store.phy[0].values.snrCenti, passes.front().phy.snrCenti);
}

TEST(MonitorRecording, ARecordingWithTheFormerColumnNamesIsContinuedUnderItsOwnHeader) {
    char path[] = "/tmp/tessor-monitor-former-XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    std::string former = rec::RecordingHeader();
    former.replace(former.find(",tc_sync,"), 9, ",tc_synchronized,");
    std::ofstream(path, std::ios::trunc) << "\xEF\xBB\xBF" << former << "\n";
    std::string error;
    auto recording = CMonitorRecording::Open(path, 5000ms, nullptr, &error);
    ASSERT_TRUE(recording) << error;
    Snapshot s;
    s.boardUp = true;
    s.results.phy.answered = true;
    s.results.phy.raw.linkStatus = RegResult::Answer(0x20);
    s.results.phy.values = DecodePhy(ops::RegistersOf(s.results.phy.raw), std::nullopt);
    recording->AddPass(s);
    recording.reset();
    std::ifstream in(path);
    std::string first;
    std::getline(in, first);
    EXPECT_EQ(first, "\xEF\xBB\xBF" + former);
    rec::LineStore store;
    ASSERT_TRUE(rec::ReadRecording(path, &store, &error)) << error;
    EXPECT_EQ(store.skippedRows, 0u);
    ASSERT_EQ(store.phy.size(), 1u);
    EXPECT_TRUE(store.phy[0].values.indicators & 1u << kIndTcSync);
    EXPECT_EQ(store.eth.size(), 1u);
    std::remove(path);
}

// The recording keeps the pass as the monitor decoded it, and a pass the board did not answer read no
// register: none is written as a value.
TEST(MonitorRecording, RowsHoldThePassAsDecodedAndNoRegistersWithoutAnAnswer) {
    char path[] = "/tmp/tessor-monitor-rows-XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    std::remove(path);
    std::string error;
    auto recording = CMonitorRecording::Open(path, 5000ms, nullptr, &error);
    ASSERT_TRUE(recording) << error;
    recording->NameBoard("north", "cab1-a"); // as for a board from an inventory
    Snapshot s;
    s.boardUp = true;
    s.results.phy.answered = true;
    s.results.phy.values.registers.linkStatus = 0xAE;
    s.results.phy.values.snrCenti = 3141; // taken as it is, not worked out again
    // Each row has the time of its pass, however late the recording's queue writes it.
    s.results.at = {1765000000000, 500000};
    recording->AddPass(s);
    s.boardUp = false;
    s.results.at = {1765000000200, 500200};
    recording->AddPass(s);
    recording.reset();
    rec::LineStore store;
    ASSERT_TRUE(rec::ReadRecording(path, &store, &error)) << error;
    ASSERT_EQ(store.phy.size(), 2u);
    EXPECT_EQ(store.phy[0].time.wallMs, 1765000000000);
    EXPECT_EQ(store.phy[1].time.wallMs, 1765000000200);
    EXPECT_EQ(store.phy[0].values.snrCenti, 3141);
    EXPECT_EQ(store.phy[0].values.registers.linkStatus, 0xAEu);
    EXPECT_FALSE(store.phy[1].answered);
    EXPECT_TRUE(std::any_of(store.events.begin(), store.events.end(),
                            [](const rec::Event& e) { return e.text == "Board cab1-a at site north"; }));
    const PhyRegisters& silent = store.phy[1].values.registers;
    for (const std::optional<std::uint32_t>* r :
         {&silent.errorValue, &silent.txLevel, &silent.rsCorrected, &silent.linkStatus, &silent.lineFlags,
          &silent.linkFailCount})
        EXPECT_FALSE(r->has_value());
    std::remove(path);
}

// The simulator driven, pass by pass, through errors, corrected errors, a retrain and an outage long
// enough to make the line unavailable; the counters, the time since the sync began and the recording's
// interval_class column are those of the injected faults. 1000 frames a read, 1 s between reads.
TEST(MonitorIntervals, ErrorsARetrainAndAnOutageAreCountedAndRecordedAsInjected) {
    auto sim = ManualSim();
    sim->AdvanceTime(4000); // the line trains
    auto pair = [&sim](auto f) {
        sim->WithPair([&f](CSimModemPair& p) {
            f(p);
            return 0;
        });
    };
    pair([](CSimModemPair& p) {
        p.FixCount(0x8D20, 1000); // frames received
        p.FixCount(0x8CF8, 0);    // receive errors
        p.FixCount(0x8D04, 0);    // FCS errors
        p.FixCount(0x8C91, 0);    // corrected RS errors
    });
    // The clock is read after the PHY reads of pass n and before its Ethernet reads: an FCS count set
    // there is read in pass n, a line change or an RS count in pass n + 1. Interval n ends at pass n.
    constexpr int kPasses = 33;
    std::atomic<int> reads{0};
    MonitorOptions options = SimOptions(sim, 20ms);
    options.snrBaselineDb = 38.5;
    options.readClock = [&reads, &sim, &pair] {
        const int n = reads.fetch_add(1);
        pair([n](CSimModemPair& p) {
            p.FixCount(0x8D04, n == 2 ? 5 : n == 3 ? 20 : 0); // 0.5 %: errored; 2 %: severely errored
            p.FixCount(0x8C91, n == 3 ? 7 : 0);               // interval 4: FEC
            if (n == 5)
                p.DropLine(); // interval 6: a retrain
            if (n == 7 || n == 19)
                p.SetLineCut(n == 7); // intervals 8..19 down, 20 up again
        });
        sim->AdvanceTime(n == 5 || n == 19 ? 4000 : 1000);
        return std::chrono::steady_clock::time_point{} + std::chrono::seconds(n);
    };
    char path[] = "/tmp/tessor-monitor-intervals-XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    std::remove(path);
    std::vector<Snapshot> passes;
    {
        MonitorRun run(options);
        for (int n = 1; n <= kPasses; ++n)
            passes.push_back(run.Pass(static_cast<std::size_t>(n)));
        run.Stop();
        std::string error;
        auto recording = CMonitorRecording::Open(path, 1000ms, nullptr, &error);
        ASSERT_TRUE(recording) << error;
        for (const Snapshot& s : passes)
            recording->AddPass(s);
    }
    for (const Snapshot& s : passes)
        ASSERT_TRUE(s.boardUp);

    // Errored 2, 3, 6 (severely 3 and 6), FEC 4; unavailable from the first down interval (8) to the one
    // before the 10 that are not severely errored (21..30): 8..20, the retrain at 20 within it.
    const Snapshot& last = passes.back();
    EXPECT_EQ(last.intervals.errored.intervals, 3u);
    EXPECT_EQ(last.intervals.severelyErrored.intervals, 2u);
    EXPECT_EQ(last.intervals.fec.intervals, 1u);
    EXPECT_EQ(last.intervals.unavailable.intervals, 13u);
    EXPECT_EQ(last.intervals.unmeasured.intervals, 0u);
    const std::string text = RenderExposition(last);
    for (const char* line : {"tessor_line_errored_intervals_total{port=\"sim\",side=\"lt\"} 3\n",
                             "tessor_line_severely_errored_intervals_total{port=\"sim\",side=\"lt\"} 2\n",
                             "tessor_line_unavailable_intervals_total{port=\"sim\",side=\"lt\"} 13\n",
                             "tessor_line_fec_intervals_total{port=\"sim\",side=\"lt\"} 1\n",
                             "tessor_line_unmeasured_intervals_total{port=\"sim\",side=\"lt\"} 0\n",
                             "tessor_line_errored_seconds_total{port=\"sim\",side=\"lt\"} 3\n",
                             "tessor_line_severely_errored_seconds_total{port=\"sim\",side=\"lt\"} 2\n",
                             "tessor_line_unavailable_seconds_total{port=\"sim\",side=\"lt\"} 13\n",
                             "tessor_line_available_seconds_total{port=\"sim\",side=\"lt\"} 19\n",
                             "tessor_line_snr_baseline_decibels{port=\"sim\",side=\"lt\"} 38.5\n"})
        EXPECT_NE(text.find(line), std::string::npos) << line << text;
    // The counters never went down from one pass to the next.
    for (std::size_t i = 1; i < passes.size(); ++i) {
        EXPECT_GE(passes[i].intervals.unavailable.intervals, passes[i - 1].intervals.unavailable.intervals);
        EXPECT_GE(passes[i].intervals.available.ms, passes[i - 1].intervals.available.ms);
    }
    // Up since the first pass, then since the retrain, none while down, then since the line came back.
    auto wallSeconds = [&passes](int n) {
        return static_cast<double>(passes[static_cast<std::size_t>(n)].results.at.wallMs) / 1000.0;
    };
    EXPECT_EQ(passes[5].upSinceUnixSeconds, wallSeconds(0));
    EXPECT_EQ(passes[6].upSinceUnixSeconds, wallSeconds(6));
    EXPECT_FALSE(passes[8].upSinceUnixSeconds);
    EXPECT_EQ(passes[20].upSinceUnixSeconds, wallSeconds(20));
    EXPECT_EQ(last.upSinceUnixSeconds, wallSeconds(20));
    EXPECT_EQ(RenderExposition(passes[8]).find("tessor_line_up_since_timestamp_seconds{"), std::string::npos);
    EXPECT_NE(text.find("tessor_line_up_since_timestamp_seconds{port=\"sim\",side=\"lt\"} "),
              std::string::npos);

    // The recording holds each pass's final class, read back through the reader.
    std::vector<std::string> expected(kPasses, "good");
    expected[0] = "";
    expected[2] = "errored";
    expected[3] = expected[6] = "severely_errored";
    expected[4] = "fec";
    for (int n = 8; n <= 20; ++n)
        expected[static_cast<std::size_t>(n)] = "unavailable";
    rec::LineStore store;
    std::string error;
    ASSERT_TRUE(rec::ReadRecording(path, &store, &error)) << error;
    std::vector<std::string> recorded;
    for (std::size_t i = 0; i < store.phy.size(); ++i) {
        const std::optional<IntervalClass>& c = store.phy[i].intervalClass;
        recorded.push_back(c ? IntervalClassName(*c) : "");
    }
    EXPECT_EQ(recorded, expected);
    std::remove(path);
}

TEST(MonitorRecording, AFullDiskThenSpaceFreedKeepsTheFileReadableAndTheLogTrue) {
    char path[] = "/tmp/tessor-monitor-full-XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    std::remove(path);
    std::vector<std::string> log;
    std::string error;
    auto recording = CMonitorRecording::Open(
        path, 5000ms, [&](const std::string& line) { log.push_back(line); }, &error);
    ASSERT_TRUE(recording) << error;
    Snapshot silent; // a pass the board did not answer: one row
    recording->AddPass(silent);
    struct stat st {};
    ASSERT_EQ(::stat(path, &st), 0);
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit full = old;
    full.rlim_cur = static_cast<rlim_t>(st.st_size + 30); // the next row gets 30 bytes, as on a full disk
    if (setrlimit(RLIMIT_FSIZE, &full) != 0)
        GTEST_SKIP() << "this system does not let a process limit its file size";
    recording->AddPass(silent);
    recording->AddPass(silent);
    setrlimit(RLIMIT_FSIZE, &old); // space freed
    recording->AddPass(silent);
    recording->AddPass(silent);

    ASSERT_EQ(log.size(), 2u);
    EXPECT_NE(log[0].find("failed: File too large."), std::string::npos) << log[0];
    EXPECT_EQ(log[0].find("exported"), std::string::npos) << "the monitor cannot export: " << log[0];
    EXPECT_NE(log[0].find("not in the file"), std::string::npos) << log[0];
    EXPECT_EQ(log[1], std::string(path) + ": recording again");
    rec::LineStore store;
    ASSERT_TRUE(rec::ReadRecording(path, &store, &error)) << error;
    std::remove(path);
    EXPECT_EQ(store.phy.size(), 3u); // before the full disk, and the two passes after it
    EXPECT_EQ(store.skippedRows, 1u);
}

TEST(MonitorExposition, FamiliesAreTypedAndLabelsEscaped) {
    Snapshot s;
    s.port = "/dev/a\"b\\c\nd";
    s.boardUp = true;
    s.lineUp = true;
    s.id.typeRegister = 0x10;
    PhyRegisters registers;
    registers.linkStatus = 0xAE;
    registers.lineFlags = 0x81;
    s.phy = DecodePhy(registers, std::nullopt);
    s.phy.snrCenti = 2879;
    s.ethernet[4] = 4294967296u;
    const std::string text = RenderExposition(s);
    EXPECT_NE(text.find("# HELP tessor_line_snr_decibels "), std::string::npos);
    EXPECT_NE(text.find("# TYPE tessor_line_snr_decibels gauge\n"
                        "tessor_line_snr_decibels{port=\"/dev/a\\\"b\\\\c\\nd\",side=\"nt\"} 28.79\n"),
              std::string::npos);
    EXPECT_NE(text.find("# TYPE tessor_tx_octets_total counter\n"
                        "tessor_tx_octets_total{port=\"/dev/a\\\"b\\\\c\\nd\",side=\"nt\"} 4294967296\n"),
              std::string::npos);
    EXPECT_NE(text.find("indicator=\"micro_interruption\"} 1\n"), std::string::npos);
    EXPECT_NE(text.find("indicator=\"agc_converged\"} 0\n"), std::string::npos);
    EXPECT_EQ(text.find("tessor_line_mse_decibels"), std::string::npos); // not measured: left out
}

// A poll thread that hangs (here in what it does with a finished pass) stops completing passes: after three
// intervals and the answer wait the exposition says the board is down and serves none of its readings, and
// the age of the last pass tells how long; the next completed pass brings them back.
TEST(MonitorPoll, HungPollLoopIsServedAsDownAndStaleNeverAsFresh) {
    auto sim = ManualSim();
    sim->AdvanceTime(4000); // the line has trained
    std::mutex mutex;
    std::condition_variable cv;
    bool hang = false;
    std::size_t passes = 0;
    MonitorOptions o = SimOptions(sim, 50ms);
    o.device = "sim";
    CMonitor monitor(
        o,
        [&](const Snapshot& s) {
            std::unique_lock<std::mutex> lock(mutex);
            passes += 1;
            if (s.lineUp && passes >= 2)
                hang = true;
            cv.wait(lock, [&] { return !hang; });
        },
        nullptr);
    std::thread poll([&] { monitor.Run(); });
    auto hanging = [&] {
        std::lock_guard<std::mutex> lock(mutex);
        return hang;
    };
    ASSERT_TRUE(WaitFor(hanging, 10s, 2ms));
    const std::string fresh = monitor.Exposition();
    EXPECT_NE(fresh.find("tessor_up{port=\"sim\",side=\"lt\"} 1\n"), std::string::npos) << fresh;
    EXPECT_NE(fresh.find("tessor_poll_stale{port=\"sim\",side=\"lt\"} 0\n"), std::string::npos);

    // The page turns stale once three intervals and an answer wait have passed without a pass, and the
    // age of the last pass then shows more than that time: wait for both (bounded), not for a guessed time.
    const auto ageOf = [](const std::string& page) {
        const auto at = page.find("tessor_last_pass_age_seconds{port=\"sim\",side=\"lt\"} ");
        return at == std::string::npos ? 0.0 : std::stod(page.substr(page.find("} ", at) + 2));
    };
    const auto isStale = [&] {
        const std::string page = monitor.Exposition();
        return page.find("tessor_poll_stale{port=\"sim\",side=\"lt\"} 1\n") != std::string::npos &&
               ageOf(page) > 0.25;
    };
    WaitFor(isStale, 10s, 5ms);
    const std::string stale = monitor.Exposition();
    EXPECT_NE(stale.find("tessor_up{port=\"sim\",side=\"lt\"} 0\n"), std::string::npos) << stale;
    EXPECT_NE(stale.find("tessor_poll_stale{port=\"sim\",side=\"lt\"} 1\n"), std::string::npos);
    for (const char* gone : {"tessor_line_up", "tessor_line_snr_decibels", "tessor_indicator",
                             "tessor_tx_power_dbm_per_hertz", "tessor_line_rate_bytes_per_second"})
        EXPECT_EQ(stale.find(gone), std::string::npos) << gone;
    const auto age = stale.find("tessor_last_pass_age_seconds{port=\"sim\",side=\"lt\"} ");
    ASSERT_NE(age, std::string::npos);
    EXPECT_GT(std::stod(stale.substr(stale.find("} ", age) + 2)), 0.25);

    {
        std::lock_guard<std::mutex> lock(mutex);
        hang = false;
        passes = 0;
    }
    cv.notify_all();
    std::string again;
    WaitFor(
        [&] {
            again = monitor.Exposition();
            return again.find("tessor_line_up{port=\"sim\",side=\"lt\"} 1\n") != std::string::npos;
        },
        5s, 5ms);
    EXPECT_NE(again.find("tessor_poll_stale{port=\"sim\",side=\"lt\"} 0\n"), std::string::npos) << again;
    monitor.Stop();
    {
        std::lock_guard<std::mutex> lock(mutex);
        hang = false;
    }
    cv.notify_all();
    poll.join();
}

// Two boards polled by two monitors in one process, each thread bound to its own port: each board sees only
// its own passes, and the silent one's time-outs do not delay the other's cadence.
TEST(MonitorPoll, TwoBoardsInOneProcessKeepTheirOwnTrafficAndCadence) {
    auto healthy = ManualSim();
    auto silent = ManualSim();
    silent->SetSilent(true);
    MonitorOptions ho = SimOptions(healthy, 200ms);
    MonitorOptions so = SimOptions(silent, 200ms);
    so.answerTimeout = 400ms; // far longer than the other's interval
    std::vector<double> starts;
    ho.device = "healthy";
    CMonitor other(so, nullptr, nullptr);
    std::thread otherThread([&] { other.Run(); });
    MonitorRun run(ho);
    for (std::size_t n = 1; n <= 8; ++n) {
        const Snapshot s = run.Pass(n);
        EXPECT_TRUE(s.boardUp) << n;
        starts.push_back(s.passStartUnixSeconds);
    }
    run.Stop();
    other.Stop();
    otherThread.join();

    const std::string start =
        Reads({"8C70", "8C72", "8C73", "8C6F", "8C11", "8C40", "8C42,2", "8C41", "8C44,2", "8D43"});
    std::string expected = start;
    for (int i = 0; i < 8; ++i)
        expected += kPhyPass + kEthernetPass;
    const std::string traffic = healthy->BytesToBoard();
    ASSERT_GE(traffic.size(), expected.size());
    EXPECT_EQ(traffic.substr(0, expected.size()), expected);
    // The silent board was asked only for its identification, once per try.
    const std::string asked = silent->BytesToBoard();
    EXPECT_FALSE(asked.empty());
    for (std::size_t at = 0; at < asked.size(); at = asked.find('\n', at) + 1)
        EXPECT_EQ(asked.compare(at, 8, "RD 8C70\n"), 0) << asked;
    const Snapshot last = other.Current();
    EXPECT_FALSE(last.boardUp);
    EXPECT_GE(last.timeOuts, 1u);
    std::vector<double> gaps;
    for (std::size_t i = 1; i < starts.size(); ++i)
        gaps.push_back(starts[i] - starts[i - 1]);
    std::sort(gaps.begin(), gaps.end());
    EXPECT_LT(gaps[gaps.size() / 2], 0.3) << "the healthy board's passes stay 200 ms apart";
}

// A board away for longer than the stale time, the monitor waiting between tries to open it: down, and
// not stale, since the loop itself is alive.
TEST(MonitorPoll, UnpluggedBoardIsDownNotStaleWhileTheLoopWaitsToReopen) {
    MonitorOptions o;
    o.device = "gone";
    o.interval = 20ms;
    o.answerTimeout = 20ms;
    o.firstRetry = 800ms;
    o.maxRetry = 800ms;
    std::atomic<int> tries{0};
    o.opener = [&](const std::string&, const LineSettings&, int* err) -> std::unique_ptr<SerialDevice> {
        tries++;
        *err = ENOENT;
        return nullptr;
    };
    CMonitor monitor(o, nullptr, nullptr);
    std::thread poll([&] { monitor.Run(); });
    // The first try, then past the stale time (three intervals and the answer wait) from it, well before
    // the second try.
    ASSERT_TRUE(WaitFor([&] { return tries.load() >= 1; }, 10s, 2ms));
    const auto tried = std::chrono::steady_clock::now();
    WaitFor([&] { return std::chrono::steady_clock::now() - tried > 3 * o.interval + o.answerTimeout; }, 1s,
            5ms);
    const std::string text = monitor.Exposition();
    monitor.Stop();
    poll.join();
    EXPECT_EQ(tries.load(), 1);
    EXPECT_NE(text.find("tessor_up{port=\"gone\",side=\"unknown\"} 0\n"), std::string::npos) << text;
    EXPECT_NE(text.find("tessor_poll_stale{port=\"gone\",side=\"unknown\"} 0\n"), std::string::npos);
    EXPECT_EQ(text.find("tessor_last_pass_age_seconds"), std::string::npos) << "no pass yet";
}

// An output that blocks takes what its queue holds and no more: the rest is dropped and counted, told
// once, and the pushing side never waits.
TEST(MonitorOutputs, BlockedOutputDropsAndCountsWithoutHoldingThePusher) {
    std::mutex mutex;
    std::condition_variable cv;
    bool release = false;
    std::vector<std::uint64_t> written;
    std::vector<std::string> log;
    std::uint64_t droppedCount = 0;
    {
        COutputQueue queue(
            "jsonl", "",
            [&](const Snapshot& s) {
                std::unique_lock<std::mutex> lock(mutex);
                cv.wait(lock, [&] { return release; });
                written.push_back(s.passes);
            },
            [&](const std::string& line) { log.push_back(line); }, 4);
        const auto start = std::chrono::steady_clock::now();
        Snapshot s;
        for (s.passes = 1; s.passes <= 20; ++s.passes)
            queue.Push(s);
        EXPECT_LT(std::chrono::steady_clock::now() - start, 100ms);
        const OutputDropped dropped = queue.Dropped();
        droppedCount = dropped.count;
        EXPECT_EQ(dropped.output, "jsonl");
        // One taken by the writer, four queued.
        EXPECT_GE(dropped.count, 15u);
        EXPECT_LE(dropped.count, 16u);
        ASSERT_EQ(log.size(), 1u);
        EXPECT_NE(log[0].find("jsonl output is not keeping up"), std::string::npos);
        EXPECT_NE(RenderOutputsDropped({dropped}).find("tessor_output_dropped_total{output=\"jsonl\"} " +
                                                       std::to_string(dropped.count) + "\n"),
                  std::string::npos);
        {
            std::lock_guard<std::mutex> lock(mutex);
            release = true;
        }
        cv.notify_all();
        EXPECT_TRUE(queue.Finish(2s));
    }
    ASSERT_EQ(written.size(), 20 - droppedCount);
    for (std::size_t i = 1; i < written.size(); ++i)
        EXPECT_LT(written[i - 1], written[i]) << "in order";
    EXPECT_EQ(written.front(), 1u);
}

// Several boards' expositions as one: one HELP and TYPE per family, every board's samples under it.
TEST(MonitorExposition, SeveralBoardsAreMergedFamilyByFamily) {
    Snapshot a;
    a.port = "/dev/ttyUSB0";
    a.boardUp = true;
    a.lineUp = true;
    a.phy.snrCenti = 3050;
    Snapshot b;
    b.port = "/dev/ttyUSB1"; // down
    const std::string merged = MergeExpositions({RenderExposition(a) + RenderPollHealth(a, 1.5, false),
                                                 RenderExposition(b) + RenderPollHealth(b, {}, true)});
    auto count = [&](const std::string& what) {
        std::size_t n = 0;
        for (auto at = merged.find(what); at != std::string::npos; at = merged.find(what, at + 1))
            ++n;
        return n;
    };
    EXPECT_EQ(count("# TYPE tessor_up gauge\n"), 1u);
    EXPECT_NE(merged.find("# TYPE tessor_up gauge\ntessor_up{port=\"/dev/ttyUSB0\",side=\"unknown\"} 1\n"
                          "tessor_up{port=\"/dev/ttyUSB1\",side=\"unknown\"} 0\n"),
              std::string::npos)
        << merged;
    EXPECT_EQ(count("# HELP tessor_poll_passes_total "), 1u);
    EXPECT_EQ(count("tessor_poll_passes_total{"), 2u);
    EXPECT_EQ(count("tessor_line_snr_decibels{"), 1u);
    EXPECT_EQ(count("tessor_last_pass_age_seconds{"), 1u);
    EXPECT_EQ(count("tessor_poll_stale{"), 2u);
    // Every sample line of both is there, none twice.
    auto samples = [](const std::string& text) {
        std::size_t n = 0;
        std::istringstream lines(text);
        for (std::string line; std::getline(lines, line);)
            n += line.rfind("#", 0) == 0 ? 0 : 1;
        return n;
    };
    EXPECT_EQ(samples(merged), samples(RenderExposition(a)) + samples(RenderExposition(b)) + 3);
}

TEST(MonitorListen, AddressesAreParsedStrictly) {
    std::string host;
    int port = 0;
    EXPECT_TRUE(ParseListenAddress("127.0.0.1:9870", &host, &port));
    EXPECT_EQ(host, "127.0.0.1");
    EXPECT_EQ(port, 9870);
    EXPECT_TRUE(ParseListenAddress("[::1]:0", &host, &port));
    EXPECT_EQ(host, "::1");
    for (const char* bad :
         {"127.0.0.1", ":9870", "127.0.0.1:", "127.0.0.1:70000", "::1:80", "a:b", "[::1]80"})
        EXPECT_FALSE(ParseListenAddress(bad, &host, &port)) << bad;
}

TEST(MonitorEndpoint, RequestTargetsNameOnlyTheExactPaths) {
    struct Case {
        std::string target;
        EndpointPath path;
    };
    const std::vector<Case> cases{
        {"/metrics", EndpointPath::Metrics},
        {"/", EndpointPath::Index},
        {"/metric%73", EndpointPath::Metrics},
        {std::string("/metrics%00.html"), EndpointPath::None},
        {"/metrics%00", EndpointPath::None},
        {"/metrics/", EndpointPath::None},
        {"/metrics.html", EndpointPath::None},
        {"/metrics%", EndpointPath::None},
        {"/metrics%2", EndpointPath::None},
        {"/metrics%zz", EndpointPath::None},
        {"//metrics", EndpointPath::None},
        {"", EndpointPath::None},
        {"*", EndpointPath::None},
        {"metrics", EndpointPath::None},
        {"http://127.0.0.1:9870/metrics", EndpointPath::Metrics},
        {"HTTP://example.net/metrics", EndpointPath::Metrics},
        {"https://[::1]:9870/metrics", EndpointPath::Metrics},
        {"http://127.0.0.1:9870/", EndpointPath::Index},
        {"http://127.0.0.1:9870", EndpointPath::Index},
        {"http://127.0.0.1:9870/metrics%00.html", EndpointPath::None},
        {"http://127.0.0.1:9870/other", EndpointPath::None},
        {"ftp://127.0.0.1/metrics", EndpointPath::None},
        {"http:/metrics", EndpointPath::None},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ResolveTarget(c.target), c.path) << c.target;
}

// Raw HTTP on one loopback connection: what was written comes back as one string, until the peer closes
// or the time is up.
class RawConnection {
public:
    explicit RawConnection(int port) : m_fd(::socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<std::uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        timeval limit{3, 0};
        setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        m_connected = ::connect(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~RawConnection() { ::close(m_fd); }
    bool Connected() const { return m_connected; }
    bool Send(const std::string& text) {
        return ::send(m_fd, text.data(), text.size(), MSG_NOSIGNAL) == ssize_t(text.size());
    }
    // Reads until `count` answers' heads and bodies (by Content-Length) are in, or the peer closes.
    std::string ReadAnswers(int count) {
        std::string in;
        char buffer[4096];
        while (Complete(in) < count) {
            const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, 0);
            if (n <= 0)
                break;
            in.append(buffer, static_cast<std::size_t>(n));
        }
        return in;
    }

private:
    static int Complete(const std::string& in) {
        int answers = 0;
        std::size_t at = 0;
        while (true) {
            const auto end = in.find("\r\n\r\n", at);
            if (end == std::string::npos)
                return answers;
            const auto length = in.find("Content-Length: ", at);
            std::size_t body = 0;
            if (length != std::string::npos && length < end)
                body = std::stoul(in.substr(length + 16));
            if (in.size() < end + 4 + body)
                return answers;
            ++answers;
            at = end + 4 + body;
        }
    }
    int m_fd;
    bool m_connected = false;
};

TEST(MonitorEndpoint, TwoRequestsOnOneConnectionAreBothAnsweredAndTheConnectionKept) {
    CMetricsServer server([] { return std::string("tessor_up 1\n"); });
    std::string error;
    ASSERT_TRUE(server.Start("127.0.0.1", 0, &error)) << error;
    RawConnection connection(server.Port());
    ASSERT_TRUE(connection.Connected());
    const std::string request = "GET /metrics HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    ASSERT_TRUE(connection.Send(request));
    const std::string first = connection.ReadAnswers(1);
    EXPECT_EQ(first.rfind("HTTP/1.1 200", 0), 0u) << first;
    EXPECT_EQ(first.find("Connection: close"), std::string::npos) << first;
    // The second on the same connection, after the first was answered, as a scraper sends it.
    ASSERT_TRUE(connection.Send(request));
    const std::string second = connection.ReadAnswers(1);
    EXPECT_EQ(second.rfind("HTTP/1.1 200", 0), 0u) << second;
    EXPECT_NE(second.find("tessor_up 1"), std::string::npos) << second;
}

// A new connection never wakes the watch over request deadlines (on a TLS endpoint that wake-up sat in
// every handshake's path): connections one after another, each answered and closed before the next, cost
// it no round beyond its ticks.
TEST(MonitorEndpoint, ConnectionsOneAfterAnotherDoNotWakeTheWatchOverRequestDeadlines) {
    CMetricsServer server([] { return std::string("tessor_up 1\n"); });
    std::string error;
    ASSERT_TRUE(server.Start("127.0.0.1", 0, &error)) << error;
    constexpr int kConnections = 30;
    const auto start = std::chrono::steady_clock::now();
    const std::uint64_t before = server.WatchRounds();
    for (int i = 0; i < kConnections; ++i) {
        RawConnection connection(server.Port());
        ASSERT_TRUE(connection.Send("GET /metrics HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n"));
        // Until the server closed it: the connection is gone from the watch's list before the next comes.
        EXPECT_EQ(connection.ReadAnswers(2).rfind("HTTP/1.1 200", 0), 0u);
    }
    const auto rounds = server.WatchRounds() - before;
    const auto ticks =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start);
    EXPECT_LE(rounds, static_cast<std::uint64_t>(ticks.count()) + 2)
        << "after " << kConnections << " connections";
}

// Every serving thread wakes for each new connection and all but one find nothing to accept: the endpoint
// has two of them, not one per core of a large machine.
TEST(MonitorEndpoint, TwoThreadsServeTheConnections) {
    auto serving = [] {
        int count = 0;
        for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
            std::ifstream comm(task.path() / "comm");
            std::string name;
            std::getline(comm, name);
            count += name.rfind("MHD-", 0) == 0 ? 1 : 0;
        }
        return count;
    };
    const int before = serving();
    CMetricsServer server([] { return std::string("tessor_up 1\n"); });
    std::string error;
    ASSERT_TRUE(server.Start("127.0.0.1", 0, &error)) << error;
    // A thread may name itself only once it runs.
    ASSERT_TRUE(WaitFor([&] { return serving() - before >= 2; }, 5s)) << serving() - before;
    // No third one naming itself a moment later (watched for a bounded time).
    EXPECT_FALSE(WaitFor([&] { return serving() - before > 2; }, 50ms, 5ms)) << serving() - before;
}

// Without a wake-up per connection the watch still lets a client go at its request's deadline: one that
// trickles a byte every 100 ms never completes a request and is cut soon after 600 ms.
TEST(MonitorEndpoint, AClientTricklingBytesIsLetGoAtItsRequestDeadline) {
    EndpointLimits limits;
    limits.requestMs = 600;
    CMetricsServer server([] { return std::string("tessor_up 1\n"); }, limits);
    std::string error;
    ASSERT_TRUE(server.Start("127.0.0.1", 0, &error)) << error;
    // The watch is between two ticks when the connection comes.
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    RawConnection connection(server.Port());
    ASSERT_TRUE(connection.Connected());
    const auto start = std::chrono::steady_clock::now();
    auto cut = std::chrono::steady_clock::duration::max(); // never let go
    for (int i = 0; i < 40; ++i) {
        if (!connection.Send("X")) {
            cut = std::chrono::steady_clock::now() - start;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_GE(cut, std::chrono::milliseconds(600));
    EXPECT_LT(cut, std::chrono::milliseconds(2000)) << "let go late or never";
}

TEST(MonitorEndpoint, NulInThePathAndAbsoluteFormTargetsAreAnsweredByTheExactPath) {
    CMetricsServer server([] { return std::string("tessor_up 1\n"); });
    std::string error;
    ASSERT_TRUE(server.Start("127.0.0.1", 0, &error)) << error;
    const std::vector<std::pair<std::string, std::string>> cases{
        {"/metrics%00.html", "HTTP/1.1 404"},
        {"/metrics", "HTTP/1.1 200"},
        {"http://127.0.0.1:" + std::to_string(server.Port()) + "/metrics", "HTTP/1.1 200"},
        {"http://127.0.0.1:" + std::to_string(server.Port()) + "/nothing", "HTTP/1.1 404"},
    };
    for (const auto& c : cases) {
        RawConnection connection(server.Port());
        ASSERT_TRUE(
            connection.Send("GET " + c.first + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n"));
        const std::string answer = connection.ReadAnswers(1);
        EXPECT_EQ(answer.rfind(c.second, 0), 0u) << c.first << ": " << answer;
    }
}

} // namespace
} // namespace tessor::monitor
