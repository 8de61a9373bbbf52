// tessor-cli fleet as a process: the boards the shipped inventory and --limit select, exit 2 with the
// file, line and reason for an inventory or a --limit that cannot be used, and campaigns on simulated
// boards (one silent, one on the wrong side) with their JSON lines, files and exit codes.
#include "CliTestSupport.h"
#include "bench/Loopback.h"
#include "support/ChildProcess.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <sys/socket.h>
#include <thread>

namespace {

using tessor::clitest::SimPty;
using tessor::testsupport::Environment;
using tessor::testsupport::Process;
using tessor::testsupport::RunProgram;
using tessor::testsupport::RunResult;

RunResult Cli(std::vector<std::string> args) {
    args.insert(args.begin(), TESSOR_CLI_PATH);
    return RunProgram(args, "/dev/null", Environment(), 30000);
}

TEST(FleetCli, ListPrintsTheSelectedBoards) {
    const RunResult run =
        Cli({"fleet", "list", "--inventory", TESSOR_EXAMPLE_INVENTORY, "--limit", "harbour"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("BOARD"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("harbour-cab1-b  Harbour Depot  rfc2217://127.0.0.1:7202  nt"), std::string::npos)
        << run.out;
    EXPECT_EQ(run.out.find("north"), std::string::npos) << run.out;
}

TEST(FleetCli, ListAsJson) {
    const RunResult run = Cli(
        {"fleet", "list", "--inventory", TESSOR_EXAMPLE_INVENTORY, "--limit", "*cab1*,!harbour", "--json"});
    ASSERT_EQ(run.status, 0) << run.err;
    const nlohmann::json doc = nlohmann::json::parse(run.out);
    ASSERT_EQ(doc["boards"].size(), 2u) << run.out;
    const nlohmann::json& board = doc["boards"][0];
    EXPECT_EQ(board["board"], "north-cab1-a");
    EXPECT_EQ(board["site"], "North");
    EXPECT_EQ(board["port"], "rfc2217://127.0.0.1:7101");
    EXPECT_EQ(board["side"], "lt");
    EXPECT_TRUE(board["config"].is_null());
    EXPECT_EQ(doc["boards"][1]["board"], "north-cab1-b");
}

TEST(FleetCli, BadInventoryIsBadUsageWithItsLine) {
    const std::string path = testing::TempDir() + "fleet-bad-inventory.yaml";
    std::ofstream(path)
        << "all:\n  hosts:\n    a: {tessor_port: /dev/ttyS0}\n    b: {tessor_port: /dev/ttyS0}\n";
    const RunResult run = Cli({"fleet", "list", "--inventory", path});
    std::remove(path.c_str());
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find(path + ":4: boards a and b are both on /dev/ttyS0"), std::string::npos) << run.err;
    EXPECT_TRUE(run.out.empty()) << run.out;
}

TEST(FleetCli, LimitMatchingNothingIsBadUsage) {
    const RunResult run = Cli({"fleet", "list", "--inventory", TESSOR_EXAMPLE_INVENTORY, "--limit", "south"});
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("--limit south: no group or board"), std::string::npos) << run.err;
}

TEST(FleetCli, InventoryIsRequired) {
    const RunResult run = Cli({"fleet", "list"});
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("--inventory"), std::string::npos) << run.err;
}

// The JSON lines of a campaign by board.
std::map<std::string, nlohmann::json> LinesByBoard(const std::string& out) {
    std::map<std::string, nlohmann::json> lines;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) {
        const nlohmann::json doc = nlohmann::json::parse(line);
        for (const char* key :
             {"board", "site", "port", "command", "outcome", "exit_code", "duration_seconds"})
            EXPECT_TRUE(doc.contains(key)) << key << " missing: " << line;
        lines[doc["board"].get<std::string>()] = doc;
    }
    return lines;
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

class FleetCampaign : public testing::Test {
protected:
    void SetUp() override {
        for (const SimPty* sim : {&m_lt, &m_nt, &m_silent, &m_wrongSide})
            ASSERT_TRUE(sim->Ready());
        m_dir = testing::TempDir() + "fleet-campaign-" + std::to_string(getpid());
        std::filesystem::create_directories(m_dir);
        std::ofstream(m_dir + "/inventory.yaml")
            << "all:\n  children:\n    north:\n      hosts:\n"
            << "        lt1: {tessor_port: " << m_lt.Link() << ", tessor_side: lt}\n"
            << "        mute: {tessor_port: " << m_silent.Link() << "}\n"
            << "    harbour:\n      vars: {tessor_site: Harbour Depot}\n      hosts:\n"
            << "        nt1: {tessor_port: " << m_nt.Link() << ", tessor_side: nt, tessor_config: "
            << "saved/north/lt1.LT}\n"
            << "        nt2: {tessor_port: " << m_wrongSide.Link() << ", tessor_side: lt}\n";
    }
    void TearDown() override { std::filesystem::remove_all(m_dir); }

