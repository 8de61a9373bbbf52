#include "ui/BusyCursor.h"

#include <QApplication>
#include <QCursor>
#include <QThread>

namespace tessor::ui {

namespace {

bool OnUiThread() {
    const QCoreApplication* app = QCoreApplication::instance();
    return app != nullptr && qobject_cast<const QGuiApplication*>(app) != nullptr &&
           QThread::currentThread() == app->thread();
}

} // namespace

CBusyCursor::CBusyCursor() : m_set(OnUiThread()) {
    if (m_set)
        QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
}

CBusyCursor::~CBusyCursor() {
    if (m_set)
        QGuiApplication::restoreOverrideCursor();
}

CNormalCursor::CNormalCursor() : m_set(OnUiThread() && QGuiApplication::overrideCursor() != nullptr) {
    if (m_set)
        QGuiApplication::setOverrideCursor(QCursor(Qt::ArrowCursor));
}

CNormalCursor::~CNormalCursor() {
    if (m_set)
        QGuiApplication::restoreOverrideCursor();
}

} // namespace tessor::ui
