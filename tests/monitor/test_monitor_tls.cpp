// The monitor's endpoint with a web configuration file: TLS, client certificates and basic authentication
// against curl, a real Prometheus and Debian's node exporter given the same file; a renewed certificate
// taken on SIGHUP. Certificates are made at test time; every server listens on 127.0.0.1.

#include "ProcessSupport.h"

#include <gtest/gtest.h>
#include <httplib.h>
#include <nlohmann/json.hpp>

#include <csignal>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

#ifndef TESSOR_SIM_PROGRAM
#error "TESSOR_SIM_PROGRAM must name the tessor-sim executable"
#endif
#ifndef TESSOR_CLI_PROGRAM
#error "TESSOR_CLI_PROGRAM must name the tessor-cli executable"
#endif
#ifndef TESSOR_MAKE_CERTS
#error "TESSOR_MAKE_CERTS must name the script that makes the test certificates"
#endif
#ifndef TESSOR_WEB_CONFIG_EXAMPLES
#error "TESSOR_WEB_CONFIG_EXAMPLES must name the folder of the shipped web configuration files"
#endif

namespace tessor::monitor::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

std::optional<double> Sample(const std::string& text, const std::string& name) {
    const std::regex line("(^|\n)" + name + "(\\{[^}]*\\})? ([^\n]+)");
    std::smatch m;
    if (!std::regex_search(text, m, line))
        return std::nullopt;
    return std::stod(m[3].str());
}

// Runs a program to its end (at most 30 s); its standard output, or nothing when it failed.
std::optional<std::string> RunProgram(const TempDir& dir, const std::vector<std::string>& args) {
    static int count = 0;
    const std::string out = dir.File("run" + std::to_string(++count) + ".out");
    Process p;
    if (!p.Start(args, out, out + ".err") || p.Wait(30s) != 0)
        return std::nullopt;
    return ReadFile(out);
}

std::string Hash(const TempDir& dir) {
    return ReadFile(dir.File("prometheus.hash"));
}

// The web configuration of these tests: TLS, a verified client certificate and one user.
std::string WebConfigText(const TempDir& dir, const std::string& cert = "server",
                          const std::string& hash = "") {
    return "tls_server_config:\n  cert_file: " + cert + ".crt\n  key_file: " + cert +
           ".key\n  client_auth_type: RequireAndVerifyClientCert\n  client_ca_file: ca.crt\n"
           "http_server_config:\n  headers:\n    X-Content-Type-Options: nosniff\n"
           "basic_auth_users:\n  prometheus: " +
           (hash.empty() ? Hash(dir) : hash) + "\n";
}

