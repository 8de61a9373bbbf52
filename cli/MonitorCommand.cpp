#include "cli/MonitorCommand.h"

#include "cli/CliPorts.h"
#include "cli/CliValidators.h"
#include "files/PlainFile.h"
#include "monitor/ConsoleShare.h"
#include "monitor/EndpointSecurity.h"
#include "monitor/MetricsServer.h"
#include "monitor/Monitor.h"
#include "monitor/MonitorOutputs.h"
#include "monitor/MonitorRecording.h"
#include "monitor/ReloadRequest.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <iostream>
#include <mutex>
#include <pthread.h>
#include <thread>
#include <vector>

namespace tessor::cli {

namespace {

std::mutex g_logMutex; // one line at a time on standard error

void Log(const std::string& text) {
    std::lock_guard<std::mutex> lock(g_logMutex);
    std::fprintf(stderr, "tessor-cli monitor: %s\n", text.c_str());
    std::fflush(stderr);
}

// Only the JSON lines' writer thread writes standard output.
void WriteJsonLine(const monitor::Snapshot& s) {
    const std::string line = monitor::RenderJsonLine(s) + "\n";
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
}

std::int32_t CrystalHz(const std::string& text) {
    if (text == "19.44")
        return 19440000;
    if (text == "22.50")
        return 22500000;
    return 25000000;
}

std::string FileName(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// One board: its poll loop on a thread of its own and its recording behind a queue.
struct Board {
    std::unique_ptr<monitor::CMonitor> poller;
    std::unique_ptr<monitor::COutputQueue> recording;
    std::thread thread;
};

// Every board's exposition as one, and what the outputs dropped. The boards' readings change once a pass,
// so their merged text is kept until one of them changes; only the small health part is merged anew.
class CScrape {
public:
    CScrape(const std::vector<std::unique_ptr<Board>>& boards,
            const std::vector<monitor::COutputQueue*>& outputs)
        : m_boards(boards), m_outputs(outputs) {}

    std::string Text() {
        std::vector<std::shared_ptr<const std::string>> readings;
        std::vector<std::string> health(m_boards.size());
        for (std::size_t i = 0; i < m_boards.size(); ++i)
            readings.push_back(m_boards[i]->poller->Readings(&health[i]));
        std::vector<monitor::OutputDropped> dropped;
        for (const monitor::COutputQueue* q : m_outputs)
            dropped.push_back(q->Dropped());
        std::lock_guard<std::mutex> lock(m_mutex);
        if (readings != m_readings) {
            std::vector<std::string> parts;
            for (const auto& r : readings)
                parts.push_back(*r);
            m_merged = monitor::MergeExpositions(parts);
            m_readings = std::move(readings);
        }
        return m_merged + monitor::MergeExpositions(health) + monitor::RenderOutputsDropped(dropped);
    }

private:
    const std::vector<std::unique_ptr<Board>>& m_boards;
    const std::vector<monitor::COutputQueue*>& m_outputs;
    std::mutex m_mutex; // guards m_readings and m_merged: scrapes come from several threads
    std::vector<std::shared_ptr<const std::string>> m_readings;
    std::string m_merged;
};

// The endpoint's security from the web configuration file; nothing, with *error set, when it cannot be used.
std::shared_ptr<const monitor::CEndpointSecurity> LoadSecurity(const std::string& path, std::string* error) {
    const std::optional<monitor::WebConfig> config = monitor::LoadWebConfig(path, error);
    if (!config)
        return nullptr;
    std::shared_ptr<const monitor::CEndpointSecurity> security =
        monitor::CEndpointSecurity::Create(*config, error);
    if (!security)
        *error = path + ": " + *error;
    return security;
}

// SIGHUP: the file and its certificates read again; one that cannot be used leaves the one in force.
void ReloadSecurity(monitor::CMetricsServer& server, const std::string& path) {
    std::string error;
    std::shared_ptr<const monitor::CEndpointSecurity> security = LoadSecurity(path, &error);
    if (security && server.Reconfigure(security, &error)) {
        Log("reloaded the web configuration " + path);
        return;
    }
    Log("kept the web configuration in force: " + error);
}

// The endpoint ends at once; a client still connected does not keep the process from ending.
void StopServer(monitor::CMetricsServer& server) {
    auto done = std::async(std::launch::async, [&server] { server.Stop(); });
    if (done.wait_for(std::chrono::milliseconds(600)) != std::future_status::ready) {
        std::fflush(stdout);
        std::fflush(stderr);
        std::_Exit(0);
    }
}

} // namespace

std::vector<std::string> RecordingPaths(const std::vector<std::string>& devices,
                                        const std::vector<std::string>& record, std::string* error) {
    static const std::string kPattern = "{device}";
    if (record.empty())
        return {};
    if (record.size() == devices.size() && (devices.size() == 1 || record.size() > 1))
        return record;
    if (record.size() == 1 && record.front().find(kPattern) != std::string::npos) {
        std::vector<std::string> paths;
        for (const std::string& d : devices) {
            std::string path = record.front();
            for (auto at = path.find(kPattern); at != std::string::npos; at = path.find(kPattern, at))
                path.replace(at, kPattern.size(), FileName(d));
            paths.push_back(path);
        }
        return paths;
    }
    *error = "--record: give one file per device (" + std::to_string(devices.size()) +
             "), or one file name with {device} in it";
    return {};
}

std::string SharedRecording(const std::vector<std::string>& devices, const std::vector<std::string>& paths) {
    std::vector<std::string> identities;
    for (const std::string& path : paths)
        identities.push_back(PlainFileIdentity(path));
    for (std::size_t i = 0; i < identities.size(); ++i) {
        for (std::size_t j = 0; j < i; ++j) {
            if (identities[j] != identities[i])
                continue;
            const std::string file =
                paths[i] == paths[j] ? paths[i] : paths[j] + " (also named " + paths[i] + ")";
            return devices[j] + " and " + devices[i] + " would both record into " + file +
                   "; give each device a file of its own";
        }
    }
    return std::string();
}

std::vector<std::optional<double>> SnrBaselines(const std::vector<std::string>& named,
                                                const std::vector<std::string>& devices,
                                                const std::vector<std::string>& baselines,
                                                std::string* error) {
    std::vector<std::optional<double>> out(devices.size());
    for (const std::string& text : baselines) {
        const std::size_t eq = text.rfind('=');
        const std::string port = eq == std::string::npos ? std::string() : text.substr(0, eq);
        const std::string value = eq == std::string::npos ? std::string() : text.substr(eq + 1);
        char* end = nullptr;
        const double db = value.empty() ? 0.0 : std::strtod(value.c_str(), &end);
        if (port.empty() || value.empty() || *end != '\0' || !std::isfinite(db)) {
            *error = "--snr-baseline " + text + ": expected PORT=DB, e.g. /dev/ttyUSB0=38.5";
            return {};
        }
        std::size_t i = 0;
        while (i < devices.size() && named[i] != port && devices[i] != port)
            ++i;
        if (i == devices.size()) {
            *error = "--snr-baseline " + text + ": " + port + " is not among the devices polled";
            return {};
        }
        if (out[i]) {
            *error = "--snr-baseline: " + port + " is given a baseline twice";
            return {};
        }
        out[i] = db;
    }
    return out;
}

CLI::App* AddMonitorCommand(CLI::App& app, MonitorArguments& args) {
    CLI::App* cmd = app.add_subcommand(
        "monitor", "poll the boards and serve their health on a Prometheus endpoint until SIGTERM or SIGINT");
    cmd->footer(
        "Several devices are polled each on a thread of its own and served on one endpoint, labelled by\n"
        "port and side.\n"
        "SIGHUP reopens the recording files at the next pass (after a rotation moved them away).\n"
        "With --web.config.file the endpoint serves TLS and basic authentication as the Prometheus\n"
        "exporters' web configuration file says; SIGHUP reads the file and its certificates again.\n"
        "Exit codes: 0 ended by SIGTERM or SIGINT, 1 the endpoint cannot listen or a recording file\n"
        "cannot be written or is locked by another recording, 2 bad usage or a web configuration file\n"
        "that cannot be used.");
    cmd->add_option("DEVICE", args.devices,
                    "serial devices of the boards' consoles, as --port takes them (default: the global "
                    "--port); a /dev/serial/by-id link is followed afresh on every reopen");
    cmd->add_option("--port", args.ports, "a further device to poll; may be given several times")
        ->allow_extra_args(false);
    cmd->add_option("--listen", args.listen,
                    "ADDRESS:PORT of the HTTP endpoint (127.0.0.1: this machine only)")
        ->capture_default_str()
        ->check([](const std::string& v) {
            std::string host;
            int port = 0;
            return monitor::ParseListenAddress(v, &host, &port) ? std::string()
                                                                : std::string("expected ADDRESS:PORT");
        });
    cmd->add_option("--interval", args.intervalSeconds, "seconds from the start of one poll pass to the next")
        ->capture_default_str()
        ->check(FiniteRange(0.2, 3600.0));
    cmd->add_option("--crystal", args.crystal, "crystal of the boards in MHz, for the line rates")
        ->capture_default_str()
        ->check(CLI::IsMember({"19.44", "22.50", "25.00"}));
    cmd->add_flag("--jsonl", args.jsonl, "write one JSON line per poll pass on standard output");
    cmd->add_option("--record", args.record,
                    "append every pass to this recording file (the Line History window opens it): one "
                    "option per device in their order, or one name with {device} in it")
        ->allow_extra_args(false);
    cmd->add_option("--web.config.file", args.webConfig,
                    "YAML file of the endpoint's TLS, client certificates, basic authentication users "
                    "(bcrypt) and response headers, as Prometheus exporters take it; read again on SIGHUP");
    cmd->add_option("--snr-baseline", args.snrBaselines,
                    "PORT=DB: the SNR the line of that device was accepted with (linetest --json gives it), "
                    "published for the alert on a fall from it; may be given once per device")
        ->allow_extra_args(false);
    cmd->add_option("--console-listen", args.consoleListen,
                    "[ADDRESS:]PORT on which each board's console is offered to one client at a time, "
                    "between the monitor's own commands (one option per device, in their order; address "
                    "127.0.0.1 when only the port is given); unencrypted and without authentication")
        ->allow_extra_args(false)
        ->check([](const std::string& v) {
            std::string host;
            int port = 0;
            return monitor::ParseConsoleListen(v, &host, &port) ? std::string()
                                                                : std::string("expected [ADDRESS:]PORT");
        });
    cmd->add_flag("--console-raw", args.consoleRaw,
                  "offer the consoles as raw TCP rather than RFC 2217 (telnet)");
    cmd->add_flag("--console-writable", args.consoleWritable,
                  "let console clients write (WR, OR, ND); without it they are answered with the board's "
                  "error reply and not sent");
    cmd->add_flag("--block-reads", args.blockReads,
                  "read runs of consecutive registers with one command each (at most 8 registers): fewer "
                  "bytes on the wire, the same readings");
    return cmd;
}

int RunMonitor(const MonitorArguments& args, const std::string& port, int answerTimeoutMs) {
    std::vector<std::string> named = args.devices;
    named.insert(named.end(), args.ports.begin(), args.ports.end());
    if (named.empty())
        named.push_back(port);
    std::vector<std::string> devices;
    std::string usage;
    for (const std::string& d : named) {
        const ResolvedPort resolved = ResolvePort(d);
        devices.push_back(resolved.device);
        if (usage.empty())
            usage = UnusablePortName(resolved);
    }
    for (std::size_t i = 0; i < devices.size(); ++i) {
        if (std::find(devices.begin(), devices.begin() + static_cast<long>(i), devices[i]) !=
            devices.begin() + static_cast<long>(i))
            usage = devices[i] + " is named twice; each device is polled by one monitor thread";
    }
    const std::vector<std::string> recordPaths =
        usage.empty() ? RecordingPaths(devices, args.record, &usage) : std::vector<std::string>();
    if (usage.empty())
        usage = SharedRecording(devices, recordPaths);
    if (usage.empty() && args.consoleListen.size() > devices.size())
        usage = "--console-listen: give at most one per device (" + std::to_string(devices.size()) +
                "), in the order of the devices";
    if (usage.empty() && args.consoleListen.empty() && (args.consoleRaw || args.consoleWritable))
        usage =
            std::string(args.consoleRaw ? "--console-raw" : "--console-writable") + " needs --console-listen";
    const std::vector<std::optional<double>> baselines =
        usage.empty() ? SnrBaselines(named, devices, args.snrBaselines, &usage)
                      : std::vector<std::optional<double>>();
    if (!usage.empty()) {
        Log(usage);
        return 2;
    }

    // Signals are taken by one thread with sigwait; every other thread has them blocked.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    monitor::CReloadRequest reload;
    std::signal(SIGPIPE, SIG_IGN);

    std::string host;
    int listenPort = 0;
    monitor::ParseListenAddress(args.listen, &host, &listenPort);
    std::shared_ptr<const monitor::CEndpointSecurity> security;
    if (!args.webConfig.empty()) {
        std::string error;
        security = LoadSecurity(args.webConfig, &error);
        if (!security) {
            Log(error);
            return 2;
        }
    }

    std::unique_ptr<monitor::COutputQueue> jsonl;
    if (args.jsonl)
        jsonl = std::make_unique<monitor::COutputQueue>("jsonl", "", WriteJsonLine, Log);
    std::vector<monitor::COutputQueue*> outputs;
    if (jsonl)
        outputs.push_back(jsonl.get());

    std::vector<std::unique_ptr<Board>> boards;
    for (std::size_t i = 0; i < devices.size(); ++i) {
        monitor::MonitorOptions options;
        options.device = devices[i];
        options.interval = std::chrono::milliseconds(static_cast<long>(args.intervalSeconds * 1000.0));
        options.answerTimeout = std::chrono::milliseconds(answerTimeoutMs);
        options.crystalHz = CrystalHz(args.crystal);
        options.snrBaselineDb = baselines[i];
        options.blockReads = args.blockReads;
        auto board = std::make_unique<Board>();
        if (!recordPaths.empty()) {
            std::string error;
            std::shared_ptr<monitor::CMonitorRecording> recording =
                monitor::CMonitorRecording::Open(recordPaths[i], options.interval, Log, &error,
                                                 monitor::CMonitorRecording::kDefaultMemoryLimit, &reload);
            if (!recording) {
                Log("cannot record to " + recordPaths[i] + ": " + error +
                    " Name a new file or an earlier recording.");
                return 1;
            }
            board->recording = std::make_unique<monitor::COutputQueue>(
                "recording", devices[i], [recording](const monitor::Snapshot& s) { recording->AddPass(s); },
                Log);
            outputs.push_back(board->recording.get());
        }
        monitor::COutputQueue* recordingQueue = board->recording.get();
        monitor::COutputQueue* jsonlQueue = jsonl.get();
        auto onPass = [jsonlQueue, recordingQueue](const monitor::Snapshot& s) {
            if (jsonlQueue)
                jsonlQueue->Push(s);
            if (recordingQueue)
                recordingQueue->Push(s);
        };
        board->poller = std::make_unique<monitor::CMonitor>(options, onPass, Log);
        boards.push_back(std::move(board));
    }

    std::vector<std::unique_ptr<monitor::CConsoleShare>> consoles;
    std::vector<const monitor::CConsoleShare*> consoleList;
    for (std::size_t i = 0; i < args.consoleListen.size(); ++i) {
        monitor::ConsoleShareOptions options;
        monitor::ParseConsoleListen(args.consoleListen[i], &options.host, &options.port);
        options.raw = args.consoleRaw;
        options.writable = args.consoleWritable;
        monitor::CMonitor* poller = boards[i]->poller.get();
        auto share = std::make_unique<monitor::CConsoleShare>(
            devices[i], options,
            [poller](const std::string& line, std::string* reply) {
                return poller->PassConsoleLine(line, reply);
            },
            Log);
        std::string error;
        if (!share->Start(&error)) {
            Log("cannot offer the console of " + devices[i] + " on " + args.consoleListen[i] + ": " + error +
                "; choose another ADDRESS:PORT with --console-listen");
            return 1;
        }
        const bool v6 = options.host.find(':') != std::string::npos;
        Log(devices[i] + ": console offered on " + (args.consoleRaw ? "socket://" : "rfc2217://") +
            (v6 ? "[" + options.host + "]" : options.host) + ":" + std::to_string(share->Port()) +
            (args.consoleWritable ? " (writable)" : " (read-only)") +
            ", unencrypted and without authentication");
        consoleList.push_back(share.get());
        consoles.push_back(std::move(share));
    }

    CScrape scrape(boards, outputs);
    monitor::CMetricsServer server(
        [&scrape, &consoleList] { return scrape.Text() + monitor::RenderConsoleShares(consoleList); }, {},
        security, Log);
    std::string error;
    if (!server.Start(host, listenPort, &error)) {
        Log("cannot listen on " + args.listen + ": " + error + "; choose another ADDRESS:PORT with --listen");
        return 1;
    }
    std::string names;
    for (const std::string& d : devices)
        names += (names.empty() ? "" : ", ") + d;
    Log(std::string("serving ") + (security && security->Tls() ? "https" : "http") + "://" +
        (host.find(':') != std::string::npos ? "[" + host + "]" : host) + ":" +
        std::to_string(server.Port()) + "/metrics for " + names);

    for (auto& b : boards) {
        monitor::CMonitor* poller = b->poller.get();
        b->thread = std::thread([poller] { poller->Run(); });
    }
    // SIGHUP asks for a reload, which each part acts on in its own loop; SIGINT and SIGTERM end it.
    int signal = 0;
    while (sigwait(&signals, &signal) == 0 && signal == SIGHUP) {
        reload.Request();
        if (!recordPaths.empty() || args.webConfig.empty())
            Log(std::string("SIGHUP: ") + (recordPaths.empty()
                                               ? "nothing to reopen"
                                               : "the recording files are reopened at the next pass"));
        if (!args.webConfig.empty())
            ReloadSecurity(server, args.webConfig);
    }
    for (auto& b : boards)
        b->poller->Stop();
    for (auto& b : boards)
        b->thread.join();
    for (auto& c : consoles)
        c->Stop();
    StopServer(server);
    // An output still blocked (a pipe nobody reads) would hold the process at its exit's flush.
    bool written = true;
    for (monitor::COutputQueue* q : outputs)
        written = q->Finish(std::chrono::milliseconds(500)) && written;
    if (!written) {
        Log("an output was still blocked; ending without it");
        std::_Exit(0);
    }
    return 0;
}

} // namespace tessor::cli
