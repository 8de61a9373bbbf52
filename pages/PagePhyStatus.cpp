#include "pages/PagePhyStatus.h"

#include "link/ConsolePort.h"
#include "link/RegisterBus.h"
#include "model/LineModel.h"
#include "pages/ActivityObserver.h"
#include "pages/LedIndicator.h"
#include "ui/Boxes.h"
#include "ui/BusyCursor.h"
#include "ui_PagePhyStatus.h"

#include <QKeyEvent>
#include <QLabel>

namespace tessor {

namespace {

bool Stopping() {
    return g_bStopThreads.load() != 0;
}

} // namespace

const char* const CPagePhy_Status::kHelpPath = "Help/page_22.htm";
const char* const CPagePhy_Status::kGreenImage = ":/status/led_green.png";
const char* const CPagePhy_Status::kRedImage = ":/status/led_red.png";
const char* const CPagePhy_Status::kGreyImage = ":/status/led_grey.png";

CPagePhy_Status::CPagePhy_Status(QWidget* parent)
    : CPropertyPage(parent), m_ui(std::make_unique<Ui::PagePhyStatus>()) {
    InitStatusResources();
    m_ui->setupUi(this);
    SetHelpPath(QString::fromLatin1(kHelpPath));
    m_leds = {m_ui->led1, m_ui->led2, m_ui->led3,  m_ui->led4,  m_ui->led5,
              m_ui->led6, m_ui->led9, m_ui->led10, m_ui->led11, m_ui->led12};
    const std::array<QLabel*, kIndicatorCount> labels = {
        m_ui->labelLed1, m_ui->labelLed2,  m_ui->labelLed3,
        m_ui->labelLed4, m_ui->labelLed5,  m_ui->labelLed6,
        m_ui->labelLed9, m_ui->labelLed10, m_ui->labelTimingConverged,
        m_ui->labelLed12};
    for (int i = 0; i < kIndicatorCount; ++i) {
        // Named after its label; the description says in words what the colour shows.
        m_leds[i]->setAccessibleName(labels[i]->text().trimmed());
        SetIndicatorImages(i, true);
    }
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
    const ui::CBusyCursor busy;
    const bool nt = m_side == kSideNT;
    const ops::PhyReferenceRead read = ops::ReadPhyReferences(ProcessBus(), nt ? kSideNT : kSideLT);
    m_ui->groupLocal->setTitle(LocalGroupCaption(nt ? kSideNT : kSideLT));
    m_ui->labelTimingConverged->setEnabled(nt);
    SetIndicatorImages(kIndTimingConverged, nt);
    UpdateIndicators();
    StoreReferences(read);
}

void CPagePhy_Status::StoreReferences(const ops::PhyReferenceRead& read) {
    // A read that failed or names no constellation leaves the references as they were.
    if (read.references) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_refs = read.references;
    }
}

void CPagePhy_Status::SetIndicatorImages(int indicator, bool used) {
    CLedIndicator* led = m_leds[indicator];
    if (!used) {
        led->SetImages(kGreyImage, kGreyImage);
        led->SetStateTexts(QStringLiteral("grey"), QStringLiteral("grey"));
        return;
    }
    led->SetImages(kGreenImage, kRedImage);
    // State 1 (red) is a set bit for the fault indicators and a clear bit for the others.
    const QString on = QStringLiteral("on");
    const QString off = QStringLiteral("off");
    if (IndicatorState(indicator, 1) == 1)
        led->SetStateTexts(off, on);
    else
        led->SetStateTexts(on, off);
}

void CPagePhy_Status::RequestPass() {
    EnsureReferences();
    m_pollEvent.Set();
}

void CPagePhy_Status::EnsureReferences() {
    if (m_side == kSideUnknown || References())
        return;
    StoreReferences(ops::ReadPhyReferences(ProcessBus(), m_side == kSideNT ? kSideNT : kSideLT));
}

