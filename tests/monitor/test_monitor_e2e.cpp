// The tessor-cli monitor program against the tessor-sim program over a pseudo-terminal, scraped by a real
// Prometheus server, unplugged, faulted, flooded and sent malformed requests. Loopback only.

#include "ProcessSupport.h"
#include "recorder/RecordingFile.h"

#include <gtest/gtest.h>
#include <httplib.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <map>
#include <optional>
#include <regex>
#include <sstream>
#include <sys/stat.h>

#include <fcntl.h>
#include <sys/stat.h>

#ifndef TESSOR_SIM_PROGRAM
#error "TESSOR_SIM_PROGRAM must name the tessor-sim executable"
#endif
#ifndef TESSOR_ENDPOINT_LOAD
#error "TESSOR_ENDPOINT_LOAD must name the endpoint load script"
#endif
#ifndef TESSOR_ALERT_RULES
#error "TESSOR_ALERT_RULES must name the shipped Prometheus rules"
#endif
#ifndef TESSOR_CLI_PROGRAM
#error "TESSOR_CLI_PROGRAM must name the tessor-cli executable"
#endif

namespace tessor::monitor::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

std::string FileName(const std::string& path) {
    return path.substr(path.find_last_of('/') + 1);
}

// First sample of a metric family in an exposition.
std::optional<double> Sample(const std::string& text, const std::string& name) {
    const std::regex line("(^|\n)" + name + "\\{[^}]*\\} ([^\n]+)");
    std::smatch m;
    if (!std::regex_search(text, m, line))
        return std::nullopt;
    return std::stod(m[2].str());
}

class MonitorE2e : public ::testing::Test {
protected:
    void StartSim(std::vector<std::string> options = {}) {
        std::vector<std::string> args{
            TESSOR_SIM_PROGRAM, "--no-pacing", "--no-stdin",     "--train-ms",         "300",
            "--link",           Link(),        "--control-fifo", m_dir.File("control")};
        args.insert(args.end(), options.begin(), options.end());
        ASSERT_TRUE(m_sim.Start(args, m_dir.File("sim.out"), m_dir.File("sim.err")));
        ASSERT_TRUE(WaitFor([this] { return access(Link().c_str(), F_OK) == 0; }, 5s)) << "no simulator";
    }

    void StartMonitor(std::vector<std::string> options = {}) {
        std::vector<std::string> args{TESSOR_CLI_PROGRAM, "monitor",    Link(), "--listen",
                                      "127.0.0.1:0",      "--interval", "1"};
        args.insert(args.end(), options.begin(), options.end());
        ASSERT_TRUE(m_monitor.Start(args, m_dir.File("monitor.out"), m_dir.File("monitor.err")));
        const std::optional<int> port = ServingPort(m_dir.File("monitor.err"), "http");
        ASSERT_TRUE(port) << ReadFile(m_dir.File("monitor.err"));
        m_port = *port;
    }

    void SimCommand(const std::string& command) {
        std::ofstream fifo(m_dir.File("control"));
        fifo << command << "\n";
    }

    std::string Scrape() {
        httplib::Client client("127.0.0.1", m_port);
        client.set_read_timeout(2, 0);
        auto res = client.Get("/metrics");
        return res && res->status == 200 ? res->body : std::string();
    }

    std::optional<double> Metric(const std::string& name) { return Sample(Scrape(), name); }

    bool MetricReaches(const std::string& name, double value, std::chrono::milliseconds limit) {
        return WaitFor([&] { return Metric(name) == value; }, limit);
    }

    std::string Link() const { return m_dir.File("board"); }

    TempDir m_dir;
    Process m_sim;
    Process m_monitor;
    int m_port = 0;
};

// A real Prometheus on promPort scraping the monitor every second, with the rule file if one is named.
bool StartScrapingPrometheus(Process& prometheus, const TempDir& dir, int monitorPort, int promPort,
                             const std::string& ruleFile = "") {
    {
        std::ofstream config(dir.File("prometheus.yml"));
        config << "global:\n  scrape_interval: 1s\n  evaluation_interval: 1s\n";
        if (!ruleFile.empty())
            config << "rule_files:\n  - " << ruleFile << "\n";
        config << "scrape_configs:\n  - job_name: tessor\n    static_configs:\n      - targets: ['127.0.0.1:"
               << monitorPort << "']\n";
    }
    return StartPrometheus(prometheus, dir, promPort);
}

