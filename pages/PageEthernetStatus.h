#pragma once

#include "link/AutoResetEvent.h"
#include "ops/EthernetPass.h"
#include "pages/PropertyPage.h"

#include <QString>
#include <QTimer>

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

class QLineEdit;

namespace Ui {
class PageEthernetStatus;
}

namespace tessor {

// What a read adds lives in the operations layer; the counters and their order in kCounterDefs.
using ops::CounterIncrement;

// The "  Ethernet Status  " page: fifteen MAC counters of the local modem accumulated as 64-bit totals by
// EthCounterPollThread while counting is started.
class CPageEthernet_Status : public CPropertyPage {
    Q_OBJECT
public:
    static constexpr int kRefreshMs = 5000;
    static const char* const kHelpPath;

    explicit CPageEthernet_Status(QWidget* parent = nullptr);
    ~CPageEthernet_Status() override;

    // Setting it lets the poll thread run one pass; the sheet also sets it at shutdown.
    AutoResetEvent m_pollEvent;

    // Refresh tick: shows the totals of the last complete pass, then wakes the poll thread.
    void OnTimer();
    // The Start/Stop button: starts or stops counting.
    void OnStartStop();
    // The Clear button (enabled only while stopped): all totals and fields become 0.
    void OnClear();

    // Texts of the totals; zeroes the totals first when a clear is pending. Any thread.
    void FormatCounters();

    bool IsPolling() const { return m_bPolling.load() == 1; }
    bool IsTimerActive() const { return m_timer.isActive(); }
    std::uint64_t Total(int index) const;
    // Complete passes since construction.
    std::uint64_t PassCount() const { return m_passCount.load(std::memory_order_relaxed); }
    QLineEdit* Field(int index) const { return m_fields[index]; }

protected:
    void OnSetActive() override;
    void OnKillActive() override;

private:
    friend bool RunEthCounterPass(CPageEthernet_Status& page);

    void TransferTexts();
    std::uint64_t ClearEpoch() const;
    // Adds one read to a total unless the totals were zeroed since the read began.
    void AddRead(int index, const RegResult& result, std::uint64_t epoch);
    void FinishPass();

    std::unique_ptr<Ui::PageEthernetStatus> m_ui;
    std::array<QLineEdit*, kCounterDefCount> m_fields{};
    QTimer m_timer;
    // Written by the UI thread, tested by the poll thread between reads.
    std::atomic<int> m_bPolling{0};

    // Shared with the poll thread.
    mutable std::mutex m_mutex;
    std::array<std::uint64_t, kCounterDefCount> m_totals{};
    std::array<QString, kCounterDefCount> m_counterText;
    int m_bClearPending = 1; // the first showing zeroes the totals
    std::uint64_t m_clearEpoch = 0;
    // A statistic only: reading it orders nothing.
    std::atomic<std::uint64_t> m_passCount{0};
};

// One pass: the fifteen counters in order, each added to its total, then the texts. Returns false when
// the pass was abandoned (counting stopped, or the stop flag set); the later counters are then not read
// and the texts keep those of the last complete pass.
bool RunEthCounterPass(CPageEthernet_Status& page);

// Thread body: one pass per setting of the page's event while counting is started; returns 0 when woken
// with g_bStopThreads set.
int EthCounterPollThread(CPageEthernet_Status* page);

} // namespace tessor
