#include "recorder/LineSamples.h"

#include "model/LineModel.h"

#include <chrono>
#include <cmath>

namespace tessor::rec {

namespace {

struct IndicatorInfo {
    const char* label;
    const char* column;
    bool fromLineFlags; // 8C98 rather than 8C71
    std::uint8_t mask;
};

constexpr std::array<IndicatorInfo, kIndicatorCount> kIndicators{{
    {"Full Constellation Link", "full_constellation", false, 0x80},
    {"Reduced Constellation Link", "reduced_constellation", false, 0x40},
    {"TC Synchronized", "tc_synchronized", false, 0x20},
    {"Ethernet Encapsulation Sync", "ethernet_sync", false, 0x08},
    {"Remote I/F Synchronized", "remote_synchronized", false, 0x04},
    {"Signal Detected", "signal_detected", false, 0x02},
    {"Micro Interruption occurred", "micro_interruption", true, 0x80},
    {"AGC Converged", "agc_converged", true, 0x04},
    {"Timing Converged", "timing_converged", true, 0x02},
    {"ADC Saturation", "adc_saturation", true, 0x01},
}};

constexpr std::array<const char*, static_cast<int>(EventKind::kCount)> kEventNames{
    "line_up", "line_down", "link_fail", "indicator", "micro_interruption", "adc_saturation", "no_answer",
    "retry",   "cancel",    "answering", "action",    "recording"};

// Transmitted power in dBm/Hz: the level register's dB below 0 plus 55, shown negative.
constexpr int kPowerOffsetDb = 55;

} // namespace

const std::array<CounterInfo, kCounterCount> kCounters{{
    {"8D1C", "Transmitted Frames", "tx_frames"},
    {"8D20", "Received Frames", "rx_frames"},
    {"8D18", "Transmitted Pause Frames", "tx_pause"},
    {"8D14", "Received Pause Frames", "rx_pause"},
    {"8D08", "Transmitted Octets", "tx_octets"},
    {"8D0C", "Received Octets", "rx_octets"},
    {"8D10", "Received Broadcast Frames", "rx_broadcast"},
    {"8CE4", "Single Collisions", "single_collisions"},
    {"8CE8", "Multiple Collisions", "multiple_collisions"},
    {"8CF0", "Late Collisions", "late_collisions"},
    {"8CF4", "Excessive Collisions", "excessive_collisions"},
    {"8CF8", "Receive Errors", "receive_errors"},
    {"8CFC", "Carrier Sense Errors", "carrier_sense_errors"},
    {"8D00", "Frame too long Errors", "frame_too_long"},
    {"8D04", "Frame Check Seq. Errors", "frame_check_errors"},
}};

SampleTime Now() {
    using namespace std::chrono;
    SampleTime t;
    t.wallMs = duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
    t.monoMs = duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
    return t;
}

const char* IndicatorLabel(int indicator) {
    return kIndicators[static_cast<std::size_t>(indicator)].label;
}

const char* IndicatorColumn(int indicator) {
    return kIndicators[static_cast<std::size_t>(indicator)].column;
}

PhySample MakePhySample(SampleTime time, const PhyRaw& raw, std::int32_t snrRef, std::int32_t mseRef,
                        bool answered) {
    PhySample s;
    s.time = time;
    s.raw = raw;
    s.answered = answered;
    if (!answered)
        return s; // nothing the board said: no values
    // The page's arithmetic: the low 32 bits of the error value as signed, 1000 log10 truncated.
    const auto mseRaw = static_cast<std::int32_t>(static_cast<std::uint32_t>(raw.errorValue));
    if (mseRaw > 0 && snrRef != kNoValue) {
        const auto t = static_cast<std::int32_t>(1000.0 * std::log10(static_cast<double>(mseRaw)));
        s.snrCenti = snrRef - t;
        s.mseCenti = mseRef - t;
    }
    if (raw.rsCorrected >= 0)
        s.rsPerSecond = static_cast<std::int32_t>(static_cast<std::uint32_t>(raw.rsCorrected)) / 5;
    if (raw.txLevel >= 1 && raw.txLevel <= 0xFFFF) {
        if (const auto db = LevelDb(static_cast<std::uint16_t>(raw.txLevel)))
            s.txPowerDb = -(*db + kPowerOffsetDb);
    }
    if (raw.linkFailCount >= 0)
        s.linkFailCount = static_cast<std::int32_t>(raw.linkFailCount & 0xFF);
    for (int i = 0; i < kIndicatorCount; ++i) {
        const IndicatorInfo& info = kIndicators[static_cast<std::size_t>(i)];
        const std::int64_t reg = info.fromLineFlags ? raw.lineFlags : raw.linkStatus;
        if (reg < 0)
            continue;
        s.indicatorsKnown = static_cast<std::uint16_t>(s.indicatorsKnown | 1u << i);
        if (reg & info.mask)
            s.indicators = static_cast<std::uint16_t>(s.indicators | 1u << i);
    }
    return s;
}

const char* EventKindName(EventKind kind) {
    return kEventNames[static_cast<std::size_t>(kind)];
}

bool EventKindFromName(const std::string& name, EventKind* kind) {
    for (std::size_t i = 0; i < kEventNames.size(); ++i) {
        if (name == kEventNames[i]) {
            *kind = static_cast<EventKind>(i);
            return true;
        }
    }
    return false;
}

std::string ActionText(Action action, const std::string& detail) {
    std::string text;
    switch (action) {
    case Action::SoftResetLocal:
        text = "Soft reset, local modem";
        break;
    case Action::SoftResetRemote:
        text = "Soft reset, remote modem";
        break;
    case Action::LocalLoopback:
        text = "Local loopback, local modem";
        break;
    case Action::LineLoopbackLocal:
        text = "Line loopback, local modem";
        break;
    case Action::LineLoopbackRemote:
        text = "Line loopback, remote modem";
        break;
    case Action::TransmitterOn:
        text = "Transmitter on";
        break;
    case Action::TransmitterOff:
        text = "Transmitter off";
        break;
    case Action::ActivationOn:
        text = "Activation enabled";
        break;
    case Action::ActivationOff:
        text = "Activation disabled";
        break;
    case Action::WriteAndUpdate:
        text = "Write & Update";
        break;
    case Action::SetToDefault:
        text = "Set to Default";
        break;
    case Action::ConfigurationLoaded:
        text = "Configuration loaded";
        break;
    }
    if (!detail.empty())
        text += ": " + detail;
    return text;
}

} // namespace tessor::rec
