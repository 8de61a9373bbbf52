// The board's console shared through the tessor-cli monitor program, against tessor-sim over a
// pseudo-terminal: a client's save while the monitor polls, refused writes, a second client, clients that
// go away. Loopback only; every wait is for a condition and bounded.

#include "ProcessSupport.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <poll.h>

#include <fstream>
#include <regex>
#include <sstream>

#ifndef TESSOR_SIM_PROGRAM
#error "TESSOR_SIM_PROGRAM must name the tessor-sim executable"
#endif
#ifndef TESSOR_CLI_PROGRAM
#error "TESSOR_CLI_PROGRAM must name the tessor-cli executable"
#endif

namespace tessor::monitor::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// A loopback TCP client of the console port.
class Client {
public:
    explicit Client(int port) {
        m_fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<std::uint16_t>(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (connect(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
            close(m_fd);
            m_fd = -1;
        }
    }
    ~Client() { Close(); }
    bool Connected() const { return m_fd >= 0; }
    bool Send(const std::string& text) {
        return send(m_fd, text.data(), text.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(text.size());
    }
    // What arrives until the text ends with `until` (empty: until the connection closes), within limit.
    std::string Receive(const std::string& until, std::chrono::milliseconds limit) {
        std::string got;
        const auto deadline = Clock::now() + limit;
        while (Clock::now() < deadline) {
            pollfd p{m_fd, POLLIN, 0};
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (poll(&p, 1, static_cast<int>(std::max<long>(left.count(), 0))) <= 0)
                break;
            char buffer[512];
            const ssize_t n = recv(m_fd, buffer, sizeof buffer, 0);
            if (n <= 0) {
                m_closed = true;
                break;
            }
            got.append(buffer, static_cast<std::size_t>(n));
            if (!until.empty() && got.size() >= until.size() &&
                got.compare(got.size() - until.size(), until.size(), until) == 0)
                break;
        }
        return got;
    }
    bool ClosedByPeer() const { return m_closed; }
    void Close() {
        if (m_fd >= 0)
            close(m_fd);
        m_fd = -1;
    }

private:
    int m_fd = -1;
    bool m_closed = false;
};

class ConsoleShareE2e : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_sim.Start(
            {TESSOR_SIM_PROGRAM, "--no-pacing", "--no-stdin", "--train-ms", "300", "--link", Link()},
            m_dir.File("sim.out"), m_dir.File("sim.err")));
        ASSERT_TRUE(WaitFor([this] { return access(Link().c_str(), F_OK) == 0; }, 5s)) << "no simulator";
    }

    void StartMonitor(std::vector<std::string> options = {}) {
        std::vector<std::string> args{TESSOR_CLI_PROGRAM, "monitor",    Link(), "--listen",
                                      "127.0.0.1:0",      "--interval", "1",    "--jsonl",
                                      "--console-listen", "0"};
        args.insert(args.end(), options.begin(), options.end());
        ASSERT_TRUE(m_monitor.Start(args, m_dir.File("monitor.out"), m_dir.File("monitor.err")));
        const std::regex offered("console offered on (rfc2217|socket)://127\\.0\\.0\\.1:([0-9]+)");
        std::smatch m;
        ASSERT_TRUE(WaitFor(
            [&] {
                m_err = ReadFile(m_dir.File("monitor.err"));
                return std::regex_search(m_err, m, offered);
            },
            5s))
            << m_err;
        m_console = std::stoi(m[2].str());
        m_url = "rfc2217://127.0.0.1:" + m[2].str();
        ASSERT_TRUE(ServingPortKnown());
        ASSERT_TRUE(WaitFor([this] { return PassLines().size() >= 1; }, 10s)) << "no first pass";
    }

    bool ServingPortKnown() {
        const std::optional<int> port = ServingPort(m_dir.File("monitor.err"), "http");
        m_http = port.value_or(0);
        return port.has_value();
    }

