#pragma once

#include "recorder/ChunkedVector.h"
#include "recorder/LineSamples.h"

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace tessor::rec {

class CRecordingWriter;

// Everything recorded, oldest first.
struct LineStore {
    ChunkedVector<PhySample> phy;
    ChunkedVector<EthSample> eth;
    std::vector<Event> events;
    // Samples further apart than this (in ms) are not joined: the graphs show a gap.
    std::int64_t gapMs = 12000;
    // Damaged rows of the file this was read from, left out.
    std::size_t skippedRows = 0;

    std::size_t BytesUsed() const;
};

// Rate per second of a counter at an Ethernet sample: its raw count over the real time since the sample
// before it, whose read cleared the counter; false at a gap, for the first sample and when either read of
// the counter failed (the time the count covers is not known).
bool CounterRate(const LineStore& store, std::size_t index, int counter, double* perSecond);
// The RS rate of s in hundredths per second: its raw count of 8C91..8C94 over the real time since the
// sample before it, whose read cleared the count; empty at a gap, when either pass was not answered or
// either count was not read (the time the count covers is not known), and for a rate beyond the field.
std::optional<std::int32_t> RsCentiRate(const PhySample& s, const PhySample& before);

// Takes the samples of the passes the tool makes and what it sends to the board, derives the line's
// events, keeps everything in memory and, while a recording file is open, appends each row to it at once.
// Thread-safe: the poll threads add samples while a window reads.
class CLineRecorder {
public:
    explicit CLineRecorder(std::int64_t nominalIntervalMs = 5000);
    ~CLineRecorder();
    CLineRecorder(const CLineRecorder&) = delete;
    CLineRecorder& operator=(const CLineRecorder&) = delete;

    // Returns the sample's index in the store. A sample whose interval class may still change
    // (classFinal false) keeps its row, and every row after it, from the recording file until
    // SetIntervalClass makes the class final: the file gets each class once and its rows in order.
    std::size_t AddPhy(const PhySample& sample, bool classFinal = true);
    // The interval class of store.phy[index]: the one field of a stored sample that may change, so it is
    // read under the lock (Read), never from a shared view.
    void SetIntervalClass(std::size_t index, IntervalClass value, bool final);
    void AddEth(const EthSample& sample);
    // An action the tool sent, now or at the given time.
    void NoteAction(Action action, const std::string& detail = std::string());
    void NoteAction(SampleTime time, Action action, const std::string& detail);
    // The "Hardware does not respond" box was shown, and how it was answered.
    void NoteNoAnswer(SampleTime time);
    void NoteAnswer(SampleTime time, bool retry);
    // A remark of the tool's own ("Recording paused", ...).
    void NoteRecording(SampleTime time, const std::string& text);

    // Appends to path from now on (a new file gets the header; an existing one must be a recording).
    bool StartRecording(const std::string& path, std::string* error);
    // As StartRecording, without the journal entry: a recording that goes on under a new recorder.
    bool ContinueRecording(const std::string& path, std::string* error);
    // Records through a writer opened elsewhere.
    void StartRecording(std::unique_ptr<CRecordingWriter> writer, bool announce = true);
    void StopRecording();
    bool IsRecording() const;
    std::string RecordingPath() const;
    // The message of a write failure that stopped recording (its cause, and that recording to the file
    // has stopped), once; empty when there is none new.
    std::string TakeRecordingFailure();

    // Replaces everything with the contents of a recording file; nothing changes on failure.
    bool Load(const std::string& path, std::string* error);
    // Writes every sample and event in the recording format as the new content of path, atomically: a
    // failure leaves the file there as it was. Refuses a pipe, a device or a socket.
    bool ExportCsv(const std::string& path, std::string* error) const;

    // Calls read with the store under the lock; keep it short.
    void Read(const std::function<void(const LineStore&)>& read) const;
    // Grows with every change, so that a window can tell whether to redraw.
    std::uint64_t Revision() const { return m_revision.load(std::memory_order_acquire); }
    std::size_t BytesUsed() const;

private:
    void DerivePhyEvents(const PhySample& sample);
    void AddEvent(SampleTime time, EventKind kind, std::string text);
    void MarkGap(SampleTime time, SampleTime previous, bool havePrevious, bool* afterGap) const;
    bool Begin(const std::string& path, bool announce, std::string* error);
    void WriteFailed(const std::string& message);
    void Touch() { m_revision.fetch_add(1, std::memory_order_acq_rel); }
    enum class RowKind : std::uint8_t { Phy, Eth, Event };
    // A row for the file, written now or held behind a PHY row whose class is not final.
    void WriteRow(RowKind kind, std::size_t index, bool waiting = false);
    void WriteNow(RowKind kind, std::size_t index);
    // Writes the held rows up to the first that waits for its class, or all of them.
    void WriteHeld(bool all);

    mutable std::mutex m_mutex;
    LineStore m_store;
    std::unique_ptr<CRecordingWriter> m_writer;
    std::string m_failure;
    std::atomic<std::uint64_t> m_revision{0};
    // Derivation state.
    bool m_havePhy = false;
    PhySample m_lastPhy;
    bool m_noAnswer = false;
    bool m_gapPending = false;
    struct HeldRow {
        RowKind kind;
        std::size_t index;
        bool waiting; // a PHY row whose class is not final yet
    };
    std::deque<HeldRow> m_held;
};

} // namespace tessor::rec
