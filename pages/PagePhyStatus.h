#pragma once

#include "link/AutoResetEvent.h"
#include "ops/PhyPass.h"
#include "pages/ActivityObserver.h"
#include "pages/PropertyPage.h"

#include <QString>
#include <QTimer>

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>

namespace Ui {
class PagePhyStatus;
}

namespace tessor {

class CLedIndicator;

// The pass itself, its values and the indicator numbering live in the operations layer.
using ops::IndicatorState;
using ops::PhyReadResults;
using ops::PhyReferences;
using ops::PhyReferencesFor;
using tessor::kIndAdcSaturation;
using tessor::kIndAgcConverged;
using tessor::kIndEthernetSync;
using tessor::kIndFullConstellation;
using tessor::kIndicatorCount;
using tessor::kIndMicroInterruption;
using tessor::kIndReducedConstellation;
using tessor::kIndRemoteSync;
using tessor::kIndSignalDetected;
using tessor::kIndTcSync;
using tessor::kIndTimingConverged;
using tessor::PhyIndicator;

// The "  PHY Status  " page: line receiver values and indicators of the local modem, read by
// PhyStatusPollThread and shown every 5 seconds while the page is visible and running.
class CPagePhy_Status : public CPropertyPage, public IPhyPassSource {
    Q_OBJECT
public:
    static constexpr int kRefreshMs = 5000;
    static const char* const kHelpPath;
    static const char* const kGreenImage;
    static const char* const kRedImage;
    static const char* const kGreyImage;

    explicit CPagePhy_Status(QWidget* parent = nullptr);
    ~CPagePhy_Status() override;

    // Type of the local modem (kSideLT, kSideNT). A visible page re-reads its references at once.
    void SetModemSide(std::uint8_t side);
    std::uint8_t GetModemSide() const { return m_side; }

    // Setting it lets the poll thread run one pass; the sheet also sets it at shutdown.
    AutoResetEvent m_pollEvent;

    // Refresh tick: shows the texts and indicators of the last finished pass, then wakes the poll thread.
    void OnTimer();
    // The Start/Stop button.
    void OnStartStop();
    // Sets the indicators from the flags shown with the texts (those of the pass the last tick took over).
    void UpdateIndicators();

    // Poll thread: hands the values of a finished pass, and the references they were decoded with, to the
    // page's members under its lock. The next tick shows texts made from those members.
    void FormatPhyValues(const PhyValues& values,
                         const std::optional<PhyReferences>& references = std::nullopt);
    // Poll thread: a finished pass, as the pass rule decided it, decoded with references.
    void TakePass(const ops::PhyPass& pass, const std::optional<PhyReferences>& references);

    // The page's members as the last pass left them; each empty when not known.
    struct Members {
        std::optional<std::uint8_t> linkStatus, lineFlags, linkFailCount;
        std::optional<std::int32_t> mseRaw, snrRef, mseRef, txLevelDb;
        std::optional<std::uint32_t> rsPerSecond;
    };
    Members CurrentMembers() const;

    bool IsRunning() const { return m_bRunning != 0; }
    bool IsTimerActive() const { return m_timer.isActive(); }
    // Passes handed over by FormatPhyValues since construction.
    std::uint64_t PassCount() const { return m_passCount.load(std::memory_order_relaxed); }
    std::optional<PhyReferences> References() const;
    // Reads the references of the received constellation when none are known yet (for passes made while
    // the page has not been shown). Does nothing once they are known.
    void EnsureReferences();
    bool PassesRunning() const override { return IsRunning(); }
    void RequestPass() override;
    CLedIndicator* Indicator(int indicator) const { return m_leds[indicator]; }

protected:
    void OnSetActive() override;
    void OnKillActive() override;

private:
    void ApplySide();
    // Green/red images with "on"/"off" descriptions, or the grey image of an indicator the side lacks.
    void SetIndicatorImages(int indicator, bool used);
    void StoreReferences(const ops::PhyReferenceRead& read);
    // The texts and flags the members give, each through the one formatter of its figure; "-" for what
    // is not known (under the lock).
    PhyTexts TextsOfMembers() const;

    std::unique_ptr<Ui::PagePhyStatus> m_ui;
    std::array<CLedIndicator*, kIndicatorCount> m_leds{};
    QTimer m_timer;
    int m_bRunning = 0;
    std::uint8_t m_side = kSideUnknown;
    PhyTexts m_shown; // what the fields and indicators show: the members at the last tick (UI thread only)

    // Shared with the poll thread.
    mutable std::mutex m_mutex;
    std::optional<PhyReferences> m_refs;
    // The page's state: the last pass taken, decoded; each empty when its read or its references were
    // not known.
    std::optional<std::uint8_t> m_linkStatus;    // 8C71
    std::optional<std::uint8_t> m_lineFlags;     // 8C98
    std::optional<std::uint8_t> m_linkFailCount; // 8D38, low byte
    std::optional<std::int32_t> m_mseRaw;        // error value 8C99..8C9B, low 32 bits as signed
    std::optional<std::int32_t> m_snrRef;        // references of the constellation, hundredths of dB
    std::optional<std::int32_t> m_mseRef;
    std::optional<std::uint32_t> m_rsPerSecond; // the page's figure: the corrected count divided by 5
    std::optional<std::int32_t> m_txLevelDb;    // transmitted power, dBm/Hz
    // A statistic only: reading it orders nothing.
    std::atomic<std::uint64_t> m_passCount{0};
};

// One pass of the six PHY reads, in order, handed to the page. Returns false when the stop flag ended it
// early (nothing is handed over then).
bool RunPhyStatusPass(CPagePhy_Status& page);

// Thread body: one pass per setting of the page's event; returns 0 when woken with g_bStopThreads set.
int PhyStatusPollThread(CPagePhy_Status* page);

} // namespace tessor
