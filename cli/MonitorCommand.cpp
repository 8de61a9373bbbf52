#include "cli/MonitorCommand.h"

#include "cli/CliPorts.h"
#include "cli/CliValidators.h"
#include "files/PlainFile.h"
#include "fleet/Inventory.h"
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
#include <tuple>
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

// What one board is polled with, from the command line's devices or from a host of the inventory. A
// board whose plan changes on a reload is stopped and started anew.
struct BoardPlan {
    std::string device;                  // as opened
    std::string site;                    // the inventory's; empty without one
    std::string board;                   // the same
    std::optional<double> snrBaselineDb; // none: not published
    std::string consoleListen;           // [ADDRESS:]PORT; empty: the console is not offered
    std::string recordPath;              // empty: not recorded

    bool operator==(const BoardPlan& o) const {
        return std::tie(device, site, board, snrBaselineDb, consoleListen, recordPath) ==
               std::tie(o.device, o.site, o.board, o.snrBaselineDb, o.consoleListen, o.recordPath);
    }
};

// One board: its poll loop on a thread of its own, its recording behind a queue and its console port.
struct Board {
    BoardPlan plan;
    std::unique_ptr<monitor::CMonitor> poller;
    std::unique_ptr<monitor::COutputQueue> recording;
    std::unique_ptr<monitor::CConsoleShare> console;
    std::thread thread;
};

// The boards polled now. A reload replaces the list while scrapes read it: each scrape takes the list as
// it is, and a board it holds stays whole until the scrape lets go.
class CBoards {
public:
    std::vector<std::shared_ptr<Board>> List() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_list;
    }
    void Set(std::vector<std::shared_ptr<Board>> list) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_list = std::move(list);
    }

private:
    mutable std::mutex m_mutex;
    std::vector<std::shared_ptr<Board>> m_list;
};

// What every board is polled with alike.
struct BoardCommon {
    std::chrono::milliseconds interval{5000};
    std::chrono::milliseconds answerTimeout{1000};
    std::int32_t crystalHz = 25000000;
    bool consoleRaw = false;
    bool consoleWritable = false;
    bool blockReads = false;
    std::string consoleHint; // what to do when a console port cannot listen
    monitor::COutputQueue* jsonl = nullptr;
    monitor::CReloadRequest* reload = nullptr;
};

// The board's recording, poller and console port, its poll loop not yet running; nothing, with *error
// set, when its recording cannot be written or its console port cannot listen.
std::shared_ptr<Board> MakeBoard(const BoardPlan& plan, const BoardCommon& common, std::string* error) {
    monitor::MonitorOptions options;
    options.device = plan.device;
    options.site = plan.site;
    options.board = plan.board;
    options.interval = common.interval;
    options.answerTimeout = common.answerTimeout;
    options.crystalHz = common.crystalHz;
    options.snrBaselineDb = plan.snrBaselineDb;
    options.blockReads = common.blockReads;
    auto board = std::make_shared<Board>();
    board->plan = plan;
    if (!plan.recordPath.empty()) {
        std::string why;
        std::shared_ptr<monitor::CMonitorRecording> recording =
            monitor::CMonitorRecording::Open(plan.recordPath, options.interval, Log, &why,
                                             monitor::CMonitorRecording::kDefaultMemoryLimit, common.reload);
        if (!recording) {
            *error = "cannot record to " + plan.recordPath + ": " + why +
                     " Name a new file or an earlier recording.";
            return nullptr;
        }
        if (!plan.board.empty())
            recording->NameBoard(plan.site, plan.board);
        board->recording = std::make_unique<monitor::COutputQueue>(
            "recording", plan.device, [recording](const monitor::Snapshot& s) { recording->AddPass(s); },
            Log);
    }
    monitor::COutputQueue* recordingQueue = board->recording.get();
    monitor::COutputQueue* jsonlQueue = common.jsonl;
    auto onPass = [jsonlQueue, recordingQueue](const monitor::Snapshot& s) {
        if (jsonlQueue)
            jsonlQueue->Push(s);
        if (recordingQueue)
            recordingQueue->Push(s);
    };
    board->poller = std::make_unique<monitor::CMonitor>(options, onPass, Log);
    if (plan.consoleListen.empty())
        return board;

    monitor::ConsoleShareOptions share;
    monitor::ParseConsoleListen(plan.consoleListen, &share.host, &share.port);
    share.raw = common.consoleRaw;
    share.writable = common.consoleWritable;
    share.site = plan.site;
    share.board = plan.board;
    monitor::CMonitor* poller = board->poller.get();
    board->console = std::make_unique<monitor::CConsoleShare>(
        plan.device, share,
        [poller](const std::string& line, std::string* reply) {
            return poller->PassConsoleLine(line, reply);
        },
        Log);
    std::string why;
    if (!board->console->Start(&why)) {
        *error = "cannot offer the console of " + plan.device + " on " + plan.consoleListen + ": " + why +
                 "; " + common.consoleHint;
        return nullptr;
    }
    const bool v6 = share.host.find(':') != std::string::npos;
    Log(plan.device + ": console offered on " + (share.raw ? "socket://" : "rfc2217://") +
        (v6 ? "[" + share.host + "]" : share.host) + ":" + std::to_string(board->console->Port()) +
        (share.writable ? " (writable)" : " (read-only)") + ", unencrypted and without authentication");
    return board;
}

