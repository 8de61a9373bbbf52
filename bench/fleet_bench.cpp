// The fleet in numbers: many simulated boards behind one ser2net (an rfc2217 accepter each on 127.0.0.1),
// paced at 9600 baud, and an inventory of them.
//   Campaigns: tessor-cli fleet save and verify over every board with --jobs and --per-server, against a
//   floor measured in the same run (the same command on one board alone, as often as there are waves),
//   with the campaign's CPU time and peak resident memory from wait4; with and without --block-reads.
//   The monitor: tessor-cli monitor --inventory on every board, its CPU at rest, its resident memory, each
//   board's pass time (the monitor's own poll_duration_seconds) against one board alone, and the scrape
//   time of its page beside the node exporter's.
// Prints markdown tables of figures, never an assertion.

#include "bench/Loopback.h"
#include "bench/Measure.h"
#include "bench/MonitorLine.h"
#include "bench/NetworkSites.h"
#include "bench/Options.h"
#include "bench/Process.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#ifndef TESSOR_BENCH_SIM
#define TESSOR_BENCH_SIM "tessor-sim"
#endif
#ifndef TESSOR_BENCH_CLI
#define TESSOR_BENCH_CLI "tessor-cli"
#endif
#ifndef TESSOR_BENCH_SER2NET
#define TESSOR_BENCH_SER2NET "/usr/sbin/ser2net"
#endif
#ifndef TESSOR_BENCH_NODE_EXPORTER
#define TESSOR_BENCH_NODE_EXPORTER "/usr/bin/prometheus-node-exporter"
#endif

extern char** environ;

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using tessor::bench::MedianOf;
using tessor::bench::Percentile;

constexpr double kWallGoal = 1.10;
constexpr double kMemoryGoalMiB = 64.0;

struct Options {
    std::string workDir;
    int boards = 64;
    int jobs = 16;
    int perServer = 16;
    int repeats = 3;
    int restSeconds = 40;
    int scrapes = 50;
    bool blockReads = true;
};

// A program run to its end, with what it used as wait4 reports it.
struct Usage {
    int status = -1; // exit status; -1 when it did not end by itself
    double wallMs = 0;
    double cpuSeconds = 0; // user + system
    double maxRssMiB = 0;
};

