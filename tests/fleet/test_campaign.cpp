// The campaign's scheduler with fake boards (the bounds on boards at once and per console server, the
// deadline, the busy port tried again, a stop), and its result files parsed back.
#include "fleet/Campaign.h"
#include "fleet/Reports.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <map>
#include <mutex>
#include <thread>

namespace tessor::fleet {
namespace {

using namespace std::chrono_literals;

Board MakeBoard(const std::string& name, const std::string& port, const std::string& site = "North") {
    Board board;
    board.name = name;
    board.port = port;
    board.site = site;
    return board;
}

BoardResult Outcome(const std::string& outcome, int exitCode) {
    BoardResult result;
    result.outcome = outcome;
    result.exitCode = exitCode;
    return result;
}

// Fake boards that count how many run at once, overall and per server, and hold until released.
class Gate {
public:
    BoardResult Run(const Board& board) {
        std::unique_lock<std::mutex> lock(m_mutex);
        const std::string server = ServerOf(board.port);
        ++m_running;
        ++m_perServer[server];
        m_maxRunning = std::max(m_maxRunning, m_running);
        m_maxPerServer[server] = std::max(m_maxPerServer[server], m_perServer[server]);
        m_cv.notify_all();
        m_cv.wait(lock, [this] { return m_open; });
        --m_running;
        --m_perServer[server];
        return Outcome(kOutcomeOk, 0);
    }
    bool WaitForRunning(int count) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_cv.wait_for(lock, 20s, [&] { return m_running >= count; });
    }
    void Open() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_open = true;
        m_cv.notify_all();
    }
    int MaxRunning() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_maxRunning;
    }
    std::map<std::string, int> MaxPerServer() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_maxPerServer;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_open = false;
    int m_running = 0;
    int m_maxRunning = 0;
    std::map<std::string, int> m_perServer;
    std::map<std::string, int> m_maxPerServer;
};

TEST(Campaign, BoardsAtOnceAndPerServerStayWithinTheirBounds) {
    std::vector<Board> boards;
    for (int i = 0; i < 5; ++i) {
        boards.push_back(
            MakeBoard("a" + std::to_string(i), "rfc2217://10.0.0.1:" + std::to_string(7000 + i)));
        boards.push_back(MakeBoard("b" + std::to_string(i), "socket://10.0.0.2:" + std::to_string(7000 + i)));
    }
    boards.push_back(MakeBoard("usb0", "/dev/ttyUSB0"));
    boards.push_back(MakeBoard("usb1", "/dev/ttyUSB1"));
    CampaignLimits limits;
    limits.jobs = 5;
    limits.perServer = 2;
    Gate gate;
    std::vector<BoardResult> results;
    // What the campaign itself counts as running, right after each round of starts.
    std::atomic<int> maxReported{0};
    CampaignHooks hooks;
    hooks.progress = [&](const CampaignProgress& p) {
        maxReported = std::max(maxReported.load(), p.running);
    };
    std::thread campaign([&] {
        results = RunCampaign(
            boards, "status", limits, [&](const Board& board, StopToken&) { return gate.Run(board); }, hooks);
    });
    // The first wave fills every place: two on each server, one local device.
    EXPECT_TRUE(gate.WaitForRunning(5));
    gate.Open();
    campaign.join();
    ASSERT_EQ(results.size(), boards.size());
    EXPECT_EQ(gate.MaxRunning(), 5);
    EXPECT_EQ(maxReported.load(), 5);
    const std::map<std::string, int> perServer = gate.MaxPerServer();
    EXPECT_EQ(perServer.at("10.0.0.1"), 2);
    EXPECT_EQ(perServer.at("10.0.0.2"), 2);
    EXPECT_EQ(perServer.at("/dev/ttyUSB0"), 1);
    for (const BoardResult& r : results) {
        EXPECT_EQ(r.outcome, kOutcomeOk) << r.board;
        EXPECT_EQ(r.command, "status");
        EXPECT_FALSE(r.site.empty());
    }
}

