#include "ops/PhyPass.h"

#include "link/ConsolePort.h"
#include "model/LineModel.h"
#include "ops/Access.h"
#include "ops/BlockReads.h"
#include "ops/Board.h"

#include <vector>

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

bool RunPhyReads(IRegisterBus& bus, PhyReadResults* results, const StopPredicate& stop, bool blockReads) {
    // The program's own status read of 8C71 passes the shared constant, so it stays out of the terminal.
    const std::vector<RegisterRead> reads{{kRegErrorValue, 3}, {kRegTxLevel, 2},   {kRegRsCorrected, 4},
                                          {kReg8C71, 1},       {kRegLineFlags, 1}, {kRegLinkFailCount, 1}};
    RegResult* const targets[] = {&results->errorValue, &results->txLevel,   &results->rsCorrected,
                                  &results->linkStatus, &results->lineFlags, &results->linkFailCount};
    for (const ReadBlock& block : PlanReads(reads, blockReads)) {
        const std::vector<RegResult> got = ReadBlockOnce(bus, reads, block);
        for (std::size_t k = 0; k < got.size(); ++k)
            *targets[block.first + k] = got[k];
        if (Stop(stop))
            return false;
    }
    return true;
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
                   const StopPredicate& stop, bool blockReads) {
    PhyReadResults raw;
    const bool complete = RunPhyReads(bus, &raw, stop, blockReads);
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
