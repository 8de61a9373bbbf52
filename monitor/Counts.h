#pragma once

// The monitor's figures made from raw register counts (see model/RawCounts.h), fed from its passes by the
// one counting rule of the operations layer.

#include "model/RawCounts.h"
#include "ops/PhyPass.h"

namespace tessor::monitor {

using ops::CountPhyPass;
using tessor::CClearedCount;
using tessor::CWrappingCount;

} // namespace tessor::monitor