// Runs argv with standard output and error into files; a run longer than guard is killed (a guard
// against a hang, not a measurement).
Usage RunMeasured(std::vector<std::string> argv, const std::string& out, const std::string& err,
                  std::chrono::seconds guard) {
    std::vector<char*> pointers = tessor::testsupport::Pointers(argv);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    Usage usage;
    pid_t pid = -1;
    const auto start = Clock::now();
    const int rc = posix_spawn(&pid, pointers[0], &actions, nullptr, pointers.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        return usage;
    int status = 0;
    rusage used{};
    while (wait4(pid, &status, WNOHANG, &used) == 0) {
        if (Clock::now() - start > guard) {
            kill(pid, SIGKILL);
            wait4(pid, &status, 0, &used);
            return usage;
        }
        std::this_thread::sleep_for(2ms);
    }
    usage.wallMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    usage.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    const auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    usage.cpuSeconds = seconds(used.ru_utime) + seconds(used.ru_stime);
    usage.maxRssMiB = static_cast<double>(used.ru_maxrss) / 1024.0; // kB on Linux
    return usage;
}

// The boards' JSON lines of a campaign: how many per outcome, and the boards' own durations.
struct Lines {
    std::map<std::string, int> outcomes;
    std::vector<double> durationMs;
};

Lines ReadLines(const std::string& file) {
    Lines lines;
    std::istringstream in(tessor::bench::ReadFile(file));
    for (std::string line; std::getline(in, line);) {
        const nlohmann::json j = nlohmann::json::parse(line, nullptr, false);
        if (!j.is_object() || !j.contains("outcome") || !j["outcome"].is_string())
            continue;
        ++lines.outcomes[j["outcome"].get<std::string>()];
        if (const auto d = j.find("duration_seconds"); d != j.end() && d->is_number())
            lines.durationMs.push_back(d->get<double>() * 1000.0);
    }
    return lines;
}

std::string OutcomeText(const std::map<std::string, int>& outcomes) {
    std::string text;
    for (const auto& [outcome, count] : outcomes)
        text += (text.empty() ? "" : ", ") + std::to_string(count) + " " + outcome;
    return text.empty() ? "no JSON line" : text;
}

// One campaign command (save or verify, with or without block reads) on every board and on one alone.
struct Campaign {
    Campaign(std::string n, std::string f, std::vector<std::string> a)
        : name(std::move(n)), file(std::move(f)), args(std::move(a)) {}
    std::string name;
    std::string file;              // the start of its files' names
    std::vector<std::string> args; // after "fleet --inventory FILE"
    std::vector<Usage> all;
    std::vector<Usage> alone;
    std::vector<double> aloneBoardMs; // the lone board's own duration_seconds
    std::map<std::string, int> outcomes;
    bool failed = false;
};

void RunCampaign(const Options& o, const std::string& inventory, bool alone, int round, Campaign* c) {
    const std::string tag = o.workDir + "/" + c->file + (alone ? "-alone-" : "-all-") + std::to_string(round);
    std::vector<std::string> argv{TESSOR_BENCH_CLI, "fleet", "--inventory", inventory};
    if (alone)
        argv.insert(argv.end(), {"--limit", "board01"});
    argv.insert(argv.end(), c->args.begin(), c->args.end());
    for (std::string& a : argv)
        if (a == "@OUT")
            a = tag + ".out";
    argv.insert(argv.end(), {"--jobs", std::to_string(o.jobs), "--per-server", std::to_string(o.perServer)});
    const Usage usage = RunMeasured(argv, tag + ".jsonl", tag + ".log", 600s);
    const Lines lines = ReadLines(tag + ".jsonl");
    const int expected = alone ? 1 : o.boards;
    const auto ok = lines.outcomes.find("ok");
    if (usage.status != 0 || ok == lines.outcomes.end() || ok->second != expected)
        c->failed = true;
    if (alone) {
        c->alone.push_back(usage);
        if (!lines.durationMs.empty())
            c->aloneBoardMs.push_back(lines.durationMs.front());
    } else {
        c->all.push_back(usage);
        for (const auto& [outcome, count] : lines.outcomes)
            c->outcomes[outcome] += count;
    }
}

template <class F> double Median(const std::vector<Usage>& runs, F field) {
    std::vector<double> values;
    for (const Usage& u : runs)
        values.push_back(field(u));
    return MedianOf(values);
}

void PrintCampaigns(const Options& o, const std::vector<Campaign>& campaigns) {
    const int waves = (o.boards + std::min(o.jobs, o.perServer) - 1) / std::min(o.jobs, o.perServer);
    std::printf(
        "\n| campaign | runs | wall s | one board alone s | floor s | wall / floor | CPU s | peak RSS MiB "
        "| boards | targets |\n|---|---|---|---|---|---|---|---|---|---|\n");
    for (const Campaign& c : campaigns) {
        const double wall = Median(c.all, [](const Usage& u) { return u.wallMs; });
        const double aloneWall = Median(c.alone, [](const Usage& u) { return u.wallMs; });
        const double board = MedianOf(c.aloneBoardMs);
        // The process's own start and end once, the board's time once a wave.
        const double floor = (aloneWall - board) + waves * board;
        const double cpu = Median(c.all, [](const Usage& u) { return u.cpuSeconds; });
        double peak = 0;
        for (const Usage& u : c.all)
            peak = std::max(peak, u.maxRssMiB);
        const double ratio = floor > 0 ? wall / floor : 0;
        std::printf("| %s | %zu | %.2f | %.2f (board %.2f) | %.2f | %.3f | %.2f | %.1f | %s | wall %s, "
                    "memory %s%s |\n",
                    c.name.c_str(), c.all.size(), wall / 1000, aloneWall / 1000, board / 1000, floor / 1000,
                    ratio, cpu, peak, OutcomeText(c.outcomes).c_str(),
                    ratio > 0 && ratio <= kWallGoal ? "<=1.10 met" : "<=1.10 missed",
                    peak > 0 && peak < kMemoryGoalMiB ? "<64 MiB met" : "<64 MiB missed",
                    c.failed ? " (a run failed)" : "");
    }
    std::printf(
        "\n  %d boards, --jobs %d --per-server %d: %d waves. wall: the campaign process from start to "
        "exit, the median\n"
        "    of the runs; one board alone: the same command with --limit board01, its process and "
        "(board) its\n"
        "    JSON line's duration_seconds; floor = the lone process's own start and end once plus %d "
        "times the\n"
        "    lone board's duration; CPU: user + system of the campaign process (wait4), the median; "
        "peak RSS:\n"
        "    its ru_maxrss, the largest of the runs; boards: the JSON lines' outcomes over all "
        "runs.\n",
        o.boards, o.jobs, o.perServer, waves, waves);
}

// An HTTP GET of /metrics on 127.0.0.1:port, a new connection each; its time in ms, or nothing when the
// answer was not a whole 200 page.
std::optional<double> Scrape(int port, std::size_t* bytes) {
    const auto start = Clock::now();
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in address = tessor::bench::LoopbackAddress(port);
    if (fd < 0)
        return std::nullopt;
    std::string answer;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
        const std::string request = "GET /metrics HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
                                    "\r\nConnection: close\r\n\r\n";
        if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) ==
            static_cast<ssize_t>(request.size())) {
            char chunk[16384];
            for (ssize_t n; (n = ::read(fd, chunk, sizeof chunk)) > 0;)
                answer.append(chunk, static_cast<std::size_t>(n));
        }
    }
    ::close(fd);
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    if (answer.rfind("HTTP/1.1 200", 0) != 0 && answer.rfind("HTTP/1.0 200", 0) != 0)
        return std::nullopt;
    *bytes = answer.size();
    return ms;
}

