// The tessor-cli monitor program on an inventory of tessor-sim boards over pseudo-terminals: the series
// labelled by site and board, the boards following the inventory on SIGHUP, a broken inventory kept out.

#include "ProcessSupport.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <regex>

#ifndef TESSOR_SIM_PROGRAM
#error "TESSOR_SIM_PROGRAM must name the tessor-sim executable"
#endif
#ifndef TESSOR_CLI_PROGRAM
#error "TESSOR_CLI_PROGRAM must name the tessor-cli executable"
#endif

namespace tessor::monitor::test {
namespace {

using namespace std::chrono_literals;

struct Host {
    std::string name;
    std::string site;
    std::string extra; // more host variables, each "      name: value\n"
};

class MonitorInventoryE2e : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* name : {"a", "b", "c"}) {
            m_sims.emplace_back(std::make_unique<Process>());
            ASSERT_TRUE(m_sims.back()->Start(
                {TESSOR_SIM_PROGRAM, "--no-pacing", "--no-stdin", "--train-ms", "300", "--link", Link(name)},
                m_dir.File(std::string("sim-") + name + ".out"),
                m_dir.File(std::string("sim-") + name + ".err")));
        }
        for (const char* name : {"a", "b", "c"})
            ASSERT_TRUE(WaitFor([&] { return access(Link(name).c_str(), F_OK) == 0; }, 5s)) << "no simulator";
    }

    std::string Link(const std::string& board) const { return m_dir.File("board-" + board); }

    // An inventory with each host in a group named after its site (hosts of one site listed together).
    void WriteInventory(const std::vector<Host>& hosts) {
        std::ofstream out(m_dir.File("inventory.yaml"));
        out << "all:\n  children:\n";
        for (std::size_t i = 0; i < hosts.size(); ++i) {
            const Host& h = hosts[i];
            if (i == 0 || hosts[i - 1].site != h.site)
                out << "    " << h.site << ":\n      hosts:\n";
            out << "        " << h.name << ":\n          tessor_port: " << Link(h.name) << "\n" << h.extra;
        }
    }

    void StartMonitor(std::vector<std::string> options = {}) {
        std::vector<std::string> args{
            TESSOR_CLI_PROGRAM, "monitor",     "--inventory", m_dir.File("inventory.yaml"),
            "--listen",         "127.0.0.1:0", "--interval",  "1"};
        args.insert(args.end(), options.begin(), options.end());
        ASSERT_TRUE(m_monitor.Start(args, m_dir.File("monitor.out"), m_dir.File("monitor.err")));
        const std::optional<int> port = ServingPort(m_dir.File("monitor.err"), "http");
        ASSERT_TRUE(port) << ReadFile(m_dir.File("monitor.err"));
        m_port = *port;
    }

    std::string Scrape() {
        httplib::Client client("127.0.0.1", m_port);
        client.set_read_timeout(2, 0);
        auto res = client.Get("/metrics");
        return res && res->status == 200 ? res->body : std::string();
    }

    // The value of the family's sample for the board at the site, none when the page has no such sample.
    static std::optional<double> BoardSample(const std::string& page, const std::string& family,
                                             const std::string& site, const std::string& board) {
        const std::regex line("(^|\n)" + family + "\\{port=\"[^\"]*\",site=\"" + site + "\",board=\"" +
                              board + "\",side=\"[a-z]+\"\\} ([^\n]+)");
        std::smatch m;
        if (!std::regex_search(page, m, line))
            return std::nullopt;
        return std::stod(m[2].str());
    }

    bool BoardUp(const std::string& site, const std::string& board) {
        return BoardSample(Scrape(), "tessor_up", site, board) == 1.0;
    }

    TempDir m_dir;
    std::vector<std::unique_ptr<Process>> m_sims;
    Process m_monitor;
    int m_port = 0;
};

