// The command line of tessor-cli: global options, subcommands and their arguments, and the dispatch.
#include "cli/CliCommands.h"
#include "cli/CliValidators.h"
#include "cli/FleetCommand.h"
#include "cli/LineTestOptions.h"
#include "cli/MonitorCommand.h"
#include "files/PlainFile.h"
#include "link/NetworkPortName.h"
#include "link/NetworkSocket.h"
#include "link/PortDiscovery.h"
#include "link/SerialPort.h"
#include "model/LineTestNames.h"
#include "model/PublishedNames.h"
#include "monitor/JsonText.h"

#include <CLI/CLI.hpp>

#include <cmath>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <vector>

#ifndef TESSOR_VERSION
#define TESSOR_VERSION "0"
#endif

namespace tessor::cli {

namespace {

const char* const kDescription = "Configures and watches a pair of Ethernet-over-VDSL line modems through "
                                 "the serial console of one of them "
                                 "(the local modem), as the window tool does.";

const char* const kFooter =
    "Commands that change the board ask for confirmation on a terminal; when standard input is not a "
    "terminal "
    "they need --yes.\n"
    "\n"
    "Exit codes:\n"
    "  0  done\n"
    "  2  bad usage (also: a changing command without --yes when standard input is not a terminal)\n"
    "  3  port not accessible\n"
    "  4  board did not answer (or garbled a reply)\n"
    "  5  file error\n"
    "  6  refused: line down for a remote operation, NT side for a preset, speed setup not known, or the\n"
    "     confirmation was declined\n"
    "  7  linetest: the line did not pass (or the test was stopped); verify: the board differs from FILE;\n"
    "     diff: the configurations differ";

// One subcommand as parsed: its parser node, whether it changes the board, and what it runs.
struct Command {
    CLI::App* app;
    bool changesBoard;
    std::function<int(const Context&)> run;
};

struct Arguments {
    RegisterArgs reg;
    LineTestCommandLine linetest;
    CounterArgs counters;
    PresetArgs preset;
    std::string file;
    std::string file2;
    std::string mode;
};

CLI::Validator AddressValidator() {
    return CLI::Validator(
        [](std::string& text) {
            std::string address;
            if (!ParseAddress(text, &address))
                return std::string("an address is four hexadecimal digits starting with 8, such as 8C10");
            text = address;
            return std::string();
        },
        "ADDR", "register address");
}

CLI::Validator ByteValidator() {
    return CLI::Validator(
        [](std::string& text) {
            std::string value;
            std::uint8_t byte = 0;
            if (!ParseByte(text, &value, &byte))
                return std::string("a value is one or two hexadecimal digits, such as 3F");
            text = value;
            return std::string();
        },
        "VALUE", "register value");
}

class Parser {
public:
    Parser() : m_app(kDescription, "tessor-cli") {
        m_app.require_subcommand(1);
        m_app.fallthrough();
        m_app.footer(kFooter);
        m_app.set_version_flag("--version", std::string("tessor-cli ") + TESSOR_VERSION);
        m_app
            .add_option(
                "-p,--port", options.port,
                "COM1..COM3 (resolved as the window tool does), a device path, or a console server's port as "
                "rfc2217://HOST:PORT or socket://HOST:PORT")
            ->capture_default_str();
        m_app.add_flag("--json", options.json, "print one JSON document instead of text");
        m_app.add_flag("-y,--yes", options.yes, "change the board without asking");
        m_app
            .add_option("--answer-timeout-ms", options.answerTimeoutMs,
                        "how long one exchange may take before the board counts as silent")
            ->check(CLI::Range(5, 3600000))
            ->capture_default_str();
        m_app
            .add_option("--retries", options.retries,
                        "how many more such waits a run allows before giving up")
            ->check(CLI::Range(0, 1000))
            ->capture_default_str();
        AddRegisterCommands(m_app, false);
        AddRemoteCommands();
        AddStatusCommands();
        AddFileCommands();
        AddGeneralCommands();
        AddLineTestCommands();
        m_ports = m_app.add_subcommand("ports", "what COM1..COM3 resolve to and whether each can be opened");
        AddExportCommand();
        m_monitor = AddMonitorCommand(m_app, monitorArgs);
        m_fleet = AddFleetCommand(m_app, fleetArgs);
        m_answerTimeout = m_app.get_option("--answer-timeout-ms");
    }

