// The command-line tool end to end: tessor-cli started as its own process (start-up, open, the exchanges,
// exit) against tessor-sim paced at 9600 baud, measured against the wire time of the commands it sent.
// Prints one table of ratios measured in this run, never an assertion.

#include "bench/Process.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#ifndef TESSOR_BENCH_SIM
#define TESSOR_BENCH_SIM "tessor-sim"
#endif
#ifndef TESSOR_BENCH_CLI
#define TESSOR_BENCH_CLI "tessor-cli"
#endif

namespace {

using Clock = std::chrono::steady_clock;

// The same measure as tessor-bench: 10 bits per character at 9600 baud, the caller's 5 ms poll.
constexpr double kCharMs = 10.0 / 9.6;
constexpr double kPollMs = 5.0;

std::vector<std::string> Lines(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(file, line))
        lines.push_back(line);
    return lines;
}

// Characters of the board's reply to a command line (without its line feed): the echo and a line feed,
// the data portion (for a read of n registers "\r" + address + ":" + n times " hh"), "\n\r" and "L>".
std::size_t ReplyLength(const std::string& command) {
    std::size_t data = 0;
    if (command.compare(0, 2, "RD") == 0) {
        const std::size_t comma = command.find(',');
        const int n = comma == std::string::npos ? 1 : std::stoi(command.substr(comma + 1), nullptr, 16);
        data = 6 + 3 * static_cast<std::size_t>(n);
    }
    return command.size() + 1 + data + 4;
}

// Wire time of the commands: each reply's characters + 1 (the echo runs back while the command goes out),
// rounded up to the 5 ms poll, plus fixed pauses.
double NeedMs(const std::vector<std::string>& commands, double pauseMs) {
    double need = pauseMs;
    for (const std::string& c : commands) {
        const double line = kCharMs * static_cast<double>(ReplyLength(c) + 1);
        need += std::ceil(line / kPollMs - 1e-9) * kPollMs;
    }
    return need;
}

struct Row {
    std::string name;
    std::vector<std::string> args;
    int runs;
    double factor;
    double plusMs;
};

} // namespace

int main(int argc, char** argv) {
    std::string workDir;
    int repeats = 10;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string a = argv[i];
        if (a == "--work-dir")
            workDir = argv[i + 1];
        else if (a == "--repeats")
            repeats = std::max(1, std::atoi(argv[i + 1]));
    }
    if (workDir.empty()) {
        char pattern[] = "/tmp/tessor-bench-cli.XXXXXX";
        const char* dir = mkdtemp(pattern);
        workDir = dir ? dir : "/tmp";
    }
    const std::string wire = workDir + "/cli-wire";
    const std::string errors = workDir + "/cli-errors.log";
    std::printf(
        "\n5. tessor-cli end to end (its own process against tessor-sim on a pseudo-terminal, paced)\n");
    double load[3] = {0, 0, 0};
    std::ifstream("/proc/loadavg") >> load[0] >> load[1] >> load[2];
    std::printf("  load average at the start (1, 5, 15 min): %.2f %.2f %.2f on %ld CPUs\n", load[0], load[1],
                load[2], sysconf(_SC_NPROCESSORS_ONLN));
    tessor::bench::SimProcess sim;
    std::string error;
    if (!sim.Start(TESSOR_BENCH_SIM, {"--train-ms", "0", "--wire-log", wire}, workDir, "sim-cli", &error)) {
        std::printf("  not measured: %s\n", error.c_str());
        return 0;
    }
    const std::string port = sim.SlavePath();
    int status = -1;
    tessor::bench::RunAndCollect(TESSOR_BENCH_CLI, {"--port", port, "status"}, {}, errors, &status);

    const std::string file = workDir + "/bench-cli.LT";
    const std::vector<Row> rows{
        {"read 8C10", {"--port", port, "read", "8C10"}, repeats, 1.15, 30.0},
        {"status", {"--port", port, "status"}, std::max(1, repeats / 2), 1.10, 0.0},
        {"save FILE", {"--port", port, "save", file}, std::max(1, repeats / 2), 1.10, 0.0},
    };
    std::printf("  %-12s %4s %5s %9s %9s %9s %9s %7s  %s\n", "command", "runs", "cmds", "need ms", "allowed",
                "meas ms", "worst", "ratio", "target");
    bool allMet = true;
    for (const Row& r : rows) {
        double need = 0;
        double measured = 0;
        double worst = 0;
        std::size_t commands = 0;
        bool failed = false;
        for (int i = 0; i < r.runs; ++i) {
            std::ofstream(wire, std::ios::trunc).close();
            const auto start = Clock::now();
            tessor::bench::RunAndCollect(TESSOR_BENCH_CLI, r.args, {}, errors, &status);
            const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
            const std::vector<std::string> sent = Lines(wire);
            const double runNeed = NeedMs(sent, 0);
            failed = failed || status != 0;
            commands += sent.size();
            need += runNeed;
            measured += ms;
            worst = std::max(worst, ms);
        }
        const double allowed = r.factor * need + r.plusMs * r.runs;
        const bool met = !failed && measured <= allowed;
        allMet = allMet && met;
        char target[64];
        if (r.plusMs > 0)
            std::snprintf(target, sizeof target, "<=%.2f x need + %.0f ms %s", r.factor, r.plusMs,
                          met ? "met" : "missed");
        else
            std::snprintf(target, sizeof target, "<=%.2f x need %s", r.factor, met ? "met" : "missed");
        std::printf("  %-12s %4d %5.0f %9.1f %9.1f %9.1f %9.1f %7.3f  %s%s\n", r.name.c_str(), r.runs,
                    static_cast<double>(commands) / r.runs, need / r.runs, allowed / r.runs,
                    measured / r.runs, worst, measured / need, target, failed ? " (a run failed)" : "");
    }
    std::printf(
        "  need ms: the wire time of the commands the run sent (tessor-sim's record), each reply's\n"
        "    characters + 1 at %.4f ms, rounded up to the 5 ms poll; meas ms: from starting the process\n"
        "    to its exit; allowed: what the target allows per run; ratio = meas / need over all runs.\n",
        kCharMs);
    std::printf("%s\n", allMet ? "  All tessor-cli targets met." : "  Some tessor-cli targets missed.");
    unlink(file.c_str());
    return 0;
}
