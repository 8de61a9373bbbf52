#include "pages/PropertyPage.h"

#include "pages/ActivityObserver.h"

#include "ui/Boxes.h"

#include <QHideEvent>
#include <QKeyEvent>
#include <QShowEvent>

namespace tessor {

QString LocalGroupCaption(std::uint8_t side) {
    return side == kSideNT ? QStringLiteral("Local Modem (NT)") : QStringLiteral("Local Modem (LT)");
}

QString RemoteGroupCaption(std::uint8_t side) {
    return side == kSideNT ? QStringLiteral("Remote Modem (LT)") : QStringLiteral("Remote Modem (NT)");
}

CPropertyPage::CPropertyPage(QWidget* parent) : QWidget(parent) {}

void CPropertyPage::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!event->spontaneous())
        OnSetActive();
}

void CPropertyPage::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    if (!event->spontaneous())
        OnKillActive();
}

bool CPropertyPage::event(QEvent* event) {
    // Claim F1 before a window-wide shortcut sees it, so the page's help wins.
    if (event->type() == QEvent::ShortcutOverride && !m_helpPath.isEmpty() &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_F1) {
        event->accept();
        return true;
    }
    return QWidget::event(event);
}

void CPropertyPage::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_F1 && !m_helpPath.isEmpty()) {
        ui::OpenHelp(m_helpPath);
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

void CPropertyPage::NoteAction(rec::Action action, const std::string& detail) {
    if (IActivityObserver* observer = m_observer.load())
        observer->OnAction(action, detail);
}

} // namespace tessor
