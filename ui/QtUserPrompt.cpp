#include "ui/QtUserPrompt.h"

#include "link/ConsolePort.h"
#include "ui/Boxes.h"

#include <QThread>

namespace tessor::ui {

const char* const QtUserPrompt::kProblemTitle = "Problem";

QtUserPrompt::QtUserPrompt(QObject* parent) : QObject(parent) {}

void QtUserPrompt::ShowProblem(const std::string& text) {
    const QString message = QString::fromLocal8Bit(text.c_str());
    if (QThread::currentThread() == thread()) {
        ShowProblemNow(message);
        return;
    }
    QMetaObject::invokeMethod(
        this, [this, message] { ShowProblemNow(message); }, Qt::QueuedConnection);
}

IUserPrompt::Answer QtUserPrompt::AskHardwareNotResponding(const std::string& text) {
    const QString message = QString::fromLocal8Bit(text.c_str());
    if (QThread::currentThread() == thread())
        return AskNow(message);
    // At shutdown nobody is left to answer: give up instead of waiting on the UI thread.
    if (g_bStopThreads.load())
        return Answer::Cancel;
    Answer answer = Answer::Cancel;
    QMetaObject::invokeMethod(
        this, [this, message, &answer] { answer = AskNow(message); }, Qt::BlockingQueuedConnection);
    return answer;
}

void QtUserPrompt::ShowProblemNow(const QString& text) {
    ShowBox(nullptr, QMessageBox::Critical, QString::fromLatin1(kProblemTitle), text, QMessageBox::Ok);
}

IUserPrompt::Answer QtUserPrompt::AskNow(const QString& text) {
    const auto button =
        ShowBox(nullptr, QMessageBox::NoIcon, QString::fromLatin1(CConsolePort::kNoResponseTitle), text,
                QMessageBox::Retry | QMessageBox::Cancel);
    if (button == QMessageBox::Retry)
        return Answer::Retry;
    if (button == QMessageBox::Cancel)
        return Answer::Cancel;
    return Answer::Other;
}

} // namespace tessor::ui
