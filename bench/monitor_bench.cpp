// Benchmark of tessor-cli monitor against tessor-sim (paced at 9600 baud, one pseudo-terminal per board):
// one monitor polling several boards every 5 s, its cost at rest, the time scrapes take at 100 per second,
// each board's poll pass time against the wire time of its commands and against the same board polled
// alone. Prints a table; exits 0 whether or not a target is met.

#include "bench/Measure.h"
#include "bench/Options.h"
#include "bench/Process.h"

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

struct Options {
    std::string sim = TESSOR_BENCH_SIM;
    std::string cli = TESSOR_BENCH_CLI;
    int restSeconds = 60;
    int scrapeSeconds = 30;
    int boards = 4;
};

using tessor::bench::CpuSeconds;
using tessor::bench::Percentile;
using tessor::bench::ReadFile;
using tessor::bench::StatusKb;

// The monitor program, its JSON lines in a file, its log in another.
class MonitorProcess {
public:
    ~MonitorProcess() { Stop(); }

    bool Start(const Options& o, const std::vector<std::string>& devices, const std::string& dir,
               const std::string& tag, int* port) {
        m_out = dir + "/monitor-" + tag + ".jsonl";
        m_err = dir + "/monitor-" + tag + ".log";
        std::vector<std::string> args{o.cli, "monitor"};
        args.insert(args.end(), devices.begin(), devices.end());
        args.insert(args.end(), {"--listen", "127.0.0.1:0", "--jsonl"});
        if (!m_process.Start(args, m_out, m_err))
            return false;
        const std::regex serving("serving http://127\\.0\\.0\\.1:([0-9]+)/metrics");
        for (int i = 0; i < 200; ++i) {
            std::smatch m;
            const std::string log = ReadFile(m_err);
            if (std::regex_search(log, m, serving)) {
                *port = std::stoi(m[1].str());
                return true;
            }
            std::this_thread::sleep_for(25ms);
        }
        return false;
    }

    void Stop() { m_process.Stop(tessor::bench::kStopGrace); }

    pid_t Pid() const { return m_process.Pid(); }
    std::vector<nlohmann::json> Passes() const {
        std::vector<nlohmann::json> out;
        std::istringstream lines(ReadFile(m_out));
        for (std::string line; std::getline(lines, line);)
            out.push_back(nlohmann::json::parse(line, nullptr, false));
        return out;
    }

private:
    tessor::testsupport::Process m_process;
    std::string m_out;
    std::string m_err;
};

const char* Verdict(bool met) {
    return met ? "met" : "missed";
}

// Line time of one read as the benchmark of the configurator counts it: the reply's characters plus one
// at 10 bits per character, rounded up to the caller's 5 ms poll.
double ReadNeedMs(int registers) {
    const int command = registers == 1 ? 7 : 9;              // "RD 8C71" or "RD 8C99,3"
    const int reply = command + 1 + (6 + 3 * registers) + 4; // echo, line end, data, prompt
    const double line = (reply + 1) * 10.0 / 9600.0 * 1000.0;
    return std::ceil(line / 5.0) * 5.0;
}

double PassNeedMs() {
    double need = ReadNeedMs(3) + ReadNeedMs(2) + ReadNeedMs(4) + 3 * ReadNeedMs(1); // PHY pass
    need += 15 * ReadNeedMs(4);                                                      // Ethernet pass
    return need;
}

// Steady passes only, in ms: the line up before and after (the first pass and the one that sees the line
// come up also read the identification and the line settings).
std::vector<double> SteadyPassMs(const std::vector<nlohmann::json>& passes, const std::string& port) {
    std::vector<double> out;
    bool before = false;
    for (const auto& p : passes) {
        if (p.is_discarded() || p["port"] != port)
            continue;
        const bool up = p["line_up"] == true;
        if (up && before)
            out.push_back(p["poll_duration_seconds"].get<double>() * 1000.0);
        before = up;
    }
    return out;
}

// Each board polled alone by a monitor of its own, for seconds: the median of its steady passes.
std::vector<double> AloneMedians(const Options& o, const std::vector<std::string>& devices,
                                 const std::string& dir, int seconds) {
    std::vector<double> medians;
    for (std::size_t i = 0; i < devices.size(); ++i) {
        MonitorProcess monitor;
        int port = 0;
        if (!monitor.Start(o, {devices[i]}, dir, "alone" + std::to_string(i), &port))
            return {};
        std::this_thread::sleep_for(std::chrono::seconds(seconds));
        const auto passes = monitor.Passes();
        monitor.Stop();
        medians.push_back(Percentile(SteadyPassMs(passes, devices[i]), 0.5));
    }
    return medians;
}

