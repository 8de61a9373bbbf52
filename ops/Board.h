#pragma once

// Board-wide sequences: the modem side, the identification registers, the line check, single register
// operations and the General page's actions on the control register 8C00.

#include "link/RegisterBus.h"
#include "model/Modem.h"

#include <cstdint>
#include <optional>
#include <string>

namespace tessor::ops {

// Reads 8C70: bit 4 set means the local modem is NT. A read that timed out gives NT (the transport's
// cancelled wait reads with every bit set), any other failure LT.
struct ModemSideRead {
    RegResult read;
    std::uint8_t side = kSideLT;
};
ModemSideRead DetectModemSide(IRegisterBus& bus);

// The three identification registers of the local modem, read in the order 8C72, 8C73, 8C6F.
struct BoardIdentification {
    RegResult read72;
    RegResult read73;
    RegResult read6F;
    // Low 16 bits of each; nothing when the board did not answer that read.
    std::optional<std::uint16_t> id72;
    std::optional<std::uint16_t> id73;
    std::optional<std::uint16_t> id6F;
};
// With blockReads 8C72 and 8C73 go as one command (see PlanReads).
BoardIdentification ReadBoardIdentification(IRegisterBus& bus, bool blockReads = false);
// The same three registers of the remote modem, through the mailbox (callers check that the line is up).
BoardIdentification ReadRemoteIdentification(IRegisterBus& bus);

// Upper-case hexadecimal of an identification value, at least two digits, or "--" for none.
std::string IdentificationText(const std::optional<std::uint16_t>& value);

// The line check: 8C71 and 8C00 as silent status reads. True only when answered and up.
bool LinkUp(IRegisterBus& bus);

// One register operation on the local or the remote modem (a Target), with the value
// text as the register access takes it: the count text (" 1", "04") for a read, the byte for the others.
RegResult RegisterOperation(IRegisterBus& bus, int target, std::uint8_t op, const std::string& address,
                            const std::string& value);

// The control register 8C00 as the program's own (silent) status read.
RegResult ReadControl(IRegisterBus& bus);
bool ActivationOn(const RegResult& control);
bool TransmitterOn(const RegResult& control);

// The General page's actions. Each returns the first failure of its register operations, else the last
// result.
RegResult SoftResetLocal(IRegisterBus& bus);             // Or 8C00 20
RegResult LocalLoopback(IRegisterBus& bus);              // And 8C00 7F, then Or 8C00 01
RegResult LineLoopbackLocal(IRegisterBus& bus);          // Or 8C00 02
RegResult SetTransmitter(IRegisterBus& bus, bool on);    // Write 8C00 40 or 00 (every other bit goes off)
RegResult SetActivation(IRegisterBus& bus, bool enable); // Or 8C00 80 or And 8C00 7F
RegResult SoftResetRemote(IRegisterBus& bus);            // remote Or 8C00 20
RegResult LineLoopbackRemote(IRegisterBus& bus);         // remote Or 8C00 02

} // namespace tessor::ops
