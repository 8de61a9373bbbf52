// The console protocol of the simulated board, byte for byte, and its console-level faults.
#include "SimTestSupport.h"

#include "sim/SimRegisters.h"

#include <gtest/gtest.h>

#include <set>
#include <tuple>

namespace tessor::sim {
namespace {

using test::Exchange;
using test::TestConfig;

struct ProtocolCase {
    const char* name;
    std::string sent;
    std::string answered;
};

void PrintTo(const ProtocolCase& c, std::ostream* os) {
    *os << c.name;
}

class ConsoleProtocol : public ::testing::TestWithParam<ProtocolCase> {};

TEST_P(ConsoleProtocol, AnswersExactly) {
    CSimModemPair pair(TestConfig());
    CSimConsole console(pair);
    EXPECT_EQ(Exchange(console, GetParam().sent), GetParam().answered);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ConsoleProtocol,
    ::testing::Values(ProtocolCase{"ReadOne", "RD 8C10\n", "RD 8C10\n\r8C10: 32\n\rL>"},
                      ProtocolCase{"ReadThree", "RD 8C10,3\n", "RD 8C10,3\n\r8C10: 32 24 4F\n\rL>"},
                      ProtocolCase{"ReadNine", "RD 8C10,9\n",
                                   "RD 8C10,9\n\r8C10: 32 24 4F 00 E3 00 00 C9 01\n\rL>"},
                      ProtocolCase{"Write", "WR 8C10 33\n", "WR 8C10 33\n\n\rL>"},
                      ProtocolCase{"Or", "OR 8C00 08\n", "OR 8C00 08\n\n\rL>"},
                      ProtocolCase{"And", "ND 8C00 FD\n", "ND 8C00 FD\n\n\rL>"},
                      // The tool writes its read count text (blank and digit) to the mailbox data register.
                      ProtocolCase{"WriteBlankPaddedValue", "WR 8CD0  1\n", "WR 8CD0  1\n\n\rL>"},
                      ProtocolCase{"LowerCaseEchoedAsTyped", "rd 8c10\n", "rd 8c10\n\r8C10: 32\n\rL>"},
                      ProtocolCase{"CarriageReturnLineFeed", "RD 8C10\r\n", "RD 8C10\n\r8C10: 32\n\rL>"},
                      ProtocolCase{"CarriageReturnOnly", "RD 8C11\r", "RD 8C11\n\r8C11: 24\n\rL>"},
                      ProtocolCase{"BlankCount", "RD 8C10 2\n", "RD 8C10 2\n\r8C10: 32 24\n\rL>"},
                      ProtocolCase{"EmptyLineGivesPrompt", "\n", "\n\rL>"},
                      ProtocolCase{"Backspace", "RD 8C1X\b0\n", "RD 8C1X\b \b0\n\r8C10: 32\n\rL>"},
                      ProtocolCase{"UnknownWord", "XX 8C10\n", "XX 8C10\n\rERROR\n\rL>"},
                      ProtocolCase{"CountZero", "RD 8C10,0\n", "RD 8C10,0\n\rERROR\n\rL>"},
                      ProtocolCase{"CountPastLastRegister", "RD FFFF,2\n", "RD FFFF,2\n\rERROR\n\rL>"},
                      ProtocolCase{"WriteWithoutValue", "WR 8C10\n", "WR 8C10\n\rERROR\n\rL>"},
                      ProtocolCase{"ValueTooLong", "WR 8C10 123\n", "WR 8C10 123\n\rERROR\n\rL>"},
                      ProtocolCase{"AddressNotHex", "RD 8G10\n", "RD 8G10\n\rERROR\n\rL>"},
                      ProtocolCase{"AddressTooLong", "RD 8C100\n", "RD 8C100\n\rERROR\n\rL>"},
                      ProtocolCase{"TrailingGarbage", "ND 8C00 FD x\n", "ND 8C00 FD x\n\rERROR\n\rL>"},
                      ProtocolCase{"NoBlankAfterWord", "RD8C10\n", "RD8C10\n\rERROR\n\rL>"}),
    [](const ::testing::TestParamInfo<ProtocolCase>& p) { return std::string(p.param.name); });

TEST(ConsoleProtocolTest, ReadDataPortionIsSixPlusThreePerRegister) {
    CSimModemPair pair(TestConfig());
    CSimConsole console(pair);
    for (int n = 1; n <= 9; ++n) {
        const std::string command = "RD 8C40," + std::to_string(n);
        const std::string reply = Exchange(console, command + "\n");
        ASSERT_EQ(reply.substr(0, command.size() + 1), command + "\n");
        ASSERT_EQ(reply.substr(reply.size() - 4), "\n\rL>");
        const std::string data = reply.substr(command.size() + 1, reply.size() - command.size() - 5);
        EXPECT_EQ(data.size(), 6u + 3u * static_cast<unsigned>(n)) << data;
        EXPECT_EQ(data.substr(0, 6), "\r8C40:");
    }
}

TEST(ConsoleProtocolTest, WritesReachTheRegistersBitOperationsIncluded) {
    CSimModemPair pair(TestConfig());
    CSimConsole console(pair);
    struct Step {
        const char* op;
        std::uint16_t address;
        std::uint8_t value;
        std::uint8_t expected;
    };
    const Step steps[] = {
        {"WR", 0x8C12, 0x66, 0x66}, {"OR", 0x8C12, 0x81, 0xE7}, {"ND", 0x8C12, 0x0F, 0x07},
        {"OR", 0x8C00, 0x02, 0xC2}, {"ND", 0x8C00, 0xFD, 0xC0}, {"WR", 0x8D43, 0x34, 0x34},
    };
    for (const Step& step : steps) {
        ASSERT_TRUE(test::WriteByConsole(console, step.op, step.address, step.value)) << step.op;
        EXPECT_EQ(test::ReadByConsole(console, step.address), step.expected)
            << step.op << " " << step.address;
    }
}

TEST(ConsoleProtocolTest, LineLongerThanTheBufferIsRefused) {
    CSimModemPair pair(TestConfig());
    CSimConsole console(pair);
    const std::string longLine = "WR 8C10 33" + std::string(CSimConsole::kMaxLine, ' ') + "\n";
    const std::string reply = Exchange(console, longLine);
    EXPECT_EQ(reply.substr(reply.size() - 10), "\rERROR\n\rL>");
    EXPECT_EQ(test::ReadByConsole(console, 0x8C10), 0x32);
}

TEST(ConsoleFaults, SilentBoardDropsCommandsAndPromptsWhenBack) {
    CSimModemPair pair(TestConfig());
    CSimConsole console(pair);
    console.SetSilent(true);
    EXPECT_EQ(Exchange(console, "WR 8C10 44\n"), "");
    console.SetSilent(false);
    std::string comeback;
    for (const OutputChunk& chunk : console.TakeOutput()) {
        comeback += chunk.bytes;
    }
    EXPECT_EQ(comeback, "\n\rL>");
    EXPECT_EQ(test::ReadByConsole(console, 0x8C10), 0x32) << "a silent board carries nothing out";
}

TEST(ConsoleFaults, CorruptedEchoOnlyOnceAndCommandStillCarriedOut) {
    CSimModemPair pair(TestConfig());
    CSimConsole console(pair);
    console.CorruptNextEcho();
    const std::string first = Exchange(console, "WR 8C12 55\n");
    ASSERT_EQ(first.size(), std::string("WR 8C12 55\n\n\rL>").size());
    EXPECT_NE(first[0], 'W');
    EXPECT_EQ(first.substr(1), "R 8C12 55\n\n\rL>");
    EXPECT_EQ(Exchange(console, "RD 8C12\n"), "RD 8C12\n\r8C12: 55\n\rL>");
}

TEST(ConsoleFaults, NoiseNeverLooksLikeAPromptOrLineEnd) {
    CSimModemPair pair(TestConfig());
    CSimConsole console(pair);
    console.InjectNoise(500);
    std::string noise;
    for (const OutputChunk& chunk : console.TakeOutput()) {
        EXPECT_EQ(chunk.delayMs, 0);
        noise += chunk.bytes;
    }
    ASSERT_EQ(noise.size(), 500u);
    EXPECT_EQ(noise.find_first_of(std::string("LMR>\n\r\0", 7)), std::string::npos);
    EXPECT_GT(std::set<char>(noise.begin(), noise.end()).size(), 20u)
        << "noise should not be one repeated byte";
}

TEST(ConsoleFaults, ReplyDelayHoldsTheAnswerButNotTheEcho) {
    CSimModemPair pair(TestConfig());
    CSimConsole console(pair);
    console.SetReplyDelayMs(250);
    console.Receive(std::string("RD 8C10\n"));
    const std::vector<OutputChunk> out = console.TakeOutput();
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0].delayMs, 0);
    EXPECT_EQ(out[0].bytes, "RD 8C10");
    EXPECT_EQ(out[1].delayMs, 250);
    EXPECT_EQ(out[1].bytes, "\n\r8C10: 32\n\rL>");
    console.SetReplyDelayMs(0);
    console.Receive(std::string("RD 8C10\n"));
    const std::vector<OutputChunk> after = console.TakeOutput();
    ASSERT_EQ(after.size(), 1u);
    EXPECT_EQ(after[0].delayMs, 0);
}

