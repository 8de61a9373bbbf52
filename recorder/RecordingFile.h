#pragma once

#include "recorder/LineRecorder.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tessor::rec {

// The recording file: CSV, one header line naming the columns, then one row per PHY sample ("phy"),
// Ethernet sample ("eth") or event ("event") in the order they happened. Every row starts with the time
// in ISO 8601 UTC and the monotonic time in ms; the columns a row's type does not use stay empty. Every
// row has as many fields as the header and ends with a line feed; one that does not is damaged.

// Rows are at most this long; a longer line is damaged.
constexpr std::size_t kMaxRowBytes = 64 * 1024;

// The header line, without its line end.
const std::string& RecordingHeader();

// "2026-12-09T02:31:13.123Z" for ms since 1970 UTC, and back (false for anything else).
std::string FormatUtc(std::int64_t wallMs);
void AppendUtc(std::int64_t wallMs, std::string* out);
bool ParseUtc(const char* text, std::size_t len, std::int64_t* wallMs);

// "PATH is not a regular file (...)" or "Cannot <doing> PATH: <cause>." for a cause of files/PlainFile.
std::string FileErrorText(const std::string& path, int error, const char* doing);

// Appends rows to a recording file, each written whole with one write. Standard library only.
class CRecordingWriter {
public:
    ~CRecordingWriter();
    // Opens path for appending; writes the header when the file is new or empty (or the rest of it when
    // it was cut inside the header). A recording with another header (former column names, fewer columns)
    // goes on under its own header, each row in its columns. Refuses a pipe, a device or a socket without
    // waiting for it, and a file that holds something other than a recording. A last row cut short (a full
    // disk, a power loss) is ended so that it reads as damaged, followed by an event row that says so: the
    // next row starts clean.
    static std::unique_ptr<CRecordingWriter> Open(const std::string& path, std::string* error);
    // Takes an open descriptor as it is (nothing checked, no header written); for files opened elsewhere.
    static std::unique_ptr<CRecordingWriter> Attach(int fd, const std::string& path);

    const std::string& Path() const { return m_path; }
    // The event Open wrote after a row it found cut short; empty when the file ended cleanly.
    const std::optional<Event>& CutRowNote() const { return m_cutRowNote; }
    // The row of store.phy[index] (and so on), written and flushed; false with *error on failure.
    bool WritePhy(const LineStore& store, std::size_t index, std::string* error);
    bool WriteEth(const LineStore& store, std::size_t index, std::string* error);
    bool WriteEvent(const Event& event, std::string* error);

private:
    CRecordingWriter(int fd, std::string path) : m_fd(fd), m_path(std::move(path)) {}
    bool Prepare(std::string* error);
    bool EndCutRow(std::int64_t size, std::int64_t headerEnd, std::string* error);
    // Rows go on under a header other than ours: columnOf gives the file's field of each of our columns.
    void UseLayout(const std::vector<int>& columnOf);
    // Appends a row of ours to the row to write, in the file's layout.
    void AppendInLayout(const std::string& row);
    bool WriteRow(std::string* error);

    int m_fd;
    std::string m_path;
    std::string m_row;
    std::size_t m_fileFields = 0;
    std::vector<int> m_layout; // for each field of the file's header, our column in it (-1: none); empty:
                               // the file has our header
    std::optional<Event> m_cutRowNote;
};

// Builds rows into a string; used by the writer and by the export.
void AppendPhyRow(const LineStore& store, std::size_t index, std::string* out);
void AppendEthRow(const LineStore& store, std::size_t index, std::string* out);
void AppendEventRow(const Event& event, std::string* out);

// Reads a recording file into store (samples, events, and a gap limit from the samples' spacing),
// streaming it with memory bounded per row. A damaged row (cut short, glued, a number out of its
// column's range) is skipped and counted in store->skippedRows, and the journal gets an entry that names
// its line; the rest opens. Refuses a pipe, a device or a socket without waiting for it, and a file
// without the columns of a recording.
bool ReadRecording(const std::string& path, LineStore* store, std::string* error);
// The same for the text of a recording; path only names it in the error.
bool ParseRecording(const std::string& text, const std::string& path, LineStore* store, std::string* error);

} // namespace tessor::rec
