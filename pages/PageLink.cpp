#include "pages/PageLink.h"

#include "model/LineModel.h"
#include "ops/LinkSettings.h"
#include "ops/ProcessAccess.h"
#include "ui/Boxes.h"
#include "ui/BusyCursor.h"
#include "ui_PageLink.h"

#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QSpinBox>

#include <array>
#include <string>
#include <string_view>

namespace tessor {

namespace {

constexpr int kCarrierSpinMax = 800;

QString Text(std::string_view text) {
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

void FillList(QComboBox* list, const std::array<std::string_view, 7>& texts) {
    for (std::string_view text : texts)
        list->addItem(Text(text));
    list->setCurrentIndex(-1);
}

} // namespace

CPageLink::CPageLink(QWidget* parent) : CPropertyPage(parent), m_ui(std::make_unique<Ui::PageLink>()) {
    m_ui->setupUi(this);
    SetHelpPath(QStringLiteral("Help/page_17.htm"));
    m_ui->spinDsCarrier->setRange(0, kCarrierSpinMax);
    m_ui->spinUsCarrier->setRange(0, kCarrierSpinMax);

    FillList(m_ui->cmbDsConstellation, kDownstreamConstellationTexts);
    FillList(m_ui->cmbUsConstellation, kUpstreamConstellationTexts);
    for (QComboBox* list : {m_ui->cmbLocalSpeed, m_ui->cmbRemoteSpeed}) {
        for (std::string_view text : kEthernetSpeedTexts)
            list->addItem(Text(text));
        list->setCurrentIndex(-1); // nothing known until 8D43 is read
    }

    // The downstream preset list takes the place of the downstream line rate field; the upstream field
    // and the remote speed list keep their place while hidden, as nothing replaces them.
    for (QWidget* w :
         {static_cast<QWidget*>(m_ui->editUsRate), static_cast<QWidget*>(m_ui->cmbRemoteSpeed)}) {
        QSizePolicy policy = w->sizePolicy();
        policy.setRetainSizeWhenHidden(true);
        w->setSizePolicy(policy);
    }

    m_timer.setInterval(kTimerPeriodMs);
    connect(&m_timer, &QTimer::timeout, this, &CPageLink::OnTimer);

    connect(m_ui->btnRead, &QPushButton::clicked, this, &CPageLink::ReadLinkSettings);
    connect(m_ui->btnWriteUpdate, &QPushButton::clicked, this, &CPageLink::WriteAndUpdate);
    // The checked state counts, however it changed (mouse, arrow keys, a screen reader's toggle action);
    // pressing the radio that is already checked changes nothing and does nothing.
    connect(m_ui->radioCurrent, &QRadioButton::toggled, this, [this](bool checked) {
        if (checked)
            EnterCurrentSettings();
    });
    connect(m_ui->radioStandard, &QRadioButton::toggled, this, [this](bool checked) {
        if (checked)
            EnterStandardSettings();
    });
    // Only choices of the user count as selection changes, not the page's own selections.
    connect(m_ui->cmbDsPreset, &QComboBox::activated, this, &CPageLink::OnDownstreamPresetChosen);
    connect(m_ui->cmbUsPreset, &QComboBox::activated, this, &CPageLink::ShowUpstreamPreset);
    connect(m_ui->cmbLocalSpeed, &QComboBox::activated, this, [this](int index) {
        if (index >= 0)
            m_localSpeedSel = static_cast<std::uint8_t>(index);
    });
    connect(m_ui->cmbRemoteSpeed, &QComboBox::activated, this, [this](int index) {
        if (index >= 0)
            m_remoteSpeedSel = static_cast<std::uint8_t>(index);
    });
}

CPageLink::~CPageLink() = default;

void CPageLink::SetModemSide(std::uint8_t side) {
    m_side = side;
}

void CPageLink::SetCrystal(std::int32_t crystalHz, std::uint8_t crystalIndex) {
    m_crystalHz = crystalHz;
    m_crystalIndex = crystalIndex;
}

CPageLink::Direction CPageLink::Downstream() {
    return Direction{m_dsConstellation,
                     m_dsInterpolation,
                     m_dsCarrier,
                     m_dsRateText,
                     m_dsCarrierText,
                     m_dsRead,
                     m_ui->cmbDsConstellation,
                     m_ui->cmbDsInterpolation,
                     m_ui->spinDsCarrier};
}

CPageLink::Direction CPageLink::Upstream() {
    return Direction{m_usConstellation,
                     m_usInterpolation,
                     m_usCarrier,
                     m_usRateText,
                     m_usCarrierText,
                     m_usRead,
                     m_ui->cmbUsConstellation,
                     m_ui->cmbUsInterpolation,
                     m_ui->spinUsCarrier};
}

void CPageLink::OnSetActive() {
    const ui::CBusyCursor busy;
    m_remoteState = 0;
    ReadLinkSettings();
    CheckRemoteLink();
    m_timer.start();
}

void CPageLink::OnKillActive() {
    m_timer.stop();
}

void CPageLink::OnTimer() {
    const ui::CBusyCursor busy;
    CheckRemoteLink();
}

void CPageLink::ReadLinkSettings() {
    const ui::CBusyCursor busy;
    m_ui->grpLocal->setTitle(LocalGroupCaption(m_side));
    m_ui->grpRemote->setTitle(RemoteGroupCaption(m_side));

    const ops::LinkSettings settings = ops::ReadLinkSettings(ProcessBus(), m_crystalHz, m_remoteState == 2);
    ShowLineConfig(Downstream(), settings.downstream);
    ShowCarrier(Downstream(), settings.downstream);
    ShowLineConfig(Upstream(), settings.upstream);
    ShowCarrier(Upstream(), settings.upstream);
    if (settings.remoteSpeedRead)
        ShowEthernetSpeed(kRemote, settings.remoteSpeed);
    ShowEthernetSpeed(kLocal, settings.localSpeed);

    m_bCurrentMode = 0;
    m_ui->radioCurrent->setChecked(true);
    EnterCurrentSettings();
    TransferTexts();
}

void CPageLink::ShowLineConfig(const Direction& d, const ops::DirectionSettings& read) {
    // A code that names nothing leaves the constellation and its selection as they were.
    if (read.constellation) {
        d.constellation = read.constellation->sizeByte;
        d.constellationList->setCurrentIndex(read.constellation->listPosition);
    }

    d.interpolationList->clear();
    if (d.constellation) {
        for (const Interpolation& choice : InterpolationChoices(*d.constellation))
            d.interpolationList->addItem(Text(choice.text));
    }
    d.interpolationList->setCurrentIndex(-1);

    if (read.interpolation) {
        d.interpolation = static_cast<std::uint8_t>(read.interpolation->factor);
        // A factor the constellation does not allow is not in the list: no selection then.
        d.interpolationList->setCurrentIndex(d.interpolationList->findText(Text(read.interpolation->text)));
    }

    d.lastRead = LineSnapshot{d.constellation, d.interpolation, d.constellationList->currentIndex(),
                              d.interpolationList->currentIndex()};
}

void CPageLink::ShowCarrier(const Direction& d, const ops::DirectionSettings& read) {
    d.carrier = read.carrier;
    d.carrierSpin->setValue(static_cast<std::uint16_t>(d.carrier));
    d.carrierText = QString::fromStdString(read.carrierText);
    TransferTexts();
}

void CPageLink::ShowEthernetSpeed(int target, const ops::SpeedRead& read) {
    const bool remote = target == kRemote;
    QComboBox* list = remote ? m_ui->cmbRemoteSpeed : m_ui->cmbLocalSpeed;
    std::optional<std::uint8_t>& selection = remote ? m_remoteSpeedSel : m_localSpeedSel;

    if (!read.read.ok()) {
        // The read failed: the modem's setting is not known.
        selection.reset();
        list->setCurrentIndex(-1);
        return;
    }
    // A value that names no setting changes neither the list nor the remembered position.
    if (read.position) {
        list->setCurrentIndex(*read.position);
        selection = static_cast<std::uint8_t>(*read.position);
    }
}

void CPageLink::CheckRemoteLink() {
    const bool reachable = ops::LinkUp(ProcessBus());
    const std::uint8_t state = reachable ? 2 : 1;
    if (state == m_remoteState)
        return;

    m_ui->grpRemote->setEnabled(reachable);
    m_ui->lblRemotePort->setEnabled(reachable);
    m_ui->lblRemoteSpeedSetup->setEnabled(reachable);
    m_ui->cmbRemoteSpeed->setVisible(reachable);
    if (reachable) {
        ShowEthernetSpeed(kRemote, ops::ReadEthernetSpeed(ProcessBus(), kRemote));
        TransferTexts();
    }
    m_remoteState = state;
}

// The carrier fields stay enabled read-only fields, so that Tab and a screen reader reach their values.
void CPageLink::DisableSettingControls() {
    for (QWidget* w :
         {static_cast<QWidget*>(m_ui->cmbDsConstellation), static_cast<QWidget*>(m_ui->cmbDsInterpolation),
          static_cast<QWidget*>(m_ui->spinDsCarrier), static_cast<QWidget*>(m_ui->cmbUsConstellation),
          static_cast<QWidget*>(m_ui->cmbUsInterpolation), static_cast<QWidget*>(m_ui->spinUsCarrier)})
        w->setEnabled(false);
}

void CPageLink::EnterCurrentSettings() {
    if (m_bCurrentMode == 1)
        return;
    m_bCurrentMode = 1;
    m_ui->radioCurrent->setChecked(true);

    m_ui->cmbDsPreset->hide();
    m_ui->cmbUsPreset->hide();
    m_ui->editDsRate->show();
    m_ui->editUsRate->show();

    DisableSettingControls();
    m_ui->cmbLocalSpeed->setEnabled(false);
    m_ui->cmbRemoteSpeed->setEnabled(false);
    m_ui->btnWriteUpdate->setEnabled(false);

    // Back from the presets: show what the modem runs, as last read.
    for (const Direction& d : {Downstream(), Upstream()}) {
        d.constellation = d.lastRead.constellation;
        d.interpolation = d.lastRead.interpolation;
        d.constellationList->setCurrentIndex(d.lastRead.constellationIndex);
        d.interpolationList->setCurrentIndex(d.lastRead.interpolationIndex);
    }

    ShowLineRate(Downstream());
    ShowLineRate(Upstream());
}

void CPageLink::ShowLineRate(const Direction& d) {
    std::optional<float> rate;
    if (d.constellation && d.interpolation)
        rate = LineRate(m_crystalHz, *d.constellation, *d.interpolation);
    d.rateText = QString::fromStdString(FormatLineRate(rate));
    TransferTexts();
}

void CPageLink::EnterStandardSettings() {
    if (m_bCurrentMode != 1)
        return;
    m_bCurrentMode = 0;
    m_ui->radioStandard->setChecked(true);

    m_ui->cmbDsPreset->show();
    m_ui->cmbUsPreset->hide();
    m_ui->editDsRate->hide();
    m_ui->editUsRate->hide();

    DisableSettingControls();
    m_ui->cmbLocalSpeed->setEnabled(true);
    m_ui->cmbRemoteSpeed->setEnabled(true);
    m_ui->btnWriteUpdate->setEnabled(true);

    const PresetNameLists names = PresetNames(m_crystalIndex);
    m_ui->cmbDsPreset->clear();
    m_ui->cmbUsPreset->clear();
    for (std::string_view name : names.downstream)
        m_ui->cmbDsPreset->addItem(Text(name));
    for (std::string_view name : names.upstream)
        m_ui->cmbUsPreset->addItem(Text(name));

    m_ui->cmbDsPreset->setCurrentIndex(0);
    m_ui->cmbUsPreset->setCurrentIndex(0);
    ShowDownstreamPreset();
    ShowUpstreamPreset();
}

void CPageLink::ShowPreset(const Direction& d, std::uint8_t lineConfig) {
    // Preset bytes always name a constellation and a factor.
    const auto constellation = DecodeConstellation(ConstellationCode(lineConfig));
    const auto interpolation = DecodeInterpolation(InterpolationCode(lineConfig));
    if (!constellation || !interpolation)
        return;
    d.constellation = constellation->sizeByte;
    d.interpolation = static_cast<std::uint8_t>(interpolation->factor);
    d.constellationList->setCurrentIndex(constellation->listPosition);
    // The interpolation list keeps the entries of the last read; a factor not among them shows nothing.
    d.interpolationList->setCurrentIndex(d.interpolationList->findText(Text(interpolation->text)));
    TransferTexts();
}

void CPageLink::ShowDownstreamPreset() {
    const int n = m_ui->cmbDsPreset->currentIndex();
    if (n >= 0 && n < static_cast<int>(kLinePresets.size()))
        ShowPreset(Downstream(), kLinePresets[static_cast<std::size_t>(n)].Downstream());
}

void CPageLink::ShowUpstreamPreset() {
    const int n = m_ui->cmbUsPreset->currentIndex();
    if (n >= 0 && n < static_cast<int>(kLinePresets.size()))
        ShowPreset(Upstream(), kLinePresets[static_cast<std::size_t>(n)].Upstream());
}

void CPageLink::OnDownstreamPresetChosen() {
    ShowDownstreamPreset();
    // The write sends both line bytes of the chosen preset, so the upstream display shows the same preset.
    const int n = m_ui->cmbDsPreset->currentIndex();
    if (n >= 0 && n < m_ui->cmbUsPreset->count()) {
        m_ui->cmbUsPreset->setCurrentIndex(n);
        ShowUpstreamPreset();
    }
}

void CPageLink::WriteAndUpdate() {
    const ui::CBusyCursor busy;
    const QString title = QString::fromLatin1(ops::kPresetTitle);
    if (ui::ShowBox(this, QMessageBox::NoIcon, title, QString::fromLatin1(ops::kPresetWarning),
                    QMessageBox::Ok | QMessageBox::Cancel) != QMessageBox::Ok)
        return;

    ops::PresetRequest request;
    request.side = m_side;
    request.preset = m_ui->cmbDsPreset->currentIndex();
    request.remote = m_remoteState == 2;
    request.localSpeed = m_localSpeedSel;
    request.remoteSpeed = m_remoteSpeedSel;
    switch (ops::WritePreset(ProcessBus(), request, ops::DefaultSleep).check) {
    case ops::PresetCheck::NtSide:
        ui::ShowBox(this, QMessageBox::NoIcon, title, QString::fromLatin1(ops::kPresetNtRefusal),
                    QMessageBox::Ok);
        break;
    case ops::PresetCheck::LocalSpeedUnknown:
        ui::ShowBox(this, QMessageBox::Warning, title, QString::fromLatin1(ops::kLocalSpeedUnknown),
                    QMessageBox::Ok);
        break;
    case ops::PresetCheck::RemoteSpeedUnknown:
        ui::ShowBox(this, QMessageBox::Warning, title, QString::fromLatin1(ops::kRemoteSpeedUnknown),
                    QMessageBox::Ok);
        break;
    case ops::PresetCheck::NoPreset:
        break;
    case ops::PresetCheck::Ok:
        NoteWriteAndUpdate(request.remote);
        break;
    }
}

void CPageLink::NoteWriteAndUpdate(bool remote) {
    QString detail = m_ui->cmbDsPreset->currentText() + QStringLiteral(", local speed ") +
                     m_ui->cmbLocalSpeed->itemText(m_localSpeedSel.value_or(0));
    if (remote)
        detail +=
            QStringLiteral(", remote speed ") + m_ui->cmbRemoteSpeed->itemText(m_remoteSpeedSel.value_or(0));
    else
        detail += QStringLiteral(", local modem only");
    NoteAction(rec::Action::WriteAndUpdate, detail.simplified().toStdString());
}

void CPageLink::TransferTexts() {
    m_ui->editDsRate->setText(m_dsRateText);
    m_ui->editUsRate->setText(m_usRateText);
    m_ui->editDsCarrier->setText(m_dsCarrierText);
    m_ui->editUsCarrier->setText(m_usCarrierText);
}

} // namespace tessor