    RunResult Fleet(const std::string& command, std::vector<std::string> args) {
        args.insert(args.begin(),
                    {"fleet", command, "--inventory", m_dir + "/inventory.yaml", "--deadline", "2"});
        return Cli(args);
    }

    static RunResult Git(const std::string& repo, std::vector<std::string> args) {
        args.insert(args.begin(), {"/usr/bin/env", "git", "-C", repo});
        return RunProgram(args, "/dev/null", Environment(), 30000);
    }

    SimPty m_lt;
    SimPty m_nt{{"--side", "nt"}};
    SimPty m_silent{{"--silent"}};
    SimPty m_wrongSide{{"--side", "nt"}};
    std::string m_dir;
};

TEST_F(FleetCampaign, SaveWritesAFilePerBoardAndReportsEveryBoard) {
    const std::string out = m_dir + "/saved";
    const RunResult run = Fleet("save", {"--out", out, "--jobs", "2", "--junit", m_dir + "/junit.xml",
                                         "--csv", m_dir + "/boards.csv", "--html", m_dir + "/boards.html"});
    EXPECT_EQ(run.status, 7) << run.err;
    std::map<std::string, nlohmann::json> lines = LinesByBoard(run.out);
    ASSERT_EQ(lines.size(), 4u) << run.out;
    EXPECT_EQ(lines["lt1"]["outcome"], "ok");
    EXPECT_EQ(lines["lt1"]["exit_code"], 0);
    EXPECT_EQ(lines["lt1"]["site"], "north");
    EXPECT_EQ(lines["lt1"]["details"]["file"], out + "/north/lt1.LT");
    EXPECT_EQ(lines["nt1"]["outcome"], "ok");
    EXPECT_EQ(lines["nt1"]["site"], "Harbour Depot");
    EXPECT_EQ(lines["nt1"]["details"]["file"], out + "/Harbour Depot/nt1.NT");
    EXPECT_EQ(lines["nt2"]["outcome"], "failed");
    EXPECT_EQ(lines["nt2"]["exit_code"], 6);
    EXPECT_NE(lines["nt2"]["message"].get<std::string>().find("reports the NT side"), std::string::npos);
    // The silent board is stopped at its deadline, not at the 17.5 s answer wait.
    EXPECT_EQ(lines["mute"]["outcome"], "deadline");
    EXPECT_GE(lines["mute"]["duration_seconds"].get<double>(), 2.0);
    EXPECT_LT(lines["mute"]["duration_seconds"].get<double>(), 10.0);
    // Whole files only: the two boards that succeeded, nothing of the others, no file left half-made.
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(out))
        if (entry.is_regular_file())
            files.push_back(entry.path().string());
    std::sort(files.begin(), files.end());
    EXPECT_EQ(files, (std::vector<std::string>{out + "/Harbour Depot/nt1.NT", out + "/north/lt1.LT"}));
    EXPECT_EQ(std::filesystem::file_size(out + "/north/lt1.LT"), 281u);

    const std::string script =
        "import sys, xml.etree.ElementTree as E\n"
        "r = E.parse(sys.argv[1]).getroot()\n"
        "print(r.get(\"tests\"), r.get(\"failures\"), r.get(\"errors\"))\n"
        "for c in sorted(r.iter(\"testcase\"), key=lambda c: c.get(\"name\")):\n"
        "    print(c.get(\"name\"), \",\".join(e.tag + \":\" + e.get(\"type\") for e in c))\n";
    const RunResult parsed = tessor::testsupport::RunProgram(
        {"/usr/bin/env", "python3", "-c", script, m_dir + "/junit.xml"}, "/dev/null", Environment(), 30000);
    EXPECT_EQ(parsed.out, "4 1 1\nlt1 \nmute error:deadline\nnt1 \nnt2 failure:failed\n") << parsed.err;
    const std::string csv = ReadAll(m_dir + "/boards.csv");
    EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 5) << csv;
    EXPECT_NE(ReadAll(m_dir + "/boards.html").find("4 boards:"), std::string::npos);
}