    // 0 to go on, else the exit code (help and version give 0 through done).
    int Parse(int argc, char** argv, const Streams& streams, bool* done) {
        try {
            m_app.parse(argc, argv);
        } catch (const CLI::ParseError& e) {
            *done = true;
            const int code = m_app.exit(e, streams.out, streams.err);
            return code == 0 ? kExitOk : kExitUsage;
        }
        return kExitOk;
    }

    const Command* Chosen() const {
        for (const Command& command : m_commands) {
            if (command.app->parsed())
                return &command;
        }
        return nullptr;
    }
    bool PortsChosen() const { return m_ports->parsed(); }
    bool ExportChosen() const { return m_export->parsed(); }
    bool MonitorChosen() const { return m_monitor->parsed(); }
    bool DiffChosen() const { return m_diff->parsed(); }
    bool PortGiven() const { return m_app.get_option("--port")->count() > 0; }
    bool FleetChosen() const { return m_fleet->parsed(); }
    // The monitor gives up on a silent board sooner unless told otherwise.
    int MonitorAnswerTimeoutMs() const {
        return m_answerTimeout->count() > 0 ? options.answerTimeoutMs : kMonitorAnswerTimeoutMs;
    }

    GlobalOptions options;
    Arguments args;
    ExportArgs exportArgs;
    MonitorArguments monitorArgs;
    FleetArguments fleetArgs;
    const std::atomic<bool>* interrupted = nullptr;

private:
    void Add(CLI::App* app, bool changes, std::function<int(const Context&)> run) {
        m_commands.push_back(Command{app, changes, std::move(run)});
    }

    void AddBlockReads(CLI::App* command) {
        command->add_flag("--block-reads", options.blockReads,
                          "read runs of consecutive registers with one command each (at most 8 registers): "
                          "fewer bytes on the wire, the same values");
    }

    void AddRegisterCommands(CLI::App& parent, bool remote) {
        const char* where = remote ? " on the remote modem through the mailbox" : " on the local modem";
        CLI::App* read = parent.add_subcommand("read", std::string("read a register") + where);
        read->add_option("ADDR", args.reg.address, "register address, such as 8C10")
            ->required()
            ->transform(AddressValidator());
        if (!remote)
            read->add_option("COUNT", args.reg.count, "number of consecutive registers, 1..8")
                ->check(CLI::Range(1, 8));
        Add(read, false, [this, remote](const Context& ctx) {
            args.reg.op = "read";
            args.reg.remote = remote;
            return RunRegister(ctx, args.reg);
        });
        for (const char* op : {"write", "or", "and"}) {
            const std::string help = std::string(op) == "write" ? "write a register"
                                     : std::string(op) == "or"  ? "set the bits of VALUE in a register"
                                                                : "keep only the bits of VALUE in a register";
            CLI::App* sub = parent.add_subcommand(op, help + where);
            sub->add_option("ADDR", args.reg.address, "register address, such as 8C00")
                ->required()
                ->transform(AddressValidator());
            sub->add_option("VALUE", args.reg.value, "byte in hexadecimal, such as 3F")
                ->required()
                ->transform(ByteValidator());
            Add(sub, true, [this, remote, op](const Context& ctx) {
                args.reg.op = op;
                args.reg.remote = remote;
                return RunRegister(ctx, args.reg);
            });
        }
    }

    void AddRemoteCommands() {
        CLI::App* remote =
            m_app.add_subcommand("remote", "operations on the remote modem (the line must be up)");
        remote->require_subcommand(1);
        AddRegisterCommands(*remote, true);
        Add(remote->add_subcommand("reset", "soft reset of the remote modem"), true,
            [](const Context& ctx) { return RunGeneral(ctx, GeneralAction::RemoteReset); });
        Add(remote->add_subcommand("loopback", "line loopback of the remote modem"), true,
            [](const Context& ctx) { return RunGeneral(ctx, GeneralAction::RemoteLoopback); });
    }