TEST(Campaign, ASilentBoardEndsAtItsDeadline) {
    const std::vector<Board> boards{MakeBoard("silent", "/dev/ttyS0"), MakeBoard("quick", "/dev/ttyS1")};
    CampaignLimits limits;
    limits.deadline = 300ms;
    const std::vector<BoardResult> results = RunCampaign(boards, "save", limits,
                                                         [](const Board& board, StopToken& stop) {
                                                             if (board.name == "quick")
                                                                 return Outcome(kOutcomeOk, 0);
                                                             // Silent: nothing comes until the port is
                                                             // cancelled.
                                                             stop.WaitFor(std::chrono::hours(1));
                                                             return Outcome("cancelled", 4);
                                                         },
                                                         {});
    ASSERT_EQ(results.size(), 2u);
    EXPECT_EQ(results[0].board, "quick");
    EXPECT_EQ(results[0].outcome, kOutcomeOk);
    EXPECT_EQ(results[1].board, "silent");
    EXPECT_EQ(results[1].outcome, kOutcomeDeadline);
    EXPECT_EQ(results[1].exitCode, 4);
    EXPECT_GE(results[1].durationSeconds, 0.3);
    EXPECT_LT(results[1].durationSeconds, 20.0);
    EXPECT_NE(results[1].message.find("deadline of 0.3 s"), std::string::npos) << results[1].message;
}

TEST(Campaign, ABusyPortIsTriedAgainUntilItIsFree) {
    int tries = 0;
    CampaignLimits limits;
    limits.busyPause = 5ms;
    const std::vector<BoardResult> results =
        RunCampaign({MakeBoard("held", "rfc2217://10.0.0.1:7000")}, "status", limits,
                    [&](const Board&, StopToken&) {
                        return ++tries < 3 ? Outcome(kOutcomePortBusy, 4) : Outcome(kOutcomeOk, 0);
                    },
                    {});
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0].outcome, kOutcomeOk);
    EXPECT_EQ(tries, 3);
}

TEST(Campaign, APortBusyUntilTheDeadlineIsReportedBusy) {
    int tries = 0;
    CampaignLimits limits;
    limits.busyPause = 20ms;
    limits.deadline = 400ms;
    const std::vector<BoardResult> results =
        RunCampaign({MakeBoard("held", "rfc2217://10.0.0.1:7000")}, "status", limits,
                    [&](const Board&, StopToken&) {
                        ++tries;
                        return Outcome(kOutcomePortBusy, 4);
                    },
                    {});
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0].outcome, kOutcomePortBusy);
    // Pauses of 20, 40, 80, 160 ms fit in the deadline; the next would not.
    EXPECT_GE(tries, 2);
    EXPECT_LE(tries, 6);
    EXPECT_LT(results[0].durationSeconds, 0.4);
}

TEST(Campaign, AnAttemptStoppedAtTheDeadlineAfterABusyPortIsStillBusy) {
    int tries = 0;
    CampaignLimits limits;
    limits.busyPause = 5ms;
    limits.deadline = 300ms;
    const std::vector<BoardResult> results =
        RunCampaign({MakeBoard("held", "rfc2217://10.0.0.1:7000")}, "status", limits,
                    [&](const Board&, StopToken& stop) {
                        if (++tries == 1)
                            return Outcome(kOutcomePortBusy, 3);
                        // The link's own tries on the busy port, ended by the deadline.
                        stop.WaitFor(std::chrono::seconds(20));
                        return Outcome("cancelled", 4);
                    },
                    {});
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0].outcome, kOutcomePortBusy);
    EXPECT_EQ(results[0].exitCode, 3);
}