TEST_F(FleetCampaign, SaveSendsWhatTheSingleBoardSaveSends) {
    for (const std::vector<std::string>& reads : {std::vector<std::string>{}, {"--block-reads"}}) {
        m_lt.ClearWire();
        std::vector<std::string> args{"--out", m_dir + "/saved", "--limit", "lt1"};
        args.insert(args.end(), reads.begin(), reads.end());
        const RunResult run = Fleet("save", args);
        ASSERT_EQ(run.status, 0) << run.err;
        const std::vector<std::string> fleetWire = m_lt.Commands();
        m_lt.ClearWire();
        args = {"--port", m_lt.Link(), "save", m_dir + "/single.LT"};
        args.insert(args.end(), reads.begin(), reads.end());
        const RunResult single = Cli(args);
        ASSERT_EQ(single.status, 0) << single.err;
        EXPECT_EQ(fleetWire, m_lt.Commands());
        EXPECT_EQ(fleetWire.size(), reads.empty() ? 32u : 9u);
        EXPECT_EQ(ReadAll(m_dir + "/saved/north/lt1.LT"), ReadAll(m_dir + "/single.LT"));
    }
}

TEST_F(FleetCampaign, LineTestSendsWhatTheSingleBoardLineTestSends) {
    const std::vector<std::string> options{"--duration", "1s", "--interval", "1s", "--min-snr", "20"};
    m_lt.ClearWire();
    std::vector<std::string> args{"--limit", "lt1", "--out", m_dir + "/runs"};
    args.insert(args.end(), options.begin(), options.end());
    const RunResult run = Fleet("linetest", args);
    ASSERT_EQ(run.status, 0) << run.err << run.out;
    const std::vector<std::string> fleetWire = m_lt.Commands();
    m_lt.ClearWire();
    args = {"--port", m_lt.Link(), "linetest", "--report", m_dir + "/single.html"};
    args.insert(args.end(), options.begin(), options.end());
    const RunResult single = Cli(args);
    ASSERT_EQ(single.status, 0) << single.err;
    EXPECT_GT(fleetWire.size(), 20u);
    EXPECT_EQ(fleetWire, m_lt.Commands());

    // A board on the other side is refused as the other campaigns refuse it, before any pass.
    const nlohmann::json wrong = LinesByBoard(
        Fleet("linetest", {"--limit", "nt2", "--out", m_dir + "/runs", "--duration", "10m"}).out)["nt2"];
    EXPECT_EQ(wrong["exit_code"], 6) << wrong;
    EXPECT_EQ(wrong["message"], "the board reports the NT side; the inventory says lt");
}

