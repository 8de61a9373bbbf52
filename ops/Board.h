#pragma once

// Board-wide sequences: the modem side, the identification registers, the line check, single register
// operations and the General page's actions on the control register 8C00.

#include <cstdint>
#include <optional>
#include <string>

namespace tessor::ops {

// Modem side as the tool numbers it: 0 not yet known, 1 LT, 2 NT.
inline constexpr std::uint8_t kSideUnknown = 0;
inline constexpr std::uint8_t kSideLT = 1;
inline constexpr std::uint8_t kSideNT = 2;

// True when the board did not answer an operation: a cancelled time-out (negative result), or the
// transport has given up (every later operation then returns 0 without reaching the board).
bool BoardFailed(std::int64_t result);

// Reads 8C70: bit 4 set means the local modem is NT. The side is taken from the value as it came: a
// cancelled read (-1, every bit set) gives NT and no communication (0) gives LT; callers test raw.
struct ModemSideRead {
    std::int64_t raw = 0;
    std::uint8_t side = kSideLT;
};
ModemSideRead DetectModemSide();

// The three identification registers of the local modem, read in the order 8C72, 8C73, 8C6F.
struct BoardIdentification {
    std::int64_t raw72 = 0;
    std::int64_t raw73 = 0;
    std::int64_t raw6F = 0;
    // Low 16 bits of each; nothing when the board did not answer that read.
    std::optional<std::uint16_t> id72;
    std::optional<std::uint16_t> id73;
    std::optional<std::uint16_t> id6F;
};
BoardIdentification ReadBoardIdentification();
// The same three registers of the remote modem, through the mailbox (callers check that the line is up).
BoardIdentification ReadRemoteIdentification();

// Upper-case hexadecimal of an identification value, at least two digits, or "--" for none.
std::string IdentificationText(const std::optional<std::uint16_t>& value);

// The line check: 8C71 and 8C00 as silent status reads.
bool LinkUp();

// One register operation on the local or the remote modem (target 1 local, 2 remote), with the value
// text as the register access takes it: the count text (" 1", "04") for a read, the byte for the others.
std::int64_t RegisterOperation(int target, std::uint8_t op, const std::string& address,
                               const std::string& value);

// The control register 8C00 as the program's own (silent) status read.
std::int64_t ReadControl();
bool ActivationOn(std::int64_t control);
bool TransmitterOn(std::int64_t control);

// The General page's actions. Each returns the result of its last register operation.
std::int64_t SoftResetLocal();           // Or 8C00 20
std::int64_t LocalLoopback();            // And 8C00 7F, then Or 8C00 01
std::int64_t LineLoopbackLocal();        // Or 8C00 02
std::int64_t SetTransmitter(bool on);    // Write 8C00 40 or 00 (every other bit goes off too)
std::int64_t SetActivation(bool enable); // Or 8C00 80 or And 8C00 7F
std::int64_t SoftResetRemote();          // remote Or 8C00 20; -1 while the line is down
std::int64_t LineLoopbackRemote();       // remote Or 8C00 02; -1 while the line is down

} // namespace tessor::ops