// The steady passes of each port in a monitor's JSON lines: the line up in this pass and the one before
// (the first pass, and the one that sees the line come up, read the identification and settings too),
// with a known duration. The durations in ms, by port.
std::map<std::string, std::vector<double>> SteadyPasses(const std::string& jsonl) {
    std::map<std::string, std::vector<double>> steady;
    std::map<std::string, bool> upBefore;
    std::istringstream in(tessor::bench::ReadFile(jsonl));
    for (std::string line; std::getline(in, line);) {
        const std::optional<tessor::bench::MonitorLinePass> pass = tessor::bench::ParseMonitorLine(line);
        if (!pass)
            continue;
        const bool up = pass->lineUp == true;
        if (up && upBefore[pass->port] && pass->ms)
            steady[pass->port].push_back(*pass->ms);
        upBefore[pass->port] = up;
    }
    return steady;
}

std::size_t PortsWithAPass(const std::string& jsonl) {
    std::map<std::string, bool> seen;
    std::istringstream in(tessor::bench::ReadFile(jsonl));
    for (std::string line; std::getline(in, line);)
        if (const auto pass = tessor::bench::ParseMonitorLine(line); pass && pass->lineUp == true)
            seen[pass->port] = true;
    return seen.size();
}

bool StartMonitor(const Options& o, const std::string& inventory, const std::string& limit, int port,
                  const std::string& tag, tessor::testsupport::Process* monitor) {
    std::vector<std::string> argv{TESSOR_BENCH_CLI, "monitor",    "--inventory",
                                  inventory,        "--listen",   "127.0.0.1:" + std::to_string(port),
                                  "--jsonl",        "--interval", "5"};
    if (!limit.empty())
        argv.insert(argv.end(), {"--limit", limit});
    return monitor->Start(argv, o.workDir + "/" + tag + ".jsonl", o.workDir + "/" + tag + ".log") &&
           tessor::testsupport::WaitFor([&] { return tessor::bench::ListensOnLoopback(port); }, 10s);
}

// The machine's busy and total time in clock ticks, all CPUs together (/proc/stat's first line).
std::pair<double, double> MachineTicks() {
    std::istringstream in(tessor::bench::ReadFile("/proc/stat"));
    std::string cpu;
    in >> cpu;
    double total = 0, idle = 0, value = 0;
    for (int field = 0; field < 8 && in >> value; ++field) {
        total += value;
        if (field == 3 || field == 4) // idle, iowait
            idle += value;
    }
    return {total - idle, total};
}

