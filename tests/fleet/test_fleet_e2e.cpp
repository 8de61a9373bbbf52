// fleet linetest end to end: twelve simulated boards behind a real ser2net, reached through a relay in
// this test that counts the connections open at once (the console server's load) and garbles every reply
// of one board. Three boards are silent, one port is held by another client, one board has criteria it
// cannot meet. Every JSON line, the JUnit file parsed as XML, the reports, the exit code, the deadline of
// the silent boards and the bound per console server are checked.
#include "CliTestSupport.h"
#include "bench/Loopback.h"
#include "support/ChildProcess.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <poll.h>
#include <sstream>
#include <sys/socket.h>
#include <thread>

namespace {

using tessor::clitest::SimPty;
using tessor::testsupport::Environment;
using tessor::testsupport::Process;
using tessor::testsupport::RunProgram;
using tessor::testsupport::RunResult;

// Relays each of its loopback ports to one port of the console server, counting the connections open at
// once. Replies on a garbled port reach the client with every hexadecimal digit replaced.
class CountingRelay {
public:
    // upstream[i]: the console server's port behind the relay's port Port(i).
    CountingRelay(std::vector<int> upstream, std::vector<bool> garbled)
        : m_upstream(std::move(upstream)), m_garbled(std::move(garbled)) {
        for (std::size_t i = 0; i < m_upstream.size(); ++i) {
            int port = 0;
            m_listeners.push_back(tessor::bench::ListenOnLoopback(16, &port));
            m_ports.push_back(port);
        }
        m_ok = pipe(m_wake) == 0 &&
               std::all_of(m_listeners.begin(), m_listeners.end(), [](int fd) { return fd >= 0; });
        if (m_ok)
            m_thread = std::thread([this] { Run(); });
    }
    ~CountingRelay() {
        if (m_thread.joinable()) {
            const char byte = 0;
            (void)!write(m_wake[1], &byte, 1);
            m_thread.join();
        }
        for (int fd : m_listeners)
            close(fd);
        for (const Pair& p : m_pairs) {
            close(p.client);
            close(p.server);
        }
        close(m_wake[0]);
        close(m_wake[1]);
    }
    bool Ok() const { return m_ok; }
    int Port(std::size_t i) const { return m_ports[i]; }
    int Peak() const { return m_peak.load(); }
    int Accepted() const { return m_accepted.load(); }

private:
    struct Pair {
        int client;
        int server;
        bool garbled;
    };

    void Run() {
        for (;;) {
            std::vector<pollfd> fds{{m_wake[0], POLLIN, 0}};
            for (int fd : m_listeners)
                fds.push_back({fd, POLLIN, 0});
            for (const Pair& p : m_pairs) {
                fds.push_back({p.client, POLLIN, 0});
                fds.push_back({p.server, POLLIN, 0});
            }
            if (poll(fds.data(), fds.size(), -1) < 0)
                continue;
            if (fds[0].revents != 0)
                return;
            std::vector<bool> closed(m_pairs.size(), false);
            for (std::size_t i = 0; i < m_pairs.size(); ++i) {
                const pollfd& c = fds[1 + m_listeners.size() + 2 * i];
                const pollfd& s = fds[2 + m_listeners.size() + 2 * i];
                if ((c.revents != 0 && !Forward(m_pairs[i].client, m_pairs[i].server, false)) ||
                    (s.revents != 0 && !Forward(m_pairs[i].server, m_pairs[i].client, m_pairs[i].garbled)))
                    closed[i] = true;
            }
            for (std::size_t i = m_pairs.size(); i-- > 0;) {
                if (!closed[i])
                    continue;
                close(m_pairs[i].client);
                close(m_pairs[i].server);
                m_pairs.erase(m_pairs.begin() + static_cast<long>(i));
                --m_open;
            }
            for (std::size_t i = 0; i < m_listeners.size(); ++i) {
                if (fds[1 + i].revents != 0)
                    Accept(i);
            }
        }
    }

