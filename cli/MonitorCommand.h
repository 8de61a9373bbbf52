#pragma once

// `tessor-cli monitor`: polls the board and serves its health on a Prometheus endpoint until SIGTERM or
// SIGINT.

#include <CLI/CLI.hpp>

#include <string>

namespace tessor::cli {

struct MonitorArguments {
    std::string device;
    std::string listen = "127.0.0.1:9870";
    double intervalSeconds = 5.0;
    int answerTimeoutMs = 1000;
    std::string crystal = "25.00";
    bool jsonl = false;
};

// Adds the subcommand and its options to app; the arguments land in args.
CLI::App* AddMonitorCommand(CLI::App& app, MonitorArguments& args);

// Runs the monitor; returns the process exit code.
int RunMonitor(const MonitorArguments& args);

} // namespace tessor::cli