    void AddStatusCommands() {
        CLI::App* status = m_app.add_subcommand(
            "status", "modem side, line, link settings, one PHY pass and identification");
        AddBlockReads(status);
        Add(status, false, [](const Context& ctx) { return RunStatus(ctx); });
        CLI::App* counters =
            m_app.add_subcommand("counters", "Ethernet counter passes with their 64-bit totals");
        counters->add_option("--interval", args.counters.intervalS, "seconds from one pass to the next")
            ->check(FiniteRange(0.0, 86400.0))
            ->capture_default_str();
        counters->add_option("--count", args.counters.count, "number of passes; 0 runs until interrupted")
            ->check(CLI::NonNegativeNumber)
            ->capture_default_str();
        Add(counters, false,
            [this](const Context& ctx) { return RunCounters(ctx, args.counters, *interrupted); });
    }

    void AddFileCommands() {
        CLI::App* save = m_app.add_subcommand("save", "save the 31 configuration registers to FILE");
        save->add_option("FILE", args.file, "configuration file (*.LT or *.NT)")->required();
        AddBlockReads(save);
        Add(save, false, [this](const Context& ctx) { return RunSave(ctx, args.file); });
        CLI::App* load = m_app.add_subcommand("load", "load FILE into the local modem and restart it");
        load->add_option("FILE", args.file, "configuration file (*.LT or *.NT)")->required();
        Add(load, true, [this](const Context& ctx) { return RunLoad(ctx, args.file); });
        Add(m_app.add_subcommand("default",
                                 "Set to Default: the factory table, remote modem first from the LT side"),
            true, [](const Context& ctx) { return RunDefault(ctx); });
        CLI::App* preset =
            m_app.add_subcommand("preset", "write line preset N and the Ethernet port speed (LT side)");
        preset->add_option("N", args.preset.preset, "line preset 1..4")->required()->check(CLI::Range(1, 4));
        preset->add_option("--local-speed", args.preset.localSpeed, "speed setup of the local modem, 1..3")
            ->required()
            ->check(CLI::Range(1, 3));
        preset
            ->add_option("--remote-speed", args.preset.remoteSpeed,
                         "speed setup of the remote modem, 1..3 (default: as the remote modem has it)")
            ->check(CLI::Range(1, 3));
        Add(preset, true, [this](const Context& ctx) { return RunPreset(ctx, args.preset); });
    }

    void AddLineTestCommands() {
        CLI::App* test = m_app.add_subcommand(
            "linetest",
            "the line acceptance test: PHY and Ethernet passes for a time, judged against criteria");
        AddLineTestOptions(test, args.linetest, true);
        Add(test, false, [this](const Context& ctx) {
            LineTestArgs run = args.linetest.args;
            const int code =
                ApplyLineTestCriteria(ctx, args.linetest, args.linetest.criteriaFile, &run.criteria);
            return code != kExitOk ? code : RunLineTest(ctx, run, *interrupted);
        });
        CLI::App* verify = m_app.add_subcommand(
            "verify", "compare the 31 registers Save reads with FILE; nothing is written");
        verify->add_option("FILE", args.file, "configuration file (*.LT or *.NT)")->required();
        AddBlockReads(verify);
        Add(verify, false, [this](const Context& ctx) { return RunVerify(ctx, args.file); });
        m_diff = m_app.add_subcommand("diff", "the changes from FILE to FILE2, or from FILE to the board on "
                                              "--port, in the words of the pages; nothing is written");
        m_diff->add_option("FILE", args.file, "configuration file (*.LT or *.NT)")->required();
        m_diff->add_option("FILE2", args.file2, "second configuration file; without it the board on --port");
    }