TEST_F(MonitorE2e, PrometheusStoresTheSimulatorsValuesAndPromtoolAcceptsTheExposition) {
    StartSim({"--snr", "30"});
    StartMonitor();
    ASSERT_TRUE(MetricReaches("tessor_line_up", 1, 10s));

    const int promPort = FreePort();
    Process prometheus;
    ASSERT_TRUE(StartScrapingPrometheus(prometheus, m_dir, m_port, promPort));
    ASSERT_TRUE(WaitFor([&] { return PrometheusQuery(promPort, "tessor_line_up").has_value(); }, 40s))
        << ReadFile(m_dir.File("prometheus.err"));
    // A rate needs several scrapes of the line up, enough that one pass late on a loaded machine moves it
    // by little: waited for in Prometheus itself.
    ASSERT_TRUE(WaitFor(
        [&] {
            const auto scrapes = PrometheusQuery(promPort, "count_over_time(tessor_tx_frames_total[10s])");
            return scrapes && *scrapes >= 6;
        },
        40s));
    const auto rate = PrometheusQuery(promPort, "rate(tessor_tx_frames_total[10s])");
    ASSERT_TRUE(rate);

    EXPECT_EQ(PrometheusQuery(promPort, "tessor_up"), 1.0);
    EXPECT_EQ(PrometheusQuery(promPort, "tessor_line_up"), 1.0);
    const auto snr = PrometheusQuery(promPort, "tessor_line_snr_decibels");
    ASSERT_TRUE(snr);
    EXPECT_NEAR(*snr, 30.0, 0.35); // the simulator's 30 dB with its 0.3 dB jitter
    // About 850 frames/s on the automatic port speed: the totals add the raw counts.
    EXPECT_GT(*rate, 850.0 * 0.5);
    EXPECT_LT(*rate, 850.0 * 1.5);

    {
        std::ofstream scrape(m_dir.File("scrape.txt"));
        scrape << Scrape();
    }
    Process promtool;
    ASSERT_TRUE(promtool.Start({"/usr/bin/promtool", "check", "metrics"}, m_dir.File("promtool.out"),
                               m_dir.File("promtool.err"), m_dir.File("scrape.txt")));
    EXPECT_EQ(promtool.Wait(20s), 0) << ReadFile(m_dir.File("promtool.out"))
                                     << ReadFile(m_dir.File("promtool.err"));
    EXPECT_EQ(prometheus.SignalAndWait(SIGTERM, 10s), 0);
}

// The alerts Prometheus has, as alert name and state (pending or firing).
std::vector<std::pair<std::string, std::string>> PrometheusAlerts(int port) {
    httplib::Client client("127.0.0.1", port);
    auto res = client.Get("/api/v1/alerts");
    std::vector<std::pair<std::string, std::string>> out;
    if (!res || res->status != 200)
        return out;
    const auto j = nlohmann::json::parse(res->body, nullptr, false);
    if (j.is_discarded())
        return out;
    for (const auto& a : j["data"]["alerts"])
        out.emplace_back(a["labels"]["alertname"].get<std::string>(), a["state"].get<std::string>());
    return out;
}

// How many times Prometheus has evaluated each of its rule groups, from its own metrics.
std::map<std::string, double> RuleGroupEvaluations(int port) {
    httplib::Client client("127.0.0.1", port);
    auto res = client.Get("/metrics");
    std::map<std::string, double> out;
    if (!res || res->status != 200)
        return out;
    const std::regex line(
        "(^|\n)prometheus_rule_group_iterations_total\\{rule_group=\"([^\"]+)\"\\} ([^\n]+)");
    for (auto it = std::sregex_iterator(res->body.begin(), res->body.end(), line);
         it != std::sregex_iterator(); ++it)
        out[(*it)[2].str()] = std::stod((*it)[3].str());
    return out;
}

// The shipped rules with every `for` of N minutes made N seconds.
std::string ScaledRules() {
    return std::regex_replace(ReadFile(TESSOR_ALERT_RULES), std::regex("for: ([0-9]+)m"), "for: $1s");
}

// The shipped rules loaded by a real Prometheus scraping the monitor: a board that goes silent raises the
// board-down alert, and nothing else but what a silent board means.
TEST_F(MonitorE2e, PrometheusWithTheShippedRulesRaisesBoardNotAnsweringWhenTheBoardGoesSilent) {
    StartSim();
    StartMonitor({"--answer-timeout-ms", "300"});
    ASSERT_TRUE(MetricReaches("tessor_line_up", 1, 10s));
    const int promPort = FreePort();
    {
        std::ofstream rules(m_dir.File("tessor-alerts.yml"));
        rules << ScaledRules();
    }
    Process prometheus;
    ASSERT_TRUE(
        StartScrapingPrometheus(prometheus, m_dir, m_port, promPort, m_dir.File("tessor-alerts.yml")));
    ASSERT_TRUE(WaitFor([&] { return PrometheusQuery(promPort, "tessor_up") == 1.0; }, 40s))
        << ReadFile(m_dir.File("prometheus.err"));
    // Rules over a rate or an increase need a few scrapes; then every rule group evaluated once more.
    ASSERT_TRUE(
        WaitFor([&] { return PrometheusQuery(promPort, "count_over_time(tessor_up[1m])") >= 3.0; }, 20s));
    const std::map<std::string, double> evaluated = RuleGroupEvaluations(promPort);
    ASSERT_FALSE(evaluated.empty());
    ASSERT_TRUE(WaitFor(
        [&] {
            const std::map<std::string, double> now = RuleGroupEvaluations(promPort);
            return std::all_of(evaluated.begin(), evaluated.end(), [&](const auto& group) {
                const auto it = now.find(group.first);
                return it != now.end() && it->second > group.second;
            });
        },
        10s));
    EXPECT_TRUE(PrometheusAlerts(promPort).empty()) << "a healthy board raises nothing";

    SimCommand("silent on");
    auto raised = [&](const std::string& name) {
        const auto alerts = PrometheusAlerts(promPort);
        return std::any_of(alerts.begin(), alerts.end(), [&](const auto& a) { return a.first == name; });
    };
    ASSERT_TRUE(WaitFor([&] { return raised("TessorBoardNotAnswering"); }, 20s))
        << ReadFile(m_dir.File("prometheus.err"));
    EXPECT_TRUE(WaitFor(
        [&] {
            const auto alerts = PrometheusAlerts(promPort);
            return std::any_of(alerts.begin(), alerts.end(), [](const auto& a) {
                return a.first == "TessorBoardNotAnswering" && a.second == "firing";
            });
        },
        10s));
    EXPECT_FALSE(raised("TessorLineDown")) << "a silent board says nothing about the line";
    EXPECT_FALSE(raised("TessorMonitorStale")) << "the monitor itself goes on";
    EXPECT_EQ(prometheus.SignalAndWait(SIGTERM, 10s), 0);
}

