// End to end: the tessor-sim program on a pseudo-terminal, reached by a terminal-style client and by the
// real board link over the POSIX serial backend.
#include "SimLinkSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

#ifndef TESSOR_SIM_PROGRAM
#error "TESSOR_SIM_PROGRAM must name the tessor-sim executable"
#endif

namespace tessor::sim {
namespace {

using test::FakePrompt;
using test::SleepRecorder;

// Guard against a hanging test, not a measurement: nothing here should take more than a fraction of it.
constexpr int kGuardMs = 20000;

// Reads from fd until text ends with terminator (or the guard runs out); returns what was read.
std::string ReadUntil(int fd, const std::string& terminator, std::string* buffer) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kGuardMs);
    for (;;) {
        const std::size_t end = buffer->find(terminator);
        if (end != std::string::npos) {
            std::string text = buffer->substr(0, end + terminator.size());
            buffer->erase(0, end + terminator.size());
            return text;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return "";
        }
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left.count())) <= 0) {
            continue;
        }
        char chunk[256];
        const ssize_t n = read(fd, chunk, sizeof chunk);
        if (n <= 0) {
            return "";
        }
        buffer->append(chunk, static_cast<std::size_t>(n));
    }
}

// The tessor-sim program as a child process, its standard input taking fault commands.
class CSimProcess {
public:
    ~CSimProcess() {
        if (m_pid > 0) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
        for (int fd : {m_in, m_out, m_err}) {
            if (fd >= 0) {
                close(fd);
            }
        }
    }

    bool Start(const std::vector<std::string>& options) {
        int in[2], out[2], err[2];
        if (pipe(in) != 0 || pipe(out) != 0 || pipe(err) != 0) {
            return false;
        }
        m_pid = fork();
        if (m_pid == 0) {
            dup2(in[0], STDIN_FILENO);
            dup2(out[1], STDOUT_FILENO);
            dup2(err[1], STDERR_FILENO);
            for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) {
                close(fd);
            }
            std::vector<char*> argv;
            std::string program = TESSOR_SIM_PROGRAM;
            argv.push_back(program.data());
            std::vector<std::string> copy = options;
            for (std::string& option : copy) {
                argv.push_back(option.data());
            }
            argv.push_back(nullptr);
            execv(program.c_str(), argv.data());
            _exit(127);
        }
        close(in[0]);
        close(out[1]);
        close(err[1]);
        m_in = in[1];
        m_out = out[0];
        m_err = err[0];
        return m_pid > 0;
    }

    // The next slave path the program announces.
    std::string NextPath() {
        std::string line = ReadUntil(m_out, "\n", &m_outBuffer);
        if (!line.empty()) {
            line.pop_back();
        }
        return line;
    }

    // Sends a fault command and waits until the program has acknowledged it.
    bool Command(const std::string& command, const std::string& acknowledgement) {
        const std::string line = command + "\n";
        if (write(m_in, line.data(), line.size()) != static_cast<ssize_t>(line.size())) {
            return false;
        }
        return WaitForLog(acknowledgement);
    }

    bool WaitForLog(const std::string& text) {
        for (;;) {
            const std::string line = ReadUntil(m_err, "\n", &m_errBuffer);
            if (line.empty()) {
                return false;
            }
            if (line.find(text) != std::string::npos) {
                return true;
            }
        }
    }

    // Ends the program with SIGTERM; returns its exit status (-1 if it did not exit normally).
    int Terminate() {
        kill(m_pid, SIGTERM);
        int status = 0;
        waitpid(m_pid, &status, 0);
        m_pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    pid_t m_pid = -1;
    int m_in = -1;
    int m_out = -1;
    int m_err = -1;
    std::string m_outBuffer;
    std::string m_errBuffer;
};

std::string TempPath(const char* name) {
    return ::testing::TempDir() + "tessor-sim-" + std::to_string(getpid()) + "-" + name;
}

TEST(SimPty, TerminalProgramCanTypeCommands) {
    CSimProcess sim;
    const std::string pathFile = TempPath("path");
    ASSERT_TRUE(sim.Start({"--no-pacing", "--train-ms", "0", "--path-file", pathFile}));
    const std::string path = sim.NextPath();
    ASSERT_FALSE(path.empty());
    std::ifstream file(pathFile);
    std::string fromFile;
    std::getline(file, fromFile);
    EXPECT_EQ(fromFile, path);

    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0) << std::strerror(errno);
    termios tio{};
    tcgetattr(fd, &tio);
    cfmakeraw(&tio);
    tcsetattr(fd, TCSANOW, &tio);
    std::string buffer;
    const std::string typed[] = {"rd 8c10\r", "\r", "wr 8c12 5\r\n", "RD 8C12\r\n", "hello\r"};
    const std::string answers[] = {"rd 8c10\n\r8C10: 32\n\rL>", "\n\rL>", "wr 8c12 5\n\n\rL>",
                                   "RD 8C12\n\r8C12: 05\n\rL>", "hello\n\rERROR\n\rL>"};
    for (int i = 0; i < 5; ++i) {
        ASSERT_EQ(write(fd, typed[i].data(), typed[i].size()), static_cast<ssize_t>(typed[i].size()));
        EXPECT_EQ(ReadUntil(fd, "L>", &buffer), answers[i]);
    }
    close(fd);
    EXPECT_EQ(sim.Terminate(), 0);
    std::remove(pathFile.c_str());
}

