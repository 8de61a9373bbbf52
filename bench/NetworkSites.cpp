#include "bench/NetworkSites.h"

#include "bench/DelayProxy.h"
#include "bench/Loopback.h"
#include "bench/Measure.h"
#include "bench/MonitorLine.h"
#include "bench/Process.h"

#include <algorithm>
#include <arpa/inet.h>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <memory>
#include <netinet/in.h>
#include <sstream>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace tessor::bench {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

long CountLines(const std::string& file) {
    const std::string text = ReadFile(file);
    return static_cast<long>(std::count(text.begin(), text.end(), '\n'));
}

// A poll pass as the monitor's JSON line gives it, with the commands the board received during it when
// the board's wire log is watched.
struct Pass {
    MonitorLinePass line;
    long commands = -1;
};

// tessor-cli monitor writing JSON lines; the lines are collected as they come, each with the wire log's
// line count at that moment, so the commands between two pass ends are the later pass's.
class WatchedMonitor {
public:
    ~WatchedMonitor() { Stop(); }
    void Stop() { m_process.Stop(kStopGrace); }

    bool Start(const NetworkSitesOptions& o, const std::vector<std::string>& devices, double interval,
               const std::string& tag) {
        m_out = o.workDir + "/" + tag + ".jsonl";
        std::vector<std::string> args{o.cli, "monitor"};
        args.insert(args.end(), devices.begin(), devices.end());
        args.insert(args.end(),
                    {"--listen", "127.0.0.1:0", "--jsonl", "--interval", std::to_string(interval)});
        return m_process.Start(args, m_out, o.workDir + "/" + tag + ".log");
    }

    // Collects for a time; wireLog may be empty (no commands counted).
    void Collect(std::chrono::milliseconds span, const std::string& wireLog) {
        const auto end = Clock::now() + span;
        long wireBefore = wireLog.empty() ? 0 : CountLines(wireLog);
        while (Clock::now() < end) {
            std::this_thread::sleep_for(10ms);
            const std::string text = ReadFile(m_out);
            std::size_t eol;
            while ((eol = text.find('\n', m_consumed)) != std::string::npos) {
                const long wire = wireLog.empty() ? 0 : CountLines(wireLog);
                Add(text.substr(m_consumed, eol - m_consumed), wireLog.empty() ? -1 : wire - wireBefore);
                wireBefore = wire;
                m_consumed = eol + 1;
            }
        }
    }

    pid_t Pid() const { return m_process.Pid(); }
    const std::vector<Pass>& Passes() const { return m_passes; }

private:
    void Add(const std::string& line, long commands) {
        if (std::optional<MonitorLinePass> pass = ParseMonitorLine(line))
            m_passes.push_back({std::move(*pass), commands});
    }

    testsupport::Process m_process;
    std::string m_out;
    std::size_t m_consumed = 0;
    std::vector<Pass> m_passes;
};

// The steady passes of one port: line known up before and after (the first pass, and the one that sees the
// line come up, also read the identification and the line settings; a pass that did not learn the line's
// state, or its own duration, says nothing).
std::vector<Pass> Steady(const std::vector<Pass>& passes, const std::string& port) {
    std::vector<Pass> out;
    bool before = false;
    for (const Pass& p : passes) {
        if (p.line.port != port)
            continue;
        const bool up = p.line.lineUp == true;
        if (up && before && p.line.ms)
            out.push_back(p);
        before = up;
    }
    return out;
}

struct PassFigures {
    int count = 0;
    double medianMs = 0;
    double commands = 0; // per pass, median
};

PassFigures Figures(const std::vector<Pass>& steady) {
    std::vector<double> ms, commands;
    for (const Pass& p : steady) {
        ms.push_back(*p.line.ms);
        commands.push_back(static_cast<double>(p.commands));
    }
    return {static_cast<int>(steady.size()), MedianOf(ms), MedianOf(commands)};
}