class MonitorTls : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(RunProgram(m_dir, {"/bin/bash", TESSOR_MAKE_CERTS, m_dir.Path()}))
            << "openssl or htpasswd failed";
        WriteConfig(WebConfigText(m_dir));
    }

    void WriteConfig(const std::string& text) { std::ofstream(m_dir.File("web.yml")) << text; }

    void StartMonitor() {
        ASSERT_TRUE(m_sim.Start({TESSOR_SIM_PROGRAM, "--no-pacing", "--no-stdin", "--train-ms", "300",
                                 "--link", m_dir.File("board")},
                                m_dir.File("sim.out"), m_dir.File("sim.err")));
        ASSERT_TRUE(WaitFor([this] { return access(m_dir.File("board").c_str(), F_OK) == 0; }, 5s));
        ASSERT_TRUE(
            m_monitor.Start({TESSOR_CLI_PROGRAM, "monitor", m_dir.File("board"), "--listen", "127.0.0.1:0",
                             "--interval", "1", "--web.config.file", m_dir.File("web.yml")},
                            m_dir.File("monitor.out"), m_dir.File("monitor.err")));
        const std::optional<int> port = ServingPort(m_dir.File("monitor.err"), "https");
        ASSERT_TRUE(port) << ReadFile(m_dir.File("monitor.err"));
        m_port = *port;
    }

    // The HTTP status curl got, "000" when the TLS handshake failed or the connection ended without one.
    std::string Status(int port, const std::vector<std::string>& options,
                       const std::string& path = "/metrics") {
        std::vector<std::string> args{"/usr/bin/curl", "-s",         "-o", "/dev/null", "-w",
                                      "%{http_code}",  "--max-time", "5",  "--cacert",  m_dir.File("ca.crt")};
        args.insert(args.end(), options.begin(), options.end());
        args.push_back("https://127.0.0.1:" + std::to_string(port) + path);
        static int count = 0;
        const std::string out = m_dir.File("curl" + std::to_string(++count) + ".out");
        Process curl;
        if (!curl.Start(args, out, out + ".err"))
            return "not run";
        curl.Wait(10s);
        return ReadFile(out);
    }

    std::vector<std::string> ClientCert() const {
        return {"--cert", m_dir.File("client.crt"), "--key", m_dir.File("client.key")};
    }

    std::string Scrape() {
        std::vector<std::string> args{
            "/usr/bin/curl",           "-s", "--max-time", "5", "--cacert", m_dir.File("ca.crt"), "-u",
            "prometheus:scrape-secret"};
        const auto cert = ClientCert();
        args.insert(args.end(), cert.begin(), cert.end());
        args.push_back("https://127.0.0.1:" + std::to_string(m_port) + "/metrics");
        return RunProgram(m_dir, args).value_or("");
    }

    // The serial number of the certificate the endpoint presents in a new handshake.
    std::string PresentedSerial() {
        const std::string command =
            "openssl s_client -connect 127.0.0.1:" + std::to_string(m_port) +
            " -CAfile ca.crt -cert client.crt -key client.key </dev/null 2>/dev/null | "
            "openssl x509 -noout -serial";
        return RunProgram(m_dir, {"/bin/sh", "-c",
                                  "cd '" + m_dir.Path() + "' && timeout 10 sh -c '" + command + "'"})
            .value_or("none");
    }

    std::string Serial(const std::string& cert) {
        return RunProgram(m_dir, {"/usr/bin/openssl", "x509", "-noout", "-serial", "-in", m_dir.File(cert)})
            .value_or("?");
    }

    TempDir m_dir;
    Process m_sim;
    Process m_monitor;
    int m_port = 0;
};

TEST_F(MonitorTls, TheShippedExamplesPassPromtoolAndTheMonitorStartsWithEach) {
    const std::vector<std::string> examples{"web-config-tls.yml", "web-config-basic-auth.yml",
                                            "web-config-client-cert.yml"};
    // The examples name their files relative to themselves, as installed next to them.
    for (const char* file : {"tessor-monitor.crt", "tessor-monitor.key", "client-ca.crt"}) {
        const std::string from = std::string(file) == "client-ca.crt"        ? "ca.crt"
                                 : std::string(file) == "tessor-monitor.crt" ? "server.crt"
                                                                             : "server.key";
        std::ofstream(m_dir.File(file)) << ReadFile(m_dir.File(from));
    }
    for (const std::string& example : examples) {
        std::ofstream(m_dir.File(example))
            << ReadFile(std::string(TESSOR_WEB_CONFIG_EXAMPLES) + "/" + example);
        EXPECT_TRUE(RunProgram(m_dir, {"/usr/bin/promtool", "check", "web-config", m_dir.File(example)}))
            << example;
        Process monitor;
        ASSERT_TRUE(monitor.Start({TESSOR_CLI_PROGRAM, "monitor", m_dir.File("no-board"), "--listen",
                                   "127.0.0.1:0", "--web.config.file", m_dir.File(example)},
                                  m_dir.File(example + ".out"), m_dir.File(example + ".err")));
        EXPECT_TRUE(WaitFor(
            [&] {
                return ReadFile(m_dir.File(example + ".err")).find("serving https://") != std::string::npos;
            },
            5s))
            << example << ": " << ReadFile(m_dir.File(example + ".err"));
        EXPECT_EQ(monitor.SignalAndWait(SIGTERM, 5s), 0);
    }
}

