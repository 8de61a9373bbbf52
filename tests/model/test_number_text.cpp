// The one writer of hundredths, with either decimal mark.
#include "model/LineModel.h"
#include "model/NumberText.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

namespace tessor {
namespace {

TEST(NumberText, HundredthsWithEitherMark) {
    const struct {
        std::int64_t value;
        const char* comma;
        const char* point;
    } table[] = {
        {6180, "61,80", "61.80"},
        {740, "7,40", "7.40"},
        {100, "1,00", "1.00"},
        {99, "0,99", "0.99"},
        {10, "0,10", "0.10"},
        {5, "0,05", "0.05"},
        {0, "0,00", "0.00"},
        {-5, "-0,05", "-0.05"},
        {-204, "-2,04", "-2.04"},
        {-100, "-1,00", "-1.00"},
        {159997, "1599,97", "1599.97"},
        {std::numeric_limits<std::int32_t>::min(), "-21474836,48", "-21474836.48"},
        {std::numeric_limits<std::int64_t>::max(), "92233720368547758,07", "92233720368547758.07"},
        {std::numeric_limits<std::int64_t>::min(), "-92233720368547758,08", "-92233720368547758.08"},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.value);
        EXPECT_EQ(FormatHundredths(row.value, DecimalMark::Comma), row.comma);
        EXPECT_EQ(FormatHundredths(row.value, DecimalMark::Point), row.point);
        std::string appended = "x";
        AppendHundredths(row.value, DecimalMark::Point, &appended);
        EXPECT_EQ(appended, std::string("x") + row.point);
    }
}

// The line rate keeps its four significant digits; only the mark changes.
TEST(NumberText, LineRateWithEitherMark) {
    const struct {
        float rate;
        const char* comma;
        const char* point;
    } table[] = {
        {11.25f, "11,25", "11.25"},
        {0.6075f, "0,6075", "0.6075"},
        {0.05f, "0,05000", "0.05000"},
        {1234.5f, "1235", "1235"},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.comma);
        EXPECT_EQ(FormatLineRate(row.rate), row.comma) << "the Link page's comma by default";
        EXPECT_EQ(FormatLineRate(row.rate, DecimalMark::Comma), row.comma);
        EXPECT_EQ(FormatLineRate(row.rate, DecimalMark::Point), row.point);
    }
}

} // namespace
} // namespace tessor