void StartPolling(Board& board) {
    monitor::CMonitor* poller = board.poller.get();
    board.thread = std::thread([poller] { poller->Run(); });
}

// Ends the board's poll loop, then its console port and its recording; false when the recording's writer
// was still blocked.
bool StopBoard(Board& board) {
    board.poller->Stop();
    if (board.thread.joinable())
        board.thread.join();
    if (board.console)
        board.console->Stop();
    return !board.recording || board.recording->Finish(std::chrono::milliseconds(500));
}

// The board's name in the log: its inventory name and site when it has them, else its device.
std::string BoardName(const BoardPlan& plan) {
    return plan.board.empty() ? plan.device : plan.board + " (" + plan.site + ", " + plan.device + ")";
}

// Polls the boards of plans from now on: the boards no longer planned (or planned otherwise) leave the
// page and stop first, so that their devices and console ports are free for the ones that start.
void ApplyPlans(CBoards& boards, const std::vector<BoardPlan>& plans, const BoardCommon& common) {
    std::vector<std::shared_ptr<Board>> running = boards.List();
    std::vector<std::shared_ptr<Board>> kept;
    std::vector<std::shared_ptr<Board>> removed;
    for (const auto& b : running) {
        const bool planned = std::find(plans.begin(), plans.end(), b->plan) != plans.end();
        (planned ? kept : removed).push_back(b);
    }
    boards.Set(kept);
    for (const auto& b : removed) {
        StopBoard(*b);
        Log(BoardName(b->plan) + ": no longer polled");
    }
    std::vector<std::shared_ptr<Board>> next;
    for (const BoardPlan& plan : plans) {
        const auto at =
            std::find_if(kept.begin(), kept.end(), [&](const auto& b) { return b->plan == plan; });
        if (at != kept.end()) {
            next.push_back(*at);
            continue;
        }
        std::string error;
        std::shared_ptr<Board> board = MakeBoard(plan, common, &error);
        if (!board) {
            Log(BoardName(plan) + ": not polled: " + error);
            continue;
        }
        StartPolling(*board);
        Log(BoardName(plan) + ": polled from now on");
        next.push_back(std::move(board));
    }
    boards.Set(std::move(next));
}

