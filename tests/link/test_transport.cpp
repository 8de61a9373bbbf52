#include "LinkFixture.h"
#include "link/NetworkSocket.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <functional>
#include <set>

namespace tessor::test {
namespace {

using Lines = std::vector<std::string>;
using Clock = std::chrono::steady_clock;

struct CommandCase {
    const char* name;
    std::uint8_t op;
    const char* address;
    const char* value;
    const char* wire;
};

class CommandLineTest : public LinkTest, public ::testing::WithParamInterface<CommandCase> {};

TEST_P(CommandLineTest, SendsExactBytes) {
    const CommandCase& c = GetParam();
    port->Exchange(c.op, c.address, c.value);
    EXPECT_EQ(board->Wire(), std::string(c.wire));
}

INSTANTIATE_TEST_SUITE_P(
    Wire, CommandLineTest,
    ::testing::Values(CommandCase{"ReadOne", kRead, "8C10", " 1", "RD 8C10\n"},
                      CommandCase{"ReadOneAsByte", kRead, "8C10", "01", "RD 8C10\n"},
                      CommandCase{"ReadThree", kRead, "8C10", " 3", "RD 8C10,3\n"},
                      CommandCase{"ReadCountTakesSecondCharacterOnly", kRead, "8C10", "0A", "RD 8C10,A\n"},
                      CommandCase{"Write", kWrite, "8C10", "32", "WR 8C10 32\n"},
                      CommandCase{"Or", kOr, "8C00", "08", "OR 8C00 08\n"},
                      CommandCase{"And", kAnd, "8C00", "FD", "ND 8C00 FD\n"},
                      CommandCase{"CopiedWithoutCaseConversion", kWrite, "8c10", "3f", "WR 8c10 3f\n"},
                      CommandCase{"UnknownOperationSendsNothing", 7, "8C10", "32", ""},
                      CommandCase{"OperationZeroSendsNothing", 0, "8C10", "32", ""}),
    [](const auto& p) { return std::string(p.param.name); });

struct ParseCase {
    const char* name;
    std::string data;
    std::int64_t value;
};

class ParseTest : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseTest, ParsesDataPortion) {
    const ParseCase& c = GetParam();
    EXPECT_EQ(CConsolePort::ParseReplyValue(c.data.c_str(), static_cast<std::uint8_t>(c.data.size())),
              c.value);
}

INSTANTIATE_TEST_SUITE_P(
    Reply, ParseTest,
    ::testing::Values(
        ParseCase{"OneRegisterWithoutColon", "\r8C10 3F", 0x3F}, ParseCase{"OneRegister", "\r8C10: 3F", 0x3F},
        ParseCase{"ThreeRegistersFirstInLowestByte", "\r8C10: 12 34 56", 0x563412},
        ParseCase{"FourRegisters", "\r8C99: 01 02 03 04", 0x04030201},
        ParseCase{"TwoRegisters", "\r8C9C: 00 FF", 0xFF00},
        ParseCase{"LowerCaseCountsZero", "\r8C10: 3f", 0x30}, ParseCase{"EmptyReadsZero", "", 0},
        ParseCase{"OneCharacterIsLowDigit", "7", 0x07}, ParseCase{"TwoCharacters", "A5", 0xA5},
        ParseCase{"EightFieldsKeepFifteenDigits", "\r8CE4: 11 22 33 44 55 66 77 88", 0x0877665544332211},
        ParseCase{"FieldsStopBelowNineCharacters", "12 34 56 78 9A", 0x9A78}),
    [](const auto& p) { return std::string(p.param.name); });

// Another client's whole line waits for at most the port's own command in flight, however closely the
// port's own commands follow one another, and comes back with the board's echo, reply and prompt.
TEST_F(LinkTest, APassedLineGoesBeforeThePortsNextCommand) {
    // While asked to, the board holds one of the port's own commands until a passed line waits for the
    // port, and notes where that command stands on the wire.
    std::atomic<bool> hold{false};
    std::atomic<bool> holding{false};
    std::atomic<std::size_t> heldAt{0};
    std::atomic<std::size_t> seen{0}; // commands on the wire so far
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    board->responder = [&](const std::string& c) {
        seen.fetch_add(1);
        if (hold.load() && c == "RD 8C10") {
            holding.store(true);
            while (port->LinesWaiting() == 0 && Clock::now() < deadline)
                std::this_thread::yield();
            heldAt.store(seen.load());
            hold.store(false);
        }
        return board->StandardReply(c);
    };
    std::atomic<bool> done{false};
    std::thread own([&] {
        for (int i = 0; i < 5000 && !done.load(); ++i)
            port->Exchange(kRead, "8C10", " 1");
    });
    std::vector<std::size_t> held;
    std::vector<std::string> replies;
    for (int line = 0; line < 5; ++line) {
        holding.store(false);
        hold.store(true);
        while (!holding.load() && Clock::now() < deadline)
            std::this_thread::yield();
        std::string reply;
        EXPECT_EQ(port->PassLine("RD 8C2" + std::to_string(line) + "\n", &reply), Outcome::Answered);
        held.push_back(heldAt.load());
        replies.push_back(reply);
    }
    done.store(true);
    own.join();
    const std::vector<std::string> commands = board->Commands();
    for (int line = 0; line < 5; ++line) {
        const std::string text = "RD 8C2" + std::to_string(line);
        const std::string& reply = replies[static_cast<std::size_t>(line)];
        EXPECT_EQ(reply.rfind(text + "\n\r8C2" + std::to_string(line) + ": ", 0), 0u) << reply;
        EXPECT_EQ(reply.substr(reply.size() - 4), "\n\rL>") << reply;
        // Right after the command in flight when it came, before any other of the port's own.
        ASSERT_LT(held[static_cast<std::size_t>(line)], commands.size());
        EXPECT_EQ(commands[held[static_cast<std::size_t>(line)]], text);
    }
}

TEST_F(LinkTest, ReadAndWriteResults) {
    board->regs["8C10"] = 0x32;
    board->regs["8C11"] = 0x41;
    board->regs["8C12"] = 0x07;
    EXPECT_EQ(port->Exchange(kRead, "8C10", " 1"), Answered(0x32));
    EXPECT_EQ(port->Exchange(kRead, "8C10", " 3"), Answered(0x074132));
    EXPECT_EQ(port->Exchange(kWrite, "8C20", "5A"), Answered(1));
    EXPECT_EQ(board->regs["8C20"], 0x5A);
    EXPECT_EQ(port->Exchange(kOr, "8C20", "80"), Answered(1));
    EXPECT_EQ(port->Exchange(kAnd, "8C20", "0F"), Answered(1));
    EXPECT_EQ(board->regs["8C20"], 0x0A);
    EXPECT_TRUE(prompt.Problems().empty());
    EXPECT_EQ(prompt.QuestionCount(), 0u);
}

TEST_F(LinkTest, TerminalLinesCarryPromptPrefixAfterTheFirstCommand) {
    board->regs["8C00"] = 0xC0;
    port->Exchange(kRead, "8C00", " 1");
    port->Exchange(kWrite, "8C10", "32");
    port->Exchange(kRead, "8C99", " 3");
    const std::vector<std::pair<std::string, int>> expected = {
        {"RD 8C00", kRead},      {" 8C00: C0", kRead},       {"L> WR 8C10 32", kWrite},
        {"L> RD 8C99 3", kRead}, {" 8C99: 00 00 00", kRead},
    };
    EXPECT_EQ(sink.Lines(), expected);
}

TEST_F(LinkTest, SilentStatusReadsAreRecognisedByTheProgramsOwnAddressTexts) {
    const std::string typed71 = "8C71";
    port->Exchange(kRead, kReg8C71, " 1");
    port->Exchange(kRead, kReg8C00, "01");
    port->Exchange(kRead, typed71.c_str(), " 1"); // same text, other storage: shown
    port->Exchange(kRead, kReg8C00, " 2");        // not a single-register read: shown
    const auto lines = sink.Lines();
    ASSERT_EQ(lines.size(), 8u);
    EXPECT_EQ(lines[0].second, kSilentRead);
    EXPECT_EQ(lines[1].second, kSilentRead);
    EXPECT_EQ(lines[2].second, kSilentRead);
    EXPECT_EQ(lines[3].second, kSilentRead);
    EXPECT_EQ(lines[4], (std::pair<std::string, int>{"L> RD 8C71", kRead}));
    EXPECT_EQ(lines[6], (std::pair<std::string, int>{"L> RD 8C00 2", kRead}));
    EXPECT_EQ(board->Wire(), "RD 8C71\nRD 8C00\nRD 8C71\nRD 8C00,2\n");
}

TEST_F(LinkTest, EchoFailureGivesResetLineAndZeroThenRecovers) {
    board->regs["8C10"] = 0x32;
    board->responder = [this](const std::string& c) {
        board->responder = [this](const std::string& next) { return board->StandardReply(next); };
        return "RX" + c.substr(2) + "\n\r8C10: 32\n\rL>";
    };
    EXPECT_EQ(port->Exchange(kRead, "8C10", " 1"), Failed(Outcome::Garbled));
    EXPECT_EQ(port->Exchange(kRead, "8C10", " 1"), Answered(0x32));
    const auto shown = sink.Shown();
    ASSERT_EQ(shown.size(), 4u);
    EXPECT_EQ(shown[1], "   RESET   ");
    EXPECT_EQ(shown[3], " 8C10: 32");
}

TEST_F(LinkTest, ReplyShorterThanEchoPlusFourGivesEmptyData) {
    board->responder = [](const std::string& c) { return c + "\nL>"; };
    EXPECT_EQ(port->Exchange(kRead, "8C10", " 1"), Failed(Outcome::Garbled));
    EXPECT_EQ(port->Exchange(kWrite, "8C10", "01"), Answered(1));
    const auto shown = sink.Shown();
    ASSERT_EQ(shown.size(), 3u);
    EXPECT_EQ(shown[1], "");
}

TEST_F(LinkTest, ReplyOverFiftyCharactersKeepsTheFirstFifty) {
    std::string data = "\r8C10:";
    for (int i = 0; i < 15; ++i)
        data += " 11";
    board->responder = [data](const std::string& c) { return c + "\n" + data + "\n\rL>"; };
    // 50 characters kept, L = 50: the data portion is characters 8 to 44 of the reply. Fifteen fields
    // for one register: garbled, so no value.
    const RegResult result = port->Exchange(kRead, "8C10", " 1");
    const auto shown = sink.Shown();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[1], " 8C10: 11 11 11 11 11 11 11 11 11 11 ");
    EXPECT_EQ(result.outcome, Outcome::Garbled);
    EXPECT_EQ(result.value, 0);
    EXPECT_EQ(g_promptLetter.load(), 1);
    board->responder = [this](const std::string& c) { return board->StandardReply(c); };
    EXPECT_EQ(port->Exchange(kWrite, "8C10", "01"), Answered(1));
}

