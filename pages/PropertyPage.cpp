#include "pages/PropertyPage.h"

#include <QHideEvent>
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

} // namespace tessor
