// tessor-cli through a real ser2net to tessor-sim on a pseudo-terminal: once through its telnet(rfc2217)
// accepter, once through a raw TCP one, each compared with the pseudo-terminal opened directly. Then the
// faults, each bounded in time: ser2net stopped and started under a running monitor, a refused
// connection, a server that never answers, one that closes in the middle of a reply, and one that
// refuses the telnet options. Everything listens on 127.0.0.1.

#include "CliTestSupport.h"
#include "ProcessSupport.h"
#include "bench/Loopback.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <functional>
#include <regex>
#include <thread>

#ifndef TESSOR_SER2NET
#error "TESSOR_SER2NET must name the ser2net program"
#endif

namespace tessor::network::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using bench::ListensOnLoopback;
using clitest::RunProgram;
using clitest::SimPty;
using monitor::test::FreePort;
using monitor::test::Process;
using monitor::test::ReadFile;
using monitor::test::TempDir;
using testsupport::RunResult;

template <class F> bool WaitFor(F condition, std::chrono::milliseconds limit) {
    return testsupport::WaitFor(condition, limit, 50ms);
}

// ser2net in the foreground with its own configuration: an RFC 2217 accepter and a raw one, both on the
// simulator's pseudo-terminal. The RFC 2217 one as the README advises (no delay), the raw one with
// ser2net's defaults, so both kinds of configuration stay covered.
class Ser2net {
public:
    Ser2net(const TempDir& dir, const std::string& tty) : m_dir(dir), m_tty(tty) {}
    ~Ser2net() { Stop(); }

    bool Start() {
        {
            std::ofstream yaml(m_dir.File("ser2net.yaml"));
            yaml << "%YAML 1.1\n---\n"
                 << "connection: &rfc2217\n"
                 << "  accepter: telnet(rfc2217),tcp(nodelay),127.0.0.1," << m_rfcPort << "\n"
                 << "  connector: serialdev," << m_tty << ",9600n81,local\n"
                 << "connection: &raw\n"
                 << "  accepter: tcp,127.0.0.1," << m_rawPort << "\n"
                 << "  connector: serialdev," << m_tty << ",9600n81,local\n";
        }
        if (!m_process.Start({TESSOR_SER2NET, "-n", "-u", "-c", m_dir.File("ser2net.yaml"), "-P",
                              m_dir.File("ser2net.pid")},
                             m_dir.File("ser2net.out"), m_dir.File("ser2net.out")))
            return false;
        m_running = true;
        return WaitFor([this] { return ListensOnLoopback(m_rfcPort) && ListensOnLoopback(m_rawPort); }, 5s);
    }
    void Stop() {
        if (m_running)
            m_process.SignalAndWait(SIGTERM, 5s);
        m_running = false;
    }
    std::string Url(const std::string& scheme) const {
        return scheme + "://127.0.0.1:" + std::to_string(scheme == "rfc2217" ? m_rfcPort : m_rawPort);
    }
    // Whether ser2net has the simulator's pseudo-terminal open (it keeps it a moment after a client).
    bool HoldsDevice() const {
        char device[PATH_MAX];
        if (!m_running || !::realpath(m_tty.c_str(), device))
            return false;
        const std::string fds = "/proc/" + std::to_string(m_process.Pid()) + "/fd";
        DIR* dir = ::opendir(fds.c_str());
        if (!dir)
            return false;
        bool held = false;
        while (const dirent* entry = ::readdir(dir)) {
            char target[PATH_MAX];
            const ssize_t n = ::readlink((fds + "/" + entry->d_name).c_str(), target, sizeof target - 1);
            if (n > 0 && std::string(target, static_cast<std::size_t>(n)) == device)
                held = true;
        }
        ::closedir(dir);
        return held;
    }
    // Waits until no client's connection holds the device any more.
    bool WaitUntilDeviceFree() const {
        return WaitFor([this] { return !HoldsDevice(); }, 5s);
    }

private:
    const TempDir& m_dir;
    std::string m_tty;
    int m_rfcPort = FreePort();
    int m_rawPort = FreePort();
    Process m_process;
    bool m_running = false;
};

