#pragma once

#include "link/Hooks.h"

#include <QObject>

namespace tessor::ui {

// Shows the board link's boxes on the UI thread. A worker thread's "Problem" box is posted and not
// waited for; its "Hardware does not respond" question blocks the worker until the user answers.
class QtUserPrompt : public QObject, public IUserPrompt {
    Q_OBJECT
public:
    explicit QtUserPrompt(QObject* parent = nullptr);

    void ShowProblem(const std::string& text) override;
    Answer AskHardwareNotResponding(const std::string& text) override;

    static const char* const kProblemTitle;

private:
    void ShowProblemNow(const QString& text);
    Answer AskNow(const QString& text);
};

} // namespace tessor::ui
