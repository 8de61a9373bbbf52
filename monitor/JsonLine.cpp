#include "monitor/JsonText.h"
#include "monitor/Snapshot.h"

#include <nlohmann/json.hpp>

namespace tessor::monitor {

namespace {

template <class T> nlohmann::json Value(const std::optional<T>& v) {
    return v ? nlohmann::json(*v) : nlohmann::json(nullptr);
}

nlohmann::json Direction(const DirectionValues& d) {
    return {{"line_rate_bytes_per_second", Value(d.lineRateBytesPerSecond)},
            {"carrier_hertz", Value(d.carrierHertz)}};
}

} // namespace

std::string RenderJsonLine(const Snapshot& s) {
    nlohmann::json j;
    j["time"] = s.passStartUnixSeconds;
    j["port"] = s.port;
    j["side"] = s.id.SideLabel();
    j["up"] = s.boardUp;
    j["line_up"] = s.boardUp && s.lineUp ? nlohmann::json(*s.lineUp) : nlohmann::json(nullptr);
    const PhyValues& p = s.phy;
    j["snr_db"] = Value(Decibels(p.snrCenti));
    j["mse_db"] = Value(Decibels(p.mseCenti));
    j["rs_corrected_count"] = Value(p.registers.rsCorrected);
    j["rs_corrected_per_second"] = Value(s.rsCorrectedPerSecond);
    j["rs_corrected_total"] = Value(s.rsCorrectedTotal);
    j["transmit_power_dbm_per_hz"] = Value(p.txPowerDbmHz);
    j["link_fail_count"] = Value(p.linkFailCount);
    j["link_failures_total"] = Value(s.linkFailuresTotal);
    nlohmann::json indicators = nlohmann::json::object();
    for (int i = 0; i < kIndicatorCount; ++i)
        indicators[kIndicatorDefs[static_cast<std::size_t>(i)].name] = Value(p.Indicator(i));
    j["indicators"] = indicators;
    if (s.haveLink)
        j["link"] = {{"downstream", Direction(s.link.downstream)}, {"upstream", Direction(s.link.upstream)}};
    nlohmann::json ethernet = nlohmann::json::object();
    for (std::size_t i = 0; i < kCounterDefs.size(); ++i)
        ethernet[ops::kEthernetCounters[i].name] = s.ethernet[i];
    j["ethernet_totals"] = ethernet;
    j["poll_duration_seconds"] = Value(s.passDurationSeconds);
    j["reconnections"] = s.reconnections;
    j["timeouts"] = s.timeOuts;
    j["corrupted_replies"] = s.corruptedReplies;
    return JsonText(j);
}

} // namespace tessor::monitor
