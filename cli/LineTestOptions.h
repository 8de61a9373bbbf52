#pragma once

// The line test's options on the command line, shared by `linetest` on one port and `fleet linetest` on
// every board of an inventory: the same names, checks and defaults, and the same order of the criteria
// (the criteria file first, then the options over it).

#include "cli/CliCommands.h"
#include "cli/CliContext.h"

#include <CLI/CLI.hpp>

#include <string>
#include <vector>

namespace tessor::cli {

struct LineTestCommandLine {
    LineTestArgs args;
    std::string criteriaFile;
    std::vector<std::string> skip;
    double minSnrDb = 0;
    double maxRsValue = 0;
    double maxEsrValue = 0;
    double maxSesrValue = 0;
    double severeErrorValue = 0;
    CLI::Option* minSnr = nullptr;
    CLI::Option* maxRs = nullptr;
    CLI::Option* maxEsr = nullptr;
    CLI::Option* maxSesr = nullptr;
    CLI::Option* severeError = nullptr;
};

// Adds the line test's options to command. With ownReport the command also takes --site and --report
// (one board); without, the caller names the site and the report of each board.
void AddLineTestOptions(CLI::App* command, LineTestCommandLine& line, bool ownReport);

// The criteria of a run: criteriaFile's (when not empty) over the defaults, then the options (--min-snr,
// --max-rs-per-second, --severe-error-percent, ...) and --skip over those. Returns kExitOk, or the exit code
// after saying why (5 for a file that cannot be read, 2 for one that is not a criteria file).
int ApplyLineTestCriteria(const Context& ctx, const LineTestCommandLine& line,
                          const std::string& criteriaFile, linetest::Criteria* criteria);

} // namespace tessor::cli
