#include "monitor/MetricText.h"

#include "model/PublishedNames.h"

#include <cstdio>
#include <cstring>

namespace tessor::monitor {

std::string MetricNumber(double value) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.15g", value);
    return buffer;
}

std::string MetricNumber(std::int64_t value) {
    return std::to_string(value);
}

std::string MetricNumber(std::uint64_t value) {
    return std::to_string(value);
}

std::string MetricTimestamp(std::int64_t unixMs) {
    const std::int64_t magnitude = unixMs < 0 ? -unixMs : unixMs;
    std::string fraction = std::to_string(magnitude % 1000);
    fraction.insert(0, 3 - fraction.size(), '0');
    return (unixMs < 0 ? "-" : "") + std::to_string(magnitude / 1000) + '.' + fraction;
}

void CMetricText::Begin(MetricFamily family) {
    const MetricFamilyDef& f = kMetricFamilies[static_cast<std::size_t>(family)];
    Begin(f.name, f.type, f.unit, MetricHelp(family));
}

void CMetricText::BeginEthernetCounter(int counter) {
    Begin(EthernetCounterMetric(counter), "counter", "",
          kCounterDefs[static_cast<std::size_t>(counter)].help);
}

void CMetricText::Begin(std::string name, const char* type, const char* unit, const char* help) {
    m_name = std::move(name);
    m_type = type;
    m_unit = unit;
    m_help = help;
    m_headerDone = false;
}

void CMetricText::Header() {
    if (m_dialect == MetricDialect::Prometheus) {
        m_out += "# HELP " + m_name + " " + m_help + "\n# TYPE " + m_name + " " + m_type + "\n";
    } else {
        // The family is named without the _total of its counter samples.
        std::string family = m_name;
        constexpr const char* kTotal = "_total";
        if (std::strcmp(m_type, "counter") == 0 && family.size() > std::strlen(kTotal))
            family.resize(family.size() - std::strlen(kTotal));
        m_out += "# TYPE " + family + ' ' + m_type + '\n';
        if (*m_unit != '\0')
            m_out += "# UNIT " + family + ' ' + m_unit + '\n';
        m_out += "# HELP " + family + ' ' + m_help + '\n';
    }
    m_headerDone = true;
}

void CMetricText::Sample(const std::string& value, const std::vector<Label>& extra,
                         std::optional<std::int64_t> unixMs) {
    if (!m_headerDone)
        Header();
    m_out += m_name + "{";
    bool first = true;
    for (const std::vector<Label>* labels : {&m_base, &extra}) {
        for (const Label& l : *labels) {
            m_out += first ? "" : ",";
            m_out += std::string(l.name) + "=\"" + EscapeLabelValue(l.value) + "\"";
            first = false;
        }
    }
    m_out += "} " + value;
    if (unixMs)
        m_out += ' ' + MetricTimestamp(*unixMs);
    m_out += '\n';
}

} // namespace tessor::monitor
