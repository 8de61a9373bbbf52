#include "ops/ProcessAccess.h"

#include <atomic>

namespace tessor {

namespace {

std::atomic<SleepFunction> g_restartSleep{ops::RealSleep};

} // namespace

void SetRestartSleepForTesting(SleepFunction sleep) {
    g_restartSleep.store(sleep ? sleep : ops::RealSleep);
}

} // namespace tessor

namespace tessor::ops {

void DefaultSleep(int milliseconds) {
    g_restartSleep.load()(milliseconds);
}

} // namespace tessor::ops
