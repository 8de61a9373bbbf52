#pragma once

// Local register operations on the process-wide port, in the raw form the terminal and the window code
// use: the value, 0 for a garbled echo or a transport that has given up, -1 for a cancelled time-out.
// Sequences (the remote mailbox, the line check, the restart) are in the operations layer.

#include "link/RegisterBus.h"

#include <cstdint>

namespace tessor {

std::int64_t AccessLocalReg(std::uint8_t op, const char* address, const char* value);
std::int64_t AccessLocalRegByte(std::uint8_t op, const char* address, std::uint8_t value);

// Two upper-case hexadecimal digits of a byte, plus a terminating zero.
void FormatByte(std::uint8_t value, char out[3]);

} // namespace tessor
