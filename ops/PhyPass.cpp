#include "ops/PhyPass.h"

#include "link/ConsolePort.h"
#include "model/LineModel.h"
#include "ops/Access.h"
#include "ops/Board.h"

namespace tessor::ops {

namespace {

const char kRegErrorValue[] = "8C99";
const char kRegTxLevel[] = "8C9C";
const char kRegRsCorrected[] = "8C91";
const char kRegLineFlags[] = "8C98";
const char kRegLinkFailCount[] = "8D38";
const char kRegLineConfigDown[] = "8C10";
const char kRegLineConfigUp[] = "8C11";
const char kOneRegister[] = " 1";

bool Stop(const StopPredicate& stop) {
    return stop && stop();
}

} // namespace

std::optional<PhyReferences> PhyReferencesFor(std::uint8_t constellationCode) {
    return ReferencesForConstellation(constellationCode);
}

PhyReferenceRead ReadPhyReferences(IRegisterBus& bus, std::uint8_t side) {
    // The local modem receives downstream on the NT side and upstream on the LT side.
    PhyReferenceRead read;
    read.read = AccessLocalReg(bus, kRead, side == kSideNT ? kRegLineConfigDown : kRegLineConfigUp, kOneRegister);
    if (read.read.ok()) // a failed read names no constellation
        read.references = PhyReferencesFor(ConstellationCode(static_cast<std::uint8_t>(read.read.value)));
    return read;
}

bool PhyReadResults::AllAnswered() const {
    return FirstUnanswered() == nullptr;
}

const RegResult* PhyReadResults::FirstUnanswered() const {
    for (const RegResult* r :
         {&errorValue, &txLevel, &rsCorrected, &linkStatus, &lineFlags, &linkFailCount}) {
        if (!r->ok())
            return r;
    }
    return nullptr;
}

PassOutcome ClassifyPhyReads(const PhyReadResults& r) {
    return ClassifyPass(
        {&r.errorValue, &r.txLevel, &r.rsCorrected, &r.linkStatus, &r.lineFlags, &r.linkFailCount});
}

PhyRegisters RegistersOf(const PhyReadResults& results) {
    const auto value = [](const RegResult& r) -> std::optional<std::uint32_t> {
        if (!r.ok())
            return std::nullopt;
        return static_cast<std::uint32_t>(r.value);
    };
    return {value(results.errorValue), value(results.txLevel),   value(results.rsCorrected),
            value(results.linkStatus), value(results.lineFlags), value(results.linkFailCount)};
}

int IndicatorState(int indicator, int flag) {
    const bool set = flag != 0;
    return set == kIndicatorDefs[static_cast<std::size_t>(indicator)].faultWhenSet ? 1 : 0;
}

bool RunPhyReads(IRegisterBus& bus, PhyReadResults* results, const StopPredicate& stop) {
    results->errorValue = AccessLocalRegByte(bus, kRead, kRegErrorValue, 3);
    if (Stop(stop))
        return false;
    results->txLevel = AccessLocalRegByte(bus, kRead, kRegTxLevel, 2);
    if (Stop(stop))
        return false;
    results->rsCorrected = AccessLocalRegByte(bus, kRead, kRegRsCorrected, 4);
    if (Stop(stop))
        return false;
    // The program's own status read of 8C71 passes the shared constant, so it stays out of the terminal.
    results->linkStatus = AccessLocalReg(bus, kRead, kReg8C71, kOneRegister);
    if (Stop(stop))
        return false;
    results->lineFlags = AccessLocalReg(bus, kRead, kRegLineFlags, kOneRegister);
    if (Stop(stop))
        return false;
    results->linkFailCount = AccessLocalReg(bus, kRead, kRegLinkFailCount, kOneRegister);
    return !Stop(stop);
}

PhyPass RunPhyPass(IRegisterBus& bus, const std::optional<PhyReferences>& references,
                   const StopPredicate& stop) {
    PhyPass pass;
    pass.complete = RunPhyReads(bus, &pass.raw, stop);
    if (!pass.complete)
        return pass;
    pass.values = DecodePhy(RegistersOf(pass.raw), references);
    return pass;
}

} // namespace tessor::ops
