// A board's console shared by the monitor that polls it, against the same through ser2net and directly,
// side by side in one run: tessor-cli status and save, each started as its own process against tessor-sim
// paced at 9600 baud. One simulator is reached directly and through ser2net's telnet(rfc2217) accepter;
// a second, identical one is watched by tessor-cli monitor (a pass every 5 s) and reached through the
// console it offers. The runs of the three paths alternate, so a change in the machine's load meets them
// all. Prints one table of ratios and the monitor's passes during the runs, never an assertion.

#include "bench/Measure.h"
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
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
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

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using tessor::bench::MedianOf;

constexpr double kGoal = 1.10;

double UnixNow() {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

// One timed run: its length, and when it began and ended on the wall clock (the monitor's passes carry
// wall-clock times).
struct Run {
    double ms;
    double from;
    double to;
};

struct Path {
    const char* name;
    std::string port;
    std::vector<Run> status;
    std::vector<Run> save;
    std::string savedFile;
    bool failed = false;
};

// A poll pass of the monitor as its JSON line gives it.
struct Pass {
    double start;
    double seconds;
    bool good;
};

std::vector<Pass> ReadPasses(const std::string& jsonl) {
    std::vector<Pass> passes;
    std::istringstream in(tessor::bench::ReadFile(jsonl));
    for (std::string line; std::getline(in, line);) {
        const nlohmann::json j = nlohmann::json::parse(line, nullptr, false);
        if (!j.is_object() || !j.contains("time") || !j.contains("poll_duration_seconds"))
            continue;
        const bool good =
            j.value("up", false) && j.value("corrupted_replies", -1) == 0 && j.value("timeouts", -1) == 0;
        passes.push_back({j["time"].get<double>(), j["poll_duration_seconds"].get<double>(), good});
    }
    return passes;
}

// Whether a pass was under way during the run.
bool MetAPass(const Run& run, const std::vector<Pass>& passes) {
    return std::any_of(passes.begin(), passes.end(),
                       [&](const Pass& p) { return p.start < run.to && run.from < p.start + p.seconds; });
}

std::size_t Count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

// Polls a condition every millisecond until it holds or limit has passed; whether it held.
template <class F> bool WaitFor(F condition, std::chrono::milliseconds limit) {
    const auto end = Clock::now() + limit;
    while (!condition()) {
        if (Clock::now() > end)
            return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

// Whether the process has the device open (one of its descriptors names it).
bool HoldsOpen(pid_t pid, const std::string& device) {
    std::error_code error;
    for (const auto& entry :
         std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error))
        if (std::filesystem::read_symlink(entry.path(), error) == device)
            return true;
    return false;
}

// tessor-cli monitor on one board, polling and offering its console as an RFC 2217 accepter. Writable:
// tessor-cli status reads the line's figures through the board's mailbox, which takes writes.
class SharingMonitor {
public:
    ~SharingMonitor() { m_process.SignalAndWait(SIGTERM, tessor::bench::kStopGrace); }

    // True once the console port is known and the first pass is written.
    bool Start(const std::string& workDir, const std::string& device, int intervalSeconds) {
        m_out = workDir + "/monitor.jsonl";
        m_err = workDir + "/monitor.log";
        if (!m_process.Start({TESSOR_BENCH_CLI, "monitor", device, "--listen", "127.0.0.1:0", "--jsonl",
                              "--interval", std::to_string(intervalSeconds), "--console-listen",
                              "127.0.0.1:0", "--console-writable"},
                             m_out, m_err))
            return false;
        const std::regex offered("console offered on (rfc2217://127\\.0\\.0\\.1:[0-9]+)");
        std::smatch m;
        std::string log;
        if (!WaitFor(
                [&] {
                    log = tessor::bench::ReadFile(m_err);
                    return std::regex_search(log, m, offered);
                },
                10s))
            return false;
        m_url = m[1].str();
        return WaitFor([&] { return !ReadPasses(m_out).empty(); }, 10s);
    }

    // A client session ends when the monitor has noticed the client gone; until then a new client would
    // be turned away as a second one. Waits (bounded) until `sessions` clients have left.
    void WaitForLeft(std::size_t sessions) const {
        WaitFor([&] { return Count(tessor::bench::ReadFile(m_err), " left after ") >= sessions; }, 2s);
    }

    std::size_t Refused() const { return Count(tessor::bench::ReadFile(m_err), " is held by "); }
    const std::string& Url() const { return m_url; }
    const std::string& Passes() const { return m_out; }

private:
    tessor::testsupport::Process m_process;
    std::string m_out;
    std::string m_err;
    std::string m_url;
};

Run Timed(const std::vector<std::string>& args, const std::string& errors, bool* failed) {
    int status = -1;
    const double from = UnixNow();
    const auto start = Clock::now();
    tessor::bench::RunAndCollect(TESSOR_BENCH_CLI, args, {}, errors, &status);
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    *failed = *failed || status != 0;
    return {ms, from, UnixNow()};
}

double MedianMs(const std::vector<Run>& runs) {
    std::vector<double> ms;
    for (const Run& r : runs)
        ms.push_back(r.ms);
    return MedianOf(ms);
}

double MeanMs(const std::vector<Run>& runs) {
    double sum = 0;
    for (const Run& r : runs)
        sum += r.ms;
    return runs.empty() ? 0 : sum / static_cast<double>(runs.size());
}

double WorstMs(const std::vector<Run>& runs) {
    double worst = 0;
    for (const Run& r : runs)
        worst = std::max(worst, r.ms);
    return worst;
}

void PrintTable(const std::vector<Path>& paths, int repeats) {
    const double directStatus = MedianMs(paths[0].status);
    const double directSave = MedianMs(paths[0].save);
    std::printf("  %-18s %4s %10s %6s %9s %10s %6s %9s  %s\n", "path", "runs", "status ms", "ratio", "worst",
                "save ms", "ratio", "worst", "target");
    for (const Path& p : paths) {
        const double status = MedianMs(p.status);
        const double save = MedianMs(p.save);
        const bool met = !p.failed && status <= kGoal * directStatus && save <= kGoal * directSave;
        std::printf("  %-18s %4d %10.1f %6.3f %9.3f %10.1f %6.3f %9.3f  %s%s\n", p.name, repeats, status,
                    status / directStatus, WorstMs(p.status) / directStatus, save, save / directSave,
                    WorstMs(p.save) / directSave,
                    &p == &paths[0] ? "(reference)"
                    : met           ? "<=1.10 met"
                                    : "<=1.10 missed",
                    p.failed ? " (a run failed)" : "");
    }
    std::printf("  means against the pseudo-terminal's mean (status, save):");
    for (const Path& p : paths)
        std::printf("  %s %.3f %.3f", p.name, MeanMs(p.status) / MeanMs(paths[0].status),
                    MeanMs(p.save) / MeanMs(paths[0].save));
    std::printf("\n");
}

// The shared console's runs that met one of the monitor's passes against those that did not, and the
// passes themselves during the runs.
void PrintPasses(const Path& shared, const std::vector<Pass>& passes, double from, double to,
                 int intervalSeconds) {
    for (const auto& [what, runs] : {std::pair{"status", &shared.status}, std::pair{"save", &shared.save}}) {
        std::vector<double> met, clear;
        for (const Run& r : *runs)
            (MetAPass(r, passes) ? met : clear).push_back(r.ms);
        std::printf("  shared console %-6s runs that met a pass: %2zu of %2zu, median %7.1f ms; the others "
                    "%7.1f ms\n",
                    what, met.size(), runs->size(), MedianOf(met), MedianOf(clear));
    }
    std::vector<Pass> during;
    for (const Pass& p : passes)
        if (p.start + p.seconds >= from && p.start <= to)
            during.push_back(p);
    double gap = 0;
    for (std::size_t i = 1; i < during.size(); ++i)
        gap = std::max(gap, during[i].start - during[i - 1].start);
    std::vector<double> seconds;
    for (const Pass& p : during)
        seconds.push_back(p.seconds * 1000.0);
    const bool good = std::all_of(during.begin(), during.end(), [](const Pass& p) { return p.good; });
    std::printf("  monitor passes during the runs: %zu, every %d s; largest gap %.2f s; median pass %.1f ms; "
                "%s\n",
                during.size(), intervalSeconds, gap, MedianOf(seconds),
                good ? "all up, no corrupted reply, no time-out" : "NOT all good");
}

constexpr const char* kUsage =
    "usage: tessor-bench-console-share [--work-dir DIR] [--repeats N] [--interval S]\n"
    "  tessor-cli status and save directly, through ser2net's rfc2217 accepter and through the console\n"
    "  a monitor shares while it polls every S seconds (default 5); --repeats runs each (default 7).\n"
    "  Needs ser2net (scripts/setup-deps.sh).\n";

} // namespace

int main(int argc, char** argv) {
    if (argc > 1 && (std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h")) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    std::string workDir;
    int repeats = 7;
    int interval = 5;
    if (!tessor::bench::ParseOptions(
            argc, argv,
            {{"--work-dir", [&](const char* v) { workDir = v; }},
             {"--repeats", [&](const char* v) { repeats = std::max(1, std::atoi(v)); }},
             {"--interval", [&](const char* v) { interval = std::max(1, std::atoi(v)); }}})) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    if (workDir.empty()) {
        char pattern[] = "/tmp/tessor-bench-console-share.XXXXXX";
        const char* dir = mkdtemp(pattern);
        workDir = dir ? dir : "/tmp";
    }
    std::printf("\n9. The console a monitor shares, against ser2net and the pseudo-terminal, side by side "
                "(paced)\n");
    double load[3] = {0, 0, 0};
    std::ifstream("/proc/loadavg") >> load[0] >> load[1] >> load[2];
    std::printf("  load average at the start (1, 5, 15 min): %.2f %.2f %.2f on %ld CPUs\n", load[0], load[1],
                load[2], sysconf(_SC_NPROCESSORS_ONLN));
    tessor::bench::SimProcess board, watched;
    std::string error;
    if (!board.Start(TESSOR_BENCH_SIM, {"--train-ms", "0"}, workDir, "sim-board", &error) ||
        !watched.Start(TESSOR_BENCH_SIM, {"--train-ms", "0"}, workDir, "sim-watched", &error)) {
        std::printf("  not measured: %s\n", error.c_str());
        return 0;
    }
    tessor::bench::NetworkSitesOptions where;
    where.workDir = workDir;
    where.ser2net = TESSOR_BENCH_SER2NET;
    const std::vector<tessor::bench::Accepter> accepters{
        {"telnet(rfc2217),tcp(nodelay)", tessor::bench::FreeLoopbackPort(), board.SlavePath()}};
    tessor::testsupport::Process ser2net;
    if (!tessor::bench::StartSer2net(where, "ser2net", accepters, &ser2net)) {
        std::printf("  not measured: ser2net (%s) did not start or listen\n", TESSOR_BENCH_SER2NET);
        return 0;
    }
    SharingMonitor monitor;
    if (!monitor.Start(workDir, watched.SlavePath(), interval)) {
        std::printf("  not measured: the monitor did not offer its console (see %s/monitor.log)\n",
                    workDir.c_str());
        return 0;
    }
    std::vector<Path> paths{{"pseudo-terminal", board.SlavePath(), {}, {}, workDir + "/direct.LT"},
                            {"ser2net rfc2217", accepters[0].Url(), {}, {}, workDir + "/ser2net.LT"},
                            {"monitor's console", monitor.Url(), {}, {}, workDir + "/shared.LT"}};
    const std::string errors = workDir + "/errors.log";
    std::size_t sessions = 0;
    const auto run = [&](Path& p, const std::vector<std::string>& command) {
        std::vector<std::string> args{"--port", p.port};
        args.insert(args.end(), command.begin(), command.end());
        const Run r = Timed(args, errors, &p.failed);
        // Outside the timed part: the next client finds the console free.
        if (&p == &paths[1])
            WaitFor([&] { return !HoldsOpen(ser2net.Pid(), board.SlavePath()); }, 2s);
        if (&p == &paths[2])
            monitor.WaitForLeft(++sessions);
        return r;
    };
    for (Path& p : paths) // one run each first, not measured: caches and the line settle
        run(p, {"status"});
    const double from = UnixNow();
    for (int i = 0; i < repeats; ++i) {
        // A round of six runs takes about as long as the monitor's interval, so without a pause the
        // shared console's runs would meet its passes at the same moment every round. A pause of a
        // different part of the interval before each round (golden-ratio steps) spreads them evenly.
        const double phase = std::fmod(i * 0.6180339887, 1.0);
        std::this_thread::sleep_for(std::chrono::duration<double>(phase * interval));
        for (Path& p : paths) {
            p.status.push_back(run(p, {"status"}));
            p.save.push_back(run(p, {"save", p.savedFile}));
        }
    }
    const double to = UnixNow();
    ser2net.SignalAndWait(SIGTERM, tessor::bench::kStopGrace);
    PrintTable(paths, repeats);
    PrintPasses(paths[2], ReadPasses(monitor.Passes()), from, to, interval);
    const std::string direct = tessor::bench::ReadFile(paths[0].savedFile);
    std::printf("  saved files: through ser2net %s, through the monitor's console %s the direct one; "
                "clients turned away: %zu\n",
                tessor::bench::ReadFile(paths[1].savedFile) == direct ? "identical to" : "NOT identical to",
                tessor::bench::ReadFile(paths[2].savedFile) == direct ? "identical to" : "NOT identical to",
                monitor.Refused());
    std::printf(
        "  status: tessor-cli status (side, line, link settings, one PHY pass, identification); save: the "
        "31\n"
        "    configuration registers to a file; each from starting the process to its exit, the median and\n"
        "    the slowest of the runs; ratio = against the pseudo-terminal's median. The monitor watches a\n"
        "    second simulator like the first; its console's runs include the telnet negotiation and any\n"
        "    command of a pass they had to wait for.\n");
    return 0;
}
