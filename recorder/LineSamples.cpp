#include "recorder/LineSamples.h"

#include "ops/EthernetPass.h"

#include <chrono>

namespace tessor::rec {

namespace {

constexpr std::array<const char*, static_cast<int>(EventKind::kCount)> kEventNames{
    "line_up", "line_down", "link_fail", "indicator", "micro_interruption", "adc_saturation", "no_answer",
    "retry",   "cancel",    "answering", "action",    "recording"};

} // namespace

SampleTime Now() {
    using namespace std::chrono;
    SampleTime t;
    t.wallMs = duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
    t.monoMs = duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
    return t;
}

const char* IndicatorLabel(int indicator) {
    return kIndicatorDefs[static_cast<std::size_t>(indicator)].label;
}

const char* IndicatorColumn(int indicator) {
    return kIndicatorDefs[static_cast<std::size_t>(indicator)].name;
}

PhySample MakePhySample(SampleTime time, const ops::PhyPass& pass) {
    PhySample s;
    s.time = time;
    s.answered = pass.answered;
    s.values = pass.values;
    return s;
}

PhySample MakePhySample(SampleTime time, const PhyValues& values, bool answered) {
    PhySample s;
    s.time = time;
    s.answered = answered;
    if (answered)
        s.values = values;
    else
        s.values.registers = values.registers; // nothing the board said: no figures
    return s;
}

EthSample MakeEthSample(SampleTime time, const RegResult* reads, std::size_t count,
                        const std::array<std::uint64_t, kCounterDefCount>& totals) {
    EthSample s;
    s.time = time;
    s.totals = totals;
    for (std::size_t i = 0; i < s.reads.size(); ++i) {
        const std::optional<std::uint32_t> read = i < count ? ops::CounterCount(reads[i]) : std::nullopt;
        if (read)
            s.reads[i] = *read;
        else
            s.failedReads = static_cast<std::uint16_t>(s.failedReads | 1u << i);
    }
    s.answered = count == s.reads.size() && ops::ClassifyPass(reads, count).BoardAnswered();
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
