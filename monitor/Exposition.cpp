#include "monitor/MetricText.h"
#include "monitor/Snapshot.h"

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace tessor::monitor {

namespace {

// A board's labels: its port, its site and name when it comes from an inventory, and its side.
std::vector<Label> BaseLabels(const Snapshot& s) {
    std::vector<Label> base{{"port", s.port}};
    if (!s.board.empty()) {
        base.push_back({"site", s.site});
        base.push_back({"board", s.board});
    }
    base.push_back({"side", s.id.SideLabel()});
    return base;
}

// The monitor's families: the family text with the port and side labels of the board, and the samples
// of values that may be unknown.
class CFamilyWriter {
public:
    CFamilyWriter(std::string& out, const Snapshot& s) : m_text(out, BaseLabels(s)) {}
    CFamilyWriter(std::string& out, std::vector<Label> base) : m_text(out, std::move(base)) {}

    void Begin(MetricFamily family) { m_text.Begin(family); }
    void SkipHeader() { m_text.SkipHeader(); }
    void Sample(const std::string& value, const std::vector<Label>& extra = {}) {
        m_text.Sample(value, extra);
    }

    template <class T> void Optional(const std::optional<T>& v, const std::vector<Label>& extra = {}) {
        if (const std::optional<std::string> text = MetricValue(v))
            Sample(*text, extra);
    }

    // A gauge family with one sample, written only when the value is known.
    template <class T> void Gauge(MetricFamily family, const std::optional<T>& v) {
        Begin(family);
        Optional(v);
    }

    void Counter(MetricFamily family, std::uint64_t v) {
        Begin(family);
        Sample(MetricNumber(v));
    }

    void EthernetCounter(int counter, std::uint64_t v) {
        m_text.BeginEthernetCounter(counter);
        Sample(MetricNumber(v));
    }

    // A counter family whose one sample is written only once the count is known.
    void Counter(MetricFamily family, const std::optional<std::uint64_t>& v) {
        Begin(family);
        Optional(v);
    }

private:
    CMetricText m_text;
};

void WriteLine(CFamilyWriter& w, const Snapshot& s) {
    const PhyValues& p = s.phy;
    w.Gauge(kMetricLineSnr, Decibels(p.snrCenti));
    w.Gauge(kMetricLineMse, Decibels(p.mseCenti));
    w.Gauge(kMetricTransmitPower, p.txPowerDbmHz);

    w.Begin(kMetricIndicator);
    for (int i = 0; i < kIndicatorCount; ++i) {
        if (const auto on = p.Indicator(i))
            w.Sample(*on ? "1" : "0", {{"indicator", kIndicatorDefs[static_cast<std::size_t>(i)].name}});
    }

    if (!s.haveLink)
        return;
    w.Begin(kMetricLineRate);
    w.Optional(s.link.downstream.lineRateBytesPerSecond, {{"direction", "downstream"}});
    w.Optional(s.link.upstream.lineRateBytesPerSecond, {{"direction", "upstream"}});
    w.Begin(kMetricCarrierFrequency);
    w.Optional(s.link.downstream.carrierHertz, {{"direction", "downstream"}});
    w.Optional(s.link.upstream.carrierHertz, {{"direction", "upstream"}});
}

void WriteBoardInfo(CFamilyWriter& w, const Snapshot& s) {
    const Identification& id = s.id;
    if (!id.chip || !id.revision || !id.firmware)
        return;
    auto hex = [](std::uint8_t v) {
        char b[3];
        std::snprintf(b, sizeof b, "%02X", v);
        return std::string(b);
    };
    w.Begin(kMetricBoardInfo);
    w.Sample("1",
             {{"chip", hex(*id.chip)}, {"revision", hex(*id.revision)}, {"firmware", hex(*id.firmware)}});
}

void WriteIntervals(CFamilyWriter& w, const Snapshot& s) {
    for (const IntervalFigureDef& f : kIntervalFigures) {
        const IntervalTally& tally = s.intervals.*f.tally;
        w.Counter(f.intervals, tally.intervals);
        if (f.seconds != kMetricFamilyCount) {
            w.Begin(f.seconds);
            w.Sample(MetricNumber(tally.Seconds()));
        }
    }
    w.Begin(kMetricAvailableSeconds);
    w.Sample(MetricNumber(s.intervals.available.Seconds()));
    // Only while the board answers: a silent board says nothing of the line.
    if (s.boardUp)
        w.Gauge(kMetricUpSince, s.upSinceUnixSeconds);
    w.Gauge(kMetricSnrBaseline, s.snrBaselineDb);
}

} // namespace

std::string RenderExposition(const Snapshot& s) {
    std::string out;
    out.reserve(8192);
    CFamilyWriter w(out, s);
    w.Begin(kMetricUp);
    w.Sample(s.boardUp ? "1" : "0");
    if (s.boardUp) {
        w.Gauge(kMetricLineUp, s.lineUp ? std::optional<int>(*s.lineUp ? 1 : 0) : std::nullopt);
        WriteBoardInfo(w, s);
        WriteLine(w, s);
    }
    WriteIntervals(w, s);
    w.Counter(kMetricRsCorrectedTotal, s.rsCorrectedTotal);
    w.Counter(kMetricLinkFailuresTotal, s.linkFailuresTotal);
    for (int i = 0; i < kCounterDefCount; ++i)
        w.EthernetCounter(i, s.ethernet[static_cast<std::size_t>(i)]);
    w.Gauge(kMetricPollDuration, s.passDurationSeconds);
    w.Gauge(kMetricLastGoodPass, s.lastGoodPassUnixSeconds);
    w.Counter(kMetricPollPasses, s.passes);
    w.Counter(kMetricReconnections, s.reconnections);
    w.Counter(kMetricTimeouts, s.timeOuts);
    w.Counter(kMetricCorruptedReplies, s.corruptedReplies);
    return out;
}

std::string RenderPollHealth(const Snapshot& s, std::optional<double> lastPassAgeSeconds, bool stale) {
    std::string out;
    CFamilyWriter w(out, s);
    w.Gauge(kMetricLastPassAge, lastPassAgeSeconds);
    w.Gauge(kMetricPollStale, std::optional<int>(stale ? 1 : 0));
    return out;
}

std::string RenderOutputsDropped(const std::vector<OutputDropped>& outputs) {
    std::string out;
    bool first = true;
    for (const OutputDropped& o : outputs) {
        std::vector<Label> labels{{"output", o.output}};
        if (!o.port.empty())
            labels.push_back({"port", o.port});
        if (!o.board.empty()) {
            labels.push_back({"site", o.site});
            labels.push_back({"board", o.board});
        }
        CFamilyWriter w(out, labels);
        w.Begin(kMetricOutputDropped);
        if (!first)
            w.SkipHeader();
        w.Sample(MetricNumber(o.count));
        first = false;
    }
    return out;
}

std::string MergeExpositions(const std::vector<std::string>& parts) {
    if (parts.size() == 1)
        return parts.front();
    // Family name -> its HELP and TYPE lines and then its samples, in the order families first appear.
    std::vector<std::pair<std::string, std::string>> families;
    auto familyOf = [&families](std::string_view name) {
        for (std::size_t i = 0; i < families.size(); ++i) {
            if (families[i].first == name)
                return i;
        }
        families.emplace_back(std::string(name), std::string());
        return families.size() - 1;
    };
    std::size_t total = 0;
    for (const std::string& part : parts) {
        total += part.size();
        std::size_t current = families.size(); // none yet
        for (std::size_t at = 0; at < part.size();) {
            std::size_t end = part.find('\n', at);
            end = end == std::string::npos ? part.size() : end + 1;
            const std::string_view line(part.data() + at, end - at);
            if (line.rfind("# HELP ", 0) == 0) {
                const std::size_t nameEnd = line.find(' ', 7);
                current = familyOf(line.substr(7, nameEnd - 7));
                if (!families[current].second.empty()) {
                    // Known already: its header is there; this HELP and the TYPE after it are skipped.
                    const std::size_t typeEnd = part.find('\n', end);
                    at = typeEnd == std::string::npos ? part.size() : typeEnd + 1;
                    continue;
                }
            }
            if (current < families.size())
                families[current].second.append(line);
            at = end;
        }
    }
    std::string out;
    out.reserve(total);
    for (const auto& f : families)
        out += f.second;
    return out;
}

} // namespace tessor::monitor
