#include "history/LineHistory.h"

#include "history/HistoryWindow.h"
#include "ops/EthernetPass.h"

#include <algorithm>
#include <cstdlib>

namespace tessor {

namespace {

// The background pass interval; TESSOR_HISTORY_INTERVAL_MS shortens it for demonstrations and tests.
int BackgroundInterval() {
    if (const char* text = std::getenv("TESSOR_HISTORY_INTERVAL_MS")) {
        const long ms = std::strtol(text, nullptr, 10);
        if (ms >= 200 && ms <= 600000)
            return static_cast<int>(ms);
    }
    return CLineHistory::kBackgroundIntervalMs;
}

} // namespace

// Passes every question through and notes it, and its answer, in the record.
class CLineHistory::CNotingPrompt : public IUserPrompt {
public:
    CNotingPrompt(IUserPrompt* inner, rec::CLineRecorder& recorder) : m_inner(inner), m_recorder(recorder) {}

    void ShowProblem(const std::string& text) override {
        if (m_inner)
            m_inner->ShowProblem(text);
    }

    Answer AskHardwareNotResponding(const std::string& text) override {
        m_recorder.NoteNoAnswer(rec::Now());
        const Answer answer = m_inner ? m_inner->AskHardwareNotResponding(text) : Answer::Cancel;
        if (answer != Answer::Other)
            m_recorder.NoteAnswer(rec::Now(), answer == Answer::Retry);
        return answer;
    }

    void AbandonQuestions() override {
        if (m_inner)
            m_inner->AbandonQuestions();
    }

private:
    IUserPrompt* m_inner;
    rec::CLineRecorder& m_recorder;
};

CLineHistory::CLineHistory(IPhyPassSource* phyPasses, QObject* parent)
    : QObject(parent),
      m_phyPasses(phyPasses), // The pages pass every 5 s; background passes may come more often, never less.
      m_recorder(
          std::make_shared<rec::CLineRecorder>(std::max(BackgroundInterval(), kBackgroundIntervalMs))) {
    m_backgroundTimer.setInterval(BackgroundInterval());
    connect(&m_backgroundTimer, &QTimer::timeout, this, &CLineHistory::OnBackgroundTick);
    m_watchTimer.setInterval(1000);
    connect(&m_watchTimer, &QTimer::timeout, this, &CLineHistory::WatchSampling);
    m_watchTimer.start();
}

void CLineHistory::WatchSampling() {
    const bool sampling = BackgroundRecording() || (m_phyPasses && m_phyPasses->PassesRunning());
    if (sampling == m_sampling)
        return;
    m_sampling = sampling;
    bool any = false;
    m_recorder->Read([&](const rec::LineStore& store) { any = !store.phy.empty(); });
    if (any) // before the first sample there is nothing to pause
        m_recorder->NoteRecording(rec::Now(), sampling ? "Recording resumed"
                                                       : "Recording paused: the PHY Status page is stopped "
                                                         "and Record in background is off");
}

CLineHistory::~CLineHistory() {
    delete m_window.data();
}

IUserPrompt* CLineHistory::WrapPrompt(IUserPrompt* inner) {
    m_prompt = std::make_unique<CNotingPrompt>(inner, *m_recorder);
    return m_prompt.get();
}

void CLineHistory::SetBackgroundRecording(bool on) {
    if (on == BackgroundRecording())
        return;
    if (on)
        m_backgroundTimer.start();
    else
        m_backgroundTimer.stop();
    m_recorder->NoteRecording(rec::Now(), on ? "Record in background on" : "Record in background off");
    if (m_window)
        m_window->SetBackgroundRecording(on, m_backgroundTimer.interval());
}

void CLineHistory::OnBackgroundTick() {
    // The page's own timer wakes the thread while it runs; only the pauses between are filled.
    if (m_phyPasses && !m_phyPasses->PassesRunning())
        m_phyPasses->RequestPass();
}

void CLineHistory::ShowWindow(QWidget* parent) {
    if (!m_window) {
        m_window = new CHistoryWindow(m_recorder, parent);
        m_window->SetBackgroundRecording(BackgroundRecording(), m_backgroundTimer.interval());
        m_window->SetLivePerformance([this] { return Performance(); });
        connect(m_window, &CHistoryWindow::backgroundRecordingChanged, this,
                &CLineHistory::SetBackgroundRecording);
    }
    m_window->show();
    m_window->raise();
    m_window->activateWindow();
}

CHistoryWindow* CLineHistory::Window() const {
    return m_window.data();
}

void CLineHistory::OnPhyPass(const ops::PhyPass& pass) {
    std::lock_guard<std::mutex> lock(m_performanceMutex);
    rec::PhySample sample = rec::MakePhySample(m_clock(), pass);
    const CLinePerformance::Added added = m_performance.Add(m_passes.Pass(sample));
    sample.intervalClass = added.provisional;
    // The first pass ends no interval; the others are final now or once the run they are in is decided.
    const std::uint64_t interval = m_intervals;
    bool final = true;
    if (added.interval) {
        ++m_intervals;
        final = std::any_of(added.decided.begin(), added.decided.end(),
                            [interval](const DecidedInterval& d) { return d.index == interval; });
    }
    const std::size_t row = m_recorder->AddPhy(sample, final);
    if (!final)
        m_openRows.emplace_back(interval, row);
    for (const DecidedInterval& d : added.decided) {
        const auto open = std::find_if(m_openRows.begin(), m_openRows.end(),
                                       [&d](const auto& r) { return r.first == d.index; });
        if (open == m_openRows.end())
            continue; // the interval of this pass, recorded final
        m_recorder->SetIntervalClass(open->second, d.value, true);
        m_openRows.erase(open);
    }
}

void CLineHistory::SetClock(std::function<rec::SampleTime()> clock) {
    std::lock_guard<std::mutex> lock(m_performanceMutex);
    m_clock = std::move(clock);
}

CLinePerformance::View CLineHistory::Performance() const {
    std::lock_guard<std::mutex> lock(m_performanceMutex);
    return m_performance.Provisional();
}

void CLineHistory::OnEthPass(const std::array<RegResult, kCounterDefCount>& reads,
                             const std::array<std::uint64_t, kCounterDefCount>&) {
    // The page's totals are its display (each read divided by 5); the record keeps the raw counts and
    // their sums, from which its rates are made.
    std::lock_guard<std::mutex> lock(m_performanceMutex);
    for (std::size_t i = 0; i < reads.size(); ++i)
        m_ethTotals[i] += ops::CounterCount(reads[i]).value_or(0);
    m_recorder->AddEth(rec::MakeEthSample(m_clock(), reads.data(), reads.size(), m_ethTotals));
    m_recorder->Read([this](const rec::LineStore& store) { m_passes.AddEth(store, store.eth.size() - 1); });
}

void CLineHistory::OnAction(rec::Action action, const std::string& detail) {
    m_recorder->NoteAction(action, detail);
}

} // namespace tessor
