#pragma once

// `tessor-cli fleet`: commands over the boards of an inventory file. The fleet layer reads the inventory and
// selects the boards; this file only parses the options and prints what it gives.

#include "cli/CliContext.h"

#include <CLI/CLI.hpp>

#include <string>

namespace tessor::cli {

struct FleetArguments {
    std::string inventory;
    std::string limit;
    CLI::Option* limitOption = nullptr; // not given: every board
    CLI::App* list = nullptr;
};

// Adds the subcommand, its commands and their options to app; the arguments land in args.
CLI::App* AddFleetCommand(CLI::App& app, FleetArguments& args);

// Runs the fleet command that was parsed; returns the exit code (2 for an inventory or --limit that cannot
// be used, naming the file, the line and the reason).
int RunFleet(const FleetArguments& args, const GlobalOptions& options, const Streams& streams);

} // namespace tessor::cli
