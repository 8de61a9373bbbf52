#include "LinkFixture.h"

namespace tessor::test {
namespace {

using Lines = std::vector<std::string>;

class RemoteTest : public LinkTest {
protected:
    void SetUp() override {
        LinkTest::SetUp();
        board->regs["8C71"] = 0x40;
        board->regs["8C00"] = 0x80;
        board->volatileRegs = {"8CC0", "8CD0", "8CC1", "8CC2"};
    }
};

TEST_F(LinkTest, ByteVariantsFormatUpperCaseHex) {
    EXPECT_EQ(LocalRegByte(kWrite, "8C10", 0x0A), Answered(1));
    EXPECT_EQ(LocalRegByte(kWrite, "8C10", 0xE3), Answered(1));
    EXPECT_EQ(LocalRegByte(kOr, "8C00", 0x05), Answered(1));
    EXPECT_EQ(LocalRegByte(kRead, "8C10", 1), Answered(0xE3));
    EXPECT_EQ(board->Wire(), "WR 8C10 0A\nWR 8C10 E3\nOR 8C00 05\nRD 8C10\n");
    char text[3];
    FormatByte(0x3E, text);
    EXPECT_STREQ(text, "3E");
}

TEST_F(LinkTest, LocalAccessFlushesTheTerminalWhateverTheResult) {
    EXPECT_EQ(LocalReg(kWrite, "8C10", "01"), Answered(1));
    EXPECT_EQ(LocalReg(9, "8C10", "01"), Failed(Outcome::DeviceFailed)) << "no such operation: nothing sent";
    EXPECT_EQ(sink.flushes, 2);
    EXPECT_EQ(board->Wire(), "WR 8C10 01\n");
}

struct LinkCase {
    const char* name;
    int status;
    int control;
    bool up;
};

class LinkUpTest : public LinkTest, public ::testing::WithParamInterface<LinkCase> {};

TEST_P(LinkUpTest, NeedsStatusBitsAndActivation) {
    board->regs["8C71"] = GetParam().status;
    board->regs["8C00"] = GetParam().control;
    EXPECT_EQ(LinkCheck(), GetParam().up ? LinkUp() : LinkDown());
    EXPECT_EQ(board->Commands(), (Lines{"RD 8C71", "RD 8C00"}));
    EXPECT_TRUE(sink.Shown().empty());
    if (!GetParam().up) {
        EXPECT_EQ(RemoteReg(kWrite, "8C10", "32"), Failed(Outcome::LineDown));
        EXPECT_EQ(board->Commands().size(), 4u);
    }
}

INSTANTIATE_TEST_SUITE_P(Line, LinkUpTest,
                         ::testing::Values(LinkCase{"ReducedLink", 0x40, 0x80, true},
                                           LinkCase{"FullLink", 0x80, 0xFF, true},
                                           LinkCase{"NoLinkBits", 0x3F, 0x80, false},
                                           LinkCase{"NotActivated", 0xC0, 0x7F, false}),
                         [](const auto& p) { return std::string(p.param.name); });

TEST_F(RemoteTest, RemoteReadTraffic) {
    board->script["8CC0"] = {1, 1, 0};
    board->script["8CC4"] = {0, 2, 1};
    board->regs["8CD0"] = 0x22;
    EXPECT_EQ(RemoteReg(kRead, "8C40", " 1"), Answered(0x22));
    EXPECT_EQ(board->Commands(),
              (Lines{"RD 8C71", "RD 8C00", "RD 8CC0", "RD 8CC0", "RD 8CC0", "WR 8CD0  1", "WR 8CC2 8C",
                     "WR 8CC1 40", "WR 8CC0 11", "RD 8CC4", "RD 8CC4", "RD 8CC4", "RD 8CD0"}));
    // The link reads stay out of the terminal; the mailbox traffic is shown.
    const Lines shown = sink.Shown();
    ASSERT_FALSE(shown.empty());
    EXPECT_EQ(shown.front(), "L> RD 8CC0");
    EXPECT_EQ(shown.back(), " 8CD0: 22");
}

TEST_F(RemoteTest, RemoteWriteTraffic) {
    board->script["8CC4"] = {2};
    EXPECT_EQ(RemoteRegByte(kWrite, "8C10", 0x32), Answered(1));
    EXPECT_EQ(board->Commands(), (Lines{"RD 8C71", "RD 8C00", "RD 8CC0", "WR 8CD0 32", "WR 8CC2 8C",
                                        "WR 8CC1 10", "WR 8CC0 12", "RD 8CC4"}));
}

TEST_F(RemoteTest, CompletionOnTheHundredthStatusReadSucceeds) {
    board->script["8CC4"] = std::deque<int>(99, 0x01);
    board->script["8CC4"].push_back(0x52);
    EXPECT_EQ(RemoteReg(kWrite, "8C10", "32"), Answered(1));
    const Lines commands = board->Commands();
    EXPECT_EQ(std::count(commands.begin(), commands.end(), "RD 8CC4"), 100);
}

TEST_F(RemoteTest, NoCompletionIsAnIncompleteMailboxAfterExactlyHundredReads) {
    board->regs["8CC4"] = 0x01;
    EXPECT_EQ(RemoteReg(kWrite, "8C10", "32"), Failed(Outcome::MailboxIncomplete));
    const Lines commands = board->Commands();
    EXPECT_EQ(std::count(commands.begin(), commands.end(), "RD 8CC4"), 100);
    EXPECT_EQ(commands.back(), "RD 8CC4");
}

TEST_F(RemoteTest, BusyMailboxIsGivenUpAfterHundredReads) {
    board->regs["8CC0"] = 0x12;
    EXPECT_EQ(RemoteReg(kWrite, "8C10", "32"), Failed(Outcome::MailboxIncomplete));
    const Lines commands = board->Commands();
    EXPECT_EQ(std::count(commands.begin(), commands.end(), "RD 8CC0"), kMailboxFreeReads);
    EXPECT_EQ(commands.size(), 2u + kMailboxFreeReads);
}

TEST_F(RemoteTest, OrAndAndAndControlRegisterDoNotWait) {
    EXPECT_EQ(RemoteReg(kOr, "8C00", "08"), Answered(1));
    EXPECT_EQ(board->Commands().back(), "WR 8CC0 13");
    EXPECT_EQ(RemoteReg(kAnd, "8C11", "F0"), Answered(1));
    EXPECT_EQ(board->Commands().back(), "WR 8CC0 14");
    EXPECT_EQ(RemoteReg(kWrite, "8C00", "C0"), Answered(1));
    EXPECT_EQ(board->Commands().back(), "WR 8CC0 12");
    const Lines commands = board->Commands();
    EXPECT_EQ(std::count(commands.begin(), commands.end(), "RD 8CC4"), 0);
}

TEST_F(RemoteTest, NonWaitingOperationFailsWhenAMailboxStepFailed) {
    // An echo failure on the start command: the same traffic, but no success.
    board->responder = [this](const std::string& c) {
        return c == "WR 8CC0 14" ? "X" + board->StandardReply(c).substr(1) : board->StandardReply(c);
    };
    EXPECT_EQ(RemoteReg(kAnd, "8C11", "F0"), Failed(Outcome::Garbled));
    EXPECT_EQ(board->Commands().back(), "WR 8CC0 14");
    EXPECT_EQ(board->Commands().size(), 7u);

    // A cancelled time-out on a step; the rest of the sequence then meets the no-communication state.
    board->responder = [this](const std::string& c) {
        return c == "WR 8CC2 8C" ? std::string() : board->StandardReply(c);
    };
    ShortWaits();
    prompt.answers = {IUserPrompt::Answer::Cancel};
    EXPECT_EQ(RemoteReg(kOr, "8C00", "20"), Failed(Outcome::NoAnswer))
        << "a remote restart with nothing sent is no success";
    EXPECT_EQ(board->Commands().back(), "WR 8CC2 8C");
}

TEST_F(RemoteTest, RemoteRestartPausesBetweenItsSteps) {
    EXPECT_EQ(RestartOn(kRemote), Answered(1));
    EXPECT_EQ(g_recordedSleeps, std::vector<int>{2000});
    const Lines commands = board->Commands();
    ASSERT_EQ(commands.size(), 14u);
    EXPECT_EQ(commands[3], "WR 8CD0 08");
    EXPECT_EQ(commands[6], "WR 8CC0 13");
    EXPECT_EQ(commands[10], "WR 8CD0 20");
    EXPECT_EQ(commands[13], "WR 8CC0 13");
}

TEST_F(LinkTest, LocalRestartDoesNotPause) {
    EXPECT_EQ(RestartOn(kLocal), Answered(1));
    EXPECT_TRUE(g_recordedSleeps.empty());
    EXPECT_EQ(board->Commands(), (Lines{"OR 8C00 08", "OR 8C00 20"}));
}

TEST_F(LinkTest, CancelledLinkReadIsNotALineUp) {
    board->regs["8C71"] = 0x40;
    board->responder = [this](const std::string& c) {
        return c == "RD 8C00" ? std::string() : board->StandardReply(c);
    };
    ShortWaits();
    prompt.answers = {IUserPrompt::Answer::Cancel};
    EXPECT_EQ(LinkCheck(), Failed(Outcome::NoAnswer)) << "a cancelled read says nothing about the line";
    EXPECT_EQ(prompt.QuestionCount(), 1u);
}

TEST_F(RemoteTest, CancelledStatusReadNeverCountsAsCompletion) {
    // The status read's reply is swallowed: the user cancels the time-out.
    board->responder = [this](const std::string& c) {
        if (c == "RD 8CC4")
            return std::string();
        return board->StandardReply(c);
    };
    ShortWaits();
    prompt.answers = {IUserPrompt::Answer::Cancel};
    EXPECT_EQ(RemoteReg(kRead, "8C40", " 1"), Failed(Outcome::NoAnswer));
    EXPECT_EQ(board->Commands().back(), "RD 8CC4");
}

} // namespace
} // namespace tessor::test
