#pragma once

// Published metric families: the names, types and units that the monitor's exposition and the recording
// export both write. A family's HELP text is that of the published value it carries (MetricHelp in
// PublishedNames.h), an Ethernet counter's that of its row in kCounterDefs.

#include "model/LineVocabulary.h"

#include <array>
#include <string>

namespace tessor {

enum MetricFamily {
    kMetricUp,
    kMetricLineUp,
    kMetricLineSnr,
    kMetricLineMse,
    kMetricTransmitPower,
    kMetricIndicator,
    kMetricRsCorrectedTotal,
    kMetricLinkFailuresTotal,
    kMetricBoardInfo,
    kMetricLineRate,
    kMetricCarrierFrequency,
    kMetricPollDuration,
    kMetricLastGoodPass,
    kMetricPollPasses,
    kMetricReconnections,
    kMetricTimeouts,
    kMetricCorruptedReplies,
    kMetricLastPassAge,
    kMetricPollStale,
    kMetricOutputDropped,
    // Line performance by interval (LineIntervals.h)
    kMetricErroredIntervals,
    kMetricSeverelyErroredIntervals,
    kMetricUnavailableIntervals,
    kMetricFecIntervals,
    kMetricUnmeasuredIntervals,
    kMetricErroredSeconds,
    kMetricSeverelyErroredSeconds,
    kMetricUnavailableSeconds,
    kMetricUpSince,
    kMetricAvailableSeconds,
    kMetricSnrBaseline,
    // The console shared through the monitor
    kMetricConsoleSessions,
    kMetricConsoleClientsRefused,
    kMetricConsoleCommandsPassed,
    kMetricConsoleCommandsRefused,
    kMetricFamilyCount
};

struct MetricFamilyDef {
    const char* name; // the sample name; a counter's ends in _total
    const char* type; // "gauge" or "counter"
    const char* unit; // the unit the name ends in, empty when it names none
};
extern const std::array<MetricFamilyDef, kMetricFamilyCount> kMetricFamilies;

// An Ethernet counter's metric: its machine name with the tessor_ prefix and the _total suffix.
std::string EthernetCounterMetric(int counter);

// A label value as the text formats write it between its quotes: backslash, quote and line feed escaped.
std::string EscapeLabelValue(const std::string& value);

} // namespace tessor
