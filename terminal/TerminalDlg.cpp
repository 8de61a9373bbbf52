#include "terminal/TerminalDlg.h"

#include "files/PlainFile.h"
#include "link/ConsolePort.h"
#include "link/RegisterBus.h"
#include "terminal/TerminalCommand.h"
#include "ui/Boxes.h"
#include "ui/BusyCursor.h"
#include "ui_TerminalDlg.h"

#include <QDir>
#include <QFile>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QListWidget>

#include <cerrno>
#include <cstring>

namespace tessor {

namespace {

QString DisplayName(const QString& fileName) {
    return QDir::toNativeSeparators(fileName);
}

// Not a system error number: the chosen name is a pipe, a device or a socket.
constexpr int kNotRegularFile = kPlainFileNotRegular;

// The message for a log file that could not be created, after the cause the system gave.
QString CreateErrorText(int error, const QString& fileName) {
    const QString name = DisplayName(fileName);
    switch (error) {
    case kNotRegularFile:
        return QStringLiteral("%1 is not a regular file (it is a pipe, a device or a socket).\nChoose a new "
                              "file or an existing regular file for the log.")
            .arg(name);
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
    case ETXTBSY:
        return QStringLiteral("Access to %1 was denied.").arg(name);
    case ENOENT:
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
        return QStringLiteral("All or part of the path %1 is invalid.").arg(name);
    case EMFILE:
    case ENFILE:
        return QStringLiteral("There were too many open files while creating %1.").arg(name);
    case ENOSPC:
#ifdef EDQUOT
    case EDQUOT:
#endif
        return QStringLiteral("There is not enough space on the disk for %1.").arg(name);
    default:
        return QStringLiteral("An unexpected error occurred while creating %1: %2.")
            .arg(name, QString::fromLocal8Bit(std::strerror(error)));
    }
}

std::mutex g_logHookMutex;
std::function<void()> g_logWriteHook; // guarded by g_logHookMutex

void RunLogWriteHook() {
    std::function<void()> hook;
    {
        std::lock_guard<std::mutex> lock(g_logHookMutex);
        hook = g_logWriteHook;
    }
    if (hook)
        hook();
}

// Creates or empties the file for writing; returns the descriptor, or -1 with the cause in *error
// (kNotRegularFile for a pipe, a device or a socket). Never blocks: such files are refused before they
// are opened, and the open itself does not wait for a reader.
int CreateLogFile(const QString& fileName, int* error) {
    return CreateRegularPlainFile(QFile::encodeName(fileName).toStdString(), error);
}

} // namespace

CTerminalDlg::CTerminalDlg(QWidget* parent) : QDialog(parent), m_ui(std::make_unique<Ui::TerminalDlg>()) {
    m_ui->setupUi(this);
    m_edit = m_ui->commandEdit;
    m_sendButton = m_ui->sendButton;
    m_logButton = m_ui->logButton;
    m_list = m_ui->lineList;

    // A modeless top-level window with its own minimise box; closing it never ends the program.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setModal(false);
    setAttribute(Qt::WA_QuitOnClose, false);
    m_list->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));

    connect(m_sendButton, &QPushButton::clicked, this, &CTerminalDlg::OnSend);
    connect(m_ui->clearButton, &QPushButton::clicked, this, &CTerminalDlg::OnClear);
    connect(m_logButton, &QPushButton::clicked, this, &CTerminalDlg::OnLogging);
    connect(m_ui->closeButton, &QPushButton::clicked, this, &CTerminalDlg::reject);
}

CTerminalDlg::~CTerminalDlg() {
    // Nothing may reach a terminal that is going away.
    ITerminalSink* self = this;
    g_pTerminalSink.compare_exchange_strong(self, nullptr);
    CloseLog();
}

void CTerminalDlg::QueueLine(const std::string& line, std::uint8_t op) {
    std::lock_guard<std::mutex> lock(m_pendingMutex);
    if (m_pendingCount == kMaxPendingLines)
        FlushLocked();
    if (op == kSilentRead)
        return;
    m_pending[m_pendingCount] = line;
    ++m_pendingCount;
}

void CTerminalDlg::FlushLines() {
    {
        std::lock_guard<std::mutex> lock(m_pendingMutex);
        FlushLocked();
    }
    DrainLog();
}

void CTerminalDlg::FlushLocked() {
    // The last queued line goes first, so in the list (newest on top) the batch reads in queued order.
    while (m_pendingCount > 0) {
        --m_pendingCount;
        QueueOutput(m_pending[m_pendingCount]);
        m_pending[m_pendingCount].clear();
    }
}

int CTerminalDlg::PendingCount() const {
    std::lock_guard<std::mutex> lock(m_pendingMutex);
    return m_pendingCount;
}

void CTerminalDlg::AddLine(const std::string& line) {
    QueueOutput(line);
    DrainLog();
}

void CTerminalDlg::QueueOutput(const std::string& line) {
    const bool onUiThread = std::this_thread::get_id() == m_uiThread;
    bool postApply = false;
    {
        std::lock_guard<std::mutex> lock(m_outMutex);
        m_listQueue.push_back(line);
        // Lines beyond the list's capacity would be pushed out by the newer ones anyway.
        if (m_listQueue.size() > static_cast<std::size_t>(kMaxListLines))
            m_listQueue.pop_front();
        if (!onUiThread && !m_applyPosted) {
            m_applyPosted = true;
            postApply = true;
        }
        if (m_logFd >= 0)
            m_logQueue.push_back(line);
    }
    if (onUiThread)
        ApplyQueuedLines();
    else if (postApply)
        QMetaObject::invokeMethod(
            this, [this] { ApplyQueuedLines(); }, Qt::QueuedConnection);
}

