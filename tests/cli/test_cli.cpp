// tessor-cli as a process against tessor-sim on a pseudo-terminal: each command's wire traffic and
// output, the exit codes of a silent board, a device that cannot be opened, a bad file, refusals.

#include "cli/CliTestSupport.h"
#include "model/ConfigFile.h"
#include "support/FakePortTree.h"

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include <string>
#include <vector>

namespace tessor::clitest {
namespace {

using Commands = std::vector<std::string>;

Commands Cat(std::initializer_list<Commands> parts) {
    Commands all;
    for (const Commands& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

Commands Mailbox(const std::string& address, const std::string& data, const std::string& start) {
    return {"RD 8C71",
            "RD 8C00",
            "RD 8CC0",
            "WR 8CD0 " + data,
            "WR 8CC2 " + address.substr(0, 2),
            "WR 8CC1 " + address.substr(2, 2),
            "WR 8CC0 " + start};
}

Commands RemoteRead(const std::string& address) {
    return Cat({Mailbox(address, " 1", "11"), {"RD 8CC4", "RD 8CD0"}});
}

Commands RemoteWrite(const std::string& address, const std::string& value) {
    return Cat({Mailbox(address, value, "12"), {"RD 8CC4"}});
}

const Commands kStatusTraffic = Cat({
    {"RD 8C70", "RD 8C71", "RD 8C00", "RD 8C40", "RD 8C42,2", "RD 8C41", "RD 8C44,2"},
    RemoteRead("8D43"),
    {"RD 8D43", "RD 8C11", "RD 8C99,3", "RD 8C9C,2", "RD 8C91,4", "RD 8C71", "RD 8C98", "RD 8D38", "RD 8C72",
     "RD 8C73", "RD 8C6F"},
});

struct Case {
    std::vector<std::string> args;
    Commands traffic;
    int status;
    std::string out; // exact standard output ("" for none), or a part of it with contains
    bool contains = false;
};

// In this order on one simulated LT modem with the line up: the remote operations come before the local
// actions that take the line down, the last one finds it down.
const std::vector<Case> kCases{
    {{"read", "8C10"}, {"RD 8C10"}, 0, "8C10: 32\n"},
    {{"read", "8c40", "4"}, {"RD 8C40,4"}, 0, "8C40: 32 24 4F 00\n"},
    {{"--yes", "write", "8c1e", "1"}, {"WR 8C1E 01"}, 0, "WR 8C1E 01: done\n"},
    {{"or", "8D41", "02", "-y"}, {"OR 8D41 02"}, 0, "OR 8D41 02: done\n"},
    {{"--yes", "and", "8D41", "FD"}, {"ND 8D41 FD"}, 0, "ND 8D41 FD: done\n"},
    {{"remote", "read", "8C10"}, RemoteRead("8C10"), 0, "8C10: 32\n"},
    {{"--yes", "remote", "write", "8C1E", "01"}, RemoteWrite("8C1E", "01"), 0, "WR 8C1E 01 (remote): done\n"},
    {{"--yes", "remote", "or", "8C60", "00"}, Mailbox("8C60", "00", "13"), 0, "OR 8C60 00 (remote): done\n"},
    {{"--yes", "remote", "loopback"}, Mailbox("8C00", "02", "13"), 0, "remote loopback: done\n"},
    {{"status"}, kStatusTraffic, 0, "Board identification:  8C72 = 61   8C73 = 12   8C6F = 27\n", true},
    {{"counters", "--count", "1", "--interval", "0"},
     {"RD 8D1C,4", "RD 8D20,4", "RD 8D18,4", "RD 8D14,4", "RD 8D08,4", "RD 8D0C,4", "RD 8D10,4", "RD 8CE4,4",
      "RD 8CE8,4", "RD 8CF0,4", "RD 8CF4,4", "RD 8CF8,4", "RD 8CFC,4", "RD 8D00,4", "RD 8D04,4"},
     0,
     "Pass 1\nTransmitted Frames: ",
     true},
    {{"--yes", "loopback", "line"}, {"OR 8C00 02"}, 0, "loopback line: done\n"},
    {{"--yes", "activation", "on"}, {"OR 8C00 80"}, 0, "activation on: done\n"},
    {{"--yes", "transmitter", "on"}, {"WR 8C00 40"}, 0, "transmitter on: done\n"},
    {{"--yes", "activation", "off"}, {"ND 8C00 7F"}, 0, "activation off: done\n"},
    {{"--yes", "transmitter", "off"}, {"WR 8C00 00"}, 0, "transmitter off: done\n"},
    {{"--yes", "loopback", "local"}, {"ND 8C00 7F", "OR 8C00 01"}, 0, "loopback local: done\n"},
    {{"--yes", "reset"}, {"OR 8C00 20"}, 0, "reset: done\n"},
    // The line is down now: a remote operation is refused after the link check.
    {{"--yes", "remote", "reset"}, {"RD 8C71", "RD 8C00"}, 6, ""},
};

TEST(CliCommands, EachCommandSendsItsTrafficAndPrintsItsResult) {
    SimPty sim;
    ASSERT_TRUE(sim.Ready());
    for (const Case& c : kCases) {
        std::string name;
        for (const std::string& a : c.args)
            name += a + " ";
        sim.ClearWire();
        const RunResult r = sim.Cli(c.args);
        EXPECT_EQ(r.status, c.status) << name << r.err;
        EXPECT_EQ(sim.Commands(), c.traffic) << name;
        if (c.contains)
            EXPECT_NE(r.out.find(c.out), std::string::npos) << name << r.out;
        else
            EXPECT_EQ(r.out, c.out) << name;
    }
    const RunResult down = sim.Cli({"--yes", "remote", "write", "8C10", "32"});
    EXPECT_EQ(down.status, 6);
    EXPECT_NE(down.err.find("the line is down"), std::string::npos) << down.err;
}

TEST(CliCommands, JsonDocumentsCarryNumbersTextsAndRawValues) {
    SimPty sim;
    ASSERT_TRUE(sim.Ready());

    const nlohmann::json read = nlohmann::json::parse(sim.Cli({"--json", "read", "8C40", "2"}).out);
    EXPECT_EQ(read["command"], "RD 8C40,2");
    EXPECT_EQ(read["raw"], 0x2432);
    EXPECT_EQ(read["values"], nlohmann::json::array({0x32, 0x24}));
    EXPECT_EQ(read["text"], "32 24");

    sim.ClearWire();
    const RunResult statusRun = sim.Cli({"status", "--json"});
    EXPECT_EQ(statusRun.status, 0);
    EXPECT_EQ(sim.Commands(), kStatusTraffic);
    const nlohmann::json status = nlohmann::json::parse(statusRun.out);
    EXPECT_EQ(status["side"], "LT");
    EXPECT_EQ(status["line_up"], true);
    EXPECT_EQ(status["downstream"]["rate_text"], "12.50");
    EXPECT_EQ(status["downstream"]["constellation_text"], "QAM 64");
    EXPECT_EQ(status["upstream"]["interpolation"], 8);
    EXPECT_EQ(status["upstream"]["carrier_text"], "5.54");
    EXPECT_EQ(status["ethernet_speed"]["remote"]["setting"], 3);
    EXPECT_EQ(status["phy"]["texts"]["tx_power_dbm_hz"], "- 60.0");
    EXPECT_EQ(status["phy"]["tx_power_dbm_hz"], -60);
    EXPECT_TRUE(status["phy"]["snr_db"].is_number_float());
    EXPECT_EQ(status["phy"]["indicators"]["full_constellation"], true);
    EXPECT_EQ(status["phy"]["indicators"]["adc_saturation"], false);
    EXPECT_EQ(status["identification"]["8C72"]["raw"], 0x61);
    EXPECT_EQ(status["identification"]["8C6F"]["text"], "27");

    const std::string path = sim.Dir() + "/saved.LT";
    const nlohmann::json save = nlohmann::json::parse(sim.Cli({"--json", "save", path}).out);
    EXPECT_EQ(save["side"], "LT");
    EXPECT_EQ(save["size"], kConfigFileSize);
    EXPECT_EQ(save["registers"].size(), kConfigRegisterCount);
    EXPECT_EQ(save["registers"]["8C40"], 0x32);
    unlink(path.c_str());

    const nlohmann::json counters =
        nlohmann::json::parse(sim.Cli({"--json", "counters", "--count", "2", "--interval", "0"}).out);
    ASSERT_EQ(counters["passes"].size(), 2u);
    EXPECT_EQ(counters["passes"][1]["raw"].size(), 15u);
    EXPECT_TRUE(counters["ethernet_totals"]["tx_frames"].is_number_unsigned());
    EXPECT_TRUE(counters["figures"]["ethernet_totals"].is_string());
    // Each pass's counts are the registers as read, and the totals their sums (the counters clear when
    // read, so nothing is divided).
    const char* const names[] = {"tx_frames", "rx_frames", "tx_pause_frames", "rx_pause_frames", "tx_octets"};
    for (std::size_t i = 0; i < std::size(names); ++i) {
        std::uint64_t sum = 0;
        for (const nlohmann::json& pass : counters["passes"]) {
            EXPECT_EQ(pass["counts"][i], pass["raw"][i]);
            sum += pass["raw"][i].get<std::uint64_t>();
        }
        EXPECT_EQ(counters["ethernet_totals"][names[i]], sum) << names[i];
    }
    EXPECT_GT(counters["ethernet_totals"]["tx_octets"].get<std::uint64_t>(), 0u)
        << "the simulated line carries traffic";
    EXPECT_TRUE(status["phy"]["rs_corrected_count"].is_number_unsigned());
    EXPECT_FALSE(status["phy"].contains("rs_per_second"))
        << "a single read knows no time to make a rate over";
}

TEST(CliPorts, ComNamesResolveThroughTheEnvironmentTheSettingsFileAndTheDefault) {
    SimPty sim;
    ASSERT_TRUE(sim.Ready());
    const std::string config = sim.Dir() + "/Calvadra";
    ASSERT_EQ(mkdir(config.c_str(), 0700), 0);
    std::ofstream(config + "/tessor-configurator.conf")
        << "[Settings]\nPort=0\n\n[Ports]\nCOM2=" << sim.Link() << "\nCOM3=\n";
    test::FakePortTree tree;
    tree.AddUsb(test::FakeAdapter{});
    const std::vector<std::string> env{"XDG_CONFIG_HOME=" + sim.Dir(), "TESSOR_COM1=/nonexistent/by-env",
                                       "TESSOR_COM2=", "TESSOR_COM3=", "TESSOR_PORTS_ROOT=" + tree.Root()};

    const RunResult ports = RunProgram({TESSOR_CLI_PATH, "--json", "ports"}, "/dev/null", env);
    EXPECT_EQ(ports.status, 0);
    const nlohmann::json list = nlohmann::json::parse(ports.out)["ports"];
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0]["source"], "environment");
    EXPECT_EQ(list[0]["accessible"], false);
    EXPECT_EQ(list[0]["error"], "No such file or directory");
    EXPECT_EQ(list[1]["source"], "settings");
    EXPECT_EQ(list[1]["device"], sim.Link());
    EXPECT_EQ(list[1]["accessible"], true);
    EXPECT_EQ(list[2]["source"], "default");
    EXPECT_EQ(list[2]["device"], "/dev/ttyS2");
    // The adapters present, as discovery finds them.
    const nlohmann::json devices = nlohmann::json::parse(ports.out)["devices"];
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_EQ(devices[0]["device"], tree.Node("ttyUSB0"));
    EXPECT_EQ(devices[0]["by_id"], tree.ById(test::FakeAdapter{}.byId));
    EXPECT_EQ(devices[0]["product"], "FT232R USB UART");
    const RunResult text = RunProgram({TESSOR_CLI_PATH, "ports"}, "/dev/null", env);
    EXPECT_NE(text.out.find("Serial devices found:"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("FT232R USB UART"), std::string::npos) << text.out;
    EXPECT_EQ(sim.Commands(), Commands{});

    const RunResult read = RunProgram({TESSOR_CLI_PATH, "--port", "com2", "read", "8C10"}, "/dev/null", env);
    EXPECT_EQ(read.status, 0) << read.err;
    EXPECT_EQ(read.out, "8C10: 32\n");
    unlink((config + "/tessor-configurator.conf").c_str());
    rmdir(config.c_str());
}

TEST(CliFaults, ASilentOrGarblingBoardEndsWithExitCodeFourInBoundedTime) {
    SimPty silent({"--silent"});
    ASSERT_TRUE(silent.Ready());
    const RunResult once = silent.Cli({"--answer-timeout-ms", "200", "read", "8C10"});
    EXPECT_EQ(once.status, 4);
    EXPECT_LT(once.ms, 5000);
    EXPECT_NE(once.err.find(silent.Link()), std::string::npos) << once.err;
    EXPECT_NE(once.err.find("did not answer within 200 ms"), std::string::npos) << once.err;
    EXPECT_EQ(silent.Commands(), Commands{"RD 8C10"});

    const RunResult retried =
        silent.Cli({"--answer-timeout-ms", "200", "--retries", "2", "--json", "status"});
    EXPECT_EQ(retried.status, 4);
    EXPECT_GE(retried.ms, 3 * 200);
    EXPECT_LT(retried.ms, 8000);
    EXPECT_NE(retried.err.find("waiting again (2 of 2)"), std::string::npos) << retried.err;
    EXPECT_EQ(nlohmann::json::parse(retried.out)["exit_code"], 4);

    // A reply whose echo comes back wrong reads as 0; it is not passed off as the register's value.
    SimPty noisy;
    ASSERT_TRUE(noisy.Ready());
    ASSERT_TRUE(noisy.Control("corrupt-echo"));
    const RunResult garbled = noisy.Cli({"read", "8C10"});
    EXPECT_EQ(garbled.status, 4);
    EXPECT_EQ(garbled.out, "");
}

TEST(CliFaults, AnIncompleteMailboxIsNamedAndDefaultSaysWhichModemWasWritten) {
    SimPty sim({"--complete-after", "1000"});
    ASSERT_TRUE(sim.Ready());
    const char* const kIncomplete = "the remote modem did not complete the operation";

    const RunResult remote = sim.Cli({"--yes", "remote", "write", "8C10", "32"});
    EXPECT_EQ(remote.status, 4);
    EXPECT_NE(remote.err.find(kIncomplete), std::string::npos) << remote.err;
    EXPECT_EQ(remote.err.find("did not answer"), std::string::npos) << remote.err;

    // Every remote write of the table waits out its mailbox, as the window tool does: a long run.
    const RunResult defaults =
        testsupport::RunProgram({TESSOR_CLI_PATH, "--port", sim.Link(), "--yes", "--json", "default"},
                                "/dev/null", testsupport::Environment(), 120000);
    EXPECT_EQ(defaults.status, 4);
    EXPECT_NE(defaults.err.find("remote modem not written, local modem written"), std::string::npos)
        << defaults.err;
    const nlohmann::json d = nlohmann::json::parse(defaults.out);
    EXPECT_EQ(d["error"], "mailbox_incomplete");
    EXPECT_NE(d["message"].get<std::string>().find(kIncomplete), std::string::npos);
    EXPECT_EQ(d["remote_written"], false);
    EXPECT_EQ(d["local_written"], true);
}

TEST(CliFaults, ADeviceThatCannotBeOpenedEndsWithExitCodeThree) {
    const RunResult missing = RunProgram({TESSOR_CLI_PATH, "--port", "/nonexistent/ttyX", "read", "8C10"});
    EXPECT_EQ(missing.status, 3);
    EXPECT_NE(missing.err.find("cannot open /nonexistent/ttyX: No such file or directory"), std::string::npos)
        << missing.err;
    EXPECT_NE(missing.err.find("--port"), std::string::npos) << missing.err;

    const RunResult com2 = RunProgram({TESSOR_CLI_PATH, "--port", "COM2", "status"}, "/dev/null",
                                      {"TESSOR_COM2=/nonexistent/adapter"});
    EXPECT_EQ(com2.status, 3);
    EXPECT_NE(com2.err.find("COM2 (/nonexistent/adapter)"), std::string::npos) << com2.err;

    char pattern[] = "/tmp/tessor-cli-file.XXXXXX";
    const int fd = mkstemp(pattern);
    ASSERT_GE(fd, 0);
    close(fd);
    const RunResult notSerial = RunProgram({TESSOR_CLI_PATH, "--port", pattern, "read", "8C10"});
    EXPECT_EQ(notSerial.status, 3);
    EXPECT_NE(notSerial.err.find(pattern), std::string::npos) << notSerial.err;
    if (geteuid() != 0) { // the superuser may open anything
        chmod(pattern, 0);
        const RunResult forbidden = RunProgram({TESSOR_CLI_PATH, "--port", pattern, "read", "8C10"});
        EXPECT_EQ(forbidden.status, 3);
        EXPECT_NE(forbidden.err.find("Permission denied"), std::string::npos) << forbidden.err;
        EXPECT_NE(forbidden.err.find("usermod -aG"), std::string::npos) << forbidden.err;
    }
    unlink(pattern);
}

// A console server's port name that cannot be used is bad usage, refused at start with the parser's
// reason, by a command and by the monitor alike (which would otherwise retry for ever).
TEST(CliRefusals, AMalformedNetworkPortNameIsBadUsageWithItsReason) {
    const RunResult read = RunProgram({TESSOR_CLI_PATH, "--port", "rfc2217://cab12:0", "read", "8C10"});
    EXPECT_EQ(read.status, 2) << read.err;
    EXPECT_NE(read.err.find("rfc2217://cab12:0: \"0\" is not a port number (1 to 65535)"), std::string::npos)
        << read.err;
    const RunResult monitor =
        RunProgram({TESSOR_CLI_PATH, "monitor", "--listen", "127.0.0.1:0", "rfc2217://cab12:7001?x"});
    EXPECT_EQ(monitor.status, 2) << monitor.err;
    EXPECT_NE(monitor.err.find("nothing may follow the port number"), std::string::npos) << monitor.err;
}

TEST(CliFaults, ABadFileEndsWithExitCodeFiveAndWritesNothing) {
    SimPty sim;
    ASSERT_TRUE(sim.Ready());
    const std::string bytes = "LT\r\n8C40:44\r\n8C41:44\r\n8C42:4G\r\n8C43:00";
    const std::string path = sim.Dir() + "/bad.LT";
    {
        std::ofstream file(path, std::ios::binary);
        file << bytes;
    }
    ConfigFileReader reader(bytes, kConfigSideLT);
    ConfigFileStep step;
    while ((step = reader.Next()).kind == ConfigFileStep::Kind::Record) {
    }
    ASSERT_EQ(step.kind, ConfigFileStep::Kind::Error);

    const RunResult r = sim.Cli({"--yes", "load", path});
    EXPECT_EQ(r.status, 5);
    EXPECT_NE(r.err.find(path + ": " + step.message), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("Nothing was written; the modem was not restarted"), std::string::npos) << r.err;
    // The whole file is checked before the first write.
    EXPECT_EQ(sim.Commands(), (Commands{"RD 8C70"}));
    unlink(path.c_str());

    sim.ClearWire();
    EXPECT_EQ(sim.Cli({"--yes", "load", sim.Dir() + "/missing.LT"}).status, 5);
    // A folder is a file error, not an abort.
    const RunResult folder = sim.Cli({"--yes", "--json", "load", sim.Dir()});
    EXPECT_EQ(folder.status, 5);
    EXPECT_NE(folder.err.find(sim.Dir() + ": cannot be read: Is a directory"), std::string::npos)
        << folder.err;
    EXPECT_EQ(nlohmann::json::parse(folder.out)["exit_code"], 5);
    const RunResult unwritable = sim.Cli({"save", "/nonexistent-folder/a.LT"});
    EXPECT_EQ(unwritable.status, 5);
    EXPECT_NE(unwritable.err.find("/nonexistent-folder/a.LT"), std::string::npos) << unwritable.err;
    EXPECT_EQ(sim.Commands(), Commands{});
}

TEST(CliRefusals, ChangesNeedYesOffATerminalAndBadUsageSendsNothing) {
    SimPty sim;
    ASSERT_TRUE(sim.Ready());
    const std::vector<std::vector<std::string>> changing{
        {"write", "8C1E", "01"},
        {"or", "8C00", "02"},
        {"and", "8C00", "7F"},
        {"load", "x.LT"},
        {"default"},
        {"preset", "1", "--local-speed", "3"},
        {"reset"},
        {"loopback", "line"},
        {"transmitter", "off"},
        {"activation", "off"},
        {"remote", "write", "8C10", "32"},
        {"remote", "reset"},
    };
    for (const auto& args : changing) {
        const RunResult r = sim.Cli(args);
        EXPECT_EQ(r.status, 2) << args[0];
        EXPECT_NE(r.err.find("give --yes"), std::string::npos) << args[0] << r.err;
    }
    const std::vector<std::vector<std::string>> bad{
        {"read", "8G10"},
        {"read", "7C10"},
        {"read", "8C10", "9"},
        {"write", "8C10", "100"},
        {"preset", "5", "--local-speed", "1"},
        {"preset", "1"},
        {"loopback", "remote"},
        {"counters", "--interval", "nan"},
        {"counters", "--interval", "inf"},
        {"monitor", "--interval", "nan"},
        {"monitor", "--interval", "-inf"},
        {"monitor", "--snr-baseline", "38.5"},
        {"monitor", "--snr-baseline", "/dev/not-polled=38.5"},
        {"monitor", "--snr-baseline", "=38.5"},
        {"frobnicate"},
        {},
    };
    for (const auto& args : bad)
        EXPECT_EQ(sim.Cli(args).status, 2) << (args.empty() ? "(none)" : args[0]);
    EXPECT_EQ(sim.Commands(), Commands{});

    const RunResult help = RunProgram({TESSOR_CLI_PATH, "--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("6  refused"), std::string::npos);
    EXPECT_EQ(RunProgram({TESSOR_CLI_PATH, "--version"}).out.rfind("tessor-cli ", 0), 0u);
}

TEST(CliRefusals, OnATerminalTheAnswerDecides) {
    SimPty sim;
    ASSERT_TRUE(sim.Ready());
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    const std::string terminal = ptsname(master);
    // The answers wait in the terminal's input until the program reads them.
    const auto answer = [&](const char* text, const std::vector<std::string>& args) {
        EXPECT_EQ(write(master, text, std::strlen(text)), static_cast<ssize_t>(std::strlen(text)));
        std::vector<std::string> all{TESSOR_CLI_PATH, "--port", sim.Link()};
        all.insert(all.end(), args.begin(), args.end());
        return RunProgram(all, terminal);
    };
    const RunResult declined = answer("n\n", {"write", "8C1E", "01"});
    EXPECT_EQ(declined.status, 6);
    EXPECT_NE(declined.err.find("Send WR 8C1E 01 to the local modem."), std::string::npos) << declined.err;
    EXPECT_EQ(sim.Commands(), Commands{});
    const RunResult confirmed = answer("y\n", {"write", "8C1E", "01"});
    EXPECT_EQ(confirmed.status, 0) << confirmed.err;
    EXPECT_EQ(sim.Commands(), Commands{"WR 8C1E 01"});
    close(master);
}

TEST(CliRefusals, FromTheNtSideAPresetIsRefusedAndDefaultSetsOnlyTheLocalModem) {
    SimPty sim({"--side", "nt"});
    ASSERT_TRUE(sim.Ready());
    const RunResult r = sim.Cli({"--yes", "preset", "1", "--local-speed", "3"});
    EXPECT_EQ(r.status, 6);
    EXPECT_NE(r.err.find("The configuration cannot be changed from the NT side."), std::string::npos)
        << r.err;
    EXPECT_EQ(sim.Commands(), Commands{"RD 8C70"});

    // Set to Default from the NT side with the line up: a notice, and only the local modem is written.
    sim.ClearWire();
    const RunResult defaults = sim.Cli({"--yes", "default"});
    EXPECT_EQ(defaults.status, 0) << defaults.err;
    EXPECT_NE(defaults.err.find("cannot be changed from the NT side"), std::string::npos) << defaults.err;
    const Commands sent = sim.Commands();
    ASSERT_GE(sent.size(), 5u);
    EXPECT_EQ(Commands(sent.begin(), sent.begin() + 4),
              (Commands{"RD 8C70", "RD 8C71", "RD 8C00", "WR 8C10 32"}));
    EXPECT_EQ(Commands(sent.end() - 2, sent.end()), (Commands{"OR 8C00 08", "OR 8C00 20"}));
    for (const std::string& line : sent)
        EXPECT_EQ(line.find("8CC"), std::string::npos) << line;
}

TEST(CliCommands, APresetWithoutARemoteSpeedKeepsTheRemoteModemsOwn) {
    SimPty sim;
    ASSERT_TRUE(sim.Ready());
    const RunResult r = sim.Cli({"--yes", "preset", "1", "--local-speed", "1"});
    EXPECT_EQ(r.status, 0) << r.err;
    const Commands sent = sim.Commands();
    const Commands prelude = Cat({{"RD 8C70", "RD 8C71", "RD 8C00"}, RemoteRead("8D43")});
    ASSERT_GT(sent.size(), prelude.size());
    EXPECT_EQ(Commands(sent.begin(), sent.begin() + static_cast<std::ptrdiff_t>(prelude.size())), prelude);
    // The remote modem's automatic setting (F4) is written back; the local modem gets setup 1.
    const auto has = [&](const Commands& part) {
        return std::search(sent.begin(), sent.end(), part.begin(), part.end()) != sent.end();
    };
    EXPECT_TRUE(has(Cat({RemoteWrite("8D40", "3E"), RemoteWrite("8D42", "02"), RemoteWrite("8D43", "F4")})));
    EXPECT_TRUE(has({"WR 8D40 0E", "WR 8D42 00", "WR 8D43 12", "OR 8C00 08", "OR 8C00 20"}));
}

} // namespace
} // namespace tessor::clitest

namespace tessor::clitest {
namespace {

// Files that are not regular, or too large, are refused at once (exit 5, naming the file), and nothing
// but a regular file (or a link's target) is ever replaced.
TEST(CliFiles, OnlyRegularFilesAreReadOrReplacedAndNothingWaitsForAPipe) {
    SimPty sim;
    ASSERT_TRUE(sim.Ready());
    const std::string dir = sim.Dir() + "/files";
    ASSERT_EQ(mkdir(dir.c_str(), 0755), 0);
    const std::string fifo = dir + "/fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    const std::string large = dir + "/large.txt";
    ASSERT_EQ(truncate((std::ofstream(large), large).c_str(), (1 << 20) + 1), 0);
    std::string device = dir + "/null";
    if (mknod(device.c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0)
        device = "/dev/null"; // not the superuser: the real one cannot be replaced anyway
    struct Row {
        std::vector<std::string> args;
        std::string file;
        std::string says;
    };
    const std::vector<Row> refused{
        {{"linetest", "--duration", "1s", "--criteria", fifo}, fifo, "not a regular file"},
        {{"linetest", "--duration", "1s", "--criteria", "/dev/zero"}, "/dev/zero", "not a regular file"},
        {{"linetest", "--duration", "1s", "--criteria", large}, large, "larger than 1 MiB"},
        {{"verify", "/dev/zero"}, "/dev/zero", "not a regular file"},
        {{"verify", large}, large, "larger than 1 MiB"},
        {{"diff", fifo}, fifo, "not a regular file"},
        {{"diff", large}, large, "larger than 1 MiB"},
        {{"--yes", "load", "/dev/zero"}, "/dev/zero", "not a regular file"},
        {{"--yes", "load", fifo}, fifo, "not a regular file"},
        {{"save", fifo}, fifo, "not a regular file"},
        {{"save", device}, device, "not a regular file"},
        {{"linetest", "--duration", "1s", "--report", fifo}, fifo, "not a regular file"},
        {{"linetest", "--duration", "1s", "--report", device}, device, "not a regular file"},
    };
    for (const Row& row : refused) {
        SCOPED_TRACE(row.args.front() + " " + row.args.back());
        const RunResult r = sim.Cli(row.args);
        EXPECT_EQ(r.status, 5) << r.err;
        EXPECT_NE(r.err.find(row.file + ": "), std::string::npos) << r.err;
        EXPECT_NE(r.err.find(row.says), std::string::npos) << r.err;
    }
    struct stat st {};
    ASSERT_EQ(stat(fifo.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    ASSERT_EQ(stat(device.c_str(), &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));

    // A link is written through: its target gets the file, also one not made yet, and the link stays.
    ASSERT_EQ(symlink("saved.LT", (dir + "/link.LT").c_str()), 0);
    ASSERT_EQ(symlink("fresh.LT", (dir + "/dangling.LT").c_str()), 0);
    for (const std::string name : {"link.LT", "dangling.LT"}) {
        EXPECT_EQ(sim.Cli({"save", dir + "/" + name}).status, 0) << name;
        ASSERT_EQ(lstat((dir + "/" + name).c_str(), &st), 0);
        EXPECT_TRUE(S_ISLNK(st.st_mode)) << name;
    }
    ASSERT_EQ(stat((dir + "/saved.LT").c_str(), &st), 0);
    EXPECT_EQ(st.st_size, static_cast<off_t>(kConfigFileSize));
    ASSERT_EQ(stat((dir + "/fresh.LT").c_str(), &st), 0);
    EXPECT_EQ(st.st_size, static_cast<off_t>(kConfigFileSize));
    std::system(("rm -rf '" + dir + "'").c_str());
}

// verify and load take the same files: a register twice, or no register at all, is refused by both.
TEST(CliFiles, VerifyAndLoadRefuseTheSameFiles) {
    SimPty sim;
    ASSERT_TRUE(sim.Ready());
    const std::string twice = sim.Dir() + "/twice.LT";
    const std::string empty = sim.Dir() + "/empty.LT";
    std::ofstream(twice, std::ios::binary) << "LT\r\n8C40:32\r\n8C40:33";
    std::ofstream(empty, std::ios::binary) << "LT";
    for (const std::string& file : {twice, empty}) {
        for (const std::vector<std::string>& args :
             {std::vector<std::string>{"verify", file}, std::vector<std::string>{"--yes", "load", file}}) {
            SCOPED_TRACE(args.front() + " " + file);
            sim.ClearWire();
            const RunResult r = sim.Cli(args);
            EXPECT_EQ(r.status, 5) << r.out << r.err;
            EXPECT_NE(r.err.find(file), std::string::npos) << r.err;
            for (const std::string& command : sim.Commands())
                EXPECT_EQ(command.rfind("RD ", 0), 0u) << "nothing is written: " << command;
        }
    }
    unlink(twice.c_str());
    unlink(empty.c_str());
}

// Text that is not UTF-8 (a file or device name) is replaced in the JSON document, which stays valid,
// with the exit code it has without --json.
TEST(CliJson, NamesThatAreNotUtf8GiveValidJson) {
    const RunResult port = RunProgram({TESSOR_CLI_PATH, "--json", "--port", "/x\xff", "status"});
    EXPECT_EQ(port.status, 3) << port.err;
    EXPECT_NO_THROW(EXPECT_EQ(nlohmann::json::parse(port.out)["exit_code"], 3)) << port.out;

    SimPty sim;
    ASSERT_TRUE(sim.Ready());
    const RunResult file = sim.Cli({"--json", "verify", "x\xff.LT"});
    EXPECT_EQ(file.status, 5) << file.err;
    EXPECT_NO_THROW(EXPECT_EQ(nlohmann::json::parse(file.out)["exit_code"], 5)) << file.out;
}

} // namespace
} // namespace tessor::clitest
