// Reading a recording file: the rows' values within their columns' ranges, the damage parser that skips
// and notes damaged rows, and the gaps and rates of what was read.
#include "recorder/RecordingColumns.h"
#include "recorder/RecordingCsv.h"
#include "recorder/RecordingFile.h"

#include "files/PlainFile.h"

#include <algorithm>
#include <charconv>
#include <deque>
#include <limits>
#include <optional>
#include <vector>

namespace tessor::rec {

namespace {

using namespace file;

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

// "28.79" -> 2879; empty -> nothing.
bool ToCenti(std::string_view text, std::optional<std::int32_t>* value) {
    if (text.empty()) {
        value->reset();
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

template <typename T> bool ToOptional(std::string_view text, Range range, std::optional<T>* value) {
    std::int64_t v = 0;
    if (text.empty()) {
        value->reset();
        return true;
    }
    if (!ToIntIn(text, range, &v))
        return false;
    *value = static_cast<T>(v);
    return true;
}

// A register column: -1 for a read that failed, else the registers read.
bool ToRegister(std::string_view text, Range range, std::optional<std::uint32_t>* value) {
    std::int64_t v = 0;
    if (!ToIntIn(text, range, &v))
        return false;
    if (v < 0)
        value->reset();
    else
        *value = static_cast<std::uint32_t>(v);
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
    PhyValues& v = s->values;
    const auto raw = RegisterFields(&v.registers);
    for (int i = 0; i < 6; ++i) {
        if (!ToRegister(row.Field(kColRawFirst + i), kRawRanges[i], raw[static_cast<std::size_t>(i)]))
            return false;
    }
    if (!ToCenti(row.Field(kColSnr), &v.snrCenti) || !ToCenti(row.Field(kColMse), &v.mseCenti) ||
        !IsRateText(row.Field(kColRs)) || !ToOptional(row.Field(kColPower), kPowerRange, &v.txPowerDbmHz) ||
        !ToOptional(row.Field(kColLinkFail), kLinkFailRange, &v.linkFailCount))
        return false;
    for (int i = 0; i < kIndicatorCount; ++i) {
        bool known = false;
        bool set = false;
        if (!ToFlag(row.Field(kColIndicatorFirst + i), &known, &set))
            return false;
        if (known)
            v.indicatorsKnown = static_cast<std::uint16_t>(v.indicatorsKnown | 1u << i);
        if (set)
            v.indicators = static_cast<std::uint16_t>(v.indicators | 1u << i);
    }
    const std::string_view intervalClass = row.Field(kColIntervalClass);
    if (!intervalClass.empty()) {
        s->intervalClass = IntervalClassOfName(std::string(intervalClass).c_str());
        if (!s->intervalClass)
            return false;
    }
    return ReadAnswered(row, &s->answered);
}

bool ReadEthRow(const RowReader& row, EthSample* s) {
    for (int i = 0; i < kCounterDefCount; ++i) {
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
        s.rsCentiPerSecond = i == 0 ? std::nullopt : RsCentiRate(s, store->phy[i - 1]);
    }
    for (std::size_t i = 0; i < store->eth.size(); ++i) {
        EthSample& s = store->eth[i];
        s.afterGap = i == 0 || s.time.wallMs - store->eth[i - 1].time.wallMs > store->gapMs ||
                     s.time.monoMs < store->eth[i - 1].time.monoMs;
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
