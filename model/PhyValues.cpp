#include "model/PhyValues.h"

#include "model/LineModel.h"

namespace tessor {

namespace {

const IndicatorDef& Def(int indicator) {
    return kIndicatorDefs[static_cast<std::size_t>(indicator)];
}

const std::optional<std::uint32_t>& SourceOf(const PhyRegisters& registers, int indicator) {
    return Def(indicator).fromLineFlags ? registers.lineFlags : registers.linkStatus;
}

void DecodeIndicators(const PhyRegisters& registers, PhyValues* values) {
    for (int i = 0; i < kIndicatorCount; ++i) {
        const std::optional<std::uint32_t>& reg = SourceOf(registers, i);
        if (!reg)
            continue;
        values->indicatorsKnown = static_cast<std::uint16_t>(values->indicatorsKnown | 1u << i);
        if (*reg & Def(i).mask)
            values->indicators = static_cast<std::uint16_t>(values->indicators | 1u << i);
    }
}

template <typename T> std::string TextOr(const std::optional<T>& value) {
    return value ? std::to_string(*value) : std::string("-");
}

} // namespace

std::optional<bool> PhyValues::LineUp() const {
    if (!registers.linkStatus)
        return std::nullopt;
    return LineUpFromStatus(static_cast<std::uint8_t>(*registers.linkStatus & 0xFF));
}

std::optional<bool> PhyValues::Indicator(int i) const {
    if (!(indicatorsKnown & 1u << i))
        return std::nullopt;
    return (indicators & 1u << i) != 0;
}

PhyValues DecodePhy(const PhyRegisters& registers, const std::optional<LineReferences>& references) {
    PhyValues v;
    v.registers = registers;
    if (registers.errorValue && references) {
        const auto error = static_cast<std::int32_t>(*registers.errorValue);
        if (const std::optional<SnrMse> figures = SnrMseFromError(error, *references)) {
            v.snrCenti = static_cast<std::int32_t>(figures->snr);
            v.mseCenti = static_cast<std::int32_t>(figures->mse);
        }
    }
    if (registers.txLevel) {
        if (const std::optional<int> db = PowerDbBelowZero(*registers.txLevel))
            v.txPowerDbmHz = -*db;
    }
    if (registers.linkFailCount)
        v.linkFailCount = static_cast<std::uint8_t>(*registers.linkFailCount & 0xFF);
    DecodeIndicators(registers, &v);
    return v;
}

PhyTexts FormatPhyTexts(const PhyValues& values, DecimalMark mark) {
    PhyTexts texts;
    const std::string none = "-";
    texts.snr = values.snrCenti ? FormatHundredths(*values.snrCenti, mark) : none;
    texts.mse = values.mseCenti ? FormatHundredths(*values.mseCenti, mark) : none;
    // The page's figure is taken as signed and shown unsigned, as it always was.
    const std::optional<std::uint32_t>& rs = values.registers.rsCorrected;
    texts.rs = rs ? std::to_string(static_cast<std::uint32_t>(RsPerSecond(*rs))) : none;
    texts.linkFail = TextOr(values.linkFailCount);
    texts.power = values.txPowerDbmHz ? FormatNegativeDb(-*values.txPowerDbmHz) : none;
    for (int i = 0; i < kIndicatorCount; ++i)
        texts.flags[static_cast<std::size_t>(i)] = values.Indicator(i).value_or(false) ? 1 : 0;
    return texts;
}

} // namespace tessor
