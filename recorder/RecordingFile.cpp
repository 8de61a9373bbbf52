#include "recorder/RecordingFile.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <deque>
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

constexpr const char* kRawColumns[6] = {"error_value_reg", "tx_level_reg",   "rs_corrected_reg",
                                        "link_status_reg", "line_flags_reg", "link_fail_reg"};

std::vector<std::string> ColumnNames() {
    std::vector<std::string> names{"time_utc", "monotonic_ms", "type"};
    for (const char* raw : kRawColumns)
        names.emplace_back(raw);
    for (const char* name : {"snr_db", "mse_db", "rs_per_s", "tx_power_dbm_hz", "link_fail_count"})
        names.emplace_back(name);
    for (int i = 0; i < kIndicatorCount; ++i)
        names.emplace_back(IndicatorColumn(i));
    names.emplace_back("answered");
    for (const char* suffix : {"_read", "_total", "_per_s"}) {
        for (const CounterDef& c : kCounters)
            names.push_back(std::string(c.name) + suffix);
    }
    names.emplace_back("event");
    names.emplace_back("detail");
    return names;
}

// The name a column had in files written before the names were made one across the tool's outputs
// (empty when it had the same name).
std::string FormerColumnName(const std::string& name) {
    static const std::pair<const char*, const char*> kFormer[] = {
        {"tc_sync", "tc_synchronized"},
        {"remote_sync", "remote_synchronized"},
        {"tx_pause_frames", "tx_pause"},
        {"rx_pause_frames", "rx_pause"},
        {"rx_broadcast_frames", "rx_broadcast"},
        {"frame_too_long_errors", "frame_too_long"},
        {"frame_check_sequence_errors", "frame_check_errors"},
    };
    for (const auto& [now, before] : kFormer) {
        const std::string prefix(now);
        if (name.compare(0, prefix.size(), prefix) == 0 &&
            (name.size() == prefix.size() || name[prefix.size()] == '_'))
            return before + name.substr(prefix.size());
    }
    return std::string();
}

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
    if (!ToInt(text.substr(0, dot), &whole) || whole < 0)
        return false;
    std::int64_t frac = 0;
    if (dot != std::string_view::npos) {
        const std::string_view f = text.substr(dot + 1);
        if (f.size() != 2 || !ToInt(f, &frac) || frac < 0)
            return false;
    }
    const std::int64_t v = whole * 100 + frac;
    *value = static_cast<std::int32_t>(negative ? -v : v);
    return true;
}

bool ToOptional(std::string_view text, std::int32_t* value) {
    std::int64_t v = 0;
    if (text.empty()) {
        *value = kNoValue;
        return true;
    }
    if (!ToInt(text, &v))
        return false;
    *value = static_cast<std::int32_t>(v);
    return true;
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
    return ParseUtc(t.data(), t.size(), &time->wallMs) && ToInt(row.Field(kColMono), &time->monoMs);
}

bool ReadPhyRow(const RowReader& row, PhySample* s) {
    std::int64_t* raw[6] = {&s->raw.errorValue, &s->raw.txLevel,   &s->raw.rsCorrected,
                            &s->raw.linkStatus, &s->raw.lineFlags, &s->raw.linkFailCount};
    for (int i = 0; i < 6; ++i) {
        if (!ToInt(row.Field(kColRawFirst + i), raw[i]))
            return false;
    }
    if (!ToCenti(row.Field(kColSnr), &s->snrCenti) || !ToCenti(row.Field(kColMse), &s->mseCenti) ||
        !ToOptional(row.Field(kColRs), &s->rsPerSecond) || !ToOptional(row.Field(kColPower), &s->txPowerDb) ||
        !ToOptional(row.Field(kColLinkFail), &s->linkFailCount))
        return false;
    for (int i = 0; i < kIndicatorCount; ++i) {
        const std::string_view f = row.Field(kColIndicatorFirst + i);
        if (f.empty())
            continue;
        s->indicatorsKnown = static_cast<std::uint16_t>(s->indicatorsKnown | 1u << i);
        if (f == "1")
            s->indicators = static_cast<std::uint16_t>(s->indicators | 1u << i);
    }
    s->answered = row.Field(kColAnswered) != "0";
    return true;
}