// A console server of the test's own on 127.0.0.1: every connection is handed to a script.
class FakeServer {
public:
    explicit FakeServer(std::function<void(int fd)> script) : m_script(std::move(script)) {
        m_listen = bench::ListenOnLoopback(4, &m_port);
        if (m_listen < 0)
            return;
        m_thread = std::thread([this] { Serve(); });
    }
    ~FakeServer() {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        ::close(m_listen);
    }
    std::string Url(const std::string& scheme) const {
        return scheme + "://127.0.0.1:" + std::to_string(m_port);
    }
    bool Stopping() const { return m_stop; }

private:
    void Serve() {
        while (!m_stop) {
            pollfd p{m_listen, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0)
                continue;
            const int fd = ::accept(m_listen, nullptr, nullptr);
            if (fd < 0)
                continue;
            m_script(fd);
            ::close(fd);
        }
    }

    std::function<void(int)> m_script;
    int m_listen = -1;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

// The console command line a client sent (telnet offers, three bytes each, left out); empty when the
// connection ends or the limit passes first.
std::string ReadCommandLine(int fd, std::chrono::milliseconds limit) {
    std::string line;
    const auto deadline = Clock::now() + limit;
    int skip = 0;
    while (Clock::now() < deadline) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 20) <= 0)
            continue;
        unsigned char c;
        if (::read(fd, &c, 1) != 1)
            return std::string();
        if (skip > 0) {
            --skip;
        } else if (c == 0xFF) {
            skip = 2;
        } else if (c == '\n') {
            return line;
        } else {
            line += static_cast<char>(c);
        }
    }
    return std::string();
}

void SendText(int fd, const std::string& text) {
    (void)!::send(fd, text.data(), text.size(), MSG_NOSIGNAL);
}

RunResult Cli(const std::string& port, std::vector<std::string> args) {
    args.insert(args.begin(), {TESSOR_CLI_PATH, "--port", port});
    return RunProgram(args);
}

std::string FileBytes(const std::string& path) {
    return ReadFile(path);
}

class Ser2netE2e : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_sim.Ready());
        ASSERT_TRUE(m_ser2net.Start()) << ReadFile(m_dir.File("ser2net.out"));
    }

    // tessor-cli through ser2net once the device is free again: the comparisons below are about what
    // goes through, not about a device still held for the client before.
    RunResult Through(const std::string& url, std::vector<std::string> args) {
        EXPECT_TRUE(m_ser2net.WaitUntilDeviceFree()) << "ser2net still holds the device";
        return Cli(url, std::move(args));
    }

    // tessor-cli monitor on the given devices; returns the port it serves on, 0 if it did not start.
    int StartMonitor(Process& monitor, std::vector<std::string> devices, const std::string& name) {
        std::vector<std::string> args{TESSOR_CLI_PATH, "--answer-timeout-ms", "1000",       "monitor",
                                      "--listen",      "127.0.0.1:0",         "--interval", "0.5"};
        args.insert(args.end(), devices.begin(), devices.end());
        if (!monitor.Start(args, m_dir.File(name + ".out"), m_dir.File(name + ".err")))
            return 0;
        const std::regex serving("serving http://127\\.0\\.0\\.1:([0-9]+)/metrics");
        int port = 0;
        WaitFor(
            [&] {
                std::smatch m;
                const std::string err = ReadFile(m_dir.File(name + ".err"));
                if (!std::regex_search(err, m, serving))
                    return false;
                port = std::stoi(m[1].str());
                return true;
            },
            5s);
        return port;
    }

    static std::string Scrape(int port) {
        httplib::Client client("127.0.0.1", port);
        client.set_read_timeout(2, 0);
        auto res = client.Get("/metrics");
        return res && res->status == 200 ? res->body : std::string();
    }

    static bool Shows(int port, const std::string& sample, std::chrono::milliseconds limit) {
        return WaitFor([&] { return Scrape(port).find(sample) != std::string::npos; }, limit);
    }

    SimPty m_sim;
    TempDir m_dir;
    Ser2net m_ser2net{m_dir, m_sim.Link()};
};