    // No board traffic: a recording file into another format.
    void AddExportCommand() {
        m_export = m_app.add_subcommand(
            "export", "write a recording (Line History or monitor --record) as OpenMetrics text for "
                      "promtool tsdb create-blocks-from openmetrics");
        m_export->add_flag("--openmetrics", "OpenMetrics text (the only format)")->required();
        m_export->add_option("RECORDING", exportArgs.recording, "recording file (CSV)")->required();
        m_export->add_option("--site", exportArgs.site, "value of the site label of every series")
            ->required()
            ->check(CLI::Validator(
                [](const std::string& text) {
                    return text.empty() ? std::string("a site is a name, such as Depot North")
                                        : std::string();
                },
                "NAME", "site name"));
        m_export->add_option("--output", exportArgs.output,
                             "write to FILE (replaced whole, or left as it was on failure) instead of "
                             "standard output");
    }

    void AddGeneralCommands() {
        Add(m_app.add_subcommand("reset", "soft reset of the local modem"), true,
            [](const Context& ctx) { return RunGeneral(ctx, GeneralAction::Reset); });
        AddModeCommand("loopback", "loopback of the local modem", {"local", "line"},
                       {GeneralAction::LoopbackLocal, GeneralAction::LoopbackLine});
        AddModeCommand("transmitter", "transmitter of the local modem", {"on", "off"},
                       {GeneralAction::TransmitterOn, GeneralAction::TransmitterOff});
        AddModeCommand("activation", "activation of the local modem", {"on", "off"},
                       {GeneralAction::ActivationOn, GeneralAction::ActivationOff});
    }

    void AddModeCommand(const char* name, const char* help, std::vector<std::string> modes,
                        std::vector<GeneralAction> actions) {
        CLI::App* sub = m_app.add_subcommand(name, help);
        sub->add_option("MODE", args.mode, modes[0] + " or " + modes[1])
            ->required()
            ->check(CLI::IsMember(modes));
        Add(sub, true, [this, modes, actions](const Context& ctx) {
            return RunGeneral(ctx, args.mode == modes[0] ? actions[0] : actions[1]);
        });
    }

