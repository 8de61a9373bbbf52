#pragma once

// `tessor-cli monitor`: polls the board and serves its health on a Prometheus endpoint until SIGTERM or
// SIGINT.

#include <CLI/CLI.hpp>

#include <string>

namespace tessor::cli {

struct MonitorArguments {
    std::string device; // empty: the global --port
    std::string listen = "127.0.0.1:9870";
    double intervalSeconds = 5.0;
    std::string crystal = "25.00";
    bool jsonl = false;
    std::string record; // recording file, or empty
};

// A silent board is given up on sooner than the product's 17.5 s unless --answer-timeout-ms says otherwise.
inline constexpr int kMonitorAnswerTimeoutMs = 1000;

// Adds the subcommand and its options to app; the arguments land in args.
CLI::App* AddMonitorCommand(CLI::App& app, MonitorArguments& args);

// Runs the monitor on device (a COM name or a path) until SIGTERM or SIGINT; returns the exit code.
int RunMonitor(const MonitorArguments& args, const std::string& port, int answerTimeoutMs);

} // namespace tessor::cli
