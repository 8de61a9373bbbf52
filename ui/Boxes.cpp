#include "ui/Boxes.h"

#include "ui/BusyCursor.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QUrl>

#include <mutex>

namespace tessor::ui {

namespace {

// The hooks are installed by tests before the code under test runs; a mutex keeps a hook call from
// racing with its replacement.
std::mutex g_hookMutex;
BoxHook g_boxHook;
FileDialogHook g_fileHook;
HelpHook g_helpHook;
BeepHook g_beepHook;
QString g_dataDirForTesting;

template <class Hook> Hook Current(const Hook& hook) {
    std::lock_guard<std::mutex> lock(g_hookMutex);
    return hook;
}

template <class Hook> void Install(Hook& slot, Hook hook) {
    std::lock_guard<std::mutex> lock(g_hookMutex);
    slot = std::move(hook);
}

} // namespace

QMessageBox::StandardButton ShowBox(QWidget* parent, QMessageBox::Icon icon, const QString& title,
                                    const QString& text, QMessageBox::StandardButtons buttons) {
    // A box waits for the user, not for the board: the normal cursor while it is up.
    const CNormalCursor normalCursor;
    if (BoxHook hook = Current(g_boxHook))
        return hook(BoxRequest{icon, title, text, buttons});
    QMessageBox box(icon, title, text, buttons, parent);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

void SetBoxHookForTesting(BoxHook hook) {
    Install(g_boxHook, std::move(hook));
}

QString AskFileName(QWidget* parent, const FileDialogRequest& request) {
    const CNormalCursor normalCursor;
    QString name;
    if (FileDialogHook hook = Current(g_fileHook)) {
        name = hook(request);
    } else {
        QFileDialog dialog(parent, request.title, QString(), request.filter);
        dialog.setAcceptMode(request.kind == FileDialogKind::Save ? QFileDialog::AcceptSave
                                                                  : QFileDialog::AcceptOpen);
        dialog.setFileMode(request.kind == FileDialogKind::Save ? QFileDialog::AnyFile
                                                                : QFileDialog::ExistingFile);
        if (request.kind == FileDialogKind::Open && request.confirmOverwrite)
            dialog.setFileMode(QFileDialog::AnyFile); // a log file may be new
        dialog.setDefaultSuffix(request.defaultSuffix);
        dialog.setOption(QFileDialog::DontConfirmOverwrite, !request.confirmOverwrite);
        dialog.setOption(QFileDialog::ReadOnly, false);
        if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
            name = dialog.selectedFiles().first();
    }
    if (!name.isEmpty() && !request.defaultSuffix.isEmpty() && QFileInfo(name).suffix().isEmpty())
        name += QLatin1Char('.') + request.defaultSuffix;
    return name;
}

void SetFileDialogHookForTesting(FileDialogHook hook) {
    Install(g_fileHook, std::move(hook));
}

QString InstalledDataDir() {
    {
        std::lock_guard<std::mutex> lock(g_hookMutex);
        if (!g_dataDirForTesting.isEmpty())
            return g_dataDirForTesting;
    }
    // Relative to the program, so that any install prefix (and a moved tree) finds its own files.
    return QDir::cleanPath(QCoreApplication::applicationDirPath() + QLatin1Char('/') +
                           QStringLiteral(TESSOR_DATA_DIR_FROM_BIN));
}

void SetInstalledDataDirForTesting(const QString& dir) {
    std::lock_guard<std::mutex> lock(g_hookMutex);
    g_dataDirForTesting = dir;
}

void OpenHelp(const QString& relativePath) {
    if (HelpHook hook = Current(g_helpHook)) {
        hook(relativePath);
        return;
    }
    const QString local = QDir::current().absoluteFilePath(relativePath);
    const QString installed = QDir(InstalledDataDir()).absoluteFilePath(relativePath);
    for (const QString& path : {local, installed}) {
        if (QFileInfo(path).isFile()) {
            QDesktopServices::openUrl(QUrl::fromLocalFile(path));
            return;
        }
    }
    ShowBox(QApplication::activeWindow(), QMessageBox::Warning, QStringLiteral("Help"),
            QStringLiteral("The help page %1 was not found.\nLooked in %2 and in %3.\nStart the tool in the "
                           "folder that holds Help/, or install the help pages.")
                .arg(relativePath, QDir::toNativeSeparators(QDir::currentPath()),
                     QDir::toNativeSeparators(InstalledDataDir())));
}

void SetHelpHookForTesting(HelpHook hook) {
    Install(g_helpHook, std::move(hook));
}

void Beep() {
    if (BeepHook hook = Current(g_beepHook)) {
        hook();
        return;
    }
    QApplication::beep();
}

void SetBeepHookForTesting(BeepHook hook) {
    Install(g_beepHook, std::move(hook));
}

} // namespace tessor::ui