// The boards of the inventory that --limit selects; false with *error set (the file, the line and the
// reason) when the inventory or the selection cannot be used.
bool InventoryPlans(const MonitorArguments& args, std::vector<BoardPlan>* plans, std::string* error) {
    fleet::Inventory inventory;
    fleet::InventoryError bad;
    if (!fleet::ReadInventory(args.inventory, &inventory, &bad)) {
        *error = fleet::InventoryErrorText(bad);
        return false;
    }
    std::vector<fleet::Board> selected = inventory.boards;
    std::string why;
    if (args.limitGiven && !fleet::SelectBoards(inventory, args.limit, &selected, &why)) {
        *error = args.inventory + ": " + why;
        return false;
    }
    plans->clear();
    for (const fleet::Board& b : selected) {
        const ResolvedPort resolved = ResolvePort(b.port);
        const std::string unusable = UnusablePortName(resolved);
        if (!unusable.empty()) {
            *error = args.inventory + ":" + std::to_string(b.line) + ": " + b.name + ": " + unusable;
            return false;
        }
        BoardPlan plan;
        plan.device = resolved.device;
        plan.site = b.site;
        plan.board = b.name;
        plan.snrBaselineDb = b.snrBaselineDb;
        plan.consoleListen = b.consoleListen.value_or(std::string());
        if (!args.record.empty()) {
            // One name with {device} in it, as the usage checks made sure: the board's name goes there.
            static const std::string kPattern = "{device}";
            plan.recordPath = args.record.front();
            for (auto at = plan.recordPath.find(kPattern); at != std::string::npos;
                 at = plan.recordPath.find(kPattern, at + b.name.size()))
                plan.recordPath.replace(at, kPattern.size(), b.name);
        }
        plans->push_back(std::move(plan));
    }
    return true;
}

// Every board's exposition as one, their console ports' counts and what the outputs dropped. The boards'
// readings change once a pass, so their merged text is kept until one of them changes (or the boards do);
// only the small health part is merged anew.
class CScrape {
public:
    CScrape(const CBoards& boards, const monitor::COutputQueue* jsonl) : m_boards(boards), m_jsonl(jsonl) {}

