#pragma once

// The monitor's recording: every pass appended to a recording file as it is taken (the format the Line
// History window opens), with the events the recorder derives. Memory stays bounded for a monitor that
// runs for months: once the samples in memory pass a limit, the recorder starts afresh from the last
// samples, so its event derivation goes on without a break and the file goes on being appended to.

#include "monitor/ReloadRequest.h"
#include "monitor/Snapshot.h"
#include "recorder/LineRecorder.h"

#include <chrono>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <string>

namespace tessor::monitor {

class CMonitorRecording {
public:
    using Log = std::function<void(const std::string&)>;

    static constexpr std::size_t kDefaultMemoryLimit = 4u << 20;

    // Opens path for appending (a new file gets the header; an existing one must be a recording) and
    // locks it, so that no other recording writes into it meanwhile. Null with *error naming the file and
    // the reason otherwise. With reload, each request made there reopens the file by its name at the next
    // pass (a file moved away is followed by a new one with its header).
    static std::unique_ptr<CMonitorRecording>
    Open(const std::string& path, std::chrono::milliseconds interval, Log log, std::string* error,
         std::size_t memoryLimit = kDefaultMemoryLimit, const CReloadRequest* reload = nullptr);

    // Writes the passes still waiting for their class, each with its class as it stands.
    ~CMonitorRecording();

    // One finished pass. Its rows are written once the class of its interval is final (at once, or when
    // the run of severely errored intervals it is in is decided: at most 9 passes later). A write that fails
    // is reported once; the file is opened again before each pass until it can be written (a cut row left by
    // the failure is ended and noted then).
    void AddPass(const Snapshot& s);

    // Times the recorder was started afresh to keep memory bounded.
    int Renewals() const { return m_renewals; }

    // Names the board in the journal ("Board BOARD at site SITE"), now and each time the file is opened
    // again by its name, so that every file the recording goes on in says whose line it is.
    void NameBoard(const std::string& site, const std::string& board);

private:
    CMonitorRecording() = default;
    void Write(const Snapshot& s);
    void Renew();
    // Closes the file and opens it again by its name; the recorder goes on from the last samples.
    void Reopen(const char* note);
    void KeepRecording();
    void ReportFailure();
    void NoteBoard();

    std::string m_path;
    std::string m_boardNote; // empty: the board has no name of its own
    std::int64_t m_intervalMs = 5000;
    std::size_t m_memoryLimit = kDefaultMemoryLimit;
    Log m_log;
    std::unique_ptr<rec::CLineRecorder> m_recorder;
    bool m_failing = false;
    bool m_down = false;
    bool m_havePhy = false;
    bool m_haveEth = false;
    rec::PhySample m_lastPhy; // the last one the board answered: what event derivation compares with
    rec::EthSample m_lastEth;
    int m_renewals = 0;
    std::deque<Snapshot> m_waiting; // passes whose interval's class is not final yet, in order
    const CReloadRequest* m_reload = nullptr;
    unsigned m_reloadSeen = 0;
};

} // namespace tessor::monitor
