// Feeds arbitrary text to the terminal's command parser: an accepted command always has a four-character
// address starting with 8 and a two-character value.
#include "terminal/TerminalCommand.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const tessor::ParsedCommand command = tessor::ParseTerminalCommand(text);
    if (command.ok && (command.address.size() != 4 || command.address[0] != '8' || command.value.size() != 2))
        std::abort();
    if (command.ok && command.op > 4)
        std::abort();
    return 0;
}
