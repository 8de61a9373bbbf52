#pragma once

// What the PHY and Ethernet registers mean, once for every front end: the indicators, the SNR and MSE
// references, the SNR/MSE/RS/power arithmetic, the Ethernet counters, "line up", and each value's machine
// name (the same in the CLI's JSON, the recording file's columns and the metric names).

#include <array>
#include <cstdint>
#include <optional>

namespace tessor {

// The ten indicators in page order: LED1..LED6 from 8C71, LED9..LED12 from 8C98; bit i of an indicator
// mask is indicator i.
enum PhyIndicator {
    kIndFullConstellation,    // LED1, 8C71 bit 7
    kIndReducedConstellation, // LED2, 8C71 bit 6
    kIndTcSync,               // LED3, 8C71 bit 5
    kIndEthernetSync,         // LED4, 8C71 bit 3
    kIndRemoteSync,           // LED5, 8C71 bit 2
    kIndSignalDetected,       // LED6, 8C71 bit 1
    kIndMicroInterruption,    // LED9, 8C98 bit 7
    kIndAgcConverged,         // LED10, 8C98 bit 2
    kIndTimingConverged,      // LED11, 8C98 bit 1
    kIndAdcSaturation,        // LED12, 8C98 bit 0
    kIndicatorCount
};

// How each indicator is read and named, in the order above.
struct IndicatorDef {
    bool fromLineFlags; // 8C98 rather than 8C71
    std::uint8_t mask;
    bool faultWhenSet; // red when the bit is set (LED9, LED12); the others are red when it is clear
    const char* label; // as the PHY Status page labels it
    const char* name;  // machine name
};
extern const std::array<IndicatorDef, kIndicatorCount> kIndicatorDefs;

// The line is up when 8C71 shows a full or reduced constellation link (bit 7 or 6).
constexpr std::uint8_t kLineUpBits = 0xC0;
constexpr bool LineUpFromStatus(std::uint8_t status8C71) {
    return (status8C71 & kLineUpBits) != 0;
}

// SNR and mean square error references, in hundredths of dB, for the constellation the local modem
// receives; nothing for a constellation code (low nibble of 8C10/8C11) that names none.
struct LineReferences {
    std::int32_t snr = 0;
    std::int32_t mse = 0;
};
std::optional<LineReferences> ReferencesForConstellation(std::uint8_t constellationCode);

// SNR and MSE in hundredths of dB from the error value (8C99..8C9B, low 32 bits taken as signed): the
// reference less 1000 log10 of the error value, truncated. Nothing for an error value of 0 or less.
struct SnrMse {
    std::int64_t snr = 0;
    std::int64_t mse = 0;
};
std::optional<SnrMse> SnrMseFromError(std::int32_t errorValue, const LineReferences& references);

// Corrected RS errors per second from 8C91..8C94: the low 32 bits as signed, divided by 5.
std::int32_t RsPerSecond(std::int64_t registerValue);

// Transmitted power as dB below 0 dBm/Hz from the level register 8C9C..8C9D (1..65535): its dB plus 55.
// Nothing for 0 (no logarithm) or anything beyond 16 bits.
std::optional<int> PowerDbBelowZero(std::int64_t level);

// The fifteen Ethernet MAC statistics counters in the order a pass reads them (four registers each; 8CEC
// is not read). The one table of them: every array of counts is in this order and of kCounterDefCount.
struct CounterDef {
    const char* address;   // first of its four registers
    const char* label;     // the Ethernet page's field label
    const char* longLabel; // the label where there is room (graphs, journal)
    const char* field;     // the page's field name
    const char* name;      // machine name
    const char* help;      // its metric's HELP text
};
constexpr int kCounterDefCount = 15;
extern const std::array<CounterDef, kCounterDefCount> kCounterDefs;
// The place of each counter in kCounterDefs (and in every array of counts in that order).
enum CounterId : int {
    kCounterTxFrames,
    kCounterRxFrames,
    kCounterTxPauseFrames,
    kCounterRxPauseFrames,
    kCounterTxOctets,
    kCounterRxOctets,
    kCounterRxBroadcastFrames,
    kCounterSingleCollisions,
    kCounterMultipleCollisions,
    kCounterLateCollisions,
    kCounterExcessiveCollisions,
    kCounterReceiveErrors,
    kCounterCarrierSenseErrors,
    kCounterFrameTooLongErrors,
    kCounterFrameCheckSequenceErrors,
};

} // namespace tessor
