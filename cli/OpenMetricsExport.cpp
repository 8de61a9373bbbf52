#include "cli/OpenMetricsExport.h"

#include "model/RawCounts.h"
#include "monitor/BoardReadings.h"
#include "monitor/JsonText.h"
#include "monitor/MetricText.h"

#include <cstdint>
#include <optional>

namespace tessor::cli {

namespace {

using rec::LineStore;
using rec::PhySample;

using monitor::CMetricText;
using monitor::Label;

constexpr std::size_t kFlushBytes = 64 * 1024;

// The families one after the other in the monitor's metric text, each series' samples together and in
// time order, handed to the sink in pieces.
class CFamilyText {
public:
    CFamilyText(const std::string& site, const TextSink& sink)
        : m_text(m_pending, {{"site", Utf8Text(site)}}, monitor::MetricDialect::OpenMetrics), m_sink(sink) {}

    void Begin(MetricFamily family) { m_text.Begin(family); }
    void BeginEthernetCounter(int counter) { m_text.BeginEthernetCounter(counter); }

    // A series of the family: its labels after the site's, none of its samples yet written.
    void Series(std::vector<Label> labels = {}) {
        m_labels = std::move(labels);
        m_last.reset();
    }

    void Sample(const std::string& value, std::int64_t wallMs) {
        if (m_last && wallMs <= *m_last)
            return;
        m_last = wallMs;
        m_text.Sample(value, m_labels, wallMs);
        if (m_pending.size() >= kFlushBytes)
            Flush();
    }

    void Flush() {
        if (!m_pending.empty())
            m_sink(m_pending);
        m_pending.clear();
    }

private:
    std::string m_pending;
    CMetricText m_text;
    const TextSink& m_sink;
    std::vector<Label> m_labels;
    std::optional<std::int64_t> m_last;
};

// One series over the PHY rows: value gives a row's sample, nothing when the row does not know it.
template <class Value> void PhySeries(const LineStore& store, CFamilyText& out, Value value) {
    for (std::size_t i = 0; i < store.phy.size(); ++i) {
        const PhySample& s = store.phy[i];
        if (const std::optional<std::string> v = value(s))
            out.Sample(*v, s.time.wallMs);
    }
}

template <class Value>
void PhyFamily(const LineStore& store, CFamilyText& out, MetricFamily family, Value value) {
    out.Begin(family);
    out.Series();
    PhySeries(store, out, value);
}

std::optional<std::string> Flag(const std::optional<bool>& on) {
    return on ? std::optional<std::string>(*on ? "1" : "0") : std::nullopt;
}

void WriteGauges(const LineStore& store, CFamilyText& out) {
    PhyFamily(store, out, kMetricUp, [](const PhySample& s) { return Flag(s.answered); });
    PhyFamily(store, out, kMetricLineUp, [](const PhySample& s) { return Flag(s.values.LineUp()); });
    PhyFamily(store, out, kMetricLineSnr,
              [](const PhySample& s) { return monitor::MetricValue(monitor::Decibels(s.values.snrCenti)); });
    PhyFamily(store, out, kMetricLineMse,
              [](const PhySample& s) { return monitor::MetricValue(monitor::Decibels(s.values.mseCenti)); });
    PhyFamily(store, out, kMetricTransmitPower,
              [](const PhySample& s) { return monitor::MetricValue(s.values.txPowerDbmHz); });
    out.Begin(kMetricIndicator);
    for (int i = 0; i < kIndicatorCount; ++i) {
        out.Series({{"indicator", kIndicatorDefs[static_cast<std::size_t>(i)].name}});
        PhySeries(store, out, [i](const PhySample& s) { return Flag(s.values.Indicator(i)); });
    }
}

// The RS count clears when read: its total sums the counts read (a failed read loses what it cleared).
// The link fail counter is 8 bits: its total counts the increases over its wraps.
void WritePhyCounters(const LineStore& store, CFamilyText& out) {
    CClearedCount rs;
    PhyFamily(store, out, kMetricRsCorrectedTotal, [&rs](const PhySample& s) {
        const std::optional<std::uint32_t>& count = s.values.registers.rsCorrected;
        if (!count) {
            rs.Lost();
            return std::optional<std::string>();
        }
        const CClearedCount::Clock::time_point at{std::chrono::milliseconds(s.time.monoMs)};
        rs.Read(*count, at);
        return monitor::MetricValue(rs.Total());
    });
    CWrappingCount failures;
    PhyFamily(store, out, kMetricLinkFailuresTotal, [&failures](const PhySample& s) {
        if (!s.values.linkFailCount)
            return std::optional<std::string>();
        failures.Read(*s.values.linkFailCount);
        return monitor::MetricValue(failures.Total());
    });
}

// The Ethernet counters from the rows' totals, at the rows whose read of the counter was answered.
void WriteEthernetCounters(const LineStore& store, CFamilyText& out) {
    for (int c = 0; c < kCounterDefCount; ++c) {
        out.BeginEthernetCounter(c);
        out.Series();
        for (std::size_t i = 0; i < store.eth.size(); ++i) {
            const rec::EthSample& s = store.eth[i];
            if (s.answered && !(s.failedReads & 1u << c))
                out.Sample(monitor::MetricNumber(s.totals[static_cast<std::size_t>(c)]), s.time.wallMs);
        }
    }
}

} // namespace

void WriteOpenMetrics(const LineStore& store, const std::string& site, const TextSink& sink) {
    CFamilyText out(site, sink);
    WriteGauges(store, out);
    WritePhyCounters(store, out);
    WriteEthernetCounters(store, out);
    out.Flush();
    sink("# EOF\n");
}

} // namespace tessor::cli
