// The simulated pair driven by the real board link over the in-memory serial device.
#include "SimLinkSupport.h"
#include "SimTestSupport.h"

#include "sim/SimRegisters.h"
#include "sim/SimSerialDevice.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <memory>
#include <thread>

namespace tessor::sim {
namespace {

using namespace tessor::test; // register operations and their expected results
using test::CommandLines;
using test::FakePrompt;
using test::SleepRecorder;

class SimLink : public ::testing::Test {
protected:
    void Start(const SimConfig& config) {
        m_sim = std::make_shared<CSimulator>(config);
        m_port = std::make_unique<CConsolePort>(&m_prompt);
        std::shared_ptr<CSimulator> sim = m_sim;
        m_port->SetDeviceOpener(
            [sim](const std::string&, const LineSettings&, int*) { return CSimulator::CreateDevice(sim); });
        ASSERT_EQ(m_port->Open(9600, 8, 0, 0, "COM1:"), 1);
        g_pConsolePort.store(m_port.get());
        CConsolePort* port = m_port.get();
        m_worker = std::thread([port] { port->ConsoleWorkerThread(); });
        SleepRecorder::Reset();
        SetRestartSleepForTesting(&SleepRecorder::Sleep);
    }

    void TearDown() override {
        if (m_port) {
            m_port->RequestStop();
            m_worker.join();
            g_pConsolePort.store(nullptr);
        }
        SetRestartSleepForTesting(nullptr);
    }

    std::vector<std::string> Commands() const { return CommandLines(m_sim->BytesToBoard()); }
    int CountOf(const std::string& command) const {
        const std::vector<std::string> lines = Commands();
        return static_cast<int>(std::count(lines.begin(), lines.end(), command));
    }