TEST_F(MonitorInventoryE2e, ReloadStartsTheBoardsAddedAndRemovesTheSeriesOfTheBoardsRemoved) {
    const std::string b =
        "          tessor_snr_baseline_db: 40.5\n          tessor_console_listen: 127.0.0.1:" +
        std::to_string(FreePort()) + "\n";
    WriteInventory({{"a", "north", ""}, {"b", "north", b}});
    StartMonitor();
    ASSERT_TRUE(WaitFor([&] { return BoardUp("north", "a") && BoardUp("north", "b"); }, 15s)) << Scrape();
    // The host's variables apply to its board only.
    EXPECT_EQ(BoardSample(Scrape(), "tessor_line_snr_baseline_decibels", "north", "b"), 40.5);
    EXPECT_EQ(BoardSample(Scrape(), "tessor_line_snr_baseline_decibels", "north", "a"), std::nullopt);
    const std::regex console(
        "tessor_console_sessions_total\\{port=\"[^\"]*\",site=\"north\",board=\"b\"\\} 0");
    EXPECT_TRUE(std::regex_search(Scrape(), console)) << Scrape();
    EXPECT_EQ(Scrape().find("tessor_console_sessions_total{port=\"" + Link("a")), std::string::npos);
    // A few passes, so that a board started anew on the reload would show fewer.
    std::optional<double> passesBefore;
    ASSERT_TRUE(WaitFor(
        [&] {
            passesBefore = BoardSample(Scrape(), "tessor_poll_passes_total", "north", "b");
            return passesBefore >= 3.0;
        },
        15s));

    WriteInventory({{"b", "north", b}, {"c", "south", ""}});
    ASSERT_EQ(kill(m_monitor.Pid(), SIGHUP), 0);
    ASSERT_TRUE(WaitFor([&] { return BoardUp("south", "c"); }, 15s)) << Scrape();
    ASSERT_TRUE(WaitFor([&] { return Scrape().find("board=\"a\"") == std::string::npos; }, 5s)) << Scrape();
    // The board in both inventories kept polling: its counts went on, not from the start.
    const std::optional<double> passesAfter = BoardSample(Scrape(), "tessor_poll_passes_total", "north", "b");
    ASSERT_TRUE(passesAfter);
    EXPECT_GE(*passesAfter, *passesBefore);
    EXPECT_TRUE(BoardUp("north", "b"));
    EXPECT_EQ(m_monitor.SignalAndWait(SIGTERM, 10s), 0);
}

TEST_F(MonitorInventoryE2e, ABrokenInventoryOnReloadIsLoggedWithItsLineAndTheBoardsInForceKept) {
    WriteInventory({{"a", "north", ""}, {"b", "south", ""}});
    StartMonitor();
    ASSERT_TRUE(WaitFor([&] { return BoardUp("north", "a") && BoardUp("south", "b"); }, 15s)) << Scrape();

    {
        std::ofstream out(m_dir.File("inventory.yaml"));
        out << "all:\n  hosts:\n    c:\n      tessor_side: lt\n";
    }
    ASSERT_EQ(kill(m_monitor.Pid(), SIGHUP), 0);
    const std::string logged = "kept the boards in force: " + m_dir.File("inventory.yaml") + ":3: ";
    ASSERT_TRUE(
        WaitFor([&] { return ReadFile(m_dir.File("monitor.err")).find(logged) != std::string::npos; }, 5s))
        << ReadFile(m_dir.File("monitor.err"));
    const std::optional<double> passes = BoardSample(Scrape(), "tessor_poll_passes_total", "north", "a");
    ASSERT_TRUE(passes);
    // Both boards go on being polled.
    EXPECT_TRUE(WaitFor(
        [&] {
            const std::string page = Scrape();
            return BoardSample(page, "tessor_poll_passes_total", "north", "a") > *passes &&
                   BoardSample(page, "tessor_up", "south", "b") == 1.0;
        },
        10s))
        << Scrape();
    EXPECT_EQ(Scrape().find("board=\"c\""), std::string::npos);
    EXPECT_EQ(m_monitor.SignalAndWait(SIGTERM, 10s), 0);
}

// Options that do not go with an inventory, or need one, are bad usage before anything is opened.
TEST_F(MonitorInventoryE2e, OptionsThatDoNotFitTheInventoryAreBadUsage) {
    WriteInventory({{"a", "north", ""}});
    const std::string inventory = m_dir.File("inventory.yaml");
    const std::vector<std::vector<std::string>> cases{
        {"--inventory", inventory, Link("b")},
        {"--inventory", inventory, "--port", Link("b")},
        {"--limit", "north"},
        {"--inventory", inventory, "--snr-baseline", Link("a") + "=40"},
        {"--inventory", inventory, "--console-listen", "0"},
        {"--inventory", inventory, "--record", m_dir.File("a.rec")},
        {"--inventory", inventory, "--limit", "nowhere"},
    };
    for (const auto& options : cases) {
        std::vector<std::string> args{TESSOR_CLI_PROGRAM, "monitor", "--listen", "127.0.0.1:0"};
        args.insert(args.end(), options.begin(), options.end());
        Process monitor;
        ASSERT_TRUE(monitor.Start(args, m_dir.File("usage.out"), m_dir.File("usage.err")));
        EXPECT_EQ(monitor.Wait(10s), 2) << options[0] << " " << options.back() << "\n"
                                        << ReadFile(m_dir.File("usage.err"));
    }
}

} // namespace
} // namespace tessor::monitor::test
