// The installed programs' command lines, run as processes: --help and --version end at once with 0, bad
// usage ends with 2 and a message on standard error, and tessor-demo reports only what it read.
#include "model/LineVocabulary.h"
#include "support/ChildProcess.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

using ProgramRun = tessor::testsupport::RunResult;

// Runs a program with no display and no platform choice, and collects its output and exit code.
ProgramRun RunProgram(std::vector<std::string> args) {
    return tessor::testsupport::RunProgram(
        std::move(args), "/dev/null",
        tessor::testsupport::Environment({}, {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}), 60000);
}

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

TEST(Programs, HelpVersionAndBadUsage) {
    const std::string version = TESSOR_VERSION;
    const struct {
        const char* program;
        const char* name;
    } programs[] = {
        {TESSOR_CONFIGURATOR_PATH, "tessor-configurator"},
        {TESSOR_SIM_PATH, "tessor-sim"},
        {TESSOR_DEMO_PATH, "tessor-demo"},
    };
    for (const auto& p : programs) {
        SCOPED_TRACE(p.name);
        const ProgramRun shownVersion = RunProgram({p.program, "--version"});
        EXPECT_EQ(shownVersion.status, 0);
        EXPECT_EQ(shownVersion.out, std::string(p.name) + " " + version + "\n");
        const ProgramRun help = RunProgram({p.program, "--help"});
        EXPECT_EQ(help.status, 0);
        EXPECT_TRUE(Contains(help.out, std::string("Usage: ") + p.name)) << help.out;
        EXPECT_TRUE(Contains(help.out, "--version")) << help.out;
        const ProgramRun bad = RunProgram({p.program, "--no-such-option"});
        EXPECT_EQ(bad.status, 2);
        EXPECT_TRUE(bad.out.empty()) << bad.out;
        EXPECT_TRUE(Contains(bad.err, p.name) && Contains(bad.err, "no-such-option")) << bad.err;
    }
    // The window takes no file or device argument; the window system's own options pass through.
    const ProgramRun stray = RunProgram({TESSOR_CONFIGURATOR_PATH, "COM1"});
    EXPECT_EQ(stray.status, 2);
    EXPECT_TRUE(Contains(stray.err, "COM1")) << stray.err;
    const ProgramRun withPlatform =
        RunProgram({TESSOR_CONFIGURATOR_PATH, "-platform", "offscreen", "--version"});
    EXPECT_EQ(withPlatform.status, 0);
    EXPECT_EQ(RunProgram({TESSOR_DEMO_PATH}).status, 2);
    EXPECT_EQ(RunProgram({TESSOR_DEMO_PATH, "--side", "xx", "--in-process"}).status, 2);
}

TEST(Programs, DemoNamesTheOpenErrorAndPrintsOnlyWhatItRead) {
    const ProgramRun missing = RunProgram({TESSOR_DEMO_PATH, "/dev/tessor-no-such-device"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_TRUE(Contains(missing.err, "/dev/tessor-no-such-device: No such file or directory"))
        << missing.err;

    const ProgramRun good =
        RunProgram({TESSOR_DEMO_PATH, "--in-process", "--train-ms", "100", "--wait-ms", "4000"});
    EXPECT_EQ(good.status, 0) << good.err;
    EXPECT_TRUE(Contains(good.out, "Local modem: LT") && Contains(good.out, "Ethernet counters")) << good.out;
    // Every indicator and every counter under the label the pages give it, counters in pass order.
    for (const tessor::IndicatorDef& indicator : tessor::kIndicatorDefs)
        EXPECT_TRUE(Contains(good.out, std::string("  ") + indicator.label + ": o")) << indicator.label;
    // The simulated line trains with the full constellation.
    EXPECT_TRUE(Contains(good.out, "Full Constellation Link: on\n  Reduced Constellation Link: off\n"))
        << good.out;
    std::size_t last = 0;
    for (const tessor::CounterDef& counter : tessor::kCounterDefs) {
        const std::size_t at = good.out.find(std::string(counter.address) + "  " + counter.longLabel + ": ");
        EXPECT_TRUE(at != std::string::npos && at > last) << counter.longLabel << "\n" << good.out;
        last = at == std::string::npos ? last : at;
    }

    // A silent board: after the time-out (shortened, the default is 17.5 s) nothing that looks like a
    // reading is printed.
    const std::string pathFile = testing::TempDir() + "tessor-programs-sim-path";
    std::remove(pathFile.c_str());
    tessor::testsupport::Process sim;
    ASSERT_TRUE(sim.Start({TESSOR_SIM_PATH, "--silent", "--no-pacing", "--no-stdin", "--path-file", pathFile},
                          "/dev/null", "/dev/null"));
    std::string slave;
    for (int i = 0; i < 200 && slave.empty(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
        if (FILE* f = std::fopen(pathFile.c_str(), "r")) {
            char line[256] = {};
            if (std::fgets(line, sizeof line, f))
                slave = std::string(line).substr(0, std::string(line).find('\n'));
            std::fclose(f);
        }
    }
    ASSERT_FALSE(slave.empty());
    const ProgramRun silent =
        RunProgram({TESSOR_DEMO_PATH, "--wait-ms", "0", "--answer-timeout-ms", "300", slave});
    sim.SignalAndWait(SIGTERM, std::chrono::seconds(10));
    EXPECT_EQ(silent.status, 1);
    EXPECT_EQ(silent.out, "Connected to " + slave + "\n");
    EXPECT_TRUE(Contains(silent.err, slave + " did not answer")) << silent.err;
    EXPECT_TRUE(Contains(silent.err, "Hardware does not respond")) << silent.err;
}

} // namespace