TEST(CounterLedger, RecordsEachSnapshotAndWhetherItsReplyWentOutIntact) {
    CSimModemPair pair(TestConfig());
    CSimConsole console(pair);
    pair.SetCounter(CSimModemPair::kLocal, 0x8D1C, 0x01020304);
    EXPECT_EQ(Exchange(console, "RD 8D1C,4\n"), "RD 8D1C,4\n\r8D1C: 04 03 02 01\n\rL>");

    // A corrupted echo: the counter is taken and cleared, but the reader throws the reply away.
    pair.SetCounter(CSimModemPair::kLocal, 0x8D20, 500);
    console.CorruptNextEcho();
    Exchange(console, "RD 8D20,4\n");
    // Noise before a reply spoils that reply only; the one after it is whole again.
    pair.SetCounter(CSimModemPair::kLocal, 0x8D18, 77);
    console.InjectNoise(3);
    Exchange(console, "RD 8D18,4\n");
    pair.SetCounter(CSimModemPair::kLocal, 0x8D18, 5);
    Exchange(console, "RD 8D18,4\n");
    // A silent board carries nothing out; its comeback prompt ends the reader's wait, so what follows is
    // whole.
    pair.SetCounter(CSimModemPair::kLocal, 0x8CE4, 9);
    console.SetSilent(true);
    Exchange(console, "RD 8CE4,4\n");
    console.SetSilent(false);
    console.TakeOutput();
    Exchange(console, "RD 8CE4,4\n");
    // A read that takes the snapshot but shows only part of it hands out a value the reader never sees.
    pair.SetCounter(CSimModemPair::kLocal, 0x8CE8, 0x1234);
    Exchange(console, "RD 8CE8,2\n");
    // Other registers, the RS error counter included, are not in the ledger.
    Exchange(console, "RD 8C91,4\n");
    Exchange(console, "RD 8C10,9\n");

    const std::vector<CounterDelivery> ledger = console.TakeCounterDeliveries();
    ASSERT_EQ(ledger.size(), 6u);
    const std::vector<std::tuple<unsigned, std::uint32_t, bool>> expected{
        {0x8D1C, 0x01020304u, true}, {0x8D20, 500u, false}, {0x8D18, 77u, false},
        {0x8D18, 5u, true},          {0x8CE4, 9u, true},    {0x8CE8, 0x1234u, false}};
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(ledger[i].address, std::get<0>(expected[i])) << i;
        EXPECT_EQ(ledger[i].value, std::get<1>(expected[i])) << i;
        EXPECT_EQ(ledger[i].intact, std::get<2>(expected[i])) << i;
    }
    EXPECT_TRUE(console.TakeCounterDeliveries().empty());
    EXPECT_EQ(pair.Counter(CSimModemPair::kLocal, 0x8D20), 0u) << "a spoiled read still clears the counter";
}

