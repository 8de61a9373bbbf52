#pragma once

#include <QMessageBox>
#include <QString>

#include <functional>

class QWidget;

namespace tessor::ui {

// Every message box, file dialog and help request of the tool goes through these functions, so tests
// can answer and record them without a person (each has a hook; null restores the real behaviour).

struct BoxRequest {
    QMessageBox::Icon icon;
    QString title;
    QString text;
    QMessageBox::StandardButtons buttons;
};

// Shows a modal box and returns the button pressed.
QMessageBox::StandardButton ShowBox(QWidget* parent, QMessageBox::Icon icon, const QString& title,
                                    const QString& text,
                                    QMessageBox::StandardButtons buttons = QMessageBox::Ok);

using BoxHook = std::function<QMessageBox::StandardButton(const BoxRequest&)>;
void SetBoxHookForTesting(BoxHook hook);

enum class FileDialogKind { Open, Save };

struct FileDialogRequest {
    FileDialogKind kind;
    QString title;
    QString filter; // Qt form: "Log files (*.log)"
    QString defaultSuffix;
    bool confirmOverwrite;
};

// Asks for a file name; empty when the user cancelled. A name without a suffix gets the default one.
QString AskFileName(QWidget* parent, const FileDialogRequest& request);

using FileDialogHook = std::function<QString(const FileDialogRequest&)>;
void SetFileDialogHookForTesting(FileDialogHook hook);

// Opens a help document given by its path relative to the working directory; when the working directory
// has no such file, the installed copy (the program's data folder, see InstalledDataDir). When neither
// exists a box says where it was looked for.
void OpenHelp(const QString& relativePath);

// The installed data folder: "<prefix>/share/tessor-configurator" for the program in "<prefix>/bin"; on
// Windows the program's own folder, which holds Help\ beside it.
QString InstalledDataDir();
void SetInstalledDataDirForTesting(const QString& dir); // empty: the real one

using HelpHook = std::function<void(const QString& relativePath)>;
void SetHelpHookForTesting(HelpHook hook);

// The refusal beep.
void Beep();

using BeepHook = std::function<void()>;
void SetBeepHookForTesting(BeepHook hook);

} // namespace tessor::ui
