#pragma once

// One poll pass as a line of the monitor's JSON output gives it to the benchmarks. A value the monitor
// did not know (null, or left out) stays unknown here: it is neither up nor down, neither fast nor slow.

#include <optional>
#include <string>

namespace tessor::bench {

struct MonitorLinePass {
    std::string port;
    std::optional<double> ms;   // the pass's duration
    std::optional<bool> lineUp; // whether the line was up
};

// Nothing when the line is not a JSON object with the port of a pass.
std::optional<MonitorLinePass> ParseMonitorLine(const std::string& line);

} // namespace tessor::bench
