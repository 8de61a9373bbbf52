// The monitor's HTTP endpoint is built on Linux only; the Windows build keeps the command's name so that
// scripts get a clear answer instead of an unknown-command error.
#include "cli/CliCommands.h"
#include "cli/MonitorCommand.h"

#include <iostream>

namespace tessor::cli {

CLI::App* AddMonitorCommand(CLI::App& app, MonitorArguments& args) {
    CLI::App* monitor = app.add_subcommand("monitor", "not available in this build (Linux only)");
    monitor->allow_extras();
    (void)args;
    return monitor;
}

int RunMonitor(const MonitorArguments&, const std::string&, int) {
    std::cerr << "tessor-cli: monitor is not available in the Windows build; run it on a Linux machine "
                 "cabled to the modem"
              << std::endl;
    return kExitUsage;
}

} // namespace tessor::cli
