#pragma once

#include <QDialog>

namespace tessor {

class CPortWatcher;

// What "Initialize Hardware" and "Serial Ports" share: a title bar with only the close box, a port
// watcher that runs while the dialog is shown, and F1 for the help page on ports.
class CPortWatchDlg : public QDialog {
    Q_OBJECT
public:
    CPortWatcher* Watcher() const { return m_pWatcher; }

protected:
    // rescanOnShow: look at the devices again each time the dialog is shown, before watching them.
    CPortWatchDlg(bool rescanOnShow, QWidget* parent);

    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    CPortWatcher* m_pWatcher = nullptr;
    bool m_rescanOnShow = false;
};

} // namespace tessor
