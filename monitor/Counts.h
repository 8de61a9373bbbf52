#pragma once

// The monitor's figures made from raw register counts (see model/RawCounts.h), fed from its passes.

#include "model/RawCounts.h"
#include "ops/PhyPass.h"

namespace tessor::monitor {

using tessor::CClearedCount;
using tessor::CWrappingCount;

// Adds the results of a PHY pass, also one that broke off: the count of 8C91..8C94 when it was answered
// (else it is lost) at the time at, and the link fail counter when it was answered.
void CountPhyPass(const ops::PhyReadResults& results, CClearedCount::Clock::time_point at,
                  CClearedCount& rsCorrected, CWrappingCount& linkFailures);

} // namespace tessor::monitor
