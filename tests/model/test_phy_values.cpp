// Decoding a PHY pass and the page texts of it, against hand-computed values.
#include "model/PhyValues.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>

namespace tessor {
namespace {

const LineReferences kQam256{9180, 6920};
const LineReferences kQam4{7020, 6720};

PhyRegisters ErrorValue(std::uint32_t value) {
    PhyRegisters r;
    r.errorValue = value;
    return r;
}

TEST(PhyTexts, HundredthsWithDecimalComma) {
    const std::pair<std::int64_t, const char*> cases[] = {
        {6180, "61,80"}, {740, "7,40"}, {5, "0,05"},     {0, "0,00"},
        {-204, "-2,04"}, {-5, "-0,05"}, {2879, "28,79"},
    };
    for (const auto& [value, text] : cases)
        EXPECT_EQ(FormatHundredths(value, DecimalMark::Comma), text) << value;
}

TEST(PhyValues, SnrAndMseFromErrorValue) {
    // 1000 log10(2000000) = 6301,03: truncated to 6301.
    const struct {
        std::uint32_t error;
        LineReferences refs;
        std::int32_t snr, mse;
    } table[] = {
        {2000000, kQam256, 2879, 619},
        {2000000, kQam4, 719, 419},
        {16000000, kQam4, -184, -484}, // 1000 log10(16000000) = 7204,1: above the reference
        {1, kQam256, 9180, 6920},
    };
    for (const auto& row : table) {
        const PhyValues v = DecodePhy(ErrorValue(row.error), row.refs);
        EXPECT_EQ(v.snrCenti, row.snr) << row.error;
        EXPECT_EQ(v.mseCenti, row.mse) << row.error;
    }
    const PhyTexts texts = FormatPhyTexts(DecodePhy(ErrorValue(16000000), kQam4));
    EXPECT_EQ(texts.snr, "-1,84");
    EXPECT_EQ(texts.mse, "-4,84");
}

TEST(PhyValues, NoMeasurementNoFigures) {
    // 0, and values whose low 32 bits taken as signed are negative (-1, -5000), are no measurement.
    for (std::uint32_t error : {0u, 0xFFFFFFFFu, 0xFFFFEC78u}) {
        const PhyValues v = DecodePhy(ErrorValue(error), kQam256);
        EXPECT_FALSE(v.snrCenti) << error;
        EXPECT_FALSE(v.mseCenti) << error;
        EXPECT_EQ(FormatPhyTexts(v).snr, "-") << error;
    }
    // Without references (no constellation known yet) there is nothing to subtract from.
    EXPECT_FALSE(DecodePhy(ErrorValue(2000000), std::nullopt).snrCenti);
    EXPECT_EQ(FormatPhyTexts(DecodePhy(ErrorValue(2000000), std::nullopt)).mse, "-");
}

TEST(PhyValues, ReferenceTable) {
    const struct {
        std::uint8_t code;
        std::int32_t snr, mse;
    } table[] = {{0x0, 9180, 6920}, {0x2, 8550, 6920}, {0x4, 7920, 6920}, {0x6, 7600, 6920},
                 {0x8, 7020, 6720}, {0xA, 8840, 6920}, {0xC, 7980, 6670}};
    for (const auto& row : table) {
        const auto refs = ReferencesForConstellation(row.code);
        ASSERT_TRUE(refs) << int(row.code);
        EXPECT_EQ(refs->snr, row.snr);
        EXPECT_EQ(refs->mse, row.mse);
    }
    for (std::uint8_t code : {1, 3, 5, 7, 9, 0xB, 0xD, 0xE, 0xF})
        EXPECT_FALSE(ReferencesForConstellation(code)) << int(code);
}

TEST(PhyValues, RegistersToValuesAndTexts) {
    PhyRegisters r;
    r.errorValue = 2000000;
    r.txLevel = 1024;
    r.rsCorrected = 1234;
    r.linkStatus = 0xC2;
    r.lineFlags = 0x81;
    r.linkFailCount = 0x107; // only the low byte counts
    const PhyValues v = DecodePhy(r, kQam256);
    EXPECT_EQ(v.txPowerDbmHz, -55);
    EXPECT_EQ(v.linkFailCount, 7);
    EXPECT_EQ(v.registers.rsCorrected, 1234u);
    const PhyTexts texts = FormatPhyTexts(v);
    EXPECT_EQ(texts.rs, "246"); // 1234 / 5
    EXPECT_EQ(texts.power, "- 55.0");
    EXPECT_EQ(texts.linkFail, "7");

    r.txLevel = 576;            // 5 dB below 1024
    r.rsCorrected = 0x80000004; // taken as signed: -2147483644 / 5 = -429496728, shown unsigned
    const PhyTexts other = FormatPhyTexts(DecodePhy(r, kQam256));
    EXPECT_EQ(other.power, "- 60.0");
    EXPECT_EQ(other.rs, "3865470568");
}

TEST(PhyValues, PowerOnlyForALevelWithALogarithm) {
    // 0 has no logarithm; anything beyond 16 bits is no level either.
    for (std::uint32_t level : {0u, 65536u, 0x1FFFFu}) {
        PhyRegisters r;
        r.txLevel = level;
        EXPECT_FALSE(DecodePhy(r, std::nullopt).txPowerDbmHz) << level;
        EXPECT_EQ(FormatPhyTexts(DecodePhy(r, std::nullopt)).power, "-") << level;
    }
    const std::pair<std::uint32_t, int> edges[] = {{1, -115}, {65535, -91}}; // 60 dB below, 36 dB above 1024
    for (const auto& [level, dbm] : edges) {
        PhyRegisters r;
        r.txLevel = level;
        EXPECT_EQ(DecodePhy(r, std::nullopt).txPowerDbmHz, dbm) << level;
    }
}

TEST(PhyValues, IndicatorsKnownOnlyFromTheRegistersRead) {
    // 8C71 = 0xAE: bits 7, 5, 3, 2, 1; 8C98 = 0x81: bits 7 and 0.
    PhyRegisters r;
    r.linkStatus = 0xAE;
    PhyValues v = DecodePhy(r, std::nullopt);
    EXPECT_EQ(v.indicatorsKnown, 0x3F);
    EXPECT_EQ(v.indicators, 0x3D); // all of 8C71's but the reduced constellation
    EXPECT_FALSE(v.Indicator(kIndMicroInterruption));
    EXPECT_EQ(v.LineUp(), true);

    r.lineFlags = 0x81;
    r.linkStatus = 0x20; // TC sync only: line down
    v = DecodePhy(r, std::nullopt);
    EXPECT_EQ(v.indicatorsKnown, 0x3FF);
    EXPECT_EQ(v.indicators, 1u << kIndTcSync | 1u << kIndMicroInterruption | 1u << kIndAdcSaturation);
    EXPECT_EQ(v.LineUp(), false);
    EXPECT_EQ(FormatPhyTexts(v).flags[kIndAdcSaturation], 1);
    EXPECT_EQ(FormatPhyTexts(v).flags[kIndAgcConverged], 0);
}

TEST(PhyValues, UnreadRegistersGiveNoValues) {
    const PhyValues v = DecodePhy(PhyRegisters{}, kQam256);
    EXPECT_FALSE(v.snrCenti);
    EXPECT_FALSE(v.txPowerDbmHz);
    EXPECT_FALSE(v.linkFailCount);
    EXPECT_EQ(v.indicatorsKnown, 0);
    EXPECT_FALSE(v.LineUp());
    const PhyTexts texts = FormatPhyTexts(v);
    for (const std::string* text : {&texts.snr, &texts.mse, &texts.rs, &texts.linkFail, &texts.power})
        EXPECT_EQ(*text, "-");
    for (int flag : texts.flags)
        EXPECT_EQ(flag, 0);
}

} // namespace
} // namespace tessor