    void Accept(std::size_t i) {
        const int client = accept4(m_listeners[i], nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0)
            return;
        ++m_accepted;
        m_peak.store(std::max(m_peak.load(), ++m_open));
        const int server = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const sockaddr_in address = tessor::bench::LoopbackAddress(m_upstream[i]);
        if (server < 0 || connect(server, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
            close(client);
            if (server >= 0)
                close(server);
            --m_open;
            return;
        }
        m_pairs.push_back({client, server, m_garbled[i]});
    }

    // Copies what from has to to; false when either side is done.
    static bool Forward(int from, int to, bool garble) {
        char buffer[4096];
        const ssize_t n = read(from, buffer, sizeof buffer);
        if (n <= 0)
            return false;
        // Every hexadecimal digit spoilt, the line ends and the prompt kept: whole replies, none readable.
        if (garble)
            std::replace_if(
                buffer, buffer + n, [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; },
                '?');
        return send(to, buffer, static_cast<std::size_t>(n), MSG_NOSIGNAL) == n;
    }

    std::vector<int> m_upstream;
    std::vector<bool> m_garbled;
    std::vector<int> m_listeners;
    std::vector<int> m_ports;
    std::vector<Pair> m_pairs; // the relay's thread only
    int m_wake[2] = {-1, -1};
    int m_open = 0; // the relay's thread only
    std::atomic<int> m_peak{0};
    std::atomic<int> m_accepted{0};
    bool m_ok = false;
    std::thread m_thread;
};

using tessor::testsupport::WaitFor;

std::string ReadAll(const std::string& path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

enum class Kind { Good, Silent, Garbled, Held, Strict };

struct BoardPlan {
    const char* name;
    const char* site;
    Kind kind;
};

// Twelve boards at two sites; the sites interleave so that every wave mixes them.
constexpr BoardPlan kBoards[] = {
    {"n1", "north", Kind::Good},   {"h1", "harbour", Kind::Silent}, {"n2", "north", Kind::Good},
    {"h2", "harbour", Kind::Good}, {"n3", "north", Kind::Garbled},  {"h3", "harbour", Kind::Held},
    {"n4", "north", Kind::Silent}, {"h4", "harbour", Kind::Good},   {"n5", "north", Kind::Strict},
    {"h5", "harbour", Kind::Good}, {"n6", "north", Kind::Silent},   {"h6", "harbour", Kind::Good},
};
constexpr std::size_t kBoardCount = sizeof kBoards / sizeof kBoards[0];
constexpr int kPerServer = 3;
constexpr double kDeadlineS = 6;

TEST(FleetEndToEnd, LineTestsBehindAConsoleServerWithinTheirBounds) {
    const std::string dir = testing::TempDir() + "fleet-e2e-" + std::to_string(getpid());
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    std::vector<std::unique_ptr<SimPty>> sims;
    std::vector<int> ser2netPorts;
    std::vector<bool> garbled;
    std::ostringstream config;
    config << "%YAML 1.1\n---\n";
    for (const BoardPlan& plan : kBoards) {
        sims.push_back(std::make_unique<SimPty>(
            plan.kind == Kind::Silent ? std::vector<std::string>{"--silent"} : std::vector<std::string>{}));
        ASSERT_TRUE(sims.back()->Ready()) << plan.name;
        int port = 0;
        close(tessor::bench::ListenOnLoopback(1, &port));
        ser2netPorts.push_back(port);
        garbled.push_back(plan.kind == Kind::Garbled);
        // The garbled board is a raw TCP port, so that the relay spoils its replies and not the telnet
        // negotiation of the others.
        config << "connection: &" << plan.name
               << "\n  accepter: " << (plan.kind == Kind::Garbled ? "tcp" : "telnet(rfc2217),tcp(nodelay)")
               << ",127.0.0.1," << port << "\n  connector: serialdev," << sims.back()->Link()
               << ",9600n81,local\n";
    }
    std::ofstream(dir + "/ser2net.yaml") << config.str();
    Process ser2net;
    ASSERT_TRUE(
        ser2net.Start({TESSOR_SER2NET, "-n", "-u", "-c", dir + "/ser2net.yaml", "-P", dir + "/ser2net.pid"},
                      dir + "/ser2net.out", dir + "/ser2net.out"));
    ASSERT_TRUE(WaitFor(
        [&] {
            return std::all_of(ser2netPorts.begin(), ser2netPorts.end(),
                               [](int port) { return tessor::bench::ListensOnLoopback(port); });
        },
        std::chrono::seconds(10)))
        << ReadAll(dir + "/ser2net.out");
    CountingRelay relay(ser2netPorts, garbled);
    ASSERT_TRUE(relay.Ok());

    // Another client holds the held board's port on the console server itself.
    const std::size_t held =
        static_cast<std::size_t>(std::find_if(std::begin(kBoards), std::end(kBoards),
                                              [](const BoardPlan& p) { return p.kind == Kind::Held; }) -
                                 std::begin(kBoards));
    const int holder = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in address = tessor::bench::LoopbackAddress(ser2netPorts[held]);
    ASSERT_EQ(connect(holder, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);

    std::ofstream(dir + "/strict.txt") << "# more than the line gives\nmin_snr = 60\n";
    std::ostringstream inventory;
    inventory << "all:\n  children:\n";
    for (const char* site : {"north", "harbour"}) {
        inventory << "    " << site << ":\n      hosts:\n";
        for (std::size_t i = 0; i < kBoardCount; ++i) {
            if (std::string(kBoards[i].site) != site)
                continue;
            inventory << "        " << kBoards[i].name << ":\n          tessor_port: \""
                      << (kBoards[i].kind == Kind::Garbled ? "socket" : "rfc2217")
                      << "://127.0.0.1:" << relay.Port(i) << "\"\n";
            if (kBoards[i].kind == Kind::Strict)
                inventory << "          tessor_criteria: strict.txt\n";
        }
    }
    std::ofstream(dir + "/inventory.yaml") << inventory.str();

    const std::string out = dir + "/reports";
    const RunResult run = RunProgram(
        {TESSOR_CLI_PATH, "fleet", "--inventory", dir + "/inventory.yaml", "linetest", "--out", out,
         "--duration", "1s", "--interval", "250ms", "--per-server", std::to_string(kPerServer), "--deadline",
         std::to_string(kDeadlineS), "--junit", dir + "/junit.xml", "--html", dir + "/boards.html"},
        "/dev/null", Environment(), 120000);
    close(holder);
    ser2net.SignalAndWait(SIGTERM, std::chrono::seconds(5));

    EXPECT_EQ(run.status, 7) << run.err;
    // Never more connections to the one console server than --per-server, and more than one at a time.
    EXPECT_LE(relay.Peak(), kPerServer);
    EXPECT_GE(relay.Peak(), 2);
    EXPECT_GE(relay.Accepted(), static_cast<int>(kBoardCount));

    std::map<std::string, nlohmann::json> lines;
    std::istringstream in(run.out);
    for (std::string line; std::getline(in, line);) {
        const nlohmann::json doc = nlohmann::json::parse(line, nullptr, false);
        ASSERT_TRUE(doc.is_object()) << line;
        lines[doc.value("board", std::string())] = doc;
    }
    ASSERT_EQ(lines.size(), kBoardCount) << run.out;
    const std::string html = ReadAll(dir + "/boards.html");
    for (std::size_t i = 0; i < kBoardCount; ++i) {
        const BoardPlan& plan = kBoards[i];
        const nlohmann::json& line = lines[plan.name];
        SCOPED_TRACE(line.dump());
        EXPECT_EQ(line["site"], plan.site);
        EXPECT_EQ(line["command"], "linetest");
        EXPECT_EQ(line["port"], std::string(plan.kind == Kind::Garbled ? "socket" : "rfc2217") +
                                    "://127.0.0.1:" + std::to_string(relay.Port(i)));
        const std::string report = out + "/" + plan.site + "/" + plan.name + ".html";
        const double seconds = line["duration_seconds"].get<double>();
        switch (plan.kind) {
        case Kind::Good:
        case Kind::Strict: {
            const bool good = plan.kind == Kind::Good;
            EXPECT_EQ(line["outcome"], good ? "ok" : "failed");
            EXPECT_EQ(line["exit_code"], good ? 0 : 7);
            EXPECT_EQ(line["details"]["verdict"], good ? "passed" : "failed");
            EXPECT_EQ(line["details"]["failed_criteria"],
                      good ? nlohmann::json::array() : nlohmann::json::array({"min_snr"}));
            EXPECT_EQ(line["details"]["report"], report);
            EXPECT_NE(ReadAll(report).find(std::string(plan.site) + " / " + plan.name), std::string::npos);
            EXPECT_NE(html.find("href=\"reports/" + std::string(plan.site) + "/" + plan.name + ".html\""),
                      std::string::npos);
            break;
        }
        case Kind::Silent:
            // Ended at the deadline, long before the answer wait of 17.5 s.
            EXPECT_EQ(line["outcome"], "deadline");
            EXPECT_GE(seconds, kDeadlineS);
            EXPECT_LT(seconds, kDeadlineS + 3);
            break;
        case Kind::Garbled:
            EXPECT_EQ(line["outcome"], "garbled");
            EXPECT_EQ(line["exit_code"], 4);
            EXPECT_EQ(line["details"]["verdict"], "not_run");
            break;
        case Kind::Held:
            EXPECT_EQ(line["outcome"], "port_busy");
            EXPECT_LE(seconds, kDeadlineS + 0.5);
            EXPECT_FALSE(std::filesystem::exists(report));
            break;
        }
    }

    const std::string script =
        "import sys, xml.etree.ElementTree as E\n"
        "r = E.parse(sys.argv[1]).getroot()\n"
        "print(r.get(\"tests\"), r.get(\"failures\"), r.get(\"errors\"))\n"
        "for s in r.findall(\"testsuite\"):\n"
        "    print(s.get(\"name\"), s.get(\"tests\"), s.get(\"failures\"), s.get(\"errors\"))\n"
        "for c in sorted(r.iter(\"testcase\"), key=lambda c: c.get(\"name\")):\n"
        "    print(c.get(\"name\"), \",\".join(e.tag + \":\" + e.get(\"type\") for e in c))\n";
    const RunResult parsed = RunProgram({"/usr/bin/env", "python3", "-c", script, dir + "/junit.xml"},
                                        "/dev/null", Environment(), 30000);
    EXPECT_EQ(parsed.out.substr(0, parsed.out.find('\n') + 1), "12 1 5\n") << parsed.out << parsed.err;
    EXPECT_NE(parsed.out.find("north 6 1 3\n"), std::string::npos) << parsed.out;
    EXPECT_NE(parsed.out.find("harbour 6 0 2\n"), std::string::npos) << parsed.out;
    EXPECT_NE(parsed.out.find(
                  "h1 error:deadline\nh2 \nh3 error:port_busy\nh4 \nh5 \nh6 \n"
                  "n1 \nn2 \nn3 error:garbled\nn4 error:deadline\nn5 failure:failed\nn6 error:deadline\n"),
              std::string::npos)
        << parsed.out;
    // On a failure the folder stays, with ser2net's log, for a look at what the console server did.
    if (testing::Test::HasFailure())
        std::cerr << "kept " << dir << "\n";
    else
        std::filesystem::remove_all(dir);
}

} // namespace
