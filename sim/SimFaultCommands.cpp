#include "sim/SimFaultCommands.h"

#include <cerrno>
#include <cstdlib>
#include <sstream>

namespace tessor::sim {

namespace {

struct NamedFault {
    const char* name;
    ReplyFault fault;
};

constexpr NamedFault kReplyFaults[] = {
    {"error", ReplyFault::Error},   {"wrong-address", ReplyFault::WrongAddress},
    {"short", ReplyFault::Short},   {"empty", ReplyFault::Empty},
    {"normal", ReplyFault::Normal},
};

// Four hexadecimal digits.
bool ParseAddress(const std::string& text, std::uint16_t* address) {
    char* end = nullptr;
    const unsigned long value = std::strtoul(text.c_str(), &end, 16);
    if (text.size() != 4 || *end != '\0' || text[0] == '-' || text[0] == '+')
        return false;
    *address = static_cast<std::uint16_t>(value);
    return true;
}

// A whole decimal number from 0 to max.
// Parsed as 64 bits, with overflow seen, so that it refuses the same on a system whose long is 32 bits.
bool ParseCount(const std::string& text, unsigned long max, unsigned long* count) {
    char* end = nullptr;
    if (text.empty() || text[0] < '0' || text[0] > '9')
        return false;
    errno = 0;
    const unsigned long long value = std::strtoull(text.c_str(), &end, 10);
    if (*end != '\0' || errno == ERANGE || value > max)
        return false;
    *count = static_cast<unsigned long>(value);
    return true;
}

FaultCommand Refuse(const char* usage, std::string* reply) {
    *reply = usage;
    return FaultCommand::Refused;
}

FaultCommand ReplyCommand(CSimConsole& console, const std::string& where, const std::string& how,
                          std::string* reply) {
    const char* const usage = "reply: ADDR error|wrong-address|short|empty|normal, or reply off";
    if (where == "off" && how.empty()) {
        console.ClearReplyFaults();
        *reply = "every reply normal";
        return FaultCommand::Done;
    }
    std::uint16_t address = 0;
    if (!ParseAddress(where, &address))
        return Refuse(usage, reply);
    for (const NamedFault& named : kReplyFaults) {
        if (how == named.name) {
            console.SetReplyFault(address, named.fault);
            *reply = "reply to reads at " + where + ": " + how;
            return FaultCommand::Done;
        }
    }
    return Refuse(usage, reply);
}

FaultCommand CountCommand(CSimModemPair& pair, const std::string& where, const std::string& how,
                          std::string* reply) {
    const char* const usage = "count: ADDR (first register of a counter: 8C91, 8CE4, 8CE8, ... 8D20) and N "
                              "(0..4294967295) or off";
    std::uint16_t address = 0;
    unsigned long count = 0;
    if (!ParseAddress(where, &address) || !CSimModemPair::IsCounterStart(address))
        return Refuse(usage, reply);
    if (how == "off") {
        pair.FixCount(address, std::nullopt);
        *reply = "counter " + where + " counts normally";
        return FaultCommand::Done;
    }
    if (!ParseCount(how, 0xFFFFFFFFul, &count))
        return Refuse(usage, reply);
    pair.FixCount(address, static_cast<std::uint32_t>(count));
    *reply = "counter " + where + " reads " + how + " at each read";
    return FaultCommand::Done;
}

FaultCommand DropCommand(CSimModemPair& pair, const std::string& times, std::string* reply) {
    unsigned long count = 1;
    if (!times.empty() && (!ParseCount(times, 100000, &count) || count == 0))
        return Refuse("drop: N drops at once, 1..100000", reply);
    pair.Sync();
    pair.DropLine(static_cast<int>(count));
    *reply = count == 1 ? std::string("line dropped") : "line dropped " + times + " times";
    return FaultCommand::Done;
}

} // namespace

FaultCommand RunFaultCommand(CSimConsole& console, CSimModemPair& pair, const std::string& command,
                             std::string* reply) {
    std::istringstream in(command);
    std::string word;
    std::string first;
    std::string second;
    std::string extra;
    in >> word >> first >> second >> extra;
    if (word != "reply" && word != "count" && word != "drop")
        return FaultCommand::NotOurs;
    if (!extra.empty() || (word == "drop" && !second.empty()))
        return Refuse("too many words; try help", reply);
    if (word == "reply")
        return ReplyCommand(console, first, second, reply);
    if (word == "count")
        return CountCommand(pair, first, second, reply);
    return DropCommand(pair, first, reply);
}

} // namespace tessor::sim
