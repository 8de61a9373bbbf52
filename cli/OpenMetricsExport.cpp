#include "cli/OpenMetricsExport.h"

#include "model/MetricNames.h"
#include "model/NumberText.h"
#include "model/RawCounts.h"
#include "monitor/JsonText.h"

#include <cstdint>
#include <optional>

namespace tessor::cli {

namespace {

using rec::LineStore;
using rec::PhySample;

constexpr std::size_t kFlushBytes = 64 * 1024;

// Milliseconds since 1970 as seconds with three decimals.
std::string Seconds(std::int64_t ms) {
    const std::int64_t magnitude = ms < 0 ? -ms : ms;
    std::string fraction = std::to_string(magnitude % 1000);
    fraction.insert(0, 3 - fraction.size(), '0');
    return (ms < 0 ? "-" : "") + std::to_string(magnitude / 1000) + '.' + fraction;
}

// Writes the families one after the other, each series' samples together and in time order.
class CFamilyText {
public:
    CFamilyText(const std::string& site, const TextSink& sink)
        : m_site("site=\"" + EscapeLabelValue(Utf8Text(site)) + "\""), m_sink(sink) {}

    void Begin(const MetricFamilyDef& family) {
        m_family = &family;
        m_headerDone = false;
    }

    // A series of the family: its labels after the site's (",indicator=\"tc_sync\""), none yet written.
    void Series(const std::string& labels = std::string()) {
        m_labels = m_site + labels;
        m_last.reset();
    }

    void Sample(const std::string& value, std::int64_t wallMs) {
        if (m_last && wallMs <= *m_last)
            return;
        m_last = wallMs;
        if (!m_headerDone)
            Header();
        m_text += m_family->name;
        m_text += '{' + m_labels + "} " + value + ' ' + Seconds(wallMs) + '\n';
        if (m_text.size() >= kFlushBytes)
            Flush();
    }

    void Flush() {
        if (!m_text.empty())
            m_sink(m_text);
        m_text.clear();
    }

private:
    // TYPE, UNIT and HELP name the family: a counter's samples add _total to its name.
    void Header() {
        std::string name = m_family->name;
        if (std::string(m_family->type) == "counter")
            name.resize(name.size() - 6);
        m_text += "# TYPE " + name + ' ' + m_family->type + '\n';
        if (*m_family->unit != '\0')
            m_text += "# UNIT " + name + ' ' + m_family->unit + '\n';
        m_text += "# HELP " + name + ' ' + m_family->help + '\n';
        m_headerDone = true;
    }

    const std::string m_site;
    const TextSink& m_sink;
    const MetricFamilyDef* m_family = nullptr;
    bool m_headerDone = false;
    std::string m_labels;
    std::optional<std::int64_t> m_last;
    std::string m_text;
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
    out.Begin(kMetricFamilies[static_cast<std::size_t>(family)]);
    out.Series();
    PhySeries(store, out, value);
}

std::optional<std::string> CentiValue(const std::optional<std::int32_t>& centi) {
    return centi ? std::optional<std::string>(FormatHundredths(*centi, DecimalMark::Point)) : std::nullopt;
}

std::optional<std::string> IntValue(std::int64_t value, bool known) {
    return known ? std::optional<std::string>(std::to_string(value)) : std::nullopt;
}

void WriteGauges(const LineStore& store, CFamilyText& out) {
    PhyFamily(store, out, kMetricUp, [](const PhySample& s) { return IntValue(s.answered ? 1 : 0, true); });
    PhyFamily(store, out, kMetricLineUp, [](const PhySample& s) {
        const std::optional<bool> up = s.values.LineUp();
        return IntValue(up.value_or(false) ? 1 : 0, up.has_value());
    });
    PhyFamily(store, out, kMetricLineSnr, [](const PhySample& s) { return CentiValue(s.values.snrCenti); });
    PhyFamily(store, out, kMetricLineMse, [](const PhySample& s) { return CentiValue(s.values.mseCenti); });
    PhyFamily(store, out, kMetricTransmitPower, [](const PhySample& s) {
        return IntValue(s.values.txPowerDbmHz.value_or(0), s.values.txPowerDbmHz.has_value());
    });
    out.Begin(kMetricFamilies[kMetricIndicator]);
    for (int i = 0; i < kIndicatorCount; ++i) {
        out.Series(std::string(",indicator=\"") + kIndicatorDefs[static_cast<std::size_t>(i)].name + '"');
        PhySeries(store, out, [i](const PhySample& s) {
            const std::optional<bool> on = s.values.Indicator(i);
            return IntValue(on.value_or(false) ? 1 : 0, on.has_value());
        });
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
        return IntValue(static_cast<std::int64_t>(*rs.Total()), true);
    });
    CWrappingCount failures;
    PhyFamily(store, out, kMetricLinkFailuresTotal, [&failures](const PhySample& s) {
        if (!s.values.linkFailCount)
            return std::optional<std::string>();
        failures.Read(*s.values.linkFailCount);
        return IntValue(static_cast<std::int64_t>(*failures.Total()), true);
    });
}

// The Ethernet counters from the rows' totals, at the rows whose read of the counter was answered.
void WriteEthernetCounters(const LineStore& store, CFamilyText& out) {
    for (int c = 0; c < rec::kCounterCount; ++c) {
        const std::string name = EthernetCounterMetric(c);
        const MetricFamilyDef family{name.c_str(), "counter", "",
                                     kEthernetCounterHelp[static_cast<std::size_t>(c)]};
        out.Begin(family);
        out.Series();
        for (std::size_t i = 0; i < store.eth.size(); ++i) {
            const rec::EthSample& s = store.eth[i];
            if (s.answered && !(s.failedReads & 1u << c))
                out.Sample(std::to_string(s.totals[static_cast<std::size_t>(c)]), s.time.wallMs);
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