void CTerminalDlg::DrainLog() {
    for (;;) {
        std::unique_lock<std::mutex> writing(m_logWriteMutex, std::try_to_lock);
        if (!writing.owns_lock())
            return; // the writer looks at the queue again after it has let go
        WriteQueuedLog();
        writing.unlock();
        std::lock_guard<std::mutex> lock(m_outMutex);
        if (m_logQueue.empty())
            return;
    }
}

void CTerminalDlg::WriteQueuedLog() {
    for (;;) {
        std::deque<std::string> lines;
        int fd;
        {
            std::lock_guard<std::mutex> lock(m_outMutex);
            lines.swap(m_logQueue);
            fd = m_logFd;
        }
        if (lines.empty() || fd < 0)
            return;
        for (const std::string& line : lines) {
            int error = 0;
            if (WriteLogLine(fd, line, &error))
                continue;
            // A log that cannot be written is closed; the lines still reach the list and register
            // access goes on. The user hears of it once, from the UI thread.
            QString failure;
            {
                std::lock_guard<std::mutex> lock(m_outMutex);
                failure =
                    QStringLiteral("An error occurred while writing to %1: %2.\nLogging has been stopped.")
                        .arg(DisplayName(m_logName), QString::fromLocal8Bit(std::strerror(error)));
                CloseLogLocked();
            }
            QMetaObject::invokeMethod(
                this, [this, failure] { ReportLogWriteFailure(failure); }, Qt::QueuedConnection);
            return;
        }
    }
}

void CTerminalDlg::ApplyQueuedLines() {
    std::deque<std::string> lines;
    {
        std::lock_guard<std::mutex> lock(m_outMutex);
        lines.swap(m_listQueue);
        m_applyPosted = false;
    }
    for (const std::string& line : lines) {
        if (m_list->count() >= kMaxListLines)
            delete m_list->takeItem(kMaxListLines - 1);
        m_list->insertItem(0, QString::fromLatin1(line.data(), static_cast<int>(line.size())));
    }
}

void CTerminalDlg::SetLogWriteHookForTesting(std::function<void()> hook) {
    std::lock_guard<std::mutex> lock(g_logHookMutex);
    g_logWriteHook = std::move(hook);
}

bool CTerminalDlg::WriteLogLine(int fd, const std::string& line, int* error) {
    RunLogWriteHook();
    const std::string bytes = line + "\r\n";
    return WritePlainFile(fd, bytes.data(), bytes.size(), error);
}

// With m_logWriteMutex and m_outMutex held.
void CTerminalDlg::CloseLogLocked() {
    ClosePlainFile(m_logFd);
    m_logFd = -1;
    m_logQueue.clear();
}

void CTerminalDlg::CloseLog() {
    std::lock_guard<std::mutex> writing(m_logWriteMutex);
    WriteQueuedLog();
    std::lock_guard<std::mutex> lock(m_outMutex);
    CloseLogLocked();
}

bool CTerminalDlg::IsLogging() const {
    std::lock_guard<std::mutex> lock(m_outMutex);
    return m_logFd >= 0;
}

void CTerminalDlg::OnSend() {
    const ParsedCommand command = ParseTerminalCommand(m_edit->text().toStdString());
    if (!command.ok) {
        ui::Beep();
        return;
    }
    const ui::CBusyCursor busy;
    // The command and its reply show as lines in this window; the outcome has nothing to add here.
    ProcessBus().Exchange(command.op, command.address.c_str(), command.value.c_str());
}

void CTerminalDlg::OnClear() {
    {
        // Lines added before the click and not yet drawn go too; pending lines and the log stay.
        std::lock_guard<std::mutex> lock(m_outMutex);
        m_listQueue.clear();
    }
    m_list->clear();
}

void CTerminalDlg::OnLogging() {
    if (IsLogging()) {
        StopLogging();
        return;
    }
    const QString fileName = ui::AskFileName(
        this, ui::FileDialogRequest{ui::FileDialogKind::Open, QStringLiteral("Open Log File"),
                                    QStringLiteral("Log files (*.log)"), QStringLiteral("log"), true});
    if (fileName.isEmpty())
        return;
    int error = 0;
    const int fd = CreateLogFile(fileName, &error);
    if (fd < 0) {
        ui::ShowBox(this, QMessageBox::Critical, QStringLiteral("Error"), CreateErrorText(error, fileName));
        return;
    }
    CloseLog();
    {
        std::lock_guard<std::mutex> lock(m_outMutex);
        m_logFd = fd;
        m_logName = fileName;
    }
    UpdateLogButton();
}

void CTerminalDlg::StopLogging() {
    CloseLog();
    UpdateLogButton();
}

void CTerminalDlg::UpdateLogButton() {
    m_logButton->setText(IsLogging() ? QStringLiteral("Stop Logging") : QStringLiteral("Start Logging..."));
}

void CTerminalDlg::ReportLogWriteFailure(const QString& text) {
    UpdateLogButton();
    ui::ShowBox(this, QMessageBox::Critical, QStringLiteral("Error"), text);
}

void CTerminalDlg::accept() {}

void CTerminalDlg::reject() {
    hide();
    m_bShown = 0;
}

void CTerminalDlg::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_F1 && event->modifiers() == Qt::NoModifier) {
        ui::OpenHelp(QString::fromLatin1(kHelpPage));
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

} // namespace tessor
