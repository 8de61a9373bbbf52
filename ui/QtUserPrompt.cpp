#include "ui/QtUserPrompt.h"

#include "link/ConsolePort.h"
#include "ui/Boxes.h"

namespace tessor::ui {

const char* const QtUserPrompt::kProblemTitle = "Problem";

QtUserPrompt::QtUserPrompt(QObject* parent) : QObject(parent) {}

void QtUserPrompt::ShowProblem(const std::string& text) {
    const QString message = QString::fromLocal8Bit(text.c_str());
    if (std::this_thread::get_id() == m_uiThread) {
        ShowProblemNow(message);
        return;
    }
    QMetaObject::invokeMethod(
        this, [this, message] { ShowProblemNow(message); }, Qt::QueuedConnection);
}

IUserPrompt::Answer QtUserPrompt::AskHardwareNotResponding(const std::string& text) {
    const QString message = QString::fromLocal8Bit(text.c_str());
    if (std::this_thread::get_id() == m_uiThread)
        return AskNow(message);
    struct Pending {
        bool done = false;
        Answer answer = Answer::Cancel;
    };
    auto pending = std::make_shared<Pending>();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        // At shutdown nobody is left to answer: give up instead of waiting on the UI thread.
        if (m_abandoned || g_bStopThreads.load())
            return Answer::Cancel;
    }
    QMetaObject::invokeMethod(
        this,
        [this, message, pending] {
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                if (m_abandoned)
                    return;
            }
            const Answer answer = AskNow(message);
            std::lock_guard<std::mutex> lock(m_mutex);
            pending->answer = answer;
            pending->done = true;
            m_answered.notify_all();
        },
        Qt::QueuedConnection);
    std::unique_lock<std::mutex> lock(m_mutex);
    m_answered.wait(lock, [&] { return pending->done || m_abandoned; });
    return pending->done ? pending->answer : Answer::Cancel;
}

void QtUserPrompt::AbandonQuestions() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_abandoned = true;
    m_answered.notify_all();
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
