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
    read.read =
        AccessLocalReg(bus, kRead, side == kSideNT ? kRegLineConfigDown : kRegLineConfigUp, kOneRegister);
    if (read.read.ok()) // a failed read names no constellation
        read.references = PhyReferencesFor(ConstellationCode(static_cast<std::uint8_t>(read.read.value)));
    return read;
}

bool PhyReadResults::AllAnswered() const {
    return ClassifyPhyReads(*this).Answered();
}

const RegResult* PhyReadResults::FirstSilent() const {
    for (const RegResult* r :
         {&errorValue, &txLevel, &rsCorrected, &linkStatus, &lineFlags, &linkFailCount}) {
        if (IsSilence(r->outcome))
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

PhyPass DecidePhyPass(const PhyReadResults& raw, bool complete,
                      const std::optional<PhyReferences>& references) {
    PhyPass pass;
    pass.complete = complete;
    pass.raw = raw;
    pass.outcome = ClassifyPhyReads(raw);
    pass.answered = complete && pass.outcome.BoardAnswered();
    // A pass the board did not answer shows nothing it said; its answered counts still count
    // (CountPhyPass).
    if (pass.answered)
        pass.values = DecodePhy(RegistersOf(raw), references);
    return pass;
}

PhyPass RunPhyPass(IRegisterBus& bus, const std::optional<PhyReferences>& references,
                   const StopPredicate& stop) {
    PhyReadResults raw;
    const bool complete = RunPhyReads(bus, &raw, stop);
    return DecidePhyPass(raw, complete, references);
}

void CountRsCorrected(const PhyReadResults& results, CClearedCount::Clock::time_point at,
                      CClearedCount& rsCorrected) {
    if (results.rsCorrected.ok())
        rsCorrected.Read(static_cast<std::uint32_t>(results.rsCorrected.value), at);
    else
        rsCorrected.Lost();
}

void CountPhyPass(const PhyReadResults& results, CClearedCount::Clock::time_point at,
                  CClearedCount& rsCorrected, CWrappingCount& linkFailures) {
    CountRsCorrected(results, at, rsCorrected);
    if (results.linkFailCount.ok())
        linkFailures.Read(static_cast<std::uint8_t>(results.linkFailCount.value & 0xFF));
}

} // namespace tessor::ops
