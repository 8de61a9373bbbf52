#include "model/NumberText.h"

namespace tessor {

void AppendHundredths(std::int64_t value, DecimalMark mark, std::string* out) {
    // The magnitude as unsigned, so that the lowest 64-bit value has one too.
    const std::uint64_t magnitude =
        value < 0 ? std::uint64_t{0} - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
    if (value < 0)
        out->push_back('-');
    *out += std::to_string(magnitude / 100);
    out->push_back(static_cast<char>(mark));
    out->push_back(static_cast<char>('0' + magnitude % 100 / 10));
    out->push_back(static_cast<char>('0' + magnitude % 10));
}

std::string FormatHundredths(std::int64_t value, DecimalMark mark) {
    std::string text;
    AppendHundredths(value, mark, &text);
    return text;
}

} // namespace tessor
