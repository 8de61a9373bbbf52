// tessor-sim: the simulated modem pair on a pseudo-terminal.
#include "sim/PtyServer.h"

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>

namespace {

std::atomic<bool> g_stop{false};

void OnSignal(int) {
    g_stop.store(true);
}

void PrintUsage(std::ostream& out) {
    out << "Usage: tessor-sim [options]\n"
           "Serves a simulated LT and NT modem pair on a new pseudo-terminal. The slave path is printed on\n"
           "standard output; attach the tool or a serial terminal program (9600 8-N-1) to it.\n"
           "\n"
           "Options:\n"
           "  --side lt|nt           modem at the console end (default lt); the other is remote\n"
           "  --train-ms N           line training time in ms (default 3000)\n"
           "  --complete-after N     a mailbox operation completes with the N-th command after its start\n"
           "                         while the line is up (default 1)\n"
           "  --snr DB               line signal-to-noise ratio (default 36.5)\n"
           "  --no-pacing            answer at once instead of at 9600 baud (about 1.04 ms per character)\n"
           "  --reply-delay-ms N     start with a reply delay fault of N ms\n"
           "  --silent               start without answering\n"
           "  --path-file FILE       also write the slave path to FILE\n"
           "  --link PATH            keep a symbolic link PATH to the current slave (none while hung up)\n"
           "  --control-fifo FILE    read fault commands from this FIFO too (created if missing)\n"
           "  --no-stdin             do not read fault commands from standard input\n"
           "  --wire-log FILE        append every command line received to FILE as it arrives\n"
           "  --exit-on-hangup       exit after the hangup fault instead of opening a new pseudo-terminal\n"
           "  --reopen-ms N          after a hangup, open a new pseudo-terminal after N ms (default 1000);\n"
           "                         the new path is printed and written like the first one\n"
           "  --seed N               seed of the simulated noise and line life (default fixed)\n"
           "  --clock-scale X        simulated time runs X times faster (1 to 3600; default 1), e.g. 60 for\n"
           "                         an hour of line life in a minute\n"
           "  --line-life            a living line: the SNR drifts and RS error bursts come about 4 an hour\n"
           "  --drift-db DB          typical excursion of the drift (default 2)\n"
           "  --bursts-per-hour N    mean rate of RS error bursts (turns them on)\n"
           "  --drops-per-hour N     mean rate of line drops with retraining (default 0)\n"
           "  -h, --help             this text\n"
           "  --version              the program's version\n"
           "\n"
        << tessor::sim::CPtyServer::ControlHelp() << "\nSIGINT or SIGTERM ends the program.\n";
}

bool ParseInt(const char* text, long min, long max, long* value) {
    char* end = nullptr;
    const long v = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || v < min || v > max) {
        return false;
    }
    *value = v;
    return true;
}

} // namespace

int main(int argc, char** argv) {
    tessor::sim::PtyServerOptions options;
    bool startSilent = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto next = [&](const char* what) -> const char* {
            if (i + 1 >= argc) {
                std::cerr << "tessor-sim: " << arg << " needs " << what << "\n";
                std::exit(2);
            }
            return argv[++i];
        };
        auto intArg = [&](const char* what, long min, long max) {
            long value = 0;
            if (!ParseInt(next(what), min, max, &value)) {
                std::cerr << "tessor-sim: " << arg << ": " << what << " from " << min << " to " << max
                          << "\n";
                std::exit(2);
            }
            return value;
        };
        if (arg == "-h" || arg == "--help") {
            PrintUsage(std::cout);
            return 0;
        } else if (arg == "--version") {
            std::cout << "tessor-sim " << TESSOR_VERSION << "\n";
            return 0;
        } else if (arg == "--side") {
            const std::string side = next("lt or nt");
            if (side == "lt" || side == "LT") {
                options.sim.localSide = tessor::kSideLT;
            } else if (side == "nt" || side == "NT") {
                options.sim.localSide = tessor::kSideNT;
            } else {
                std::cerr << "tessor-sim: --side lt|nt\n";
                return 2;
            }
        } else if (arg == "--train-ms") {
            options.sim.trainMs = static_cast<int>(intArg("milliseconds", 0, 3600000));
        } else if (arg == "--complete-after") {
            options.sim.mailboxCompleteAfter = static_cast<int>(intArg("a count", 1, 100000));
        } else if (arg == "--snr") {
            options.sim.lineSnrDb = std::strtod(next("dB"), nullptr);
        } else if (arg == "--no-pacing") {
            options.pacing = false;
        } else if (arg == "--reply-delay-ms") {
            options.replyDelayMs = static_cast<int>(intArg("milliseconds", 0, 600000));
        } else if (arg == "--silent") {
            startSilent = true;
        } else if (arg == "--path-file") {
            options.pathFile = next("a file name");
        } else if (arg == "--link") {
            options.linkPath = next("a path");
        } else if (arg == "--control-fifo") {
            options.controlFifo = next("a file name");
        } else if (arg == "--wire-log") {
            options.wireLog = next("a file name");
        } else if (arg == "--no-stdin") {
            options.readStdin = false;
        } else if (arg == "--exit-on-hangup") {
            options.exitOnHangup = true;
        } else if (arg == "--reopen-ms") {
            options.reopenMs = static_cast<int>(intArg("milliseconds", 0, 3600000));
        } else if (arg == "--clock-scale") {
            options.sim.clockScale = static_cast<double>(intArg("a factor", 1, 3600));
        } else if (arg == "--line-life") {
            options.sim.life.drift = true;
            if (options.sim.life.burstsPerHour == 0) {
                options.sim.life.burstsPerHour = 4;
            }
        } else if (arg == "--drift-db") {
            options.sim.life.driftDb = static_cast<double>(intArg("dB", 0, 30));
            options.sim.life.drift = true;
        } else if (arg == "--bursts-per-hour") {
            options.sim.life.burstsPerHour = static_cast<double>(intArg("a rate", 0, 3600));
        } else if (arg == "--drops-per-hour") {
            options.sim.life.dropsPerHour = static_cast<double>(intArg("a rate", 0, 3600));
        } else if (arg == "--seed") {
            options.sim.seed = static_cast<std::uint32_t>(intArg("a number", 0, 0xFFFFFFFFL));
        } else {
            std::cerr << "tessor-sim: unknown option " << arg << " (try --help)\n";
            return 2;
        }
    }

    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0; // no SA_RESTART: poll() returns EINTR and the loop sees the flag
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    tessor::sim::CPtyServer server(options, std::cerr);
    std::string error;
    if (!server.Start(&error)) {
        std::cerr << "tessor-sim: " << error << "\n";
        return 1;
    }
    if (startSilent) {
        std::string reply;
        server.Control("silent on", &reply);
    }
    std::cerr << "tessor-sim: local modem " << tessor::SideName(options.sim.localSide) << " on "
              << server.SlavePath() << (options.pacing ? " (9600 baud)" : " (no pacing)")
              << (options.readStdin ? "; type help for fault commands" : "") << ", Ctrl-C to end"
              << std::endl;
    const int status = server.Run(g_stop);
    std::cerr << "tessor-sim: stopped" << std::endl;
    return status;
}
