#include "app/InitHardwareDlg.h"

#include "app/ComPorts.h"
#include "app/PortWatcher.h"
#include "app/PortsDlg.h"
#include "ui_InitHardwareDlg.h"

namespace tessor {

CInitHardwareDlg::CInitHardwareDlg(QWidget* parent)
    : CPortWatchDlg(false, parent), m_ui(std::make_unique<Ui::CInitHardwareDlg>()) {
    m_ui->setupUi(this);
    // The two lists start at the same place and have the same width.
    const int labelWidth = qMax(m_ui->crystalLabel->sizeHint().width(), m_ui->portLabel->sizeHint().width());
    m_ui->crystalLabel->setFixedWidth(labelWidth);
    m_ui->portLabel->setFixedWidth(labelWidth);
    const int listWidth = qMax(m_ui->crystalList->sizeHint().width(), m_ui->portList->sizeHint().width());
    m_ui->crystalList->setFixedWidth(listWidth);
    m_ui->portList->setFixedWidth(listWidth);
    connect(m_ui->okButton, &QPushButton::clicked, this, &CInitHardwareDlg::accept);
    connect(m_ui->portsButton, &QPushButton::clicked, this, &CInitHardwareDlg::OnPortsButton);
    connect(m_ui->portList, qOverload<int>(&QComboBox::currentIndexChanged), this,
            &CInitHardwareDlg::ShowDeviceLine);
    connect(Watcher(), &CPortWatcher::Changed, this, &CInitHardwareDlg::ShowDeviceLine);
    ShowDeviceLine();
}

CInitHardwareDlg::~CInitHardwareDlg() = default;

void CInitHardwareDlg::OnInitDialog() {
    // The crystal is always 25.00 MHz, whatever was stored.
    m_ui->crystalList->setCurrentIndex(2);
    // A stored port that names no COM port falls back to COM1.
    m_ui->portList->setCurrentIndex(m_portIndex <= 2 ? m_portIndex : 0);
    m_ui->portList->setFocus();
    ShowDeviceLine();
}

void CInitHardwareDlg::SetDiscoveryOptions(const DiscoveryOptions& options) {
    Watcher()->SetOptions(options);
}

void CInitHardwareDlg::OnPortsButton() {
    CPortsDlg dialog(m_ui->portList->currentIndex(), Watcher()->Options(), this);
    Watcher()->Stop();
    const int answer = runPortsDialog ? runPortsDialog(dialog) : dialog.exec();
    (void)answer; // after OK the assignments are stored; either way the line is redrawn
    Watcher()->Rescan();
    ShowDeviceLine();
    if (isVisible())
        Watcher()->Start();
}

void CInitHardwareDlg::ShowDeviceLine() {
    const int n = m_ui->portList->currentIndex() + 1;
    const auto& who = Watcher()->Options().identity;
    m_ui->deviceLine->setText(ComDeviceLine(n, Watcher()->Ports(), who));
    m_ui->deviceLine->setToolTip(ComDeviceAdvice(n, Watcher()->Ports(), who));
}

void CInitHardwareDlg::accept() {
    m_crystalIndex = static_cast<std::uint8_t>(m_ui->crystalList->currentIndex());
    m_portIndex = static_cast<std::uint8_t>(m_ui->portList->currentIndex());
    QDialog::accept();
}

} // namespace tessor
