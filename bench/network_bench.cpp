// A board behind ser2net against the same board on its pseudo-terminal, side by side in one run:
// tessor-cli status (one PHY pass among its reads) and save, each started as its own process against
// tessor-sim paced at 9600 baud, directly, through ser2net's telnet(rfc2217) accepter and through its raw
// TCP one on 127.0.0.1. The runs of the three paths alternate, so a change in the machine's load meets
// them all. Prints one table of ratios, never an assertion.

#include "bench/Measure.h"
#include "bench/NetworkSites.h"
#include "bench/Options.h"
#include "bench/Process.h"

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
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

using Clock = std::chrono::steady_clock;
using tessor::bench::FreeLoopbackPort;
using tessor::bench::MedianOf;

struct Path {
    const char* name;
    std::string port;
    std::vector<double> statusMs;
    std::vector<double> saveMs;
    bool failed = false;
};

double RunMs(const std::vector<std::string>& args, const std::string& errors, bool* failed) {
    int status = -1;
    const auto start = Clock::now();
    tessor::bench::RunAndCollect(TESSOR_BENCH_CLI, args, {}, errors, &status);
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    *failed = *failed || status != 0;
    return ms;
}

bool IsHelp(const std::string& arg) {
    return arg == "--help" || arg == "-h";
}

constexpr const char* kUsage =
    "usage: tessor-bench-network [--work-dir DIR] [--repeats N] [--only compare|remote|boards]\n"
    "                            [--delay-ms N] [--remote-repeats N] [--remote-seconds N]\n"
    "                            [--boards N] [--rest-seconds N]\n"
    "  compare: status and save directly and through ser2net's accepters (--repeats runs each);\n"
    "  remote: through a relay adding --delay-ms each way (default 20) in front of ser2net;\n"
    "  boards: one monitor watching --boards boards (default 16) behind one ser2net.\n"
    "  Without --only, all three. Needs ser2net (scripts/setup-deps.sh).\n";

// The options of the command line; false after printing the usage (on standard output for --help).
bool ParseNetworkOptions(int argc, char** argv, std::string* workDir, int* repeats,
                         tessor::bench::NetworkSitesOptions* sites, std::string* only) {
    if (argc > 1 && IsHelp(argv[1])) {
        std::fputs(kUsage, stdout);
        return false;
    }
    const auto count = [](const char* v, int least) { return std::max(least, std::atoi(v)); };
    const bool parsed = tessor::bench::ParseOptions(
        argc, argv,
        {{"--work-dir", [&](const char* v) { *workDir = v; }},
         {"--repeats", [&](const char* v) { *repeats = count(v, 1); }},
         {"--only", [&](const char* v) { *only = v; }},
         {"--delay-ms", [&](const char* v) { sites->delayMs = count(v, 0); }},
         {"--remote-repeats", [&](const char* v) { sites->repeats = count(v, 1); }},
         {"--remote-seconds", [&](const char* v) { sites->proxySeconds = count(v, 5); }},
         {"--boards", [&](const char* v) { sites->boards = count(v, 1); }},
         {"--rest-seconds", [&](const char* v) { sites->restSeconds = count(v, 5); }}});
    if (!parsed || (!only->empty() && *only != "compare" && *only != "remote" && *only != "boards")) {
        std::fputs(kUsage, stderr);
        return false;
    }
    sites->sim = TESSOR_BENCH_SIM;
    sites->cli = TESSOR_BENCH_CLI;
    sites->ser2net = TESSOR_BENCH_SER2NET;
    return true;
}

