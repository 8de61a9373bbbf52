#include "app/PortWatchDlg.h"

#include "app/PortWatcher.h"
#include "ui/Boxes.h"

#include <QKeyEvent>

namespace tessor {

CPortWatchDlg::CPortWatchDlg(bool rescanOnShow, QWidget* parent)
    : QDialog(parent), m_pWatcher(new CPortWatcher(this)), m_rescanOnShow(rescanOnShow) {
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
}

void CPortWatchDlg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (m_rescanOnShow)
        m_pWatcher->Rescan();
    m_pWatcher->Start();
}

void CPortWatchDlg::hideEvent(QHideEvent* event) {
    m_pWatcher->Stop();
    QDialog::hideEvent(event);
}

void CPortWatchDlg::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_F1) {
        ui::OpenHelp(QStringLiteral("Help/page_04.htm"));
        return;
    }
    QDialog::keyPressEvent(event);
}

} // namespace tessor
