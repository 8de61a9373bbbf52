#pragma once

#include "link/RegisterBus.h"
#include "model/LineVocabulary.h"

#include <array>
#include <cstdint>
#include <limits>
#include <string>

// Samples and events of the line over time. Plain data, standard library only.
namespace tessor::rec {

// A moment: wall clock in ms since 1970-01-01 UTC and a monotonic clock in ms (rates and gaps use it; it
// does not jump when the wall clock is set).
struct SampleTime {
    std::int64_t wallMs = 0;
    std::int64_t monoMs = 0;
};

SampleTime Now();

constexpr std::int32_t kNoValue = std::numeric_limits<std::int32_t>::min();

// Label of an indicator as the PHY Status page shows it.
const char* IndicatorLabel(int indicator);
// Column name of an indicator in a recording file: its machine name.
const char* IndicatorColumn(int indicator);

// The six register results of a PHY pass as the register access returned them (negative: the read
// failed), with the SNR and MSE references in hundredths of dB of the constellation received.
struct PhyRaw {
    std::int64_t errorValue = 0;    // 8C99..8C9B
    std::int64_t txLevel = 0;       // 8C9C..8C9D
    std::int64_t rsCorrected = 0;   // 8C91..8C94
    std::int64_t linkStatus = 0;    // 8C71
    std::int64_t lineFlags = 0;     // 8C98
    std::int64_t linkFailCount = 0; // 8D38
};

// A register result as a PhyRaw field keeps it: the value when answered, else -1 (not read).
inline std::int64_t RawValue(const RegResult& r) {
    return r.ok() ? r.value : -1;
}

// The six results of a PHY pass (any struct with the six RegResult members of ops::PhyReadResults).
template <class Results> PhyRaw PhyRawOf(const Results& r) {
    return {RawValue(r.errorValue), RawValue(r.txLevel),   RawValue(r.rsCorrected),
            RawValue(r.linkStatus), RawValue(r.lineFlags), RawValue(r.linkFailCount)};
}

// One PHY pass, raw and computed. Values that could not be computed hold kNoValue.
struct PhySample {
    SampleTime time;
    PhyRaw raw;
    std::int32_t snrCenti = kNoValue; // SNR in hundredths of dB
    std::int32_t mseCenti = kNoValue; // mean square error in hundredths of dB
    // Corrected RS errors per second in hundredths: the raw count of 8C91..8C94 (it clears when read) over
    // the real time since the sample before it, which the recorder sets; kNoValue when that time is not
    // known (the first sample, one after a gap, one whose count or whose predecessor's count was not read).
    std::int32_t rsCentiPerSecond = kNoValue;
    std::int32_t txPowerDb = kNoValue; // transmitted power in dBm/Hz (negative)
    std::int32_t linkFailCount = kNoValue;
    std::uint16_t indicators = 0;      // bit per Indicator, set when its register bit is set
    std::uint16_t indicatorsKnown = 0; // bit per Indicator whose register was read
    bool answered = true;              // false: the board did not answer this pass
    bool afterGap = false;             // samples before it are too long ago to join it with a line
};

// Computes the values of one pass from the raw results; snrRef/mseRef kNoValue when unknown. The RS rate
// needs the sample before it: see RsCentiPerSecond.
PhySample MakePhySample(SampleTime time, const PhyRaw& raw, std::int32_t snrRef, std::int32_t mseRef,
                        bool answered);

// The RS rate of s (hundredths per second) from its raw count and the monotonic times of s and the sample
// before it, whose read cleared the count; kNoValue when the time the count covers is not known, and for
// a rate beyond what the field holds.
std::int32_t RsCentiPerSecond(const PhySample& s, const PhySample& before);

constexpr int kCounterCount = kCounterDefCount;

// The counters in the order they are read; a counter's columns are its machine name with a suffix.
inline const std::array<CounterDef, kCounterCount>& kCounters = kCounterDefs;
enum CounterIndex { kTxFrames = 0, kRxFrames = 1, kTxOctets = 4, kRxOctets = 5 };

// One complete Ethernet counter pass: what each read returned (low 32 bits, the raw count since the read
// before it; failed reads flagged) and the totals after it, sums of the raw counts.
struct EthSample {
    SampleTime time;
    std::array<std::uint32_t, kCounterCount> reads{};
    std::array<std::uint64_t, kCounterCount> totals{};
    std::uint16_t failedReads = 0; // bit per counter
    bool answered = true;
    bool afterGap = false;
};

enum class EventKind : std::uint8_t {
    LineUp,
    LineDown,
    LinkFail,
    Indicator,
    MicroInterruption,
    AdcSaturation,
    NoAnswer,
    Retry,
    Cancel,
    AnsweringAgain,
    Action,
    Recording,
    kCount
};

// Name of an event kind in a recording file ("line_down") and back.
const char* EventKindName(EventKind kind);
bool EventKindFromName(const std::string& name, EventKind* kind);

struct Event {
    SampleTime time;
    EventKind kind = EventKind::Action;
    std::string text;
};

// What the tool sent to the board.
enum class Action : std::uint8_t {
    SoftResetLocal,
    SoftResetRemote,
    LocalLoopback,
    LineLoopbackLocal,
    LineLoopbackRemote,
    TransmitterOn,
    TransmitterOff,
    ActivationOn,
    ActivationOff,
    WriteAndUpdate,
    SetToDefault,
    ConfigurationLoaded,
};

// Journal text of an action; detail adds to it (the preset and speeds, a file name).
std::string ActionText(Action action, const std::string& detail);

} // namespace tessor::rec
