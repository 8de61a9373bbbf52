// The fleet's inventory reader is built on Linux only; the Windows build keeps the command's name so that
// scripts get a clear answer instead of an unknown-command error.
#include "cli/FleetCommand.h"

#include <iostream>

namespace tessor::cli {

CLI::App* AddFleetCommand(CLI::App& app, FleetArguments& args) {
    CLI::App* fleet = app.add_subcommand("fleet", "not available in this build (Linux only)");
    fleet->allow_extras();
    (void)args;
    return fleet;
}

int RunFleet(const FleetArguments&, const GlobalOptions&, const Streams& streams, Interruption&) {
    streams.err << "tessor-cli: fleet is not available in the Windows build; run it on a Linux machine that "
                   "reaches the console servers"
                << std::endl;
    return kExitUsage;
}

} // namespace tessor::cli
