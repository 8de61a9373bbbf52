// On Windows the system's dialog font, unless the system lacks it (Wine without its own fonts substitutes
// a serif face): then DejaVu Sans, compiled into the program, at the system font's size.
#include "app/PlatformFont.h"

#include <QApplication>
#include <QFontDatabase>
#include <QFontInfo>

namespace tessor {

namespace {

const char* const kShippedFamily = "DejaVu Sans";

bool SystemFontPresent(const QFont& font) {
    return QFontInfo(font).family().compare(font.family(), Qt::CaseInsensitive) == 0;
}

} // namespace

void ApplyPlatformFont() {
    QFont font = QApplication::font();
    if (SystemFontPresent(font))
        return;
    for (const char* file : {":/fonts/DejaVuSans.ttf", ":/fonts/DejaVuSans-Bold.ttf"})
        QFontDatabase::addApplicationFont(QString::fromLatin1(file));
    font.setFamily(QString::fromLatin1(kShippedFamily));
    QApplication::setFont(font);
}

} // namespace tessor
