#include "link/ConsolePort.h"
#include "terminal/TerminalCommand.h"

#include <gtest/gtest.h>

#include <string>

namespace tessor {
namespace {

struct ParseCase {
    const char* text;
    bool ok;
    std::uint8_t op;
    const char* address;
    const char* value;
};

void PrintTo(const ParseCase& c, std::ostream* os) {
    *os << '"' << c.text << '"';
}

class ParseTerminalCommandTest : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseTerminalCommandTest, GivesOperationAddressAndValue) {
    const ParseCase& c = GetParam();
    const ParsedCommand parsed = ParseTerminalCommand(c.text);
    ASSERT_EQ(parsed.ok, c.ok);
    if (!c.ok)
        return;
    EXPECT_EQ(parsed.op, c.op);
    EXPECT_EQ(parsed.address, c.address);
    EXPECT_EQ(parsed.value, c.value);
}

const ParseCase kAccepted[] = {
    {"RD 8C00", true, kRead, "8C00", " 1"},
    {"rd 8c00", true, kRead, "8C00", " 1"},
    {"Rd 8aBc", true, kRead, "8ABC", " 1"},
    {"RD 8C00 12", true, kRead, "8C00", " 1"}, // rest ignored: single read
    {"RD 8C00,", true, kRead, "8C00", " 1"},   // eight characters: single read
    {"RD 8C00;0A", true, kRead, "8C00", " 1"}, // no comma: single read
    {"RD 8C00,0A", true, kRead, "8C00", "0A"}, // the count as typed
    {"rd 8c99,03", true, kRead, "8C99", "03"},
    {"RD 8C00,0AXYZ", true, kRead, "8C00", "0A"},
    {"WR 8C00 0123", true, kWrite, "8C00", "01"}, // rest ignored
    {"wr 8c10 3f", true, kWrite, "8C10", "3F"},
    {"OR 8C00 08", true, kOr, "8C00", "08"},
    {"nd 8c00 fd", true, kAnd, "8C00", "FD"},
    {"XX 8C00 12", true, 0, "8C00", "12"}, // unknown mnemonic passing the write checks
    {"rw 8c00 12 34", true, 0, "8C00", "12"},
};

const ParseCase kRefused[] = {
    {"", false, 0, "", ""},           {"X", false, 0, "", ""},
    {"RD", false, 0, "", ""},         {"RD ", false, 0, "", ""},
    {"RD 8C0", false, 0, "", ""},     {"RD 9C00", false, 0, "", ""},
    {"RD 0C00", false, 0, "", ""},    {"RD 8C0G", false, 0, "", ""},
    {"RD 8c0g", false, 0, "", ""},    {"RD8C00", false, 0, "", ""},
    {"RD  8C00", false, 0, "", ""},   {" RD 8C00", false, 0, "", ""}, // nothing is trimmed
    {"RD 8C00,A", false, 0, "", ""},  {"RD 8C00,0G", false, 0, "", ""},
    {"RD 8C00, A", false, 0, "", ""}, {"WR 8C00 5", false, 0, "", ""},
    {"WR 8C00", false, 0, "", ""},    {"WR 8C00 ", false, 0, "", ""},
    {"WR 8C00,12", false, 0, "", ""}, {"WR 8C00  12", false, 0, "", ""},
    {"OR 8C00 G0", false, 0, "", ""}, {"ND 9C00 FD", false, 0, "", ""},
    {"XX 8C00", false, 0, "", ""}, // unknown mnemonic failing the write checks
    {"XX 8C00 1", false, 0, "", ""},
};

INSTANTIATE_TEST_SUITE_P(Accepted, ParseTerminalCommandTest, ::testing::ValuesIn(kAccepted));
INSTANTIATE_TEST_SUITE_P(Refused, ParseTerminalCommandTest, ::testing::ValuesIn(kRefused));

// Every prefix of a command is judged on its own characters only: the short ones are refused, never
// completed from whatever might lie behind them.
TEST(ParseTerminalCommandPrefixes, ShortTextsAreRefusedUpToTheFirstCompleteForm) {
    const std::string write = "WR 8C10 3F";
    for (std::size_t n = 0; n < write.size(); ++n)
        EXPECT_FALSE(ParseTerminalCommand(write.substr(0, n)).ok) << write.substr(0, n);
    EXPECT_TRUE(ParseTerminalCommand(write).ok);

    const std::string read = "RD 8C00,0A";
    for (std::size_t n = 0; n < 7; ++n)
        EXPECT_FALSE(ParseTerminalCommand(read.substr(0, n)).ok) << read.substr(0, n);
    EXPECT_EQ(ParseTerminalCommand(read.substr(0, 7)).value, " 1");
    EXPECT_EQ(ParseTerminalCommand(read.substr(0, 8)).value, " 1");
    EXPECT_FALSE(ParseTerminalCommand(read.substr(0, 9)).ok);
    EXPECT_EQ(ParseTerminalCommand(read).value, "0A");
}

TEST(ParseTerminalCommandPrefixes, EmbeddedZeroIsAnOrdinaryCharacter) {
    const std::string text("RD 8C00,0\0", 10);
    EXPECT_FALSE(ParseTerminalCommand(text).ok);
    const std::string write("WR 8C00 12\0\0", 12);
    const ParsedCommand parsed = ParseTerminalCommand(write);
    ASSERT_TRUE(parsed.ok);
    EXPECT_EQ(parsed.value, "12");
}

} // namespace
} // namespace tessor