TEST_F(MonitorTls, AFileThatCannotBeUsedEndsTheStartWithTwoAndSaysWhy) {
    struct Case {
        std::string yaml;
        std::string says;
    };
    const std::vector<Case> cases{
        {"tls_server_config:\n  cert_file: server.crt\n  key_file: server.key\n  cert_flie: x\n",
         "unknown key tls_server_config.cert_flie"},
        {"tls_server_config:\n  cert_file: missing.crt\n  key_file: server.key\n", "cannot read"},
        {"tls_server_config:\n  cert_file: server.crt\n  key_file: client.key\n", "do not load as a pair"},
        {"basic_auth_users:\n  prometheus: plain-text\n", "not a bcrypt hash"},
        {"basic_auth_users:\n  prometheus: '$2y$17$" + Hash(m_dir).substr(7) + "'\n", "cost 17 is above 12"},
    };
    for (const Case& c : cases) {
        WriteConfig(c.yaml);
        Process monitor;
        ASSERT_TRUE(monitor.Start({TESSOR_CLI_PROGRAM, "monitor", m_dir.File("no-board"), "--listen",
                                   "127.0.0.1:0", "--web.config.file", m_dir.File("web.yml")},
                                  m_dir.File("bad.out"), m_dir.File("bad.err")));
        EXPECT_EQ(monitor.Wait(10s), 2) << c.yaml;
        const std::string err = ReadFile(m_dir.File("bad.err"));
        EXPECT_NE(err.find(c.says), std::string::npos) << err;
        EXPECT_NE(err.find(m_dir.File("web.yml")), std::string::npos) << err;
        EXPECT_EQ(err.find("serving"), std::string::npos) << err;
    }
}

// The same file given to both: the same status for each request, side by side.
TEST_F(MonitorTls, TheMonitorAnswersAsTheNodeExporterDoesWithTheSameFile) {
    StartMonitor();
    const int exporterPort = FreePort();
    ::mkdir(m_dir.File("textfile").c_str(), 0700);
    Process exporter;
    ASSERT_TRUE(exporter.Start(
        {"/usr/bin/prometheus-node-exporter", "--web.config.file=" + m_dir.File("web.yml"),
         "--web.listen-address=127.0.0.1:" + std::to_string(exporterPort), "--collector.disable-defaults",
         "--collector.textfile", "--collector.textfile.directory=" + m_dir.File("textfile")},
        m_dir.File("exporter.out"), m_dir.File("exporter.err")));
    ASSERT_TRUE(WaitFor([&] { return Status(exporterPort, ClientCert()) == "401"; }, 10s))
        << ReadFile(m_dir.File("exporter.err"));
    auto with = [this](std::vector<std::string> options, bool cert) {
        if (cert) {
            const auto c = ClientCert();
            options.insert(options.end(), c.begin(), c.end());
        }
        return options;
    };
    struct Case {
        const char* what;
        std::vector<std::string> options;
        const char* status; // both must give it
    };
    const std::vector<Case> cases{
        {"no credentials", with({}, true), "401"},
        {"wrong password", with({"-u", "prometheus:wrong"}, true), "401"},
        {"unknown user", with({"-u", "nobody:scrape-secret"}, true), "401"},
        {"right password", with({"-u", "prometheus:scrape-secret"}, true), "200"},
        {"no client certificate", with({"-u", "prometheus:scrape-secret"}, false), "000"},
        {"client certificate of another CA",
         {"-u", "prometheus:scrape-secret", "--cert", m_dir.File("stranger.crt"), "--key",
          m_dir.File("stranger.key")},
         "000"},
        {"TLS 1.1", with({"-u", "prometheus:scrape-secret", "--tls-max", "1.1"}, true), "000"},
        {"TLS 1.2", with({"-u", "prometheus:scrape-secret", "--tls-max", "1.2"}, true), "200"},
    };
    for (const Case& c : cases) {
        const std::string monitor = Status(m_port, c.options);
        const std::string reference = Status(exporterPort, c.options);
        EXPECT_EQ(monitor, reference) << c.what;
        EXPECT_EQ(monitor, c.status) << c.what;
    }
    exporter.Stop(5s); // it ends by the signal, without an exit status of its own
}

