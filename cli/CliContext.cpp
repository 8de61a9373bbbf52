#include "cli/CliContext.h"

#include <cctype>
#include <iostream>

namespace tessor::cli {

namespace {

bool IsHex(char c) {
    return std::isxdigit(static_cast<unsigned char>(c)) != 0;
}

std::string Upper(const std::string& text) {
    std::string upper;
    for (char c : text)
        upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return upper;
}

} // namespace

int Context::Done(const nlohmann::json& document, const std::string& text) const {
    if (options.json)
        streams.out << document.dump(2) << "\n";
    else
        streams.out << text;
    streams.out.flush();
    return kExitOk;
}

int Context::Fail(int code, const std::string& message) const {
    streams.err << "tessor-cli: " << message << std::endl;
    if (options.json) {
        streams.out << nlohmann::json{{"error", message}, {"exit_code", code}}.dump(2) << "\n";
        streams.out.flush();
    }
    return code;
}

int Context::NoAnswer() const {
    const ResolvedPort& port = session.Port();
    std::string where = port.name;
    if (port.device != port.name)
        where += " (" + port.device + ")";
    return Fail(kExitNoAnswer,
                "the board on " + where + " did not answer within " +
                    std::to_string(session.AnswerTimeoutMs()) + " ms" +
                    (session.Retries() > 0 ? " and " + std::to_string(session.Retries()) + " further waits"
                                           : std::string()) +
                    ", or garbled its reply.\nCheck the cable to the board, that the port is "
                    "the right one, and reset the board; then try again.");
}

bool Context::Failed(std::int64_t result) const {
    const bool garbled = session.TakeGarbled();
    return result < 0 || session.NoComm() || garbled;
}

bool Context::Confirm(const std::string& question) const {
    if (options.yes)
        return true;
    streams.err << question << "\nGo on? [y/N] " << std::flush;
    std::string answer;
    if (!std::getline(streams.in, answer))
        return false;
    return answer == "y" || answer == "Y" || answer == "yes" || answer == "YES";
}

bool ParseAddress(const std::string& text, std::string* address) {
    if (text.size() != 4 || text[0] != '8' || !IsHex(text[1]) || !IsHex(text[2]) || !IsHex(text[3]))
        return false;
    *address = Upper(text);
    return true;
}

bool ParseByte(const std::string& text, std::string* value, std::uint8_t* byte) {
    if (text.empty() || text.size() > 2 || !IsHex(text[0]) || (text.size() == 2 && !IsHex(text[1])))
        return false;
    const unsigned parsed = static_cast<unsigned>(std::stoul(text, nullptr, 16));
    *byte = static_cast<std::uint8_t>(parsed);
    *value = Hex2(parsed);
    return true;
}

std::string Hex2(unsigned value) {
    static const char kDigits[] = "0123456789ABCDEF";
    return std::string{kDigits[(value >> 4) & 0xF], kDigits[value & 0xF]};
}

} // namespace tessor::cli