// One way to the board for the remote-site part: its name, the port, whether the relay is in front, and
// which path is the same without the relay.
struct SitePath {
    SitePath(const char* n, std::string p, bool r, std::size_t b)
        : name(n), port(std::move(p)), relayed(r), base(b) {}
    const char* name;
    std::string port;
    bool relayed;
    std::size_t base;
    std::vector<double> statusMs;
    std::vector<double> statusCommands;
    bool failed = false;
    PassFigures pass;
};

void RunStatus(const NetworkSitesOptions& o, const std::string& wireLog, SitePath* p) {
    const long before = CountLines(wireLog);
    int status = -1;
    const auto start = Clock::now();
    RunAndCollect(o.cli, {"--port", p->port, "status"}, {}, o.workDir + "/remote-errors.log", &status);
    p->statusMs.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    p->statusCommands.push_back(static_cast<double>(CountLines(wireLog) - before));
    p->failed = p->failed || status != 0;
}

void MeasurePasses(const NetworkSitesOptions& o, const std::string& wireLog, std::size_t index, SitePath* p) {
    WatchedMonitor monitor;
    const std::string tag = "remote-monitor-" + std::to_string(index);
    if (!monitor.Start(o, {p->port}, 4.0, tag)) {
        p->failed = true;
        return;
    }
    monitor.Collect(std::chrono::seconds(o.proxySeconds), wireLog);
    p->pass = Figures(Steady(monitor.Passes(), p->port));
}

void PrintRemoteRow(const SitePath& p, double measured, double commands, double direct, double base,
                    double roundTrip) {
    const double expectDirect = direct + commands * roundTrip;
    if (!p.relayed) {
        std::printf("  %-22s %9.1f %6.0f %10s %6s %12s %6s%s\n", p.name, measured, commands, "", "", "", "",
                    p.failed ? "  (a run failed)" : "");
        return;
    }
    const double expectBase = base + commands * roundTrip;
    std::printf("  %-22s %9.1f %6.0f %10.1f %6.3f %12.1f %6.3f%s\n", p.name, measured, commands, expectDirect,
                measured / expectDirect, expectBase, measured / expectBase,
                p.failed ? "  (a run failed)" : "");
}

void PrintRemote(const NetworkSitesOptions& o, const std::vector<SitePath>& paths) {
    const double roundTrip = 2.0 * o.delayMs;
    const char* head = "  %-22s %9s %6s %10s %6s %12s %6s\n";
    std::printf(head, "tessor-cli status", "median ms", "cmds", "pty+RTTs", "ratio", "same+RTTs", "ratio");
    for (const SitePath& p : paths)
        PrintRemoteRow(p, MedianOf(p.statusMs), MedianOf(p.statusCommands), MedianOf(paths[0].statusMs),
                       MedianOf(paths[p.base].statusMs), roundTrip);
    std::printf(head, "monitor poll pass", "median ms", "cmds", "pty+RTTs", "ratio", "same+RTTs", "ratio");
    for (const SitePath& p : paths)
        PrintRemoteRow(p, p.pass.medianMs, p.pass.commands, paths[0].pass.medianMs,
                       paths[p.base].pass.medianMs, roundTrip);
    std::printf("  steady passes per path:");
    for (const SitePath& p : paths)
        std::printf(" %d", p.pass.count);
    std::printf("\n");
    for (const SitePath& p : paths) {
        if (!p.relayed || p.pass.commands <= 0)
            continue;
        const double extra = p.pass.medianMs - paths[p.base].pass.medianMs;
        std::printf("  %s: the relay costs %.0f ms a pass, %.1f ms a command (the round trip is %.0f ms)\n",
                    p.name, extra, extra / p.pass.commands, roundTrip);
    }
}

} // namespace

