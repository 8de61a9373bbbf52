#pragma once

// CSV text of a recording file: numbers, quoting, splitting a line into fields, and the shape of a line
// cut short. The UTC calendar is declared in recorder/RecordingFile.h. Internal to the recording file.

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tessor::rec::file {

// The UTF-8 byte-order mark some editors put before the first line.
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

void AppendInt(std::int64_t value, std::string* out);
void AppendUnsigned(std::uint64_t value, std::string* out);
template <typename T> void AppendOptional(const std::optional<T>& value, std::string* out) {
    if (value)
        AppendInt(*value, out);
}
void Commas(int n, std::string* out);
// The text as a field: quoted when it holds a comma, a quote or a line end (line ends become blanks).
void AppendQuoted(const std::string& text, std::string* out);

// The fields of one CSV line (quotes undone); false for an unterminated quote.
bool SplitLine(const char* p, const char* end, std::vector<std::string_view>* fields,
               std::deque<std::string>* unquoted);

// Fields of a line cut short, and whether it was cut inside a quoted field.
struct CutLine {
    std::size_t fields = 1;
    bool inQuotes = false;
};

// Counted as SplitLine counts.
CutLine ShapeOf(std::string_view line);

} // namespace tessor::rec::file