bool AtRest(const Options& o, const std::vector<std::string>& devices, const std::string& dir) {
    MonitorProcess monitor;
    int port = 0;
    if (!monitor.Start(o, devices, dir, "rest", &port)) {
        std::fprintf(stderr, "monitor did not start; see %s/monitor-rest.log\n", dir.c_str());
        return false;
    }
    std::this_thread::sleep_for(6s); // past start-up and the first passes
    const double cpu0 = CpuSeconds(monitor.Pid());
    const auto t0 = Clock::now();
    httplib::Client client("127.0.0.1", port);
    // Polling every 5 s, scraped every 15 s as a Prometheus server would by default.
    const auto end = t0 + std::chrono::seconds(o.restSeconds);
    while (Clock::now() < end) {
        client.Get("/metrics");
        std::this_thread::sleep_until(std::min(end, Clock::now() + 15s));
    }
    const double elapsed = std::chrono::duration<double>(Clock::now() - t0).count();
    const double share = (CpuSeconds(monitor.Pid()) - cpu0) / elapsed * 100.0;
    const long rss = StatusKb(monitor.Pid(), "VmRSS");
    const long hwm = StatusKb(monitor.Pid(), "VmHWM");
    const auto passes = monitor.Passes();
    monitor.Stop();

    std::printf("1. At rest, %zu boards polled every 5 s by one monitor, scraped every 15 s (%.0f s)\n",
                devices.size(), elapsed);
    std::printf("  CPU                                 %6.3f %% of a core       <= 1 %%      %s\n", share,
                Verdict(share <= 1.0));
    std::printf("  resident (now / peak)               %6.1f / %.1f MiB       <= 30 MiB   %s\n", rss / 1024.0,
                hwm / 1024.0, Verdict(hwm / 1024.0 <= 30.0));

    const int aloneSeconds = std::max(20, o.restSeconds);
    const std::vector<double> alone = AloneMedians(o, devices, dir, aloneSeconds);
    const double need = PassNeedMs();
    std::printf("\n2. Poll pass time of each board: against the wire time of its commands, and against the\n"
                "   same board polled alone (%d s each)\n",
                aloneSeconds);
    std::printf(
        "  need: 21 reads (PHY 6, Ethernet 15), line time each rounded up to the 5 ms poll: %.1f ms\n", need);
    bool met = alone.size() == devices.size();
    for (std::size_t i = 0; i < devices.size(); ++i) {
        const std::vector<double> durations = SteadyPassMs(passes, devices[i]);
        const double median = Percentile(durations, 0.5);
        const double worst = Percentile(durations, 1.0);
        const double ratio = i < alone.size() && alone[i] > 0 ? median / alone[i] : 0;
        met = met && ratio > 0 && ratio <= 1.05;
        std::printf(
            "  board %zu: %2zu passes, median / worst %6.1f / %6.1f ms, wire ratio %.3f, alone %6.1f ms,"
            " ratio %.3f\n",
            i + 1, durations.size(), median, worst, median / need, i < alone.size() ? alone[i] : 0.0, ratio);
    }
    std::printf("  each board's median against alone                         <= 1.05     %s\n", Verdict(met));
    return true;
}

bool ScrapeFlood(const Options& o, const std::vector<std::string>& devices, const std::string& dir) {
    MonitorProcess monitor;
    int port = 0;
    if (!monitor.Start(o, devices, dir, "flood", &port))
        return false;
    std::this_thread::sleep_for(6s);
    constexpr int kClients = 10;
    std::vector<std::vector<double>> latencies(kClients);
    std::atomic<int> failures{0};
    const auto start = Clock::now();
    const auto end = start + std::chrono::seconds(o.scrapeSeconds);
    std::vector<std::thread> clients;
    for (int c = 0; c < kClients; ++c) {
        clients.emplace_back([&, c] {
            httplib::Client client("127.0.0.1", port);
            client.set_keep_alive(true);
            auto next = start + std::chrono::milliseconds(c * 10);
            while (next < end) {
                std::this_thread::sleep_until(next);
                next += 100ms;
                const auto t = Clock::now();
                auto res = client.Get("/metrics");
                const double ms = std::chrono::duration<double, std::milli>(Clock::now() - t).count();
                if (!res || res->status != 200)
                    failures++;
                else
                    latencies[static_cast<std::size_t>(c)].push_back(ms);
            }
        });
    }
    for (std::thread& t : clients)
        t.join();
    const auto passes = monitor.Passes();
    monitor.Stop();
    std::vector<double> all;
    for (const auto& l : latencies)
        all.insert(all.end(), l.begin(), l.end());
    // The cadence of the first board.
    std::vector<double> starts;
    for (const auto& p : passes) {
        if (!p.is_discarded() && p["port"] == devices.front())
            starts.push_back(p["time"].get<double>());
    }
    std::vector<double> gaps;
    for (std::size_t i = 2; i < starts.size(); ++i)
        gaps.push_back(starts[i] - starts[i - 1]);
    const double p99 = Percentile(all, 0.99);
    std::printf("\n3. Scrapes at 100 per second from 10 clients (%d s, %zu scrapes, %d failed)\n",
                o.scrapeSeconds, all.size(), failures.load());
    std::printf("  scrape time p50 / p99 / max         %6.3f / %.3f / %.3f ms\n", Percentile(all, 0.5), p99,
                Percentile(all, 1.0));
    std::printf("  p99                                 %6.3f ms                 <= 2 ms     %s\n", p99,
                Verdict(p99 <= 2.0 && failures.load() == 0));
    if (!gaps.empty())
        std::printf("  poll cadence of board 1 meanwhile: %zu passes %.3f to %.3f s apart (interval 5 s)\n",
                    gaps.size(), *std::min_element(gaps.begin(), gaps.end()),
                    *std::max_element(gaps.begin(), gaps.end()));
    return true;
}

