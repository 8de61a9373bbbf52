#pragma once

// Register access over a bus: single local operations, the line check, the remote modem's mailbox
// protocol and the modem restart. Every result carries what happened.

#include "link/ConsolePort.h"
#include "link/RegisterAccess.h"
#include "link/RegisterBus.h"
#include "model/Modem.h"

#include <cstdint>
#include <functional>
#include <string>

namespace tessor::ops {

// Bounds of the remote mailbox waits.
inline constexpr int kMailboxFreeReads = 100;
inline constexpr int kCompletionReads = 100;
inline constexpr int kRemoteRestartPauseMs = 2000;

// How a restart waits between its remote steps (tests record the pause instead of sleeping).
using Sleeper = std::function<void(int milliseconds)>;
void RealSleep(int milliseconds);

RegResult AccessLocalReg(IRegisterBus& bus, std::uint8_t op, const char* address, const char* value);
RegResult AccessLocalRegByte(IRegisterBus& bus, std::uint8_t op, const char* address, std::uint8_t value);

// The line check: 8C71 and 8C00 as the program's own (silent) status reads, both always made. Answered
// with value 1 when the line is up (8C71 bit 7 or 6 and 8C00 bit 7), 0 when it is down.
RegResult IsLinkUp(IRegisterBus& bus);

// One operation on the remote modem through the local modem's mailbox: the line check, the wait for a
// free mailbox (8CC0), the data, address and command writes (8CD0, 8CC2, 8CC1, 8CC0), the wait for
// completion (8CC4) for reads and writes other than of 8C00, and for a read the data (8CD0).
// LineDown when the check found the line down, MailboxIncomplete when the mailbox never came free or
// never completed.
RegResult AccessRemoteReg(IRegisterBus& bus, std::uint8_t op, const char* address, const char* value);
RegResult AccessRemoteRegByte(IRegisterBus& bus, std::uint8_t op, const char* address, std::uint8_t value);

// Whether writing `value` (as typed, blanks around it ignored) to the local register `address` is one step
// of a remote read: the mailbox's data and address registers only hold what the next start command takes,
// and "11" starts a read. Neither changes a register of either modem.
bool IsRemoteReadStep(const std::string& address, const std::string& value);

// On the local (kLocal) or remote (kRemote) modem.
RegResult OnTarget(IRegisterBus& bus, int target, std::uint8_t op, const char* address, const char* value);

// Or 8C00 08, then Or 8C00 20 (on the remote modem with a pause between). The first failure, if any.
RegResult RestartModem(IRegisterBus& bus, int target, const Sleeper& sleep);

} // namespace tessor::ops
