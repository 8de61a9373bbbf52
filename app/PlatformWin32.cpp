// On Windows: a window program has no console of its own, so it writes to the one it was started from;
// the system's dialog font, unless the system lacks it (Wine without its own fonts substitutes a serif
// face): then DejaVu Sans, compiled into the program, at the system font's size.
#include "app/Platform.h"

#include <QApplication>
#include <QFontDatabase>
#include <QFontInfo>

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdio>

// The fonts' resource lives in a static library: linked in only when named.
static void InitFontResources() {
    Q_INIT_RESOURCE(fonts);
}

namespace tessor {

namespace {

const char* const kShippedFamily = "DejaVu Sans";

bool SystemFontPresent(const QFont& font) {
    return QFontInfo(font).family().compare(font.family(), Qt::CaseInsensitive) == 0;
}

} // namespace

void ConnectStartingConsole() {
    // Output redirected to a file or pipe is kept; only a program without any goes to the console.
    const HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
    if (out != nullptr && out != INVALID_HANDLE_VALUE)
        return;
    if (!::AttachConsole(ATTACH_PARENT_PROCESS))
        return; // started from Explorer: nowhere to print
    (void)std::freopen("CONOUT$", "w", stdout);
    (void)std::freopen("CONOUT$", "w", stderr);
}

void ApplyPlatformFont() {
    QFont font = QApplication::font();
    if (SystemFontPresent(font))
        return;
    InitFontResources();
    for (const char* file : {":/fonts/DejaVuSans.ttf", ":/fonts/DejaVuSans-Bold.ttf"})
        QFontDatabase::addApplicationFont(QString::fromLatin1(file));
    font.setFamily(QString::fromLatin1(kShippedFamily));
    QApplication::setFont(font);
}

} // namespace tessor
