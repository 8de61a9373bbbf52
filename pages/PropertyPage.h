#pragma once

#include <QWidget>

#include <cstdint>

namespace tessor {

// Type of the local modem: 0 until known, 1 LT, 2 NT.
enum ModemSide : std::uint8_t { kSideUnknown = 0, kSideLT = 1, kSideNT = 2 };

// "Local Modem (LT)" / "Remote Modem (NT)" and the other way round for an NT local modem.
QString LocalGroupCaption(std::uint8_t side);
QString RemoteGroupCaption(std::uint8_t side);

// A page of the main sheet. It becomes active when its tab is chosen or the sheet first appears, and
// inactive when another tab is chosen. Minimising and restoring the window (spontaneous show and hide
// events) change neither.
class CPropertyPage : public QWidget {
    Q_OBJECT
public:
    explicit CPropertyPage(QWidget* parent = nullptr);

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

private:
    QString m_helpPath;
};

} // namespace tessor
