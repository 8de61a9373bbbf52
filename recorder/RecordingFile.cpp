#include "recorder/RecordingFile.h"

#include "link/PlainFile.h"
#include "model/PublishedNames.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <deque>
#include <limits>
#include <memory>
#include <vector>

namespace tessor::rec {

namespace {

enum Column {
    kColTime,
    kColMono,
    kColType,
    kColRawFirst, // six raw register results
    kColSnr = kColRawFirst + 6,
    kColMse,
    kColRs,
    kColPower,
    kColLinkFail,
    kColIndicatorFirst,
    kColAnswered = kColIndicatorFirst + kIndicatorCount,
    kColReadFirst,
    kColTotalFirst = kColReadFirst + kCounterCount,
    kColRateFirst = kColTotalFirst + kCounterCount,
    kColEvent = kColRateFirst + kCounterCount,
    kColDetail,
    kColumnCount
};

std::vector<std::string> ColumnNames() {
    std::vector<std::string> names;
    for (Published p :
         {Published::kTimeUtc, Published::kMonotonicMs, Published::kRowType, Published::kErrorValueReg,
          Published::kTxLevelReg, Published::kRsCorrectedReg, Published::kLinkStatusReg,
          Published::kLineFlagsReg, Published::kLinkFailReg, Published::kSnr, Published::kMse,
          Published::kRsCorrectedPerSecond, Published::kTxPower, Published::kLinkFailCount})
        names.emplace_back(NameOf(p));
    for (int i = 0; i < kIndicatorCount; ++i)
        names.emplace_back(IndicatorColumn(i));
    names.emplace_back(NameOf(Published::kAnswered));
    for (const char* suffix : kCounterColumnSuffixes) {
        for (const CounterDef& c : kCounters)
            names.push_back(std::string(c.name) + suffix);
    }
    names.emplace_back(NameOf(Published::kEvent));
    names.emplace_back(NameOf(Published::kDetail));
    return names;
}

// The UTF-8 byte-order mark some editors put before the first line.
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

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

// Hundredths as a decimal number with two places: 2879 -> "28.79", -204 -> "-2.04".
void AppendCenti(std::int32_t value, std::string* out) {
    const std::int64_t v = value;
    const std::int64_t magnitude = v < 0 ? -v : v;
    if (v < 0)
        out->push_back('-');
    AppendInt(magnitude / 100, out);
    out->push_back('.');
    out->push_back(static_cast<char>('0' + magnitude % 100 / 10));
    out->push_back(static_cast<char>('0' + magnitude % 10));
}

void AppendOptional(std::int32_t value, std::string* out) {
    if (value != kNoValue)
        AppendInt(value, out);
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

void AppendTimes(const SampleTime& time, const char* type, std::string* out) {
    AppendUtc(time.wallMs, out);
    out->push_back(',');
    AppendInt(time.monoMs, out);
    out->push_back(',');
    *out += type;
}

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

// The fields of one CSV line (quotes undone); false for an unterminated quote.
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

bool ToInt(std::string_view text, std::int64_t* value) {
    if (text.empty())
        return false;
    const auto r = std::from_chars(text.data(), text.data() + text.size(), *value);
    return r.ec == std::errc() && r.ptr == text.data() + text.size();
}

bool ToUnsigned(std::string_view text, std::uint64_t* value) {
    if (text.empty())
        return false;
    const auto r = std::from_chars(text.data(), text.data() + text.size(), *value);
    return r.ec == std::errc() && r.ptr == text.data() + text.size();
}

// The values a column can hold; anything outside makes the row damaged (it never wraps).
struct Range {
    std::int64_t min;
    std::int64_t max;
};

bool ToIntIn(std::string_view text, Range range, std::int64_t* value) {
    return ToInt(text, value) && *value >= range.min && *value <= range.max;
}

// A register result: -1 for a read that failed, else the registers read (n bytes, lowest first).
constexpr Range RegisterRange(int registers) {
    return Range{-1, (std::int64_t{1} << (8 * registers)) - 1};
}
constexpr Range kRawRanges[6] = {RegisterRange(3), RegisterRange(2), RegisterRange(4),
                                 RegisterRange(1), RegisterRange(1), RegisterRange(1)};
// SNR and MSE in hundredths of dB (the references less the error value's logarithm stay well inside),
// power in dBm/Hz, the 8-bit link fail counter.
constexpr Range kCentiRange{-10000, 10000};
constexpr Range kPowerRange{-255, 0};
constexpr Range kLinkFailRange{0, 255};
// Monotonic times any clock gives; their differences cannot overflow.
constexpr Range kMonoRange{-(std::int64_t{1} << 62), std::int64_t{1} << 62};

// "28.79" -> 2879; empty -> kNoValue.
bool ToCenti(std::string_view text, std::int32_t* value) {
    if (text.empty()) {
        *value = kNoValue;
        return true;
    }
    const bool negative = text.front() == '-';
    if (negative)
        text.remove_prefix(1);
    const std::size_t dot = text.find('.');
    std::int64_t whole = 0;
    if (!ToIntIn(text.substr(0, dot), Range{0, kCentiRange.max / 100}, &whole))
        return false;
    std::int64_t frac = 0;
    if (dot != std::string_view::npos) {
        const std::string_view f = text.substr(dot + 1);
        if (f.size() != 2 || !ToIntIn(f, Range{0, 99}, &frac))
            return false;
    }
    const std::int64_t v = negative ? -(whole * 100 + frac) : whole * 100 + frac;
    if (v < kCentiRange.min || v > kCentiRange.max)
        return false;
    *value = static_cast<std::int32_t>(v);
    return true;
}

// RS errors per second as files hold them: hundredths with two decimals, over the real time (at most what
// the sample keeps), or whole numbers in files written before the rates were made over real time (the
// count divided by 5, as a signed 32-bit number).
constexpr Range kRsCentiRange{0, std::numeric_limits<std::int32_t>::max() - 1};
constexpr Range kFormerRsRange{-429496729, 429496729};

// A rate column: empty, or a rate in one of the two forms. Its value is not taken: the rate is worked out
// again from the raw count and the times.
bool IsRateText(std::string_view text) {
    std::int64_t v = 0;
    if (text.empty() || ToIntIn(text, kFormerRsRange, &v))
        return true;
    const std::size_t dot = text.find('.');
    std::int64_t whole = 0;
    std::int64_t frac = 0;
    return dot != std::string_view::npos && text.size() - dot == 3 &&
           ToIntIn(text.substr(0, dot), Range{0, kRsCentiRange.max / 100}, &whole) &&
           ToIntIn(text.substr(dot + 1), Range{0, 99}, &frac) && whole * 100 + frac <= kRsCentiRange.max;
}

bool ToOptional(std::string_view text, Range range, std::int32_t* value) {
    std::int64_t v = 0;
    if (text.empty()) {
        *value = kNoValue;
        return true;
    }
    if (!ToIntIn(text, range, &v))
        return false;
    *value = static_cast<std::int32_t>(v);
    return true;
}

// "0", "1", or empty for not known.
bool ToFlag(std::string_view text, bool* known, bool* set) {
    *known = !text.empty();
    *set = text == "1";
    return text.empty() || text == "0" || text == "1";
}

struct RowReader {
    std::vector<int> columnOf; // our column -> field index in the file
    std::vector<std::string_view> fields;
    std::deque<std::string> unquoted; // stable addresses for the views into it

    std::string_view Field(int column) const {
        const int at = columnOf[static_cast<std::size_t>(column)];
        return at >= 0 && static_cast<std::size_t>(at) < fields.size() ? fields[static_cast<std::size_t>(at)]
                                                                       : std::string_view();
    }
};

bool ReadTimes(const RowReader& row, SampleTime* time) {
    const std::string_view t = row.Field(kColTime);
    return ParseUtc(t.data(), t.size(), &time->wallMs) &&
           ToIntIn(row.Field(kColMono), kMonoRange, &time->monoMs);
}

bool ReadAnswered(const RowReader& row, bool* answered) {
    bool known = false;
    return ToFlag(row.Field(kColAnswered), &known, answered) && known;
}

bool ReadPhyRow(const RowReader& row, PhySample* s) {
    std::int64_t* raw[6] = {&s->raw.errorValue, &s->raw.txLevel,   &s->raw.rsCorrected,
                            &s->raw.linkStatus, &s->raw.lineFlags, &s->raw.linkFailCount};
    for (int i = 0; i < 6; ++i) {
        if (!ToIntIn(row.Field(kColRawFirst + i), kRawRanges[i], raw[i]))
            return false;
    }
    if (!ToCenti(row.Field(kColSnr), &s->snrCenti) || !ToCenti(row.Field(kColMse), &s->mseCenti) ||
        !IsRateText(row.Field(kColRs)) || !ToOptional(row.Field(kColPower), kPowerRange, &s->txPowerDb) ||
        !ToOptional(row.Field(kColLinkFail), kLinkFailRange, &s->linkFailCount))
        return false;
    for (int i = 0; i < kIndicatorCount; ++i) {
        bool known = false;
        bool set = false;
        if (!ToFlag(row.Field(kColIndicatorFirst + i), &known, &set))
            return false;
        if (known)
            s->indicatorsKnown = static_cast<std::uint16_t>(s->indicatorsKnown | 1u << i);
        if (set)
            s->indicators = static_cast<std::uint16_t>(s->indicators | 1u << i);
    }
    return ReadAnswered(row, &s->answered);
}

bool ReadEthRow(const RowReader& row, EthSample* s) {
    for (int i = 0; i < kCounterCount; ++i) {
        std::uint64_t v = 0;
        const std::string_view read = row.Field(kColReadFirst + i);
        if (read.empty())
            s->failedReads = static_cast<std::uint16_t>(s->failedReads | 1u << i);
        else if (ToUnsigned(read, &v) && v <= 0xFFFFFFFFu) // each read is 32 bits
            s->reads[static_cast<std::size_t>(i)] = static_cast<std::uint32_t>(v);
        else
            return false;
        if (!ToUnsigned(row.Field(kColTotalFirst + i), &s->totals[static_cast<std::size_t>(i)]))
            return false;
    }
    return ReadAnswered(row, &s->answered);
}

// Median spacing of a sequence of samples (0 when it has fewer than two).
template <typename Samples> std::int64_t MedianSpacing(const Samples& samples) {
    std::vector<std::int64_t> steps;
    for (std::size_t i = 1; i < samples.size() && steps.size() < 4096; ++i) {
        const std::int64_t d = samples[i].time.wallMs - samples[i - 1].time.wallMs;
        if (d > 0)
            steps.push_back(d);
    }
    if (steps.empty())
        return 0;
    const auto middle = steps.begin() + static_cast<std::ptrdiff_t>(steps.size() / 2);
    std::nth_element(steps.begin(), middle, steps.end());
    return *middle;
}

// The gap limit of a reopened recording: a little more than twice the usual spacing of its samples.
std::int64_t GapFromSpacing(const LineStore& store) {
    const std::int64_t spacing = std::max(MedianSpacing(store.phy), MedianSpacing(store.eth));
    return spacing > 0 ? std::max<std::int64_t>(spacing * 12 / 5, 1000) : store.gapMs;
}

// Marks the gaps and works out the RS rates from the raw counts, as the recorder does while recording.
void MarkGaps(LineStore* store) {
    for (std::size_t i = 0; i < store->phy.size(); ++i) {
        PhySample& s = store->phy[i];
        s.afterGap = i == 0 || s.time.wallMs - store->phy[i - 1].time.wallMs > store->gapMs ||
                     s.time.monoMs < store->phy[i - 1].time.monoMs;
        s.rsCentiPerSecond = i == 0 ? kNoValue : RsCentiPerSecond(s, store->phy[i - 1]);
    }
    for (std::size_t i = 0; i < store->eth.size(); ++i) {
        EthSample& s = store->eth[i];
        s.afterGap = i == 0 || s.time.wallMs - store->eth[i - 1].time.wallMs > store->gapMs ||
                     s.time.monoMs < store->eth[i - 1].time.monoMs;
    }
}

// Matches a header line (without its line end) with the columns of a recording: for each of ours, the
// field that holds it under its name or its former name, or -1. False, with the first column missing,
// when a column every recording has is not there. A leading byte-order mark is passed over.
bool MatchHeader(std::string_view line, std::vector<int>* columnOf, std::size_t* fieldCount,
                 std::string* missing) {
    if (line.compare(0, kByteOrderMark.size(), kByteOrderMark) == 0)
        line.remove_prefix(kByteOrderMark.size());
    std::vector<std::string_view> fields;
    std::deque<std::string> unquoted;
    SplitLine(line.data(), line.data() + line.size(), &fields, &unquoted);
    *fieldCount = fields.size();
    const std::vector<std::string> names = ColumnNames();
    columnOf->assign(names.size(), -1);
    for (std::size_t c = 0; c < names.size(); ++c) {
        const std::vector<std::string> former = FormerColumnNames(names[c]);
        for (std::size_t f = 0; f < fields.size(); ++f) {
            if (fields[f] == names[c] || std::find(former.begin(), former.end(), fields[f]) != former.end())
                (*columnOf)[c] = static_cast<int>(f);
        }
        if ((*columnOf)[c] < 0 && c != kColDetail && (c < kColRateFirst || c >= kColEvent)) {
            *missing = names[c];
            return false;
        }
    }
    return true;
}

// Fields of a line cut short, and whether it was cut inside a quoted field.
struct CutLine {
    std::size_t fields = 1;
    bool inQuotes = false;
};

// Counted as SplitLine counts.
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

// Splits text into lines (without their line end) for a callback, chunk by chunk, keeping at most
// kMaxRowBytes of a line that runs over a chunk's end; longer lines come as overlong, without text.
class CLineFeed {
public:
    template <typename OnLine> void Add(const char* p, const char* end, OnLine&& onLine) {
        while (p < end) {
            const char* eol = std::find(p, end, '\n');
            if (eol == end) {
                Keep(p, end);
                return;
            }
            if (m_partial.empty() && !m_overlong) {
                Deliver(std::string_view(p, static_cast<std::size_t>(eol - p)), onLine);
            } else {
                Keep(p, eol);
                Deliver(m_partial, onLine);
                m_partial.clear();
            }
            m_overlong = false;
            p = eol + 1;
        }
    }
    template <typename OnLine> void Finish(OnLine&& onLine) {
        if (!m_partial.empty() || m_overlong)
            Deliver(m_partial, onLine);
        m_partial.clear();
        m_overlong = false;
    }

private:
    void Keep(const char* p, const char* end) {
        const auto n = static_cast<std::size_t>(end - p);
        if (m_overlong || m_partial.size() + n > kMaxRowBytes) {
            m_overlong = true;
            m_partial.clear();
            return;
        }
        m_partial.append(p, n);
    }
    template <typename OnLine> void Deliver(std::string_view line, OnLine& onLine) {
        const bool overlong = m_overlong || line.size() > kMaxRowBytes;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        onLine(overlong ? std::string_view() : line, overlong);
    }

    std::string m_partial;
    bool m_overlong = false;
};

// Builds a store from the lines of a recording: the header, then rows; damaged rows are skipped, counted
// and named in the journal.
class CRecordingParser {
public:
    explicit CRecordingParser(const std::string& path) : m_path(path) {}

    // Returns false (with *error) once the header shows that this is no recording.
    bool Line(std::string_view line, bool overlong, std::string* error) {
        ++m_line;
        if (m_line == 1)
            return Header(line, overlong, error);
        if (line.empty() && !overlong)
            return true;
        if (overlong || !Row(line))
            Damaged();
        return true;
    }

    bool Finish(LineStore* store, std::string* error) {
        if (m_line == 0 && !Header(std::string_view(), false, error))
            return false;
        NoteDamage(m_haveTime ? &m_lastTime : nullptr);
        m_loaded.gapMs = GapFromSpacing(m_loaded);
        MarkGaps(&m_loaded);
        *store = std::move(m_loaded);
        return true;
    }

private:
    bool Header(std::string_view line, bool overlong, std::string* error) {
        if (overlong) {
            *error = m_path + " is not a line recording: its first line is not a header.";
            return false;
        }
        std::string missing;
        if (!MatchHeader(line, &m_row.columnOf, &m_headerFields, &missing)) {
            *error = m_path + " is not a line recording: it has no column " + missing + ".";
            return false;
        }
        return true;
    }

    bool Row(std::string_view line) {
        SampleTime time;
        if (!SplitLine(line.data(), line.data() + line.size(), &m_row.fields, &m_row.unquoted) ||
            m_row.fields.size() != m_headerFields || !ReadTimes(m_row, &time))
            return false;
        const std::string_view type = m_row.Field(kColType);
        if (type == "phy") {
            PhySample s;
            s.time = time;
            if (!ReadPhyRow(m_row, &s))
                return false;
            Good(time);
            m_loaded.phy.push_back(s);
        } else if (type == "eth") {
            EthSample s;
            s.time = time;
            if (!ReadEthRow(m_row, &s))
                return false;
            Good(time);
            m_loaded.eth.push_back(s);
        } else if (type == "event") {
            Event e;
            e.time = time;
            if (!EventKindFromName(std::string(m_row.Field(kColEvent)), &e.kind))
                return false;
            e.text = std::string(m_row.Field(kColDetail));
            Good(time);
            m_loaded.events.push_back(std::move(e));
        } else {
            return false;
        }
        return true;
    }

    void Damaged() {
        ++m_loaded.skippedRows;
        if (m_runFirst == 0)
            m_runFirst = m_line;
        m_runLast = m_line;
    }

    // A good row after damaged ones: the journal says where they were, at the time of the row before
    // them (or this one's, when they came first).
    void Good(SampleTime time) {
        NoteDamage(m_haveTime ? &m_lastTime : &time);
        m_lastTime = time;
        m_haveTime = true;
    }

    // at: null when there is no good row to place the entry at.
    void NoteDamage(const SampleTime* at) {
        if (m_runFirst == 0)
            return;
        // The file's name too: the entry goes into exports, whose lines are others.
        std::string text = m_runFirst == m_runLast
                               ? "Damaged row skipped: line " + std::to_string(m_runFirst)
                               : "Damaged rows skipped: lines " + std::to_string(m_runFirst) + " to " +
                                     std::to_string(m_runLast);
        text += " of " + m_path.substr(m_path.find_last_of("/\\") + 1);
        if (at)
            m_loaded.events.push_back(Event{*at, EventKind::Recording, std::move(text)});
        m_runFirst = 0;
    }

    std::string m_path;
    RowReader m_row;
    std::size_t m_headerFields = 0;
    std::size_t m_line = 0;
    LineStore m_loaded;
    std::size_t m_runFirst = 0; // 0: no damaged rows since the last good one
    std::size_t m_runLast = 0;
    bool m_haveTime = false;
    SampleTime m_lastTime;
};
} // namespace

const std::string& RecordingHeader() {
    static const std::string header = [] {
        std::string h;
        for (const std::string& name : ColumnNames()) {
            if (!h.empty())
                h.push_back(',');
            h += name;
        }
        return h;
    }();
    return header;
}

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

void AppendPhyRow(const LineStore& store, std::size_t index, std::string* out) {
    const PhySample& s = store.phy[index];
    AppendTimes(s.time, "phy", out);
    const std::int64_t raw[6] = {s.raw.errorValue, s.raw.txLevel,   s.raw.rsCorrected,
                                 s.raw.linkStatus, s.raw.lineFlags, s.raw.linkFailCount};
    for (std::int64_t v : raw) {
        out->push_back(',');
        AppendInt(v, out);
    }
    out->push_back(',');
    if (s.snrCenti != kNoValue)
        AppendCenti(s.snrCenti, out);
    out->push_back(',');
    if (s.mseCenti != kNoValue)
        AppendCenti(s.mseCenti, out);
    out->push_back(',');
    if (s.rsCentiPerSecond != kNoValue)
        AppendCenti(s.rsCentiPerSecond, out);
    for (std::int32_t v : {s.txPowerDb, s.linkFailCount}) {
        out->push_back(',');
        AppendOptional(v, out);
    }
    for (int i = 0; i < kIndicatorCount; ++i) {
        out->push_back(',');
        if (s.indicatorsKnown & 1u << i)
            out->push_back(s.indicators & 1u << i ? '1' : '0');
    }
    out->push_back(',');
    out->push_back(s.answered ? '1' : '0');
    Commas(3 * kCounterCount + 2, out);
    out->push_back('\n');
}

void AppendEthRow(const LineStore& store, std::size_t index, std::string* out) {
    const EthSample& s = store.eth[index];
    AppendTimes(s.time, "eth", out);
    Commas(kColAnswered - kColType, out);
    out->push_back(s.answered ? '1' : '0');
    for (int i = 0; i < kCounterCount; ++i) {
        out->push_back(',');
        if (!(s.failedReads & 1u << i))
            AppendUnsigned(s.reads[static_cast<std::size_t>(i)], out);
    }
    for (int i = 0; i < kCounterCount; ++i) {
        out->push_back(',');
        AppendUnsigned(s.totals[static_cast<std::size_t>(i)], out);
    }
    for (int i = 0; i < kCounterCount; ++i) {
        out->push_back(',');
        double rate = 0;
        if (CounterRate(store, index, i, &rate) && rate < 9e18) // what a 64-bit row field holds
            AppendInt(static_cast<std::int64_t>(rate + 0.5), out);
    }
    Commas(2, out);
    out->push_back('\n');
}

void AppendEventRow(const Event& event, std::string* out) {
    AppendTimes(event.time, "event", out);
    Commas(kColEvent - kColType, out);
    *out += EventKindName(event.kind);
    out->push_back(',');
    AppendQuoted(event.text, out);
    out->push_back('\n');
}

std::string FileErrorText(const std::string& path, int error, const char* doing) {
    if (error == kPlainFileNotRegular)
        return path + " is not a regular file (it is a pipe, a device or a socket).";
    if (error == kPlainFileLocked)
        return path + ": " + PlainFileErrorText(error) + "; each recording file takes one recording.";
    return std::string("Cannot ") + doing + " " + path + ": " + std::strerror(error) + ".";
}

CRecordingWriter::~CRecordingWriter() {
    ClosePlainFile(m_fd);
}

std::unique_ptr<CRecordingWriter> CRecordingWriter::Open(const std::string& path, std::string* error) {
    int err = 0;
    const int fd = OpenRegularPlainFile(path, PlainFileUse::Append, &err);
    if (fd < 0) {
        *error = FileErrorText(path, err, "write");
        return nullptr;
    }
    // Held while the file is open: a second recording (another monitor, the window) cannot interleave.
    if (!LockPlainFile(fd, &err)) {
        ClosePlainFile(fd);
        *error = FileErrorText(path, err, "lock");
        return nullptr;
    }
    std::unique_ptr<CRecordingWriter> writer(new CRecordingWriter(fd, path));
    if (!writer->Prepare(error))
        return nullptr;
    return writer;
}

// What is there already: nothing, a header cut short, or a recording (its first line is a recording's
// header, ours or one with former column names, after a byte-order mark or not) whose last row may be cut
// short. Rows go on under the file's own header.
bool CRecordingWriter::Prepare(std::string* error) {
    int err = 0;
    const std::int64_t size = PlainFileSize(m_fd, &err);
    if (size < 0) {
        *error = FileErrorText(m_path, err, "read");
        return false;
    }
    const std::string header = RecordingHeader() + "\n";
    std::string head(static_cast<std::size_t>(std::min(size, static_cast<std::int64_t>(kMaxRowBytes + 1))),
                     '\0');
    if (!ReadPlainFileAt(m_fd, 0, &head[0], head.size(), &err)) {
        *error = FileErrorText(m_path, err, "read");
        return false;
    }
    if (head.size() < header.size() && header.compare(0, head.size(), head) == 0) {
        m_row = header.substr(head.size());
        return WriteRow(error);
    }
    const std::size_t eol = head.find('\n');
    std::string_view first(head.data(), eol == std::string::npos ? 0 : eol);
    if (!first.empty() && first.back() == '\r')
        first.remove_suffix(1);
    std::vector<int> columnOf;
    std::string missing;
    if (eol == std::string::npos || !MatchHeader(first, &columnOf, &m_fileFields, &missing)) {
        *error = m_path + " is not a line recording of this tool; choose a new file name.";
        return false;
    }
    if (first != RecordingHeader())
        UseLayout(columnOf);
    const auto headerEnd = static_cast<std::int64_t>(eol + 1);
    char last = '\n';
    if (size > headerEnd && !ReadPlainFileAt(m_fd, size - 1, &last, 1, &err)) {
        *error = FileErrorText(m_path, err, "read");
        return false;
    }
    return last == '\n' || EndCutRow(size, headerEnd, error);
}

void CRecordingWriter::UseLayout(const std::vector<int>& columnOf) {
    m_layout.assign(m_fileFields, -1);
    for (std::size_t c = 0; c < columnOf.size(); ++c) {
        if (columnOf[c] >= 0)
            m_layout[static_cast<std::size_t>(columnOf[c])] = static_cast<int>(c);
    }
}

void CRecordingWriter::AppendInLayout(const std::string& row) {
    if (m_layout.empty()) {
        m_row += row;
        return;
    }
    std::vector<std::string_view> fields;
    std::deque<std::string> unquoted;
    SplitLine(row.data(), row.data() + row.size() - 1, &fields, &unquoted); // without the line end
    for (std::size_t f = 0; f < m_layout.size(); ++f) {
        if (f > 0)
            m_row.push_back(',');
        const int column = m_layout[f];
        if (column >= 0 && static_cast<std::size_t>(column) < fields.size())
            AppendQuoted(std::string(fields[static_cast<std::size_t>(column)]), &m_row);
    }
    m_row.push_back('\n');
}

// Ends the last row, which lacks its line end, so that it has one field too many (and any quote it was
// cut inside is closed): the reader skips it as damaged, whatever its fields hold. Then notes it.
bool CRecordingWriter::EndCutRow(std::int64_t size, std::int64_t headerEnd, std::string* error) {
    // One byte more than a row may hold: a tail without a line end in it is longer than any row.
    const std::int64_t from = std::max(headerEnd, size - static_cast<std::int64_t>(kMaxRowBytes + 1));
    std::string tail(static_cast<std::size_t>(size - from), '\0');
    int err = 0;
    if (!ReadPlainFileAt(m_fd, from, &tail[0], tail.size(), &err)) {
        *error = FileErrorText(m_path, err, "read");
        return false;
    }
    const std::size_t lineStart = tail.rfind('\n');
    if (lineStart == std::string::npos && from > headerEnd) {
        m_row = "\n"; // longer than any row: damaged as it is
    } else {
        const CutLine cut =
            ShapeOf(std::string_view(tail).substr(lineStart == std::string::npos ? 0 : lineStart + 1));
        const std::size_t fields = m_fileFields + 1;
        if (cut.inQuotes)
            m_row.push_back('"');
        m_row.append(cut.fields < fields ? fields - cut.fields : 1, ',');
        m_row.push_back('\n');
    }
    m_cutRowNote = Event{Now(), EventKind::Recording,
                         "The row before this one was cut short while it was written (a full disk, a power "
                         "loss or a stop); it is skipped when the file is read"};
    std::string note;
    AppendEventRow(*m_cutRowNote, &note);
    AppendInLayout(note);
    return WriteRow(error);
}

std::unique_ptr<CRecordingWriter> CRecordingWriter::Attach(int fd, const std::string& path) {
    return std::unique_ptr<CRecordingWriter>(new CRecordingWriter(fd, path));
}

bool CRecordingWriter::WriteRow(std::string* error) {
    int err = 0;
    const bool ok = WritePlainFile(m_fd, m_row.data(), m_row.size(), &err);
    m_row.clear();
    if (!ok)
        *error = "Writing " + m_path + " failed: " + std::strerror(err) + ".";
    return ok;
}

bool CRecordingWriter::WritePhy(const LineStore& store, std::size_t index, std::string* error) {
    std::string row;
    AppendPhyRow(store, index, &row);
    AppendInLayout(row);
    return WriteRow(error);
}

bool CRecordingWriter::WriteEth(const LineStore& store, std::size_t index, std::string* error) {
    std::string row;
    AppendEthRow(store, index, &row);
    AppendInLayout(row);
    return WriteRow(error);
}

bool CRecordingWriter::WriteEvent(const Event& event, std::string* error) {
    std::string row;
    AppendEventRow(event, &row);
    AppendInLayout(row);
    return WriteRow(error);
}

bool ReadRecording(const std::string& path, LineStore* store, std::string* error) {
    int err = 0;
    const int fd = OpenRegularPlainFile(path, PlainFileUse::Read, &err);
    if (fd < 0) {
        *error = FileErrorText(path, err, "open");
        return false;
    }
    CRecordingParser parser(path);
    CLineFeed feed;
    bool ok = true;
    auto onLine = [&](std::string_view line, bool overlong) {
        ok = ok && parser.Line(line, overlong, error);
    };
    std::vector<char> chunk(1 << 16);
    long n = 0;
    while (ok && (n = ReadPlainFile(fd, chunk.data(), chunk.size(), &err)) > 0)
        feed.Add(chunk.data(), chunk.data() + n, onLine);
    ClosePlainFile(fd);
    if (n < 0) {
        *error = FileErrorText(path, err, "read");
        return false;
    }
    feed.Finish(onLine);
    return ok && parser.Finish(store, error);
}

bool ParseRecording(const std::string& text, const std::string& path, LineStore* store, std::string* error) {
    CRecordingParser parser(path);
    CLineFeed feed;
    bool ok = true;
    auto onLine = [&](std::string_view line, bool overlong) {
        ok = ok && parser.Line(line, overlong, error);
    };
    feed.Add(text.data(), text.data() + text.size(), onLine);
    feed.Finish(onLine);
    return ok && parser.Finish(store, error);
}

} // namespace tessor::rec