TEST_F(LinkTest, PromptLetterFollowsTheLastPrompt) {
    board->responder = [](const std::string& c) { return c + "\n\r8C10: 05\n\rM>"; };
    port->Exchange(kRead, "8C10", " 1");
    EXPECT_EQ(g_promptLetter.load(), 2);
    board->responder = [](const std::string& c) { return c + "\n\n\rR>"; };
    port->Exchange(kWrite, "8C10", "01");
    EXPECT_EQ(g_promptLetter.load(), 3);
    port->Exchange(kWrite, "8C10", "02");
    EXPECT_EQ(sink.Shown().back(), "R> WR 8C10 02");
}

// A cancelled box ends the exchange without an answer; what follows is refused at once, with no box.
TEST_F(LinkTest, CancelGivesNoAnswerThenRefusesWithNothingSent) {
    board->silent = true;
    ShortWaits();
    prompt.answers = {IUserPrompt::Answer::Cancel};
    EXPECT_EQ(port->Exchange(kRead, "8C10", " 1"), Failed(Outcome::NoAnswer));
    EXPECT_EQ(prompt.QuestionCount(), 1u);
    EXPECT_EQ(prompt.questions[0], CConsolePort::kNoResponseText);
    EXPECT_TRUE(port->NoComm());
    const std::size_t linesBefore = sink.Lines().size();
    const std::string wireBefore = board->Wire();
    board->silent = false;
    EXPECT_EQ(port->Exchange(kWrite, "8C10", "01"), Failed(Outcome::NoAnswer));
    EXPECT_EQ(LocalReg(kRead, "8C10", " 1"), Failed(Outcome::NoAnswer));
    EXPECT_EQ(prompt.QuestionCount(), 1u) << "refused without a box";
    EXPECT_EQ(LinkCheck(), Failed(Outcome::NoAnswer));
    EXPECT_EQ(RemoteReg(kWrite, "8C10", "01"), Failed(Outcome::NoAnswer));
    EXPECT_EQ(board->Wire(), wireBefore);
    EXPECT_EQ(sink.Lines().size(), linesBefore);
    EXPECT_EQ(prompt.QuestionCount(), 1u);
}

