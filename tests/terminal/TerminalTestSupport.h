#pragma once

// Shared helpers of the terminal tests: the window wired to the simulated board, its controls by name,
// and waits for queued list updates.

#include "link/ConsolePort.h"
#include "support/SimHarness.h"
#include "terminal/TerminalDlg.h"
#include "ui/Boxes.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QStringList>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tessor::test {

// Runs the event loop until the condition holds or five seconds have passed.
inline bool WaitUntil(const std::function<bool()>& condition) {
    QDeadlineTimer deadline(5000);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
    return true;
}

inline QStringList Rows(const CTerminalDlg& dlg) {
    const auto* list = dlg.findChild<QListWidget*>(QStringLiteral("lineList"));
    QStringList rows;
    for (int i = 0; i < list->count(); ++i)
        rows << list->item(i)->text();
    return rows;
}

inline QByteArray FileBytes(const QString& name) {
    QFile file(name);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray("<unreadable>");
    return file.readAll();
}

// Log lines in file order, without their "\r\n".
inline QStringList LogLines(const QString& name) {
    QString text = QString::fromLatin1(FileBytes(name));
    QStringList lines = text.split(QStringLiteral("\r\n"));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

// The window created after the simulated board, installed as the process-wide sink, with the beep and
// help recorded.
class TerminalFixture : public ::testing::Test {
protected:
    void SetUp() override {
        board = std::make_unique<SimBoard>();
        dlg = std::make_unique<CTerminalDlg>();
        g_pTerminalSink.store(dlg.get());
        ui::SetBeepHookForTesting([this] { ++beeps; });
        ui::SetHelpHookForTesting([this](const QString& path) { helpPages << path; });
        ASSERT_TRUE(tempDir.isValid());
    }

    void TearDown() override {
        g_pTerminalSink.store(nullptr);
        ui::SetBeepHookForTesting(nullptr);
        ui::SetHelpHookForTesting(nullptr);
        dlg.reset();
        board.reset();
    }

    QLineEdit* Edit() const { return dlg->findChild<QLineEdit*>(QStringLiteral("commandEdit")); }
    QPushButton* Button(const char* name) const {
        return dlg->findChild<QPushButton*>(QString::fromLatin1(name));
    }

    // Types a command and presses "Send".
    void Send(const QString& text) {
        Edit()->setText(text);
        Button("sendButton")->click();
    }

    // Starts logging to the given file through the file dialog.
    void StartLogging(const QString& name) {
        files.names.push_back(name);
        Button("logButton")->click();
    }

    QString TempPath(const char* name) const { return tempDir.filePath(QString::fromLatin1(name)); }

    std::unique_ptr<SimBoard> board;
    std::unique_ptr<CTerminalDlg> dlg;
    BoxRecorder boxes;
    FileDialogRecorder files;
    QTemporaryDir tempDir;
    std::atomic<int> beeps{0};
    QStringList helpPages;
};

} // namespace tessor::test
