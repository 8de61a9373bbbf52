// The fault commands that spoil a read's reply, fix a counter's count or drop the line several times,
// as the console answers afterwards.
#include "SimTestSupport.h"

#include "sim/SimFaultCommands.h"
#include "sim/SimRegisters.h"

#include <gtest/gtest.h>

#include <vector>

namespace tessor::sim {
namespace {

using test::Exchange;
using test::TestConfig;

struct FaultCase {
    const char* name;
    std::vector<const char*> commands;
    const char* sent;
    const char* answered;
};

void PrintTo(const FaultCase& c, std::ostream* os) {
    *os << c.name;
}

class ReplyFaults : public ::testing::TestWithParam<FaultCase> {};

TEST_P(ReplyFaults, AnswerAsCommanded) {
    CSimModemPair pair(TestConfig());
    CSimConsole console(pair);
    for (const char* command : GetParam().commands) {
        std::string reply;
        ASSERT_EQ(RunFaultCommand(console, pair, command, &reply), FaultCommand::Done) << command << reply;
    }
    EXPECT_EQ(Exchange(console, GetParam().sent), GetParam().answered);
}

INSTANTIATE_TEST_SUITE_P(
    Commands, ReplyFaults,
    ::testing::Values(
        FaultCase{"Error", {"reply 8C10 error"}, "RD 8C10,3\n", "RD 8C10,3\n\rERROR\n\rL>"},
        FaultCase{
            "WrongAddress", {"reply 8C10 wrong-address"}, "RD 8C10,3\n", "RD 8C10,3\n\r8C20: 32 24 4F\n\rL>"},
        FaultCase{"ShortThree", {"reply 8C10 short"}, "RD 8C10,3\n", "RD 8C10,3\n\r8C10: 32 24\n\rL>"},
        FaultCase{"ShortOne", {"reply 8C10 short"}, "RD 8C10\n", "RD 8C10\n\r8C10:\n\rL>"},
        FaultCase{"Empty", {"reply 8C10 empty"}, "RD 8C10,3\n", "RD 8C10,3\n\n\rL>"},
        FaultCase{"TypedInLowerCase", {"reply 8c10 error"}, "rd 8c10\n", "rd 8c10\n\rERROR\n\rL>"},
        FaultCase{"OnlyReadsStartingThere",
                  {"reply 8C11 error"},
                  "RD 8C10,3\n",
                  "RD 8C10,3\n\r8C10: 32 24 4F\n\rL>"},
        FaultCase{"WritesUntouched", {"reply 8C10 error"}, "WR 8C10 33\n", "WR 8C10 33\n\n\rL>"},
        FaultCase{"NormalEndsIt",
                  {"reply 8C10 error", "reply 8C10 normal"},
                  "RD 8C10\n",
                  "RD 8C10\n\r8C10: 32\n\rL>"},
        FaultCase{"OffEndsAll",
                  {"reply 8C10 short", "reply 8C11 empty", "reply off"},
                  "RD 8C10\n",
                  "RD 8C10\n\r8C10: 32\n\rL>"},
        FaultCase{"CountFixed", {"count 8D04 1"}, "RD 8D04,4\n", "RD 8D04,4\n\r8D04: 01 00 00 00\n\rL>"},
        FaultCase{"CountRs", {"count 8C91 258"}, "RD 8C91,4\n", "RD 8C91,4\n\r8C91: 02 01 00 00\n\rL>"},
        FaultCase{"CountOff",
                  {"count 8D04 7", "count 8D04 off"},
                  "RD 8D04,4\n",
                  "RD 8D04,4\n\r8D04: 00 00 00 00\n\rL>"},
        FaultCase{"DropThree", {"drop 3"}, "RD 8D38\n", "RD 8D38\n\r8D38: 03\n\rL>"},
        FaultCase{"DropOnce", {"drop"}, "RD 8D38\n", "RD 8D38\n\r8D38: 01\n\rL>"}),
    [](const ::testing::TestParamInfo<FaultCase>& p) { return std::string(p.param.name); });

TEST(ReplyFaultCommands, RefuseWhatTheyCannotDo) {
    CSimModemPair pair(TestConfig());
    CSimConsole console(pair);
    for (const char* command : {"reply 8C10 bogus", "reply 8C1 error", "reply 8C10", "reply off now",
                                "count 8C92 1", "count 8D38 1", "count 8D04 -1", "count 8D04 4294967296",
                                "count 8D04", "drop 0", "drop x", "drop 2 3"}) {
        std::string reply;
        EXPECT_EQ(RunFaultCommand(console, pair, command, &reply), FaultCommand::Refused) << command;
        EXPECT_FALSE(reply.empty()) << command;
    }
    std::string reply;
    EXPECT_EQ(RunFaultCommand(console, pair, "silent on", &reply), FaultCommand::NotOurs);
}

// A fixed count is what every read hands out, however long the line ran between reads.
TEST(ReplyFaultCommands, FixedCountAtEachReadAndNormalCountingBack) {
    CSimModemPair pair(TestConfig());
    CSimConsole console(pair);
    std::string reply;
    ASSERT_EQ(RunFaultCommand(console, pair, "count 8D20 1", &reply), FaultCommand::Done);
    for (int pass = 0; pass < 3; ++pass) {
        pair.AdvanceTime(10000);
        EXPECT_EQ(Exchange(console, "RD 8D20,4\n"), "RD 8D20,4\n\r8D20: 01 00 00 00\n\rL>") << pass;
    }
    ASSERT_EQ(RunFaultCommand(console, pair, "count 8D20 off", &reply), FaultCommand::Done);
    pair.AdvanceTime(10000);
    Exchange(console, "RD 8D20\n");
    EXPECT_GT(pair.Modem(CSimModemPair::kLocal).latch[1], 0) << "about 8500 frames in 10 s";
}

// The 8-bit link fail counter wraps, the micro interruption is latched and the line is up again.
TEST(ReplyFaultCommands, ManyDropsAtOnceWrapTheLinkFailCounter) {
    CSimModemPair pair(TestConfig());
    CSimConsole console(pair);
    pair.Modem(CSimModemPair::kLocal).regs[reg::kLinkFailCount] = 250;
    std::string reply;
    ASSERT_EQ(RunFaultCommand(console, pair, "drop 9", &reply), FaultCommand::Done);
    EXPECT_EQ(Exchange(console, "RD 8D38\n"), "RD 8D38\n\r8D38: 03\n\rL>");
    EXPECT_EQ(pair.Modem(CSimModemPair::kRemote).regs[reg::kLinkFailCount], 9);
    EXPECT_EQ(Exchange(console, "RD 8C98\n"), "RD 8C98\n\r8C98: 86\n\rL>");
    EXPECT_TRUE(pair.IsLineUp());
}

// A counter value that went out in a spoilt reply is lost to the reader.
TEST(ReplyFaultCommands, SpoiltReplyLosesItsCounterValue) {
    CSimModemPair pair(TestConfig());
    CSimConsole console(pair);
    std::string reply;
    ASSERT_EQ(RunFaultCommand(console, pair, "reply 8D1C wrong-address", &reply), FaultCommand::Done);
    pair.SetCounter(CSimModemPair::kLocal, 0x8D1C, 42);
    EXPECT_EQ(Exchange(console, "RD 8D1C,4\n"), "RD 8D1C,4\n\r8D2C: 2A 00 00 00\n\rL>");
    const std::vector<CounterDelivery> ledger = console.TakeCounterDeliveries();
    ASSERT_EQ(ledger.size(), 1u);
    EXPECT_FALSE(ledger[0].intact);
}

} // namespace
} // namespace tessor::sim
