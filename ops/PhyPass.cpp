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

// Level register values offset by this many dB give the transmitted power in dBm/Hz.
constexpr int kPowerOffsetDb = 55;

struct IndicatorSource {
    bool fromLineFlags; // 8C98 rather than 8C71
    std::uint8_t mask;
    bool faultWhenSet; // red when the bit is set (LED9, LED12); the others are red when it is clear
};

constexpr std::array<IndicatorSource, kPhyIndicatorCount> kIndicatorSources{{
    {false, 0x80, false},
    {false, 0x40, false},
    {false, 0x20, false},
    {false, 0x08, false},
    {false, 0x04, false},
    {false, 0x02, false},
    {true, 0x80, true},
    {true, 0x04, false},
    {true, 0x02, false},
    {true, 0x01, true},
}};

std::optional<std::uint8_t> LowByte(const RegResult& result) {
    if (!result.ok())
        return std::nullopt;
    return static_cast<std::uint8_t>(result.value & 0xFF);
}

bool Stop(const StopPredicate& stop) {
    return stop && stop();
}

} // namespace

const std::array<const char*, kPhyIndicatorCount> kPhyIndicatorNames{
    "full_constellation", "reduced_constellation", "tc_sync",       "ethernet_sync",    "remote_sync",
    "signal_detected",    "micro_interruption",    "agc_converged", "timing_converged", "adc_saturation"};

std::optional<PhyReferences> PhyReferencesFor(std::uint8_t constellationCode) {
    struct CodeReferences {
        std::uint8_t code;
        PhyReferences references;
    };
    static const CodeReferences kTable[] = {
        {0x0, {9180, 6920}}, // QAM 256
        {0x2, {8550, 6920}}, // QAM 64
        {0x4, {7920, 6920}}, // QAM 16
        {0x6, {7600, 6920}}, // QAM 8
        {0x8, {7020, 6720}}, // QAM 4
        {0xA, {8840, 6920}}, // QAM 128
        {0xC, {7980, 6670}}, // QAM 32
    };
    for (const CodeReferences& entry : kTable) {
        if (entry.code == constellationCode)
            return entry.references;
    }
    return std::nullopt;
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
    return errorValue.ok() && txLevel.ok() && rsCorrected.ok() && linkStatus.ok() && lineFlags.ok() &&
           linkFailCount.ok();
}

PhyReadings PhyReadingsFromResults(const PhyReadResults& results) {
    PhyReadings readings;
    if (results.errorValue.ok())
        readings.mseRaw = static_cast<std::int32_t>(static_cast<std::uint32_t>(results.errorValue.value));
    const std::int64_t level = results.txLevel.value;
    if (results.txLevel.ok() && level >= 1 && level <= 0xFFFF) {
        if (const auto db = LevelDb(static_cast<std::uint16_t>(level)))
            readings.txLevelDb = *db + kPowerOffsetDb;
    }
    if (results.rsCorrected.ok()) {
        const auto value = static_cast<std::int32_t>(static_cast<std::uint32_t>(results.rsCorrected.value));
        readings.rsPerSecond = static_cast<std::uint32_t>(value / 5);
    }
    readings.linkStatus = LowByte(results.linkStatus);
    readings.lineFlags = LowByte(results.lineFlags);
    readings.linkFailCount = LowByte(results.linkFailCount);
    return readings;
}

int IndicatorState(int indicator, int flag) {
    const bool set = flag != 0;
    return set == kIndicatorSources[indicator].faultWhenSet ? 1 : 0;
}

PhyFigures ComputePhyFigures(const PhyReadings& readings, const std::optional<PhyReferences>& references) {
    PhyFigures figures;
    if (readings.mseRaw <= 0 || !references)
        return figures;
    const auto t = static_cast<std::int64_t>(1000.0 * std::log10(static_cast<double>(readings.mseRaw)));
    figures.snr = references->snr - t;
    figures.mse = references->mse - t;
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
    for (int i = 0; i < kPhyIndicatorCount; ++i) {
        const IndicatorSource& source = kIndicatorSources[i];
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
