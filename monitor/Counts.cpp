#include "monitor/Counts.h"

namespace tessor::monitor {

void CountPhyPass(const ops::PhyReadResults& results, CClearedCount::Clock::time_point at,
                  CClearedCount& rsCorrected, CWrappingCount& linkFailures) {
    // A count the board answered was cleared on the board: it counts even when the pass broke off later.
    if (results.rsCorrected.ok())
        rsCorrected.Read(static_cast<std::uint32_t>(results.rsCorrected.value), at);
    else
        rsCorrected.Lost();
    if (results.linkFailCount.ok())
        linkFailures.Read(static_cast<std::uint8_t>(results.linkFailCount.value & 0xFF));
}

} // namespace tessor::monitor
