#pragma once

// `tessor-cli fleet`: commands over the boards of an inventory file. The fleet layer reads the inventory,
// selects the boards and runs the campaign; this file parses the options and gives the campaign each
// board's run: the single-board command on the board's port.

#include "cli/CliCommands.h"
#include "cli/CliContext.h"
#include "cli/LineTestOptions.h"

#include "fleet/GitBackup.h"
#include "fleet/Inventory.h"

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <string>
#include <vector>

namespace tessor::cli {

struct FleetArguments {
    std::string inventory;
    std::string limit;
    CLI::Option* limitOption = nullptr; // not given: every board
    CLI::App* list = nullptr;
    CLI::App* status = nullptr;
    CLI::App* save = nullptr;
    CLI::App* verify = nullptr;
    CLI::App* backup = nullptr;
    CLI::App* linetest = nullptr;
    std::string out; // save: the folder of the saved files; linetest: of the reports
    std::string git; // backup: the repository
    int jobs = 16;
    int perServer = 4;
    double deadlineS = 60;
    CLI::Option* deadlineOption = nullptr; // not given: 60 s, a line test's duration and 60 s
    LineTestCommandLine lineTest;
    std::string junit;
    std::string csv;
    std::string html;
    bool blockReads = false;
};

// fleet list's document: the inventory file and the boards selected, each with its settings.
nlohmann::json FleetListJson(const fleet::Inventory& inventory, const std::vector<fleet::Board>& boards);

// fleet backup's summary line: what the run did to the repository.
nlohmann::json BackupSummaryJson(const std::string& repository, const fleet::BackupResult& backup);

// Adds the subcommand, its commands and their options to app; the arguments land in args.
CLI::App* AddFleetCommand(CLI::App& app, FleetArguments& args);

// Runs the fleet command that was parsed; returns the exit code (2 for an inventory or --limit that cannot
// be used, naming the file, the line and the reason).
// A campaign ends at a signal in interruption with 128 + the signal, after writing what finished.
int RunFleet(const FleetArguments& args, const GlobalOptions& options, const Streams& streams,
             Interruption& interruption);

} // namespace tessor::cli