// A simulator of our own, its slave named in a path file; the test keeps the link to it, as udev keeps a
// /dev/serial/by-id link: removed when the device goes, made anew for the next one.
std::string StartOwnSim(Process& sim, const TempDir& dir, const std::string& name) {
    const std::string pathFile = dir.File(name + ".path");
    if (!sim.Start({TESSOR_SIM_PROGRAM, "--no-pacing", "--no-stdin", "--train-ms", "300", "--exit-on-hangup",
                    "--path-file", pathFile, "--control-fifo", dir.File(name + ".control")},
                   dir.File(name + ".out"), dir.File(name + ".err")))
        return std::string();
    std::string slave;
    WaitFor(
        [&] {
            slave = ReadFile(pathFile);
            return !slave.empty() && slave.back() == '\n';
        },
        5s);
    if (!slave.empty())
        slave.pop_back();
    return slave;
}

TEST_F(MonitorE2e, UnpluggedBoardIsMarkedDownAndReconnectedThroughTheRepointedLinkAndRecorded) {
    Process first;
    const std::string firstSlave = StartOwnSim(first, m_dir, "first");
    ASSERT_FALSE(firstSlave.empty());
    ASSERT_EQ(symlink(firstSlave.c_str(), Link().c_str()), 0);
    StartMonitor({"--record", m_dir.File("site.csv")});
    ASSERT_TRUE(MetricReaches("tessor_up", 1, 10s));

    // Unplugged: the link goes, the pseudo-terminal is hung up.
    ASSERT_EQ(unlink(Link().c_str()), 0);
    {
        std::ofstream fifo(m_dir.File("first.control"));
        fifo << "hangup\n";
    }
    EXPECT_EQ(first.Wait(5s), 0);
    EXPECT_TRUE(MetricReaches("tessor_up", 0, 5s));
    EXPECT_EQ(Metric("tessor_line_snr_decibels"), std::nullopt); // nothing stale while down
    // Plugged in only once a try to open the gone link has failed.
    ASSERT_TRUE(WaitFor(
        [&] {
            return ReadFile(m_dir.File("monitor.err")).find(Link() + ": cannot open") != std::string::npos;
        },
        10s))
        << ReadFile(m_dir.File("monitor.err"));

    // Plugged in again: a new pseudo-terminal behind the same link.
    Process second;
    const std::string secondSlave = StartOwnSim(second, m_dir, "second");
    ASSERT_FALSE(secondSlave.empty());
    ASSERT_EQ(symlink(secondSlave.c_str(), Link().c_str()), 0);
    ASSERT_TRUE(MetricReaches("tessor_reconnections_total", 1, 15s)) << ReadFile(m_dir.File("monitor.err"));
    EXPECT_EQ(Metric("tessor_up"), 1.0);
    EXPECT_TRUE(MetricReaches("tessor_line_up", 1, 10s));
    EXPECT_EQ(Metric("tessor_timeouts_total"), 0.0) << ReadFile(m_dir.File("monitor.err"));
    EXPECT_NE(ReadFile(m_dir.File("monitor.err")).find("opened " + secondSlave), std::string::npos);
    EXPECT_EQ(m_monitor.SignalAndWait(SIGINT, 1000ms), 0);

    // The recording tells the same story.
    rec::LineStore store;
    std::string error;
    ASSERT_TRUE(rec::ReadRecording(m_dir.File("site.csv"), &store, &error)) << error;
    std::size_t unanswered = 0;
    for (std::size_t i = 0; i < store.phy.size(); ++i)
        unanswered += store.phy[i].answered ? 0 : 1;
    EXPECT_GE(unanswered, 1u);
    EXPECT_GE(store.eth.size(), 2u); // before and after
    auto has = [&](rec::EventKind kind) {
        return std::any_of(store.events.begin(), store.events.end(),
                           [kind](const rec::Event& e) { return e.kind == kind; });
    };
    EXPECT_TRUE(has(rec::EventKind::NoAnswer));
    EXPECT_TRUE(has(rec::EventKind::AnsweringAgain));
    EXPECT_TRUE(has(rec::EventKind::LineUp));
}

// Command lines the simulator received that are exactly this one.
std::size_t WireCount(const std::string& wireLog, const std::string& command) {
    std::istringstream lines(ReadFile(wireLog));
    std::size_t n = 0;
    for (std::string line; std::getline(lines, line);) {
        while (!line.empty() && (line.back() == '\r' || line.back() == '\n'))
            line.pop_back();
        n += line == command ? 1 : 0;
    }
    return n;
}

