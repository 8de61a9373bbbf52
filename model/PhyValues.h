#pragma once

// One PHY pass decoded once: the six register values it read and every figure taken from them (SNR,
// MSE, transmitted power, the link fail counter, the indicators). Every front end takes this value; the
// page texts come from one formatter.

#include "model/LineVocabulary.h"
#include "model/NumberText.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace tessor {

// The six registers of a PHY pass as read (n registers, lowest first); empty for a read not answered.
struct PhyRegisters {
    std::optional<std::uint32_t> errorValue;    // 8C99..8C9B
    std::optional<std::uint32_t> txLevel;       // 8C9C..8C9D
    std::optional<std::uint32_t> rsCorrected;   // 8C91..8C94: corrected RS errors since the last read
    std::optional<std::uint32_t> linkStatus;    // 8C71
    std::optional<std::uint32_t> lineFlags;     // 8C98
    std::optional<std::uint32_t> linkFailCount; // 8D38
};

// The decoded pass. A figure its registers or references could not give stays empty.
struct PhyValues {
    PhyRegisters registers;
    std::optional<std::int32_t> snrCenti;     // SNR in hundredths of dB
    std::optional<std::int32_t> mseCenti;     // mean square error in hundredths of dB
    std::optional<std::int32_t> txPowerDbmHz; // transmitted power in dBm/Hz (negative)
    std::optional<std::uint8_t> linkFailCount;
    std::uint16_t indicators = 0;      // bit per PhyIndicator, set when its register bit is set
    std::uint16_t indicatorsKnown = 0; // bit per PhyIndicator whose register was read

    // Whether the line is up (LineUpFromStatus of 8C71); unknown without 8C71.
    std::optional<bool> LineUp() const;
    // Whether indicator i's bit is set; unknown when its register was not read.
    std::optional<bool> Indicator(int i) const;
};

// Decodes a pass: SNR and MSE from the error value (low 32 bits taken as signed) and the references of
// the constellation received, nothing without references; the power from the level; the low byte of
// the link fail counter; each indicator from its register bit.
PhyValues DecodePhy(const PhyRegisters& registers, const std::optional<LineReferences>& references);

// Texts and indicator flags of one pass as the PHY page shows them; "-" for what is not known. rs is
// the page's figure, the corrected count divided by 5. The page writes SNR and MSE with a decimal comma,
// every other output with a point.
struct PhyTexts {
    std::string snr;
    std::string mse;
    std::string rs;
    std::string linkFail;
    std::string power;
    std::array<int, kIndicatorCount> flags{};
};
PhyTexts FormatPhyTexts(const PhyValues& values, DecimalMark mark = DecimalMark::Comma);

} // namespace tessor
