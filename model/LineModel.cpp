#include "model/LineModel.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace tessor {

namespace {

static_assert(std::numeric_limits<float>::is_iec559 && sizeof(float) == sizeof(std::uint32_t),
              "the line constants are IEEE single-precision bit patterns");

float FloatFromBits(std::uint32_t bits) {
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

// Single-precision constants of the line arithmetic. They are not the exact decimal values, and the
// results depend on that (a carrier that would be a whole number comes out one unit lower).
const float kMicro = FloatFromBits(0x358637BDu);        // nearest to 1e-6
const float kTenth = FloatFromBits(0x3DCCCCCDu);        // nearest to 0.1
const float kFourteenth = FloatFromBits(0x3D924925u);   // nearest to 1/14
const float kCarrierScale = FloatFromBits(0x33D1B717u); // nearest to 1/10240000, just below it

constexpr std::array<std::optional<Constellation>, 16> kConstellations{{
    Constellation{0, 8, 6}, // 0: QAM 256
    std::nullopt,
    Constellation{64, 6, 4}, // 2: QAM 64
    std::nullopt,
    Constellation{16, 4, 2}, // 4: QAM 16
    std::nullopt,
    Constellation{8, 3, 1}, // 6: QAM 8
    std::nullopt,
    Constellation{4, 2, 0}, // 8: QAM 4
    std::nullopt,
    Constellation{128, 7, 5}, // A: QAM 128
    std::nullopt,
    Constellation{32, 5, 3}, // C: QAM 32
    std::nullopt,
    std::nullopt,
    std::nullopt,
}};

// Interpolation factors by code 0..A.
constexpr std::array<Interpolation, 11> kInterpolations{{
    {4, "  4"},
    {6, "  6"},
    {8, "  8"},
    {12, " 12"},
    {16, " 16"},
    {24, " 24"},
    {32, " 32"},
    {48, " 48"},
    {64, " 64"},
    {10, " 10"},
    {14, " 14"},
}};

std::optional<Interpolation> InterpolationByFactor(int factor) {
    for (const Interpolation& entry : kInterpolations) {
        if (entry.factor == factor) {
            return entry;
        }
    }
    return std::nullopt;
}

std::vector<int> FactorsFor(std::uint8_t sizeByte) {
    switch (sizeByte) {
    case 32:
        return {10};
    case 128:
        return {14};
    case 64:
        return {6, 8, 12, 16, 24, 32, 48, 64};
    case 0:
        return {8, 12, 16, 24, 32, 48, 64};
    default:
        return {4, 6, 8, 12, 16, 24, 32, 48, 64};
    }
}

// Bits per symbol of a constellation size byte; nothing for a size no code names.
std::optional<int> BitsPerSymbol(std::uint8_t sizeByte) {
    for (const std::optional<Constellation>& entry : kConstellations) {
        if (entry && entry->sizeByte == sizeByte) {
            return entry->bitsPerSymbol;
        }
    }
    return std::nullopt;
}

bool IsOffered(std::uint8_t sizeByte, int factor) {
    for (int candidate : FactorsFor(sizeByte)) {
        if (candidate == factor) {
            return true;
        }
    }
    return false;
}

} // namespace

std::optional<Constellation> DecodeConstellation(std::uint8_t code) {
    if (code >= kConstellations.size()) {
        return std::nullopt;
    }
    return kConstellations[code];
}

std::optional<Interpolation> DecodeInterpolation(std::uint8_t code) {
    if (code >= kInterpolations.size()) {
        return std::nullopt;
    }
    return kInterpolations[code];
}

std::vector<Interpolation> InterpolationChoices(std::uint8_t sizeByte) {
    std::vector<Interpolation> choices;
    for (int factor : FactorsFor(sizeByte)) {
        choices.push_back(*InterpolationByFactor(factor));
    }
    return choices;
}

std::optional<float> LineRate(std::int32_t crystalHz, std::uint8_t sizeByte, int factor) {
    const std::optional<int> bitsPerSymbol = BitsPerSymbol(sizeByte);
    if (!bitsPerSymbol || !IsOffered(sizeByte, factor)) {
        return std::nullopt;
    }
    // Left to right in double precision, rounded to single precision at the end.
    const double scaled = static_cast<double>(crystalHz) * *bitsPerSymbol * static_cast<double>(kMicro);
    double rate;
    if (sizeByte == 32) {
        rate = scaled * static_cast<double>(kTenth);
    } else if (sizeByte == 128) {
        rate = scaled * static_cast<double>(kFourteenth);
    } else {
        rate = scaled / factor;
    }
    return static_cast<float>(rate);
}

std::string FormatLineRate(std::optional<float> rate, DecimalMark mark) {
    if (!rate || *rate == 0.0f || !std::isfinite(*rate)) {
        return {};
    }
    double value = static_cast<double>(*rate);
    std::string text;
    if (value < 0) {
        text = "-";
        value = -value;
    }
    // The exact decimal expansion of any float fits in 150 digits after the first, so the digits
    // below are not rounded and the fifth one decides the rounding half up.
    char buffer[200];
    const std::to_chars_result result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific, 150);
    if (result.ec != std::errc() || result.ptr == buffer + sizeof buffer) {
        return {};
    }
    *result.ptr = '\0'; // to_chars does not terminate; atoi below reads the exponent up to here
    const char* exponentMark = static_cast<const char*>(std::memchr(buffer, 'e', result.ptr - buffer));
    if (exponentMark == nullptr) {
        return {};
    }
    // buffer holds "d.ddd...e+XX".
    int digits =
        (buffer[0] - '0') * 1000 + (buffer[2] - '0') * 100 + (buffer[3] - '0') * 10 + (buffer[4] - '0');
    int exponent = std::atoi(exponentMark + 1) + 1; // digits before the decimal point
    if (buffer[5] >= '5') {
        ++digits;
        if (digits == 10000) {
            digits = 1000;
            ++exponent;
        }
    }
    const std::string four = std::to_string(digits);
    if (exponent <= 0) {
        text += std::string("0") + static_cast<char>(mark) +
                std::string(static_cast<std::size_t>(-exponent), '0') + four;
    } else if (exponent < 4) {
        const auto split = static_cast<std::size_t>(exponent);
        text += four.substr(0, split) + static_cast<char>(mark) + four.substr(split);
    } else {
        text += four + std::string(static_cast<std::size_t>(exponent - 4), '0');
    }
    return text;
}