TEST_F(Ser2netE2e, ReadSaveAndVerifyThroughBothAcceptersAsOverThePseudoTerminal) {
    const std::string direct = m_dir.File("direct.LT");
    m_sim.ClearWire();
    const RunResult saved = Cli(m_sim.Link(), {"save", direct});
    ASSERT_EQ(saved.status, 0) << saved.err;
    const std::vector<std::string> directWire = m_sim.Commands();
    ASSERT_FALSE(directWire.empty());

    for (const std::string scheme : {"rfc2217", "socket"}) {
        SCOPED_TRACE(scheme);
        const std::string url = m_ser2net.Url(scheme);
        const RunResult read = Through(url, {"read", "8C10"});
        EXPECT_EQ(read.status, 0) << read.err;
        EXPECT_EQ(read.out, "8C10: 32\n");

        const std::string file = m_dir.File(scheme + ".LT");
        m_sim.ClearWire();
        const RunResult save = Through(url, {"save", file});
        ASSERT_EQ(save.status, 0) << save.err;
        EXPECT_EQ(FileBytes(file), FileBytes(direct)) << "the saved file differs from the direct one";
        EXPECT_EQ(m_sim.Commands(), directWire) << "the wire traffic differs from the direct one";

        const RunResult verify = Through(url, {"verify", file});
        EXPECT_EQ(verify.status, 0) << verify.out << verify.err;
    }
}

// One accepter right after the other, without waiting: ser2net may still hold the device for the client
// before and turn the next one away ("Port's device already in use"); the tool tries again until it is
// let in.
TEST_F(Ser2netE2e, TheOtherAccepterAtOnceIsLetInOnceSer2netHasLetGoOfTheDevice) {
    for (int round = 0; round < 4; ++round) {
        for (const std::string scheme : {"rfc2217", "socket"}) {
            SCOPED_TRACE(scheme + " " + std::to_string(round));
            const RunResult read = Cli(m_ser2net.Url(scheme), {"read", "8C10"});
            EXPECT_EQ(read.status, 0) << read.err;
            EXPECT_EQ(read.out, "8C10: 32\n");
        }
    }
}

TEST_F(Ser2netE2e, PortsSaysWhatACom2NamedByUrlOpens) {
    const std::string url = m_ser2net.Url("rfc2217");
    const std::string refused = "socket://127.0.0.1:" + std::to_string(FreePort());
    const RunResult r =
        RunProgram({TESSOR_CLI_PATH, "ports"}, "/dev/null", {"TESSOR_COM2=" + url, "TESSOR_COM3=" + refused});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("COM2  " + url + ", network console (environment)  can be opened\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("COM3  " + refused +
                         ", network console (environment)  cannot be opened: Connection refused\n"),
              std::string::npos)
        << r.out;
    const RunResult bad =
        RunProgram({TESSOR_CLI_PATH, "ports"}, "/dev/null", {"TESSOR_COM2=rfc2217://cab12"});
    EXPECT_NE(bad.out.find("COM2  rfc2217://cab12, not a usable network name: no port number after the host"),
              std::string::npos)
        << bad.out;
}

TEST_F(Ser2netE2e, ShortLineTestPassesThroughBothAccepters) {
    for (const std::string scheme : {"rfc2217", "socket"}) {
        SCOPED_TRACE(scheme);
        const RunResult test =
            Through(m_ser2net.Url(scheme), {"linetest", "--duration", "2s", "--interval", "1s"});
        EXPECT_EQ(test.status, 0) << test.out << test.err;
        EXPECT_NE(test.out.find("PASS"), std::string::npos) << test.out;
    }
}

