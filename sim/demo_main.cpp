// tessor-demo: reads line status, line configuration, PHY values and counters through the operations layer
// and prints them with the labels of the line vocabulary. Talks to a device (a serial port, or the path
// tessor-sim printed) or, with --in-process, to the simulated modem pair in memory.
#include "link/ConsolePort.h"
#include "link/Hooks.h"
#include "link/RegisterBus.h"
#include "model/LineModel.h"
#include "model/LineVocabulary.h"
#include "ops/Access.h"
#include "ops/Board.h"
#include "ops/EthernetPass.h"
#include "ops/LinkSettings.h"
#include "ops/PhyPass.h"
#include "sim/SimSerialDevice.h"

#include <cerrno>
#include <chrono>
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

namespace ops = tessor::ops;
using tessor::IRegisterBus;
using tessor::RegResult;

// Answers the board link's boxes on the terminal: problems are printed, a silent board is given up.
class CConsolePrompt : public tessor::IUserPrompt {
public:
    void ShowProblem(const std::string& text) override { std::cerr << "Problem: " << text << "\n"; }
    Answer AskHardwareNotResponding(const std::string&) override {
        std::cerr << "Hardware does not respond: giving up\n";
        return Answer::Cancel;
    }
};

unsigned LowByte(const RegResult& read) {
    return static_cast<unsigned>(read.value & 0xFF);
}

// Each section makes all of its reads before it prints; false when one of them was not answered, so that
// nothing the board did not answer is printed.
bool PrintIdentity(IRegisterBus& bus, std::uint8_t* side, bool* up) {
    const ops::ModemSideRead sideRead = ops::DetectModemSide(bus);
    if (!sideRead.read.ok())
        return false;
    const RegResult control = ops::ReadControl(bus);
    if (!control.ok())
        return false;
    const RegResult link = ops::IsLinkUp(bus);
    if (!link.ok())
        return false;
    *side = sideRead.side;
    *up = link.value == 1;
    std::printf("Local modem: %s (8C70 = %02X)\n", tessor::SideName(sideRead.side), LowByte(sideRead.read));
    std::printf("Control 8C00 = %02X: activation %s, transmitter %s\n", LowByte(control),
                ops::ActivationOn(control) ? "on" : "off", ops::TransmitterOn(control) ? "on" : "off");
    std::printf("Line %s\n", *up ? "UP" : "DOWN");
    return true;
}

// "44 (QAM 16, interpolation 4)", with "?" for a code that names nothing.
std::string DirectionText(const ops::DirectionSettings& direction) {
    std::string constellation = direction.constellationText;
    constellation.erase(0, constellation.find_first_not_of(' '));
    constellation.erase(constellation.find_last_not_of(' ') + 1);
    char text[64];
    std::snprintf(text, sizeof text, "%02X (%s, interpolation %s)", LowByte(direction.configRead),
                  constellation.empty() ? "?" : constellation.c_str(),
                  direction.interpolation ? std::to_string(direction.interpolation->factor).c_str() : "?");
    return text;
}

bool DirectionAnswered(const ops::DirectionSettings& direction) {
    return direction.configRead.ok() && direction.carrierRead.ok();
}

// The remote modem cannot be reached while the line is down or its mailbox does not complete; any other
// failure is the local board's.
bool RemoteUnreachable(const RegResult& read) {
    return read.outcome == tessor::Outcome::LineDown || read.outcome == tessor::Outcome::MailboxIncomplete;
}

bool PrintLineConfiguration(IRegisterBus& bus, bool up) {
    // Neither the rate nor the carrier frequency is printed: both depend on the crystal, which only the
    // configuration knows.
    const ops::LinkSettings settings = ops::ReadLinkSettings(bus, tessor::kCrystalFrequenciesHz[0], up);
    const RegResult& remote = settings.remoteSpeed.read;
    if (!DirectionAnswered(settings.downstream) || !DirectionAnswered(settings.upstream) ||
        !settings.localSpeed.read.ok() ||
        (settings.remoteSpeedRead && !remote.ok() && !RemoteUnreachable(remote)))
        return false;
    std::cout << "Line configuration (running):\n"
              << "  downstream 8C40 = " << DirectionText(settings.downstream) << ", carrier register "
              << (settings.downstream.carrierRead.value & 0xFFFF) << "\n"
              << "  upstream   8C41 = " << DirectionText(settings.upstream) << ", carrier register "
              << (settings.upstream.carrierRead.value & 0xFFFF) << "\n";
    std::printf("  Ethernet speed 8D43 = %02X\n", LowByte(settings.localSpeed.read));
    if (settings.remoteSpeedRead && remote.ok())
        std::printf("  remote modem (through the mailbox): Ethernet speed 8D43 = %02X\n", LowByte(remote));
    else if (settings.remoteSpeedRead)
        std::printf("  remote modem: not reachable through the mailbox\n");
    return true;
}

bool PrintPhy(IRegisterBus& bus, std::uint8_t side) {
    const ops::PhyReferenceRead references = ops::ReadPhyReferences(bus, side);
    if (!references.read.ok())
        return false;
    const ops::PhyPass pass = ops::RunPhyPass(bus, references.references);
    if (!pass.raw.AllAnswered())
        return false;
    const tessor::PhyTexts texts = tessor::FormatPhyTexts(pass.values);
    std::cout << "PHY:\n"
              << "  SNR " << texts.snr << " dB, MSE " << texts.mse << " dB\n"
              << "  corrected RS errors per second " << texts.rs << ", link fail counter " << texts.linkFail
              << "\n"
              << "  transmitted power " << texts.power << " dBm/Hz\n";
    for (int i = 0; i < tessor::kIndicatorCount; ++i)
        std::cout << "  " << tessor::kIndicatorDefs[static_cast<std::size_t>(i)].label << ": "
                  << (texts.flags[static_cast<std::size_t>(i)] ? "on" : "off") << "\n";
    return true;
}

bool PrintCounters(IRegisterBus& bus) {
    const ops::EthernetPass pass = ops::RunEthernetPass(bus);
    std::string lines;
    for (std::size_t i = 0; i < pass.counts.size(); ++i) {
        if (!pass.counts[i])
            return false;
        const tessor::CounterDef& counter = tessor::kCounterDefs[i];
        lines += std::string("  ") + counter.address + "  " + counter.longLabel + ": " +
                 std::to_string(*pass.counts[i]) + "\n";
    }
    std::cout << "Ethernet counters (since the last read):\n" << lines;
    return true;
}

// The whole report, section by section; stops at the first section the board did not answer.
bool PrintStatus(IRegisterBus& bus) {
    std::uint8_t side = tessor::kSideUnknown;
    bool up = false;
    if (!PrintIdentity(bus, &side, &up))
        return false;
    return PrintLineConfiguration(bus, up) && PrintPhy(bus, side) && PrintCounters(bus);
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
        options->config.localSide = value == "nt" ? tessor::kSideNT : tessor::kSideLT;
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
    while (!ops::LinkUp(tessor::ProcessBus()) && !port.NoComm() &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }
    const bool complete = PrintStatus(tessor::ProcessBus());
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
