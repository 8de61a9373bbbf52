#pragma once

#include "link/Hooks.h"
#include "pages/ActivityObserver.h"
#include "recorder/LineRecorder.h"

#include <QObject>
#include <QPointer>
#include <QTimer>

#include <memory>

class QWidget;

namespace tessor {

class CHistoryWindow;

// The Line History of one run: the recorder, fed by the pages' passes and actions and by the board's
// silences (through the prompt it wraps), the "Record in background" passes, and the window. The sheet
// owns it; everything but the observer calls runs on the UI thread.
class CLineHistory : public QObject, public IActivityObserver {
    Q_OBJECT
public:
    static constexpr int kBackgroundIntervalMs = 5000;

    explicit CLineHistory(IPhyPassSource* phyPasses, QObject* parent = nullptr);
    ~CLineHistory() override;

    std::shared_ptr<rec::CLineRecorder> Recorder() const { return m_recorder; }

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

    void OnPhyPass(const ops::PhyReadResults& results, const PhyValues& values) override;
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
};

} // namespace tessor
