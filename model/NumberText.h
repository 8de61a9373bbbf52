#pragma once

// The one writer of figures kept in hundredths (SNR and MSE in hundredths of dB, the carrier in hundredths
// of MHz). The pages show a decimal comma where their texts always had one; the report, the JSON documents,
// the recording and the metrics write a point. One output uses one mark throughout.

#include <cstdint>
#include <string>

namespace tessor {

enum class DecimalMark : char { Comma = ',', Point = '.' };

// Two decimals after the mark, the sign before the whole part: 6180 gives "61,80" or "61.80", 5 gives
// "0,05", -204 gives "-2,04".
std::string FormatHundredths(std::int64_t value, DecimalMark mark);
// The same text appended to out.
void AppendHundredths(std::int64_t value, DecimalMark mark, std::string* out);

} // namespace tessor
