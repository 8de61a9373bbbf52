#include "model/PublishedNames.h"
#include "monitor/JsonText.h"
#include "monitor/Snapshot.h"

#include <nlohmann/json.hpp>

namespace tessor::monitor {

namespace {

template <class T> nlohmann::json Value(const std::optional<T>& v) {
    return v ? nlohmann::json(*v) : nlohmann::json(nullptr);
}

nlohmann::json Direction(const DirectionValues& d) {
    return {{NameOf(Published::kLineRate), Value(d.lineRateBytesPerSecond)},
            {NameOf(Published::kCarrierFrequency), Value(d.carrierHertz)}};
}

} // namespace

std::string RenderJsonLine(const Snapshot& s) {
    nlohmann::json j;
    j[NameOf(Published::kTime)] = s.passStartUnixSeconds;
    j[NameOf(Published::kPort)] = s.port;
    // A board from an inventory is named by its site and name too; without one the line has neither.
    if (!s.board.empty()) {
        j[NameOf(Published::kSite)] = s.site;
        j[NameOf(Published::kBoard)] = s.board;
    }
    j[NameOf(Published::kSide)] = s.id.SideLabel();
    j[NameOf(Published::kUp)] = s.boardUp;
    j[NameOf(Published::kLineUp)] =
        s.boardUp && s.lineUp ? nlohmann::json(*s.lineUp) : nlohmann::json(nullptr);
    const PhyValues& p = s.phy;
    j[NameOf(Published::kSnr)] = Value(Decibels(p.snrCenti));
    j[NameOf(Published::kMse)] = Value(Decibels(p.mseCenti));
    j[NameOf(Published::kRsCorrectedCount)] = Value(p.registers.rsCorrected);
    j[NameOf(Published::kRsCorrectedPerSecond)] = Value(s.rsCorrectedPerSecond);
    j[NameOf(Published::kRsCorrectedTotal)] = Value(s.rsCorrectedTotal);
    j[NameOf(Published::kTxPower)] = Value(p.txPowerDbmHz);
    j[NameOf(Published::kLinkFailCount)] = Value(p.linkFailCount);
    nlohmann::json indicators = nlohmann::json::object();
    for (int i = 0; i < kIndicatorCount; ++i)
        indicators[kIndicatorDefs[static_cast<std::size_t>(i)].name] = Value(p.Indicator(i));
    j[NameOf(Published::kIndicators)] = indicators;
    if (s.haveLink)
        j[NameOf(Published::kLink)] = {{NameOf(Published::kDownstream), Direction(s.link.downstream)},
                                       {NameOf(Published::kUpstream), Direction(s.link.upstream)}};
    nlohmann::json ethernet = nlohmann::json::object();
    for (std::size_t i = 0; i < kCounterDefs.size(); ++i)
        ethernet[kCounterDefs[i].name] = s.ethernet[i];
    j[NameOf(Published::kEthernetTotals)] = ethernet;
    for (const auto& [name, tally] :
         {std::pair{Published::kErroredIntervals, &IntervalFigures::errored},
          {Published::kSeverelyErroredIntervals, &IntervalFigures::severelyErrored},
          {Published::kUnavailableIntervals, &IntervalFigures::unavailable},
          {Published::kFecIntervals, &IntervalFigures::fec},
          {Published::kUnmeasuredIntervals, &IntervalFigures::unmeasured}})
        j[NameOf(name)] = (s.intervals.*tally).intervals;
    for (const auto& [name, tally] : {std::pair{Published::kErroredSeconds, &IntervalFigures::errored},
                                      {Published::kSeverelyErroredSeconds, &IntervalFigures::severelyErrored},
                                      {Published::kUnavailableSeconds, &IntervalFigures::unavailable},
                                      {Published::kAvailableSeconds, &IntervalFigures::available}})
        j[NameOf(name)] = (s.intervals.*tally).Seconds();
    j[NameOf(Published::kUpSince)] = s.boardUp ? Value(s.upSinceUnixSeconds) : nlohmann::json(nullptr);
    j[NameOf(Published::kSnrBaseline)] = Value(s.snrBaselineDb);
    j[NameOf(Published::kPollDuration)] = Value(s.passDurationSeconds);
    j[NameOf(Published::kReconnections)] = s.reconnections;
    j[NameOf(Published::kTimeouts)] = s.timeOuts;
    j[NameOf(Published::kCorruptedReplies)] = s.corruptedReplies;
    return JsonText(j);
}

} // namespace tessor::monitor
