#pragma once

// The subcommands of tessor-cli, each over the operations layer. Each returns the process's exit code.

#include "cli/CliContext.h"
#include "linetest/ConfigCompare.h"
#include "linetest/LineTest.h"
#include "model/ConfigDiff.h"
#include "ops/EthernetPass.h"

#include <atomic>
#include <chrono>
#include <optional>
#include <string>

namespace tessor::cli {

// read / write / or / and, on the local modem or through the mailbox on the remote one.
struct RegisterArgs {
    std::string op;      // "read", "write", "or", "and"
    std::string address; // already checked: "8C10"
    std::string value;   // already checked: "3F" (not for read)
    int count = 1;       // read only, 1..8
    bool remote = false;
};
int RunRegister(const Context& ctx, const RegisterArgs& args);

// The General page's actions.
enum class GeneralAction {
    Reset,
    LoopbackLocal,
    LoopbackLine,
    TransmitterOn,
    TransmitterOff,
    ActivationOn,
    ActivationOff,
    RemoteReset,
    RemoteLoopback,
};
int RunGeneral(const Context& ctx, GeneralAction action);

int RunStatus(const Context& ctx);
// The reads of status on bus: its JSON document and its text, or the first read that failed. With
// blockReads the link settings, the PHY pass and the identification read their runs of consecutive
// registers with one command each.
std::optional<RegResult> ReadStatus(IRegisterBus& bus, nlohmann::json* doc, std::string* text,
                                    bool blockReads = false);
// The settings of one direction as the status and line test documents give them.
nlohmann::json DirectionJson(const ops::DirectionSettings& d);

struct CounterArgs {
    double intervalS = 5.0;
    int count = 1; // 0: until interrupted
};
int RunCounters(const Context& ctx, const CounterArgs& args, const std::atomic<bool>& interrupted);
// One pass of counters' document: complete, its raw reads and their counts.
nlohmann::json CountersPassJson(const ops::EthernetPass& pass);
// The counters document: the passes made intervalS apart and the totals of their counts.
nlohmann::json CountersJson(double intervalS, const nlohmann::json& passes,
                            const ops::EthernetCountTotals& totals);

int RunSave(const Context& ctx, const std::string& file);
int RunLoad(const Context& ctx, const std::string& file);
int RunDefault(const Context& ctx);

struct PresetArgs {
    int preset = 0;      // 1..4
    int localSpeed = 0;  // 1..3
    int remoteSpeed = 0; // 1..3, 0: as the remote modem has it
};
int RunPreset(const Context& ctx, const PresetArgs& args);

// The line acceptance test; report, when given, is the HTML report's file.
struct LineTestArgs {
    std::chrono::milliseconds duration{15 * 60 * 1000};
    std::chrono::milliseconds interval{5000};
    std::string site;
    std::string operatorName;
    std::string note;
    std::string report;
    linetest::Criteria criteria;
    std::function<std::string(std::uint8_t side)> refuseSide; // as linetest::LineTestOptions takes it
};
int RunLineTest(const Context& ctx, const LineTestArgs& args, const std::atomic<bool>& interrupted);
// The exit code of a line test that ended with verdict: a report that could not be written first.
int LineTestExitCode(linetest::Verdict verdict, bool reportProblem);
// Reads a criteria file into criteria; false with *error naming the line.
bool ReadCriteriaFile(const std::string& bytes, linetest::Criteria* criteria, std::string* error);
// The line test's JSON document; report names the written report, empty: none.
nlohmann::json LineTestJson(const linetest::LineTestResult& result, const std::string& report);

// The 31 registers Save reads against FILE, each differing register with its changes in words.
int RunVerify(const Context& ctx, const std::string& file);
// The exit code of verify's comparison of a board with its file.
int VerifyExitCode(const linetest::ConfigComparison& comparison);
// Verify's document: the file's comparison with the board, the differing registers and the changes.
nlohmann::json VerifyJson(const std::string& file, const linetest::ConfigComparison& comparison,
                          const ConfigDiff& diff);

// Two saved configurations (no board traffic), or the board against FILE (the reads of save and
// verify), as changes in the words of the pages. Exit 0 equal, 7 different, 5 for a file that is not a
// configuration.
int RunDiffFiles(const Context& ctx, const std::string& before, const std::string& after);
int RunDiffBoard(const Context& ctx, const std::string& file);
// The crystal the window tool starts with (25.00 MHz): the carriers, line rates and preset names of diff
// and verify.
inline constexpr int kConfigCrystalIndex = 2;
// The changes as JSON: equal, sides_differ, not_compared, and changes with their machine names.
nlohmann::json ConfigDiffJson(const ConfigDiff& diff);
// Diff's document: the changes from before to after (files, or a file and "board").
nlohmann::json DiffJson(const std::string& before, const std::string& after, const ConfigDiff& diff);

// No board traffic: a recording file as OpenMetrics text on standard output or into output.
struct ExportArgs {
    std::string recording;
    std::string site;
    std::string output; // empty: standard output
};
int RunExport(const ExportArgs& args, const Streams& streams);

// No board traffic: what COM1..COM3 resolve to and whether each opens.
int RunPorts(const GlobalOptions& options, const Streams& streams);

// How the program learns of SIGINT/SIGTERM: graceful says whether the running command ends by itself
// (counters, after the read in progress) once requested is set; otherwise the signal ends the process.
struct Interruption {
    std::atomic<bool> requested{false};
    std::atomic<bool> graceful{false};
    std::atomic<int> signal{0}; // the signal that set requested
};

// The whole program: parses the command line, opens the port and runs one subcommand.
int RunCli(int argc, char** argv, const Streams& streams, Interruption& interruption);

} // namespace tessor::cli