void MeasureMonitor(const Options& o, const std::string& inventory, const std::vector<std::string>& urls,
                    pid_t ser2net) {
    std::printf(
        "\n10b. One tessor-cli monitor --inventory on the %d boards (a pass every 5 s), beside the node "
        "exporter\n",
        o.boards);
    const int monitorPort = tessor::bench::FreeLoopbackPort();
    const int exporterPort = tessor::bench::FreeLoopbackPort();
    tessor::testsupport::Process monitor, exporter;
    if (!StartMonitor(o, inventory, "", monitorPort, "monitor-all", &monitor)) {
        std::printf("  not measured: the monitor did not listen (see %s/monitor-all.log)\n",
                    o.workDir.c_str());
        return;
    }
    const std::string exporterLog = o.workDir + "/node-exporter.log";
    if (!exporter.Start(
            {TESSOR_BENCH_NODE_EXPORTER, "--web.listen-address=127.0.0.1:" + std::to_string(exporterPort)},
            exporterLog, exporterLog) ||
        !tessor::testsupport::WaitFor([&] { return tessor::bench::ListensOnLoopback(exporterPort); }, 10s)) {
        std::printf("  not measured: the node exporter (%s) did not listen\n", TESSOR_BENCH_NODE_EXPORTER);
        return;
    }
    // Past start-up: every board has had a pass with its line up, and then one interval more.
    const std::string all = o.workDir + "/monitor-all.jsonl";
    const bool started =
        tessor::testsupport::WaitFor([&] { return PortsWithAPass(all) == urls.size(); }, 60s, 200ms);
    std::this_thread::sleep_for(5s);
    const double cpu0 = tessor::bench::CpuSeconds(monitor.Pid());
    const double ser2netCpu0 = tessor::bench::CpuSeconds(ser2net);
    const auto machine0 = MachineTicks();
    const auto t0 = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(o.restSeconds));
    const double window = std::chrono::duration<double>(Clock::now() - t0).count();
    const double cpuShare = (tessor::bench::CpuSeconds(monitor.Pid()) - cpu0) / window * 100.0;
    const double ser2netShare = (tessor::bench::CpuSeconds(ser2net) - ser2netCpu0) / window * 100.0;
    const auto machine1 = MachineTicks();
    const double machineBusy =
        machine1.second > machine0.second
            ? (machine1.first - machine0.first) / (machine1.second - machine0.second) * 100.0
            : 0.0;
    const long rss = tessor::bench::StatusKb(monitor.Pid(), "VmRSS");
    const long hwmAtRest = tessor::bench::StatusKb(monitor.Pid(), "VmHWM");

    // The two pages in turns, a new connection each, so a change in the machine's load meets both.
    std::vector<double> monitorMs, exporterMs;
    std::size_t monitorBytes = 0, exporterBytes = 0;
    int monitorFailed = 0, exporterFailed = 0;
    for (int i = 0; i < o.scrapes; ++i) {
        if (const auto ms = Scrape(monitorPort, &monitorBytes))
            monitorMs.push_back(*ms);
        else
            ++monitorFailed;
        if (const auto ms = Scrape(exporterPort, &exporterBytes))
            exporterMs.push_back(*ms);
        else
            ++exporterFailed;
    }
    const long hwm = tessor::bench::StatusKb(monitor.Pid(), "VmHWM");
    monitor.Stop(tessor::bench::kStopGrace); // ser2net takes one client per accepter
    exporter.Stop(tessor::bench::kStopGrace);
    const std::map<std::string, std::vector<double>> passes = SteadyPasses(all);

    tessor::testsupport::Process lone;
    const std::string aloneFile = o.workDir + "/monitor-alone.jsonl";
    std::vector<double> aloneMs;
    if (StartMonitor(o, inventory, "board01", tessor::bench::FreeLoopbackPort(), "monitor-alone", &lone)) {
        tessor::testsupport::WaitFor(
            [&] {
                const auto steady = SteadyPasses(aloneFile);
                return steady.count(urls[0]) && steady.at(urls[0]).size() >= 4;
            },
            60s, 200ms);
        lone.Stop(tessor::bench::kStopGrace);
        if (const auto steady = SteadyPasses(aloneFile); steady.count(urls[0]))
            aloneMs = steady.at(urls[0]);
    }
    const double alone = MedianOf(aloneMs);

    std::vector<double> medians, everyPass;
    std::size_t boardsWithPasses = 0;
    for (const std::string& url : urls) {
        const auto found = passes.find(url);
        if (found == passes.end() || found->second.empty())
            continue;
        ++boardsWithPasses;
        medians.push_back(MedianOf(found->second));
        everyPass.insert(everyPass.end(), found->second.begin(), found->second.end());
    }
    const double slowest = medians.empty() ? 0 : *std::max_element(medians.begin(), medians.end());
    const auto ratio = [&](double ms) { return alone > 0 ? ms / alone : 0.0; };

    std::printf("\n| monitor, %d boards | figure |\n|---|---|\n", o.boards);
    std::printf("| CPU at rest | %.2f %% of a core over %.0f s |\n", cpuShare, window);
    std::printf(
        "| beside it, same window | ser2net %.2f %% of a core; the machine %.0f %% busy (all %ld CPUs, "
        "the simulators and other work included) |\n",
        ser2netShare, machineBusy, sysconf(_SC_NPROCESSORS_ONLN));
    std::printf("| resident memory | %.1f MiB (VmRSS at rest), peak %.1f MiB (VmHWM; %.1f MiB before the "
                "scrapes) |\n",
                rss / 1024.0, hwm / 1024.0, hwmAtRest / 1024.0);
    std::printf("| boards with steady passes | %zu of %zu%s |\n", boardsWithPasses, urls.size(),
                started ? "" : " (not every board had a pass before the window)");
    std::printf("| one board alone, pass | median %.1f ms (%zu steady passes) |\n", alone, aloneMs.size());
    std::printf("| each board's pass, median of the boards' medians | %.1f ms, %.3f of alone |\n",
                MedianOf(medians), ratio(MedianOf(medians)));
    std::printf("| the slowest board's median pass | %.1f ms, %.3f of alone |\n", slowest, ratio(slowest));
    std::printf("| every pass of every board, p95 | %.1f ms, %.3f of alone |\n", Percentile(everyPass, 0.95),
                ratio(Percentile(everyPass, 0.95)));
    std::printf("\n| page (%d scrapes each, in turns) | bytes | median ms | p95 ms | failed "
                "|\n|---|---|---|---|---|\n",
                o.scrapes);
    std::printf("| tessor-cli monitor /metrics | %zu | %.2f | %.2f | %d |\n", monitorBytes,
                MedianOf(monitorMs), Percentile(monitorMs, 0.95), monitorFailed);
    std::printf("| node exporter /metrics | %zu | %.2f | %.2f | %d |\n", exporterBytes, MedianOf(exporterMs),
                Percentile(exporterMs, 0.95), exporterFailed);
    std::printf(
        "\n  CPU: the monitor's user + system time over the window (/proc/PID/stat) after every board's "
        "first pass;\n"
        "    pass: the monitor's own poll_duration_seconds of the steady passes (line up in this pass "
        "and the one\n"
        "    before); one board alone: a monitor on --limit board01 after the one on all; a scrape: "
        "connect, GET,\n"
        "    the whole page to the server's close, a new connection each, on 127.0.0.1.\n");
}

