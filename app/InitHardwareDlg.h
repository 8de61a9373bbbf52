#pragma once

#include "app/PortWatchDlg.h"
#include "link/PortDiscovery.h"

#include <cstdint>
#include <functional>
#include <memory>

namespace Ui {
class CInitHardwareDlg;
}

namespace tessor {

class CPortsDlg;

// "Initialize Hardware": which COM port the board is cabled to; the crystal is fixed at 25.00 MHz.
// Beneath the COM list a line says which device the chosen entry opens; "Ports..." assigns devices.
// OK only; Escape and the close box cancel.
class CInitHardwareDlg : public CPortWatchDlg {
    Q_OBJECT
public:
    explicit CInitHardwareDlg(QWidget* parent = nullptr);
    ~CInitHardwareDlg() override;

    // Selects the lists from the members; call before showing.
    void OnInitDialog();
    // Opens "Serial Ports" for the chosen COM entry.
    void OnPortsButton();

    // Where the device line and the Ports dialog look for devices (tests use a tree of their own).
    void SetDiscoveryOptions(const DiscoveryOptions& options);
    // Test hook: runs the Ports dialog instead of exec().
    std::function<int(CPortsDlg&)> runPortsDialog;

    std::uint8_t m_portIndex = 0;
    std::uint8_t m_crystalIndex = 2;

    Ui::CInitHardwareDlg* Form() const { return m_ui.get(); }

public slots:
    void accept() override;

private:
    void ShowDeviceLine();

    std::unique_ptr<Ui::CInitHardwareDlg> m_ui;
};

} // namespace tessor