// Each client_auth_type, the monitor (without a board) and the node exporter side by side: no client
// certificate, one of another CA, one of the configured CA.
TEST_F(MonitorTls, EveryClientAuthTypeAnswersAsTheNodeExporterDoes) {
    struct Case {
        const char* type;
        const char* none;
        const char* stranger;
        const char* client;
    };
    const std::vector<Case> cases{
        {"NoClientCert", "200", "200", "200"},
        {"RequestClientCert", "200", "200", "200"},
        {"RequireAnyClientCert", "000", "200", "200"},
        {"VerifyClientCertIfGiven", "200", "000", "200"},
        {"RequireAndVerifyClientCert", "000", "000", "200"},
    };
    const std::vector<std::string> password{"-u", "prometheus:scrape-secret"};
    auto cert = [&](const std::string& name) {
        std::vector<std::string> options = password;
        options.insert(options.end(),
                       {"--cert", m_dir.File(name + ".crt"), "--key", m_dir.File(name + ".key")});
        return options;
    };
    ::mkdir(m_dir.File("textfile").c_str(), 0700);
    for (const Case& c : cases) {
        const std::string ca = std::string(c.type) == "NoClientCert" ? "" : "  client_ca_file: ca.crt\n";
        WriteConfig(
            "tls_server_config:\n  cert_file: server.crt\n  key_file: server.key\n  client_auth_type: " +
            std::string(c.type) + "\n" + ca + "basic_auth_users:\n  prometheus: " + Hash(m_dir) + "\n");
        Process monitor;
        ASSERT_TRUE(monitor.Start({TESSOR_CLI_PROGRAM, "monitor", m_dir.File("no-board"), "--listen",
                                   "127.0.0.1:0", "--web.config.file", m_dir.File("web.yml")},
                                  m_dir.File("monitor.out"), m_dir.File("monitor.err")));
        const std::regex serving("serving https://127\\.0\\.0\\.1:([0-9]+)/metrics");
        std::smatch m;
        std::string err;
        ASSERT_TRUE(WaitFor(
            [&] {
                err = ReadFile(m_dir.File("monitor.err"));
                return std::regex_search(err, m, serving);
            },
            5s))
            << err;
        const int port = std::stoi(m[1].str());
        const int exporterPort = FreePort();
        Process exporter;
        ASSERT_TRUE(exporter.Start(
            {"/usr/bin/prometheus-node-exporter", "--web.config.file=" + m_dir.File("web.yml"),
             "--web.listen-address=127.0.0.1:" + std::to_string(exporterPort), "--collector.disable-defaults",
             "--collector.textfile", "--collector.textfile.directory=" + m_dir.File("textfile")},
            m_dir.File("exporter.out"), m_dir.File("exporter.err")));
        ASSERT_TRUE(WaitFor([&] { return Status(exporterPort, cert("client")) == "200"; }, 10s))
            << c.type << ": " << ReadFile(m_dir.File("exporter.err"));
        const std::vector<std::pair<std::vector<std::string>, const char*>> requests{
            {password, c.none}, {cert("stranger"), c.stranger}, {cert("client"), c.client}};
        for (const auto& r : requests) {
            const std::string status = Status(port, r.first);
            EXPECT_EQ(status, Status(exporterPort, r.first)) << c.type << " " << r.first.back();
            EXPECT_EQ(status, r.second) << c.type << " " << r.first.back();
        }
        exporter.Stop(5s);
        EXPECT_EQ(monitor.SignalAndWait(SIGTERM, 5s), 0);
    }
}

// CPU time (user and system) of a process so far, in clock ticks.
long CpuTicks(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    std::istringstream fields(text.substr(text.rfind(')') + 2)); // after the command's name
    std::string field;
    long ticks = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i)
        if (i >= 14)
            ticks += std::stol(field);
    return ticks;
}

// A client that sends its ClientHello and then waits for the answer without ever going on costs the endpoint
// no CPU while it waits: the server waits for its next flight, it does not poll for it.
TEST_F(MonitorTls, AClientStalledInItsHandshakeCostsNoCpu) {
    ASSERT_NO_FATAL_FAILURE(StartMonitor());
    std::ofstream(m_dir.File("stall.py"))
        << "import socket, ssl, sys, time\n"
           "ctx = ssl.create_default_context()\n"
           "inc, out = ssl.MemoryBIO(), ssl.MemoryBIO()\n"
           "tls = ctx.wrap_bio(inc, out, server_hostname='127.0.0.1')\n"
           "try:\n    tls.do_handshake()\nexcept ssl.SSLWantReadError:\n    pass\n"
           "s = socket.create_connection(('127.0.0.1', int(sys.argv[1])))\n"
           "s.sendall(out.read())\n"
           "s.recv(65536)\n" // the server's flight, never answered
           "print('sent', flush=True)\n"
           "time.sleep(4)\n";
    Process client;
    ASSERT_TRUE(client.Start({"/usr/bin/python3", m_dir.File("stall.py"), std::to_string(m_port)},
                             m_dir.File("stall.out"), m_dir.File("stall.err")));
    ASSERT_TRUE(WaitFor([this] { return ReadFile(m_dir.File("stall.out")) == "sent\n"; }, 5s))
        << ReadFile(m_dir.File("stall.err"));
    const long before = CpuTicks(m_monitor.Pid());
    std::this_thread::sleep_for(2s);
    const long spent = CpuTicks(m_monitor.Pid()) - before;
    // Waiting costs almost nothing; polling for the client's next flight costs most of a core.
    EXPECT_LT(spent, sysconf(_SC_CLK_TCK) * 2 / 4) << spent << " ticks in 2 s";
    client.Wait(10s);
}

