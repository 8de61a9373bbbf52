// tessor-cli: the board from the command line.

#include "cli/MonitorCommand.h"

#include <CLI/CLI.hpp>

int main(int argc, char** argv) {
    CLI::App app("tessor-cli: the Tessor modem pair from the command line", "tessor-cli");
    app.set_version_flag("--version", std::string("tessor-cli ") + TESSOR_VERSION);
    app.require_subcommand(1);
    tessor::cli::MonitorArguments monitorArgs;
    CLI::App* monitor = tessor::cli::AddMonitorCommand(app, monitorArgs);
    try {
        app.parse(argc, argv);
    } catch (const CLI::Success& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        app.exit(e);
        return 2;
    }
    if (monitor->parsed())
        return tessor::cli::RunMonitor(monitorArgs);
    return 2;
}
