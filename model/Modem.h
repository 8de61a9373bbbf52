#pragma once

// The two modems of a pair: which end of the line a modem is, and which of them an operation addresses.

#include <cstdint>

namespace tessor {

// Which end of the line the local modem is (8C70 bit 4 set means NT): 0 until known, 1 LT, 2 NT.
enum ModemSide : std::uint8_t { kSideUnknown = 0, kSideLT = 1, kSideNT = 2 };

// "LT", "NT" or "unknown".
inline const char* SideName(std::uint8_t side) {
    return side == kSideNT ? "NT" : side == kSideLT ? "LT" : "unknown";
}

// The modem an operation addresses: the local one on the console, or the remote one through the local
// modem's mailbox.
enum Target : int { kLocal = 1, kRemote = 2 };

} // namespace tessor