bool StartScrapingPrometheus(Process& prometheus, const TempDir& dir, int monitorPort, int promPort) {
    const std::string target = "      - targets: ['127.0.0.1:" + std::to_string(monitorPort) + "']\n";
    const std::string tls = "    scheme: https\n    tls_config:\n      ca_file: " + dir.File("ca.crt") + "\n";
    const std::string cert =
        "      cert_file: " + dir.File("client.crt") + "\n      key_file: " + dir.File("client.key") + "\n";
    auto job = [&](const std::string& name, const std::string& tlsPart, const std::string& password) {
        return "  - job_name: " + name + "\n" + tlsPart + "    basic_auth:\n      username: prometheus\n" +
               "      password: " + password + "\n    static_configs:\n" + target;
    };
    {
        std::ofstream config(dir.File("prometheus.yml"));
        config << "global:\n  scrape_interval: 1s\n  scrape_timeout: 1s\nscrape_configs:\n"
               << job("good", tls + cert, "scrape-secret") << job("wrong-password", tls + cert, "wrong")
               << job("no-client-cert", tls, "scrape-secret");
    }
    return StartPrometheus(prometheus, dir, promPort);
}

TEST_F(MonitorTls, PrometheusScrapesWithTlsAndBasicAuthAndTheRefusedScrapesAreCounted) {
    StartMonitor();
    const int promPort = FreePort();
    Process prometheus;
    ASSERT_TRUE(StartScrapingPrometheus(prometheus, m_dir, m_port, promPort));
    ASSERT_TRUE(WaitFor(
        [&] {
            return PrometheusQuery(promPort, "up{job=\"good\"}") == 1.0 &&
                   PrometheusQuery(promPort, "up{job=\"wrong-password\"}").has_value() &&
                   PrometheusQuery(promPort, "up{job=\"no-client-cert\"}").has_value();
        },
        40s))
        << ReadFile(m_dir.File("prometheus.err"));
    EXPECT_EQ(PrometheusQuery(promPort, "up{job=\"wrong-password\"}"), 0.0);
    EXPECT_EQ(PrometheusQuery(promPort, "up{job=\"no-client-cert\"}"), 0.0);
    EXPECT_TRUE(WaitFor([&] { return PrometheusQuery(promPort, "tessor_up{job=\"good\"}") == 1.0; }, 10s));
    // A few refused scrapes, each counted.
    std::string text;
    EXPECT_TRUE(WaitFor(
        [&] {
            text = Scrape();
            return Sample(text, "tessor_http_auth_failures_total").value_or(0) >= 3.0;
        },
        10s))
        << text;
    EXPECT_GE(Sample(text, "tessor_http_tls_handshake_failures_total").value_or(0), 1.0) << text;
    // Refusals from one address are logged once a minute at most.
    const std::string err = ReadFile(m_dir.File("monitor.err"));
    std::size_t logged = 0;
    for (auto at = err.find("refused a request"); at != std::string::npos;
         at = err.find("refused a request", at + 1))
        ++logged;
    EXPECT_EQ(logged, 1u) << err;
    EXPECT_EQ(prometheus.SignalAndWait(SIGTERM, 10s), 0);
}