// The totals against what the simulator counted: one FCS error and three corrected RS errors at each read,
// so the totals are the number of reads its wire log shows (and three times that), never a figure worked
// out by the code under test; then 250 and 10 line drops, across the 8-bit counter's wrap.
TEST_F(MonitorE2e, TotalsAreTheCountsTheSimulatorAnsweredAndLinkFailuresGoOnOverTheWrap) {
    StartSim({"--wire-log", m_dir.File("wire.log")});
    SimCommand("count 8D04 1");
    SimCommand("count 8C91 3");
    ASSERT_TRUE(WaitFor(
        [&] {
            return ReadFile(m_dir.File("sim.err")).find("8C91") != std::string::npos ||
                   ReadFile(m_dir.File("sim.out")).find("8C91") != std::string::npos;
        },
        5s))
        << ReadFile(m_dir.File("sim.err"));
    StartMonitor();
    ASSERT_TRUE(MetricReaches("tessor_line_up", 1, 10s)) << ReadFile(m_dir.File("monitor.err"));
    // Between passes the wire log and the totals agree; a pass may be under way at a scrape, so look again.
    std::size_t fcsReads = 0;
    std::size_t rsReads = 0;
    std::optional<double> fcs, rs;
    const bool agreed = WaitFor(
        [&] {
            fcsReads = WireCount(m_dir.File("wire.log"), "RD 8D04,4");
            rsReads = WireCount(m_dir.File("wire.log"), "RD 8C91,4");
            const std::string text = Scrape();
            fcs = Sample(text, "tessor_frame_check_sequence_errors_total");
            rs = Sample(text, "tessor_rs_corrected_errors_total");
            return fcsReads >= 4 && WireCount(m_dir.File("wire.log"), "RD 8D04,4") == fcsReads &&
                   fcs == static_cast<double>(fcsReads) && rs == 3.0 * static_cast<double>(rsReads);
        },
        15s);
    EXPECT_TRUE(agreed) << fcsReads << " FCS reads, total " << fcs.value_or(-1) << "; " << rsReads
                        << " RS reads, total " << rs.value_or(-1);
    const std::optional<double> before = Metric("tessor_link_failures_total");
    ASSERT_TRUE(before);
    SimCommand("drop 250");
    EXPECT_TRUE(MetricReaches("tessor_link_failures_total", *before + 250, 10s));
    ASSERT_TRUE(MetricReaches("tessor_line_up", 1, 10s)) << "trained again";
    SimCommand("drop 10"); // the register wraps past 255
    EXPECT_TRUE(MetricReaches("tessor_link_failures_total", *before + 260, 10s))
        << Metric("tessor_link_failures_total").value_or(-1);
}

TEST_F(MonitorE2e, CorruptedEchoesAreCountedSilentBoardIsRetriedAndSigtermEndsItWithinASecond) {
    StartSim();
    StartMonitor({"--answer-timeout-ms", "300"});
    ASSERT_TRUE(MetricReaches("tessor_up", 1, 10s));
    SimCommand("corrupt-echo");
    EXPECT_TRUE(MetricReaches("tessor_corrupted_replies_total", 1, 5s));
    EXPECT_EQ(Metric("tessor_up"), 1.0);

    SimCommand("silent on");
    EXPECT_TRUE(MetricReaches("tessor_up", 0, 5s));
    EXPECT_TRUE(WaitFor([&] { return Metric("tessor_timeouts_total").value_or(0) >= 2; }, 5s))
        << "tried again at the next interval";
    SimCommand("silent off");
    EXPECT_TRUE(MetricReaches("tessor_up", 1, 5s));
    EXPECT_EQ(Metric("tessor_reconnections_total"), 1.0);

    const auto start = Clock::now();
    EXPECT_EQ(m_monitor.SignalAndWait(SIGTERM, 1000ms), 0);
    EXPECT_LT(Clock::now() - start, 1000ms);
}

TEST_F(MonitorE2e, ScrapeFloodFromTenClientsDoesNotDisturbThePollCadence) {
    StartSim();
    StartMonitor({"--jsonl"});
    ASSERT_TRUE(MetricReaches("tessor_up", 1, 10s));
    constexpr int kClients = 10;
    constexpr auto kFlood = 30s;
    std::atomic<int> ok{0};
    std::atomic<int> failed{0};
    const auto floodStart = Clock::now();
    std::vector<std::thread> clients;
    for (int c = 0; c < kClients; ++c) {
        clients.emplace_back([&, c] {
            auto next = floodStart + std::chrono::milliseconds(c * 10);
            while (next < floodStart + kFlood) {
                std::this_thread::sleep_until(next);
                next += 100ms; // 10 scrapes per second per client
                httplib::Client client("127.0.0.1", m_port);
                client.set_read_timeout(2, 0);
                auto res = client.Get("/metrics");
                (res && res->status == 200 && res->body.find("tessor_up") != std::string::npos ? ok
                                                                                               : failed)++;
            }
        });
    }
    for (std::thread& t : clients)
        t.join();
    const double floodEndUnix =
        std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();

    EXPECT_EQ(failed.load(), 0);
    EXPECT_GE(ok.load(), kClients * 290);
    // Passes stay one second apart throughout.
    std::vector<double> starts;
    std::istringstream lines(ReadFile(m_dir.File("monitor.out")));
    for (std::string line; std::getline(lines, line);) {
        const auto j = nlohmann::json::parse(line);
        EXPECT_TRUE(j["up"].get<bool>());
        starts.push_back(j["time"].get<double>());
    }
    std::vector<double> during;
    std::copy_if(starts.begin(), starts.end(), std::back_inserter(during),
                 [&](double t) { return t > floodEndUnix - 30.0 && t < floodEndUnix; });
    ASSERT_GE(during.size(), 28u);
    // Passes stay on their one-second grid: none is lost or pushed along by the flood. One pass may start
    // late when the machine is loaded (under the sanitizers, say); the grid brings the next one back.
    for (std::size_t i = 1; i < during.size(); ++i) {
        const double onGrid = during[0] + std::round(during[i] - during[0]);
        EXPECT_NEAR(during[i], onGrid, 0.3) << "pass " << i;
        EXPECT_NEAR(during[i] - during[i - 1], 1.0, 0.5) << "pass " << i;
    }
    EXPECT_NEAR((during.back() - during.front()) / static_cast<double>(during.size() - 1), 1.0, 0.02);
}

