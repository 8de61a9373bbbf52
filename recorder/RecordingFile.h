#pragma once

#include "recorder/LineRecorder.h"

#include <cstdio>
#include <string>

namespace tessor::rec {

// The recording file: CSV, one header line naming the columns, then one row per PHY sample ("phy"),
// Ethernet sample ("eth") or event ("event") in the order they happened. Every row starts with the time
// in ISO 8601 UTC and the monotonic time in ms; the columns a row's type does not use stay empty.

// The header line, without its line end.
const std::string& RecordingHeader();

// "2026-12-09T02:31:13.123Z" for ms since 1970 UTC, and back (false for anything else).
std::string FormatUtc(std::int64_t wallMs);
bool ParseUtc(const char* text, std::size_t len, std::int64_t* wallMs);

// Appends rows to a recording file, each flushed as it is written. Standard library only.
class CRecordingWriter {
public:
    ~CRecordingWriter();
    // Opens path for appending; writes the header when the file is new or empty. Refuses a file that
    // holds something other than a recording.
    static std::unique_ptr<CRecordingWriter> Open(const std::string& path, std::string* error);
    // Takes an open stream as it is (no header written); for streams opened elsewhere.
    static std::unique_ptr<CRecordingWriter> Attach(std::FILE* file, const std::string& path);

    const std::string& Path() const { return m_path; }
    // The row of store.phy[index] (and so on), written and flushed; false with *error on failure.
    bool WritePhy(const LineStore& store, std::size_t index, std::string* error);
    bool WriteEth(const LineStore& store, std::size_t index, std::string* error);
    bool WriteEvent(const Event& event, std::string* error);

private:
    CRecordingWriter(std::FILE* file, std::string path) : m_file(file), m_path(std::move(path)) {}
    bool WriteRow(std::string* error);

    std::FILE* m_file;
    std::string m_path;
    std::string m_row;
};

// Builds rows into a string; used by the writer and by the export.
void AppendPhyRow(const LineStore& store, std::size_t index, std::string* out);
void AppendEthRow(const LineStore& store, std::size_t index, std::string* out);
void AppendEventRow(const Event& event, std::string* out);

// Reads a recording file into store (samples, events, and a gap limit from the samples' spacing).
bool ReadRecording(const std::string& path, LineStore* store, std::string* error);

} // namespace tessor::rec
