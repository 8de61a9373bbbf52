#pragma once

#include "history/HistoryPasses.h"
#include "link/Hooks.h"
#include "pages/ActivityObserver.h"
#include "recorder/LineRecorder.h"

#include <QObject>
#include <QPointer>
#include <QTimer>

#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <utility>

class QWidget;

namespace tessor {

class CHistoryWindow;

// The Line History of one run: the recorder, fed by the pages' passes and actions and by the board's
// silences (through the prompt it wraps), the "Record in background" passes, the line performance of the
// passes (each PHY sample's interval class goes into the record), and the window. The sheet owns it;
// everything but the observer calls and Performance runs on the UI thread.
class CLineHistory : public QObject, public IActivityObserver {
    Q_OBJECT
public:
    static constexpr int kBackgroundIntervalMs = 5000;

    explicit CLineHistory(IPhyPassSource* phyPasses, QObject* parent = nullptr);
    ~CLineHistory() override;

    std::shared_ptr<rec::CLineRecorder> Recorder() const { return m_recorder; }

    // The figures of the passes so far, the intervals still pending in their provisional class.
    CLinePerformance::View Performance() const;
    // The clock that stamps the samples (rec::Now unless set; set it before the first pass).
    void SetClock(std::function<rec::SampleTime()> clock);

    // The prompt to give the board link: it answers through inner and notes the box and its answer.
    IUserPrompt* WrapPrompt(IUserPrompt* inner);

    // Off by default. While on, the PHY poll thread makes a pass every interval while the PHY Status
    // page is not running.
    void SetBackgroundRecording(bool on);
    bool BackgroundRecording() const { return m_backgroundTimer.isActive(); }
    int BackgroundIntervalMs() const { return m_backgroundTimer.interval(); }

    // Creates the window at its first use, as a window of parent.
    void ShowWindow(QWidget* parent);
    CHistoryWindow* Window() const;

    void OnPhyPass(const ops::PhyPass& pass) override;
    void OnEthPass(const std::array<RegResult, kCounterDefCount>& reads,
                   const std::array<std::uint64_t, kCounterDefCount>& totals) override;
    void OnAction(rec::Action action, const std::string& detail) override;

private:
    class CNotingPrompt;
    void OnBackgroundTick();
    void WatchSampling();

    IPhyPassSource* m_phyPasses;
    std::shared_ptr<rec::CLineRecorder> m_recorder;
    std::unique_ptr<CNotingPrompt> m_prompt;
    QTimer m_backgroundTimer;
    // Notes in the journal when PHY passes stop and start again (the graphs show a gap there).
    QTimer m_watchTimer;
    bool m_sampling = false;
    QPointer<CHistoryWindow> m_window;
    // Sums of the raw Ethernet counts of this run; only the Ethernet poll thread touches them.
    std::array<std::uint64_t, kCounterDefCount> m_ethTotals{};
    std::function<rec::SampleTime()> m_clock = rec::Now;
    // The line performance; the two poll threads feed it, in the order their samples enter the record.
    mutable std::mutex m_performanceMutex;
    CHistoryPasses m_passes;
    CLinePerformance m_performance;
    std::uint64_t m_intervals = 0;
    // Intervals whose class is not final yet, with the index of the PHY sample that ends each.
    std::deque<std::pair<std::uint64_t, std::size_t>> m_openRows;
};

} // namespace tessor