TEST_F(Ser2netE2e, MonitorThroughEachAccepterReportsTheBoardUp) {
    for (const std::string scheme : {"rfc2217", "socket"}) {
        SCOPED_TRACE(scheme);
        Process monitor;
        const std::string url = m_ser2net.Url(scheme);
        const int port = StartMonitor(monitor, {url}, "monitor-" + scheme);
        ASSERT_NE(port, 0) << ReadFile(m_dir.File("monitor-" + scheme + ".err"));
        EXPECT_TRUE(Shows(port, "tessor_up{port=\"" + url + "\",side=\"lt\"} 1", 10s))
            << Scrape(port) << ReadFile(m_dir.File("monitor-" + scheme + ".err"));
        EXPECT_EQ(monitor.SignalAndWait(SIGTERM, 2s), 0);
    }
}

// ser2net goes away under a running monitor: the board is down within the answer wait and up again,
// reconnected, once ser2net is back.
TEST_F(Ser2netE2e, Ser2netStoppedAndStartedAgainUnderTheMonitor) {
    Process monitor;
    const std::string url = m_ser2net.Url("rfc2217");
    const int port = StartMonitor(monitor, {url}, "monitor");
    ASSERT_NE(port, 0) << ReadFile(m_dir.File("monitor.err"));
    const std::string up = "tessor_up{port=\"" + url + "\",side=\"lt\"} ";
    ASSERT_TRUE(Shows(port, up + "1", 10s)) << Scrape(port);

    m_ser2net.Stop();
    EXPECT_TRUE(Shows(port, up + "0", 3s)) << Scrape(port) << ReadFile(m_dir.File("monitor.err"));
    // Away until the monitor has found it gone and failed to connect again.
    EXPECT_TRUE(WaitFor(
        [&] { return ReadFile(m_dir.File("monitor.err")).find(": cannot open (") != std::string::npos; }, 5s))
        << ReadFile(m_dir.File("monitor.err"));
    ASSERT_TRUE(m_ser2net.Start()) << ReadFile(m_dir.File("ser2net.out"));
    EXPECT_TRUE(Shows(port, up + "1", 20s)) << Scrape(port) << ReadFile(m_dir.File("monitor.err"));
    EXPECT_NE(Scrape(port).find("tessor_reconnections_total{port=\"" + url + "\",side=\"lt\"} 1"),
              std::string::npos)
        << Scrape(port);
    EXPECT_EQ(monitor.SignalAndWait(SIGTERM, 2s), 0);
}

TEST_F(Ser2netE2e, ARefusedConnectionIsAPortNotAccessibleNamingHostAndPort) {
    const std::string url = "socket://127.0.0.1:" + std::to_string(FreePort());
    for (const std::string& name : {url, "rfc2217" + url.substr(6)}) {
        const auto start = Clock::now();
        const RunResult r = Cli(name, {"read", "8C10"});
        EXPECT_EQ(r.status, 3) << r.err;
        EXPECT_NE(r.err.find(name + ": Connection refused."), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("console server"), std::string::npos) << r.err;
        EXPECT_LT(Clock::now() - start, 5s);
    }
    const RunResult unknown = Cli("rfc2217://no-such-host.invalid:7001", {"read", "8C10"});
    EXPECT_EQ(unknown.status, 3);
    EXPECT_NE(unknown.err.find("Host name not found"), std::string::npos) << unknown.err;
}

// A server that takes the connection and says nothing, not even to the telnet options: the port opens
// (for RFC 2217 after the negotiation bound) and the board does not answer.
TEST_F(Ser2netE2e, AServerThatAcceptsAndNeverAnswersIsNoAnswer) {
    FakeServer silent([](int fd) {
        while (ReadCommandLine(fd, 3s).size() > 0) {
        }
    });
    for (const std::string scheme : {"rfc2217", "socket"}) {
        SCOPED_TRACE(scheme);
        const auto start = Clock::now();
        const RunResult r = Cli(silent.Url(scheme), {"--answer-timeout-ms", "300", "read", "8C10"});
        EXPECT_EQ(r.status, 4) << r.err;
        EXPECT_LT(Clock::now() - start, 6s);
    }
}