TEST_F(LinkTest, RetryAsksAgainAfterEachCycle) {
    board->silent = true;
    ShortWaits();
    prompt.answers = {IUserPrompt::Answer::Retry, IUserPrompt::Answer::Retry, IUserPrompt::Answer::Cancel};
    EXPECT_EQ(port->Exchange(kRead, "8C10", " 1"), Failed(Outcome::NoAnswer));
    EXPECT_EQ(prompt.QuestionCount(), 3u);
    EXPECT_EQ(board->Commands().size(), 1u);
}

TEST_F(LinkTest, RetryAfterTheBoardComesBackResumes) {
    board->silent = true;
    board->regs["8C10"] = 0x32;
    ShortWaits();
    prompt.answers = {IUserPrompt::Answer::Retry};
    // The board is reset while the box is open and greets with a fresh prompt.
    prompt.onAsk = {[this] {
        board->silent = false;
        board->Inject("\n\rL>");
        GenerousWaits(); // the board answers now
    }};
    // The lost exchange ends as an echo failure.
    EXPECT_EQ(port->Exchange(kRead, "8C10", " 1"), Failed(Outcome::Garbled));
    EXPECT_EQ(prompt.QuestionCount(), 1u);
    EXPECT_FALSE(port->NoComm());
    EXPECT_EQ(port->Exchange(kRead, "8C10", " 1"), Answered(0x32));
}

