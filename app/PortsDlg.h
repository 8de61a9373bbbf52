#pragma once

#include "app/PortWatchDlg.h"
#include "link/PortDiscovery.h"

#include <QString>

#include <array>
#include <memory>

namespace Ui {
class CPortsDlg;
}

namespace tessor {

// "Serial Ports": the serial devices found, kept current while open, and which device COM1, COM2 and
// COM3 open, a network console among them. OK stores the assignments (Ports/COMn, the by-id name where there
// is one); Cancel nothing.
class CPortsDlg : public CPortWatchDlg {
    Q_OBJECT
public:
    // comIndex: the COM entry to assign to first (0 = COM1).
    explicit CPortsDlg(int comIndex, const DiscoveryOptions& options, QWidget* parent = nullptr);
    ~CPortsDlg() override;

    // The device each COM entry will open once stored; empty for its default device.
    const std::array<QString, 3>& Assignments() const { return m_assigned; }
    // Assigns the selected device to the COM entry chosen in the list.
    void OnAssign();
    // Returns the chosen COM entry to its default device.
    void OnDefault();
    // Assigns the network console named by host, port and protocol to the chosen COM entry, once a
    // connection to it has been made; else says why not and assigns nothing.
    void OnAssignNetwork();
    Ui::CPortsDlg* Form() const { return m_ui.get(); }

public slots:
    void accept() override;

private:
    void FillList();
    void ShowAdvice();
    void ShowAssignments();
    QString AssignmentText(int n) const;

    std::unique_ptr<Ui::CPortsDlg> m_ui;
    std::array<QString, 3> m_assigned;
};

} // namespace tessor
