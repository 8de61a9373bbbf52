// tessor-cli: the board's sequences from a shell.
#include "cli/CliCommands.h"
#include "files/PlainFile.h"

#include <csignal>
#include <cstdlib>
#include <iostream>

namespace {

tessor::cli::Interruption g_interruption;

void OnSignal(int signal) {
    if (!g_interruption.graceful.load() || g_interruption.requested.load())
        std::_Exit(128 + signal);
    g_interruption.signal.store(signal);
    g_interruption.requested.store(true);
}

} // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
    std::signal(SIGINT, OnSignal); // Ctrl+C in the console
    std::signal(SIGTERM, OnSignal);
#else
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
#endif
    const tessor::cli::Streams streams{std::cout, std::cerr, std::cin, tessor::StandardInputIsTerminal()};
    return tessor::cli::RunCli(argc, argv, streams, g_interruption);
}
