#pragma once

#include "link/Hooks.h"

#include <QObject>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

namespace tessor::ui {

// Shows the board link's boxes on the UI thread. A worker thread's "Problem" box is posted and not
// waited for; its "Hardware does not respond" question blocks the worker until the user answers.
class QtUserPrompt : public QObject, public IUserPrompt {
    Q_OBJECT
public:
    explicit QtUserPrompt(QObject* parent = nullptr);

    void ShowProblem(const std::string& text) override;
    Answer AskHardwareNotResponding(const std::string& text) override;
    void AbandonQuestions() override;

    static const char* const kProblemTitle;

private:
    void ShowProblemNow(const QString& text);
    Answer AskNow(const QString& text);

    // A worker waits here for the UI thread's answer, or until the questions are abandoned.
    std::mutex m_mutex;
    std::condition_variable m_answered;
    bool m_abandoned = false;
    // The thread that made the prompt (the UI thread), compared without asking Qt: see CTerminalDlg.
    const std::thread::id m_uiThread = std::this_thread::get_id();
};

} // namespace tessor::ui