// Half a reply, then the connection ends: the device is lost in the middle of the exchange.
TEST_F(Ser2netE2e, AConnectionClosedInTheMiddleOfAReplyEndsTheCommand) {
    FakeServer halfReply([](int fd) {
        const std::string line = ReadCommandLine(fd, 3s);
        if (!line.empty())
            SendText(fd, line + "\n\r8C");
    });
    for (const std::string scheme : {"rfc2217", "socket"}) {
        SCOPED_TRACE(scheme);
        const auto start = Clock::now();
        const RunResult r = Cli(halfReply.Url(scheme), {"--answer-timeout-ms", "1000", "read", "8C10"});
        EXPECT_EQ(r.status, 4) << r.err;
        EXPECT_NE(r.err.find("Connection closed by the console server"), std::string::npos) << r.err;
        EXPECT_LT(Clock::now() - start, 6s);
    }
}

// A server that turns every client away, as ser2net does while another client has the device: its own
// text, then the end of the connection. After about a second of trying again the port is busy, named
// with its host and port, never as an internal number or a lost adapter.
TEST_F(Ser2netE2e, AServerThatKeepsTurningClientsAwayIsThePortBusyAfterAboutASecond) {
    FakeServer busy([](int fd) { SendText(fd, "Port's device already in use\r\n"); });
    for (const std::string scheme : {"rfc2217", "socket"}) {
        SCOPED_TRACE(scheme);
        const auto start = Clock::now();
        const RunResult r = Cli(busy.Url(scheme), {"read", "8C10"});
        const auto took = Clock::now() - start;
        EXPECT_EQ(r.status, 3) << r.err;
        const std::string endpoint = busy.Url(scheme).substr(scheme.size() + 3);
        EXPECT_NE(r.err.find("the console server's port is busy or refused the connection: " + endpoint),
                  std::string::npos)
            << r.err;
        EXPECT_EQ(r.err.find("-100"), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find("adapter"), std::string::npos) << r.err;
        EXPECT_GE(took, 600ms) << "tried again for about a second";
        EXPECT_LT(took, 6s);
    }
}

// Turned away a few times, then let in: the command goes through.
TEST_F(Ser2netE2e, AServerThatLetsTheClientInAfterTurningItAwayAnswers) {
    std::atomic<int> connections{0};
    FakeServer server([&connections](int fd) {
        if (connections++ < 3) {
            SendText(fd, "Port's device already in use\r\n");
            return;
        }
        const std::string line = ReadCommandLine(fd, 5s);
        if (!line.empty())
            SendText(fd, line + "\n\r" + line.substr(3, 4) + ": 3F\n\rL>");
        ReadCommandLine(fd, 1s);
    });
    const RunResult r = Cli(server.Url("socket"), {"read", "8C10"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "8C10: 3F\n");
    EXPECT_EQ(connections.load(), 4);
}

// A telnet server without binary mode and the COM-PORT-OPTION that passes the console all the same: the
// port opens once the negotiation bound has passed, and the command is answered.
TEST_F(Ser2netE2e, ATelnetServerThatRefusesTheOptionsStillCarriesTheConsole) {
    FakeServer refusing([](int fd) {
        const unsigned char refusals[] = {0xFF, 0xFC, 0, 0xFF, 0xFE, 0, 0xFF, 0xFE, 44};
        (void)!::send(fd, refusals, sizeof refusals, MSG_NOSIGNAL);
        const std::string line = ReadCommandLine(fd, 5s);
        if (!line.empty())
            SendText(fd, line + "\n\r" + line.substr(3, 4) + ": 3F\n\rL>");
        ReadCommandLine(fd, 1s);
    });
    const auto start = Clock::now();
    const RunResult r = Cli(refusing.Url("rfc2217"), {"read", "8C10"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "8C10: 3F\n");
    EXPECT_GE(Clock::now() - start, 2s); // the negotiation bound
    EXPECT_LT(Clock::now() - start, 6s);
}

} // namespace
} // namespace tessor::network::test
