#include "model/LineModel.h"
#include "model/LineVocabulary.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

namespace tessor {
namespace {

std::vector<std::string> Texts(const std::vector<Interpolation>& choices) {
    std::vector<std::string> texts;
    for (const Interpolation& choice : choices) {
        texts.emplace_back(choice.text);
    }
    return texts;
}

std::vector<int> Factors(const std::vector<Interpolation>& choices) {
    std::vector<int> factors;
    for (const Interpolation& choice : choices) {
        factors.push_back(choice.factor);
    }
    return factors;
}

// --- Constellation and interpolation codes ---

struct ConstellationRow {
    std::uint8_t code;
    bool named;
    std::uint8_t sizeByte;
    int bitsPerSymbol;
    int listPosition;
};

TEST(DecodeConstellation, EveryCode) {
    const ConstellationRow rows[] = {
        {0x0, true, 0, 8, 6},   {0x1, false, 0, 0, 0}, {0x2, true, 64, 6, 4},  {0x3, false, 0, 0, 0},
        {0x4, true, 16, 4, 2},  {0x5, false, 0, 0, 0}, {0x6, true, 8, 3, 1},   {0x7, false, 0, 0, 0},
        {0x8, true, 4, 2, 0},   {0x9, false, 0, 0, 0}, {0xA, true, 128, 7, 5}, {0xB, false, 0, 0, 0},
        {0xC, true, 32, 5, 3},  {0xD, false, 0, 0, 0}, {0xE, false, 0, 0, 0},  {0xF, false, 0, 0, 0},
        {0x10, false, 0, 0, 0}, // not a nibble
    };
    for (const ConstellationRow& row : rows) {
        SCOPED_TRACE(static_cast<int>(row.code));
        const std::optional<Constellation> decoded = DecodeConstellation(row.code);
        ASSERT_EQ(decoded.has_value(), row.named);
        if (row.named) {
            EXPECT_EQ(decoded->sizeByte, row.sizeByte);
            EXPECT_EQ(decoded->bitsPerSymbol, row.bitsPerSymbol);
            EXPECT_EQ(decoded->listPosition, row.listPosition);
        }
    }
}

TEST(DecodeInterpolation, EveryCode) {
    struct Row {
        std::uint8_t code;
        int factor; // 0: names no factor
        const char* text;
    };
    const Row rows[] = {
        {0x0, 4, "  4"},  {0x1, 6, "  6"},  {0x2, 8, "  8"},  {0x3, 12, " 12"}, {0x4, 16, " 16"},
        {0x5, 24, " 24"}, {0x6, 32, " 32"}, {0x7, 48, " 48"}, {0x8, 64, " 64"}, {0x9, 10, " 10"},
        {0xA, 14, " 14"}, {0xB, 0, ""},     {0xC, 0, ""},     {0xD, 0, ""},     {0xE, 0, ""},
        {0xF, 0, ""},     {0x10, 0, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(static_cast<int>(row.code));
        const std::optional<Interpolation> decoded = DecodeInterpolation(row.code);
        ASSERT_EQ(decoded.has_value(), row.factor != 0);
        if (decoded) {
            EXPECT_EQ(decoded->factor, row.factor);
            EXPECT_EQ(decoded->text, row.text);
        }
    }
}

TEST(LineConfigByte, DecodesBothNibbles) {
    struct Row {
        std::uint8_t byte;
        std::optional<int> listPosition;
        const char* interpolationText; // nullptr: no factor
    };
    const Row rows[] = {
        {0x32, 4, " 12"},            // QAM 64, 12
        {0x68, 0, " 32"},            // QAM 4, 32
        {0x22, 4, "  8"},            // QAM 64, 8
        {0x31, std::nullopt, " 12"}, // constellation code 1 names nothing
        {0xB0, 6, nullptr},          // interpolation code B names nothing
        {0xAC, 3, " 14"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(static_cast<int>(row.byte));
        const auto constellation = DecodeConstellation(ConstellationCode(row.byte));
        ASSERT_EQ(constellation.has_value(), row.listPosition.has_value());
        if (constellation) {
            EXPECT_EQ(constellation->listPosition, *row.listPosition);
        }
        const auto interpolation = DecodeInterpolation(InterpolationCode(row.byte));
        ASSERT_EQ(interpolation.has_value(), row.interpolationText != nullptr);
        if (interpolation) {
            EXPECT_EQ(interpolation->text, row.interpolationText);
        }
    }
}

TEST(ConstellationTexts, ListPositionsMatchTheCodes) {
    // The list entry at a code's position must name that code's constellation.
    const std::pair<std::uint8_t, const char*> codes[] = {{0x8, "QAM 4"},  {0x6, "QAM 8"},  {0x4, "QAM 16"},
                                                          {0xC, "QAM 32"}, {0x2, "QAM 64"}, {0xA, "QAM 128"},
                                                          {0x0, "QAM 256"}};
    for (const auto& [code, name] : codes) {
        const auto position = static_cast<std::size_t>(DecodeConstellation(code)->listPosition);
        EXPECT_EQ(kDownstreamConstellationTexts[position].find(name), 1u) << name;
        EXPECT_EQ(kUpstreamConstellationTexts[position].find(name), 1u) << name;
    }
    EXPECT_EQ(kDownstreamConstellationTexts[0], " QAM 4 ");
    EXPECT_EQ(kDownstreamConstellationTexts[3], " QAM 32");
    EXPECT_EQ(kUpstreamConstellationTexts[0], " QAM 4");
    EXPECT_EQ(kUpstreamConstellationTexts[3], " QAM 32 ");
}

TEST(InterpolationChoices, BySizeByte) {
    const std::vector<int> all{4, 6, 8, 12, 16, 24, 32, 48, 64};
    const std::vector<std::pair<std::uint8_t, std::vector<int>>> rows = {
        {32, {10}},
        {128, {14}},
        {64, {6, 8, 12, 16, 24, 32, 48, 64}},
        {0, {8, 12, 16, 24, 32, 48, 64}},
        {4, all},
        {8, all},
        {16, all},
        {5, all}, // a size no code names still gets the general list
    };
    for (const auto& [sizeByte, factors] : rows) {
        SCOPED_TRACE(static_cast<int>(sizeByte));
        EXPECT_EQ(Factors(InterpolationChoices(sizeByte)), factors);
    }
    EXPECT_EQ(Texts(InterpolationChoices(32)), std::vector<std::string>{" 10"});
    EXPECT_EQ(Texts(InterpolationChoices(128)), std::vector<std::string>{" 14"});
    EXPECT_EQ(Texts(InterpolationChoices(0)).front(), "  8");
    EXPECT_EQ(Texts(InterpolationChoices(16)),
              (std::vector<std::string>{"  4", "  6", "  8", " 12", " 16", " 24", " 32", " 48", " 64"}));
}

// --- Line rate ---

struct RateRow {
    std::int32_t crystalHz;
    std::uint8_t sizeByte;
    int factor;
    float rate;
    const char* text;
};

TEST(LineRate, WorkedExamples) {
    const RateRow rows[] = {
        {22500000, 64, 12, 11.25f, "11,25"},    {19440000, 64, 12, 9.72f, "9,720"},
        {19440000, 4, 32, 1.215f, "1,215"},     {19440000, 4, 64, 0.6075f, "0,6075"},
        {22500000, 0, 12, 15.0f, "15,00"},      {22500000, 16, 32, 2.8125f, "2,813"},
        {25000000, 0, 12, 16.666666f, "16,67"}, {25000000, 64, 6, 25.0f, "25,00"},
        {22500000, 4, 32, 1.40625f, "1,406"},   {22500000, 64, 8, 16.875f, "16,88"},
        {25000000, 8, 4, 18.75f, "18,75"},
    };
    for (const RateRow& row : rows) {
        SCOPED_TRACE(row.text);
        const std::optional<float> rate = LineRate(row.crystalHz, row.sizeByte, row.factor);
        ASSERT_TRUE(rate.has_value());
        EXPECT_EQ(*rate, row.rate);
        EXPECT_EQ(FormatLineRate(rate), row.text);
    }
}

TEST(LineRate, SingleFactorConstellations) {
    // QAM 32 and QAM 128 multiply by the single-precision tenth and fourteenth.
    const RateRow rows[] = {
        {25000000, 32, 10, 12.5f, "12,50"},
        {22500000, 32, 10, 11.25f, "11,25"},
        {25000000, 128, 14, 12.5f, "12,50"},
        {19440000, 128, 14, 9.72f, "9,720"},
    };
    for (const RateRow& row : rows) {
        SCOPED_TRACE(row.text);
        const std::optional<float> rate = LineRate(row.crystalHz, row.sizeByte, row.factor);
        ASSERT_TRUE(rate.has_value());
        EXPECT_FLOAT_EQ(*rate, row.rate);
        EXPECT_EQ(FormatLineRate(rate), row.text);
    }
}

TEST(LineRate, PairsOutsideTheTableHaveNoRate) {
    const std::pair<std::uint8_t, int> pairs[] = {
        {32, 12}, {0, 4}, {64, 4}, {128, 10}, {32, 14}, {16, 10}, {4, 14}, {5, 8}, {0, 0}, {64, 7},
    };
    for (const auto& [sizeByte, factor] : pairs) {
        SCOPED_TRACE(std::to_string(sizeByte) + "/" + std::to_string(factor));
        const std::optional<float> rate = LineRate(25000000, sizeByte, factor);
        EXPECT_FALSE(rate.has_value());
        EXPECT_EQ(FormatLineRate(rate), "");
    }
}

TEST(FormatLineRate, Digits) {
    struct Row {
        std::optional<float> rate;
        const char* text;
    };
    const Row rows[] = {
        {std::nullopt, ""},    {0.0f, ""},
        {-0.0f, ""},           {2.8125f, "2,813"}, // exact tie rounds up
        {1.2345f, "1,235"},                        // the float lies just above the tie
        {1.2355f, "1,235"},                        // the float lies just below the tie
        {9.9996f, "10,00"},                        // carry into a new digit
        {0.99996f, "1,000"},   {0.6075f, "0,6075"},
        {0.06075f, "0,06075"}, // below 0.1: zeros after the comma, still four digits
        {99.99f, "99,99"},     {100.0f, "100,0"},
        {4295.3f, "4295"},     {12345.0f, "12350"},
        {-1.5f, "-1,500"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(FormatLineRate(row.rate), row.text);
    }
    EXPECT_EQ(FormatLineRate(std::numeric_limits<float>::infinity()), "");
    EXPECT_EQ(FormatLineRate(std::numeric_limits<float>::quiet_NaN()), "");
}

// Leaves digits on the stack where the next call at the same depth keeps its local buffers.
__attribute__((noinline)) void FillStackWithDigits() {
    volatile char junk[4096];
    for (volatile char& c : junk) {
        c = '7';
    }
}

TEST(FormatLineRate, ExponentIsReadOnlyFromTheConversion) {
    for (int i = 0; i < 3; ++i) {
        FillStackWithDigits();
        EXPECT_EQ(FormatLineRate(11.25f), "11,25");
        FillStackWithDigits();
        EXPECT_EQ(FormatLineRate(0.6075f), "0,6075");
    }
}

// --- Carrier ---

TEST(CarrierFromRegister, TruncatesTheSinglePrecisionProduct) {
    struct Row {
        std::int32_t crystalHz;
        std::uint16_t value;
        std::int32_t carrier;
        const char* text;
    };
    const Row rows[] = {
        {25000000, 1024, 2499, "24.99"}, // a whole 2500 comes out one lower
        {22500000, 79, 173, "1.73"},
        {19440000, 512, 971, "9.71"},
        {19440000, 0, 0, "0.00"},
        {25000000, 0, 0, "0.00"},
        {25000000, 2, 4, "0.04"}, // exactly 4.8828125 before the scale's error
        {25000000, 65535, 159997, "1599.97"},
        {22500000, 4096, 8999, "89.99"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        const std::int32_t carrier = CarrierFromRegister(row.crystalHz, row.value);
        EXPECT_EQ(carrier, row.carrier);
        EXPECT_EQ(FormatCarrier(carrier), row.text);
    }
}

TEST(CarrierFromRegister, ExtremeCrystalsTruncateTowardZero) {
    EXPECT_EQ(CarrierFromRegister(std::numeric_limits<std::int32_t>::max(), 65535), 13743685);
    EXPECT_EQ(CarrierFromRegister(std::numeric_limits<std::int32_t>::min(), 65535), -13743685);
    EXPECT_EQ(CarrierFromRegister(-25000000, 1024), -2499);
}

TEST(FormatCarrier, DecimalPointBeforeTheLastTwoDigits) {
    const std::pair<std::int32_t, const char*> rows[] = {
        {173, "1.73"},
        {800, "8.00"},
        {100, "1.00"},
        {99, "0.99"},
        {55, "0.55"},
        {10, "0.10"},
        {9, "0.09"},
        {5, "0.05"},
        {0, "0.00"},
        {12345, "123.45"},
        {-5, "-0.05"},
        {-173, "-1.73"},
        {std::numeric_limits<std::int32_t>::min(), "-21474836.48"},
    };
    for (const auto& [carrier, text] : rows) {
        EXPECT_EQ(FormatCarrier(carrier), text) << carrier;
    }
}

// --- Level ---

TEST(LevelDb, RoundsTheMagnitudeHalfUp) {
    const std::pair<std::uint16_t, int> rows[] = {
        {1024, 0}, {512, 6},  {2048, 6}, {100, 20},  {1, 60},  {65535, 36},
        {724, 3},  {300, 11}, {3000, 9}, {4000, 12}, {363, 9}, {1023, 0},
    };
    for (const auto& [value, db] : rows) {
        SCOPED_TRACE(value);
        const std::optional<int> level = LevelDb(value);
        ASSERT_TRUE(level.has_value());
        EXPECT_EQ(*level, db);
    }
}

TEST(LevelDb, ZeroHasNoLevel) {
    EXPECT_FALSE(LevelDb(0).has_value());
}

TEST(FormatNegativeDb, MinusBlankNumberPointZero) {
    const std::pair<int, const char*> rows[] = {
        {60, "- 60.0"}, {115, "- 115.0"}, {55, "- 55.0"}, {0, "- 0.0"}};
    for (const auto& [n, text] : rows) {
        EXPECT_EQ(FormatNegativeDb(n), text) << n;
    }
    // The power field: a level register of 1024 shows 55 dB below the reference.
    EXPECT_EQ(FormatNegativeDb(*LevelDb(1024) + 55), "- 55.0");
    EXPECT_EQ(FormatNegativeDb(*LevelDb(1) + 55), "- 115.0");
}

// --- Presets and speeds ---

TEST(LinePresets, BytesAndTheirDecoding) {
    struct Row {
        std::array<std::uint8_t, 6> bytes;
        std::uint8_t dsSize;
        const char* dsInterpolation;
        std::uint8_t usSize;
        const char* usInterpolation;
    };
    const Row rows[] = {
        {{0x32, 0x24, 0x4F, 0x00, 0xE3, 0x00}, 64, " 12", 16, "  8"},
        {{0x44, 0x44, 0x66, 0x00, 0xCD, 0x00}, 16, " 16", 16, " 16"},
        {{0x30, 0x30, 0x4F, 0x00, 0xD4, 0x00}, 0, " 12", 0, " 12"},
        {{0x54, 0x68, 0x4B, 0x00, 0xB7, 0x00}, 16, " 24", 4, " 32"},
    };
    ASSERT_EQ(kLinePresets.size(), std::size(rows));
    for (std::size_t n = 0; n < kLinePresets.size(); ++n) {
        SCOPED_TRACE(n);
        const LinePreset& preset = kLinePresets[n];
        EXPECT_EQ(preset.bytes, rows[n].bytes);
        EXPECT_EQ(DecodeConstellation(ConstellationCode(preset.Downstream()))->sizeByte, rows[n].dsSize);
        EXPECT_EQ(DecodeInterpolation(InterpolationCode(preset.Downstream()))->text, rows[n].dsInterpolation);
        EXPECT_EQ(DecodeConstellation(ConstellationCode(preset.Upstream()))->sizeByte, rows[n].usSize);
        EXPECT_EQ(DecodeInterpolation(InterpolationCode(preset.Upstream()))->text, rows[n].usInterpolation);
    }
    EXPECT_EQ(kPresetRegisters,
              (std::array<std::string_view, 6>{"8C10", "8C11", "8C12", "8C13", "8C14", "8C15"}));
}

TEST(PresetNames, ByCrystalIndex) {
    using Names = std::vector<std::string_view>;
    struct Row {
        int crystalIndex;
        Names downstream;
        Names upstream;
    };
    const Row rows[] = {
        {0,
         {" 9,72 Mbps", " 4,86 Mbps", " 2,43 Mbps"},
         {" 9,72 Mbps", " 4,86 Mbps", " 2,43 Mbps", " 1,21 Mbps"}},
        {1,
         {"11,25 Mbps", " 5,63 Mbps", " 2,81 Mbps"},
         {"11,25 Mbps", " 5,63 Mbps", " 2,81 Mbps", " 1,4 Mbps"}},
        {2, {"   10 M", "    5 M", "   15 M", "  4M/1M"}, {"   10 M", "    5 M", "   15 M", "    1 M"}},
        {3, {}, {}},
        {-1, {}, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.crystalIndex);
        const PresetNameLists names = PresetNames(row.crystalIndex);
        EXPECT_EQ(names.downstream, row.downstream);
        EXPECT_EQ(names.upstream, row.upstream);
    }
}

TEST(EthernetSpeed, TriplesAndDecoding) {
    const EthernetSpeedSetting expected[] = {{0x0E, 0x00, 0x12}, {0x1E, 0x00, 0x34}, {0x3E, 0x02, 0xF4}};
    for (std::size_t p = 0; p < kEthernetSpeedSettings.size(); ++p) {
        SCOPED_TRACE(p);
        EXPECT_EQ(kEthernetSpeedSettings[p].reg8D40, expected[p].reg8D40);
        EXPECT_EQ(kEthernetSpeedSettings[p].reg8D42, expected[p].reg8D42);
        EXPECT_EQ(kEthernetSpeedSettings[p].reg8D43, expected[p].reg8D43);
        // Writing a position and reading 8D43 back selects the same position.
        EXPECT_EQ(DecodeEthernetSpeed(kEthernetSpeedSettings[p].reg8D43), static_cast<int>(p));
    }
    const std::pair<std::uint8_t, std::optional<int>> reads[] = {
        {0x10, 0},
        {0x1F, 0},
        {0x34, 1},
        {0x30, 1},
        {0xF0, 2},
        {0xFF, 2}, // FF: a failed remote read
        {0x00, std::nullopt},
        {0x20, std::nullopt},
        {0x40, std::nullopt},
        {0xE4, std::nullopt},
    };
    for (const auto& [value, position] : reads) {
        EXPECT_EQ(DecodeEthernetSpeed(value), position) << static_cast<int>(value);
    }
    EXPECT_EQ(kEthernetSpeedRegisters, (std::array<std::string_view, 3>{"8D40", "8D42", "8D43"}));
    EXPECT_EQ(kEthernetSpeedTexts, (std::array<std::string_view, 3>{"  1", "  2", "  3"}));
}

// Each counter's place names the counter of that register.
TEST(CounterId, NamesItsCounter) {
    const struct {
        CounterId id;
        const char* address;
        const char* name;
    } cases[] = {
        {kCounterTxFrames, "8D1C", "tx_frames"},
        {kCounterRxFrames, "8D20", "rx_frames"},
        {kCounterTxOctets, "8D08", "tx_octets"},
        {kCounterRxOctets, "8D0C", "rx_octets"},
        {kCounterReceiveErrors, "8CF8", "receive_errors"},
        {kCounterFrameTooLongErrors, "8D00", "frame_too_long_errors"},
        {kCounterFrameCheckSequenceErrors, "8D04", "frame_check_sequence_errors"},
    };
    for (const auto& c : cases) {
        const CounterDef& d = kCounterDefs[static_cast<std::size_t>(c.id)];
        EXPECT_STREQ(d.address, c.address) << c.name;
        EXPECT_STREQ(d.name, c.name);
    }
    EXPECT_EQ(kCounterFrameCheckSequenceErrors + 1, kCounterDefCount);
}

} // namespace
} // namespace tessor
