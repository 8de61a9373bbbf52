#pragma once

// Helpers for register operations. The process-wide port itself is ProcessBus() (link/RegisterBus.h);
// sequences (the remote mailbox, the line check, the restart) are in the operations layer.

#include "link/RegisterBus.h"

#include <cstdint>

namespace tessor {

// Two upper-case hexadecimal digits of a byte, plus a terminating zero.
void FormatByte(std::uint8_t value, char out[3]);

} // namespace tessor
