#pragma once

#include <cstdint>
#include <string>

namespace tessor {

// A register command typed in the terminal, checked and split into what a register exchange takes.
struct ParsedCommand {
    bool ok = false;     // false: refused (the caller beeps and sends nothing)
    std::uint8_t op = 0; // RegOp 1..4, or 0 for an unknown mnemonic that passed the Write checks
    std::string address; // four characters, "8hhh"
    std::string value;   // two characters: " 1" or the typed read count, or the byte to write
};

// Accepted forms, case-insensitive, with h a hexadecimal digit: "RD 8hhh", "RD 8hhh,hh", "WR 8hhh hh",
// "OR 8hhh hh" and "ND 8hhh hh". A read without ",hh" right after the address is a single-register read
// and ignores the rest; the other forms ignore anything after the value. Never reads past the text.
ParsedCommand ParseTerminalCommand(const std::string& text);

} // namespace tessor
