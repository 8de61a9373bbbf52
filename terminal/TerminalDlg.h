#pragma once

#include "link/Hooks.h"

#include <QDialog>
#include <QString>

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

class QKeyEvent;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace Ui {
class TerminalDlg;
}

namespace tessor {

// The console traffic window: every command and reply line the transport shows, newest at the top; one
// typed register command at a time; optional logging of the lines to a file.
//
// Threads: QueueLine runs on the console worker; FlushLines and AddLine on whichever thread issued the
// register operation (or on the worker when the pending store is full). The pending store is guarded by
// one lock, held across a whole flush so batches reach AddLine whole and in order. AddLine appends the line
// to a queue of list updates and, while logging, to a queue of log lines, both under a second (output)
// lock, so the list and the log see the lines in the same order. The UI thread applies the queued list
// updates, at once when AddLine runs on it, else through a queued call. The log queue is written to the
// file by the issuing thread after it has let go of both locks (never by the console worker), under a
// third lock that only log writers and the closing of the log take: a slow file never holds up another
// thread's register access. Widgets are touched on the UI thread only.
class CTerminalDlg : public QDialog, public ITerminalSink {
    Q_OBJECT

public:
    static constexpr int kMaxListLines = 100;
    static constexpr int kMaxPendingLines = 99;
    static constexpr const char* kHelpPage = "Help/page_09.htm";

    explicit CTerminalDlg(QWidget* parent = nullptr);
    ~CTerminalDlg() override;
    CTerminalDlg(const CTerminalDlg&) = delete;
    CTerminalDlg& operator=(const CTerminalDlg&) = delete;

    // ITerminalSink. QueueLine drops lines of silent status reads (op 5).
    void QueueLine(const std::string& line, std::uint8_t op) override;
    void FlushLines() override;

    // Puts one line at the top of the list (dropping the bottom one when 100 are shown) and into the log
    // file while logging. Any thread.
    void AddLine(const std::string& line);

    // Shown flag: set by the owner when it shows the window, cleared by the window's Cancel action.
    // UI thread only.
    int m_bShown = 0;
    bool IsShownFlag() const { return m_bShown != 0; }
    void SetShownFlag(bool shown) { m_bShown = shown ? 1 : 0; }

    bool IsLogging() const;
    int PendingCount() const;

    // Test hook: runs before every write to the log file (a slow disk); null removes it.
    static void SetLogWriteHookForTesting(std::function<void()> hook);

    // Enter does nothing; Cancel (Close, Escape, the close box) hides the window and clears the shown flag.
    void accept() override;
    void reject() override;

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void FlushLocked();
    // Puts the line into the list queue and, while logging, the log queue (under the output lock).
    void QueueOutput(const std::string& line);
    // Writes the queued log lines unless another thread is writing them already (it then writes ours).
    void DrainLog();
    // With m_logWriteMutex held: writes the queued log lines; on a failure closes the log and reports.
    void WriteQueuedLog();
    void OnSend();
    void OnClear();
    void OnLogging();
    void StopLogging();
    // Writes what is queued, then closes the log file.
    void CloseLog();
    void CloseLogLocked();
    bool WriteLogLine(int fd, const std::string& line, int* error);
    // UI thread: applies the list updates queued by AddLine, oldest first.
    void ApplyQueuedLines();
    void UpdateLogButton();
    void ReportLogWriteFailure(const QString& text);

    std::unique_ptr<Ui::TerminalDlg> m_ui;
    QLineEdit* m_edit = nullptr;
    QPushButton* m_sendButton = nullptr;
    QPushButton* m_logButton = nullptr;
    QListWidget* m_list = nullptr;

    // Pending lines of the operation under way; slot 0 holds the oldest.
    mutable std::mutex m_pendingMutex;
    std::string m_pending[kMaxPendingLines];
    std::uint8_t m_pendingCount = 0;

    // Lines added but not yet in the list widget, the log file and the logging flag. Taken after
    // m_pendingMutex when both are held.
    mutable std::mutex m_outMutex;
    std::deque<std::string> m_listQueue;
    bool m_applyPosted = false;
    // The thread that made the dialog (the UI thread). Compared without asking Qt, which would take a
    // worker thread under its management, and that thread's clean-up at its end may run into Qt's
    // teardown at exit (seen crashing the Windows program after Close).
    const std::thread::id m_uiThread = std::this_thread::get_id();
    std::deque<std::string> m_logQueue;
    int m_logFd = -1;
    QString m_logName;

    // Held while the log file is written, and to close it. Taken before m_outMutex when both are held.
    std::mutex m_logWriteMutex;
};

} // namespace tessor
