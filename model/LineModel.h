#pragma once

// Line arithmetic and encodings of the VDSL line: constellation and interpolation codes, line rate,
// carrier and level conversions, the standard presets and the Ethernet port speed settings. Every
// function here is pure; none touches a register.

#include "model/NumberText.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tessor {

// Crystal choices 0, 1, 2 in Hz.
inline constexpr std::array<std::int32_t, 3> kCrystalFrequenciesHz{19440000, 22500000, 25000000};

// A line configuration byte (8C10/8C11, read back as 8C40/8C41): low nibble constellation code, high
// nibble interpolation code.
constexpr std::uint8_t ConstellationCode(std::uint8_t lineConfig) {
    return lineConfig & 0x0F;
}
constexpr std::uint8_t InterpolationCode(std::uint8_t lineConfig) {
    return lineConfig >> 4;
}

struct Constellation {
    std::uint8_t sizeByte = 0; // point count; 0 stands for 256
    int bitsPerSymbol = 0;     // 2 (QAM 4) to 8 (QAM 256)
    int listPosition = 0;      // 0 (QAM 4) to 6 (QAM 256) in the constellation lists
};

struct Interpolation {
    int factor = 0;
    std::string_view text; // three characters, right-aligned ("  4", " 12")
};

// Entries of the downstream and upstream constellation lists, by list position.
inline constexpr std::array<std::string_view, 7> kDownstreamConstellationTexts{
    " QAM 4 ", " QAM 8", " QAM 16", " QAM 32", " QAM 64", " QAM 128", " QAM 256"};
inline constexpr std::array<std::string_view, 7> kUpstreamConstellationTexts{
    " QAM 4", " QAM 8", " QAM 16", " QAM 32 ", " QAM 64", " QAM 128", " QAM 256"};

// Constellation named by a code (0..15); nothing for codes that name none.
std::optional<Constellation> DecodeConstellation(std::uint8_t code);

// Interpolation factor named by a code (0..15); nothing for codes that name none.
std::optional<Interpolation> DecodeInterpolation(std::uint8_t code);

// Interpolation factors offered for a constellation size byte, in list order.
std::vector<Interpolation> InterpolationChoices(std::uint8_t sizeByte);

// Line rate in Mbit/s for a crystal, constellation size byte and interpolation factor; nothing when the
// pair of constellation and factor is not a valid line setting.
std::optional<float> LineRate(std::int32_t crystalHz, std::uint8_t sizeByte, int factor);

// Rate with four significant digits and a decimal comma as the Link page shows it ("11,25", "0,6075"), or
// with the mark given ("11.25" for the report); empty for no rate and 0.
std::string FormatLineRate(std::optional<float> rate, DecimalMark mark = DecimalMark::Comma);

// Carrier in 10 kHz units from a 16-bit carrier register value.
std::int32_t CarrierFromRegister(std::int32_t crystalHz, std::uint16_t registerValue);

// Carrier text with a decimal point and two decimals ("1.73", "0.05").
std::string FormatCarrier(std::int32_t carrier);

// Magnitude of 20*log10(value/1024), rounded half up to whole dB. A register value of 0 has no
// logarithm and gives nothing: callers show "-" for it, as for any other missing measurement.
std::optional<int> LevelDb(std::uint16_t registerValue);

// Text of the level minus n dB: "- 60.0".
std::string FormatNegativeDb(int n);

// Standard presets: the bytes for 8C10 to 8C15, in register order.
inline constexpr std::array<std::string_view, 6> kPresetRegisters{"8C10", "8C11", "8C12",
                                                                  "8C13", "8C14", "8C15"};
struct LinePreset {
    std::array<std::uint8_t, 6> bytes;

    std::uint8_t Downstream() const { return bytes[0]; }
    std::uint8_t Upstream() const { return bytes[1]; }
};
inline constexpr std::array<LinePreset, 4> kLinePresets{{
    {{0x32, 0x24, 0x4F, 0x00, 0xE3, 0x00}},
    {{0x44, 0x44, 0x66, 0x00, 0xCD, 0x00}},
    {{0x30, 0x30, 0x4F, 0x00, 0xD4, 0x00}},
    {{0x54, 0x68, 0x4B, 0x00, 0xB7, 0x00}},
}};

// Preset list entries for a crystal index; entry n names preset n. Indexes other than 0..2 give empty
// lists.
struct PresetNameLists {
    std::vector<std::string_view> downstream;
    std::vector<std::string_view> upstream;
};
PresetNameLists PresetNames(int crystalIndex);

// Ethernet port speed settings by speed list position: the bytes for 8D40, 8D42 and 8D43.
inline constexpr std::array<std::string_view, 3> kEthernetSpeedRegisters{"8D40", "8D42", "8D43"};
inline constexpr std::array<std::string_view, 3> kEthernetSpeedTexts{"  1", "  2", "  3"};
struct EthernetSpeedSetting {
    std::uint8_t reg8D40;
    std::uint8_t reg8D42;
    std::uint8_t reg8D43;
};
inline constexpr std::array<EthernetSpeedSetting, 3> kEthernetSpeedSettings{{
    {0x0E, 0x00, 0x12}, // 10 Mbit/s half duplex
    {0x1E, 0x00, 0x34}, // 10 Mbit/s full duplex
    {0x3E, 0x02, 0xF4}, // automatic
}};

// Speed list position shown for a value of 8D43; nothing when its upper nibble names no setting.
std::optional<int> DecodeEthernetSpeed(std::uint8_t reg8D43);

} // namespace tessor
