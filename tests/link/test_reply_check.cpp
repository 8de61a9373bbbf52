// The transport calls a reply an answer only when its echo is the command and its data portion has
// exactly the form the command asked for; anything else is garbled, and a device that fails part way
// through a reply is a device failure.
#include "LinkFixture.h"

namespace tessor::test {
namespace {

struct ReplyCase {
    const char* name;
    std::uint8_t op;
    const char* address;
    const char* value;
    const char* data; // the data portion the board answers with
    bool spoilLastEchoCharacter;
    Outcome outcome;
    std::int64_t result; // the value the result carries (0 when not answered)
};

void PrintTo(const ReplyCase& c, std::ostream* os) {
    *os << c.name;
}

std::string Reply(const std::string& command, const ReplyCase& c) {
    std::string echo = command;
    if (c.spoilLastEchoCharacter)
        echo.back() = echo.back() == '0' ? '1' : '0';
    return echo + "\n" + c.data + "\n\rL>";
}

class ReplyCheckTest : public LinkTest, public ::testing::WithParamInterface<ReplyCase> {};

TEST_P(ReplyCheckTest, OutcomeAndValue) {
    const ReplyCase& c = GetParam();
    std::vector<std::string> sent;
    board->responder = [&c, &sent](const std::string& command) {
        sent.push_back(Reply(command, c));
        return sent.back();
    };
    const RegResult result = port->Exchange(c.op, c.address, c.value);
    EXPECT_EQ(result, (Expected{c.outcome, c.result}));
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(result.reply, c.outcome == Outcome::Garbled ? sent[0] : std::string())
        << "a garbled reply is kept whole for the error message";
}

constexpr Outcome kAnswered = Outcome::Answered;
constexpr Outcome kGarbled = Outcome::Garbled;

INSTANTIATE_TEST_SUITE_P(
    Replies, ReplyCheckTest,
    ::testing::Values(
        ReplyCase{"ReadOne", kRead, "8C10", " 1", "\r8C10: 3F", false, kAnswered, 0x3F},
        ReplyCase{"ReadThree", kRead, "8C99", " 3", "\r8C99: 12 34 56", false, kAnswered, 0x563412},
        ReplyCase{"ReadFour", kRead, "8C91", " 4", "\r8C91: 01 02 03 04", false, kAnswered, 0x04030201},
        ReplyCase{"TypedCountTakesTheSecondDigit", kRead, "8C99", "03", "\r8C99: 12 34 56", false, kAnswered,
                  0x563412},
        ReplyCase{"AddressSentInLowerCaseAnsweredInUpper", kRead, "8c10", " 1", "\r8C10: 3F", false,
                  kAnswered, 0x3F},
        ReplyCase{"Error", kRead, "8C99", " 3", "\rERROR", false, kGarbled, 0},
        ReplyCase{"WrongAddress", kRead, "8C99", " 3", "\r8CA9: 55 55 55", false, kGarbled, 0},
        ReplyCase{"OneFieldShort", kRead, "8C99", " 3", "\r8C99: 12 34", false, kGarbled, 0},
        ReplyCase{"AddressAndColonOnly", kRead, "8C10", " 1", "\r8C10:", false, kGarbled, 0},
        ReplyCase{"OneFieldTooMany", kRead, "8C99", " 3", "\r8C99: 12 34 56 78", false, kGarbled, 0},
        ReplyCase{"LowerCaseHexValue", kRead, "8C10", " 1", "\r8C10: 3f", false, kGarbled, 0},
        ReplyCase{"LowerCaseHexAddress", kRead, "8C10", " 1", "\r8c10: 3F", false, kGarbled, 0},
        ReplyCase{"NoColon", kRead, "8C10", " 1", "\r8C10  3F", false, kGarbled, 0},
        ReplyCase{"NoCarriageReturn", kRead, "8C10", " 1", " 8C10: 3F", false, kGarbled, 0},
        ReplyCase{"TwoBlanksNoField", kRead, "8C99", " 3", "\r8C99: 12  34 56", false, kGarbled, 0},
        ReplyCase{"EmptyDataForARead", kRead, "8C10", " 1", "", false, kGarbled, 0},
        ReplyCase{"CountNoBoardAccepts", kRead, "8C10", "0A", "\r8C10: 3F", false, kGarbled, 0},
        ReplyCase{"WriteEmpty", kWrite, "8C10", "32", "", false, kAnswered, 1},
        ReplyCase{"OrEmpty", kOr, "8C00", "08", "", false, kAnswered, 1},
        ReplyCase{"AndEmpty", kAnd, "8C00", "FD", "", false, kAnswered, 1},
        ReplyCase{"DataForAWrite", kWrite, "8C10", "32", "\r8C10: 32", false, kGarbled, 0},
        ReplyCase{"ErrorForAnAnd", kAnd, "8C00", "FD", "\rERROR", false, kGarbled, 0},
        ReplyCase{"ReadEchoDiffersInItsLastCharacter", kRead, "8C10", " 1", "\r8C10: 3F", true, kGarbled, 0},
        ReplyCase{"WriteEchoDiffersInItsLastCharacter", kWrite, "8C10", "32", "", true, kGarbled, 0}),
    [](const auto& p) { return std::string(p.param.name); });

// Every register byte of an answered read travels with the value, which keeps fifteen digits: the high
// digit of an eighth register is only in the bytes. A garbled read has none.
TEST_F(LinkTest, AnAnsweredReadCarriesEveryRegistersByte) {
    std::string data = "\r8CE4: 11 22 33 44 55 66 77 F8";
    board->responder = [&data](const std::string& command) { return command + "\n" + data + "\n\rL>"; };
    EXPECT_EQ(port->Exchange(kRead, "8CE4", " 8").bytes,
              (std::vector<std::uint8_t>{0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0xF8}));
    data.resize(data.size() - 3);
    EXPECT_TRUE(port->Exchange(kRead, "8CE4", " 8").bytes.empty());
}

// What the terminal shows does not depend on the check: a garbled read's data portion as it came, a
// garbled write nothing, a failed echo the RESET line.
TEST_F(LinkTest, TerminalShowsGarbledRepliesAsItAlwaysDid) {
    board->responder = [](const std::string& c) {
        return c.rfind("RD", 0) == 0 ? c + "\n\rERROR\n\rL>" : c + "\n\r8C10: 32\n\rL>";
    };
    EXPECT_EQ(port->Exchange(kRead, "8C99", " 3"), Failed(kGarbled));
    EXPECT_EQ(port->Exchange(kWrite, "8C10", "32"), Failed(kGarbled));
    board->responder = [](const std::string& c) { return "RX" + c.substr(2) + "\n\r8C10: 32\n\rL>"; };
    EXPECT_EQ(port->Exchange(kRead, "8C10", " 1"), Failed(kGarbled));
    const std::vector<std::string> expected = {"RD 8C99 3", " ERROR", "L> WR 8C10 32", "L> RD 8C10",
                                               "   RESET   "};
    EXPECT_EQ(sink.Shown(), expected);
}

// A board that hangs up part way through its reply, or before it, failed as a device: it did not garble.
TEST_F(LinkTest, DeviceLostMidReplyIsADeviceFailureNotAGarbledReply) {
    board->regs["8C10"] = 0x32;
    board->responder = [](const std::string& c) { return c + "\n\r8C"; };
    board->hangUpOnNextCommand = true;
    const RegResult partway = port->Exchange(kRead, "8C10", " 1");
    EXPECT_EQ(OutcomeName(partway.outcome), std::string("device_failed"));
    EXPECT_EQ(partway.reply, "");
    EXPECT_EQ(sink.Shown(), (std::vector<std::string>{"RD 8C10", "   RESET   "})) << "as it always showed";
    // Reopening finds no device: the next exchange fails as a device failure too, nothing garbled.
    ShortWaits();
    prompt.answers = {IUserPrompt::Answer::Cancel};
    const RegResult after = port->Exchange(kRead, "8C10", " 1");
    EXPECT_NE(after.outcome, Outcome::Garbled);
    EXPECT_NE(after.outcome, Outcome::Answered);
}

} // namespace
} // namespace tessor::test
