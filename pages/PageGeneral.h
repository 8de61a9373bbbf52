#pragma once

#include "pages/PropertyPage.h"

#include <QTimer>

#include <cstdint>
#include <memory>

class QPushButton;

namespace Ui {
class PageGeneral;
}

namespace tessor {

// The "  General Settings  " page: basic functions of the local modem through its control register
// 8C00, and soft reset and line loopback of the remote modem while the line is up.
class CPageGeneral : public CPropertyPage {
    Q_OBJECT
public:
    static constexpr int kTimerPeriodMs = 5000;

    explicit CPageGeneral(QWidget* parent = nullptr);
    ~CPageGeneral() override;

    // Set by the main sheet once it knows the local modem's type (before RefreshFromModem).
    void SetModemSide(std::uint8_t side);

    // Captions, remote enabling, the link-check timer and both toggles from the hardware.
    void RefreshFromModem();

    // Link-check timer tick: remote enabling follows the line.
    void OnTimer();
    bool IsTimerRunning() const { return m_timer.isActive(); }

protected:
    void OnSetActive() override;
    void OnKillActive() override;

private:
    void CheckRemoteEnable();
    void ApplyCaptions();

    void OnSoftResetLocal();
    void OnLocalLoopback();
    void OnLineLoopbackLocal();
    void OnTransmitterToggle();
    void OnActivationToggle();
    void OnSoftResetRemote();
    void OnLineLoopbackRemote();

    std::unique_ptr<Ui::PageGeneral> m_ui;
    std::uint8_t m_side = kSideUnknown;
    std::int32_t m_activationState = 0;  // 1: 8C00 bit 7 was set; the button offers to disable
    std::int32_t m_transmitterState = 0; // 1: 8C00 bit 6 was set; the button offers to turn it off
    QTimer m_timer;
};

} // namespace tessor
