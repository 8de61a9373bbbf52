#include "pages/LedIndicator.h"

#include <QPainter>

// Q_INIT_RESOURCE must be used outside any namespace.
static void InitStatusResourcesOnce() {
    Q_INIT_RESOURCE(status);
}

namespace tessor {

void InitStatusResources() {
    static const bool done = (InitStatusResourcesOnce(), true);
    (void)done;
}

CLedIndicator::CLedIndicator(QWidget* parent) : QWidget(parent) {
    setEnabled(false);
    setFocusPolicy(Qt::NoFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void CLedIndicator::SetImages(const QString& image0, const QString& image1) {
    m_paths[0] = image0;
    m_paths[1] = image1;
    m_images[0] = QPixmap(image0);
    m_images[1] = QPixmap(image1);
    m_state = 0;
    const QPoint centre = geometry().center();
    const QSize size = m_images[0].size();
    if (!size.isEmpty()) {
        setFixedSize(size);
        QRect area(QPoint(), size);
        area.moveCenter(centre);
        setGeometry(area);
    }
    UpdateDescription();
    update();
}

void CLedIndicator::SetState(int state) {
    if (state == 0 || state == 1)
        m_state = state;
    UpdateDescription();
    update();
}

void CLedIndicator::SetStateTexts(const QString& text0, const QString& text1) {
    m_texts[0] = text0;
    m_texts[1] = text1;
    UpdateDescription();
}

void CLedIndicator::UpdateDescription() {
    if (accessibleDescription() != m_texts[m_state])
        setAccessibleDescription(m_texts[m_state]);
}

QSize CLedIndicator::sizeHint() const {
    return m_images[0].isNull() ? QSize(12, 12) : m_images[0].size();
}

void CLedIndicator::paintEvent(QPaintEvent*) {
    // Drawn as is, also while disabled: the indicator is never greyed out by the style.
    QPainter painter(this);
    painter.drawPixmap(0, 0, m_images[m_state]);
}

} // namespace tessor
