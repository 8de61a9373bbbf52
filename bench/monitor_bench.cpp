// Benchmark of tessor-cli monitor against tessor-sim (paced at 9600 baud, on a pseudo-terminal): its cost
// at rest polling every 5 s, the time scrapes take at 100 per second, and the poll pass time against the
// wire time of its commands. Prints a table; exits 0 whether or not a target is met.

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
#include <regex>
#include <sstream>
#include <string>
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
};

using tessor::bench::ReadFile;

// The monitor program, its JSON lines in a file, its log in another.
class MonitorProcess {
public:
    ~MonitorProcess() { Stop(); }

    bool Start(const Options& o, const std::string& device, const std::string& dir, int* port) {
        m_out = dir + "/monitor.jsonl";
        m_err = dir + "/monitor.log";
        std::vector<std::string> args{o.cli, "monitor", device, "--listen", "127.0.0.1:0", "--jsonl"};
        m_pid = tessor::bench::StartWithFiles(args, m_out, m_err);
        if (m_pid < 0)
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

    void Stop() {
        if (m_pid <= 0)
            return;
        tessor::bench::StopChild(m_pid);
        m_pid = -1;
    }

    pid_t Pid() const { return m_pid; }
    std::vector<nlohmann::json> Passes() const {
        std::vector<nlohmann::json> out;
        std::istringstream lines(ReadFile(m_out));
        for (std::string line; std::getline(lines, line);)
            out.push_back(nlohmann::json::parse(line, nullptr, false));
        return out;
    }

private:
    pid_t m_pid = -1;
    std::string m_out;
    std::string m_err;
};

// CPU seconds used so far (user + system) and resident kB of a process.
double CpuSeconds(pid_t pid) {
    std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
    stat = stat.substr(stat.rfind(')') + 2);
    std::istringstream in(stat);
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && in >> field; ++i) {
        if (i == 14)
            utime = std::stoull(field);
        if (i == 15)
            stime = std::stoull(field);
    }
    return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

long StatusKb(pid_t pid, const std::string& key) {
    std::istringstream in(ReadFile("/proc/" + std::to_string(pid) + "/status"));
    for (std::string line; std::getline(in, line);) {
        if (line.rfind(key + ":", 0) == 0)
            return std::stol(line.substr(key.size() + 1));
    }
    return -1;
}

double Percentile(std::vector<double> v, double p) {
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const auto i = static_cast<std::size_t>(std::ceil(p * static_cast<double>(v.size()))) - 1;
    return v[std::min(i, v.size() - 1)];
}

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

bool AtRest(const Options& o, const std::string& device, const std::string& dir) {
    MonitorProcess monitor;
    int port = 0;
    if (!monitor.Start(o, device, dir, &port)) {
        std::fprintf(stderr, "monitor did not start; see %s/monitor.log\n", dir.c_str());
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

    std::vector<double> durations;
    // Steady passes only: the line up before and after (the first pass and the one that sees the line come
    // up also read the identification and the line settings).
    for (std::size_t i = 1; i < passes.size(); ++i) {
        if (!passes[i].is_discarded() && passes[i]["line_up"] == true && passes[i - 1]["line_up"] == true)
            durations.push_back(passes[i]["poll_duration_seconds"].get<double>() * 1000.0);
    }
    const double need = PassNeedMs();
    const double median = Percentile(durations, 0.5);
    const double worst = Percentile(durations, 1.0);

    std::printf("1. At rest, polling every 5 s, scraped every 15 s (%.0f s)\n", elapsed);
    std::printf("  CPU                                 %6.3f %% of a core       <= 0.5 %%    %s\n", share,
                Verdict(share <= 0.5));
    std::printf("  resident (now / peak)               %6.1f / %.1f MiB       <= 20 MiB   %s\n", rss / 1024.0,
                hwm / 1024.0, Verdict(hwm / 1024.0 <= 20.0));
    std::printf("\n2. Poll pass time against the wire time of its commands (%zu passes)\n", durations.size());
    std::printf(
        "  need: 21 reads (PHY 6, Ethernet 15), line time each rounded up to the 5 ms poll: %.1f ms\n", need);
    std::printf("  measured median / worst             %6.1f / %.1f ms\n", median, worst);
    std::printf("  ratio median / worst                %6.3f / %.3f           <= 1.10     %s\n",
                median / need, worst / need, Verdict(median / need <= 1.10));
    return true;
}

bool ScrapeFlood(const Options& o, const std::string& device, const std::string& dir) {
    MonitorProcess monitor;
    int port = 0;
    if (!monitor.Start(o, device, dir, &port))
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
    std::vector<double> gaps;
    for (std::size_t i = 2; i < passes.size(); ++i)
        gaps.push_back(passes[i]["time"].get<double>() - passes[i - 1]["time"].get<double>());
    const double p99 = Percentile(all, 0.99);
    std::printf("\n3. Scrapes at 100 per second from 10 clients (%d s, %zu scrapes, %d failed)\n",
                o.scrapeSeconds, all.size(), failures.load());
    std::printf("  scrape time p50 / p99 / max         %6.3f / %.3f / %.3f ms\n", Percentile(all, 0.5), p99,
                Percentile(all, 1.0));
    std::printf("  p99                                 %6.3f ms                 <= 2 ms     %s\n", p99,
                Verdict(p99 <= 2.0 && failures.load() == 0));
    if (!gaps.empty())
        std::printf("  poll cadence meanwhile: %zu passes %.3f to %.3f s apart (interval 5 s)\n", gaps.size(),
                    *std::min_element(gaps.begin(), gaps.end()), *std::max_element(gaps.begin(), gaps.end()));
    return true;
}

} // namespace

int main(int argc, char** argv) {
    Options o;
    const bool parsed = tessor::bench::ParseOptions(
        argc, argv,
        {{"--rest-seconds", [&](const char* v) { o.restSeconds = std::atoi(v); }},
         {"--scrape-seconds", [&](const char* v) { o.scrapeSeconds = std::atoi(v); }},
         {"--sim", [&](const char* v) { o.sim = v; }},
         {"--cli", [&](const char* v) { o.cli = v; }}});
    if (!parsed) {
        std::fprintf(stderr,
                     "usage: tessor-bench-monitor [--rest-seconds N] [--scrape-seconds N] [--sim PATH] "
                     "[--cli PATH]\n");
        return 2;
    }
    char pattern[] = "/tmp/tessor-bench-monitor-XXXXXX";
    const std::string dir = mkdtemp(pattern);
    tessor::bench::SimProcess sim;
    std::string error;
    if (!sim.Start(o.sim, {}, dir, "sim", &error)) {
        std::fprintf(stderr, "tessor-sim did not start: %s\n", error.c_str());
        return 1;
    }
    std::printf("tessor-cli monitor benchmark (tessor-sim paced at 9600 baud on %s)\n\n",
                sim.SlavePath().c_str());
    const bool ok = AtRest(o, sim.SlavePath(), dir) && ScrapeFlood(o, sim.SlavePath(), dir);
    // Other work on a shared machine shows in the tails; the load says how much there was.
    std::printf("\nload average at the end: %s", ReadFile("/proc/loadavg").c_str());
    std::printf("logs: %s\n", dir.c_str());
    return ok ? 0 : 1;
}