TEST_F(MonitorE2e, MalformedRequestsGetErrorsAndSlowClientsDoNotStallScrapes) {
    StartSim();
    StartMonitor();
    ASSERT_TRUE(MetricReaches("tessor_up", 1, 10s));
    auto exchange = [&](const std::string& request) {
        RawConnection c(m_port);
        c.Send(request);
        return c.ReceiveAll();
    };
    EXPECT_EQ(exchange("POST /metrics HTTP/1.1\r\nHost: x\r\nContent-Length: 0\r\nConnection: close\r\n\r\n")
                  .rfind("HTTP/1.1 405 Method Not Allowed\r\n", 0),
              0u);
    EXPECT_EQ(
        exchange("BREW /metrics HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n").rfind("HTTP/1.1 400", 0),
        0u);
    EXPECT_EQ(
        exchange("GET /nothing HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n").rfind("HTTP/1.1 404", 0),
        0u);
    const std::string index = exchange("GET / HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
    EXPECT_NE(index.find("href=\"/metrics\""), std::string::npos);
    const std::string huge =
        exchange("GET /metrics HTTP/1.1\r\nHost: x\r\nX-Big: " + std::string(100000, 'a') +
                 "\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(huge.find("HTTP/1.1 200"), std::string::npos);
    // Many short header lines add up too: 40000 of them are refused, not stored.
    std::string many = "GET /metrics HTTP/1.1\r\nHost: x\r\n";
    for (int i = 0; i < 40000; ++i)
        many += "X-" + std::to_string(i) + ": v\r\n";
    EXPECT_EQ(exchange(many + "Connection: close\r\n\r\n").rfind("HTTP/1.1 431", 0), 0u);

    // Slow clients that send half a request and wait, and one that trickles a byte every 0.5 s; scrapes
    // go on meanwhile.
    std::vector<std::unique_ptr<RawConnection>> slow;
    for (int i = 0; i < 3; ++i) {
        slow.push_back(std::make_unique<RawConnection>(m_port));
        slow.back()->Send("GET /metr");
    }
    RawConnection trickle(m_port);
    std::atomic<bool> trickled{false};
    std::thread trickler([&] {
        for (int i = 0; i < 12 && trickle.Send("X"); ++i)
            std::this_thread::sleep_for(500ms);
        trickled = true;
    });
    for (int i = 0; i < 20; ++i) {
        const auto start = Clock::now();
        EXPECT_FALSE(Scrape().empty());
        EXPECT_LT(Clock::now() - start, 500ms);
    }
    // The server gives up on them after its read time-out, and on the trickler after a request's time.
    const auto start = Clock::now();
    EXPECT_EQ(slow.front()->ReceiveAll().find("HTTP/1.1 200"), std::string::npos);
    EXPECT_LT(Clock::now() - start, 4s);
    const std::string trickleAnswer = trickle.ReceiveAll();
    EXPECT_EQ(trickleAnswer.find("HTTP/1.1 200"), std::string::npos);
    EXPECT_LT(Clock::now() - start, 5s) << "the trickling client was let go in time";
    trickler.join();
}

// Standard output a pipe nobody reads (a stalled log reader): polling and the endpoint go on, the lines that
// find no room are dropped and counted, and the first drop is told once.
TEST_F(MonitorE2e, JsonLinesIntoAFrozenPipeAreDroppedAndCountedWhilePollingGoesOn) {
    StartSim();
    const std::string fifo = m_dir.File("frozen");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    fcntl(reader, F_SETPIPE_SZ, 4096); // full after a few lines
    std::vector<std::string> args{TESSOR_CLI_PROGRAM, "monitor",    Link(), "--listen",
                                  "127.0.0.1:0",      "--interval", "0.2",  "--jsonl"};
    ASSERT_TRUE(m_monitor.Start(args, fifo, m_dir.File("monitor.err")));
    const std::regex serving("serving http://127\\.0\\.0\\.1:([0-9]+)/metrics");
    ASSERT_TRUE(WaitFor(
        [&] {
            std::smatch m;
            const std::string err = ReadFile(m_dir.File("monitor.err"));
            if (!std::regex_search(err, m, serving))
                return false;
            m_port = std::stoi(m[1].str());
            return true;
        },
        5s));
    EXPECT_TRUE(WaitFor([&] { return Metric("tessor_poll_passes_total").value_or(0) >= 40; }, 20s))
        << "polling stopped at " << Metric("tessor_poll_passes_total").value_or(-1);
    EXPECT_GE(Metric("tessor_output_dropped_total").value_or(0), 10.0);
    EXPECT_EQ(Metric("tessor_up"), 1.0);
    const std::string err = ReadFile(m_dir.File("monitor.err"));
    const std::string told = "jsonl output is not keeping up";
    ASSERT_NE(err.find(told), std::string::npos) << err;
    EXPECT_EQ(err.find(told, err.find(told) + 1), std::string::npos) << "told once";
    EXPECT_EQ(m_monitor.SignalAndWait(SIGTERM, 3000ms), 0);
    close(reader);
}

// Four boards on one monitor: one silent from the start, one unplugged and plugged in again, two healthy.
// The healthy ones keep their one-second cadence throughout and every board is served on the one endpoint.
TEST_F(MonitorE2e, FourBoardsOneSilentOneReplugged_TheOthersKeepTheirCadence) {
    Process healthyA, healthyB, silent, unplugged;
    const std::string a = StartOwnSim(healthyA, m_dir, "a");
    const std::string b = StartOwnSim(healthyB, m_dir, "b");
    const std::string u = StartOwnSim(unplugged, m_dir, "u");
    ASSERT_FALSE(a.empty() || b.empty() || u.empty());
    ASSERT_TRUE(
        silent.Start({TESSOR_SIM_PROGRAM, "--no-pacing", "--no-stdin", "--silent", "--link", m_dir.File("s")},
                     m_dir.File("s.out"), m_dir.File("s.err")));
    ASSERT_TRUE(WaitFor([&] { return access(m_dir.File("s").c_str(), F_OK) == 0; }, 5s));
    const std::string link = m_dir.File("u-link");
    ASSERT_EQ(symlink(u.c_str(), link.c_str()), 0);
    // The first device comes in as the link StartMonitor names; the others as further devices.
    ASSERT_EQ(symlink(a.c_str(), Link().c_str()), 0);
    StartMonitor({"--port", m_dir.File("s"), "--port", link, "--port", b, "--jsonl", "--answer-timeout-ms",
                  "1000", "--record", m_dir.File("{device}.csv")});
    ASSERT_TRUE(WaitFor(
        [&] { return Scrape().find("tessor_up{port=\"" + b + "\",side=\"lt\"} 1") != std::string::npos; },
        10s));
    const double start =
        std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    // The answered passes of a board so far, from the JSON lines (a line still being written is not one).
    const auto passes = [&](const std::string& port) {
        std::size_t n = 0;
        std::istringstream lines(ReadFile(m_dir.File("monitor.out")));
        for (std::string line; std::getline(lines, line);) {
            const auto j = nlohmann::json::parse(line, nullptr, false);
            n += !j.is_discarded() && j.value("port", "") == port && j.value("up", false) ? 1 : 0;
        }
        return n;
    };
    // The replugged board is recorded before its absence.
    ASSERT_TRUE(WaitFor([&] { return passes(link) >= 1; }, 10s));
    ASSERT_EQ(unlink(link.c_str()), 0);
    {
        std::ofstream fifo(m_dir.File("u.control"));
        fifo << "hangup\n";
    }
    EXPECT_EQ(unplugged.Wait(5s), 0);
    std::string whileAway;
    EXPECT_TRUE(WaitFor(
        [&] {
            whileAway = Scrape();
            return whileAway.find("tessor_up{port=\"" + link + "\",side=\"lt\"} 0") != std::string::npos;
        },
        10s));
    Process again;
    const std::string u2 = StartOwnSim(again, m_dir, "u2");
    ASSERT_FALSE(u2.empty());
    ASSERT_EQ(symlink(u2.c_str(), link.c_str()), 0);
    ASSERT_TRUE(WaitFor(
        [&] { return Scrape().find("tessor_up{port=\"" + link + "\",side=\"lt\"} 1") != std::string::npos; },
        15s));
    // The healthy boards have the passes their recordings are checked for.
    ASSERT_TRUE(WaitFor([&] { return passes(Link()) >= 5 && passes(b) >= 5; }, 15s));
    const std::string all = Scrape();
    const double end =
        std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    EXPECT_EQ(m_monitor.SignalAndWait(SIGTERM, 3000ms), 0);

    EXPECT_NE(all.find("tessor_up{port=\"" + m_dir.File("s") + "\",side=\"unknown\"} 0"), std::string::npos);
    EXPECT_NE(all.find("tessor_up{port=\"" + Link() + "\",side=\"lt\"} 1"), std::string::npos);
    // One TYPE line per family however many boards.
    EXPECT_EQ(all.find("# TYPE tessor_up gauge"), all.rfind("# TYPE tessor_up gauge"));
    {
        std::ofstream scrape(m_dir.File("four.txt"));
        scrape << all;
    }
    Process promtool;
    ASSERT_TRUE(promtool.Start({"/usr/bin/promtool", "check", "metrics"}, m_dir.File("promtool.out"),
                               m_dir.File("promtool.err"), m_dir.File("four.txt")));
    EXPECT_EQ(promtool.Wait(20s), 0) << ReadFile(m_dir.File("promtool.err")) << all;

    // The healthy boards' passes stay one second apart while the others are silent, away and back. A
    // healthy pass held behind one unanswered read would come a whole answer timeout (1 s) late; half of
    // it is left to a loaded machine, whose stalls move a pass late and the next one early by some 0.2 s.
    std::map<std::string, std::vector<double>> starts;
    std::istringstream lines(ReadFile(m_dir.File("monitor.out")));
    for (std::string line; std::getline(lines, line);) {
        const auto j = nlohmann::json::parse(line);
        const double t = j["time"].get<double>();
        if (t > start && t < end)
            starts[j["port"].get<std::string>()].push_back(t);
    }
    for (const std::string& healthy : {Link(), b}) {
        const std::vector<double>& t = starts[healthy];
        ASSERT_GE(t.size(), static_cast<std::size_t>(end - start) - 1) << healthy;
        for (std::size_t i = 1; i < t.size(); ++i)
            EXPECT_NEAR(t[i] - t[i - 1], 1.0, 0.5) << healthy << " pass " << i;
    }
    // One recording per device, named after it: the healthy boards' passes over the whole run, the
    // replugged board's from before its absence and after its return (how many depends on the machine's
    // pace around the unplugging, so at least one of each).
    const std::pair<std::string, std::size_t> recordings[] = {{"board", 5}, {FileName(b), 5}, {"u-link", 2}};
    for (const auto& [name, least] : recordings) {
        rec::LineStore store;
        std::string error;
        EXPECT_TRUE(rec::ReadRecording(m_dir.File(name + ".csv"), &store, &error)) << name << ": " << error;
        EXPECT_GE(store.phy.size(), least) << name;
    }
}

// The bounded load script: 100 idle and 100 trickling connections kept open from several loopback
// addresses, and rounds of 16 requests with 200 byte ranges each, while valid scrapes are made.
// A sanitizer's shadow memory and quarantine are resident too, so its builds get their own bound; the
// 30 MiB of a normal build is what the monitor is held to.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr const char* kMaxRssMib = "400";
#else
constexpr const char* kMaxRssMib = "30";
#endif

TEST_F(MonitorE2e, HeldConnectionsAndMultiRangeRequestsNeitherStarveScrapesNorInflateAnswers) {
    StartSim();
    StartMonitor();
    ASSERT_TRUE(MetricReaches("tessor_up", 1, 10s));
    Process load;
    ASSERT_TRUE(load.Start({"/usr/bin/env",
                            "python3",
                            TESSOR_ENDPOINT_LOAD,
                            "--port",
                            std::to_string(m_port),
                            "--pid",
                            std::to_string(m_monitor.Pid()),
                            "--held",
                            "100",
                            "--trickle",
                            "100",
                            "--ranges",
                            "16",
                            "--rounds",
                            "3",
                            "--scrapes",
                            "40",
                            "--max-scrape-ms",
                            "1000",
                            "--min-held",
                            "200",
                            "--max-rss-mib",
                            kMaxRssMib,
                            "--duration",
                            "40"},
                           m_dir.File("load.out"), m_dir.File("load.err")));
    EXPECT_EQ(load.Wait(60s), 0) << ReadFile(m_dir.File("load.out")) << ReadFile(m_dir.File("load.err"));
    EXPECT_FALSE(Scrape().empty()) << "still serving";
}

// The baseline given for the device is published as given; the time the sync began once the line is up,
// and each PHY row of the recording after the first has its interval's class.
TEST_F(MonitorE2e, TheSnrBaselineIsPublishedAndTheRecordingClassifiesItsIntervals) {
    StartSim();
    const std::string recording = m_dir.File("line.csv");
    StartMonitor({"--snr-baseline", Link() + "=38.5", "--record", recording});
    ASSERT_TRUE(MetricReaches("tessor_line_snr_baseline_decibels", 38.5, 10s)) << Scrape();
    ASSERT_TRUE(MetricReaches("tessor_line_up", 1, 10s));
    EXPECT_TRUE(WaitFor([&] { return Metric("tessor_line_up_since_timestamp_seconds").has_value(); }, 10s))
        << Scrape();
    std::size_t classified = 0;
    EXPECT_TRUE(WaitFor(
        [&] {
            rec::LineStore store;
            std::string error;
            if (!rec::ReadRecording(recording, &store, &error))
                return false;
            classified = 0;
            for (std::size_t i = 0; i < store.phy.size(); ++i)
                classified += store.phy[i].intervalClass ? 1 : 0;
            return classified >= 2;
        },
        10s))
        << classified << " classified rows\n"
        << ReadFile(recording);
}

TEST_F(MonitorE2e, BadUsageExitsWithTwoAndHelpAndVersionWithZero) {
    auto run = [&](std::vector<std::string> args) {
        args.insert(args.begin(), TESSOR_CLI_PROGRAM);
        Process p;
        EXPECT_TRUE(p.Start(args, m_dir.File("usage.out"), m_dir.File("usage.err")));
        return p.Wait(5s);
    };
    EXPECT_EQ(run({"monitor", "--bogus"}), 2);
    EXPECT_EQ(run({"monitor", "/dev/null", "--listen", "localhost"}), 2);
    EXPECT_EQ(run({"monitor", "/dev/null", "--interval", "0"}), 2);
    EXPECT_EQ(run({"monitor", "/dev/null", "--port", "/dev/null"}), 2);
    EXPECT_EQ(run({"monitor", "/dev/null", "/dev/zero", "--record", "one.csv"}), 2);
    EXPECT_NE(ReadFile(m_dir.File("usage.err")).find("{device}"), std::string::npos);
    EXPECT_EQ(run({"monitor", "--help"}), 0);
    EXPECT_NE(ReadFile(m_dir.File("usage.out")).find("--listen"), std::string::npos);
    EXPECT_EQ(run({"--version"}), 0);
    EXPECT_NE(ReadFile(m_dir.File("usage.out")).find("tessor-cli 1."), std::string::npos);
    // A recording file that is a pipe: refused at start, without waiting for a reader.
    const std::string fifo = m_dir.File("site.csv");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(run({"monitor", "/dev/null", "--listen", "127.0.0.1:0", "--record", fifo}), 1);
    EXPECT_NE(ReadFile(m_dir.File("usage.err")).find(fifo + " is not a regular file"), std::string::npos)
        << ReadFile(m_dir.File("usage.err"));
    // A port already taken: a runtime error naming the address.
    StartSim();
    StartMonitor();
    EXPECT_EQ(run({"monitor", Link(), "--listen", "127.0.0.1:" + std::to_string(m_port)}), 1);
    EXPECT_NE(ReadFile(m_dir.File("usage.err")).find("cannot listen on 127.0.0.1:" + std::to_string(m_port)),
              std::string::npos);
}

// Two boards never record into one file: the same name after {device} is put in, the same file under two
// names, or a file another monitor records into.
TEST_F(MonitorE2e, TwoBoardsIntoOneRecordingAreRefused) {
    auto run = [&](std::vector<std::string> args) {
        args.insert(args.begin(), {TESSOR_CLI_PROGRAM, "monitor", "--listen", "127.0.0.1:0"});
        Process p;
        EXPECT_TRUE(p.Start(args, m_dir.File("usage.out"), m_dir.File("usage.err")));
        return p.Wait(5s);
    };
    const std::string a = m_dir.File("a/board"), b = m_dir.File("b/board");
    EXPECT_EQ(run({a, b, "--record", m_dir.File("site-{device}.csv")}), 2);
    const std::string said = ReadFile(m_dir.File("usage.err"));
    EXPECT_NE(said.find(a), std::string::npos) << said;
    EXPECT_NE(said.find(b), std::string::npos) << said;
    EXPECT_NE(said.find(m_dir.File("site-board.csv")), std::string::npos) << said;
    EXPECT_EQ(run({a, b, "--record", m_dir.File("same.csv"), "--record", m_dir.Path() + "/./same.csv"}), 2);
    EXPECT_NE(ReadFile(m_dir.File("usage.err")).find("same.csv"), std::string::npos);
    std::ofstream(m_dir.File("kept.csv")).close();
    ASSERT_EQ(symlink("kept.csv", m_dir.File("alias.csv").c_str()), 0);
    EXPECT_EQ(run({a, b, "--record", m_dir.File("kept.csv"), "--record", m_dir.File("alias.csv")}), 2);
    EXPECT_EQ(access(m_dir.File("site-board.csv").c_str(), F_OK), -1) << "nothing was created";

    // A second monitor on a file one records into: refused, the first goes on undisturbed.
    StartSim();
    StartMonitor({"--record", m_dir.File("site.csv")});
    EXPECT_EQ(run({"/dev/null", "--record", m_dir.File("site.csv")}), 1);
    EXPECT_NE(ReadFile(m_dir.File("usage.err")).find(m_dir.File("site.csv") + ": locked by another process"),
              std::string::npos)
        << ReadFile(m_dir.File("usage.err"));
    EXPECT_EQ(m_monitor.Wait(0ms), -1) << "still running";
}

// SIGHUP reopens the recordings (after a rotation: a new file with its header and the next rows); the
// monitor goes on.
TEST_F(MonitorE2e, SighupReopensTheRecordingUnderItsName) {
    StartSim();
    const std::string file = m_dir.File("site.csv");
    StartMonitor({"--record", file});
    const auto phyRows = [](const std::string& path) {
        rec::LineStore store;
        std::string error;
        return rec::ReadRecording(path, &store, &error) ? store.phy.size() : 0;
    };
    ASSERT_TRUE(WaitFor([&] { return phyRows(file) >= 2; }, 10s));
    ASSERT_EQ(rename(file.c_str(), m_dir.File("site.csv.1").c_str()), 0);
    ASSERT_EQ(kill(m_monitor.Pid(), SIGHUP), 0);
    EXPECT_TRUE(WaitFor([&] { return phyRows(file) >= 2; }, 10s)) << ReadFile(m_dir.File("monitor.err"));
    EXPECT_EQ(m_monitor.Wait(0ms), -1) << "still running";
    const std::size_t rotated = phyRows(m_dir.File("site.csv.1"));
    EXPECT_GE(rotated, 2u);
    // Two more passes written to the new file, and none of them to the moved one.
    const std::size_t fresh = phyRows(file);
    EXPECT_TRUE(WaitFor([&] { return phyRows(file) >= fresh + 2; }, 10s));
    EXPECT_EQ(phyRows(m_dir.File("site.csv.1")), rotated) << "the moved file gets no more rows";
    EXPECT_EQ(m_monitor.SignalAndWait(SIGTERM, 1000ms), 0);
}

} // namespace
} // namespace tessor::monitor::test