// bcrypt runs beside the serving threads: while two wrong passwords are being checked at cost 12, a
// scrape from another address, whose password was checked before, is answered at once.
TEST_F(MonitorTls, WrongPasswordsBeingCheckedHoldNoScrapeFromAnotherAddress) {
    const std::optional<std::string> line =
        RunProgram(m_dir, {"/usr/bin/htpasswd", "-nbBC", "12", "prometheus", "scrape-secret"});
    ASSERT_TRUE(line && line->find(':') != std::string::npos);
    const std::string hash = line->substr(line->find(':') + 1, 60);
    WriteConfig(WebConfigText(m_dir, "server", hash));
    StartMonitor();
    ASSERT_EQ(Status(m_port, {"-u", "prometheus:scrape-secret", "--cert", m_dir.File("client.crt"), "--key",
                              m_dir.File("client.key")}),
              "200");

    Process wrong[2];
    for (int i = 0; i < 2; ++i) {
        const std::string trace = m_dir.File("wrong" + std::to_string(i) + ".trace");
        ASSERT_TRUE(wrong[i].Start({"/usr/bin/curl", "-s", "-o", "/dev/null", "--max-time", "20", "--cacert",
                                    m_dir.File("ca.crt"), "--cert", m_dir.File("client.crt"), "--key",
                                    m_dir.File("client.key"), "-u", "prometheus:wrong" + std::to_string(i),
                                    "--trace-ascii", trace,
                                    "https://127.0.0.1:" + std::to_string(m_port) + "/metrics"},
                                   "/dev/null", "/dev/null"));
    }
    // Both requests are sent (curl traces the header as it goes out).
    ASSERT_TRUE(WaitFor(
        [&] {
            return ReadFile(m_dir.File("wrong0.trace")).find("Authorization: Basic") != std::string::npos &&
                   ReadFile(m_dir.File("wrong1.trace")).find("Authorization: Basic") != std::string::npos;
        },
        10s));
    const auto start = Clock::now();
    const std::string status =
        Status(m_port, {"--interface", "127.0.0.2", "-u", "prometheus:scrape-secret", "--cert",
                        m_dir.File("client.crt"), "--key", m_dir.File("client.key")});
    const auto took = Clock::now() - start;
    const bool checking = wrong[0].Wait(0ms) == -1 || wrong[1].Wait(0ms) == -1;
    EXPECT_EQ(status, "200");
    EXPECT_LT(took, 1s) << std::chrono::duration_cast<std::chrono::milliseconds>(took).count() << " ms";
    EXPECT_TRUE(checking) << "a wrong password was still being checked";
    EXPECT_EQ(wrong[0].Wait(20s), 0);
    EXPECT_EQ(wrong[1].Wait(20s), 0);
}

TEST_F(MonitorTls, SighupTakesARenewedCertificateAndKeepsTheOldFileWhenTheNewOneDoesNotParse) {
    StartMonitor();
    const std::string first = Serial("server.crt");
    const std::string renewed = Serial("renewed.crt");
    ASSERT_NE(first, renewed);
    EXPECT_EQ(PresentedSerial(), first);

    WriteConfig(WebConfigText(m_dir, "renewed"));
    ASSERT_EQ(::kill(m_monitor.Pid(), SIGHUP), 0);
    EXPECT_TRUE(WaitFor([&] { return PresentedSerial() == renewed; }, 5s));
    EXPECT_NE(Sample(Scrape(), "tessor_up").value_or(-1), -1) << "served after the reload";

    WriteConfig("tls_server_config: [\n");
    ASSERT_EQ(::kill(m_monitor.Pid(), SIGHUP), 0);
    EXPECT_TRUE(WaitFor(
        [&] {
            return ReadFile(m_dir.File("monitor.err")).find("kept the web configuration in force") !=
                   std::string::npos;
        },
        5s))
        << ReadFile(m_dir.File("monitor.err"));
    EXPECT_EQ(PresentedSerial(), renewed);
    EXPECT_EQ(Status(m_port, ClientCert()), "401") << "still authenticating";

    WriteConfig(WebConfigText(m_dir, "renewed", "'$2y$17$" + Hash(m_dir).substr(7) + "'"));
    ASSERT_EQ(::kill(m_monitor.Pid(), SIGHUP), 0);
    EXPECT_TRUE(WaitFor(
        [&] { return ReadFile(m_dir.File("monitor.err")).find("cost 17 is above 12") != std::string::npos; },
        5s))
        << ReadFile(m_dir.File("monitor.err"));
    EXPECT_NE(Sample(Scrape(), "tessor_up").value_or(-1), -1) << "the password of the file in force";
    EXPECT_EQ(m_monitor.SignalAndWait(SIGTERM, 5s), 0);
}

} // namespace
} // namespace tessor::monitor::test
