#pragma once

#include <cstdint>
#include <string>

namespace tessor {

// A serial port that a console server offers on the network: "rfc2217://host:port" (telnet with the
// COM-PORT-OPTION) or "socket://host:port" (the bytes as they are). An IPv6 host is written in brackets,
// "rfc2217://[::1]:7001".
enum class NetworkProtocol { Rfc2217, RawSocket };

struct NetworkPortName {
    NetworkProtocol protocol = NetworkProtocol::Rfc2217;
    std::string host; // without the brackets of an IPv6 address
    std::uint16_t port = 0;
};

// What a device name is: not a network name at all (a local device), a usable network name, or a name
// that starts like one but cannot be used (problem says why).
// A name that is none of these gives its own reason: a port outside 1..65535, an IPv6 address without
// brackets, no host, anything after the port number (a path, a query).
struct NetworkPortParse {
    enum Kind { NotNetwork, Valid, Malformed };
    Kind kind = NotNetwork;
    NetworkPortName name;
    std::string problem;
};

NetworkPortParse ParseNetworkPortName(const std::string& text);
// True when the name starts with one of the network schemes (whether or not the rest is usable).
bool IsNetworkPortName(const std::string& text);
// The name written back as a URL, brackets around an IPv6 host.
std::string FormatNetworkPortName(const NetworkPortName& name);
// "host:port" for messages, brackets around an IPv6 host.
std::string NetworkEndpointText(const NetworkPortName& name);

// What a device name opens, as a phrase for port lists: "network console" for a usable network name,
// "not a usable network name: ..." for one that only looks like it, empty for a local device.
std::string NetworkPortKind(const std::string& device);
// What to check when a network console cannot be opened.
std::string NetworkOpenAdvice();

} // namespace tessor
