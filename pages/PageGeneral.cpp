#include "pages/PageGeneral.h"

#include "ops/Board.h"
#include "ui/Boxes.h"
#include "ui/BusyCursor.h"
#include "ui_PageGeneral.h"

#include <QKeyEvent>

namespace tessor {

namespace {

const char* const kTransmitterOnText = "Turn transmitter on";
const char* const kTransmitterOffText = "Turn transmitter off";
const char* const kActivationEnableText = "ACTIVATION enable";
const char* const kActivationDisableText = "ACTIVATION disable";

} // namespace

CPageGeneral::CPageGeneral(QWidget* parent)
    : CPropertyPage(parent), m_ui(std::make_unique<Ui::PageGeneral>()) {
    m_ui->setupUi(this);
    SetHelpPath(QStringLiteral("Help/page_13.htm"));
    m_timer.setInterval(kTimerPeriodMs);
    connect(&m_timer, &QTimer::timeout, this, &CPageGeneral::OnTimer);

    connect(m_ui->btnSoftResetLocal, &QPushButton::clicked, this, &CPageGeneral::OnSoftResetLocal);
    connect(m_ui->btnLocalLoopback, &QPushButton::clicked, this, &CPageGeneral::OnLocalLoopback);
    connect(m_ui->btnLineLoopbackLocal, &QPushButton::clicked, this, &CPageGeneral::OnLineLoopbackLocal);
    connect(m_ui->btnTransmitter, &QPushButton::clicked, this, &CPageGeneral::OnTransmitterToggle);
    connect(m_ui->btnActivation, &QPushButton::clicked, this, &CPageGeneral::OnActivationToggle);
    connect(m_ui->btnSoftResetRemote, &QPushButton::clicked, this, &CPageGeneral::OnSoftResetRemote);
    connect(m_ui->btnLineLoopbackRemote, &QPushButton::clicked, this, &CPageGeneral::OnLineLoopbackRemote);
}

CPageGeneral::~CPageGeneral() = default;

void CPageGeneral::SetModemSide(std::uint8_t side) {
    m_side = side;
    if (m_side != kSideUnknown)
        ApplyCaptions();
}

void CPageGeneral::ApplyCaptions() {
    m_ui->grpLocal->setTitle(LocalGroupCaption(m_side));
    m_ui->grpRemote->setTitle(RemoteGroupCaption(m_side));
}

void CPageGeneral::RefreshFromModem() {
    const ui::CBusyCursor busy;
    ApplyCaptions();
    CheckRemoteEnable();
    m_timer.start();

    // Both reads are the program's own status reads of 8C00, which the terminal does not show.
    const RegResult control = ops::ReadControl(ProcessBus());
    m_activationState = ops::ActivationOn(control) ? 1 : 0;
    m_ui->btnActivation->setText(m_activationState ? kActivationDisableText : kActivationEnableText);

    const RegResult control2 = ops::ReadControl(ProcessBus());
    m_transmitterState = ops::TransmitterOn(control2) ? 1 : 0;
    m_ui->btnTransmitter->setText(m_transmitterState ? kTransmitterOffText : kTransmitterOnText);
}

void CPageGeneral::CheckRemoteEnable() {
    const bool up = ops::LinkUp(ProcessBus());
    m_ui->grpRemote->setEnabled(up);
    m_ui->btnSoftResetRemote->setEnabled(up);
    m_ui->btnLineLoopbackRemote->setEnabled(up);
}

void CPageGeneral::OnTimer() {
    const ui::CBusyCursor busy;
    CheckRemoteEnable();
}

void CPageGeneral::OnSetActive() {
    // Before the sheet knows the modem side the page stays as it is; the sheet refreshes it then.
    if (m_side == kSideUnknown)
        return;
    RefreshFromModem();
}

void CPageGeneral::OnKillActive() {
    m_timer.stop();
}

void CPageGeneral::OnSoftResetLocal() {
    const ui::CBusyCursor busy;
    ops::SoftResetLocal(ProcessBus());
    NoteAction(rec::Action::SoftResetLocal);
}

void CPageGeneral::OnLocalLoopback() {
    const ui::CBusyCursor busy;
    ops::LocalLoopback(ProcessBus());
    NoteAction(rec::Action::LocalLoopback);
}

void CPageGeneral::OnLineLoopbackLocal() {
    const ui::CBusyCursor busy;
    ops::LineLoopbackLocal(ProcessBus());
    NoteAction(rec::Action::LineLoopbackLocal);
}

void CPageGeneral::OnTransmitterToggle() {
    const ui::CBusyCursor busy;
    // A plain write of the whole register: every other bit of 8C00, activation included, goes off too.
    if (m_transmitterState == 1) {
        m_transmitterState = 0;
        m_ui->btnTransmitter->setText(kTransmitterOnText);
        ops::SetTransmitter(ProcessBus(), false);
        NoteAction(rec::Action::TransmitterOff);
    } else {
        m_transmitterState = 1;
        m_ui->btnTransmitter->setText(kTransmitterOffText);
        ops::SetTransmitter(ProcessBus(), true);
        NoteAction(rec::Action::TransmitterOn);
    }
}

void CPageGeneral::OnActivationToggle() {
    const ui::CBusyCursor busy;
    if (m_activationState == 1) {
        m_activationState = 0;
        m_ui->btnActivation->setText(kActivationEnableText);
        ops::SetActivation(ProcessBus(), false);
        NoteAction(rec::Action::ActivationOff);
    } else {
        m_activationState = 1;
        m_ui->btnActivation->setText(kActivationDisableText);
        ops::SetActivation(ProcessBus(), true);
        NoteAction(rec::Action::ActivationOn);
    }
}

void CPageGeneral::OnSoftResetRemote() {
    const ui::CBusyCursor busy;
    ops::SoftResetRemote(ProcessBus());
    NoteAction(rec::Action::SoftResetRemote);
}

void CPageGeneral::OnLineLoopbackRemote() {
    const ui::CBusyCursor busy;
    ops::LineLoopbackRemote(ProcessBus());
    NoteAction(rec::Action::LineLoopbackRemote);
}

} // namespace tessor
