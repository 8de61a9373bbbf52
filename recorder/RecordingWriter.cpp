// Writing a recording file: the rows, and the writer that goes on under a file's own header and ends a
// row cut short.
#include "recorder/RecordingColumns.h"
#include "recorder/RecordingCsv.h"
#include "recorder/RecordingFile.h"

#include "files/PlainFile.h"
#include "model/NumberText.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <memory>
#include <optional>
#include <vector>

namespace tessor::rec {

using namespace file;

namespace {

void AppendTimes(const SampleTime& time, const char* type, std::string* out) {
    AppendUtc(time.wallMs, out);
    out->push_back(',');
    AppendInt(time.monoMs, out);
    out->push_back(',');
    *out += type;
}

} // namespace

void AppendPhyRow(const LineStore& store, std::size_t index, std::string* out) {
    const PhySample& s = store.phy[index];
    AppendTimes(s.time, "phy", out);
    const PhyValues& v = s.values;
    for (const std::optional<std::uint32_t>* r : RegisterFields(&v.registers)) {
        out->push_back(',');
        AppendInt(r->has_value() ? std::int64_t{**r} : -1, out); // -1: the read failed
    }
    for (const std::optional<std::int32_t>& centi : {v.snrCenti, v.mseCenti, s.rsCentiPerSecond}) {
        out->push_back(',');
        if (centi)
            AppendHundredths(*centi, DecimalMark::Point, out);
    }
    out->push_back(',');
    AppendOptional(v.txPowerDbmHz, out);
    out->push_back(',');
    AppendOptional(v.linkFailCount, out);
    for (int i = 0; i < kIndicatorCount; ++i) {
        out->push_back(',');
        if (v.indicatorsKnown & 1u << i)
            out->push_back(v.indicators & 1u << i ? '1' : '0');
    }
    out->push_back(',');
    out->push_back(s.answered ? '1' : '0');
    Commas(3 * kCounterDefCount + 3, out);
    if (s.intervalClass)
        *out += IntervalClassName(*s.intervalClass);
    out->push_back('\n');
}

void AppendEthRow(const LineStore& store, std::size_t index, std::string* out) {
    const EthSample& s = store.eth[index];
    AppendTimes(s.time, "eth", out);
    Commas(kColAnswered - kColType, out);
    out->push_back(s.answered ? '1' : '0');
    for (int i = 0; i < kCounterDefCount; ++i) {
        out->push_back(',');
        if (!(s.failedReads & 1u << i))
            AppendUnsigned(s.reads[static_cast<std::size_t>(i)], out);
    }
    for (int i = 0; i < kCounterDefCount; ++i) {
        out->push_back(',');
        AppendUnsigned(s.totals[static_cast<std::size_t>(i)], out);
    }
    for (int i = 0; i < kCounterDefCount; ++i) {
        out->push_back(',');
        double rate = 0;
        if (CounterRate(store, index, i, &rate) && rate < 9e18) // what a 64-bit row field holds
            AppendInt(static_cast<std::int64_t>(rate + 0.5), out);
    }
    Commas(3, out);
    out->push_back('\n');
}

void AppendEventRow(const Event& event, std::string* out) {
    AppendTimes(event.time, "event", out);
    Commas(kColEvent - kColType, out);
    *out += EventKindName(event.kind);
    out->push_back(',');
    AppendQuoted(event.text, out);
    out->push_back(',');
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

} // namespace tessor::rec
