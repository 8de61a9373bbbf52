// tessor-cli: the board's sequences from a shell.
#include "cli/CliCommands.h"

#include <csignal>
#include <iostream>
#include <unistd.h>

namespace {

tessor::cli::Interruption g_interruption;

void OnSignal(int signal) {
    if (!g_interruption.graceful.load() || g_interruption.requested.load())
        _exit(128 + signal);
    g_interruption.requested.store(true);
}

} // namespace

int main(int argc, char** argv) {
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    const tessor::cli::Streams streams{std::cout, std::cerr, std::cin, ::isatty(STDIN_FILENO) != 0};
    return tessor::cli::RunCli(argc, argv, streams, g_interruption);
}