    std::vector<nlohmann::json> PassLines() const {
        std::vector<nlohmann::json> lines;
        std::istringstream in(ReadFile(m_dir.File("monitor.out")));
        for (std::string line; std::getline(in, line);) {
            const auto j = nlohmann::json::parse(line, nullptr, false);
            if (!j.is_discarded())
                lines.push_back(j);
        }
        return lines;
    }

    std::string Log() const { return ReadFile(m_dir.File("monitor.err")); }

    std::optional<double> Metric(const std::string& name) {
        httplib::Client client("127.0.0.1", m_http);
        client.set_read_timeout(2, 0);
        auto res = client.Get("/metrics");
        if (!res || res->status != 200)
            return std::nullopt;
        std::smatch m;
        const std::regex sample("(^|\n)" + name + "\\{[^}]*\\} ([^\n]+)");
        if (!std::regex_search(res->body, m, sample))
            return std::nullopt;
        return std::stod(m[2].str());
    }

    testsupport::RunResult Cli(std::vector<std::string> args, const std::string& port) {
        args.insert(args.begin(), {TESSOR_CLI_PROGRAM, "--port", port});
        return testsupport::RunProgram(args, "/dev/null", {"PATH=/usr/bin:/bin"}, 60000);
    }

    std::string Link() const { return m_dir.File("board"); }

    TempDir m_dir;
    Process m_sim;
    Process m_monitor;
    std::string m_err;
    std::string m_url;
    int m_console = 0;
    int m_http = 0;
};

// Saves through the monitor's console while it polls every second: each file is the direct save's, the
// passes keep their cadence, and the monitor's figures see nothing of the client's reads.
TEST_F(ConsoleShareE2e, SaveThroughTheMonitorsConsoleIsTheDirectSaveAndThePassesGoOn) {
    const std::string direct = m_dir.File("direct.LT");
    ASSERT_EQ(Cli({"save", direct}, Link()).status, 0);
    StartMonitor();

    const std::size_t passesBefore = PassLines().size();
    int saves = 0;
    // Saves one after the other until three passes have run during them (bounded in count and time).
    const auto deadline = Clock::now() + 30s;
    for (; saves < 2000 && Clock::now() < deadline && PassLines().size() < passesBefore + 3; ++saves) {
        const std::string path = m_dir.File("shared" + std::to_string(saves) + ".LT");
        const testsupport::RunResult r = Cli({"save", path}, m_url);
        ASSERT_EQ(r.status, 0) << r.err;
        ASSERT_EQ(ReadFile(path), ReadFile(direct)) << "save " << saves;
    }
    ASSERT_GE(PassLines().size(), passesBefore + 3) << "the passes stopped during the saves";

    const std::vector<nlohmann::json> passes = PassLines();
    for (std::size_t i = 1; i < passes.size(); ++i) {
        const double gap = passes[i]["time"].get<double>() - passes[i - 1]["time"].get<double>();
        EXPECT_LE(gap, 2.0 + 0.5) << "pass " << i << " came " << gap << " s after the one before";
        EXPECT_EQ(passes[i]["up"], true) << "pass " << i;
        EXPECT_EQ(passes[i]["corrupted_replies"], 0) << "pass " << i;
        EXPECT_EQ(passes[i]["timeouts"], 0) << "pass " << i;
    }
    EXPECT_EQ(Metric("tessor_console_sessions_total"), saves);
    EXPECT_EQ(Metric("tessor_corrupted_replies_total"), 0);
}

TEST_F(ConsoleShareE2e, AWriteIsRefusedWithTheBoardsErrorReplyAndCounted) {
    StartMonitor();
    Client client(m_console);
    ASSERT_TRUE(client.Connected());
    // No telnet negotiation from this client: plain bytes are console bytes for the accepter too.
    ASSERT_TRUE(client.Send("WR 8C10 5A\r\n"));
    EXPECT_EQ(client.Receive("L>", 5s), "WR 8C10 5A\n\rERROR\n\rL>");
    ASSERT_TRUE(client.Send("RD 8C10\n"));
    const std::string read = client.Receive("L>", 5s);
    EXPECT_TRUE(std::regex_search(read, std::regex("^RD 8C10\n\r8C10: [0-9A-F]{2}\n\rL>$"))) << read;
    EXPECT_EQ(read.find("8C10: 5A"), std::string::npos) << "the refused write was carried out";
    // A line that holds a prompt of its own is answered whole: the prompt that ends it follows the echo.
    ASSERT_TRUE(client.Send("L>\n"));
    EXPECT_EQ(client.Receive("\rL>", 5s), "L>\n\rERROR\n\rL>");
    EXPECT_EQ(Metric("tessor_console_commands_refused_total"), 1);
    EXPECT_NE(Log().find("refused 127.0.0.1:"), std::string::npos) << Log();
}

