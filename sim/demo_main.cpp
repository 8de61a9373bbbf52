// tessor-demo: reads line status, line configuration, PHY values and counters through the board link and
// prints them. Talks to a device (a serial port, or the path tessor-sim printed) or, with --in-process, to
// the simulated modem pair in memory.
#include "link/ConsolePort.h"
#include "link/Hooks.h"
#include "link/RegisterAccess.h"
#include "ops/ProcessAccess.h"
#include "sim/SimSerialDevice.h"

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <thread>

namespace {

// Answers the board link's boxes on the terminal: problems are printed, a silent board is given up.
class CConsolePrompt : public tessor::IUserPrompt {
public:
    void ShowProblem(const std::string& text) override { std::cerr << "Problem: " << text << "\n"; }
    Answer AskHardwareNotResponding(const std::string&) override {
        std::cerr << "Hardware does not respond: giving up\n";
        return Answer::Cancel;
    }
};

const char* ConstellationName(int code) {
    switch (code) {
    case 0x0:
        return "QAM 256";
    case 0x2:
        return "QAM 64";
    case 0x4:
        return "QAM 16";
    case 0x6:
        return "QAM 8";
    case 0x8:
        return "QAM 4";
    case 0xA:
        return "QAM 128";
    case 0xC:
        return "QAM 32";
    default:
        return "?";
    }
}

int Interpolation(int code) {
    static const int kFactors[] = {4, 6, 8, 12, 16, 24, 32, 48, 64, 10, 14};
    return code >= 0 && code <= 0xA ? kFactors[code] : 0;
}

double SnrReferenceDb(int code) {
    switch (code) {
    case 0x0:
        return 91.80;
    case 0x2:
        return 85.50;
    case 0x4:
        return 79.20;
    case 0x6:
        return 76.00;
    case 0x8:
        return 70.20;
    case 0xA:
        return 88.40;
    case 0xC:
        return 79.80;
    default:
        return 0;
    }
}

// One register read; empty when the board did not answer or garbled its reply. Such values are never
// printed.
std::optional<std::int64_t> Read(const char* address, std::uint8_t count = 1) {
    const tessor::RegResult r = tessor::ops::LocalByte(tessor::ProcessBus(), tessor::kRead, address, count);
    if (!r.ok())
        return std::nullopt;
    return r.value;
}

bool BoardGaveUp() {
    const tessor::CConsolePort* port = tessor::g_pConsolePort.load();
    return port == nullptr || port->NoComm();
}

std::string LineConfigText(std::int64_t value) {
    char text[64];
    std::snprintf(text, sizeof text, "%02X (%s, interpolation %d)", static_cast<unsigned>(value & 0xFF),
                  ConstellationName(static_cast<int>(value & 0x0F)),
                  Interpolation(static_cast<int>(value >> 4 & 0x0F)));
    return text;
}

// Each section reads all of its registers before it prints; false when one of them got no answer.
bool PrintCounters() {
    struct Counter {
        const char* address;
        const char* name;
    };
    static const Counter kCounters[] = {
        {"8D1C", "Transmitted frames"}, {"8D20", "Received frames"},    {"8D08", "Transmitted octets"},
        {"8D0C", "Received octets"},    {"8D10", "Received broadcast"}, {"8CF8", "Receive errors"},
        {"8D04", "Frame check errors"},
    };
    std::string lines;
    for (const Counter& c : kCounters) {
        const auto value = Read(c.address, 4);
        if (!value)
            return false;
        lines += std::string("  ") + c.address + "  " + c.name + ": " +
                 std::to_string(static_cast<std::uint32_t>(*value)) + "\n";
    }
    std::cout << "Ethernet counters (since the last read):\n" << lines;
    return true;
}

bool PrintIdentity(bool* nt) {
    // A read that gets no answer ends the section at once: each one costs the full time-out.
    std::optional<std::int64_t> type, control, status;
    if (!(type = Read("8C70")) || !(control = Read("8C00")) || !(status = Read("8C71")))
        return false;
    const bool up = tessor::IsLinkUp();
    if (BoardGaveUp())
        return false;
    *nt = (*type & 0x10) != 0;
    std::printf("Local modem: %s (8C70 = %02X)\n", *nt ? "NT" : "LT", static_cast<unsigned>(*type & 0xFF));
    std::printf("Control 8C00 = %02X: activation %s, transmitter %s\n",
                static_cast<unsigned>(*control & 0xFF), *control & 0x80 ? "on" : "off",
                *control & 0x40 ? "on" : "off");
    std::printf("Line status 8C71 = %02X: line %s%s%s%s%s%s\n", static_cast<unsigned>(*status & 0xFF),
                up ? "UP" : "DOWN", *status & 0x80 ? ", full constellation" : "",
                *status & 0x40 ? ", reduced constellation" : "", *status & 0x20 ? ", TC synchronized" : "",
                *status & 0x04 ? ", remote I/F synchronized" : "", *status & 0x02 ? ", signal detected" : "");
    return true;
}

bool PrintLineConfiguration(std::int64_t* ds, std::int64_t* us) {
    std::optional<std::int64_t> dsConfig, usConfig, dsCarrier, usCarrier, speed;
    if (!(dsConfig = Read("8C40")) || !(usConfig = Read("8C41")) || !(dsCarrier = Read("8C42", 2)) ||
        !(usCarrier = Read("8C44", 2)) || !(speed = Read("8D43")))
        return false;
    *ds = *dsConfig;
    *us = *usConfig;
    std::cout << "Line configuration (running):\n"
              << "  downstream 8C40 = " << LineConfigText(*ds) << ", carrier register "
              << (*dsCarrier & 0xFFFF) << "\n"
              << "  upstream   8C41 = " << LineConfigText(*us) << ", carrier register "
              << (*usCarrier & 0xFFFF) << "\n";
    std::printf("  Ethernet speed 8D43 = %02X\n", static_cast<unsigned>(*speed & 0xFF));
    if (tessor::IsLinkUp()) {
        const std::int64_t remote = tessor::AccessRemoteReg(tessor::kRead, "8C40", " 1");
        const std::int64_t remoteType = tessor::AccessRemoteReg(tessor::kRead, "8C70", " 1");
        if (BoardGaveUp())
            return false;
        if (remote < 0 || remoteType < 0)
            std::printf("  remote modem: not reachable through the mailbox\n");
        else
            std::printf("  remote modem (%s, through the mailbox): 8C40 = %s\n",
                        remoteType & 0x10 ? "NT" : "LT", LineConfigText(remote).c_str());
    }
    return !BoardGaveUp();
}

bool PrintPhy(int received) {
    std::optional<std::int64_t> errorValue, levelValue, rsValue, failsValue;
    if (!(errorValue = Read("8C99", 3)) || !(levelValue = Read("8C9C", 2)) || !(rsValue = Read("8C91", 4)) ||
        !(failsValue = Read("8D38")))
        return false;
    const std::int64_t error = *errorValue & 0xFFFFFF;
    const std::int64_t level = *levelValue & 0xFFFF;
    std::cout << "PHY:\n";
    if (error > 0) {
        std::printf("  error value %lld, SNR %.2f dB\n", static_cast<long long>(error),
                    SnrReferenceDb(received) - 10.0 * std::log10(static_cast<double>(error)));
    } else {
        std::printf("  error value 0 (no measurement)\n");
    }
    if (level > 0) {
        std::printf("  transmit level %lld, %.1f dBm/Hz\n", static_cast<long long>(level),
                    -55.0 - std::round(std::fabs(20.0 * std::log10(static_cast<double>(level) / 1024.0))));
    }
    std::printf("  corrected RS errors %lld, link fail counter %lld\n",
                static_cast<long long>(*rsValue & 0xFFFFFFFF), static_cast<long long>(*failsValue & 0xFF));
    return true;
}

// The whole report, section by section; stops at the first section the board did not answer.
bool PrintStatus() {
    bool nt = false;
    std::int64_t ds = 0;
    std::int64_t us = 0;
    if (!PrintIdentity(&nt) || !PrintLineConfiguration(&ds, &us))
        return false;
    return PrintPhy(static_cast<int>((nt ? ds : us) & 0x0F)) && PrintCounters();
}

void PrintUsage(std::ostream& out) {
    out << "Usage: tessor-demo [--wait-ms N] [--answer-timeout-ms N] DEVICE\n"
           "       tessor-demo --in-process [--side lt|nt] [--train-ms N] [--wait-ms N]\n"
           "Prints the line status, the line configuration, PHY values and Ethernet counters of the modem\n"
           "on DEVICE (a serial port or the path tessor-sim prints), or of the simulated pair in memory.\n"
           "--wait-ms N waits up to N ms for the line to come up first (default 5000).\n"
           "--answer-timeout-ms N gives the board N ms to answer one command (default 17500).\n"
           "--train-ms N lets the simulated line train in N ms (default 3000).\n"
           "-h, --help shows this text, --version the program's version.\n";
}

int BadUsage(const std::string& problem) {
    std::cerr << "tessor-demo: " << problem << "\nTry 'tessor-demo --help' for more information.\n";
    return 2;
}

// Milliseconds from min to 3600000; empty when the text is not such a number.
std::optional<int> ParseMs(const std::string& value, long min) {
    char* end = nullptr;
    const long ms = std::strtol(value.c_str(), &end, 10);
    if (value.empty() || *end != '\0' || ms < min || ms > 3600000)
        return std::nullopt;
    return static_cast<int>(ms);
}

// The command-line options of one run.
struct Options {
    bool inProcess = false;
    std::string device;
    int waitMs = 5000;
    int answerTimeoutMs = tessor::CConsolePort::kDefaultPollCount * 5;
    tessor::sim::SimConfig config;
};

// One option that takes a value; 0 when taken, else the exit code of a bad command line.
int TakeValueOption(const std::string& arg, const std::string& value, Options* options) {
    if (arg == "--side") {
        if (value != "lt" && value != "nt")
            return BadUsage("--side takes lt or nt, not '" + value + "'");
        options->config.localSide = value == "nt" ? tessor::sim::Side::NT : tessor::sim::Side::LT;
        return 0;
    }
    const long min = arg == "--answer-timeout-ms" ? 5 : 0;
    const std::optional<int> ms = ParseMs(value, min);
    if (!ms)
        return BadUsage(arg + " takes milliseconds from " + std::to_string(min) + " to 3600000, not '" +
                        value + "'");
    if (arg == "--wait-ms")
        options->waitMs = *ms;
    else if (arg == "--answer-timeout-ms")
        options->answerTimeoutMs = *ms;
    else
        options->config.trainMs = *ms;
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--in-process") {
            options.inProcess = true;
        } else if (arg == "--side" || arg == "--wait-ms" || arg == "--answer-timeout-ms" ||
                   arg == "--train-ms") {
            if (i + 1 >= argc)
                return BadUsage(arg + " needs a value");
            if (const int status = TakeValueOption(arg, argv[++i], &options))
                return status;
        } else if (arg == "-h" || arg == "--help") {
            PrintUsage(std::cout);
            return 0;
        } else if (arg == "--version") {
            std::cout << "tessor-demo " << TESSOR_VERSION << "\n";
            return 0;
        } else if (!arg.empty() && arg[0] != '-' && options.device.empty()) {
            options.device = arg;
        } else if (!arg.empty() && arg[0] != '-') {
            return BadUsage("one DEVICE only ('" + arg + "' is a second one)");
        } else {
            return BadUsage("unknown option " + arg);
        }
    }
    if (!options.inProcess && options.device.empty())
        return BadUsage("no DEVICE given");
    if (options.inProcess && !options.device.empty())
        return BadUsage("--in-process takes no DEVICE");

    CConsolePrompt prompt;
    tessor::CConsolePort port(&prompt);
    port.SetPollTiming(options.answerTimeoutMs / 5, std::chrono::milliseconds(5));
    std::string device = options.device;
    if (options.inProcess) {
        auto simulator = std::make_shared<tessor::sim::CSimulator>(options.config);
        port.SetDeviceOpener([simulator](const std::string&, const tessor::LineSettings&, int*) {
            return tessor::sim::CSimulator::CreateDevice(simulator);
        });
        device = "in-process simulator";
    }
    if (!port.Open(9600, 8, 0, 0, device.c_str())) {
        const int error = port.LastOpenError();
        std::cerr << "tessor-demo: cannot open " << device << ": "
                  << (error != 0 ? std::strerror(error) : "the device could not be set up") << "\n";
        if (error == EACCES || error == EPERM)
            std::cerr << "Serial devices may be opened only by members of the group that owns them "
                         "(usually dialout): usermod -aG dialout USER, then log in again.\n";
        return 1;
    }
    tessor::g_pConsolePort.store(&port);
    std::thread worker([&port] { port.ConsoleWorkerThread(); });

    std::cout << "Connected to " << device << "\n";
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(options.waitMs);
    while (!tessor::IsLinkUp() && !port.NoComm() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }
    const bool complete = PrintStatus();
    if (!complete)
        std::cerr << "tessor-demo: " << device
                  << " did not answer; nothing further was read (check the cable, the port and the modem's "
                     "power)\n";
    const int status = complete ? 0 : 1;

    port.RequestStop();
    worker.join();
    tessor::g_pConsolePort.store(nullptr);
    return status;
}