TEST(Campaign, AStopStartsNoFurtherBoardAndCancelsTheRunningOne) {
    std::atomic<bool> stop{false};
    std::atomic<int> started{0};
    CampaignLimits limits;
    limits.jobs = 1;
    CampaignHooks hooks;
    hooks.stop = &stop;
    std::vector<std::string> reported;
    hooks.finished = [&](const BoardResult& r) { reported.push_back(r.board); };
    const std::vector<BoardResult> results = RunCampaign(
        {MakeBoard("one", "/dev/ttyS0"), MakeBoard("two", "/dev/ttyS1"), MakeBoard("three", "/dev/ttyS2")},
        "status", limits,
        [&](const Board&, StopToken& token) {
            ++started;
            stop = true; // the signal arrives while the first board runs
            token.WaitFor(std::chrono::hours(1));
            return Outcome("cancelled", 4);
        },
        hooks);
    EXPECT_EQ(started.load(), 1);
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0].outcome, "cancelled");
    EXPECT_EQ(reported, std::vector<std::string>{"one"});
}

TEST(Campaign, TheServerOfAPort) {
    EXPECT_EQ(ServerOf("rfc2217://cs1.example.net:7001"), "cs1.example.net");
    EXPECT_EQ(ServerOf("socket://[::1]:7001"), "::1");
    EXPECT_EQ(ServerOf("/dev/ttyUSB0"), "/dev/ttyUSB0");
}

TEST(Campaign, TheDefaultDeadlineIsAMinuteOverThePlannedTime) {
    EXPECT_EQ(DefaultDeadline(), 60s);
    EXPECT_EQ(DefaultDeadline(15min), 16min);
}

BoardResult Finished(const std::string& board, const std::string& site, const std::string& outcome,
                     int exitCode, const std::string& message = "") {
    BoardResult r = Outcome(outcome, exitCode);
    r.board = board;
    r.site = site;
    r.port = "rfc2217://127.0.0.1:7001";
    r.command = "verify";
    r.durationSeconds = 1.25;
    r.message = message;
    return r;
}

// Runs python3's XML parser on text; what the script prints.
std::string ParsedByPython(const std::string& text, const std::string& script) {
    // A file per test: ctest runs the tests of this program side by side.
    const std::string path = testing::TempDir() + "fleet-report-" +
                             testing::UnitTest::GetInstance()->current_test_info()->name() + ".xml";
    std::ofstream(path) << text;
    FILE* pipe = popen(("python3 -c '" + script + "' " + path + " 2>&1").c_str(), "r");
    std::string out;
    char chunk[256];
    while (pipe && fgets(chunk, sizeof chunk, pipe))
        out += chunk;
    if (pipe)
        pclose(pipe);
    std::remove(path.c_str());
    return out;
}

TEST(Reports, JUnitKeepsFailuresAndErrorsApartPerSite) {
    const std::vector<BoardResult> results{
        Finished("n1", "North", kOutcomeOk, 0), Finished("n2", "North", kOutcomeDiffers, 7, "3 of 31 differ"),
        Finished("h1", "Harbour <&> Depot", "no_answer", 4, "no \"answer\""),
        Finished("h2", "Harbour <&> Depot", kOutcomeDeadline, 4), Finished("n3", "North", kOutcomeFailed, 6)};
    const std::string out = ParsedByPython(
        JUnitText(results),
        "import sys, xml.etree.ElementTree as E\n"
        "r = E.parse(sys.argv[1]).getroot()\n"
        "print(r.tag, r.get(\"tests\"), r.get(\"failures\"), r.get(\"errors\"))\n"
        "for s in r.findall(\"testsuite\"):\n"
        "    print(s.get(\"name\"), s.get(\"tests\"), s.get(\"failures\"), s.get(\"errors\"))\n"
        "    for c in s.findall(\"testcase\"):\n"
        "        print(\" \", c.get(\"name\"), \",\".join(e.tag + \":\" + e.get(\"type\") for e in c))\n");
    EXPECT_EQ(out, "testsuites 5 2 2\n"
                   "North 3 2 0\n"
                   "  n1 \n"
                   "  n2 failure:differs\n"
                   "  n3 failure:failed\n"
                   "Harbour <&> Depot 2 0 2\n"
                   "  h1 error:no_answer\n"
                   "  h2 error:deadline\n");
}

