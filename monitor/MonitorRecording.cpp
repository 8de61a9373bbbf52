#include "monitor/MonitorRecording.h"

namespace tessor::monitor {

namespace {

// What the monitor does while the file cannot be written: it keeps no passes for later.
constexpr const char* kRetrying =
    " The passes until it can be written again are not in the file; trying again at every pass.";

} // namespace

std::unique_ptr<CMonitorRecording> CMonitorRecording::Open(const std::string& path,
                                                           std::chrono::milliseconds interval, Log log,
                                                           std::string* error, std::size_t memoryLimit,
                                                           const CReloadRequest* reload) {
    std::unique_ptr<CMonitorRecording> r(new CMonitorRecording());
    r->m_path = path;
    r->m_intervalMs = interval.count();
    r->m_memoryLimit = memoryLimit;
    r->m_log = std::move(log);
    r->m_reload = reload;
    r->m_reloadSeen = reload ? reload->Generation() : 0;
    r->m_recorder = std::make_unique<rec::CLineRecorder>(r->m_intervalMs);
    if (!r->m_recorder->StartRecording(path, error))
        return nullptr;
    return r;
}

CMonitorRecording::~CMonitorRecording() {
    for (const Snapshot& s : m_waiting)
        Write(s);
}

void CMonitorRecording::AddPass(const Snapshot& s) {
    for (Snapshot& waiting : m_waiting) {
        for (const auto& [index, value] : s.results.decided) {
            if (waiting.results.intervalIndex == index) {
                waiting.results.intervalClass = value;
                waiting.results.classFinal = true;
            }
        }
    }
    m_waiting.push_back(s);
    while (!m_waiting.empty() &&
           (m_waiting.front().results.classFinal || !m_waiting.front().results.intervalIndex)) {
        Write(m_waiting.front());
        m_waiting.pop_front();
    }
}

void CMonitorRecording::Write(const Snapshot& s) {
    if (m_reload && m_reload->Generation() != m_reloadSeen) {
        m_reloadSeen = m_reload->Generation();
        Reopen("Recording file reopened on SIGHUP");
    }
    KeepRecording(); // before the pass's rows: the first pass that finds room again is in the file
    const rec::SampleTime time = s.results.at;
    if (!s.boardUp) {
        if (!m_down)
            m_recorder->NoteNoAnswer(time);
        m_down = true;
        rec::PhySample phy = rec::MakePhySample(time, ops::PhyPass{});
        phy.intervalClass = s.results.intervalClass;
        m_recorder->AddPhy(phy);
    } else {
        m_down = false;
        m_lastPhy = rec::MakePhySample(time, s.results.phy);
        m_lastPhy.intervalClass = s.results.intervalClass;
        m_havePhy = true;
        m_recorder->AddPhy(m_lastPhy);
        m_lastEth = s.results.ethernet;
        m_haveEth = true;
        m_recorder->AddEth(m_lastEth);
    }
    ReportFailure();
    if (m_recorder->BytesUsed() > m_memoryLimit)
        Renew();
}

void CMonitorRecording::NameBoard(const std::string& site, const std::string& board) {
    m_boardNote = "Board " + board + " at site " + site;
    NoteBoard();
}

void CMonitorRecording::NoteBoard() {
    if (!m_boardNote.empty())
        m_recorder->NoteRecording(rec::Now(), m_boardNote);
}

void CMonitorRecording::ReportFailure() {
    const std::string failure = m_recorder->TakeRecordingFailure();
    if (!failure.empty() && !m_failing && m_log)
        m_log(m_path + ": " + failure + kRetrying);
    if (!failure.empty())
        m_failing = true;
}

void CMonitorRecording::KeepRecording() {
    if (m_recorder->IsRecording())
        return;
    std::string error;
    if (m_recorder->StartRecording(m_path, &error)) {
        if (m_failing && m_log)
            m_log(m_path + ": recording again");
        m_failing = false;
        NoteBoard();
    }
}

void CMonitorRecording::Renew() {
    Reopen(nullptr);
    ++m_renewals;
}

void CMonitorRecording::Reopen(const char* note) {
    // The new recorder learns the last samples before it writes anything, so it derives no events from
    // its own start and the file gets no repeated rows.
    auto next = std::make_unique<rec::CLineRecorder>(m_intervalMs);
    if (m_havePhy)
        next->AddPhy(m_lastPhy);
    if (m_haveEth)
        next->AddEth(m_lastEth);
    if (m_down)
        next->NoteNoAnswer(rec::Now());
    m_recorder.reset(); // closes the file without an event: the recording goes on
    std::string error;
    if (!next->ContinueRecording(m_path, &error)) {
        m_failing = true;
        if (m_log)
            m_log(m_path + ": " + error + kRetrying);
    } else if (note) {
        next->NoteRecording(rec::Now(), note);
    }
    m_recorder = std::move(next);
    if (note && m_recorder->IsRecording())
        NoteBoard();
}

} // namespace tessor::monitor
