#include "pages/PagePhyStatus.h"

#include "link/ConsolePort.h"
#include "link/RegisterAccess.h"
#include "model/LineModel.h"
#include "pages/ActivityObserver.h"
#include "pages/LedIndicator.h"
#include "ui/Boxes.h"
#include "ui_PagePhyStatus.h"

#include <QKeyEvent>

#include <cmath>

namespace tessor {

namespace {

const char kRegErrorValue[] = "8C99";
const char kRegTxLevel[] = "8C9C";
const char kRegRsCorrected[] = "8C91";
const char kRegLineFlags[] = "8C98";
const char kRegLinkFailCount[] = "8D38";
const char kRegLineConfigDown[] = "8C10";
const char kRegLineConfigUp[] = "8C11";
const char kOneRegister[] = " 1";

// Level register values offset by this many dB give the transmitted power in dBm/Hz.
constexpr int kPowerOffsetDb = 55;

struct IndicatorSource {
    bool fromLineFlags; // 8C98 rather than 8C71
    std::uint8_t mask;
    bool faultWhenSet; // red when the bit is set (LED9, LED12); the others are red when it is clear
};

constexpr std::array<IndicatorSource, kPhyIndicatorCount> kIndicatorSources{{
    {false, 0x80, false},
    {false, 0x40, false},
    {false, 0x20, false},
    {false, 0x08, false},
    {false, 0x04, false},
    {false, 0x02, false},
    {true, 0x80, true},
    {true, 0x04, false},
    {true, 0x02, false},
    {true, 0x01, true},
}};

bool Stopping() {
    return g_bStopThreads.load() != 0;
}

std::optional<std::uint8_t> LowByte(std::int64_t result) {
    if (result < 0)
        return std::nullopt;
    return static_cast<std::uint8_t>(result & 0xFF);
}

} // namespace

const char* const CPagePhy_Status::kHelpPath = "Help/page_22.htm";
const char* const CPagePhy_Status::kGreenImage = ":/status/led_green.png";
const char* const CPagePhy_Status::kRedImage = ":/status/led_red.png";
const char* const CPagePhy_Status::kGreyImage = ":/status/led_grey.png";

std::optional<PhyReferences> PhyReferencesFor(std::uint8_t constellationCode) {
    switch (constellationCode) {
    case 0x0: // QAM 256
        return PhyReferences{9180, 6920};
    case 0x2: // QAM 64
        return PhyReferences{8550, 6920};
    case 0x4: // QAM 16
        return PhyReferences{7920, 6920};
    case 0x6: // QAM 8
        return PhyReferences{7600, 6920};
    case 0x8: // QAM 4
        return PhyReferences{7020, 6720};
    case 0xA: // QAM 128
        return PhyReferences{8840, 6920};
    case 0xC: // QAM 32
        return PhyReferences{7980, 6670};
    default:
        return std::nullopt;
    }
}

QString FormatHundredths(std::int64_t value) {
    const std::int64_t magnitude = value < 0 ? -value : value;
    QString text = value < 0 ? QStringLiteral("-") : QString();
    text += QString::number(magnitude / 100);
    text += QLatin1Char(',');
    text += QStringLiteral("%1").arg(magnitude % 100, 2, 10, QLatin1Char('0'));
    return text;
}

PhyReadings PhyReadingsFromResults(const PhyReadResults& results) {
    PhyReadings readings;
    // A failed read (-1) has all bits set and so reads as no measurement.
    readings.mseRaw = static_cast<std::int32_t>(static_cast<std::uint32_t>(results.errorValue));
    if (results.txLevel >= 1 && results.txLevel <= 0xFFFF) {
        if (const auto db = LevelDb(static_cast<std::uint16_t>(results.txLevel)))
            readings.txLevelDb = *db + kPowerOffsetDb;
    }
    if (results.rsCorrected >= 0) {
        const auto value = static_cast<std::int32_t>(static_cast<std::uint32_t>(results.rsCorrected));
        readings.rsPerSecond = static_cast<std::uint32_t>(value / 5);
    }
    readings.linkStatus = LowByte(results.linkStatus);
    readings.lineFlags = LowByte(results.lineFlags);
    readings.linkFailCount = LowByte(results.linkFailCount);
    return readings;
}

PhyTexts FormatPhyTexts(const PhyReadings& readings, const std::optional<PhyReferences>& references) {
    PhyTexts texts;
    const QString none = QStringLiteral("-");
    if (readings.mseRaw <= 0 || !references) {
        texts.snr = none;
        texts.mse = none;
    } else {
        const auto t = static_cast<std::int64_t>(1000.0 * std::log10(static_cast<double>(readings.mseRaw)));
        texts.snr = FormatHundredths(references->snr - t);
        texts.mse = FormatHundredths(references->mse - t);
    }
    texts.rs = readings.rsPerSecond ? QString::number(*readings.rsPerSecond) : none;
    texts.linkFail = readings.linkFailCount ? QString::number(*readings.linkFailCount) : none;
    texts.power = readings.txLevelDb ? QString::fromStdString(FormatNegativeDb(*readings.txLevelDb)) : none;
    for (int i = 0; i < kPhyIndicatorCount; ++i) {
        const IndicatorSource& source = kIndicatorSources[i];
        const std::optional<std::uint8_t>& reg =
            source.fromLineFlags ? readings.lineFlags : readings.linkStatus;
        texts.flags[i] = reg && (*reg & source.mask) ? 1 : 0;
    }
    return texts;
}

int IndicatorState(int indicator, int flag) {
    const bool set = flag != 0;
    return set == kIndicatorSources[indicator].faultWhenSet ? 1 : 0;
}

CPagePhy_Status::CPagePhy_Status(QWidget* parent)
    : CPropertyPage(parent), m_ui(std::make_unique<Ui::PagePhyStatus>()) {
    InitStatusResources();
    m_ui->setupUi(this);
    SetHelpPath(QString::fromLatin1(kHelpPath));
    m_leds = {m_ui->led1, m_ui->led2, m_ui->led3,  m_ui->led4,  m_ui->led5,
              m_ui->led6, m_ui->led9, m_ui->led10, m_ui->led11, m_ui->led12};
    for (CLedIndicator* led : m_leds)
        led->SetImages(kGreenImage, kRedImage);
    // Before the first pass every flag is 0.
    UpdateIndicators();

    m_timer.setInterval(kRefreshMs);
    connect(&m_timer, &QTimer::timeout, this, &CPagePhy_Status::OnTimer);
    connect(m_ui->buttonStartStop, &QPushButton::clicked, this, &CPagePhy_Status::OnStartStop);
}

CPagePhy_Status::~CPagePhy_Status() = default;

void CPagePhy_Status::SetModemSide(std::uint8_t side) {
    m_side = side;
    if (isVisible())
        ApplySide();
}

void CPagePhy_Status::OnSetActive() {
    m_timer.start();
    m_bRunning = 1;
    m_ui->buttonStartStop->setText(QStringLiteral("Stop"));
    // The first tick shows the texts as they stand and wakes the thread; its values appear a tick later.
    ApplySide();
}

void CPagePhy_Status::OnKillActive() {
    m_timer.stop();
    m_bRunning = 0;
}

void CPagePhy_Status::ApplySide() {
    const bool nt = m_side == kSideNT;
    // The local modem receives downstream on the NT side and upstream on the LT side.
    const std::int64_t config =
        AccessLocalReg(kRead, nt ? kRegLineConfigDown : kRegLineConfigUp, kOneRegister);
    m_ui->groupLocal->setTitle(LocalGroupCaption(nt ? kSideNT : kSideLT));
    m_ui->labelTimingConverged->setEnabled(nt);
    CLedIndicator* timing = m_leds[kLedTimingConverged];
    if (nt)
        timing->SetImages(kGreenImage, kRedImage);
    else
        timing->SetImages(kGreyImage, kGreyImage);
    UpdateIndicators();
    StoreReferences(config);
}

void CPagePhy_Status::StoreReferences(std::int64_t config) {
    if (config < 0)
        return; // a failed read names no constellation
    if (const auto refs = PhyReferencesFor(ConstellationCode(static_cast<std::uint8_t>(config)))) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_refs = refs;
    }
}