TEST_F(LinkTest, FailedSendIsShownByTheWaitingCallerAtOnceAndResentOnRetry) {
    board->regs["8C10"] = 0x32;
    board->failWrites = 1;
    ShortWaits();
    prompt.answers = {IUserPrompt::Answer::Retry};
    prompt.onAsk = {[this] { GenerousWaits(); }}; // the resent command is answered
    EXPECT_EQ(port->Exchange(kRead, "8C10", " 1"), Answered(0x32)) << "RETRY sends the command again";
    EXPECT_EQ(board->Commands(), (Lines{"RD 8C10"}));
    const auto problems = prompt.Problems();
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_EQ(problems[0].rfind("Error while writing data: 5 ", 0), 0u) << problems[0];
    // On the caller's own thread (the UI thread shows it at once), before the time-out box.
    EXPECT_EQ(prompt.problemThreads[0], std::this_thread::get_id());
    EXPECT_EQ(prompt.questionsBeforeProblem[0], 0u);
    EXPECT_EQ(prompt.QuestionCount(), 1u);
}

// A device that blocks reads until interrupted and notes whether it was destroyed during one.
class BlockingDevice : public SerialDevice {
public:
    explicit BlockingDevice(std::shared_ptr<std::atomic<int>> freedInRead)
        : m_freedInRead(std::move(freedInRead)) {}
    ~BlockingDevice() override { m_freedInRead->store(m_inRead.load() ? 1 : 0); }
    IoResult Write(const std::uint8_t*, std::size_t len) override { return {IoResult::Ok, 0, len}; }
    IoResult Read(std::uint8_t*, std::size_t) override {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_inRead = true;
        m_cv.notify_all();
        m_cv.wait(lock, [this] { return m_interrupted; });
        lock.unlock();
        // The caller still runs in this object for a moment after waking.
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        m_inRead = false;
        return {IoResult::Interrupted, 0, 0};
    }
    bool Purge() override { return true; }
    void Interrupt() override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_interrupted = true;
        m_cv.notify_all();
    }
    void WaitUntilReading() {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_cv.wait(lock, [this] { return m_inRead.load(); });
    }

private:
    std::shared_ptr<std::atomic<int>> m_freedInRead;
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::atomic<bool> m_inRead{false};
    bool m_interrupted = false;
};

