#pragma once

#include "model/LineIntervals.h"
#include "model/LineVocabulary.h"
#include "model/PhyValues.h"
#include "ops/PhyPass.h"

#include <array>
#include <cstdint>
#include <optional>
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

// Label of an indicator as the PHY Status page shows it.
const char* IndicatorLabel(int indicator);
// Column name of an indicator in a recording file: its machine name.
const char* IndicatorColumn(int indicator);

// One PHY pass as recorded: the decoded pass, with the registers it came from, and the RS rate.
struct PhySample {
    SampleTime time;
    PhyValues values;
    // Corrected RS errors per second in hundredths: the raw count of 8C91..8C94 (it clears when read) over
    // the real time since the sample before it, which the recorder sets; empty when that time is not
    // known (the first sample, one after a gap, one whose count or whose predecessor's count was not read).
    std::optional<std::int32_t> rsCentiPerSecond;
    // false: the board did not answer this pass. An answered pass may have gaps: a garbled read's values
    // are unknown.
    bool answered = true;
    bool afterGap = false; // samples before it are too long ago to join it with a line
    // The class of the interval the pass ends, as the tool that took it judged it; none when not judged.
    std::optional<IntervalClass> intervalClass;
};

// The recorded sample of a pass, as the pass rule decided it (ops::DecidePhyPass): every front end makes
// its rows here.
PhySample MakePhySample(SampleTime time, const ops::PhyPass& pass);
// A sample from values decided before (a stored row, a test's row). A pass the board did not answer keeps
// the registers it read but no figures.
PhySample MakePhySample(SampleTime time, const PhyValues& values, bool answered);

// One complete Ethernet counter pass: what each read returned (low 32 bits, the raw count since the read
// before it; failed reads flagged) and the totals after it, sums of the raw counts.
struct EthSample {
    SampleTime time;
    std::array<std::uint32_t, kCounterDefCount> reads{};
    std::array<std::uint64_t, kCounterDefCount> totals{};
    std::uint16_t failedReads = 0; // bit per counter
    bool answered = true;
    bool afterGap = false;
};

// The recorded sample of an Ethernet pass of count reads: each answered read's raw count, the others
// flagged (as the reads not made); answered by the pass rule: a garbled reply is a gap in an answered pass,
// a silence or not one valid reply is no answer. totals are the sums after it.
EthSample MakeEthSample(SampleTime time, const RegResult* reads, std::size_t count,
                        const std::array<std::uint64_t, kCounterDefCount>& totals);

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