bool StartSer2net(const NetworkSitesOptions& o, const std::string& tag,
                  const std::vector<Accepter>& accepters, testsupport::Process* ser2net) {
    const std::string yaml = o.workDir + "/" + tag + ".yaml";
    {
        std::ofstream out(yaml);
        out << "%YAML 1.1\n---\n";
        for (std::size_t i = 0; i < accepters.size(); ++i)
            out << "connection: &" << tag << i << "\n  accepter: " << accepters[i].kind << ",127.0.0.1,"
                << accepters[i].port << "\n  connector: serialdev," << accepters[i].tty
                << ",9600n81,local\n  options:\n    chardelay: false\n";
    }
    const std::string log = o.workDir + "/" + tag + ".out";
    if (!ser2net->Start({o.ser2net, "-n", "-u", "-c", yaml, "-P", o.workDir + "/" + tag + ".pid"}, log, log))
        return false;
    for (int i = 0; i < 200; ++i) {
        if (std::all_of(accepters.begin(), accepters.end(),
                        [](const Accepter& a) { return ListensOnLoopback(a.port); }))
            return true;
        std::this_thread::sleep_for(25ms);
    }
    return false;
}

void RemoteSite(const NetworkSitesOptions& o) {
    std::printf("\n7. A remote site: ser2net behind a relay adding %d ms each way (127.0.0.1), paced board\n",
                o.delayMs);
    SimProcess sim;
    std::string error;
    const std::string wireLog = o.workDir + "/remote-wire.log";
    if (!sim.Start(o.sim, {"--train-ms", "0", "--wire-log", wireLog}, o.workDir, "sim-remote", &error)) {
        std::printf("  not measured: %s\n", error.c_str());
        return;
    }
    const std::vector<Accepter> accepters{
        {"tcp(nodelay)", FreeLoopbackPort(), sim.SlavePath()},
        {"telnet(rfc2217),tcp(nodelay)", FreeLoopbackPort(), sim.SlavePath()}};
    testsupport::Process ser2net;
    DelayProxy rawRelay, rfcRelay;
    if (!StartSer2net(o, "ser2net-remote", accepters, &ser2net) ||
        !rawRelay.Start(accepters[0].port, std::chrono::milliseconds(o.delayMs)) ||
        !rfcRelay.Start(accepters[1].port, std::chrono::milliseconds(o.delayMs))) {
        std::printf("  not measured: ser2net (%s) or the relay did not start\n", o.ser2net.c_str());
        return;
    }
    const std::string relayed = "://127.0.0.1:";
    std::vector<SitePath> paths{
        {"pseudo-terminal", sim.SlavePath(), false, 0},
        {"ser2net raw", accepters[0].Url(), false, 1},
        {"ser2net raw + relay", "socket" + relayed + std::to_string(rawRelay.Port()), true, 1},
        {"ser2net rfc2217", accepters[1].Url(), false, 3},
        {"ser2net rfc2217 + relay", "rfc2217" + relayed + std::to_string(rfcRelay.Port()), true, 3}};
    for (int i = 0; i < o.repeats; ++i) {
        for (SitePath& p : paths)
            RunStatus(o, wireLog, &p);
    }
    for (std::size_t i = 0; i < paths.size(); ++i)
        MeasurePasses(o, wireLog, i, &paths[i]);
    rawRelay.Stop();
    rfcRelay.Stop();
    ser2net.SignalAndWait(SIGTERM, kStopGrace);
    PrintRemote(o, paths);
    std::printf(
        "  status: a whole tessor-cli status process (%d runs); monitor poll pass: its steady passes (PHY "
        "and\n"
        "    Ethernet reads; %d s, every 4 s); cmds: command lines the board received (its wire log), the\n"
        "    median per run or pass; pty+RTTs: the pseudo-terminal's median plus one round trip (%d ms) per\n"
        "    command; same+RTTs: the same path without the relay plus one round trip per command.\n",
        o.repeats, o.proxySeconds, 2 * o.delayMs);
}

