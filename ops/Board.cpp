#include "ops/Board.h"

#include "link/ConsolePort.h"
#include "ops/Access.h"
#include "ops/BlockReads.h"

#include <cstdio>
#include <vector>

namespace tessor::ops {

namespace {

const char kOneRegister[] = " 1";
const char kReg8C70[] = "8C70";
const char kReg8C72[] = "8C72";
const char kReg8C73[] = "8C73";
const char kReg8C6F[] = "8C6F";

constexpr std::int64_t kActivationBit = 0x80;
constexpr std::int64_t kTransmitterBit = 0x40;

std::optional<std::uint16_t> Identification(const RegResult& result) {
    if (!result.ok())
        return std::nullopt;
    return static_cast<std::uint16_t>(result.value & 0xFFFF);
}

BoardIdentification ReadIdentificationOf(IRegisterBus& bus, int target, bool blockReads) {
    BoardIdentification id;
    if (target == kRemote) {
        id.read72 = OnTarget(bus, target, kRead, kReg8C72, kOneRegister);
        id.read73 = OnTarget(bus, target, kRead, kReg8C73, kOneRegister);
        id.read6F = OnTarget(bus, target, kRead, kReg8C6F, kOneRegister);
    } else {
        const std::vector<RegisterRead> reads{{kReg8C72, 1}, {kReg8C73, 1}, {kReg8C6F, 1}};
        RegResult* const targets[] = {&id.read72, &id.read73, &id.read6F};
        for (const ReadBlock& block : PlanReads(reads, blockReads)) {
            const std::vector<RegResult> got = ReadBlockOnce(bus, reads, block);
            for (std::size_t k = 0; k < got.size(); ++k)
                *targets[block.first + k] = got[k];
        }
    }
    id.id72 = Identification(id.read72);
    id.id73 = Identification(id.read73);
    id.id6F = Identification(id.read6F);
    return id;
}

} // namespace

ModemSideRead DetectModemSide(IRegisterBus& bus) {
    ModemSideRead read;
    read.read = AccessLocalReg(bus, kRead, kReg8C70, kOneRegister);
    const bool nt = read.read.ok() ? (read.read.value & 0x10) != 0 : read.read.outcome == Outcome::NoAnswer;
    read.side = nt ? kSideNT : kSideLT;
    return read;
}

BoardIdentification ReadBoardIdentification(IRegisterBus& bus, bool blockReads) {
    return ReadIdentificationOf(bus, kLocal, blockReads);
}

BoardIdentification ReadRemoteIdentification(IRegisterBus& bus) {
    return ReadIdentificationOf(bus, kRemote, false);
}

std::string IdentificationText(const std::optional<std::uint16_t>& value) {
    if (!value)
        return "--";
    char text[8];
    std::snprintf(text, sizeof text, "%02X", static_cast<unsigned>(*value));
    return text;
}

bool LinkUp(IRegisterBus& bus) {
    const RegResult link = IsLinkUp(bus);
    return link.ok() && link.value == 1;
}

RegResult RegisterOperation(IRegisterBus& bus, int target, std::uint8_t op, const std::string& address,
                            const std::string& value) {
    return OnTarget(bus, target, op, address.c_str(), value.c_str());
}

RegResult ReadControl(IRegisterBus& bus) {
    // The shared constant makes it the program's own status read, which the terminal does not show.
    return AccessLocalReg(bus, kRead, kReg8C00, kOneRegister);
}

bool ActivationOn(const RegResult& control) {
    return control.ok() && (control.value & kActivationBit) != 0;
}

bool TransmitterOn(const RegResult& control) {
    return control.ok() && (control.value & kTransmitterBit) != 0;
}

RegResult SoftResetLocal(IRegisterBus& bus) {
    return AccessLocalReg(bus, kOr, kReg8C00, "20");
}

RegResult LocalLoopback(IRegisterBus& bus) {
    // The activation bit goes off before the loopback bit goes on.
    const RegResult off = AccessLocalReg(bus, kAnd, kReg8C00, "7F");
    return FirstFailure(off, AccessLocalReg(bus, kOr, kReg8C00, "01"));
}

RegResult LineLoopbackLocal(IRegisterBus& bus) {
    return AccessLocalReg(bus, kOr, kReg8C00, "02");
}

RegResult SetTransmitter(IRegisterBus& bus, bool on) {
    return AccessLocalReg(bus, kWrite, kReg8C00, on ? "40" : "00");
}

RegResult SetActivation(IRegisterBus& bus, bool enable) {
    return enable ? AccessLocalReg(bus, kOr, kReg8C00, "80") : AccessLocalReg(bus, kAnd, kReg8C00, "7F");
}

RegResult SoftResetRemote(IRegisterBus& bus) {
    return AccessRemoteReg(bus, kOr, kReg8C00, "20");
}

RegResult LineLoopbackRemote(IRegisterBus& bus) {
    return AccessRemoteReg(bus, kOr, kReg8C00, "02");
}

} // namespace tessor::ops
