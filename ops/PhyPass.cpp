#include "ops/PhyPass.h"

#include "link/ConsolePort.h"
#include "model/LineModel.h"
#include "ops/Access.h"
#include "ops/Board.h"

#include <cmath>

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

std::optional<std::uint8_t> LowByte(const RegResult& result) {
    if (!result.ok())
        return std::nullopt;
    return static_cast<std::uint8_t>(result.value & 0xFF);
}

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
    read.read = Local(bus, kRead, side == kSideNT ? kRegLineConfigDown : kRegLineConfigUp, kOneRegister);
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

PhyReadings PhyReadingsFromResults(const PhyReadResults& results) {
    PhyReadings readings;
    if (results.errorValue.ok())
        readings.mseRaw = static_cast<std::int32_t>(static_cast<std::uint32_t>(results.errorValue.value));
    if (results.txLevel.ok())
        readings.txLevelDb = PowerDbBelowZero(results.txLevel.value);
    if (results.rsCorrected.ok()) {
        readings.rsPerSecond = static_cast<std::uint32_t>(RsPerSecond(results.rsCorrected.value));
        readings.rsCorrectedCount = static_cast<std::uint32_t>(results.rsCorrected.value);
    }
    readings.linkStatus = LowByte(results.linkStatus);
    readings.lineFlags = LowByte(results.lineFlags);
    readings.linkFailCount = LowByte(results.linkFailCount);
    return readings;
}

int IndicatorState(int indicator, int flag) {
    const bool set = flag != 0;
    return set == kIndicatorDefs[static_cast<std::size_t>(indicator)].faultWhenSet ? 1 : 0;
}

PhyFigures ComputePhyFigures(const PhyReadings& readings, const std::optional<PhyReferences>& references) {
    PhyFigures figures;
    if (!references)
        return figures;
    if (const std::optional<SnrMse> v = SnrMseFromError(readings.mseRaw, *references)) {
        figures.snr = v->snr;
        figures.mse = v->mse;
    }
    return figures;
}

std::string FormatHundredths(std::int64_t value) {
    const std::int64_t magnitude = value < 0 ? -value : value;
    std::string text = value < 0 ? "-" : "";
    text += std::to_string(magnitude / 100);
    text += ',';
    const std::int64_t cents = magnitude % 100;
    text += static_cast<char>('0' + cents / 10);
    text += static_cast<char>('0' + cents % 10);
    return text;
}

PhyTexts MakePhyTexts(const PhyReadings& readings, const std::optional<PhyReferences>& references) {
    PhyTexts texts;
    const std::string none = "-";
    const PhyFigures figures = ComputePhyFigures(readings, references);
    texts.snr = figures.snr ? FormatHundredths(*figures.snr) : none;
    texts.mse = figures.mse ? FormatHundredths(*figures.mse) : none;
    texts.rs = readings.rsPerSecond ? std::to_string(*readings.rsPerSecond) : none;
    texts.linkFail = readings.linkFailCount ? std::to_string(*readings.linkFailCount) : none;
    texts.power = readings.txLevelDb ? FormatNegativeDb(*readings.txLevelDb) : none;
    for (int i = 0; i < kIndicatorCount; ++i) {
        const IndicatorDef& source = kIndicatorDefs[static_cast<std::size_t>(i)];
        const std::optional<std::uint8_t>& reg =
            source.fromLineFlags ? readings.lineFlags : readings.linkStatus;
        texts.flags[i] = reg && (*reg & source.mask) ? 1 : 0;
    }
    return texts;
}

bool RunPhyReads(IRegisterBus& bus, PhyReadResults* results, const StopPredicate& stop) {
    results->errorValue = LocalByte(bus, kRead, kRegErrorValue, 3);
    if (Stop(stop))
        return false;
    results->txLevel = LocalByte(bus, kRead, kRegTxLevel, 2);
    if (Stop(stop))
        return false;
    results->rsCorrected = LocalByte(bus, kRead, kRegRsCorrected, 4);
    if (Stop(stop))
        return false;
    // The program's own status read of 8C71 passes the shared constant, so it stays out of the terminal.
    results->linkStatus = Local(bus, kRead, kReg8C71, kOneRegister);
    if (Stop(stop))
        return false;
    results->lineFlags = Local(bus, kRead, kRegLineFlags, kOneRegister);
    if (Stop(stop))
        return false;
    results->linkFailCount = Local(bus, kRead, kRegLinkFailCount, kOneRegister);
    return !Stop(stop);
}

PhyPass RunPhyPass(IRegisterBus& bus, const std::optional<PhyReferences>& references,
                   const StopPredicate& stop) {
    PhyPass pass;
    pass.complete = RunPhyReads(bus, &pass.raw, stop);
    if (!pass.complete)
        return pass;
    pass.readings = PhyReadingsFromResults(pass.raw);
    pass.figures = ComputePhyFigures(pass.readings, references);
    pass.texts = MakePhyTexts(pass.readings, references);
    return pass;
}

} // namespace tessor::ops
