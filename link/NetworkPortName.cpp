#include "link/NetworkPortName.h"

#include <cctype>

namespace tessor {

namespace {

constexpr const char kRfc2217Scheme[] = "rfc2217://";
constexpr const char kSocketScheme[] = "socket://";

bool StartsWithNoCase(const std::string& text, const std::string& prefix) {
    if (text.size() < prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i])
            return false;
    return true;
}

NetworkPortParse Malformed(const std::string& problem) {
    NetworkPortParse parse;
    parse.kind = NetworkPortParse::Malformed;
    parse.problem = problem;
    return parse;
}

// Port numbers 1..65535, digits only.
bool ParsePortNumber(const std::string& text, std::uint16_t* port) {
    if (text.empty() || text.size() > 5)
        return false;
    unsigned long value = 0;
    for (char c : text) {
        if (!std::isdigit(static_cast<unsigned char>(c)))
            return false;
        value = value * 10 + static_cast<unsigned long>(c - '0');
    }
    if (value < 1 || value > 65535)
        return false;
    *port = static_cast<std::uint16_t>(value);
    return true;
}

bool IsHostCharacter(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '_';
}

} // namespace

bool IsNetworkPortName(const std::string& text) {
    return StartsWithNoCase(text, kRfc2217Scheme) || StartsWithNoCase(text, kSocketScheme);
}

NetworkPortParse ParseNetworkPortName(const std::string& text) {
    NetworkPortParse parse;
    std::string rest;
    if (StartsWithNoCase(text, kRfc2217Scheme)) {
        parse.name.protocol = NetworkProtocol::Rfc2217;
        rest = text.substr(sizeof(kRfc2217Scheme) - 1);
    } else if (StartsWithNoCase(text, kSocketScheme)) {
        parse.name.protocol = NetworkProtocol::RawSocket;
        rest = text.substr(sizeof(kSocketScheme) - 1);
    } else {
        return parse;
    }
    // A trailing slash is what a URL often ends with; nothing else may follow the port.
    if (!rest.empty() && rest.back() == '/')
        rest.pop_back();
    std::string host;
    std::string portText;
    // After the port nothing may follow: no path, query or fragment.
    const auto extra = rest.find_first_of("/?#", rest.find(']') == std::string::npos ? 0 : rest.find(']'));
    if (extra != std::string::npos)
        return Malformed("nothing may follow the port number (\"" + rest.substr(extra) + "\")");
    if (!rest.empty() && rest.front() == '[') {
        const auto close = rest.find(']');
        if (close == std::string::npos)
            return Malformed("the IPv6 address has no closing bracket");
        host = rest.substr(1, close - 1);
        if (close + 1 >= rest.size() || rest[close + 1] != ':')
            return Malformed("no port number after the host (write host:port)");
        portText = rest.substr(close + 2);
        for (char c : host)
            if (!std::isxdigit(static_cast<unsigned char>(c)) && c != ':' && c != '.')
                return Malformed("\"" + host + "\" is not an IPv6 address");
    } else {
        const auto colon = rest.rfind(':');
        if (colon == std::string::npos)
            return Malformed("no port number after the host (write host:port)");
        host = rest.substr(0, colon);
        portText = rest.substr(colon + 1);
        for (char c : host)
            if (!IsHostCharacter(c))
                return Malformed(c == ':' ? "an IPv6 address goes in brackets, [::1]:port"
                                          : "\"" + host + "\" is not a host name");
    }
    if (host.empty())
        return Malformed("no host before the port number");
    if (!ParsePortNumber(portText, &parse.name.port))
        return Malformed("\"" + portText + "\" is not a port number (1 to 65535)");
    parse.name.host = host;
    parse.kind = NetworkPortParse::Valid;
    return parse;
}

std::string NetworkEndpointText(const NetworkPortName& name) {
    const bool v6 = name.host.find(':') != std::string::npos;
    return (v6 ? "[" + name.host + "]" : name.host) + ":" + std::to_string(name.port);
}

std::string FormatNetworkPortName(const NetworkPortName& name) {
    const char* scheme = name.protocol == NetworkProtocol::Rfc2217 ? kRfc2217Scheme : kSocketScheme;
    return scheme + NetworkEndpointText(name);
}

std::string NetworkPortKind(const std::string& device) {
    const NetworkPortParse parse = ParseNetworkPortName(device);
    switch (parse.kind) {
    case NetworkPortParse::Valid:
        return "network console";
    case NetworkPortParse::Malformed:
        return "not a usable network name: " + parse.problem;
    case NetworkPortParse::NotNetwork:
        break;
    }
    return std::string();
}

std::string NetworkOpenAdvice() {
    return "Check that the console server is running and offers the board's port at this host and port (for "
           "ser2net, an accepter in its ser2net.yaml), and that no firewall is in between.";
}

} // namespace tessor