TEST(ConsolePortClose, CloseWhileTheWorkerReadsFreesTheDeviceOnlyAfterTheReadReturns) {
    auto freedInRead = std::make_shared<std::atomic<int>>(-1);
    BlockingDevice* device = nullptr;
    FakePrompt prompt;
    CConsolePort port(&prompt);
    port.SetDeviceOpener([&](const std::string&, const LineSettings&, int*) {
        auto d = std::make_unique<BlockingDevice>(freedInRead);
        device = d.get();
        return std::unique_ptr<SerialDevice>(std::move(d));
    });
    ASSERT_EQ(port.Open(9600, 8, 0, 0, "COM1:"), 1);
    std::thread worker([&port] { port.ConsoleWorkerThread(); });
    RegResult result = RegResult::Answer(99);
    std::thread caller([&] { result = port.Exchange(kRead, "8C10", " 1"); });
    device->WaitUntilReading();
    port.Close();
    caller.join();
    EXPECT_EQ(result, Failed(Outcome::DeviceFailed)) << "the abandoned exchange: no answer from the device";
    EXPECT_EQ(freedInRead->load(), 0) << "freed, and not while the worker was reading";
    port.RequestStop();
    worker.join();
}

// Answers every read with a hang-up, as an adapter pulled out (or a console server gone) does.
class HungUpDevice : public SerialDevice {
public:
    explicit HungUpDevice(std::shared_ptr<std::atomic<int>> writes = nullptr) : m_writes(std::move(writes)) {}
    IoResult Write(const std::uint8_t*, std::size_t len) override {
        if (m_writes)
            ++*m_writes;
        return {IoResult::Ok, 0, len};
    }
    IoResult Read(std::uint8_t*, std::size_t) override { return {IoResult::HungUp, 5, 0}; }
    bool Purge() override { return true; }
    void Interrupt() override {}

private:
    std::shared_ptr<std::atomic<int>> m_writes;
};

// A reopen that hangs (an unreachable console server waits out its connect time-out) must not hold up
// Close() or a stop; the device it brings back after the Close() is not taken into use.
TEST(ConsolePortClose, CloseAndStopDoNotWaitForAReopenUnderWay) {
    std::mutex mutex;
    std::condition_variable cv;
    bool reopening = false, released = false, gaveUp = false;
    auto reopenedWrites = std::make_shared<std::atomic<int>>(0);
    int opens = 0;
    FakePrompt prompt;
    CConsolePort port(&prompt);
    port.SetDeviceOpener([&](const std::string&, const LineSettings&, int*) -> std::unique_ptr<SerialDevice> {
        if (opens++ == 0)
            return std::make_unique<HungUpDevice>();
        std::unique_lock<std::mutex> lock(mutex);
        reopening = true;
        cv.notify_all();
        gaveUp = !cv.wait_for(lock, std::chrono::seconds(10), [&] { return released; });
        return std::make_unique<HungUpDevice>(reopenedWrites);
    });
    port.SetPollTiming(1000000, std::chrono::microseconds(1000));
    ASSERT_EQ(port.Open(9600, 8, 0, 0, "COM1:"), 1);
    std::thread worker([&port] { port.ConsoleWorkerThread(); });
    EXPECT_EQ(port.Exchange(kRead, "8C10", " 1").outcome, Outcome::DeviceFailed);
    std::atomic<int> second{-1};
    std::thread caller([&] { second = static_cast<int>(port.Exchange(kRead, "8C10", " 1").outcome); });
    {
        std::unique_lock<std::mutex> lock(mutex);
        ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(10), [&] { return reopening; }));
    }
    port.Close();
    port.RequestStop();
    caller.join();
    {
        std::lock_guard<std::mutex> lock(mutex);
        released = true;
    }
    cv.notify_all();
    worker.join();
    EXPECT_FALSE(gaveUp) << "Close() or the stop waited for the reopen";
    EXPECT_EQ(second.load(), static_cast<int>(Outcome::Cancelled));
    EXPECT_EQ(reopenedWrites->load(), 0) << "the device reopened after Close() is let go, unused";
}

TEST_F(LinkTest, InputArrivingWhileIdleIsNotTakenForTheNextReply) {
    board->regs["8C10"] = 0x32;
    board->regs["8C11"] = 0x41;
    EXPECT_EQ(port->Exchange(kRead, "8C10", " 1"), Answered(0x32));
    // A board reset prints a fresh prompt unasked; noise may follow it.
    board->Inject("\n\rL>");
    board->Inject("x7 q");
    EXPECT_EQ(port->Exchange(kRead, "8C11", " 1"), Answered(0x41));
    EXPECT_EQ(port->Exchange(kRead, "8C10", " 1"), Answered(0x32));
    for (const std::string& line : sink.Shown())
        EXPECT_EQ(line.find("RESET"), std::string::npos) << line;
}