std::int32_t CarrierFromRegister(std::int32_t crystalHz, std::uint16_t registerValue) {
    const double product =
        static_cast<double>(crystalHz) * registerValue * static_cast<double>(kCarrierScale);
    // |product| stays below 2^24 for any 32-bit crystal and 16-bit value, so it fits the result.
    return static_cast<std::int32_t>(std::trunc(product));
}

std::string FormatCarrier(std::int32_t carrier) {
    return FormatHundredths(carrier, DecimalMark::Point);
}

std::optional<int> LevelDb(std::uint16_t registerValue) {
    if (registerValue == 0) {
        return std::nullopt;
    }
    const double db =
        std::fabs(20.0 * (std::log10(static_cast<double>(registerValue)) - 10.0 * std::log10(2.0)));
    int whole = static_cast<int>(db);
    if (db - whole >= 0.5) {
        ++whole;
    }
    return whole;
}

std::string FormatNegativeDb(int n) {
    return "- " + std::to_string(n) + ".0";
}

PresetNameLists PresetNames(int crystalIndex) {
    switch (crystalIndex) {
    case 0:
        return {{" 9,72 Mbps", " 4,86 Mbps", " 2,43 Mbps"},
                {" 9,72 Mbps", " 4,86 Mbps", " 2,43 Mbps", " 1,21 Mbps"}};
    case 1:
        return {{"11,25 Mbps", " 5,63 Mbps", " 2,81 Mbps"},
                {"11,25 Mbps", " 5,63 Mbps", " 2,81 Mbps", " 1,4 Mbps"}};
    case 2:
        return {{"   10 M", "    5 M", "   15 M", "  4M/1M"}, {"   10 M", "    5 M", "   15 M", "    1 M"}};
    default:
        return {};
    }
}

std::optional<int> DecodeEthernetSpeed(std::uint8_t reg8D43) {
    switch (reg8D43 & 0xF0) {
    case 0x10:
        return 0;
    case 0x30:
        return 1;
    case 0xF0:
        return 2;
    default:
        return std::nullopt;
    }
}

} // namespace tessor
