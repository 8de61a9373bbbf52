// status (side, line, link settings, one PHY pass, identification) and counters (Ethernet passes).
#include "cli/CliCommands.h"

#include "model/LineModel.h"
#include "model/PublishedNames.h"
#include "ops/Access.h"
#include "ops/Board.h"
#include "ops/EthernetPass.h"
#include "ops/LinkSettings.h"
#include "ops/PhyPass.h"

#include <chrono>
#include <sstream>
#include <thread>

namespace tessor::cli {

namespace {

// The crystal the window tool always starts with: 25.00 MHz.
constexpr std::int32_t kCrystalHz = 25000000;

// The status writes every decimal figure with a point (only the pages keep their decimal comma).
constexpr DecimalMark kMark = DecimalMark::Point;

// A read's value, or null when it was not answered.
nlohmann::json Raw(const RegResult& r) {
    return r.ok() ? nlohmann::json(r.value) : nlohmann::json(nullptr);
}

template <typename T> nlohmann::json Optional(const std::optional<T>& value) {
    return value ? nlohmann::json(*value) : nlohmann::json(nullptr);
}

// Hundredths of dB as dB, or null.
template <typename T> nlohmann::json Decibels(const std::optional<T>& centi) {
    return centi ? nlohmann::json(static_cast<double>(*centi) / 100.0) : nlohmann::json(nullptr);
}

std::string Trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(' ');
    const auto last = text.find_last_not_of(' ');
    return first == std::string::npos ? std::string() : text.substr(first, last - first + 1);
}

std::string DirectionText(const char* name, const ops::DirectionSettings& d) {
    const std::string rate = FormatLineRate(d.rate, kMark);
    std::ostringstream text;
    text << name << ": "
         << (d.constellation ? Trimmed(d.constellationText) : std::string("unknown constellation"))
         << ", interpolation "
         << (d.interpolation ? std::to_string(d.interpolation->factor) : std::string("unknown")) << ", "
         << (rate.empty() ? std::string("no rate") : rate + " Mbit/s") << ", carrier " << d.carrierText
         << "\n";
    return text.str();
}

nlohmann::json SpeedJson(const ops::SpeedRead& speed) {
    return {{NameOf(Published::kRaw), Raw(speed.read)},
            {NameOf(Published::kSetting),
             speed.position ? nlohmann::json(*speed.position + 1) : nlohmann::json(nullptr)}};
}

std::string SpeedText(const ops::SpeedRead& speed) {
    return speed.position ? std::to_string(*speed.position + 1) : std::string("unknown");
}

nlohmann::json PhyJson(const ops::PhyPass& pass) {
    const PhyValues& v = pass.values;
    const PhyTexts texts = FormatPhyTexts(v, kMark);
    nlohmann::json indicators = nlohmann::json::object();
    for (int i = 0; i < kIndicatorCount; ++i)
        indicators[kIndicatorDefs[static_cast<std::size_t>(i)].name] = Optional(v.Indicator(i));
    const ops::PhyReadResults& r = pass.raw;
    return {{NameOf(Published::kAnswered), pass.answered},
            {NameOf(Published::kRaw),
             {{"8C99", Raw(r.errorValue)},
              {"8C9C", Raw(r.txLevel)},
              {"8C91", Raw(r.rsCorrected)},
              {"8C71", Raw(r.linkStatus)},
              {"8C98", Raw(r.lineFlags)},
              {"8D38", Raw(r.linkFailCount)}}},
            {NameOf(Published::kSnr), Decibels(v.snrCenti)},
            {NameOf(Published::kMse), Decibels(v.mseCenti)},
            // The register's raw count: the errors corrected since it was last read, over a time this one
            // read does not know. The page's figure (the count divided by 5) is texts.rs.
            {NameOf(Published::kRsCorrectedCount), Optional(v.registers.rsCorrected)},
            {NameOf(Published::kTxPower), Optional(v.txPowerDbmHz)},
            {NameOf(Published::kLinkFailCount), Optional(v.linkFailCount)},
            {NameOf(Published::kTexts),
             {{NameOf(Published::kSnr), texts.snr},
              {NameOf(Published::kMse), texts.mse},
              {NameOf(Published::kRsText), texts.rs},
              {NameOf(Published::kTxPower), texts.power},
              {NameOf(Published::kLinkFailCount), texts.linkFail}}},
            {NameOf(Published::kIndicators), indicators}};
}

std::string PhyText(const ops::PhyPass& pass) {
    const PhyTexts texts = FormatPhyTexts(pass.values, kMark);
    std::ostringstream text;
    text << "SNR " << texts.snr << " dB, MSE " << texts.mse << " dB, RS/s " << texts.rs << ", power "
         << texts.power << " dBm/Hz, link fail " << texts.linkFail << "\nIndicators:";
    for (int i = 0; i < kIndicatorCount; ++i) {
        if (texts.flags[static_cast<std::size_t>(i)])
            text << " " << kIndicatorDefs[static_cast<std::size_t>(i)].name;
    }
    text << "\n";
    return text.str();
}

nlohmann::json IdentificationJson(const ops::BoardIdentification& id) {
    const char* raw = NameOf(Published::kRaw);
    const char* text = NameOf(Published::kText);
    return {{"8C72", {{raw, Raw(id.read72)}, {text, ops::IdentificationText(id.id72)}}},
            {"8C73", {{raw, Raw(id.read73)}, {text, ops::IdentificationText(id.id73)}}},
            {"8C6F", {{raw, Raw(id.read6F)}, {text, ops::IdentificationText(id.id6F)}}}};
}

nlohmann::json TotalsJson(const ops::EthernetCountTotals& totals) {
    nlohmann::json doc = nlohmann::json::object();
    for (int i = 0; i < kCounterDefCount; ++i)
        doc[kCounterDefs[static_cast<std::size_t>(i)].name] = totals.totals[static_cast<std::size_t>(i)];
    return doc;
}

std::string TotalsText(const ops::EthernetCountTotals& totals) {
    std::ostringstream text;
    for (int i = 0; i < kCounterDefCount; ++i) {
        const auto index = static_cast<std::size_t>(i);
        text << kCounterDefs[index].label << ": " << totals.totals[index] << "\n";
    }
    return text.str();
}

// The raw count of each counter read of a pass; null for a read that delivered none.
nlohmann::json CountsJson(const ops::EthernetPass& pass) {
    nlohmann::json counts = nlohmann::json::array();
    for (int i = 0; i < pass.countersRead; ++i)
        counts.push_back(Optional(pass.counts[static_cast<std::size_t>(i)]));
    return counts;
}

// Sleeps until the deadline in short steps, so an interruption is seen at once.
void SleepUntil(std::chrono::steady_clock::time_point deadline, const std::atomic<bool>& interrupted) {
    while (!interrupted.load() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

} // namespace

// The settings of one direction as every JSON document gives them.
nlohmann::json DirectionJson(const ops::DirectionSettings& d) {
    return {{NameOf(Published::kRawConfig), Raw(d.configRead)},
            {NameOf(Published::kRawCarrier), Raw(d.carrierRead)},
            {NameOf(Published::kConstellationPoints),
             d.constellation
                 ? nlohmann::json(d.constellation->sizeByte == 0 ? 256 : d.constellation->sizeByte)
                 : nlohmann::json(nullptr)},
            {NameOf(Published::kConstellationText), Trimmed(d.constellationText)},
            {NameOf(Published::kInterpolation),
             d.interpolation ? nlohmann::json(d.interpolation->factor) : nlohmann::json(nullptr)},
            {NameOf(Published::kRateMbps), Optional(d.rate)},
            {NameOf(Published::kRateText), FormatLineRate(d.rate, kMark)},
            {NameOf(Published::kCarrier10kHz), d.carrier},
            {NameOf(Published::kCarrierText), d.carrierText}};
}

std::optional<RegResult> ReadStatus(IRegisterBus& bus, nlohmann::json* doc, std::string* text,
                                    bool blockReads) {
    const ops::ModemSideRead side = ops::DetectModemSide(bus);
    const RegResult linkCheck = ops::IsLinkUp(bus);
    const bool up = linkCheck.ok() && linkCheck.value == 1;
    const ops::LinkSettings link = ops::ReadLinkSettings(bus, kCrystalHz, up, blockReads);
    const ops::PhyReferenceRead refs = ops::ReadPhyReferences(bus, side.side);
    const ops::PhyPass phy = ops::RunPhyPass(bus, refs.references, {}, blockReads);
    const ops::BoardIdentification id = ops::ReadBoardIdentification(bus, blockReads);
    // The first read that failed says why; a status with a hole in it is not printed. The PHY pass
    // follows the pass rule: a garbled reply there leaves its values unknown (null), silence fails.
    for (const RegResult* r :
         {&side.read, &linkCheck, &link.downstream.configRead, &link.downstream.carrierRead,
          &link.upstream.configRead, &link.upstream.carrierRead, &link.localSpeed.read, &refs.read,
          phy.raw.FirstSilent(), &id.read72, &id.read73, &id.read6F}) {
        if (r && !r->ok())
            return *r;
    }
    if (link.remoteSpeedRead && !link.remoteSpeed.read.ok())
        return link.remoteSpeed.read;

    *doc = nlohmann::json{
        {NameOf(Published::kSide), SideName(side.side)},
        {NameOf(Published::kSideRaw), Raw(side.read)},
        {NameOf(Published::kLineUp), up},
        {NameOf(Published::kDownstream), DirectionJson(link.downstream)},
        {NameOf(Published::kUpstream), DirectionJson(link.upstream)},
        {NameOf(Published::kEthernetSpeed), {{NameOf(Published::kLocal), SpeedJson(link.localSpeed)}}},
        {NameOf(Published::kPhy), PhyJson(phy)},
        {NameOf(Published::kPhyReferenceRaw), Raw(refs.read)},
        {NameOf(Published::kIdentification), IdentificationJson(id)}};
    if (link.remoteSpeedRead)
        (*doc)[NameOf(Published::kEthernetSpeed)][NameOf(Published::kRemote)] = SpeedJson(link.remoteSpeed);

    *text = std::string("Local modem ") + SideName(side.side) + ", line " + (up ? "up" : "down") + "\n";
    *text += DirectionText("Downstream", link.downstream);
    *text += DirectionText("Upstream", link.upstream);
    *text += "Ethernet port speed setup: local " + SpeedText(link.localSpeed);
    *text += link.remoteSpeedRead ? ", remote " + SpeedText(link.remoteSpeed) + "\n" : std::string("\n");
    *text += PhyText(phy);
    *text += "Board identification:  8C72 = " + ops::IdentificationText(id.id72) +
             "   8C73 = " + ops::IdentificationText(id.id73) +
             "   8C6F = " + ops::IdentificationText(id.id6F) + "\n";
    return std::nullopt;
}

int RunStatus(const Context& ctx) {
    nlohmann::json doc;
    std::string text;
    if (const std::optional<RegResult> failed = ReadStatus(ctx.Bus(), &doc, &text, ctx.options.blockReads))
        return ctx.BoardFailure(*failed);
    return ctx.Done(doc, text);
}

int RunCounters(const Context& ctx, const CounterArgs& args, const std::atomic<bool>& interrupted) {
    ops::EthernetCountTotals totals;
    nlohmann::json passes = nlohmann::json::array();
    ops::EthernetPassHooks hooks;
    hooks.stop = [&interrupted] { return interrupted.load(); };
    const auto period = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
        std::chrono::duration<double>(args.intervalS));
    auto next = std::chrono::steady_clock::now();
    for (int n = 0; args.count == 0 || n < args.count; ++n) {
        if (n > 0)
            SleepUntil(next, interrupted);
        if (interrupted.load())
            break;
        next += period;
        const ops::EthernetPass pass = ops::RunEthernetPass(ctx.Bus(), hooks);
        totals.Add(pass);
        bool garbled = false;
        for (int i = 0; i < pass.countersRead; ++i) {
            const RegResult& r = pass.raw[static_cast<std::size_t>(i)];
            if (!r.ok() && r.outcome != Outcome::Garbled)
                return ctx.BoardFailure(r);
            garbled = garbled || !r.ok();
        }
        // The counters clear when read, so what a garbled reply carried is lost; counting goes on.
        if (garbled)
            ctx.streams.err << "tessor-cli: a garbled reply in pass " << n + 1
                            << "; the counts it carried are lost" << std::endl;
        passes.push_back(CountersPassJson(pass));
        if (!ctx.options.json)
            ctx.streams.out << "Pass " << totals.passes << (pass.complete ? "" : " (interrupted)") << "\n"
                            << TotalsText(totals) << std::flush;
    }
    return ctx.Done(CountersJson(args.intervalS, passes, totals), std::string());
}

nlohmann::json CountersPassJson(const ops::EthernetPass& pass) {
    nlohmann::json raw = nlohmann::json::array();
    for (int i = 0; i < pass.countersRead; ++i)
        raw.push_back(Raw(pass.raw[static_cast<std::size_t>(i)]));
    return {{NameOf(Published::kComplete), pass.complete},
            {NameOf(Published::kRaw), raw},
            {NameOf(Published::kCounts), CountsJson(pass)}};
}

// Every figure is made from the raw counts: the counters clear when read, so a pass's count is what
// happened since the pass before it, and the totals are their sums.
nlohmann::json CountersJson(double intervalS, const nlohmann::json& passes,
                            const ops::EthernetCountTotals& totals) {
    return {
        {NameOf(Published::kIntervalS), intervalS},
        {NameOf(Published::kFigures),
         {{NameOf(Published::kCounts), "raw count of each counter read: the events since the read before it"},
          {NameOf(Published::kEthernetTotals),
           "sum of the raw counts of every pass, complete or interrupted"}}},
        {NameOf(Published::kPasses), passes},
        {NameOf(Published::kEthernetTotals), TotalsJson(totals)}};
}

} // namespace tessor::cli
