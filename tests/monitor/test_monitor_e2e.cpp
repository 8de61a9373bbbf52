// The tessor-cli monitor program against the tessor-sim program over a pseudo-terminal, scraped by a real
// Prometheus server, unplugged, faulted, flooded and sent malformed requests. Loopback only.

#include "ProcessSupport.h"
#include "recorder/RecordingFile.h"

#include <gtest/gtest.h>
#include <httplib.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <atomic>
#include <optional>
#include <regex>

#ifndef TESSOR_SIM_PROGRAM
#error "TESSOR_SIM_PROGRAM must name the tessor-sim executable"
#endif
#ifndef TESSOR_CLI_PROGRAM
#error "TESSOR_CLI_PROGRAM must name the tessor-cli executable"
#endif

namespace tessor::monitor::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// First sample of a metric family in an exposition.
std::optional<double> Sample(const std::string& text, const std::string& name) {
    const std::regex line("(^|\n)" + name + "\\{[^}]*\\} ([^\n]+)");
    std::smatch m;
    if (!std::regex_search(text, m, line))
        return std::nullopt;
    return std::stod(m[2].str());
}

template <class F> bool WaitFor(F condition, std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    while (Clock::now() < deadline) {
        if (condition())
            return true;
        std::this_thread::sleep_for(50ms);
    }
    return condition();
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
        const std::regex serving("serving http://127\\.0\\.0\\.1:([0-9]+)/metrics");
        std::smatch m;
        ASSERT_TRUE(WaitFor(
            [&] {
                const std::string err = ReadFile(m_dir.File("monitor.err"));
                if (!std::regex_search(err, m, serving))
                    return false;
                m_port = std::stoi(m[1].str());
                return true;
            },
            5s))
            << ReadFile(m_dir.File("monitor.err"));
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

// Prometheus's answer to an instant query: the value of the first series.
std::optional<double> PrometheusQuery(int port, const std::string& query) {
    httplib::Client client("127.0.0.1", port);
    auto res = client.Get("/api/v1/query", httplib::Params{{"query", query}}, httplib::Headers{});
    if (!res || res->status != 200)
        return std::nullopt;
    const auto j = nlohmann::json::parse(res->body, nullptr, false);
    if (j.is_discarded() || j["data"]["result"].empty())
        return std::nullopt;
    return std::stod(j["data"]["result"][0]["value"][1].get<std::string>());
}

TEST_F(MonitorE2e, PrometheusStoresTheSimulatorsValuesAndPromtoolAcceptsTheExposition) {
    StartSim({"--snr", "30"});
    StartMonitor();
    ASSERT_TRUE(MetricReaches("tessor_line_up", 1, 10s));

    const int promPort = FreePort();
    {
        std::ofstream config(m_dir.File("prometheus.yml"));
        config << "global:\n  scrape_interval: 1s\n  evaluation_interval: 1s\nscrape_configs:\n"
                  "  - job_name: tessor\n    static_configs:\n      - targets: ['127.0.0.1:"
               << m_port << "']\n";
    }
    Process prometheus;
    ASSERT_TRUE(prometheus.Start({"/usr/bin/prometheus", "--config.file=" + m_dir.File("prometheus.yml"),
                                  "--storage.tsdb.path=" + m_dir.File("tsdb"),
                                  "--web.listen-address=127.0.0.1:" + std::to_string(promPort)},
                                 m_dir.File("prometheus.out"), m_dir.File("prometheus.err")));
    ASSERT_TRUE(WaitFor([&] { return PrometheusQuery(promPort, "tessor_line_up").has_value(); }, 40s))
        << ReadFile(m_dir.File("prometheus.err"));
    // A rate needs a few scrapes of the line up.
    std::this_thread::sleep_for(6s);
    const auto rate = PrometheusQuery(promPort, "rate(tessor_tx_frames_total[5s])");
    ASSERT_TRUE(rate);

    EXPECT_EQ(PrometheusQuery(promPort, "tessor_up"), 1.0);
    EXPECT_EQ(PrometheusQuery(promPort, "tessor_line_up"), 1.0);
    const auto snr = PrometheusQuery(promPort, "tessor_line_snr_decibels");
    ASSERT_TRUE(snr);
    EXPECT_NEAR(*snr, 30.0, 0.35); // the simulator's 30 dB with its 0.3 dB jitter
    // About 850 frames/s on the automatic port speed, a fifth of which the page's arithmetic adds.
    EXPECT_GT(*rate, 850.0 / 5 * 0.5);
    EXPECT_LT(*rate, 850.0 / 5 * 1.5);

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
    std::this_thread::sleep_for(1500ms);

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
    for (std::size_t i = 1; i < during.size(); ++i)
        EXPECT_NEAR(during[i] - during[i - 1], 1.0, 0.15) << "pass " << i;
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
    EXPECT_EQ(exchange(many + "Connection: close\r\n\r\n").rfind("HTTP/1.1 400", 0), 0u);

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
    EXPECT_EQ(run({"monitor", "--help"}), 0);
    EXPECT_NE(ReadFile(m_dir.File("usage.out")).find("--listen"), std::string::npos);
    EXPECT_EQ(run({"--version"}), 0);
    EXPECT_NE(ReadFile(m_dir.File("usage.out")).find("tessor-cli 1."), std::string::npos);
    // A port already taken: a runtime error naming the address.
    StartSim();
    StartMonitor();
    EXPECT_EQ(run({"monitor", Link(), "--listen", "127.0.0.1:" + std::to_string(m_port)}), 1);
    EXPECT_NE(ReadFile(m_dir.File("usage.err")).find("cannot listen on 127.0.0.1:" + std::to_string(m_port)),
              std::string::npos);
}

} // namespace
} // namespace tessor::monitor::test