TEST_F(LinkTest, HangUpShowsOneReadErrorAndNoStream) {
    board->regs["8C10"] = 0x32;
    board->silent = true;
    board->hangUpOnNextCommand = true;
    EXPECT_EQ(port->Exchange(kRead, "8C10", " 1"), Failed(Outcome::DeviceFailed));
    EXPECT_EQ(prompt.QuestionCount(), 0u);
    ShortWaits();
    prompt.answers = {IUserPrompt::Answer::Retry, IUserPrompt::Answer::Cancel};
    // No device to reopen: the send fails, RETRY sends again, CANCEL gives up.
    const RegResult cancelled = port->Exchange(kRead, "8C10", " 1");
    EXPECT_TRUE(NothingFromTheBoard(cancelled)) << ::testing::PrintToString(cancelled);
    EXPECT_EQ(prompt.QuestionCount(), 2u);
    EXPECT_EQ(port->Exchange(kRead, "8C10", " 1"), Failed(Outcome::NoAnswer)) << "refused without a box";
    const auto problems = prompt.Problems();
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_EQ(problems[0].rfind("Error while reading data: 5 ", 0), 0u) << problems[0];
    EXPECT_EQ(problems[0].substr(problems[0].size() - 2), " \n");
    EXPECT_EQ(prompt.QuestionCount(), 2u);
}

TEST_F(LinkTest, StopWakesAWorkerBlockedOnASilentBoard) {
    board->silent = true;
    port->SetPollTiming(1000000, std::chrono::microseconds(1000));
    RegResult result = RegResult::Answer(99);
    std::thread caller([&] { result = port->Exchange(kRead, "8C10", " 1"); });
    while (board->Commands().empty())
        std::this_thread::yield();
    g_bStopThreads.store(1);
    StopWorker();
    caller.join();
    EXPECT_EQ(result, Failed(Outcome::Cancelled));
    EXPECT_EQ(prompt.QuestionCount(), 0u);
    EXPECT_TRUE(prompt.Problems().empty());
    g_bStopThreads.store(0);
}

// One poll period far longer than any test: a caller that still slept a whole period before looking
// would be seen at once, and a time-out cannot happen while the test runs.
constexpr std::chrono::seconds kLongPollPeriod{20};

TEST_F(LinkTest, CallerWakesWhenTheReplyLandsNotAtTheEndOfAPollPeriod) {
    board->regs["8C10"] = 0x32;
    port->SetPollTiming(2, kLongPollPeriod);
    const auto start = std::chrono::steady_clock::now();
    const RegResult first = port->Exchange(kRead, "8C10", " 1");
    const RegResult second = port->Exchange(kWrite, "8C10", "33");
    const auto waited =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    EXPECT_EQ(first.outcome, Outcome::Answered);
    EXPECT_EQ(first.value, 0x32);
    EXPECT_EQ(second.outcome, Outcome::Answered);
    EXPECT_EQ(board->regs["8C10"], 0x33);
    EXPECT_LT(waited, kLongPollPeriod / 2)
        << "the caller slept out a poll period: " << waited.count() << " ms";
    EXPECT_EQ(prompt.QuestionCount(), 0u);
}

TEST_F(LinkTest, StopEndsTheCallersWaitWithinAPollPeriod) {
    board->silent = true;
    port->SetPollTiming(2, kLongPollPeriod);
    RegResult result = RegResult::Answer(99);
    std::thread caller([&] { result = port->Exchange(kRead, "8C10", " 1"); });
    while (board->Commands().empty())
        std::this_thread::yield();
    const auto start = std::chrono::steady_clock::now();
    StopWorker();
    caller.join();
    const auto waited =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    EXPECT_LT(waited, kLongPollPeriod / 2)
        << "the caller slept out a poll period: " << waited.count() << " ms";
    EXPECT_EQ(result.outcome, Outcome::Cancelled);
    EXPECT_EQ(prompt.QuestionCount(), 0u);
}

