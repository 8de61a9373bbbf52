#pragma once

// The text of metric families, written alike by the monitor's metrics page (the Prometheus text format)
// and by the export of a recording (OpenMetrics, each sample with its time): the family's header from the
// table of published names, its samples with their labels escaped, and their numbers in one format.
// Without sockets or threads, so that tessor-cli also takes it on systems without the monitor.

#include "model/MetricNames.h"

#include <cstdint>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

namespace tessor::monitor {

struct Label {
    const char* name;
    std::string value;
};

enum class MetricDialect {
    Prometheus,  // # HELP and # TYPE under the sample name
    OpenMetrics, // # TYPE, # UNIT where the name ends in one, # HELP, under the family name (no _total)
};

// A sample's value: integers as they are, others with up to 15 significant digits ("28.79", "0.25").
std::string MetricNumber(double value);
std::string MetricNumber(std::int64_t value);
std::string MetricNumber(std::uint64_t value);
// A value that may be unknown: its text, or nothing.
template <class T> std::optional<std::string> MetricValue(const std::optional<T>& v) {
    if (!v)
        return std::nullopt;
    if constexpr (std::is_floating_point_v<T>)
        return MetricNumber(static_cast<double>(*v));
    else if constexpr (std::is_signed_v<T>)
        return MetricNumber(static_cast<std::int64_t>(*v));
    else
        return MetricNumber(static_cast<std::uint64_t>(*v));
}
// Milliseconds since 1970 as seconds with three decimals, a sample's time in the OpenMetrics text.
std::string MetricTimestamp(std::int64_t unixMs);

// Appends families to a text; a family's header is written with its first sample, so a family without
// one is left out.
class CMetricText {
public:
    CMetricText(std::string& out, std::vector<Label> base, MetricDialect dialect = MetricDialect::Prometheus)
        : m_out(out), m_base(std::move(base)), m_dialect(dialect) {}

    void Begin(MetricFamily family);
    // An Ethernet counter's family, by its place in kCounterDefs.
    void BeginEthernetCounter(int counter);

    // The family's header was written by an earlier writer of the same text.
    void SkipHeader() { m_headerDone = true; }

    // One sample: the base labels, then extra; with unixMs, the sample's time.
    void Sample(const std::string& value, const std::vector<Label>& extra = {},
                std::optional<std::int64_t> unixMs = std::nullopt);

private:
    void Begin(std::string name, const char* type, const char* unit, const char* help);
    void Header();

    std::string& m_out;
    const std::vector<Label> m_base;
    const MetricDialect m_dialect;
    std::string m_name;
    const char* m_type = "";
    const char* m_unit = "";
    const char* m_help = "";
    bool m_headerDone = false;
};

} // namespace tessor::monitor