void CPagePhy_Status::OnTimer() {
    // Texts and flags of the same finished pass, made under the lock the poll thread writes it under.
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_shown = TextsOfMembers();
    }
    m_ui->editSnr->setText(QString::fromStdString(m_shown.snr));
    m_ui->editMse->setText(QString::fromStdString(m_shown.mse));
    m_ui->editRs->setText(QString::fromStdString(m_shown.rs));
    m_ui->editLinkFail->setText(QString::fromStdString(m_shown.linkFail));
    m_ui->editPower->setText(QString::fromStdString(m_shown.power));
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
    for (int i = 0; i < kIndicatorCount; ++i)
        m_leds[i]->SetState(IndicatorState(i, m_shown.flags[i]));
}

void CPagePhy_Status::FormatPhyValues(const PhyValues& values,
                                      const std::optional<PhyReferences>& references) {
    const PhyRegisters& r = values.registers;
    const auto byte = [](const std::optional<std::uint32_t>& v) {
        return v ? std::optional<std::uint8_t>(static_cast<std::uint8_t>(*v & 0xFF)) : std::nullopt;
    };
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_linkStatus = byte(r.linkStatus);
        m_lineFlags = byte(r.lineFlags);
        m_linkFailCount = values.linkFailCount;
        m_mseRaw = r.errorValue ? std::optional<std::int32_t>(static_cast<std::int32_t>(*r.errorValue))
                                : std::nullopt;
        m_snrRef = references ? std::optional<std::int32_t>(references->snr) : std::nullopt;
        m_mseRef = references ? std::optional<std::int32_t>(references->mse) : std::nullopt;
        m_rsPerSecond =
            r.rsCorrected
                ? std::optional<std::uint32_t>(static_cast<std::uint32_t>(RsPerSecond(*r.rsCorrected)))
                : std::nullopt;
        m_txLevelDb = values.txPowerDbmHz;
        m_passCount.fetch_add(1, std::memory_order_relaxed);
    }
}

void CPagePhy_Status::TakePass(const ops::PhyPass& pass, const std::optional<PhyReferences>& references) {
    FormatPhyValues(pass.values, references);
}

PhyTexts CPagePhy_Status::TextsOfMembers() const {
    PhyTexts texts;
    if (m_passCount.load(std::memory_order_relaxed) == 0)
        return texts; // empty fields until the first pass
    const std::string none = "-";
    std::optional<SnrMse> figures;
    if (m_mseRaw && m_snrRef && m_mseRef)
        figures = SnrMseFromError(*m_mseRaw, LineReferences{*m_snrRef, *m_mseRef});
    texts.snr = figures ? FormatHundredths(figures->snr, DecimalMark::Comma) : none;
    texts.mse = figures ? FormatHundredths(figures->mse, DecimalMark::Comma) : none;
    texts.rs = m_rsPerSecond ? std::to_string(*m_rsPerSecond) : none;
    texts.linkFail = m_linkFailCount ? std::to_string(*m_linkFailCount) : none;
    texts.power = m_txLevelDb ? FormatNegativeDb(-*m_txLevelDb) : none;
    // The indicators by the one decoder of their bits.
    PhyRegisters flagRegisters;
    flagRegisters.linkStatus = m_linkStatus;
    flagRegisters.lineFlags = m_lineFlags;
    const PhyValues flags = DecodePhy(flagRegisters, std::nullopt);
    for (int i = 0; i < kIndicatorCount; ++i)
        texts.flags[static_cast<std::size_t>(i)] = flags.Indicator(i).value_or(false) ? 1 : 0;
    return texts;
}

CPagePhy_Status::Members CPagePhy_Status::CurrentMembers() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return {m_linkStatus, m_lineFlags, m_linkFailCount, m_mseRaw,
            m_snrRef,     m_mseRef,    m_txLevelDb,     m_rsPerSecond};
}

std::optional<PhyReferences> CPagePhy_Status::References() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_refs;
}

bool RunPhyStatusPass(CPagePhy_Status& page) {
    const std::optional<PhyReferences> references = page.References();
    const ops::PhyPass pass = ops::RunPhyPass(ProcessBus(), references, Stopping);
    if (!pass.complete)
        return false;
    page.TakePass(pass, references);
    if (IActivityObserver* observer = page.ActivityObserver())
        observer->OnPhyPass(pass);
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
