// End to end: the tessor-sim program on a pseudo-terminal, reached by a terminal-style client and by the
// real board link over the POSIX serial backend.
#include "SimLinkSupport.h"
#include "support/ChildProcess.h"

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

using namespace tessor::test; // register operations and their expected results
using test::FakePrompt;
using test::SleepRecorder;

// Guard against a hanging test, not a measurement: nothing here should take more than a fraction of it.
constexpr int kGuardMs = 20000;

std::string ReadUntil(int fd, const std::string& terminator, std::string* buffer) {
    return testsupport::ReadUntil(fd, terminator, buffer, kGuardMs);
}

// The tessor-sim program as a child process, its standard input taking fault commands; its standard
// output announces each new slave path.
class CSimProcess : public testsupport::PipedProcess {
public:
    CSimProcess() : PipedProcess(kGuardMs) {}
    bool Start(const std::vector<std::string>& options) {
        std::vector<std::string> args{TESSOR_SIM_PROGRAM};
        args.insert(args.end(), options.begin(), options.end());
        return PipedProcess::Start(args);
    }
    std::string NextPath() { return ReadLine(Stream::Out); }
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

    EXPECT_EQ(LocalReg(kRead, "8C70", " 1"), Answered(0x00));
    ASSERT_EQ(LinkCheck(), LinkUp());
    EXPECT_EQ(RemoteReg(kRead, "8C70", " 1"), Answered(0x10));
    EXPECT_EQ(RemoteRegByte(kWrite, "8C10", 0x44), Answered(1));
    EXPECT_EQ(RestartOn(kRemote), Answered(1));
    EXPECT_EQ(SleepRecorder::LastMs(), 2000);
    EXPECT_EQ(LinkCheck(), LinkDown());
    EXPECT_EQ(LocalRegByte(kWrite, "8C10", 0x44), Answered(1));
    EXPECT_EQ(RestartOn(kLocal), Answered(1));
    EXPECT_EQ(LinkCheck(), LinkUp());
    EXPECT_EQ(LocalReg(kRead, "8C40", " 1"), Answered(0x44));
    EXPECT_EQ(LocalReg(kRead, "8D38", " 1"), Answered(1));
    const RegResult frames = LocalRegByte(kRead, "8D1C", 4);
    EXPECT_TRUE(frames.ok()) << ::testing::PrintToString(frames);
    EXPECT_GE(frames.value, 0);
    EXPECT_LT(frames.value, 850 * 60);

    ASSERT_TRUE(sim.Command("corrupt-echo", "next echo corrupted"));
    EXPECT_EQ(LocalReg(kRead, "8C40", " 1"), Failed(Outcome::Garbled));
    EXPECT_EQ(LocalReg(kRead, "8C40", " 1"), Answered(0x44));

    ASSERT_TRUE(sim.Command("noise 4", "sent 4 noise bytes"));
    EXPECT_EQ(LocalReg(kRead, "8C41", " 1"), Failed(Outcome::Garbled));
    EXPECT_EQ(LocalReg(kRead, "8C41", " 1"), Answered(0x24));

    ASSERT_TRUE(sim.Command("silent on", "silent on"));
    prompt.OnAsk([&sim] {
        return sim.Command("silent off", "silent off") ? IUserPrompt::Answer::Retry
                                                       : IUserPrompt::Answer::Cancel;
    });
    // A short wait for the box: the silent board never answers, and the fresh prompt after Retry comes
    // well within one such wait.
    m_port->SetPollTiming(50, std::chrono::microseconds(1000));
    EXPECT_EQ(LocalReg(kRead, "8C41", " 1"), Failed(Outcome::Garbled)) << "ended by the fresh prompt";
    EXPECT_EQ(prompt.Asked(), 1);
    m_port->SetPollTiming(CConsolePort::kDefaultPollCount, CConsolePort::kDefaultPollPeriod);
    EXPECT_EQ(LocalReg(kRead, "8C41", " 1"), Answered(0x24));

    ASSERT_TRUE(sim.Command("delay 30", "reply delay 30 ms"));
    EXPECT_EQ(LocalReg(kRead, "8C10", " 1"), Answered(0x44));
    ASSERT_TRUE(sim.Command("delay 0", "reply delay 0 ms"));

    prompt.OnAsk([] { return IUserPrompt::Answer::Cancel; });
    ASSERT_TRUE(sim.Command("hangup", "hung up"));
    m_port->SetPollTiming(50, std::chrono::microseconds(1000));
    const RegResult hungUp = LocalReg(kRead, "8C10", " 1");
    EXPECT_TRUE(NothingFromTheBoard(hungUp)) << ::testing::PrintToString(hungUp);
    const std::vector<std::string> problems = prompt.WaitForProblems();
    ASSERT_FALSE(problems.empty());
    EXPECT_NE(problems.front().find("Error while"), std::string::npos) << problems.front();
    Disconnect();

    // The program serves a new pseudo-terminal; the modems kept their state.
    const std::string second = sim.NextPath();
    ASSERT_FALSE(second.empty());
    FakePrompt secondPrompt;
    Connect(second, &secondPrompt);
    EXPECT_EQ(LocalReg(kRead, "8C40", " 1"), Answered(0x44));
    EXPECT_EQ(LinkCheck(), LinkUp());
    Disconnect();
    EXPECT_EQ(sim.Terminate(), 0);
}

} // namespace
} // namespace tessor::sim