    std::string Text() {
        const std::vector<std::shared_ptr<Board>> boards = m_boards.List();
        std::vector<std::shared_ptr<const std::string>> readings;
        std::vector<std::string> health(boards.size());
        std::vector<monitor::OutputDropped> dropped;
        if (m_jsonl)
            dropped.push_back(m_jsonl->Dropped());
        std::vector<const monitor::CConsoleShare*> consoles;
        for (std::size_t i = 0; i < boards.size(); ++i) {
            readings.push_back(boards[i]->poller->Readings(&health[i]));
            if (boards[i]->recording) {
                dropped.push_back(boards[i]->recording->Dropped());
                dropped.back().site = boards[i]->plan.site;
                dropped.back().board = boards[i]->plan.board;
            }
            if (boards[i]->console)
                consoles.push_back(boards[i]->console.get());
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        if (readings != m_readings) {
            std::vector<std::string> parts;
            for (const auto& r : readings)
                parts.push_back(*r);
            m_merged = monitor::MergeExpositions(parts);
            m_readings = std::move(readings);
        }
        return m_merged + monitor::MergeExpositions(health) + monitor::RenderOutputsDropped(dropped) +
               monitor::RenderConsoleShares(consoles);
    }

private:
    const CBoards& m_boards;
    const monitor::COutputQueue* m_jsonl;
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
        "With --inventory the boards come from the inventory instead, their series labelled site and\n"
        "board as well; a board's tessor_snr_baseline_db and tessor_console_listen apply to it. SIGHUP\n"
        "reads the inventory again: boards added start, boards removed stop; a broken inventory is\n"
        "logged and the boards in force kept.\n"
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
    cmd->add_option(
        "--inventory", args.inventory,
        "poll the boards of this inventory (YAML, as tessor-cli fleet takes it) instead of devices; "
        "their series are labelled site and board; read again on SIGHUP");
    cmd->add_option(
           "--limit", args.limit,
           "with --inventory, the boards to poll: group or board names or globs, separated by , with "
           "!NAME to leave out and &GROUP to intersect (default: every board)")
        ->each([&args](const std::string&) { args.limitGiven = true; });
    cmd->add_flag("--block-reads", args.blockReads,
                  "read runs of consecutive registers with one command each (at most 8 registers): fewer "
                  "bytes on the wire, the same readings");
    return cmd;
}

namespace {

// The boards of the command line: DEVICE..., the monitor's --port, else the global --port. An empty list
// with *usage set when they or their options do not fit together.
std::vector<BoardPlan> DevicePlans(const MonitorArguments& args, const std::string& port,
                                   std::string* usage) {
    std::vector<std::string> named = args.devices;
    named.insert(named.end(), args.ports.begin(), args.ports.end());
    if (named.empty())
        named.push_back(port);
    std::vector<std::string> devices;
    for (const std::string& d : named) {
        const ResolvedPort resolved = ResolvePort(d);
        devices.push_back(resolved.device);
        if (usage->empty())
            *usage = UnusablePortName(resolved);
    }
    for (std::size_t i = 0; i < devices.size(); ++i) {
        if (std::find(devices.begin(), devices.begin() + static_cast<long>(i), devices[i]) !=
            devices.begin() + static_cast<long>(i))
            *usage = devices[i] + " is named twice; each device is polled by one monitor thread";
    }
    const std::vector<std::string> recordPaths =
        usage->empty() ? RecordingPaths(devices, args.record, usage) : std::vector<std::string>();
    if (usage->empty())
        *usage = SharedRecording(devices, recordPaths);
    if (usage->empty() && args.consoleListen.size() > devices.size())
        *usage = "--console-listen: give at most one per device (" + std::to_string(devices.size()) +
                 "), in the order of the devices";
    if (usage->empty() && args.consoleListen.empty() && (args.consoleRaw || args.consoleWritable))
        *usage =
            std::string(args.consoleRaw ? "--console-raw" : "--console-writable") + " needs --console-listen";
    const std::vector<std::optional<double>> baselines =
        usage->empty() ? SnrBaselines(named, devices, args.snrBaselines, usage)
                       : std::vector<std::optional<double>>();
    if (!usage->empty())
        return {};
    std::vector<BoardPlan> plans;
    for (std::size_t i = 0; i < devices.size(); ++i) {
        BoardPlan plan;
        plan.device = devices[i];
        plan.snrBaselineDb = baselines[i];
        if (i < args.consoleListen.size())
            plan.consoleListen = args.consoleListen[i];
        if (!recordPaths.empty())
            plan.recordPath = recordPaths[i];
        plans.push_back(std::move(plan));
    }
    return plans;
}

// Why options given with --inventory (or --limit without it) do not fit; empty when they do.
std::string InventoryUsage(const MonitorArguments& args) {
    if (args.inventory.empty())
        return args.limitGiven ? "--limit needs --inventory" : std::string();
    if (!args.devices.empty() || !args.ports.empty() || args.portGiven)
        return "--inventory names the boards to poll; give no DEVICE or --port with it";
    if (!args.snrBaselines.empty())
        return "--snr-baseline: with --inventory, give a board's baseline as its tessor_snr_baseline_db";
    if (!args.consoleListen.empty())
        return "--console-listen: with --inventory, give a board's console port as its tessor_console_listen";
    if (!args.record.empty() &&
        (args.record.size() != 1 || args.record.front().find("{device}") == std::string::npos))
        return "--record: with --inventory, give one file name with {device} in it (each board's name is put "
               "in)";
    return std::string();
}

} // namespace

int RunMonitor(const MonitorArguments& args, const std::string& port, int answerTimeoutMs) {
    const bool fromInventory = !args.inventory.empty();
    std::string usage = InventoryUsage(args);
    std::vector<BoardPlan> plans;
    if (usage.empty() && fromInventory) {
        if (!InventoryPlans(args, &plans, &usage))
            usage += ". Correct the inventory; see tessor-cli-monitor(1).";
    } else if (usage.empty()) {
        plans = DevicePlans(args, port, &usage);
    }
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

    BoardCommon common;
    common.interval = std::chrono::milliseconds(static_cast<long>(args.intervalSeconds * 1000.0));
    common.answerTimeout = std::chrono::milliseconds(answerTimeoutMs);
    common.crystalHz = CrystalHz(args.crystal);
    common.consoleRaw = args.consoleRaw;
    common.consoleWritable = args.consoleWritable;
    common.blockReads = args.blockReads;
    common.consoleHint = fromInventory
                             ? "choose another ADDR:PORT for its tessor_console_listen in " + args.inventory
                             : "choose another ADDRESS:PORT with --console-listen";
    common.jsonl = jsonl.get();
    common.reload = &reload;

    CBoards boards;
    std::vector<std::shared_ptr<Board>> made;
    for (const BoardPlan& plan : plans) {
        std::string error;
        std::shared_ptr<Board> board = MakeBoard(plan, common, &error);
        if (!board) {
            Log(error);
            for (auto& b : made)
                StopBoard(*b);
            return 1;
        }
        made.push_back(std::move(board));
    }
    boards.Set(made);

    CScrape scrape(boards, jsonl.get());
    monitor::CMetricsServer server([&scrape] { return scrape.Text(); }, {}, security, Log);
    std::string error;
    if (!server.Start(host, listenPort, &error)) {
        Log("cannot listen on " + args.listen + ": " + error + "; choose another ADDRESS:PORT with --listen");
        for (auto& b : made)
            StopBoard(*b);
        return 1;
    }
    std::string names;
    for (const BoardPlan& plan : plans)
        names += (names.empty() ? "" : ", ") + (plan.board.empty() ? plan.device : plan.board);
    Log(std::string("serving ") + (security && security->Tls() ? "https" : "http") + "://" +
        (host.find(':') != std::string::npos ? "[" + host + "]" : host) + ":" +
        std::to_string(server.Port()) + "/metrics for " + names);

    for (auto& b : made)
        StartPolling(*b);
    made.clear();
    // SIGHUP asks for a reload, which each part acts on in its own loop; SIGINT and SIGTERM end it.
    int signal = 0;
    while (sigwait(&signals, &signal) == 0 && signal == SIGHUP) {
        reload.Request();
        if (!args.record.empty() || (args.webConfig.empty() && !fromInventory))
            Log(std::string("SIGHUP: ") + (args.record.empty()
                                               ? "nothing to reopen"
                                               : "the recording files are reopened at the next pass"));
        if (!args.webConfig.empty())
            ReloadSecurity(server, args.webConfig);
        if (fromInventory) {
            // A broken inventory leaves the boards as they are.
            std::vector<BoardPlan> next;
            std::string why;
            if (InventoryPlans(args, &next, &why)) {
                ApplyPlans(boards, next, common);
                Log("reloaded the inventory " + args.inventory + ": " + std::to_string(boards.List().size()) +
                    " boards polled");
            } else {
                Log("kept the boards in force: " + why);
            }
        }
    }
    const std::vector<std::shared_ptr<Board>> last = boards.List();
    for (const auto& b : last)
        b->poller->Stop();
    for (const auto& b : last) {
        if (b->thread.joinable())
            b->thread.join();
    }
    for (const auto& b : last) {
        if (b->console)
            b->console->Stop();
    }
    StopServer(server);
    // An output still blocked (a pipe nobody reads) would hold the process at its exit's flush.
    bool written = true;
    if (jsonl)
        written = jsonl->Finish(std::chrono::milliseconds(500));
    for (const auto& b : last) {
        if (b->recording)
            written = b->recording->Finish(std::chrono::milliseconds(500)) && written;
    }
    if (!written) {
        Log("an output was still blocked; ending without it");
        std::_Exit(0);
    }
    return 0;
}

} // namespace tessor::cli