bool ReadEthRow(const RowReader& row, EthSample* s) {
    for (int i = 0; i < kCounterCount; ++i) {
        std::uint64_t v = 0;
        const std::string_view read = row.Field(kColReadFirst + i);
        if (read.empty())
            s->failedReads = static_cast<std::uint16_t>(s->failedReads | 1u << i);
        else if (ToUnsigned(read, &v))
            s->reads[static_cast<std::size_t>(i)] = static_cast<std::uint32_t>(v);
        else
            return false;
        if (!ToUnsigned(row.Field(kColTotalFirst + i), &s->totals[static_cast<std::size_t>(i)]))
            return false;
    }
    s->answered = row.Field(kColAnswered) != "0";
    return true;
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

void MarkGaps(LineStore* store) {
    for (std::size_t i = 0; i < store->phy.size(); ++i) {
        PhySample& s = store->phy[i];
        s.afterGap = i == 0 || s.time.wallMs - store->phy[i - 1].time.wallMs > store->gapMs ||
                     s.time.monoMs < store->phy[i - 1].time.monoMs;
    }
    for (std::size_t i = 0; i < store->eth.size(); ++i) {
        EthSample& s = store->eth[i];
        s.afterGap = i == 0 || s.time.wallMs - store->eth[i - 1].time.wallMs > store->gapMs ||
                     s.time.monoMs < store->eth[i - 1].time.monoMs;
    }
}

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
    for (std::int32_t v : {s.rsPerSecond, s.txPowerDb, s.linkFailCount}) {
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
        if (CounterRate(store, index, i, &rate))
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

CRecordingWriter::~CRecordingWriter() {
    if (m_file)
        std::fclose(m_file);
}

std::unique_ptr<CRecordingWriter> CRecordingWriter::Open(const std::string& path, std::string* error) {
    // What is there already: nothing, or a recording (its first line is our header).
    bool fresh = true;
    if (std::FILE* existing = std::fopen(path.c_str(), "rb")) {
        std::string first(RecordingHeader().size() + 1, '\0');
        const std::size_t n = std::fread(&first[0], 1, first.size(), existing);
        std::fclose(existing);
        first.resize(n);
        if (n > 0) {
            fresh = false;
            if (first.compare(0, RecordingHeader().size(), RecordingHeader()) != 0) {
                *error = path + " is not a line recording of this tool; choose a new file name.";
                return nullptr;
            }
        }
    }
    std::FILE* file = std::fopen(path.c_str(), "ab");
    if (!file) {
        *error = "Cannot write " + path + ": " + std::strerror(errno) + ".";
        return nullptr;
    }
    std::unique_ptr<CRecordingWriter> writer(new CRecordingWriter(file, path));
    if (fresh) {
        writer->m_row = RecordingHeader() + "\n";
        if (!writer->WriteRow(error))
            return nullptr;
    }
    return writer;
}

std::unique_ptr<CRecordingWriter> CRecordingWriter::Attach(std::FILE* file, const std::string& path) {
    return std::unique_ptr<CRecordingWriter>(new CRecordingWriter(file, path));
}

bool CRecordingWriter::WriteRow(std::string* error) {
    errno = 0;
    const bool ok = std::fwrite(m_row.data(), 1, m_row.size(), m_file) == m_row.size() &&
                    std::fflush(m_file) == 0 && !std::ferror(m_file);
    m_row.clear();
    if (!ok) {
        const int err = errno;
        *error = "Writing " + m_path + " failed" +
                 (err ? std::string(": ") + std::strerror(err) : std::string()) + ".";
    }
    return ok;
}

bool CRecordingWriter::WritePhy(const LineStore& store, std::size_t index, std::string* error) {
    AppendPhyRow(store, index, &m_row);
    return WriteRow(error);
}

bool CRecordingWriter::WriteEth(const LineStore& store, std::size_t index, std::string* error) {
    AppendEthRow(store, index, &m_row);
    return WriteRow(error);
}

bool CRecordingWriter::WriteEvent(const Event& event, std::string* error) {
    AppendEventRow(event, &m_row);
    return WriteRow(error);
}

bool ReadRecording(const std::string& path, LineStore* store, std::string* error) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) {
        *error = "Cannot open " + path + ": " + std::strerror(errno) + ".";
        return false;
    }
    std::string text;
    char chunk[1 << 16];
    std::size_t n = 0;
    while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0)
        text.append(chunk, n);
    const bool readFailed = std::ferror(file) != 0;
    std::fclose(file);
    if (readFailed) {
        *error = "Cannot read " + path + ".";
        return false;
    }

    return ParseRecording(text, path, store, error);
}

bool ParseRecording(const std::string& text, const std::string& path, LineStore* store, std::string* error) {
    RowReader row;
    const char* p = text.data();
    const char* end = p + text.size();
    const char* eol = std::find(p, end, '\n');
    const char* headerEnd = eol > p && eol[-1] == '\r' ? eol - 1 : eol;
    SplitLine(p, headerEnd, &row.fields, &row.unquoted);
    const std::vector<std::string> names = ColumnNames();
    row.columnOf.assign(names.size(), -1);
    for (std::size_t c = 0; c < names.size(); ++c) {
        const std::string former = FormerColumnName(names[c]);
        for (std::size_t f = 0; f < row.fields.size(); ++f) {
            if (row.fields[f] == names[c] || (!former.empty() && row.fields[f] == former))
                row.columnOf[c] = static_cast<int>(f);
        }
        if (row.columnOf[c] < 0 && c != kColDetail && (c < kColRateFirst || c >= kColEvent)) {
            *error = path + " is not a line recording: it has no column " + names[c] + ".";
            return false;
        }
    }

    LineStore loaded;
    std::size_t line = 1;
    for (p = eol < end ? eol + 1 : end; p < end; p = eol < end ? eol + 1 : end) {
        ++line;
        eol = std::find(p, end, '\n');
        const char* rowEnd = eol > p && eol[-1] == '\r' ? eol - 1 : eol;
        if (rowEnd == p)
            continue;
        bool ok = SplitLine(p, rowEnd, &row.fields, &row.unquoted);
        SampleTime time;
        ok = ok && ReadTimes(row, &time);
        const std::string_view type = row.Field(kColType);
        if (ok && type == "phy") {
            PhySample s;
            s.time = time;
            ok = ReadPhyRow(row, &s);
            if (ok)
                loaded.phy.push_back(s);
        } else if (ok && type == "eth") {
            EthSample s;
            s.time = time;
            ok = ReadEthRow(row, &s);
            if (ok)
                loaded.eth.push_back(s);
        } else if (ok && type == "event") {
            Event e;
            e.time = time;
            ok = EventKindFromName(std::string(row.Field(kColEvent)), &e.kind);
            e.text = std::string(row.Field(kColDetail));
            if (ok)
                loaded.events.push_back(std::move(e));
        } else {
            ok = false;
        }
        // A last line cut short by a crash is dropped; damage anywhere else is reported.
        if (!ok && eol < end) {
            *error = path + ", line " + std::to_string(line) + ": not a valid recording row.";
            return false;
        }
    }
    loaded.gapMs = GapFromSpacing(loaded);
    MarkGaps(&loaded);
    *store = std::move(loaded);
    return true;
}

} // namespace tessor::rec