class SimPtyLink : public ::testing::Test {
protected:
    void SetUp() override {
        SleepRecorder::Reset();
        SetRestartSleepForTesting(&SleepRecorder::Sleep);
    }
    void TearDown() override {
        Disconnect();
        SetRestartSleepForTesting(nullptr);
    }

    void Connect(const std::string& path, FakePrompt* prompt) {
        m_port = std::make_unique<CConsolePort>(prompt);
        ASSERT_EQ(m_port->Open(9600, 8, 0, 0, path.c_str()), 1) << path << ": " << m_port->LastOpenError();
        g_pConsolePort.store(m_port.get());
        CConsolePort* port = m_port.get();
        m_worker = std::thread([port] { port->ConsoleWorkerThread(); });
    }

    void Disconnect() {
        if (m_port) {
            m_port->RequestStop();
            m_worker.join();
            g_pConsolePort.store(nullptr);
            m_port.reset();
        }
    }

    std::unique_ptr<CConsolePort> m_port;
    std::thread m_worker;
};

TEST_F(SimPtyLink, ToolWorksBothModemsAndMeetsEveryFault) {
    CSimProcess sim;
    // Paced at 9600 baud like the real console.
    ASSERT_TRUE(sim.Start({"--train-ms", "0", "--reopen-ms", "0"}));
    const std::string path = sim.NextPath();
    ASSERT_FALSE(path.empty());
    FakePrompt prompt;
    Connect(path, &prompt);

    EXPECT_EQ(AccessLocalReg(kRead, "8C70", " 1"), 0x00);
    ASSERT_TRUE(IsLinkUp());
    EXPECT_EQ(AccessRemoteReg(kRead, "8C70", " 1"), 0x10);
    EXPECT_EQ(AccessRemoteRegByte(kWrite, "8C10", 0x44), 1);
    RestartModem(kRemote);
    EXPECT_EQ(SleepRecorder::LastMs(), 2000);
    EXPECT_FALSE(IsLinkUp());
    EXPECT_EQ(AccessLocalRegByte(kWrite, "8C10", 0x44), 1);
    RestartModem(kLocal);
    EXPECT_TRUE(IsLinkUp());
    EXPECT_EQ(AccessLocalReg(kRead, "8C40", " 1"), 0x44);
    EXPECT_EQ(AccessLocalReg(kRead, "8D38", " 1"), 1);
    const std::int64_t frames = AccessLocalRegByte(kRead, "8D1C", 4);
    EXPECT_GE(frames, 0);
    EXPECT_LT(frames, 850 * 60);

    ASSERT_TRUE(sim.Command("corrupt-echo", "next echo corrupted"));
    EXPECT_EQ(AccessLocalReg(kRead, "8C40", " 1"), 0);
    EXPECT_EQ(AccessLocalReg(kRead, "8C40", " 1"), 0x44);

    ASSERT_TRUE(sim.Command("noise 4", "sent 4 noise bytes"));
    EXPECT_EQ(AccessLocalReg(kRead, "8C41", " 1"), 0);
    EXPECT_EQ(AccessLocalReg(kRead, "8C41", " 1"), 0x24);

    ASSERT_TRUE(sim.Command("silent on", "silent on"));
    prompt.OnAsk([&sim] {
        return sim.Command("silent off", "silent off") ? IUserPrompt::Answer::Retry
                                                       : IUserPrompt::Answer::Cancel;
    });
    // A short wait for the box: the silent board never answers, and the fresh prompt after Retry comes
    // well within one such wait.
    m_port->SetPollTiming(50, std::chrono::microseconds(1000));
    EXPECT_EQ(AccessLocalReg(kRead, "8C41", " 1"), 0) << "ended by the fresh prompt";
    EXPECT_EQ(prompt.Asked(), 1);
    m_port->SetPollTiming(CConsolePort::kDefaultPollCount, CConsolePort::kDefaultPollPeriod);
    EXPECT_EQ(AccessLocalReg(kRead, "8C41", " 1"), 0x24);

    ASSERT_TRUE(sim.Command("delay 30", "reply delay 30 ms"));
    EXPECT_EQ(AccessLocalReg(kRead, "8C10", " 1"), 0x44);
    ASSERT_TRUE(sim.Command("delay 0", "reply delay 0 ms"));

    prompt.OnAsk([] { return IUserPrompt::Answer::Cancel; });
    ASSERT_TRUE(sim.Command("hangup", "hung up"));
    m_port->SetPollTiming(50, std::chrono::microseconds(1000));
    EXPECT_LE(AccessLocalReg(kRead, "8C10", " 1"), 0);
    const std::vector<std::string> problems = prompt.WaitForProblems();
    ASSERT_FALSE(problems.empty());
    EXPECT_NE(problems.front().find("Error while"), std::string::npos) << problems.front();
    Disconnect();

    // The program serves a new pseudo-terminal; the modems kept their state.
    const std::string second = sim.NextPath();
    ASSERT_FALSE(second.empty());
    FakePrompt secondPrompt;
    Connect(second, &secondPrompt);
    EXPECT_EQ(AccessLocalReg(kRead, "8C40", " 1"), 0x44);
    EXPECT_TRUE(IsLinkUp());
    Disconnect();
    EXPECT_EQ(sim.Terminate(), 0);
}

} // namespace
} // namespace tessor::sim