constexpr const char* kUsage =
    "usage: tessor-bench-fleet [--work-dir DIR] [--boards N] [--jobs N] [--per-server N] [--repeats N]\n"
    "                          [--rest-seconds N] [--scrapes N] [--block-reads yes|no] [--only "
    "fleet|monitor]\n"
    "  N simulated boards (default 64) behind one ser2net: tessor-cli fleet save and verify (--repeats runs\n"
    "  each, default 3, with --jobs and --per-server, default 16 and 16, with and without --block-reads),\n"
    "  then one monitor on all of them (--rest-seconds at rest, default 40; --scrapes of its page and the\n"
    "  node exporter's, default 50). Needs ser2net and prometheus-node-exporter (scripts/setup-deps.sh).\n";

} // namespace

int main(int argc, char** argv) {
    if (argc > 1 && (std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h")) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    Options o;
    std::string only, block = "yes";
    const auto count = [](const char* v, int least) { return std::max(least, std::atoi(v)); };
    const bool parsed =
        tessor::bench::ParseOptions(argc, argv,
                                    {{"--work-dir", [&](const char* v) { o.workDir = v; }},
                                     {"--boards", [&](const char* v) { o.boards = count(v, 1); }},
                                     {"--jobs", [&](const char* v) { o.jobs = count(v, 1); }},
                                     {"--per-server", [&](const char* v) { o.perServer = count(v, 1); }},
                                     {"--repeats", [&](const char* v) { o.repeats = count(v, 1); }},
                                     {"--rest-seconds", [&](const char* v) { o.restSeconds = count(v, 5); }},
                                     {"--scrapes", [&](const char* v) { o.scrapes = count(v, 1); }},
                                     {"--block-reads", [&](const char* v) { block = v; }},
                                     {"--only", [&](const char* v) { only = v; }}});
    if (!parsed || (block != "yes" && block != "no") ||
        (!only.empty() && only != "fleet" && only != "monitor")) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    o.blockReads = block == "yes";
    std::setvbuf(stdout, nullptr, _IOLBF, 0); // each table as it is done, also into a file
    if (o.workDir.empty()) {
        char pattern[] = "/tmp/tessor-bench-fleet.XXXXXX";
        const char* dir = mkdtemp(pattern);
        o.workDir = dir ? dir : "/tmp";
    }
    std::printf(
        "\n10. The fleet: %d boards behind one ser2net (rfc2217 accepters, 127.0.0.1), paced at 9600 baud\n",
        o.boards);
    double load[3] = {0, 0, 0};
    std::ifstream("/proc/loadavg") >> load[0] >> load[1] >> load[2];
    std::printf("  load average at the start (1, 5, 15 min): %.2f %.2f %.2f on %ld CPUs; files in %s\n",
                load[0], load[1], load[2], sysconf(_SC_NPROCESSORS_ONLN), o.workDir.c_str());

    // Distinct free ports: each held open until all are chosen, so none is handed out twice.
    std::vector<int> ports, held;
    for (int i = 0; i < o.boards; ++i) {
        int port = 0;
        held.push_back(tessor::bench::ListenOnLoopback(1, &port));
        ports.push_back(port);
    }
    for (int fd : held)
        if (fd >= 0)
            ::close(fd);
    std::vector<std::unique_ptr<tessor::bench::SimProcess>> sims;
    std::vector<tessor::bench::Accepter> accepters;
    for (int i = 0; i < o.boards; ++i) {
        sims.push_back(std::make_unique<tessor::bench::SimProcess>());
        std::string error;
        if (!sims.back()->Start(TESSOR_BENCH_SIM, {"--train-ms", "0"}, o.workDir, "sim" + std::to_string(i),
                                &error)) {
            std::printf("  not measured: %s\n", error.c_str());
            return 0;
        }
        accepters.push_back(
            {"telnet(rfc2217),tcp(nodelay)", ports[static_cast<std::size_t>(i)], sims.back()->SlavePath()});
    }
    tessor::bench::NetworkSitesOptions where;
    where.workDir = o.workDir;
    where.ser2net = TESSOR_BENCH_SER2NET;
    tessor::testsupport::Process ser2net;
    if (!tessor::bench::StartSer2net(where, "ser2net-fleet", accepters, &ser2net)) {
        std::printf("  not measured: ser2net (%s) did not start or listen\n", TESSOR_BENCH_SER2NET);
        return 0;
    }
    // The intended file of every board: the simulators are alike, so board 1's saved configuration.
    const std::string intended = o.workDir + "/intended.LT";
    int status = -1;
    tessor::bench::RunAndCollect(TESSOR_BENCH_CLI, {"--port", accepters[0].Url(), "save", intended}, {},
                                 o.workDir + "/intended.log", &status);
    if (status != 0) {
        std::printf("  not measured: tessor-cli save of board 1 failed (see %s/intended.log)\n",
                    o.workDir.c_str());
        return 0;
    }
    const std::string inventory = o.workDir + "/inventory.yaml";
    std::vector<std::string> urls;
    {
        std::ofstream out(inventory);
        out << "all:\n  vars:\n    tessor_config: intended.LT\n  children:\n    bench:\n      hosts:\n";
        for (std::size_t i = 0; i < accepters.size(); ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "board%02zu", i + 1);
            out << "        " << name << ":\n          tessor_port: \"" << accepters[i].Url() << "\"\n";
            urls.push_back(accepters[i].Url());
        }
    }

    if (only.empty() || only == "fleet") {
        std::vector<Campaign> campaigns{{"fleet save", "save", {"save", "--out", "@OUT"}},
                                        {"fleet verify", "verify", {"verify"}}};
        if (o.blockReads) {
            campaigns.push_back(
                {"fleet save --block-reads", "save-block", {"save", "--out", "@OUT", "--block-reads"}});
            campaigns.push_back({"fleet verify --block-reads", "verify-block", {"verify", "--block-reads"}});
        }
        std::printf("\n10a. tessor-cli fleet campaigns over the inventory, each beside one board alone\n");
        // One board alone and then all of them, for each command in turn and round after round, so a
        // change in the machine's load meets all of them.
        for (int round = 0; round < o.repeats; ++round)
            for (std::size_t i = 0; i < campaigns.size(); ++i) {
                RunCampaign(o, inventory, true, round, &campaigns[i]);
                RunCampaign(o, inventory, false, round, &campaigns[i]);
            }
        PrintCampaigns(o, campaigns);
    }
    if (only.empty() || only == "monitor")
        MeasureMonitor(o, inventory, urls, ser2net.Pid());
    ser2net.SignalAndWait(SIGTERM, tessor::bench::kStopGrace);
    return 0;
}