TEST_F(LinkTest, IdleWorkerStopsWithoutSending) {
    g_bStopThreads.store(1);
    port->WakeWorker();
    worker.join();
    EXPECT_EQ(board->Wire(), "");
    g_bStopThreads.store(0);
}

TEST_F(LinkTest, ConcurrentCallersEachGetTheirOwnResult) {
    constexpr int kThreads = 4;
    constexpr int kRounds = 60;
    for (int t = 0; t < kThreads; ++t)
        board->regs["8D4" + std::to_string(t)] = 0x10 + t;
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &wrong] {
            const std::string address = "8D4" + std::to_string(t);
            for (int i = 0; i < kRounds; ++i) {
                const RegResult result = LocalReg(kRead, address.c_str(), " 1");
                if (!result.ok() || result.value != 0x10 + t)
                    ++wrong;
            }
        });
    }
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_FALSE(board->overlapped.load());
    const auto lines = sink.Lines();
    ASSERT_EQ(lines.size(), 2u * kThreads * kRounds);
    // Each command line is followed by its own reply: no line lost, doubled or interleaved.
    for (std::size_t i = 0; i < lines.size(); i += 2) {
        const std::string address = lines[i].first.substr(lines[i].first.size() - 4);
        EXPECT_EQ(lines[i + 1].first, " " + address + ": 1" + address.substr(3));
    }
    EXPECT_EQ(sink.flushes, kThreads * kRounds);
}

// A console server's connection that says what it is scripted to, then ends with the given error.
class EndingConnection : public SerialDevice {
public:
    EndingConnection(std::string says, int endError) : m_says(std::move(says)), m_endError(endError) {}
    IoResult Write(const std::uint8_t*, std::size_t len) override { return {IoResult::Ok, 0, len}; }
    IoResult Read(std::uint8_t* data, std::size_t len) override {
        if (m_next == m_says.size() || len == 0)
            return {IoResult::HungUp, m_endError, 0};
        data[0] = static_cast<std::uint8_t>(m_says[m_next++]);
        return {IoResult::Ok, 0, 1};
    }
    bool Purge() override { return true; }
    void Interrupt() override {}

private:
    std::string m_says;
    std::size_t m_next = 0;
    int m_endError;
};

const char kInUse[] = "Port's device already in use\r\n";
// The system's numbers for a connection reset and one aborted by the other side.
#ifdef _WIN32
constexpr int kReset = 10054;   // WSAECONNRESET
constexpr int kAborted = 10053; // WSAECONNABORTED
#else
constexpr int kReset = ECONNRESET;
constexpr int kAborted = EPIPE;
#endif

// A port whose opener hands out the given connections in turn, then the board; counts the opens.
struct TurnAwayLink {
    explicit TurnAwayLink(std::vector<std::function<std::unique_ptr<SerialDevice>()>> connections)
        : port(&prompt) {
        port.SetDeviceOpener([this, connections](const std::string&, const LineSettings&, int* err) {
            const std::size_t n = opens++;
            if (n < connections.size())
                return connections[n]();
            if (!board) {
                *err = kNetworkPortBusy;
                return std::unique_ptr<SerialDevice>();
            }
            return std::unique_ptr<SerialDevice>(std::move(board));
        });
        port.SetPollTiming(60000, std::chrono::microseconds(1000));
        board = std::make_unique<FakeBoard>();
        board->regs["8C10"] = 0x32;
    }
    ~TurnAwayLink() {
        port.RequestStop();
        if (worker.joinable())
            worker.join();
    }
    void Start() {
        worker = std::thread([this] { port.ConsoleWorkerThread(); });
    }

    FakePrompt prompt;
    CConsolePort port;
    std::unique_ptr<FakeBoard> board;
    std::size_t opens = 0;
    std::thread worker;
};

std::function<std::unique_ptr<SerialDevice>()> Ends(std::string says, int error) {
    return [says, error] { return std::make_unique<EndingConnection>(says, error); };
}

// A connection the console server ends, closed or reset, before the console said anything (its own
// text aside) was turned away: it is opened again after a pause, and the command goes through.
TEST(ConsolePortBusy, ATurnedAwayConnectionIsOpenedAgainAndTheCommandGoesThrough) {
    TurnAwayLink link({Ends("", kNetworkClosedByServer), Ends(kInUse, kNetworkClosedByServer),
                       Ends(kInUse, kReset), Ends("", kAborted)});
    ASSERT_EQ(link.port.Open(9600, 8, 0, 0, "socket://cab12:7002"), 1);
    link.Start();
    EXPECT_EQ(link.port.Exchange(kRead, "8C10", " 1"), Answered(0x32));
    EXPECT_EQ(link.opens, 5u);
    EXPECT_TRUE(link.prompt.Problems().empty()) << ::testing::PrintToString(link.prompt.Problems());
}

