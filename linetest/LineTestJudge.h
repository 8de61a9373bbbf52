#pragma once

// The judge of a line test: the figures of the passes recorded and each criterion's result, and the
// verdict they give.

#include "linetest/LineTestResult.h"

namespace tessor::linetest {

// The figures and verdict of a finished run (also used on its own by tests of the criteria).
void Evaluate(LineTestResult* result);

} // namespace tessor::linetest
