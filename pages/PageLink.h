#pragma once

#include "ops/LinkSettings.h"
#include "pages/PropertyPage.h"

#include <QString>
#include <QTimer>

#include <cstdint>
#include <memory>
#include <optional>

class QComboBox;
class QLineEdit;
class QSpinBox;

namespace Ui {
class PageLink;
}

namespace tessor {

// The "  Link Configuration  " page: the line settings of both directions as the local modem runs them,
// the Ethernet port speed of both modems, and the write of a standard preset to both modems (from the LT
// side only).
class CPageLink : public CPropertyPage {
    Q_OBJECT
public:
    static constexpr int kTimerPeriodMs = 5000;

    explicit CPageLink(QWidget* parent = nullptr);
    ~CPageLink() override;

    // Set by the main sheet: the local modem's type, and the crystal in Hz with its choice 0..2.
    void SetModemSide(std::uint8_t side);
    void SetCrystal(std::int32_t crystalHz, std::uint8_t crystalIndex);

    // Link-check timer tick: the remote group follows the line.
    void OnTimer();
    bool IsTimerRunning() const { return m_timer.isActive(); }

protected:
    void OnSetActive() override;
    void OnKillActive() override;

private:
    // The display of one direction as the last ReadLineConfig left it, so that returning to Current
    // Settings after browsing presets shows the modem's settings again.
    struct LineSnapshot {
        std::optional<std::uint8_t> constellation;
        std::optional<std::uint8_t> interpolation;
        int constellationIndex = -1;
        int interpolationIndex = -1;
    };

    // One direction's members and controls.
    struct Direction {
        std::optional<std::uint8_t>& constellation;
        std::optional<std::uint8_t>& interpolation;
        std::int32_t& carrier;
        QString& rateText;
        QString& carrierText;
        LineSnapshot& lastRead;
        QComboBox* constellationList;
        QComboBox* interpolationList;
        QSpinBox* carrierSpin;
    };
    Direction Downstream();
    Direction Upstream();

    void ReadLinkSettings();
    void ShowLineConfig(const Direction& d, const ops::DirectionSettings& read);
    void ShowCarrier(const Direction& d, const ops::DirectionSettings& read);
    void ShowEthernetSpeed(int target, const ops::SpeedRead& read);
    void CheckRemoteLink();
    void EnterCurrentSettings();
    void EnterStandardSettings();
    void ShowLineRate(const Direction& d);
    void ShowDownstreamPreset();
    void ShowUpstreamPreset();
    void ShowPreset(const Direction& d, std::uint8_t lineConfig);
    void OnDownstreamPresetChosen();
    void WriteAndUpdate();
    void DisableSettingControls();
    void TransferTexts();

    std::unique_ptr<Ui::PageLink> m_ui;

    std::int32_t m_crystalHz = 25000000;
    std::uint8_t m_crystalIndex = 2;
    std::uint8_t m_side = kSideUnknown;
    std::int32_t m_bCurrentMode = 0; // 1 Current Settings, 0 Standard Settings
    std::uint8_t m_remoteState = 0;  // 0 not yet checked, 1 not reachable, 2 reachable
    // Size bytes (0 = QAM 256) and interpolation factors; nothing until a read or a preset names one.
    std::optional<std::uint8_t> m_dsConstellation;
    std::optional<std::uint8_t> m_dsInterpolation;
    std::optional<std::uint8_t> m_usConstellation;
    std::optional<std::uint8_t> m_usInterpolation;
    // Carriers in 10 kHz units; each is read before it is first shown.
    std::int32_t m_dsCarrier = 0;
    std::int32_t m_usCarrier = 0;
    // Ethernet port speed positions 0..2; nothing while the modem's setting is not known.
    std::optional<std::uint8_t> m_localSpeedSel;
    std::optional<std::uint8_t> m_remoteSpeedSel;
    // Texts of the read-only fields; the page only writes them.
    QString m_dsRateText;
    QString m_usRateText;
    QString m_dsCarrierText;
    QString m_usCarrierText;
    LineSnapshot m_dsRead;
    LineSnapshot m_usRead;

    QTimer m_timer;
};

} // namespace tessor