TEST(CounterLedger, NoiseWhileSilentSpoilsNothing) {
    CSimModemPair pair(TestConfig());
    CSimConsole console(pair);
    console.SetSilent(true);
    console.InjectNoise(4);
    console.SetSilent(false);
    console.TakeOutput();
    pair.SetCounter(CSimModemPair::kLocal, 0x8D08, 1000);
    Exchange(console, "RD 8D08,4\n");
    const std::vector<CounterDelivery> ledger = console.TakeCounterDeliveries();
    ASSERT_EQ(ledger.size(), 1u);
    EXPECT_TRUE(ledger[0].intact);
    EXPECT_EQ(ledger[0].value, 1000u);
}

TEST(CounterLedger, NoiseTheReaderDiscardedSpoilsNothingButNoiseLeftUnreadDoes) {
    CSimModemPair pair(TestConfig());
    CSimConsole console(pair);
    pair.SetCounter(CSimModemPair::kLocal, 0x8D08, 1000);
    pair.SetCounter(CSimModemPair::kLocal, 0x8D0C, 2000);
    console.InjectNoise(4);
    console.TakeOutput();
    console.NoteOutputDiscarded(); // the reader purged its input before sending
    Exchange(console, "RD 8D08,4\n");
    console.InjectNoise(4); // this time the noise stays in front of the next reply
    Exchange(console, "RD 8D0C,4\n");
    const std::vector<CounterDelivery> ledger = console.TakeCounterDeliveries();
    ASSERT_EQ(ledger.size(), 2u);
    EXPECT_TRUE(ledger[0].intact);
    EXPECT_FALSE(ledger[1].intact);
}

} // namespace
} // namespace tessor::sim
