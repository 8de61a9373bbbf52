#pragma once

#include "link/AutoResetEvent.h"
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

// SNR and mean square error references, in hundredths of dB, for the constellation the local modem
// receives.
struct PhyReferences {
    std::int32_t snr = 0;
    std::int32_t mse = 0;
};

// References for a constellation code (low nibble of 8C10/8C11); nothing for codes that name none.
std::optional<PhyReferences> PhyReferencesFor(std::uint8_t constellationCode);

// What one pass of PHY reads delivered. A read that failed (negative result) leaves its value empty.
struct PhyReadings {
    std::int32_t mseRaw = 0;                   // 8C99..8C9B; 0 or less: no measurement
    std::optional<std::uint32_t> rsPerSecond;  // 8C91..8C94 divided by 5
    std::optional<int> txLevelDb;              // dB below 0 of 8C9C..8C9D plus 55; empty for 0 or a failure
    std::optional<std::uint8_t> linkStatus;    // 8C71
    std::optional<std::uint8_t> lineFlags;     // 8C98
    std::optional<std::uint8_t> linkFailCount; // 8D38
};

// Results of the six reads of a pass, as the register access returned them (negative: the read failed).
struct PhyReadResults {
    std::int64_t errorValue = 0;    // 8C99, three registers
    std::int64_t txLevel = 0;       // 8C9C, two registers
    std::int64_t rsCorrected = 0;   // 8C91, four registers
    std::int64_t linkStatus = 0;    // 8C71
    std::int64_t lineFlags = 0;     // 8C98
    std::int64_t linkFailCount = 0; // 8D38
};

// The values of a pass: the error value as the low 32 bits taken as signed, the level in dB plus 55 for a
// register value of 1..65535 (nothing for 0, which has no logarithm, and for a failed read), the
// corrected RS errors divided by 5 as a signed 32-bit value, and the low bytes of the single registers.
PhyReadings PhyReadingsFromResults(const PhyReadResults& results);

// The ten indicators in page order: LED1..LED6 from 8C71, LED9..LED12 from 8C98.
enum PhyIndicator {
    kLedFullConstellation,    // LED1, 8C71 bit 7
    kLedReducedConstellation, // LED2, 8C71 bit 6
    kLedTcSync,               // LED3, 8C71 bit 5
    kLedEthernetSync,         // LED4, 8C71 bit 3
    kLedRemoteSync,           // LED5, 8C71 bit 2
    kLedSignalDetected,       // LED6, 8C71 bit 1
    kLedMicroInterruption,    // LED9, 8C98 bit 7
    kLedAgcConverged,         // LED10, 8C98 bit 2
    kLedTimingConverged,      // LED11, 8C98 bit 1
    kLedAdcSaturation,        // LED12, 8C98 bit 0
    kPhyIndicatorCount
};

// Texts and indicator flags of one pass, as the page shows them.
struct PhyTexts {
    QString snr;
    QString mse;
    QString rs;
    QString linkFail;
    QString power;
    std::array<int, kPhyIndicatorCount> flags{};
};

// Hundredths of dB with two decimals and a decimal comma: 6180 gives "61,80", -204 gives "-2,04".
QString FormatHundredths(std::int64_t value);

// The texts and flags for one pass; SNR and MSE are "-" without a measurement or without references.
PhyTexts FormatPhyTexts(const PhyReadings& readings, const std::optional<PhyReferences>& references);

// Indicator state for a flag: 0 shows green, 1 red. LED9 and LED12 report faults, the others good states.
int IndicatorState(int indicator, int flag);

// The "  PHY Status  " page: line receiver values and indicators of the local modem, read by
// PhyStatusPollThread and shown every 5 seconds while the page is visible and running.
class CPagePhy_Status : public CPropertyPage {
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

    // Poll thread: formats a finished pass and hands the result to the page under its lock.
    void FormatPhyValues(const PhyReadings& readings);

    bool IsRunning() const { return m_bRunning != 0; }
    bool IsTimerActive() const { return m_timer.isActive(); }
    // Passes handed over by FormatPhyValues since construction.
    std::uint64_t PassCount() const { return m_passCount.load(std::memory_order_relaxed); }
    std::optional<PhyReferences> References() const;
    // Reads the references of the received constellation when none are known yet (for passes made while
    // the page has not been shown). Does nothing once they are known.
    void EnsureReferences();
    CLedIndicator* Indicator(int indicator) const { return m_leds[indicator]; }

protected:
    void OnSetActive() override;
    void OnKillActive() override;

private:
    void ApplySide();
    void StoreReferences(std::int64_t lineConfig);

    std::unique_ptr<Ui::PagePhyStatus> m_ui;
    std::array<CLedIndicator*, kPhyIndicatorCount> m_leds{};
    QTimer m_timer;
    int m_bRunning = 0;
    std::uint8_t m_side = kSideUnknown;
    PhyTexts m_shown; // what the fields and indicators show (UI thread only)

    // Shared with the poll thread.
    mutable std::mutex m_mutex;
    std::optional<PhyReferences> m_refs;
    PhyTexts m_texts;
    // A statistic only: reading it orders nothing.
    std::atomic<std::uint64_t> m_passCount{0};
};

// One pass of the six PHY reads, in order, handed to the page. Returns false when the stop flag ended it
// early (nothing is handed over then).
bool RunPhyStatusPass(CPagePhy_Status& page);

// Thread body: one pass per setting of the page's event; returns 0 when woken with g_bStopThreads set.
int PhyStatusPollThread(CPagePhy_Status* page);

} // namespace tessor
