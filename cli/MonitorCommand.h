#pragma once

// `tessor-cli monitor`: polls one or several boards, each on a thread of its own, and serves their health on
// one Prometheus endpoint until SIGTERM or SIGINT; SIGHUP reopens the recording files and reads the
// inventory again when the boards come from one.

#include <CLI/CLI.hpp>

#include <optional>
#include <string>
#include <vector>

namespace tessor::cli {

struct MonitorArguments {
    std::vector<std::string> devices; // DEVICE...
    std::vector<std::string> ports;   // the monitor's --port, polled after DEVICE...; none of either: the
                                      // global --port
    std::string listen = "127.0.0.1:9870";
    double intervalSeconds = 5.0;
    std::string crystal = "25.00";
    bool jsonl = false;
    std::vector<std::string> record; // one file per device, or one pattern with {device}; none: no recording
    std::string webConfig;           // --web.config.file: TLS and authentication of the endpoint; empty: none
    std::vector<std::string> snrBaselines;  // --snr-baseline PORT=DB, any number
    std::vector<std::string> consoleListen; // --console-listen: each device's console port, in their order
    bool consoleRaw = false;                // raw TCP rather than RFC 2217
    bool consoleWritable = false;           // clients' write, or and and commands reach the board
    std::string inventory;                  // --inventory: the boards from this file; empty: the devices
    std::string limit;                      // --limit: the inventory's boards it selects
    bool limitGiven = false;
    bool portGiven = false;  // the global --port was given
    bool blockReads = false; // passes read runs of consecutive registers with one command
};

// The SNR baseline of each device (in their order; empty where none is given) from PORT=DB texts, where
// PORT is a device as named on the command line or as it resolves. An empty list with *error set for a
// text not of that form, a port not polled, a port given twice or a value that is not a finite number.
std::vector<std::optional<double>> SnrBaselines(const std::vector<std::string>& named,
                                                const std::vector<std::string>& devices,
                                                const std::vector<std::string>& baselines,
                                                std::string* error);

// The recording file of each device, or an empty list with *error set when the --record options do not
// fit the devices: one per device, or one for all that names {device} (replaced by the device's file
// name), or a single one for a single device.
std::vector<std::string> RecordingPaths(const std::vector<std::string>& devices,
                                        const std::vector<std::string>& record, std::string* error);

// Why two devices would record into one file (the same name after {device} is put in, or one file under
// two names: links, ".", a second hard link), naming both devices and the file; empty when each has its
// own.
std::string SharedRecording(const std::vector<std::string>& devices, const std::vector<std::string>& paths);

// A silent board is given up on sooner than the product's 17.5 s unless --answer-timeout-ms says otherwise.
inline constexpr int kMonitorAnswerTimeoutMs = 1000;

// Adds the subcommand and its options to app; the arguments land in args.
CLI::App* AddMonitorCommand(CLI::App& app, MonitorArguments& args);

// Runs the monitor on its devices (COM names or paths; none: port) until SIGTERM or SIGINT; returns the exit
// code.
int RunMonitor(const MonitorArguments& args, const std::string& port, int answerTimeoutMs);

} // namespace tessor::cli