TEST_F(FleetCampaign, ACriteriaFileThatCannotBeUsedEndsTheLineTestsBeforeAnyBoard) {
    std::ofstream(m_dir + "/bad.txt") << "min_snr = 30\nmax_snr = 40\n";
    std::ofstream(m_dir + "/boards.yaml")
        << "all:\n  hosts:\n    lt1: {tessor_port: " << m_lt.Link()
        << ", tessor_criteria: bad.txt}\n    nt1: {tessor_port: " << m_nt.Link() << "}\n";
    const struct {
        std::string inventory;
        std::vector<std::string> options;
        int status;
        std::string says;
    } cases[] = {
        {"boards.yaml", {}, 2, m_dir + "/bad.txt: line 2: unknown name \"max_snr\""},
        {"inventory.yaml", {"--criteria", m_dir + "/bad.txt"}, 2, "bad.txt: line 2"},
        {"inventory.yaml", {"--criteria", m_dir + "/missing.txt"}, 5, "missing.txt: cannot be read"},
    };
    for (const auto& c : cases) {
        m_lt.ClearWire();
        std::vector<std::string> args{"fleet", "linetest",      "--inventory", m_dir + "/" + c.inventory,
                                      "--out", m_dir + "/runs", "--duration",  "1s"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        const RunResult run = Cli(args);
        EXPECT_EQ(run.status, c.status) << c.says;
        EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
        EXPECT_TRUE(run.out.empty()) << run.out;
        EXPECT_TRUE(m_lt.Commands().empty()) << c.says;
    }
}

TEST_F(FleetCampaign, VerifyAgainstEachBoardsConfiguration) {
    ASSERT_EQ(Fleet("save", {"--out", m_dir + "/saved", "--limit", "lt1"}).status, 0);
    // nt1's intended file is lt1's: the sides differ. lt1 has no file of its own.
    const RunResult run = Fleet(
        "verify", {"--limit", "lt1,nt1", "--junit", m_dir + "/junit.xml", "--html", m_dir + "/boards.html"});
    EXPECT_EQ(run.status, 7) << run.err;
    std::map<std::string, nlohmann::json> lines = LinesByBoard(run.out);
    ASSERT_EQ(lines.size(), 2u) << run.out;
    EXPECT_EQ(lines["nt1"]["outcome"], "differs");
    EXPECT_EQ(lines["nt1"]["exit_code"], 7);
    EXPECT_TRUE(lines["nt1"]["details"]["changes"].is_array()) << lines["nt1"];
    EXPECT_EQ(lines["lt1"]["outcome"], "failed");
    EXPECT_NE(lines["lt1"]["message"].get<std::string>().find("no tessor_config"), std::string::npos);

    // What differs, in the words of the pages, in the JUnit failure's text and on the HTML page.
    const nlohmann::json& changes = lines["nt1"]["details"]["changes"];
    ASSERT_FALSE(changes.empty());
    const RunResult failure = tessor::testsupport::RunProgram(
        {"/usr/bin/env", "python3", "-c",
         "import sys, xml.etree.ElementTree as E\n"
         "print(E.parse(sys.argv[1]).getroot().find(\"testsuite/testcase[@name='nt1']/failure\").text)\n",
         m_dir + "/junit.xml"},
        "/dev/null", Environment(), 30000);
    const std::string html = ReadAll(m_dir + "/boards.html");
    for (const nlohmann::json& change : changes) {
        std::string words = change["words"].get<std::string>();
        EXPECT_NE(failure.out.find("\n" + words + "\n"), std::string::npos) << words << "\n" << failure.out;
        for (std::size_t at = words.find('>'); at != std::string::npos; at = words.find('>', at))
            words.replace(at, 1, "&gt;");
        EXPECT_NE(html.find("<li>" + words + "</li>"), std::string::npos) << words;
    }
}

TEST(FleetCli, CampaignOptionsOutOfRangeAreBadUsage) {
    const RunResult run = Cli({"fleet", "status", "--inventory", TESSOR_EXAMPLE_INVENTORY, "--jobs", "0"});
    EXPECT_EQ(run.status, 2);
    EXPECT_TRUE(run.out.empty()) << run.out;
}

using tessor::testsupport::WaitFor;

TEST_F(FleetCampaign, SigtermEndsTheRunningBoardAndWritesWhatFinished) {
    Process campaign;
    const std::string out = m_dir + "/campaign.out";
    ASSERT_TRUE(campaign.Start({TESSOR_CLI_PATH, "fleet", "status", "--inventory", m_dir + "/inventory.yaml",
                                "--limit", "lt1,mute,nt1", "--jobs", "1", "--junit", m_dir + "/junit.xml"},
                               out, m_dir + "/campaign.err"));
    // lt1 has finished and the silent board has been sent its first command.
    ASSERT_TRUE(WaitFor(
        [&] { return ReadAll(out).find("\"lt1\"") != std::string::npos && !m_silent.Commands().empty(); },
        std::chrono::seconds(20)));
    EXPECT_EQ(campaign.SignalAndWait(SIGTERM, std::chrono::seconds(10)), 143)
        << ReadAll(m_dir + "/campaign.err");
    std::map<std::string, nlohmann::json> lines = LinesByBoard(ReadAll(out));
    ASSERT_EQ(lines.size(), 2u) << ReadAll(out);
    EXPECT_EQ(lines["lt1"]["outcome"], "ok");
    EXPECT_EQ(lines["lt1"]["details"]["side"], "LT");
    EXPECT_EQ(lines["mute"]["outcome"], "cancelled");
    EXPECT_EQ(lines.count("nt1"), 0u);
    const std::string junit = ReadAll(m_dir + "/junit.xml");
    EXPECT_NE(junit.find("tests=\"2\""), std::string::npos) << junit;
    EXPECT_NE(junit.find("</testsuites>"), std::string::npos) << junit;
}

// A line test stopped by a signal: cancelled (not a failed line), its report written as far as it went.
TEST_F(FleetCampaign, SigtermStopsALineTestWithItsReport) {
    Process campaign;
    const std::string out = m_dir + "/campaign.out";
    ASSERT_TRUE(campaign.Start({TESSOR_CLI_PATH, "fleet", "linetest", "--inventory",
                                m_dir + "/inventory.yaml", "--limit", "lt1", "--out", m_dir + "/runs",
                                "--duration", "10m", "--interval", "200ms", "--junit", m_dir + "/junit.xml"},
                               out, m_dir + "/campaign.err"));
    // Passes have begun: more commands than the reads before them.
    ASSERT_TRUE(WaitFor([&] { return m_lt.Commands().size() > 60; }, std::chrono::seconds(20)));
    EXPECT_EQ(campaign.SignalAndWait(SIGTERM, std::chrono::seconds(10)), 143)
        << ReadAll(m_dir + "/campaign.err");
    std::map<std::string, nlohmann::json> lines = LinesByBoard(ReadAll(out));
    ASSERT_EQ(lines.size(), 1u) << ReadAll(out);
    EXPECT_EQ(lines["lt1"]["outcome"], "cancelled");
    EXPECT_EQ(lines["lt1"]["details"]["verdict"], "stopped");
    EXPECT_EQ(lines["lt1"]["details"]["report"], m_dir + "/runs/north/lt1.html");
    EXPECT_NE(ReadAll(m_dir + "/runs/north/lt1.html").find("north / lt1"), std::string::npos);
    EXPECT_NE(ReadAll(m_dir + "/junit.xml").find("<error type=\"cancelled\""), std::string::npos);
}

// ser2net offers one simulated board twice; a client holding one of its ports makes the other busy.
TEST(FleetBusyPort, APortHeldByAnotherClientIsReportedBusyThenFreeAgain) {
    SimPty sim;
    ASSERT_TRUE(sim.Ready());
    const std::string dir = testing::TempDir() + "fleet-busy-" + std::to_string(getpid());
    std::filesystem::create_directories(dir);
    int ports[2] = {0, 0};
    for (int& port : ports) {
        const int fd = tessor::bench::ListenOnLoopback(1, &port);
        close(fd);
    }
    std::ofstream(dir + "/ser2net.yaml") << "%YAML 1.1\n---\nconnection: &rfc2217\n"
                                         << "  accepter: telnet(rfc2217),tcp(nodelay),127.0.0.1," << ports[0]
                                         << "\n  connector: serialdev," << sim.Link() << ",9600n81,local\n"
                                         << "connection: &raw\n  accepter: tcp,127.0.0.1," << ports[1]
                                         << "\n  connector: serialdev," << sim.Link() << ",9600n81,local\n";
    std::ofstream(dir + "/inventory.yaml")
        << "all:\n  hosts:\n    held: {tessor_port: \"rfc2217://127.0.0.1:" << ports[0] << "\"}\n";
    Process ser2net;
    ASSERT_TRUE(
        ser2net.Start({TESSOR_SER2NET, "-n", "-u", "-c", dir + "/ser2net.yaml", "-P", dir + "/ser2net.pid"},
                      dir + "/ser2net.out", dir + "/ser2net.out"));
    ASSERT_TRUE(WaitFor(
        [&] {
            return tessor::bench::ListensOnLoopback(ports[0]) && tessor::bench::ListensOnLoopback(ports[1]);
        },
        std::chrono::seconds(10)));
    const int holder = socket(AF_INET, SOCK_STREAM, 0);
    const sockaddr_in address = tessor::bench::LoopbackAddress(ports[1]);
    ASSERT_EQ(connect(holder, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);

    RunResult run = Cli({"fleet", "status", "--inventory", dir + "/inventory.yaml", "--deadline", "3"});
    EXPECT_EQ(run.status, 7) << run.err;
    std::map<std::string, nlohmann::json> lines = LinesByBoard(run.out);
    ASSERT_EQ(lines.size(), 1u) << run.out;
    EXPECT_EQ(lines["held"]["outcome"], "port_busy") << run.out;
    // Tried again until the deadline at the latest, and still reported busy.
    EXPECT_LE(lines["held"]["duration_seconds"].get<double>(), 3.5);
    EXPECT_GE(lines["held"]["duration_seconds"].get<double>(), 1.0);

    close(holder);
    run = Cli({"fleet", "status", "--inventory", dir + "/inventory.yaml", "--deadline", "10"});
    EXPECT_EQ(run.status, 0) << run.err;
    lines = LinesByBoard(run.out);
    EXPECT_EQ(lines["held"]["outcome"], "ok") << run.out;
    ser2net.SignalAndWait(SIGTERM, std::chrono::seconds(5));
    std::filesystem::remove_all(dir);
}

// Backups into git: the first run adds, a run with no change commits nothing, a changed board makes a
// second commit in the words of the pages; the silent board is failed each time and never gets a file.
TEST_F(FleetCampaign, BackupCommitsOnlyWhatChanged) {
    const std::string repo = m_dir + "/backups";
    const auto backup = [&] {
        const RunResult run = Fleet("backup", {"--git", repo, "--limit", "lt1,mute"});
        EXPECT_EQ(run.status, 7) << run.err;
        nlohmann::json summary;
        std::istringstream in(run.out);
        for (std::string line; std::getline(in, line);)
            if (nlohmann::json doc = nlohmann::json::parse(line); doc.value("command", "") == "backup")
                summary = doc;
        return summary;
    };
    const auto git = [&](std::vector<std::string> args) { return Git(repo, std::move(args)).out; };
    nlohmann::json first = backup();
    EXPECT_EQ(first["subject"], "Backup: 0 changed, 1 added, 1 failed") << first;
    EXPECT_EQ(backup()["committed"], false);
    EXPECT_EQ(git({"rev-list", "--count", "HEAD"}), "1\n");

    ASSERT_EQ(Cli({"--port", m_lt.Link(), "--yes", "write", "8C60", "5A"}).status, 0);
    nlohmann::json changed = backup();
    EXPECT_EQ(changed["subject"], "Backup: 1 changed, 0 added, 1 failed") << changed;
    EXPECT_EQ(git({"rev-list", "--count", "HEAD"}), "2\n");
    EXPECT_NE(git({"log", "-1", "--format=%B"}).find("8C60"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(repo + "/north/mute.LT"));
}

// A repository that cannot be written, also for root: under root the run sees it through a read-only
// bind mount of its own, else it loses its write permissions. The run is refused with exit 5 naming the
// repository; the board's file, the history and the work tree stay as they were.
TEST_F(FleetCampaign, BackupIntoReadOnlyRepositoryIsRefused) {
    const std::string repo = m_dir + "/backups";
    ASSERT_EQ(Fleet("backup", {"--git", repo, "--limit", "lt1"}).status, 0);
    const std::string file = ReadAll(repo + "/north/lt1.LT");
    const std::string head = Git(repo, {"rev-parse", "HEAD"}).out;
    ASSERT_EQ(Cli({"--port", m_lt.Link(), "--yes", "write", "8C60", "5A"}).status, 0);

    std::vector<std::string> args{
        TESSOR_CLI_PATH, "fleet", "backup",  "--inventory", m_dir + "/inventory.yaml", "--deadline", "2",
        "--git",         repo,    "--limit", "lt1"};
    if (geteuid() == 0) {
        args.insert(args.begin(),
                    {"/usr/bin/unshare", "--mount", "/bin/sh", "-c",
                     "mount --bind \"$0\" \"$0\" && mount -o remount,bind,ro \"$0\" && exec \"$@\"", repo});
    } else {
        ASSERT_EQ(RunProgram({"/bin/chmod", "-R", "a-w", repo}, "/dev/null", Environment(), 30000).status, 0);
    }
    const RunResult run = RunProgram(args, "/dev/null", Environment(), 30000);
    RunProgram({"/bin/chmod", "-R", "u+w", repo}, "/dev/null", Environment(), 30000);

    EXPECT_EQ(run.status, 5) << run.err;
    EXPECT_NE(run.err.find("tessor-cli: " + repo + ": cannot be written: "), std::string::npos) << run.err;
    EXPECT_NE(run.err.find(". Give a repository you may write to. Nothing was written."), std::string::npos)
        << run.err;
    EXPECT_EQ(run.out.find("\"committed\""), std::string::npos) << run.out;
    EXPECT_EQ(ReadAll(repo + "/north/lt1.LT"), file);
    EXPECT_EQ(Git(repo, {"rev-parse", "HEAD"}).out, head);
    EXPECT_EQ(Git(repo, {"status", "--porcelain", "--untracked-files=all"}).out, "");
    const RunResult fsck = Git(repo, {"fsck", "--strict", "--no-dangling"});
    EXPECT_EQ(fsck.status, 0) << fsck.err;
}

} // namespace
