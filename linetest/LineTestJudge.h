#pragma once

// The judge of a line test: the figures of the passes recorded and each criterion's result, and the
// verdict they give.

#include "linetest/LineTestResult.h"
#include "model/RawCounts.h"

#include <vector>

namespace tessor::linetest {

// The figures and verdict of a finished run (also used on its own by tests of the criteria).
void Evaluate(LineTestResult* result);

// The corrected RS errors the passes counted, the time they covered and their mean rate.
CCountedRate RsCounted(const std::vector<RsCount>& counts);

} // namespace tessor::linetest
