#include "recorder/RecordingCsv.h"

#include "recorder/RecordingFile.h"

#include <charconv>

namespace tessor::rec {

namespace {

// Days since 1970-01-01 of a civil date and back (proleptic Gregorian calendar).
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void CivilFromDays(std::int64_t z, std::int64_t* y, unsigned* m, unsigned* d) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    *d = doy - (153 * mp + 2) / 5 + 1;
    *m = mp < 10 ? mp + 3 : mp - 9;
    *y = static_cast<std::int64_t>(yoe) + era * 400 + (*m <= 2);
}

void AppendDigits(std::int64_t value, int width, std::string* out) {
    char buf[8];
    for (int i = width - 1; i >= 0; --i) {
        buf[i] = static_cast<char>('0' + value % 10);
        value /= 10;
    }
    out->append(buf, static_cast<std::size_t>(width));
}

bool ReadDigits(const char* p, int width, int* value) {
    int v = 0;
    for (int i = 0; i < width; ++i) {
        if (p[i] < '0' || p[i] > '9')
            return false;
        v = v * 10 + (p[i] - '0');
    }
    *value = v;
    return true;
}

} // namespace

namespace file {

void AppendInt(std::int64_t value, std::string* out) {
    char buf[24];
    const auto r = std::to_chars(buf, buf + sizeof buf, value);
    out->append(buf, r.ptr);
}

void AppendUnsigned(std::uint64_t value, std::string* out) {
    char buf[24];
    const auto r = std::to_chars(buf, buf + sizeof buf, value);
    out->append(buf, r.ptr);
}

void Commas(int n, std::string* out) {
    out->append(static_cast<std::size_t>(n), ',');
}

void AppendQuoted(const std::string& text, std::string* out) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) {
        *out += text;
        return;
    }
    out->push_back('"');
    for (char c : text) {
        if (c == '"')
            out->push_back('"');
        out->push_back(c == '\r' || c == '\n' ? ' ' : c);
    }
    out->push_back('"');
}

bool SplitLine(const char* p, const char* end, std::vector<std::string_view>* fields,
               std::deque<std::string>* unquoted) {
    fields->clear();
    unquoted->clear();
    for (;;) {
        if (p < end && *p == '"') {
            std::string text;
            ++p;
            for (;;) {
                if (p >= end)
                    return false;
                if (*p == '"') {
                    if (p + 1 < end && p[1] == '"') {
                        text.push_back('"');
                        p += 2;
                        continue;
                    }
                    ++p;
                    break;
                }
                text.push_back(*p++);
            }
            unquoted->push_back(std::move(text));
            fields->emplace_back(); // replaced below
            fields->back() = std::string_view(unquoted->back());
        } else {
            const char* start = p;
            while (p < end && *p != ',')
                ++p;
            fields->emplace_back(start, static_cast<std::size_t>(p - start));
        }
        if (p >= end)
            return true;
        ++p; // the comma
    }
}

CutLine ShapeOf(std::string_view line) {
    CutLine cut;
    std::size_t i = 0;
    for (;;) {
        if (i < line.size() && line[i] == '"') {
            for (++i;; ++i) {
                if (i >= line.size()) {
                    cut.inQuotes = true;
                    return cut;
                }
                if (line[i] == '"' && i + 1 < line.size() && line[i + 1] == '"')
                    ++i;
                else if (line[i] == '"')
                    break;
            }
            ++i;
        } else {
            while (i < line.size() && line[i] != ',')
                ++i;
        }
        if (i >= line.size())
            return cut;
        ++i; // the separator
        ++cut.fields;
    }
}

} // namespace file

std::string FormatUtc(std::int64_t wallMs) {
    std::string out;
    AppendUtc(wallMs, &out);
    return out;
}

void AppendUtc(std::int64_t wallMs, std::string* out) {
    std::int64_t days = wallMs / 86400000;
    std::int64_t msOfDay = wallMs % 86400000;
    if (msOfDay < 0) {
        msOfDay += 86400000;
        --days;
    }
    std::int64_t y = 0;
    unsigned m = 0;
    unsigned d = 0;
    CivilFromDays(days, &y, &m, &d);
    AppendDigits(y, 4, out);
    out->push_back('-');
    AppendDigits(m, 2, out);
    out->push_back('-');
    AppendDigits(d, 2, out);
    out->push_back('T');
    AppendDigits(msOfDay / 3600000, 2, out);
    out->push_back(':');
    AppendDigits(msOfDay / 60000 % 60, 2, out);
    out->push_back(':');
    AppendDigits(msOfDay / 1000 % 60, 2, out);
    out->push_back('.');
    AppendDigits(msOfDay % 1000, 3, out);
    out->push_back('Z');
}

bool ParseUtc(const char* p, std::size_t len, std::int64_t* wallMs) {
    // YYYY-MM-DDTHH:MM:SS.mmmZ
    if (len != 24 || p[4] != '-' || p[7] != '-' || p[10] != 'T' || p[13] != ':' || p[16] != ':' ||
        p[19] != '.' || p[23] != 'Z')
        return false;
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0, ms = 0;
    if (!ReadDigits(p, 4, &y) || !ReadDigits(p + 5, 2, &mo) || !ReadDigits(p + 8, 2, &d) ||
        !ReadDigits(p + 11, 2, &h) || !ReadDigits(p + 14, 2, &mi) || !ReadDigits(p + 17, 2, &s) ||
        !ReadDigits(p + 20, 3, &ms))
        return false;
    if (mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || s > 60)
        return false;
    const std::int64_t days = DaysFromCivil(y, static_cast<unsigned>(mo), static_cast<unsigned>(d));
    *wallMs = ((days * 24 + h) * 60 + mi) * 60000 + s * 1000 + ms;
    return true;
}

} // namespace tessor::rec
