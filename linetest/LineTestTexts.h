#pragma once

// The texts of a line test the journal, the report and the front ends write alike.

#include "linetest/LineTestResult.h"

#include <chrono>
#include <string>

namespace tessor::linetest {

const char* VerdictText(Verdict verdict); // "PASSED", "FAILED", "STOPPED", "NOT RUN"
const char* VerdictName(Verdict verdict); // "passed", ...
// "15 min", "90 s", "1 h 30 min".
std::string DurationText(std::chrono::milliseconds duration);
// Local time "2026-12-09 10:15:02" of a sample time.
std::string TimeText(const rec::SampleTime& time);
// Offset from the start: "+01:05".
std::string OffsetText(const rec::SampleTime& start, const rec::SampleTime& time);

} // namespace tessor::linetest
