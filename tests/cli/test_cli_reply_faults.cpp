// tessor-cli against a tessor-sim whose replies are spoilt: a reply that is not the answer asked for
// (ERROR, another address, a field short, nothing) is never taken for a value.

#include "cli/CliTestSupport.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <regex>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>

namespace tessor::clitest {
namespace {

bool Exists(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0;
}

TEST(CliReplyFaults, ARegisterReadThatIsNotAnsweredAsAskedEndsWithExitCodeFour) {
    SimPty sim;
    ASSERT_TRUE(sim.Ready());
    for (const char* fault : {"error", "wrong-address", "short", "empty"}) {
        ASSERT_TRUE(sim.Control(std::string("reply 8C99 ") + fault)) << fault;
        const RunResult read = sim.Cli({"read", "8C99", "3"});
        EXPECT_EQ(read.status, 4) << fault << ": " << read.out;
        EXPECT_EQ(read.out, "") << fault;
        EXPECT_NE(read.err.find("garbled its reply: \"RD 8C99,3\\n"), std::string::npos) << read.err;
    }
    ASSERT_TRUE(sim.Control("reply off"));
    const RunResult answered = sim.Cli({"read", "8C99", "3"});
    EXPECT_EQ(answered.status, 0) << answered.err;
    EXPECT_EQ(answered.out.rfind("8C99: ", 0), 0u) << answered.out;
}

TEST(CliReplyFaults, SaveWritesNoFileAndVerifyCallsNothingEqualWhenOneRegisterAnswersError) {
    SimPty sim;
    ASSERT_TRUE(sim.Ready());
    const std::string good = sim.Dir() + "/good.LT";
    const std::string spoilt = sim.Dir() + "/g.LT";
    ASSERT_EQ(sim.Cli({"save", good}).status, 0);
    ASSERT_EQ(sim.Cli({"verify", good}).status, 0) << "the same board is equal to its own file";

    ASSERT_TRUE(sim.Control("reply 8C44 error"));
    const RunResult save = sim.Cli({"save", spoilt});
    EXPECT_EQ(save.status, 4) << save.out;
    EXPECT_FALSE(Exists(spoilt));
    EXPECT_EQ(save.out.find("Saved"), std::string::npos) << save.out;

    const RunResult verify = sim.Cli({"verify", good});
    EXPECT_EQ(verify.status, 4) << verify.out;
    EXPECT_EQ(verify.out.find("equal"), std::string::npos) << verify.out;
    const RunResult diff = sim.Cli({"diff", good});
    EXPECT_EQ(diff.status, 4) << diff.out;
    EXPECT_EQ(diff.out.find("same configuration"), std::string::npos) << diff.out;
    unlink(good.c_str());
}

TEST(CliReplyFaults, ALineTestWhosePassesComeBackGarbledFailsTheAnsweredCriterion) {
    SimPty sim;
    ASSERT_TRUE(sim.Ready());
    ASSERT_TRUE(sim.Control("reply 8C99 wrong-address"));
    const RunResult test = sim.Cli({"linetest", "--duration", "2s", "--interval", "1s"});
    EXPECT_EQ(test.status, 7) << test.out << test.err;
    EXPECT_NE(test.out.find("FAILED  The board answered every pass: "), std::string::npos) << test.out;
}

// The metrics page of a running monitor, or empty.
std::string Scrape(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    std::string page;
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        const std::string request = "GET /metrics HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
        if (send(fd, request.data(), request.size(), 0) == static_cast<ssize_t>(request.size())) {
            timeval limit{2, 0};
            setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
            char chunk[4096];
            ssize_t n;
            while ((n = recv(fd, chunk, sizeof chunk, 0)) > 0)
                page.append(chunk, static_cast<std::size_t>(n));
        }
    }
    close(fd);
    return page;
}

// Whether a family has a sample on the page.
bool HasSample(const std::string& page, const std::string& family) {
    return std::regex_search(page, std::regex("(^|\n)" + family + "[a-z_]*\\{"));
}

double Counter(const std::string& page, const std::string& name) {
    std::smatch m;
    if (!std::regex_search(page, m, std::regex("(^|\n)" + name + "\\{[^}]*\\} ([0-9.e+]+)")))
        return -1;
    return std::stod(m[2].str());
}

template <class F> bool WaitFor(F condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kGuardMs);
    while (!condition() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    return condition();
}

// Replies for other registers' addresses are counted as corrupted, and nothing they carried is exported:
// no RS errors, no link failures, no SNR, no NT side from an LT board.
TEST(CliReplyFaults, MonitorCountsWrongAddressRepliesAndExportsNothingFromThem) {
    SimPty sim;
    ASSERT_TRUE(sim.Ready());
    for (const char* address : {"8C70", "8C91", "8C99", "8D38"})
        ASSERT_TRUE(sim.Control(std::string("reply ") + address + " wrong-address"));
    testsupport::Process monitor;
    const std::string err = sim.Dir() + "/monitor.err";
    ASSERT_TRUE(
        monitor.Start({TESSOR_CLI_PATH, "monitor", sim.Link(), "--listen", "127.0.0.1:0", "--interval", "1"},
                      sim.Dir() + "/monitor.out", err));
    int port = 0;
    ASSERT_TRUE(WaitFor([&] {
        std::smatch m;
        const std::string text = testsupport::ReadFile(err);
        if (!std::regex_search(text, m, std::regex("serving http://127\\.0\\.0\\.1:([0-9]+)/metrics")))
            return false;
        port = std::stoi(m[1].str());
        return true;
    })) << testsupport::ReadFile(err);

    std::string page;
    ASSERT_TRUE(WaitFor([&] {
        page = Scrape(port);
        return Counter(page, "tessor_poll_passes_total") >= 2;
    })) << page;
    EXPECT_GE(Counter(page, "tessor_corrupted_replies_total"), 2) << page;
    EXPECT_FALSE(HasSample(page, "tessor_rs_corrected_errors")) << page;
    EXPECT_FALSE(HasSample(page, "tessor_link_failures")) << page;
    EXPECT_FALSE(HasSample(page, "tessor_line_snr_decibels")) << page;
    EXPECT_EQ(page.find("side=\"nt\""), std::string::npos) << page;

    // Answered again, the same figures are there: the checks above can fail.
    ASSERT_TRUE(sim.Control("reply off"));
    EXPECT_TRUE(WaitFor([&] {
        page = Scrape(port);
        return HasSample(page, "tessor_rs_corrected_errors") && HasSample(page, "tessor_link_failures") &&
               HasSample(page, "tessor_line_snr_decibels");
    })) << page;
    EXPECT_NE(page.find("side=\"lt\""), std::string::npos) << page;
    monitor.Stop(std::chrono::milliseconds(2000));
    for (const char* name : {"/monitor.out", "/monitor.err", "/good.LT"})
        unlink((sim.Dir() + name).c_str());
}

} // namespace
} // namespace tessor::clitest