    CLI::App m_app;
    CLI::App* m_ports = nullptr;
    CLI::App* m_export = nullptr;
    CLI::App* m_monitor = nullptr;
    CLI::App* m_diff = nullptr;
    CLI::App* m_fleet = nullptr;
    CLI::Option* m_answerTimeout = nullptr;
    std::vector<Command> m_commands;
};

} // namespace

int RunCli(int argc, char** argv, const Streams& streams, Interruption& interruption) {
    Parser parser;
    parser.interrupted = &interruption.requested;
    bool done = false;
    const int parsed = parser.Parse(argc, argv, streams, &done);
    if (done)
        return parsed;
    if (parser.PortsChosen())
        return RunPorts(parser.options, streams);
    if (parser.ExportChosen())
        return RunExport(parser.exportArgs, streams);
    // The fleet's commands open each board themselves.
    if (parser.FleetChosen())
        return RunFleet(parser.fleetArgs, parser.options, streams, interruption);
    // The monitor keeps its own connection, reopened whenever the device comes back, and ends on a signal.
    if (parser.MonitorChosen()) {
        parser.monitorArgs.portGiven = parser.PortGiven();
        return RunMonitor(parser.monitorArgs, parser.options.port, parser.MonitorAnswerTimeoutMs());
    }
    if (parser.DiffChosen()) {
        CliSession session(streams.err, parser.options.answerTimeoutMs, parser.options.retries);
        const Context ctx(parser.options, streams, session);
        if (parser.args.file2.empty()) {
            const ResolvedPort port = ResolvePort(parser.options.port);
            if (const int error = session.Open(port))
                return ctx.Fail(kExitPort, PortProblem(port, error));
            return RunDiffBoard(ctx, parser.args.file);
        }
        // Two files: no board is read, so a port makes no sense.
        if (parser.PortGiven())
            return ctx.Fail(kExitUsage, "diff takes two files, or --port and one file, not both.\n"
                                        "See tessor-cli diff --help.");
        return RunDiffFiles(ctx, parser.args.file, parser.args.file2);
    }
    const Command* command = parser.Chosen();
    if (command == nullptr) {
        streams.err << "tessor-cli: no command given (try --help)" << std::endl;
        return kExitUsage;
    }
    if (command->changesBoard && !parser.options.yes && !streams.inIsTerminal) {
        const std::string message = command->app->get_name() +
                                    " changes the board and standard input is not a terminal, so nobody can "
                                    "confirm it; give --yes to go ahead. Nothing was sent.";
        streams.err << "tessor-cli: " << message << std::endl;
        if (parser.options.json)
            streams.out << JsonText(nlohmann::json{{NameOf(Published::kError), message},
                                                   {NameOf(Published::kExitCode), kExitUsage}},
                                    2)
                        << "\n";
        return kExitUsage;
    }
    interruption.graceful.store(command->app->get_name() == "counters" ||
                                command->app->get_name() == "linetest");

    CliSession session(streams.err, parser.options.answerTimeoutMs, parser.options.retries);
    const Context ctx(parser.options, streams, session);
    const ResolvedPort port = ResolvePort(parser.options.port);
    if (const std::string problem = UnusablePortName(port); !problem.empty())
        return ctx.Fail(kExitUsage, problem, "usage");
    if (const int error = session.Open(port))
        return ctx.Fail(kExitPort, PortProblem(port, error),
                        error == kNetworkPortBusy ? "port_busy" : "failed");
    return command->run(ctx);
}

namespace {

// The devices discovery found, with every field it knows; empty texts become null.
nlohmann::json DevicesJson(const std::vector<SerialPortInfo>& found) {
    const auto text = [](const std::string& value) {
        return value.empty() ? nlohmann::json(nullptr) : nlohmann::json(value);
    };
    nlohmann::json devices = nlohmann::json::array();
    for (const SerialPortInfo& info : found) {
        devices.push_back(
            {{NameOf(Published::kKernelName), info.kernelName},
             {NameOf(Published::kDevice), info.devicePath},
             {NameOf(Published::kById), text(info.byIdPath)},
             {NameOf(Published::kDriver), text(info.driver)},
             {NameOf(Published::kVendorId), text(info.vendorId)},
             {NameOf(Published::kProductId), text(info.productId)},
             {NameOf(Published::kManufacturer), text(info.manufacturer)},
             {NameOf(Published::kProduct), text(info.product)},
             {NameOf(Published::kSerialNumber), text(info.serialNumber)},
             {NameOf(Published::kPresent), info.nodePresent},
             {NameOf(Published::kMayOpen), info.mayOpen},
             {NameOf(Published::kGroup), text(info.group)},
             {NameOf(Published::kAdvice),
              info.mayOpen ? nlohmann::json(nullptr) : nlohmann::json(PermissionAdvice(info.group))}});
    }
    return devices;
}

} // namespace

int RunPorts(const GlobalOptions& options, const Streams& streams) {
    nlohmann::json ports = nlohmann::json::array();
    std::string text;
    for (int n = 1; n <= 3; ++n) {
        const ResolvedPort port = ResolvePort("COM" + std::to_string(n));
        const int error = TryOpen(port.device);
        ports.push_back({{NameOf(Published::kCriterionName), port.name},
                         {NameOf(Published::kDevice), port.device},
                         {NameOf(Published::kSource), PortSourceName(port.source)},
                         {NameOf(Published::kNetwork), IsNetworkPortName(port.device)},
                         {NameOf(Published::kAccessible), error == 0},
                         {NameOf(Published::kError),
                          error == 0 ? nlohmann::json(nullptr) : nlohmann::json(SystemErrorMessage(error))}});
        const std::string kind = NetworkPortKind(port.device);
        text +=
            port.name + "  " + port.device + (kind.empty() ? "" : ", " + kind) + " (" +
            PortSourceName(port.source) + ")  " +
            (error == 0 ? std::string("can be opened") : "cannot be opened: " + SystemErrorMessage(error)) +
            "\n";
    }
    const std::vector<SerialPortInfo> found = DiscoverSerialPorts(DefaultDiscoveryOptions());
    if (options.json) {
        streams.out << JsonText(nlohmann::json{{NameOf(Published::kPorts), ports},
                                               {NameOf(Published::kDevices), DevicesJson(found)}},
                                2)
                    << "\n";
    } else {
        streams.out << text << "\nSerial devices found:\n";
        streams.out << (found.empty() ? std::string("  none\n") : FormatPortList(found));
    }
    return kExitOk;
}

} // namespace tessor::cli