// A crowd on the endpoint (tests/monitor/endpoint_load.py): 500 idle and 500 trickling connections, five
// rounds of 16 requests with 200 byte ranges each; meanwhile 200 valid scrapes, 20 a second, timed here.
bool Crowd(const Options& o, const std::vector<std::string>& devices, const std::string& dir) {
    MonitorProcess monitor;
    int port = 0;
    if (!monitor.Start(o, devices, dir, "crowd", &port))
        return false;
    std::this_thread::sleep_for(6s);
    const std::string out = dir + "/crowd.txt";
    tessor::testsupport::Process load;
    const bool loadStarted = load.Start({"/usr/bin/python3",
                                         TESSOR_BENCH_ENDPOINT_LOAD,
                                         "--port",
                                         std::to_string(port),
                                         "--pid",
                                         std::to_string(monitor.Pid()),
                                         "--held",
                                         "500",
                                         "--trickle",
                                         "500",
                                         "--ranges",
                                         "16",
                                         "--rounds",
                                         "5",
                                         "--scrapes",
                                         "0",
                                         "--hold",
                                         "20",
                                         "--max-rss-mib",
                                         "30",
                                         "--min-held",
                                         "1000",
                                         "--duration",
                                         "60"},
                                        out, dir + "/crowd.err");
    std::this_thread::sleep_for(5s); // the crowd in place, the range rounds under way
    std::vector<double> times;
    int failed = 0;
    for (int i = 0; i < 200; ++i) {
        httplib::Client client("127.0.0.1", port);
        client.set_read_timeout(5, 0);
        const auto t = Clock::now();
        auto res = client.Get("/metrics");
        times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t).count());
        failed += res && res->status == 200 ? 0 : 1;
        std::this_thread::sleep_for(50ms);
    }
    // The crowd runs for a minute; a guard against a hang, not a measurement.
    const int loadStatus = loadStarted ? load.Wait(std::chrono::minutes(5)) : -1;
    monitor.Stop();
    std::printf("\n4. A crowd: 1000 idle and trickling connections, rounds of 16 multi-range requests; 200\n"
                "   scrapes on new connections meanwhile\n");
    std::istringstream lines(ReadFile(out));
    for (std::string line; std::getline(lines, line);)
        std::printf("  %s\n", line.c_str());
    const double p99 = Percentile(times, 0.99);
    std::printf("  scrape time p50 / p99 / max         %6.3f / %.3f / %.3f ms (%d failed)\n",
                Percentile(times, 0.5), p99, Percentile(times, 1.0), failed);
    const bool met = loadStatus == 0 && p99 <= 10.0 && failed == 0;
    std::printf("  p99 <= 10 ms, resident <= 30 MiB, 1000 held, answers 200 or 416   %s\n", Verdict(met));
    return true;
}

} // namespace

int main(int argc, char** argv) {
    Options o;
    const bool parsed = tessor::bench::ParseOptions(
        argc, argv,
        {{"--rest-seconds", [&](const char* v) { o.restSeconds = std::atoi(v); }},
         {"--scrape-seconds", [&](const char* v) { o.scrapeSeconds = std::atoi(v); }},
         {"--boards", [&](const char* v) { o.boards = std::max(1, std::atoi(v)); }},
         {"--sim", [&](const char* v) { o.sim = v; }},
         {"--cli", [&](const char* v) { o.cli = v; }}});
    if (!parsed) {
        std::fprintf(
            stderr,
            "usage: tessor-bench-monitor [--rest-seconds N] [--scrape-seconds N] [--boards N] [--sim PATH] "
            "[--cli PATH]\n");
        return 2;
    }
    char pattern[] = "/tmp/tessor-bench-monitor-XXXXXX";
    const std::string dir = mkdtemp(pattern);
    std::vector<std::unique_ptr<tessor::bench::SimProcess>> sims;
    std::vector<std::string> devices;
    for (int i = 0; i < o.boards; ++i) {
        sims.push_back(std::make_unique<tessor::bench::SimProcess>());
        std::string error;
        if (!sims.back()->Start(o.sim, {}, dir, "sim" + std::to_string(i), &error)) {
            std::fprintf(stderr, "tessor-sim did not start: %s\n", error.c_str());
            return 1;
        }
        devices.push_back(sims.back()->SlavePath());
    }
    std::printf("tessor-cli monitor benchmark (%d tessor-sim boards paced at 9600 baud, one monitor)\n\n",
                o.boards);
    const bool ok = AtRest(o, devices, dir) && ScrapeFlood(o, devices, dir) && Crowd(o, devices, dir);
    // Other work on a shared machine shows in the tails; the load says how much there was.
    std::printf("\nload average at the end: %s", ReadFile("/proc/loadavg").c_str());
    std::printf("logs: %s\n", dir.c_str());
    return ok ? 0 : 1;
}
