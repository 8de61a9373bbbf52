// Fewer bytes on the wire: the monitor's pass (its PHY and Ethernet reads) and a configuration save (the
// side and the 31 registers), each read one register run a command as always and with block reads, on
// the real board link against tessor-sim paced at 9600 baud. Prints the bytes on the wire and the time
// side by side, and whether block reads keep to their byte goals; never an assertion.

#include "bench/CountingDevice.h"
#include "bench/Options.h"
#include "bench/Process.h"
#include "link/ConsolePort.h"
#include "link/PosixSerialDevice.h"
#include "monitor/BoardPasses.h"
#include "ops/Board.h"
#include "ops/ConfigFiles.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <unistd.h>

#ifndef TESSOR_BENCH_SIM
#define TESSOR_BENCH_SIM "tessor-sim"
#endif

namespace {

using namespace tessor;
using Clock = std::chrono::steady_clock;

class QuietPrompt : public IUserPrompt {
public:
    void ShowProblem(const std::string& text) override {
        std::fprintf(stderr, "problem: %s\n", text.c_str());
    }
    Answer AskHardwareNotResponding(const std::string&) override { return Answer::Cancel; }
};

struct Figures {
    double commands = 0;
    double bytes = 0; // both directions, per run
    double ms = 0;    // per run
    bool failed = false;
};

Figures Measure(bench::ExchangeLog& log, int runs, const std::function<bool()>& run) {
    Figures f;
    for (int i = 0; i < runs; ++i) {
        log.Clear();
        const auto start = Clock::now();
        f.failed = !run() || f.failed;
        f.ms += std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        for (const bench::Exchange& e : log.Take()) {
            f.commands += e.written > 0 ? 1 : 0;
            f.bytes += static_cast<double>(e.written + e.read);
        }
    }
    f.commands /= runs;
    f.bytes /= runs;
    f.ms /= runs;
    return f;
}

void PrintRow(const char* name, const Figures& single, const Figures& block, double goal) {
    const double bytesRatio = block.bytes / single.bytes;
    const bool met = !single.failed && !block.failed && bytesRatio <= goal;
    std::printf("  %-14s %5.0f %7.0f %8.1f   %5.0f %7.0f %8.1f   %6.3f %6.3f  <=%.3f %s%s\n", name,
                single.commands, single.bytes, single.ms, block.commands, block.bytes, block.ms, bytesRatio,
                block.ms / single.ms, goal, met ? "met" : "missed",
                single.failed || block.failed ? " (a run failed)" : "");
}

} // namespace

int main(int argc, char** argv) {
    std::string workDir;
    std::string simProgram = TESSOR_BENCH_SIM;
    int runs = 5;
    if (!bench::ParseOptions(argc, argv,
                             {{"--work-dir", [&](const char* v) { workDir = v; }},
                              {"--sim", [&](const char* v) { simProgram = v; }},
                              {"--repeats", [&](const char* v) { runs = std::max(1, std::atoi(v)); }}})) {
        std::fprintf(stderr, "usage: tessor-bench-block-reads [--sim PATH] [--work-dir DIR] [--repeats N]\n");
        return 2;
    }
    if (workDir.empty()) {
        char pattern[] = "/tmp/tessor-bench-block.XXXXXX";
        const char* dir = mkdtemp(pattern);
        workDir = dir ? dir : "/tmp";
    }
    std::printf(
        "\n6. Block reads at 9600 baud (the board link against tessor-sim on a pseudo-terminal, paced)\n");
    bench::SimProcess sim;
    std::string error;
    if (!sim.Start(simProgram, {"--train-ms", "0"}, workDir, "sim-block", &error)) {
        std::printf("  not measured: %s\n", error.c_str());
        return 0;
    }
    auto log = std::make_shared<bench::ExchangeLog>();
    QuietPrompt prompt;
    CConsolePort port(&prompt);
    port.SetDeviceOpener([log](const std::string& name, const LineSettings& settings, int* errorCode) {
        auto inner = PosixSerialDevice::Open(name, settings, errorCode);
        return inner ? std::make_unique<bench::CountingDevice>(std::move(inner), log) : nullptr;
    });
    if (!port.Open(9600, 8, 0, 0, sim.SlavePath().c_str())) {
        std::printf("  not measured: %s cannot be opened\n", sim.SlavePath().c_str());
        return 0;
    }
    std::thread worker([&port] { port.ConsoleWorkerThread(); });

    const auto pass = [&port](bool blockReads) {
        return [&port, blockReads] {
            monitor::CBoardPasses passes(port, blockReads);
            ops::PhyPass phy;
            monitor::EthernetTotals totals{};
            return passes.ReadPhy(std::nullopt, phy) && passes.ReadEthernet(totals);
        };
    };
    const auto save = [&port](bool blockReads) {
        return [&port, blockReads] {
            const ops::ModemSideRead side = ops::DetectModemSide(port);
            return side.read.ok() && ops::ReadConfiguration(port, side.side, blockReads).ok;
        };
    };
    const Figures passOne = Measure(*log, runs, pass(false));
    const Figures passBlock = Measure(*log, runs, pass(true));
    const Figures saveOne = Measure(*log, runs, save(false));
    const Figures saveBlock = Measure(*log, runs, save(true));

    std::printf("  %-14s %-22s   %-22s   %s\n", "", "one read a command", "--block-reads", "block / one");
    std::printf("  %-14s %5s %7s %8s   %5s %7s %8s   %6s %6s  %s\n", "", "cmds", "bytes", "ms", "cmds",
                "bytes", "ms", "bytes", "time", "bytes goal");
    PrintRow("monitor pass", passOne, passBlock, 0.75);
    PrintRow("save", saveOne, saveBlock, 1.0 / 3.0);
    std::printf(
        "  bytes: both directions per run (commands, echoes, replies, prompts), counted on the device;\n"
        "  ms: per run, from the first command written to the last reply read (%d runs each).\n"
        "  A monitor pass is its PHY reads and its fifteen Ethernet counters; a save is the side read\n"
        "  and the 31 configuration registers.\n",
        runs);
    port.RequestStop();
    worker.join();
    port.Close();
    return 0;
}
