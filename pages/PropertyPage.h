#pragma once

#include <QWidget>

#include <atomic>
#include <cstdint>
#include <string>

#include "model/Modem.h"
#include "recorder/LineSamples.h"

namespace tessor {

// "Local Modem (LT)" / "Remote Modem (NT)" and the other way round for an NT local modem.
QString LocalGroupCaption(std::uint8_t side);
QString RemoteGroupCaption(std::uint8_t side);

// A page of the main sheet. It becomes active when its tab is chosen or the sheet first appears, and
// inactive when another tab is chosen. Minimising and restoring the window (spontaneous show and hide
// events) change neither.
class IActivityObserver;

class CPropertyPage : public QWidget {
    Q_OBJECT
public:
    explicit CPropertyPage(QWidget* parent = nullptr);

    // Who is told of the page's passes and actions (none by default). Read by the poll threads.
    void SetActivityObserver(IActivityObserver* observer) { m_observer.store(observer); }
    IActivityObserver* ActivityObserver() const { return m_observer.load(); }

protected:
    // F1 anywhere on the page opens this help page (relative to the working directory), in preference
    // to the window's own help.
    void SetHelpPath(const QString& relativePath) { m_helpPath = relativePath; }

    virtual void OnSetActive() {}
    virtual void OnKillActive() {}

    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    // Tells the observer, if any, of an action the page sent.
    void NoteAction(rec::Action action, const std::string& detail = std::string());

private:
    QString m_helpPath;
    std::atomic<IActivityObserver*> m_observer{nullptr};
};

} // namespace tessor
