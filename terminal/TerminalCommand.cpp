#include "terminal/TerminalCommand.h"

#include "link/ConsolePort.h"

namespace tessor {

namespace {

char ToUpperAscii(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool IsHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}

// Character at a position, or zero past the end, so every check below fails cleanly on a short text.
char At(const std::string& text, std::size_t pos) {
    return pos < text.size() ? text[pos] : '\0';
}

std::uint8_t OpFromMnemonic(char first, char second) {
    if (first == 'R' && second == 'D')
        return kRead;
    if (first == 'W' && second == 'R')
        return kWrite;
    if (first == 'O' && second == 'R')
        return kOr;
    if (first == 'N' && second == 'D')
        return kAnd;
    return 0;
}

} // namespace

ParsedCommand ParseTerminalCommand(const std::string& text) {
    ParsedCommand parsed;
    if (text.size() < 2)
        return {};

    std::string upper(text);
    for (char& c : upper)
        c = ToUpperAscii(c);

    parsed.op = OpFromMnemonic(upper[0], upper[1]);

    if (At(upper, 2) != ' ')
        return {};
    if (At(upper, 3) != '8' || !IsHexDigit(At(upper, 4)) || !IsHexDigit(At(upper, 5)) ||
        !IsHexDigit(At(upper, 6)))
        return {};
    parsed.address = upper.substr(3, 4);

    if (parsed.op == kRead) {
        if (upper.size() <= 8 || upper[7] != ',') {
            parsed.value = " 1";
        } else {
            if (!IsHexDigit(At(upper, 8)) || !IsHexDigit(At(upper, 9)))
                return {};
            parsed.value = upper.substr(8, 2);
        }
    } else {
        // Write, Or, And, and any other mnemonic, which then goes through with an invalid op.
        if (At(upper, 7) != ' ' || !IsHexDigit(At(upper, 8)) || !IsHexDigit(At(upper, 9)))
            return {};
        parsed.value = upper.substr(8, 2);
    }
    parsed.ok = true;
    return parsed;
}

} // namespace tessor