// The remote-site and many-boards parts: both, or the one --only names.
int RunSites(const tessor::bench::NetworkSitesOptions& sites, const std::string& only) {
    if (only.empty() || only == "remote")
        tessor::bench::RemoteSite(sites);
    if (only.empty() || only == "boards")
        tessor::bench::ManyBoards(sites);
    return 0;
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

// ser2net closes the device about 10 ms after its client has gone. A connection to the other accepter
// meanwhile is turned away ("Port's device already in use"), and the closing flushes the line under a
// direct run; so every run starts once ser2net has let go (bounded, not timed).
void WaitForRelease(pid_t ser2net, const std::string& device) {
    const auto end = Clock::now() + std::chrono::seconds(2);
    while (HoldsOpen(ser2net, device) && Clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

} // namespace

int main(int argc, char** argv) {
    std::string workDir;
    int repeats = 7;
    tessor::bench::NetworkSitesOptions sites;
    std::string only;
    if (!ParseNetworkOptions(argc, argv, &workDir, &repeats, &sites, &only))
        return argc > 1 && IsHelp(argv[1]) ? 0 : 2;
    if (workDir.empty()) {
        char pattern[] = "/tmp/tessor-bench-network.XXXXXX";
        const char* dir = mkdtemp(pattern);
        workDir = dir ? dir : "/tmp";
    }
    sites.workDir = workDir;
    if (!only.empty() && only != "compare")
        return RunSites(sites, only);
    std::printf(
        "\n6. A board behind ser2net (127.0.0.1) against its pseudo-terminal, side by side (paced)\n");
    double load[3] = {0, 0, 0};
    std::ifstream("/proc/loadavg") >> load[0] >> load[1] >> load[2];
    std::printf("  load average at the start (1, 5, 15 min): %.2f %.2f %.2f on %ld CPUs\n", load[0], load[1],
                load[2], sysconf(_SC_NPROCESSORS_ONLN));
    tessor::bench::SimProcess sim;
    std::string error;
    if (!sim.Start(TESSOR_BENCH_SIM, {"--train-ms", "0"}, workDir, "sim-network", &error)) {
        std::printf("  not measured: %s\n", error.c_str());
        return 0;
    }
    tessor::bench::NetworkSitesOptions where;
    where.workDir = workDir;
    where.ser2net = TESSOR_BENCH_SER2NET;
    const std::vector<tessor::bench::Accepter> accepters{
        {"telnet(rfc2217),tcp(nodelay)", FreeLoopbackPort(), sim.SlavePath()},
        {"tcp(nodelay)", FreeLoopbackPort(), sim.SlavePath()}};
    tessor::testsupport::Process ser2net;
    if (!tessor::bench::StartSer2net(where, "ser2net", accepters, &ser2net)) {
        std::printf("  not measured: ser2net (%s) did not start or listen\n", TESSOR_BENCH_SER2NET);
        return 0;
    }
    std::vector<Path> paths{{"pseudo-terminal", sim.SlavePath(), {}, {}},
                            {"ser2net rfc2217", accepters[0].Url(), {}, {}},
                            {"ser2net raw TCP", accepters[1].Url(), {}, {}}};
    const std::string errors = workDir + "/network-errors.log";
    const std::string file = workDir + "/bench-network.LT";
    const auto run = [&](Path& p, const std::vector<std::string>& command) {
        std::vector<std::string> args{"--port", p.port};
        args.insert(args.end(), command.begin(), command.end());
        const double ms = RunMs(args, errors, &p.failed);
        WaitForRelease(ser2net.Pid(), sim.SlavePath());
        return ms;
    };
    for (Path& p : paths) // one run each first, not measured: caches and the line settle
        run(p, {"status"});
    for (int i = 0; i < repeats; ++i) {
        for (Path& p : paths) {
            p.statusMs.push_back(run(p, {"status"}));
            p.saveMs.push_back(run(p, {"save", file}));
        }
    }
    ser2net.SignalAndWait(SIGTERM, tessor::bench::kStopGrace);
    const double directStatus = MedianOf(paths[0].statusMs);
    const double directSave = MedianOf(paths[0].saveMs);
    std::printf("  %-16s %5s %12s %7s %12s %7s  %s\n", "path", "runs", "status ms", "ratio", "save ms",
                "ratio", "target");
    for (const Path& p : paths) {
        const double status = MedianOf(p.statusMs);
        const double save = MedianOf(p.saveMs);
        const bool met = !p.failed && status <= 1.05 * directStatus && save <= 1.05 * directSave;
        std::printf("  %-16s %5d %12.1f %7.3f %12.1f %7.3f  %s%s\n", p.name, repeats, status,
                    status / directStatus, save, save / directSave,
                    &p == &paths[0] ? "(reference)"
                    : met           ? "<=1.05 met"
                                    : "<=1.05 missed",
                    p.failed ? " (a run failed)" : "");
    }
    std::printf(
        "  status: tessor-cli status (side, line, link settings, one PHY pass, identification); save:\n"
        "    the 31 configuration registers to a file; each from starting the process to its exit,\n"
        "    the median of the runs; ratio = median / the pseudo-terminal's median. The rfc2217\n"
        "    figures include the telnet negotiation of every opening.\n");
    unlink(file.c_str());
    return only.empty() ? RunSites(sites, only) : 0;
}
