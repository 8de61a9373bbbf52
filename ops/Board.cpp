#include "ops/Board.h"

#include "link/ConsolePort.h"
#include "link/RegisterAccess.h"

#include <cstdio>

namespace tessor::ops {

namespace {

const char kOneRegister[] = " 1";
const char kReg8C70[] = "8C70";
const char kReg8C72[] = "8C72";
const char kReg8C73[] = "8C73";
const char kReg8C6F[] = "8C6F";

constexpr std::int64_t kActivationBit = 0x80;
constexpr std::int64_t kTransmitterBit = 0x40;

std::optional<std::uint16_t> Identification(std::int64_t result) {
    if (BoardFailed(result))
        return std::nullopt;
    return static_cast<std::uint16_t>(result & 0xFFFF);
}

BoardIdentification ReadIdentificationOf(int target) {
    const auto access = target == kRemote ? &AccessRemoteReg : &AccessLocalReg;
    BoardIdentification id;
    id.raw72 = access(kRead, kReg8C72, kOneRegister);
    id.id72 = Identification(id.raw72);
    id.raw73 = access(kRead, kReg8C73, kOneRegister);
    id.id73 = Identification(id.raw73);
    id.raw6F = access(kRead, kReg8C6F, kOneRegister);
    id.id6F = Identification(id.raw6F);
    return id;
}

} // namespace

bool BoardFailed(std::int64_t result) {
    const CConsolePort* port = g_pConsolePort.load();
    return result < 0 || port == nullptr || port->NoComm();
}

ModemSideRead DetectModemSide() {
    ModemSideRead read;
    read.raw = AccessLocalReg(kRead, kReg8C70, kOneRegister);
    read.side = (read.raw & 0x10) ? kSideNT : kSideLT;
    return read;
}

BoardIdentification ReadBoardIdentification() {
    return ReadIdentificationOf(kLocal);
}

BoardIdentification ReadRemoteIdentification() {
    return ReadIdentificationOf(kRemote);
}

std::string IdentificationText(const std::optional<std::uint16_t>& value) {
    if (!value)
        return "--";
    char text[8];
    std::snprintf(text, sizeof text, "%02X", static_cast<unsigned>(*value));
    return text;
}

bool LinkUp() {
    return IsLinkUp();
}

std::int64_t RegisterOperation(int target, std::uint8_t op, const std::string& address,
                               const std::string& value) {
    return target == kRemote ? AccessRemoteReg(op, address.c_str(), value.c_str())
                             : AccessLocalReg(op, address.c_str(), value.c_str());
}

std::int64_t ReadControl() {
    // The shared constant makes it the program's own status read, which the terminal does not show.
    return AccessLocalReg(kRead, kReg8C00, kOneRegister);
}

bool ActivationOn(std::int64_t control) {
    return (control & kActivationBit) != 0;
}

bool TransmitterOn(std::int64_t control) {
    return (control & kTransmitterBit) != 0;
}

std::int64_t SoftResetLocal() {
    return AccessLocalReg(kOr, kReg8C00, "20");
}

std::int64_t LocalLoopback() {
    // The activation bit goes off before the loopback bit goes on.
    AccessLocalReg(kAnd, kReg8C00, "7F");
    return AccessLocalReg(kOr, kReg8C00, "01");
}

std::int64_t LineLoopbackLocal() {
    return AccessLocalReg(kOr, kReg8C00, "02");
}

std::int64_t SetTransmitter(bool on) {
    return AccessLocalReg(kWrite, kReg8C00, on ? "40" : "00");
}

std::int64_t SetActivation(bool enable) {
    return enable ? AccessLocalReg(kOr, kReg8C00, "80") : AccessLocalReg(kAnd, kReg8C00, "7F");
}

std::int64_t SoftResetRemote() {
    return AccessRemoteReg(kOr, kReg8C00, "20");
}

std::int64_t LineLoopbackRemote() {
    return AccessRemoteReg(kOr, kReg8C00, "02");
}

} // namespace tessor::ops
