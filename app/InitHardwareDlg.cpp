#include "app/InitHardwareDlg.h"

#include "ui/Boxes.h"
#include "ui_InitHardwareDlg.h"

#include <QKeyEvent>

namespace tessor {

CInitHardwareDlg::CInitHardwareDlg(QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::CInitHardwareDlg>()) {
    m_ui->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    connect(m_ui->okButton, &QPushButton::clicked, this, &CInitHardwareDlg::accept);
}

CInitHardwareDlg::~CInitHardwareDlg() = default;

void CInitHardwareDlg::OnInitDialog() {
    // The crystal is always 25.00 MHz, whatever was stored.
    m_ui->crystalList->setCurrentIndex(2);
    // A stored port that names no COM port falls back to COM1.
    m_ui->portList->setCurrentIndex(m_portIndex <= 2 ? m_portIndex : 0);
    m_ui->portList->setFocus();
}

void CInitHardwareDlg::accept() {
    m_crystalIndex = static_cast<std::uint8_t>(m_ui->crystalList->currentIndex());
    m_portIndex = static_cast<std::uint8_t>(m_ui->portList->currentIndex());
    QDialog::accept();
}

void CInitHardwareDlg::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_F1) {
        ui::OpenHelp(QStringLiteral("Help/page_04.htm"));
        return;
    }
    QDialog::keyPressEvent(event);
}

} // namespace tessor