    FakePrompt m_prompt;
    std::shared_ptr<CSimulator> m_sim;
    std::unique_ptr<CConsolePort> m_port;
    std::thread m_worker;
};

struct LocalCase {
    const char* name;
    std::uint8_t op;
    const char* address;
    const char* value;
    const char* sent;
    std::int64_t result; // answered with
};

void PrintTo(const LocalCase& c, std::ostream* os) {
    *os << c.name;
}

class SimLinkLocal : public SimLink, public ::testing::WithParamInterface<LocalCase> {};

TEST_P(SimLinkLocal, SendsTheLineAndGetsTheResult) {
    Start(test::TestConfig());
    EXPECT_EQ(LocalReg(GetParam().op, GetParam().address, GetParam().value), Answered(GetParam().result));
    EXPECT_EQ(m_sim->BytesToBoard(), GetParam().sent);
}

INSTANTIATE_TEST_SUITE_P(
    Ops, SimLinkLocal,
    ::testing::Values(LocalCase{"ReadOne", kRead, "8C10", " 1", "RD 8C10\n", 0x32},
                      LocalCase{"ReadThree", kRead, "8C10", " 3", "RD 8C10,3\n", 0x4F2432},
                      LocalCase{"ReadCarrierPair", kRead, "8C44", " 2", "RD 8C44,2\n", 0x00E3},
                      LocalCase{"Write", kWrite, "8C12", "66", "WR 8C12 66\n", 1},
                      LocalCase{"Or", kOr, "8C00", "02", "OR 8C00 02\n", 1},
                      LocalCase{"And", kAnd, "8C00", "FD", "ND 8C00 FD\n", 1}),
    [](const ::testing::TestParamInfo<LocalCase>& p) { return std::string(p.param.name); });

// The short waits of these tests can run out before the worker has even sent its command on a slow
// machine (seen under Wine); a fault meant for the exchange waits until the command is on the line.
// The worker sends a command in its own time, so the caller's short wait can end before the command
// has gone out. Waits until the board has received `command`; whether it has.
bool WaitUntilSent(const CSimulator& sim, const std::string& command = "\n") {
    // Generous: a loaded machine (sanitizers, a parallel suite) may not run the worker for seconds.
    const auto guard = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (sim.BytesToBoard().find(command) == std::string::npos) {
        if (std::chrono::steady_clock::now() >= guard)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

TEST_F(SimLink, WritesAndBitOperationsChangeTheLocalModem) {
    Start(test::TestConfig());
    EXPECT_EQ(LocalRegByte(kWrite, "8C12", 0x66), Answered(1));
    EXPECT_EQ(LocalReg(kRead, "8C12", " 1"), Answered(0x66));
    EXPECT_EQ(LocalReg(kOr, "8C00", "03"), Answered(1));
    EXPECT_EQ(LocalReg(kRead, "8C00", " 1"), Answered(0xC3));
    EXPECT_EQ(LocalReg(kAnd, "8C00", "FE"), Answered(1));
    EXPECT_EQ(m_sim->PeekLocal(reg::kControl), 0xC2);
    EXPECT_EQ(m_sim->PeekRemote(0x8C12), 0x4F);
}

TEST_F(SimLink, LinkUpFollowsActivation) {
    Start(test::TestConfig());
    EXPECT_EQ(LinkCheck(), LinkUp());
    EXPECT_EQ(LocalReg(kAnd, "8C00", "7F"), Answered(1));
    EXPECT_EQ(LinkCheck(), LinkDown());
    EXPECT_EQ(LocalReg(kOr, "8C00", "80"), Answered(1));
    EXPECT_EQ(LinkCheck(), LinkUp());
    EXPECT_EQ(LocalReg(kRead, "8D38", " 1"), Answered(1));
}

TEST_F(SimLink, RemoteReadIsExactlyTheMailboxSequence) {
    Start(test::TestConfig());
    EXPECT_EQ(RemoteReg(kRead, "8C40", " 1"), Answered(0x32));
    const std::vector<std::string> expected = {"RD 8C71",    "RD 8C00",    "RD 8CC0",
                                               "WR 8CD0  1", "WR 8CC2 8C", "WR 8CC1 40",
                                               "WR 8CC0 11", "RD 8CC4",    "RD 8CD0"};
    EXPECT_EQ(Commands(), expected);
}

TEST_F(SimLink, RemoteReadReachesTheOtherModemType) {
    for (ModemSide local : {kSideLT, kSideNT}) {
        SCOPED_TRACE(SideName(local));
        Start(test::TestConfig(local));
        EXPECT_EQ(LocalReg(kRead, "8C70", " 1"), Answered(local == kSideNT ? 0x10 : 0x00));
        EXPECT_EQ(RemoteReg(kRead, "8C70", " 1"), Answered(local == kSideNT ? 0x00 : 0x10));
        EXPECT_EQ(RemoteReg(kRead, "8C17", " 1"), Answered(local == kSideNT ? 0xC9 : 0x00));
        TearDown();
        m_port.reset();
    }
}

TEST_F(SimLink, RemoteMultiRegisterRead) {
    Start(test::TestConfig());
    EXPECT_EQ(RemoteReg(kRead, "8C19", " 4"), Answered(0xD7516156));
    EXPECT_EQ(CountOf("RD 8CD0,4"), 1);
}

class SimLinkCompletion : public SimLink, public ::testing::WithParamInterface<int> {};

TEST_P(SimLinkCompletion, RemoteWriteSucceedsWhenCompletionShowsWithinOneHundredReads) {
    const int n = GetParam();
    Start(test::TestConfig(kSideLT, 0, n));
    EXPECT_EQ(RemoteRegByte(kWrite, "8C10", 0x44), Answered(1));
    EXPECT_EQ(CountOf("RD 8CC4"), n);
    EXPECT_EQ(m_sim->PeekRemote(0x8C10), 0x44);
    EXPECT_EQ(m_sim->PeekLocal(0x8C10), 0x32);
}

INSTANTIATE_TEST_SUITE_P(StatusReads, SimLinkCompletion, ::testing::Values(1, 2, 50, 100));

TEST_F(SimLink, RemoteWriteThatDoesNotCompleteFailsAndTheNextOneWaitsForTheMailbox) {
    Start(test::TestConfig(kSideLT, 0, 101));
    EXPECT_EQ(RemoteRegByte(kWrite, "8C10", 0x44), Failed(Outcome::MailboxIncomplete));
    EXPECT_EQ(CountOf("RD 8CC4"), 100);
    EXPECT_EQ(m_sim->PeekRemote(0x8C10), 0x32) << "not carried out yet";
    // The next operation's link test is the 101st command: the first write completes before it.
    EXPECT_EQ(RemoteRegByte(kWrite, "8C11", 0x44), Failed(Outcome::MailboxIncomplete));
    EXPECT_EQ(m_sim->PeekRemote(0x8C10), 0x44);
}

TEST_F(SimLink, RemoteAccessIsRefusedWhileTheLineIsDown) {
    Start(test::TestConfig(kSideLT, 3000));
    EXPECT_EQ(RemoteReg(kRead, "8C40", " 1"), Failed(Outcome::LineDown));
    EXPECT_EQ(Commands(), (std::vector<std::string>{"RD 8C71", "RD 8C00"}));
    m_sim->AdvanceTime(3000);
    EXPECT_EQ(RemoteReg(kRead, "8C40", " 1"), Answered(0x32));
}

TEST_F(SimLink, PresetWrittenToBothModemsRetrainsWithIt) {
    Start(test::TestConfig());
    const std::uint8_t preset[] = {0x44, 0x44, 0x66, 0x00, 0xCD, 0x00};
    const char* const registers[] = {"8C10", "8C11", "8C12", "8C13", "8C14", "8C15"};
    for (int i = 0; i < 6; ++i) {
        ASSERT_EQ(RemoteRegByte(kWrite, registers[i], preset[i]), Answered(1)) << registers[i];
    }
    EXPECT_EQ(RestartOn(kRemote), Answered(1));
    EXPECT_EQ(SleepRecorder::Count(), 1);
    EXPECT_EQ(SleepRecorder::LastMs(), 2000);
    EXPECT_EQ(LinkCheck(), LinkDown()) << "the remote modem now runs another line configuration";
    EXPECT_EQ(m_sim->PeekRemote(0x8C40), 0x44);
    EXPECT_EQ(m_sim->PeekRemote(reg::kControl), 0xC0);
    for (int i = 0; i < 6; ++i) {
        ASSERT_EQ(LocalRegByte(kWrite, registers[i], preset[i]), Answered(1));
    }
    EXPECT_EQ(LocalReg(kRead, "8C40", " 1"), Answered(0x32)) << "read-back changes at the restart";
    EXPECT_EQ(RestartOn(kLocal), Answered(1));
    EXPECT_EQ(SleepRecorder::Count(), 1) << "no pause for the local modem";
    EXPECT_EQ(LinkCheck(), LinkUp());
    EXPECT_EQ(LocalReg(kRead, "8C40", " 1"), Answered(0x44));
    EXPECT_EQ(LocalRegByte(kRead, "8C42", 2), Answered(0x0066));
    EXPECT_EQ(LocalReg(kRead, "8D38", " 1"), Answered(1));
    EXPECT_EQ(RemoteReg(kRead, "8C44", " 1"), Answered(0xCD));
}

TEST_F(SimLink, CountersReadAsThePollThreadReadsThem) {
    Start(test::TestConfig());
    m_sim->AdvanceTime(5000);
    const RegResult frames = LocalRegByte(kRead, "8D1C", 4);
    ASSERT_TRUE(frames.ok()) << ::testing::PrintToString(frames);
    EXPECT_GE(frames.value, 850 * 5 * 8 / 10);
    EXPECT_LE(frames.value, 850 * 5 * 12 / 10);
    EXPECT_EQ(LocalRegByte(kRead, "8D1C", 4), Answered(0));
    m_sim->WithPair(
        [](CSimModemPair& pair) { pair.SetCounter(CSimModemPair::kLocal, reg::kTxOctets, 0xFEDCBA98); });
    EXPECT_EQ(LocalRegByte(kRead, "8D08", 4), Answered(0xFEDCBA98));
}

TEST_F(SimLink, PhyValuesGiveAPlausibleSnr) {
    Start(test::TestConfig());
    const RegResult errorRead = LocalRegByte(kRead, "8C99", 3);
    ASSERT_TRUE(errorRead.ok()) << ::testing::PrintToString(errorRead);
    const std::int64_t error = errorRead.value;
    ASSERT_GT(error, 0);
    // The LT receives upstream: 8C11 = 24, QAM 16, reference 79.20 dB.
    const double snr = 79.20 - 10.0 * std::log10(static_cast<double>(error));
    EXPECT_NEAR(snr, SimConfig().lineSnrDb, 0.35);
    const RegResult level = LocalRegByte(kRead, "8C9C", 2);
    EXPECT_TRUE(level.ok()) << ::testing::PrintToString(level);
    EXPECT_GT(level.value, 512);
    EXPECT_LT(level.value, 1024);
    EXPECT_EQ(LocalReg(kRead, "8C98", " 1"), Answered(0x06));
}

// ---- Faults as the tool meets them -----------------------------------------------------------------

TEST_F(SimLink, CorruptedEchoIsGarbledOnceWhileTheWriteWasCarriedOut) {
    Start(test::TestConfig());
    m_sim->CorruptNextEcho();
    EXPECT_EQ(LocalReg(kWrite, "8C12", "66"), Failed(Outcome::Garbled));
    EXPECT_EQ(m_sim->PeekLocal(0x8C12), 0x66);
    EXPECT_EQ(LocalReg(kRead, "8C12", " 1"), Answered(0x66));
}

TEST_F(SimLink, NoiseHittingAnExchangeFailsOneEchoCheck) {
    Start(test::TestConfig());
    m_sim->InjectNoiseBeforeNextEcho(5);
    EXPECT_EQ(LocalReg(kRead, "8C10", " 1"), Failed(Outcome::Garbled));
    EXPECT_EQ(LocalReg(kRead, "8C10", " 1"), Answered(0x32));
    EXPECT_EQ(m_prompt.Asked(), 0);
}

TEST_F(SimLink, NoiseWhileIdleIsDiscardedBeforeTheNextCommand) {
    Start(test::TestConfig());
    m_sim->InjectNoise(5);
    EXPECT_EQ(LocalReg(kRead, "8C10", " 1"), Answered(0x32));
    EXPECT_EQ(LocalReg(kRead, "8C10", " 1"), Answered(0x32));
    EXPECT_EQ(m_prompt.Asked(), 0);
}

TEST_F(SimLink, SilentBoardRaisesTheBoxAndItsFreshPromptEndsTheExchange) {
    Start(test::TestConfig());
    m_port->SetPollTiming(3, std::chrono::microseconds(1000));
    m_sim->SetSilent(true);
    std::shared_ptr<CSimulator> sim = m_sim;
    CConsolePort* port = m_port.get();
    m_prompt.OnAsk([sim, port] {
        // The box may come before the worker has even sent the command (a loaded machine): wait for
        // the command to reach the board, then wake the board and wait for the reply as long as it
        // takes (the guard only stops a hang).
        WaitUntilSent(*sim, "RD 8C10\n");
        port->SetPollTiming(10000, std::chrono::microseconds(1000));
        sim->SetSilent(false);
        return IUserPrompt::Answer::Retry;
    });
    EXPECT_EQ(LocalReg(kRead, "8C10", " 1"), Failed(Outcome::Garbled))
        << "the bare prompt fails the echo check";
    EXPECT_EQ(m_prompt.Asked(), 1);
    EXPECT_FALSE(m_port->NoComm());
    EXPECT_EQ(LocalReg(kRead, "8C10", " 1"), Answered(0x32));
}

TEST_F(SimLink, CancelOnASilentBoardLeavesTheToolWithoutCommunication) {
    Start(test::TestConfig());
    m_port->SetPollTiming(3, std::chrono::microseconds(1000));
    m_sim->SetSilent(true);
    EXPECT_EQ(LocalReg(kRead, "8C10", " 1"), Failed(Outcome::NoAnswer));
    EXPECT_EQ(m_prompt.Asked(), 1);
    ASSERT_TRUE(WaitUntilSent(*m_sim, "RD 8C10\n")) << "the cancelled command was never sent";
    const std::string sent = m_sim->BytesToBoard();
    m_sim->SetSilent(false);
    EXPECT_EQ(LocalReg(kRead, "8C10", " 1"), Failed(Outcome::NoAnswer));
    EXPECT_EQ(m_prompt.Asked(), 1) << "refused without a box";
    EXPECT_EQ(LinkCheck(), Failed(Outcome::NoAnswer));
    EXPECT_EQ(RemoteReg(kRead, "8C10", " 1"), Failed(Outcome::NoAnswer));
    EXPECT_EQ(m_sim->BytesToBoard(), sent) << "nothing more is sent";
}

TEST_F(SimLink, DelayedAnswerOutlastsTheWaitAndRetryCollectsIt) {
    Start(test::TestConfig());
    m_port->SetPollTiming(1, std::chrono::microseconds(1000));
    m_prompt.OnAsk([] { return IUserPrompt::Answer::Retry; });
    m_sim->SetReplyDelayMs(500);
    EXPECT_EQ(LocalReg(kRead, "8C11", " 1"), Answered(0x24));
    EXPECT_GE(m_prompt.Asked(), 1);
    m_sim->SetReplyDelayMs(0);
    EXPECT_EQ(LocalReg(kRead, "8C10", " 1"), Answered(0x32));
}

TEST_F(SimLink, HangUpDuringAnExchangeIsAReadErrorAndThenNoBoardAnswers) {
    Start(test::TestConfig());
    m_port->SetPollTiming(3, std::chrono::microseconds(1000));
    m_sim->SetSilent(true);
    std::shared_ptr<CSimulator> sim = m_sim;
    m_prompt.OnAsk([sim] {
        if (!sim->IsHungUp()) {
            WaitUntilSent(*sim); // so that it is the read that fails
            sim->HangUp();
            return IUserPrompt::Answer::Retry;
        }
        return IUserPrompt::Answer::Cancel;
    });
    const RegResult first = LocalReg(kRead, "8C10", " 1");
    EXPECT_TRUE(NothingFromTheBoard(first))
        << "no register value from a line that hung up: " << ::testing::PrintToString(first);
    const std::vector<std::string> problems = m_prompt.WaitForProblems();
    ASSERT_FALSE(problems.empty());
    EXPECT_NE(problems.front().find("Error while reading data:"), std::string::npos) << problems.front();
    EXPECT_NE(problems.front().find("5"), std::string::npos) << "EIO";
    const std::string answered = m_sim->BytesFromBoard();
    const RegResult gone = LocalReg(kRead, "8C10", " 1");
    EXPECT_TRUE(NothingFromTheBoard(gone)) << "the board is gone: " << ::testing::PrintToString(gone);
    EXPECT_EQ(m_sim->BytesFromBoard(), answered);
}

} // namespace
} // namespace tessor::sim