void ManyBoards(const NetworkSitesOptions& o) {
    std::printf(
        "\n8. %d boards behind one ser2net (rfc2217 accepters, 127.0.0.1), one monitor watching all\n",
        o.boards);
    std::vector<std::unique_ptr<SimProcess>> sims;
    std::vector<Accepter> accepters;
    for (int i = 0; i < o.boards; ++i) {
        sims.push_back(std::make_unique<SimProcess>());
        std::string error;
        if (!sims.back()->Start(o.sim, {"--train-ms", "0"}, o.workDir, "sim-many" + std::to_string(i),
                                &error)) {
            std::printf("  not measured: %s\n", error.c_str());
            return;
        }
        accepters.push_back({"telnet(rfc2217),tcp(nodelay)", FreeLoopbackPort(), sims.back()->SlavePath()});
    }
    testsupport::Process ser2net;
    if (!StartSer2net(o, "ser2net-many", accepters, &ser2net)) {
        std::printf("  not measured: ser2net (%s) did not start\n", o.ser2net.c_str());
        return;
    }
    std::vector<std::string> urls;
    for (const Accepter& a : accepters)
        urls.push_back(a.Url());
    WatchedMonitor all;
    if (!all.Start(o, urls, 5.0, "many-monitor")) {
        std::printf("  not measured: %s did not start\n", o.cli.c_str());
        return;
    }
    all.Collect(8s, ""); // past start-up, the openings and the first passes
    const double monitorCpu0 = CpuSeconds(all.Pid());
    const double ser2netCpu0 = CpuSeconds(ser2net.Pid());
    const auto t0 = Clock::now();
    all.Collect(std::chrono::seconds(o.restSeconds), "");
    const double elapsed = std::chrono::duration<double>(Clock::now() - t0).count();
    const double monitorShare = (CpuSeconds(all.Pid()) - monitorCpu0) / elapsed * 100.0;
    const double ser2netShare = (CpuSeconds(ser2net.Pid()) - ser2netCpu0) / elapsed * 100.0;
    const long rss = StatusKb(all.Pid(), "VmRSS");
    const long hwm = StatusKb(all.Pid(), "VmHWM");
    const long ser2netRss = StatusKb(ser2net.Pid(), "VmRSS");
    const std::vector<Pass> passes = all.Passes();
    all.Stop(); // ser2net takes one client per accepter
    WatchedMonitor alone;
    PassFigures aloneFigures;
    if (alone.Start(o, {urls[0]}, 5.0, "many-alone")) {
        alone.Collect(std::chrono::seconds(std::max(21, o.restSeconds / 2)), "");
        aloneFigures = Figures(Steady(alone.Passes(), urls[0]));
    }
    ser2net.SignalAndWait(SIGTERM, kStopGrace);

    std::printf(
        "  at rest over %.0f s (every 5 s a pass per board): monitor CPU %.2f %% of a core, resident\n"
        "    %.1f MiB (peak %.1f MiB); ser2net CPU %.2f %% of a core, resident %.1f MiB\n",
        elapsed, monitorShare, rss / 1024.0, hwm / 1024.0, ser2netShare, ser2netRss / 1024.0);
    std::printf("  one board alone (board 1, its own monitor): %d steady passes, median %.1f ms\n",
                aloneFigures.count, aloneFigures.medianMs);
    double worst = 0;
    for (std::size_t i = 0; i < urls.size(); ++i) {
        const PassFigures f = Figures(Steady(passes, urls[i]));
        const double ratio = aloneFigures.medianMs > 0 ? f.medianMs / aloneFigures.medianMs : 0;
        worst = std::max(worst, ratio);
        std::printf("  board %2zu: %2d steady passes, median %7.1f ms, against alone %.3f\n", i + 1, f.count,
                    f.medianMs, ratio);
    }
    std::printf("  the slowest board's median against one board alone: %.3f\n", worst);
}

} // namespace tessor::bench