void CPagePhy_Status::EnsureReferences() {
    if (m_side == kSideUnknown || References())
        return;
    StoreReferences(
        AccessLocalReg(kRead, m_side == kSideNT ? kRegLineConfigDown : kRegLineConfigUp, kOneRegister));
}

void CPagePhy_Status::OnTimer() {
    // Texts and flags of the same finished pass, taken under the lock the poll thread writes them under.
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_shown = m_texts;
    }
    m_ui->editSnr->setText(m_shown.snr);
    m_ui->editMse->setText(m_shown.mse);
    m_ui->editRs->setText(m_shown.rs);
    m_ui->editLinkFail->setText(m_shown.linkFail);
    m_ui->editPower->setText(m_shown.power);
    UpdateIndicators();
    m_pollEvent.Set();
}

void CPagePhy_Status::OnStartStop() {
    if (m_bRunning == 1) {
        m_timer.stop();
        m_bRunning = 0;
        m_ui->buttonStartStop->setText(QStringLiteral("Start"));
    } else {
        m_pollEvent.Set(); // one pass is read now and shown at the first tick
        m_timer.start();
        m_bRunning = 1;
        m_ui->buttonStartStop->setText(QStringLiteral("Stop"));
    }
}

void CPagePhy_Status::UpdateIndicators() {
    for (int i = 0; i < kPhyIndicatorCount; ++i)
        m_leds[i]->SetState(IndicatorState(i, m_shown.flags[i]));
}

void CPagePhy_Status::FormatPhyValues(const PhyReadings& readings) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_texts = FormatPhyTexts(readings, m_refs);
    }
    m_passCount.fetch_add(1, std::memory_order_relaxed);
}

std::optional<PhyReferences> CPagePhy_Status::References() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_refs;
}

bool RunPhyStatusPass(CPagePhy_Status& page) {
    PhyReadResults results;
    results.errorValue = AccessLocalRegByte(kRead, kRegErrorValue, 3);
    if (Stopping())
        return false;
    results.txLevel = AccessLocalRegByte(kRead, kRegTxLevel, 2);
    if (Stopping())
        return false;
    results.rsCorrected = AccessLocalRegByte(kRead, kRegRsCorrected, 4);
    if (Stopping())
        return false;
    // The program's own status read of 8C71 passes the shared constant, so it stays out of the terminal.
    results.linkStatus = AccessLocalReg(kRead, kReg8C71, kOneRegister);
    if (Stopping())
        return false;
    results.lineFlags = AccessLocalReg(kRead, kRegLineFlags, kOneRegister);
    if (Stopping())
        return false;
    results.linkFailCount = AccessLocalReg(kRead, kRegLinkFailCount, kOneRegister);
    if (Stopping())
        return false;
    page.FormatPhyValues(PhyReadingsFromResults(results));
    if (IActivityObserver* observer = page.ActivityObserver())
        observer->OnPhyPass(results, page.References());
    return true;
}

int PhyStatusPollThread(CPagePhy_Status* page) {
    for (;;) {
        page->m_pollEvent.Wait();
        if (Stopping())
            return 0;
        RunPhyStatusPass(*page);
    }
}

} // namespace tessor