TEST(Reports, FindingsFollowTheMessageInJUnitAndHtml) {
    BoardResult r = Finished("n2", "North", kOutcomeDiffers, 7, "2 settings differ");
    r.findings = {"DS Constellation: QAM 64 -> QAM 16", "Register 8C46: 01 -> <02>"};
    const std::string out = ParsedByPython(
        JUnitText({r}), "import sys, xml.etree.ElementTree as E\n"
                        "f = E.parse(sys.argv[1]).getroot().find(\"testsuite/testcase/failure\")\n"
                        "print(f.get(\"message\")); print(f.text)\n");
    EXPECT_EQ(out, "2 settings differ\nrfc2217://127.0.0.1:7001: 2 settings differ\n"
                   "DS Constellation: QAM 64 -> QAM 16\nRegister 8C46: 01 -> <02>\n");
    const std::string html = HtmlText({r}, "verify");
    EXPECT_NE(html.find("2 settings differ<ul><li>DS Constellation: QAM 64 -&gt; QAM 16</li>"
                        "<li>Register 8C46: 01 -&gt; &lt;02&gt;</li></ul>"),
              std::string::npos)
        << html;
}

TEST(Reports, TheHtmlPageLinksEachReportRelativeToItsFolderWhenBelowIt) {
    const struct {
        std::string report;
        std::string pageFolder;
        std::string link; // empty: none
    } cases[] = {
        {"/srv/runs/reports/North/n 1.html", "/srv/runs",
         "<a href=\"reports/North/n%201.html\">n 1.html</a>"},
        {"/srv/runs/reports/North/n1.html", "/srv/other",
         "<a href=\"/srv/runs/reports/North/n1.html\">n1.html</a>"},
        {"/srv/runs/reports/n&1.html", "", "<a href=\"/srv/runs/reports/n%261.html\">n&amp;1.html</a>"},
        {"", "/srv/runs", ""},
    };
    for (const auto& c : cases) {
        BoardResult r = Finished("n1", "North", kOutcomeOk, 0);
        r.report = c.report;
        const std::string html = HtmlText({r}, "linetest", c.pageFolder);
        const std::string cell = html.substr(html.rfind("<td>") + 4);
        EXPECT_EQ(cell.substr(0, cell.find("</td>")), c.link) << c.report;
    }
}

TEST(Reports, CsvQuotesFieldsAndHasARowPerBoard) {
    const std::string csv = CsvText({Finished("n1", "North", kOutcomeOk, 0),
                                     Finished("n2", "North, \"old\"", kOutcomeDiffers, 7, "a\nb")});
    EXPECT_EQ(csv, "board,site,port,command,outcome,exit_code,duration_seconds,message\r\n"
                   "n1,North,rfc2217://127.0.0.1:7001,verify,ok,0,1.250,\r\n"
                   "n2,\"North, \"\"old\"\"\",rfc2217://127.0.0.1:7001,verify,differs,7,1.250,\"a\nb\"\r\n");
}

TEST(Reports, TheJsonLineHasEveryKey) {
    BoardResult r = Finished("n2", "North", kOutcomeDiffers, 7, "differs");
    r.details["differences"] = nlohmann::json::array({{{"register", "8C40"}}});
    const nlohmann::json line = nlohmann::json::parse(ResultLine(r));
    EXPECT_EQ(line["board"], "n2");
    EXPECT_EQ(line["site"], "North");
    EXPECT_EQ(line["port"], "rfc2217://127.0.0.1:7001");
    EXPECT_EQ(line["command"], "verify");
    EXPECT_EQ(line["outcome"], "differs");
    EXPECT_EQ(line["exit_code"], 7);
    EXPECT_DOUBLE_EQ(line["duration_seconds"].get<double>(), 1.25);
    EXPECT_EQ(line["details"]["differences"][0]["register"], "8C40");
    EXPECT_EQ(ResultLine(r).find('\n'), std::string::npos);
}

} // namespace
} // namespace tessor::fleet
