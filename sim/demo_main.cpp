// tessor-demo: reads line status, line configuration, PHY values and counters through the board link and
// prints them. Talks to a device (a serial port, or the path tessor-sim printed) or, with --in-process, to
// the simulated modem pair in memory.
#include "link/ConsolePort.h"
#include "link/Hooks.h"
#include "link/RegisterAccess.h"
#include "sim/SimSerialDevice.h"

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
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

std::int64_t Read(const char* address, std::uint8_t count = 1) {
    return tessor::AccessLocalRegByte(tessor::kRead, address, count);
}

std::string LineConfigText(std::int64_t value) {
    char text[64];
    std::snprintf(text, sizeof text, "%02X (%s, interpolation %d)", static_cast<unsigned>(value & 0xFF),
                  ConstellationName(static_cast<int>(value & 0x0F)),
                  Interpolation(static_cast<int>(value >> 4 & 0x0F)));
    return text;
}

void PrintCounters() {
    struct Counter {
        const char* address;
        const char* name;
    };
    static const Counter kCounters[] = {
        {"8D1C", "Transmitted frames"}, {"8D20", "Received frames"},    {"8D08", "Transmitted octets"},
        {"8D0C", "Received octets"},    {"8D10", "Received broadcast"}, {"8CF8", "Receive errors"},
        {"8D04", "Frame check errors"},
    };
    std::cout << "Ethernet counters (since the last read):\n";
    for (const Counter& c : kCounters) {
        const auto value = static_cast<std::uint32_t>(Read(c.address, 4));
        std::cout << "  " << c.address << "  " << c.name << ": " << value << "\n";
    }
}

void PrintStatus() {
    const std::int64_t type = Read("8C70");
    const bool nt = (type & 0x10) != 0;
    std::printf("Local modem: %s (8C70 = %02X)\n", nt ? "NT" : "LT", static_cast<unsigned>(type & 0xFF));
    const std::int64_t control = Read("8C00");
    const std::int64_t status = Read("8C71");
    std::printf("Control 8C00 = %02X: activation %s, transmitter %s\n", static_cast<unsigned>(control & 0xFF),
                control & 0x80 ? "on" : "off", control & 0x40 ? "on" : "off");
    std::printf("Line status 8C71 = %02X: line %s%s%s%s%s%s\n", static_cast<unsigned>(status & 0xFF),
                tessor::IsLinkUp() ? "UP" : "DOWN", status & 0x80 ? ", full constellation" : "",
                status & 0x40 ? ", reduced constellation" : "", status & 0x20 ? ", TC synchronized" : "",
                status & 0x04 ? ", remote I/F synchronized" : "", status & 0x02 ? ", signal detected" : "");

    const std::int64_t ds = Read("8C40");
    const std::int64_t us = Read("8C41");
    const std::int64_t dsCarrier = Read("8C42", 2) & 0xFFFF;
    const std::int64_t usCarrier = Read("8C44", 2) & 0xFFFF;
    const std::int64_t speed = Read("8D43");
    std::cout << "Line configuration (running):\n"
              << "  downstream 8C40 = " << LineConfigText(ds) << ", carrier register " << dsCarrier << "\n"
              << "  upstream   8C41 = " << LineConfigText(us) << ", carrier register " << usCarrier << "\n";
    std::printf("  Ethernet speed 8D43 = %02X\n", static_cast<unsigned>(speed & 0xFF));
    if (tessor::IsLinkUp()) {
        const std::int64_t remote = tessor::AccessRemoteReg(tessor::kRead, "8C40", " 1");
        const std::int64_t remoteType = tessor::AccessRemoteReg(tessor::kRead, "8C70", " 1");
        std::printf("  remote modem (%s, through the mailbox): 8C40 = %s\n", remoteType & 0x10 ? "NT" : "LT",
                    remote < 0 ? "not reachable" : LineConfigText(remote).c_str());
    }

    const std::int64_t error = Read("8C99", 3) & 0xFFFFFF;
    const std::int64_t level = Read("8C9C", 2) & 0xFFFF;
    const std::int64_t rs = Read("8C91", 4) & 0xFFFFFFFF;
    const std::int64_t fails = Read("8D38") & 0xFF;
    const int received = static_cast<int>((nt ? ds : us) & 0x0F);
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
    std::printf("  corrected RS errors %lld, link fail counter %lld\n", static_cast<long long>(rs),
                static_cast<long long>(fails));
    PrintCounters();
}

void PrintUsage() {
    std::cout
        << "Usage: tessor-demo [--wait-ms N] DEVICE\n"
           "       tessor-demo --in-process [--side lt|nt] [--wait-ms N]\n"
           "Prints the line status, the line configuration, PHY values and Ethernet counters of the modem\n"
           "on DEVICE (a serial port or the path tessor-sim prints), or of the simulated pair in memory.\n"
           "--wait-ms N waits up to N ms for the line to come up first (default 5000).\n";
}

} // namespace

int main(int argc, char** argv) {
    bool inProcess = false;
    std::string device;
    int waitMs = 5000;
    tessor::sim::SimConfig config;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--in-process") {
            inProcess = true;
        } else if (arg == "--side" && i + 1 < argc) {
            config.localSide = std::string(argv[++i]) == "nt" ? tessor::sim::Side::NT : tessor::sim::Side::LT;
        } else if (arg == "--wait-ms" && i + 1 < argc) {
            waitMs = std::atoi(argv[++i]);
        } else if (arg == "-h" || arg == "--help") {
            PrintUsage();
            return 0;
        } else if (!arg.empty() && arg[0] != '-') {
            device = arg;
        } else {
            PrintUsage();
            return 2;
        }
    }
    if (!inProcess && device.empty()) {
        PrintUsage();
        return 2;
    }

    CConsolePrompt prompt;
    tessor::CConsolePort port(&prompt);
    if (inProcess) {
        auto simulator = std::make_shared<tessor::sim::CSimulator>(config);
        port.SetDeviceOpener([simulator](const std::string&, const tessor::LineSettings&, int*) {
            return tessor::sim::CSimulator::CreateDevice(simulator);
        });
        device = "in-process simulator";
    }
    if (!port.Open(9600, 8, 0, 0, device.c_str())) {
        std::cerr << "tessor-demo: cannot open " << device << " (error " << port.LastOpenError() << ")\n";
        return 1;
    }
    tessor::g_pConsolePort.store(&port);
    std::thread worker([&port] { port.ConsoleWorkerThread(); });

    std::cout << "Connected to " << device << "\n";
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    while (!tessor::IsLinkUp() && !port.NoComm() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }
    PrintStatus();
    const int status = port.NoComm() ? 1 : 0;

    port.RequestStop();
    worker.join();
    tessor::g_pConsolePort.store(nullptr);
    return status;
}