// Still turned away when the busy retry time has passed: the command ends, the device failed, and the
// error is the port busy, in words, never the tool's own number.
TEST(ConsolePortBusy, AServerStillTurningAwayAfterTheRetryTimeIsThePortBusy) {
    std::vector<std::function<std::unique_ptr<SerialDevice>()>> always(50,
                                                                       Ends(kInUse, kNetworkClosedByServer));
    TurnAwayLink link(always);
    link.port.SetBusyRetry(std::chrono::milliseconds(200));
    ASSERT_EQ(link.port.Open(9600, 8, 0, 0, "socket://cab12:7002"), 1);
    link.Start();
    const auto start = Clock::now();
    EXPECT_EQ(link.port.Exchange(kRead, "8C10", " 1"), Failed(Outcome::DeviceFailed));
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(3));
    EXPECT_GE(link.opens, 3u) << "tried again with growing pauses";
    EXPECT_LE(link.opens, 5u) << "20, 40, 80 ms pauses fit into 200 ms, 160 more do not";
    EXPECT_EQ(link.port.LastDeviceError(), kNetworkPortBusy);
    const auto problems = link.prompt.Problems();
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_EQ(problems[0], "Error while reading data: the console server's port is busy or refused the "
                           "connection \n");
}

// Once the echo has begun the console has spoken: an end then is the connection lost, not tried again.
// A local device's hang-up is never the port busy.
TEST(ConsolePortBusy, AnEndAfterTheEchoBeganOrALocalHangUpIsNotTriedAgain) {
    const struct {
        const char* name;
        std::function<std::unique_ptr<SerialDevice>()> connection;
        int error;
        const char* problem;
    } cases[] = {
        {"EchoBegan", Ends("RD 8C10\n\r8C", kNetworkClosedByServer), kNetworkClosedByServer,
         "Error while reading data: Connection closed by the console server \n"},
        {"LocalHangUp", Ends("", EIO), EIO, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TurnAwayLink link({c.connection});
        ASSERT_EQ(link.port.Open(9600, 8, 0, 0, "socket://cab12:7002"), 1);
        link.Start();
        EXPECT_EQ(link.port.Exchange(kRead, "8C10", " 1"), Failed(Outcome::DeviceFailed));
        EXPECT_EQ(link.opens, 1u);
        EXPECT_EQ(link.port.LastDeviceError(), c.error);
        const auto problems = link.prompt.Problems();
        ASSERT_EQ(problems.size(), 1u);
        if (c.problem) {
            EXPECT_EQ(problems[0], c.problem);
        }
    }
}

// The opening is tried again the same way while the server turns it away (a telnet negotiation ended).
TEST(ConsolePortBusy, TheOpeningIsTriedAgainWhileThePortIsBusy) {
    int busyOpens = 2;
    int opens = 0;
    FakePrompt prompt;
    CConsolePort port(&prompt);
    port.SetDeviceOpener([&](const std::string&, const LineSettings&, int* err) {
        ++opens;
        if (busyOpens-- > 0) {
            *err = kNetworkPortBusy;
            return std::unique_ptr<SerialDevice>();
        }
        return std::unique_ptr<SerialDevice>(std::make_unique<FakeBoard>());
    });
    EXPECT_EQ(port.Open(9600, 8, 0, 0, "rfc2217://cab12:7001"), 1);
    EXPECT_EQ(opens, 3);

    busyOpens = 1000;
    opens = 0;
    port.SetBusyRetry(std::chrono::milliseconds(100));
    const auto start = Clock::now();
    EXPECT_EQ(port.Open(9600, 8, 0, 0, "rfc2217://cab12:7001"), 0);
    EXPECT_EQ(port.LastOpenError(), kNetworkPortBusy);
    EXPECT_GE(opens, 2);
    EXPECT_LE(opens, 4);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(3));
}

} // namespace
} // namespace tessor::test
