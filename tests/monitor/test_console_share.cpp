// The shared console's decisions: which client lines are refused and how, how bytes become lines, the
// console port's address, and the telnet accepter against the program's own RFC 2217 client side.

#include "link/Rfc2217Codec.h"
#include "link/Rfc2217ServerCodec.h"
#include "monitor/ConsoleShare.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tessor::monitor::test {
namespace {

TEST(ConsoleShare, WritesOrsAndAndsAreChangingCommandsAsTheBoardReadsThem) {
    const struct {
        const char* line;
        bool changing;
    } cases[] = {
        {"WR 8C10 32\n", true}, {"wr 8c10 32\r", true},   {"  \tOR 8C10 01\n", true}, {"nd 8C10 FE\n", true},
        {"Wr\n", true},         {"RD 8C10\n", false},     {"rd 8C40,9\n", false},     {"\n", false},
        {"W\n", false},         {"XWR 8C10 32\n", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsChangingCommand(c.line), c.changing) << c.line;
}

// A read-only port still lets a client read the remote modem: the mailbox's data and address writes only
// stage the next start command, and the start of a read ("11") changes no register of either modem.
TEST(ConsoleShare, ReadOnlyRefusesEveryChangeButTheStepsOfARemoteRead) {
    const struct {
        const char* line;
        bool refused;
    } cases[] = {
        {"WR 8CD0  1\n", false},    {"wr 8cc2 8C\r", false}, {"WR 8CC1 71\n", false}, {"WR 8CC0 11\n", false},
        {"  WR 8cc0 11 \r", false}, {"WR 8CC0 12\n", true},  {"WR 8CC0 13\n", true},  {"WR 8CC0 1\n", true},
        {"WR 8CC0 111\n", true},    {"OR 8CD0 01\n", true},  {"ND 8CC2 00\n", true},  {"WR 8C10 32\n", true},
        {"WR 8CD00 1\n", true},     {"RD 8CC4\n", false},    {"WR\n", true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsRefusedWhenReadOnly(c.line), c.refused) << c.line;
}

TEST(ConsoleShare, ARefusedCommandGetsTheBoardsErrorReplyWithTheEchoAndPrompt) {
    EXPECT_EQ(ErrorReply("WR 8C10 32\n", 'L'), "WR 8C10 32\n\rERROR\n\rL>");
    EXPECT_EQ(ErrorReply("or 8C10 1\r", 'R'), "or 8C10 1\n\rERROR\n\rR>");
}

TEST(ConsoleShare, BytesBecomeWholeLinesAsTheBoardEditsThem) {
    const struct {
        std::string bytes;
        std::vector<std::string> lines;
        bool partial;
    } cases[] = {
        {"RD 8C71\n", {"RD 8C71\n"}, false},
        {"RD 8C71\r\nRD 8C00\r\n", {"RD 8C71\r", "RD 8C00\r"}, false},
        {std::string("RD 8C71\r\0", 9), {"RD 8C71\r"}, false},
        {"\n\r", {"\n", "\r"}, false},
        // A backspace takes back what a check of the word would otherwise have seen.
        {"RD\b\bWR 8C10 32\n", {"WR 8C10 32\n"}, false},
        {"RD 8C7", {}, true},
    };
    for (const auto& c : cases) {
        CLineGatherer g;
        EXPECT_EQ(g.Add(reinterpret_cast<const std::uint8_t*>(c.bytes.data()), c.bytes.size()), c.lines)
            << c.bytes;
        EXPECT_EQ(g.Partial(), c.partial) << c.bytes;
    }
}

TEST(ConsoleShare, ALineSplitAcrossReadsEndsOnce) {
    CLineGatherer g;
    EXPECT_TRUE(g.Add(reinterpret_cast<const std::uint8_t*>("RD 8C71\r"), 8).size() == 1);
    EXPECT_TRUE(g.Add(reinterpret_cast<const std::uint8_t*>("\n"), 1).empty());
    EXPECT_FALSE(g.Partial());
}

TEST(ConsoleShare, TheListenAddressIsThisMachineWhenOnlyThePortIsGiven) {
    const struct {
        const char* text;
        bool ok;
        const char* host;
        int port;
    } cases[] = {
        {"7001", true, "127.0.0.1", 7001}, {"0.0.0.0:7001", true, "0.0.0.0", 7001},
        {"[::1]:7002", true, "::1", 7002}, {"70000", false, "", 0},
        {"host:", false, "", 0},           {"", false, "", 0},
    };
    for (const auto& c : cases) {
        std::string host;
        int port = -1;
        EXPECT_EQ(ParseConsoleListen(c.text, &host, &port), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(host, c.host) << c.text;
            EXPECT_EQ(port, c.port) << c.text;
        }
    }
}

// The accepter grants what the program's own client asks for, so that client's opening completes, and
// console bytes cross both ways with 0xFF intact.
TEST(ConsoleShare, TheTelnetAccepterCompletesTheClientsOpeningAndCarriesBinaryBytes) {
    Rfc2217Codec client(LineSettings{});
    Rfc2217ServerCodec server;
    client.Start();
    for (int round = 0; round < 10 && client.State() != Rfc2217Codec::Negotiation::Ready; ++round) {
        const std::vector<std::uint8_t> toServer = client.TakeOutgoing();
        server.Receive(toServer.data(), toServer.size());
        const std::vector<std::uint8_t> toClient = server.TakeOutgoing();
        client.Receive(toClient.data(), toClient.size());
    }
    ASSERT_EQ(client.State(), Rfc2217Codec::Negotiation::Ready);
    EXPECT_TRUE(server.TakeData().empty()); // the negotiation is no console data

    const std::uint8_t line[] = {'R', 'D', 0xFF, '\n'};
    client.Send(line, sizeof line);
    const std::vector<std::uint8_t> sent = client.TakeOutgoing();
    server.Receive(sent.data(), sent.size());
    EXPECT_EQ(server.TakeData(), std::vector<std::uint8_t>(line, line + sizeof line));

    const std::uint8_t reply[] = {0xFF, '\r', '\n', 'L', '>'};
    server.Send(reply, sizeof reply);
    const std::vector<std::uint8_t> back = server.TakeOutgoing();
    client.Receive(back.data(), back.size());
    std::uint8_t got[16] = {};
    ASSERT_EQ(client.TakeData(got, sizeof got), sizeof reply);
    EXPECT_EQ(std::vector<std::uint8_t>(got, got + sizeof reply),
              std::vector<std::uint8_t>(reply, reply + sizeof reply));
}

} // namespace
} // namespace tessor::monitor::test
