#include "model/LineVocabulary.h"

#include "model/LineModel.h"

#include <cmath>

namespace tessor {

const std::array<IndicatorDef, kIndicatorCount> kIndicatorDefs{{
    {false, 0x80, false, "Full Constellation Link", "full_constellation"},
    {false, 0x40, false, "Reduced Constellation Link", "reduced_constellation"},
    {false, 0x20, false, "TC Synchronized", "tc_sync"},
    {false, 0x08, false, "Ethernet Encapsulation Sync", "ethernet_sync"},
    {false, 0x04, false, "Remote I/F Synchronized", "remote_sync"},
    {false, 0x02, false, "Signal Detected", "signal_detected"},
    {true, 0x80, true, "Micro Interruption occurred", "micro_interruption"},
    {true, 0x04, false, "AGC Converged", "agc_converged"},
    {true, 0x02, false, "Timing Converged", "timing_converged"},
    {true, 0x01, true, "ADC Saturation", "adc_saturation"},
}};

// clang-format off
const std::array<CounterDef, kCounterDefCount> kCounterDefs{{
    {"8D1C", "Transmitted Frames", "Transmitted Frames", "editTxFrames", "tx_frames", "Frames transmitted on the Ethernet port; the sum of the raw counts read."},
    {"8D20", "Received Frames", "Received Frames", "editRxFrames", "rx_frames", "Frames received on the Ethernet port; the sum of the raw counts read."},
    {"8D18", "Transmitted Pause Fr.", "Transmitted Pause Frames", "editTxPause", "tx_pause_frames", "Pause frames transmitted; the sum of the raw counts read."},
    {"8D14", "Received Pause Frames", "Received Pause Frames", "editRxPause", "rx_pause_frames", "Pause frames received; the sum of the raw counts read."},
    {"8D08", "Transmitted Octets", "Transmitted Octets", "editTxOctets", "tx_octets", "Octets transmitted; the sum of the raw counts read."},
    {"8D0C", "Received Octets", "Received Octets", "editRxOctets", "rx_octets", "Octets received; the sum of the raw counts read."},
    {"8D10", "Received Broadcast Fr.", "Received Broadcast Frames", "editRxBroadcast", "rx_broadcast_frames", "Broadcast frames received; the sum of the raw counts read."},
    {"8CE4", "Single Collisions", "Single Collisions", "editSingleCollisions", "single_collisions", "Frames sent after a single collision; the sum of the raw counts read."},
    {"8CE8", "Multiple Collisions", "Multiple Collisions", "editMultipleCollisions", "multiple_collisions", "Frames sent after several collisions; the sum of the raw counts read."},
    {"8CF0", "Late Collisions", "Late Collisions", "editLateCollisions", "late_collisions", "Late collisions; the sum of the raw counts read."},
    {"8CF4", "Excessive Collisions", "Excessive Collisions", "editExcessiveCollisions", "excessive_collisions", "Frames dropped after excessive collisions; the sum of the raw counts read."},
    {"8CF8", "Receive Errors", "Receive Errors", "editReceiveErrors", "receive_errors", "Receive errors; the sum of the raw counts read."},
    {"8CFC", "Carrier Sense Errors", "Carrier Sense Errors", "editCarrierSenseErrors", "carrier_sense_errors", "Carrier sense errors; the sum of the raw counts read."},
    {"8D00", "Frame too long Errors", "Frame too long Errors", "editFrameTooLong", "frame_too_long_errors", "Frames that were too long; the sum of the raw counts read."},
    {"8D04", "Frame Check Seq. Er.", "Frame Check Seq. Errors", "editFrameCheckErrors", "frame_check_sequence_errors", "Frames with a bad frame check sequence; the sum of the raw counts read."},
}};
// clang-format on

namespace {
constexpr int kPowerOffsetDb = 55;
} // namespace

std::optional<LineReferences> ReferencesForConstellation(std::uint8_t constellationCode) {
    struct CodeReferences {
        std::uint8_t code;
        LineReferences references;
    };
    static const CodeReferences kTable[] = {
        {0x0, {9180, 6920}}, // QAM 256
        {0x2, {8550, 6920}}, // QAM 64
        {0x4, {7920, 6920}}, // QAM 16
        {0x6, {7600, 6920}}, // QAM 8
        {0x8, {7020, 6720}}, // QAM 4
        {0xA, {8840, 6920}}, // QAM 128
        {0xC, {7980, 6670}}, // QAM 32
    };
    for (const CodeReferences& entry : kTable) {
        if (entry.code == constellationCode)
            return entry.references;
    }
    return std::nullopt;
}

std::optional<SnrMse> SnrMseFromError(std::int32_t errorValue, const LineReferences& references) {
    if (errorValue <= 0)
        return std::nullopt;
    const auto t = static_cast<std::int64_t>(1000.0 * std::log10(static_cast<double>(errorValue)));
    return SnrMse{references.snr - t, references.mse - t};
}

std::int32_t RsPerSecond(std::int64_t registerValue) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(registerValue)) / 5;
}

std::optional<int> PowerDbBelowZero(std::int64_t level) {
    if (level < 1 || level > 0xFFFF)
        return std::nullopt;
    const std::optional<int> db = LevelDb(static_cast<std::uint16_t>(level));
    if (!db)
        return std::nullopt;
    return *db + kPowerOffsetDb;
}

} // namespace tessor
