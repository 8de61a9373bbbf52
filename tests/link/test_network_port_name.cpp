#include "link/NetworkPortName.h"

#include <gtest/gtest.h>

#include <utility>

namespace tessor {
namespace {

struct NameCase {
    const char* text;
    NetworkPortParse::Kind kind;
    NetworkProtocol protocol;
    const char* host;
    std::uint16_t port;
};

TEST(NetworkPortName, ParsesEachFormOfName) {
    const NameCase cases[] = {
        {"rfc2217://cab12:7001", NetworkPortParse::Valid, NetworkProtocol::Rfc2217, "cab12", 7001},
        {"RFC2217://cab12:7001", NetworkPortParse::Valid, NetworkProtocol::Rfc2217, "cab12", 7001},
        {"socket://10.1.2.3:4001", NetworkPortParse::Valid, NetworkProtocol::RawSocket, "10.1.2.3", 4001},
        {"socket://console-7.example.net:1/", NetworkPortParse::Valid, NetworkProtocol::RawSocket,
         "console-7.example.net", 1},
        {"rfc2217://[::1]:65535", NetworkPortParse::Valid, NetworkProtocol::Rfc2217, "::1", 65535},
        {"rfc2217://[fe80::1:2]:7001", NetworkPortParse::Valid, NetworkProtocol::Rfc2217, "fe80::1:2", 7001},
        {"rfc2217://[::ffff:10.0.0.1]:7001", NetworkPortParse::Valid, NetworkProtocol::Rfc2217,
         "::ffff:10.0.0.1", 7001},
        {"/dev/ttyUSB0", NetworkPortParse::NotNetwork, NetworkProtocol::Rfc2217, "", 0},
        {"COM1", NetworkPortParse::NotNetwork, NetworkProtocol::Rfc2217, "", 0},
        {"telnet://cab12:7001", NetworkPortParse::NotNetwork, NetworkProtocol::Rfc2217, "", 0},
        {"rfc2217://cab12", NetworkPortParse::Malformed, NetworkProtocol::Rfc2217, "", 0},
        {"rfc2217://cab12:", NetworkPortParse::Malformed, NetworkProtocol::Rfc2217, "", 0},
        {"rfc2217://:7001", NetworkPortParse::Malformed, NetworkProtocol::Rfc2217, "", 0},
        {"rfc2217://cab12:0", NetworkPortParse::Malformed, NetworkProtocol::Rfc2217, "", 0},
        {"rfc2217://cab12:65536", NetworkPortParse::Malformed, NetworkProtocol::Rfc2217, "", 0},
        {"rfc2217://cab12:70x", NetworkPortParse::Malformed, NetworkProtocol::Rfc2217, "", 0},
        {"rfc2217://cab12:7001/path", NetworkPortParse::Malformed, NetworkProtocol::Rfc2217, "", 0},
        {"rfc2217://::1:7001", NetworkPortParse::Malformed, NetworkProtocol::Rfc2217, "", 0},
        {"rfc2217://[::1:7001", NetworkPortParse::Malformed, NetworkProtocol::Rfc2217, "", 0},
        {"rfc2217://[::1]7001", NetworkPortParse::Malformed, NetworkProtocol::Rfc2217, "", 0},
        {"rfc2217://[cabinet]:7001", NetworkPortParse::Malformed, NetworkProtocol::Rfc2217, "", 0},
        {"socket://user@cab12:7001", NetworkPortParse::Malformed, NetworkProtocol::RawSocket, "", 0},
    };
    for (const NameCase& c : cases) {
        SCOPED_TRACE(c.text);
        const NetworkPortParse parse = ParseNetworkPortName(c.text);
        EXPECT_EQ(parse.kind, c.kind);
        EXPECT_EQ(IsNetworkPortName(c.text), c.kind != NetworkPortParse::NotNetwork);
        if (c.kind == NetworkPortParse::Malformed) {
            EXPECT_FALSE(parse.problem.empty());
        }
        if (c.kind != NetworkPortParse::Valid)
            continue;
        EXPECT_EQ(parse.name.protocol, c.protocol);
        EXPECT_EQ(parse.name.host, c.host);
        EXPECT_EQ(parse.name.port, c.port);
    }
}

// Each malformed name says what is wrong with it, in the words a user can act on.
TEST(NetworkPortName, AMalformedNameGivesItsOwnReason) {
    const std::pair<const char*, const char*> cases[] = {
        {"rfc2217://h:0", "\"0\" is not a port number (1 to 65535)"},
        {"rfc2217://h:65536", "\"65536\" is not a port number (1 to 65535)"},
        {"rfc2217://::1:7001", "an IPv6 address goes in brackets, [::1]:port"},
        {"rfc2217://:7001", "no host before the port number"},
        {"socket://[]:7001", "no host before the port number"},
        {"rfc2217://h:7001?x", "nothing may follow the port number (\"?x\")"},
        {"rfc2217://h:7001/path", "nothing may follow the port number (\"/path\")"},
        {"rfc2217://h:7001#x", "nothing may follow the port number (\"#x\")"},
        {"rfc2217://h", "no port number after the host (write host:port)"},
    };
    for (const auto& [text, reason] : cases) {
        SCOPED_TRACE(text);
        const NetworkPortParse parse = ParseNetworkPortName(text);
        EXPECT_EQ(parse.kind, NetworkPortParse::Malformed);
        EXPECT_EQ(parse.problem, reason);
    }
}

TEST(NetworkPortName, WritesTheNameBackWithBracketsForIpv6) {
    EXPECT_EQ(FormatNetworkPortName({NetworkProtocol::Rfc2217, "cab12", 7001}), "rfc2217://cab12:7001");
    EXPECT_EQ(FormatNetworkPortName({NetworkProtocol::RawSocket, "::1", 4001}), "socket://[::1]:4001");
    EXPECT_EQ(NetworkEndpointText({NetworkProtocol::RawSocket, "10.0.0.9", 23}), "10.0.0.9:23");
}

} // namespace
} // namespace tessor
