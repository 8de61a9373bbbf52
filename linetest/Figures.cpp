#include "linetest/Figures.h"

#include "model/NumberText.h"

#include <cmath>
#include <cstdint>
#include <cstdio>

namespace tessor::linetest {

std::string Fixed(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

std::string Centi(double centi) {
    return FormatHundredths(static_cast<std::int64_t>(std::llround(centi)), DecimalMark::Point);
}

} // namespace tessor::linetest
