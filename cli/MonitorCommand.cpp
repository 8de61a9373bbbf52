#include "cli/MonitorCommand.h"

#include "cli/CliPorts.h"
#include "monitor/MetricsServer.h"
#include "monitor/Monitor.h"
#include "monitor/MonitorRecording.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <iostream>
#include <mutex>
#include <pthread.h>
#include <thread>

namespace tessor::cli {

namespace {

std::mutex g_outputMutex; // one line at a time on standard output and standard error

void Log(const std::string& text) {
    std::lock_guard<std::mutex> lock(g_outputMutex);
    std::fprintf(stderr, "tessor-cli monitor: %s\n", text.c_str());
    std::fflush(stderr);
}

void WriteJsonLine(const monitor::Snapshot& s) {
    const std::string line = monitor::RenderJsonLine(s);
    std::lock_guard<std::mutex> lock(g_outputMutex);
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

std::int32_t CrystalHz(const std::string& text) {
    if (text == "19.44")
        return 19440000;
    if (text == "22.50")
        return 22500000;
    return 25000000;
}

// The HTTP workers end within their one-second time-outs; a client still holding one then does not keep
// the process from ending.
void StopServer(monitor::CMetricsServer& server) {
    auto done = std::async(std::launch::async, [&server] { server.Stop(); });
    if (done.wait_for(std::chrono::milliseconds(600)) != std::future_status::ready) {
        std::fflush(stdout);
        std::fflush(stderr);
        std::_Exit(0);
    }
}

} // namespace

CLI::App* AddMonitorCommand(CLI::App& app, MonitorArguments& args) {
    CLI::App* cmd = app.add_subcommand(
        "monitor", "poll the board and serve its health on a Prometheus endpoint until SIGTERM or SIGINT");
    cmd->footer(
        "Exit codes: 0 ended by SIGTERM or SIGINT, 1 the endpoint cannot listen or the recording file\n"
        "cannot be written, 2 bad usage.");
    cmd->add_option("DEVICE", args.device,
                    "serial device of the board's console, as --port takes it (default: --port); a "
                    "/dev/serial/by-id link is followed afresh on every reopen");
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
        ->check(CLI::Range(0.2, 3600.0));
    cmd->add_option("--crystal", args.crystal, "crystal of the board in MHz, for the line rates")
        ->capture_default_str()
        ->check(CLI::IsMember({"19.44", "22.50", "25.00"}));
    cmd->add_flag("--jsonl", args.jsonl, "write one JSON line per poll pass on standard output");
    cmd->add_option("--record", args.record,
                    "append every pass to this recording file (the Line History window opens it)");
    return cmd;
}

int RunMonitor(const MonitorArguments& args, const std::string& port, int answerTimeoutMs) {
    // Signals are taken by one thread with sigwait; every other thread has them blocked.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    std::string host;
    int listenPort = 0;
    monitor::ParseListenAddress(args.listen, &host, &listenPort);

    monitor::MonitorOptions options;
    options.device = ResolvePort(args.device.empty() ? port : args.device).device;
    options.interval = std::chrono::milliseconds(static_cast<long>(args.intervalSeconds * 1000.0));
    options.answerTimeout = std::chrono::milliseconds(answerTimeoutMs);
    options.crystalHz = CrystalHz(args.crystal);
    std::unique_ptr<monitor::CMonitorRecording> recording;
    if (!args.record.empty()) {
        std::string error;
        recording = monitor::CMonitorRecording::Open(args.record, options.interval, Log, &error);
        if (!recording) {
            Log("cannot record to " + args.record + ": " + error +
                " Name a new file or an earlier recording.");
            return 1;
        }
    }
    const bool jsonl = args.jsonl;
    auto onPass = [jsonl, &recording](const monitor::Snapshot& s) {
        if (jsonl)
            WriteJsonLine(s);
        if (recording)
            recording->AddPass(s);
    };
    monitor::CMonitor poller(options, onPass, Log);

    monitor::CMetricsServer server([&poller] { return poller.Exposition(); });
    std::string error;
    if (!server.Start(host, listenPort, &error)) {
        Log("cannot listen on " + args.listen + ": " + error + "; choose another ADDRESS:PORT with --listen");
        return 1;
    }
    Log("serving http://" + (host.find(':') != std::string::npos ? "[" + host + "]" : host) + ":" +
        std::to_string(server.Port()) + "/metrics for " + options.device);

    std::thread signalWaiter([&poller, stopSignals] {
        int signal = 0;
        sigwait(&stopSignals, &signal);
        poller.Stop();
    });
    poller.Run();
    signalWaiter.join();
    StopServer(server);
    return 0;
}

} // namespace tessor::cli