TEST_F(ConsoleShareE2e, AWriteIsCarriedOutOnAWritableConsole) {
    StartMonitor({"--console-writable"});
    ASSERT_EQ(Cli({"--yes", "write", "8C10", "5A"}, m_url).status, 0);
    // The program has ended, but the monitor may not have seen its connection close yet.
    ASSERT_TRUE(WaitFor([this] { return Log().find(" left after ") != std::string::npos; }, 10s)) << Log();
    Client client(m_console);
    ASSERT_TRUE(client.Send("RD 8C10\n"));
    EXPECT_EQ(client.Receive("L>", 5s), "RD 8C10\n\r8C10: 5A\n\rL>");
    EXPECT_EQ(Metric("tessor_console_commands_refused_total"), 0);
}

TEST_F(ConsoleShareE2e, ASecondClientIsToldWhoHoldsTheConsoleAndClosed) {
    StartMonitor();
    Client first(m_console);
    ASSERT_TRUE(first.Connected());
    ASSERT_TRUE(WaitFor([this] { return Log().find(" connected") != std::string::npos; }, 5s));
    Client second(m_console);
    ASSERT_TRUE(second.Connected());
    const std::string told = second.Receive("", 5s);
    EXPECT_TRUE(second.ClosedByPeer());
    EXPECT_TRUE(
        std::regex_search(told, std::regex("is in use by 127\\.0\\.0\\.1:[0-9]+ since [0-9-]+ [0-9:]+ UTC")))
        << told;
    EXPECT_EQ(Metric("tessor_console_clients_refused_total"), 1);
    // The first still has the console.
    ASSERT_TRUE(first.Send("RD 8C71\n"));
    EXPECT_TRUE(std::regex_search(first.Receive("L>", 5s), std::regex("8C71: [0-9A-F]{2}\n\rL>$")));
}

// A client gone before its reply came leaves the console in step; one that sends part of a line and
// goes quiet is dropped after 2 s and its part never reaches the board.
TEST_F(ConsoleShareE2e, ClientsThatGoAwayLeaveTheConsoleInStep) {
    StartMonitor({"--console-raw"});
    {
        Client gone(m_console);
        ASSERT_TRUE(gone.Send("RD 8C40,9\n"));
    }
    ASSERT_TRUE(WaitFor([this] { return Log().find("left after 1 lines") != std::string::npos; }, 10s))
        << Log();
    const std::size_t passes = PassLines().size();
    ASSERT_TRUE(WaitFor([&] { return PassLines().size() >= passes + 2; }, 10s));
    EXPECT_EQ(PassLines().back()["up"], true);
    EXPECT_EQ(PassLines().back()["corrupted_replies"], 0);

    Client quiet(m_console);
    ASSERT_TRUE(quiet.Send("WR 8C"));
    const auto start = Clock::now();
    quiet.Receive("", 6s);
    EXPECT_TRUE(quiet.ClosedByPeer());
    EXPECT_GE(Clock::now() - start, 1900ms);
    EXPECT_TRUE(WaitFor([this] { return Log().find("dropped: part of a line") != std::string::npos; }, 2s))
        << Log() << "monitor exit " << m_monitor.Wait(0ms);
    EXPECT_EQ(Metric("tessor_console_commands_refused_total"), 0);
    EXPECT_EQ(Metric("tessor_console_commands_passed_total"), 1);
}

} // namespace
} // namespace tessor::monitor::test
