#pragma once

// A recording as OpenMetrics text, for backfilling a Prometheus server: the monitor's metric names with a
// site label, each sample at the wall-clock time of its row.

#include "recorder/LineRecorder.h"

#include <functional>
#include <string>

namespace tessor::cli {

// Receives the text in pieces, in order.
using TextSink = std::function<void(const std::string&)>;

// Writes every family with a sample: gauges from each PHY row's values (a value the row does not know is
// left out), counters from the Ethernet rows' totals and from the raw RS and link fail counts summed over
// the rows. A series never goes back in time: a row whose time is not after the series' last sample (the
// clock was set back) is left out of it. Bytes of the site that are not UTF-8 are replaced by U+FFFD.
// Ends with "# EOF".
void WriteOpenMetrics(const rec::LineStore& store, const std::string& site, const TextSink& sink);

} // namespace tessor::cli
