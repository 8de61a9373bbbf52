#include "ops/ProcessAccess.h"

#include <atomic>

namespace tessor {

namespace {

std::atomic<SleepFunction> g_restartSleep{ops::RealSleep};

std::int64_t RemoteRaw(const RegResult& r) {
    return r.ok() ? r.value : -1;
}

} // namespace

void SetRestartSleepForTesting(SleepFunction sleep) {
    g_restartSleep.store(sleep ? sleep : ops::RealSleep);
}

std::int64_t AccessRemoteReg(std::uint8_t op, const char* address, const char* value) {
    return RemoteRaw(ops::Remote(ProcessBus(), op, address, value));
}

std::int64_t AccessRemoteRegByte(std::uint8_t op, const char* address, std::uint8_t value) {
    return RemoteRaw(ops::RemoteByte(ProcessBus(), op, address, value));
}

bool IsLinkUp() {
    const RegResult link = ops::CheckLink(ProcessBus());
    return link.ok() && link.value == 1;
}

std::int64_t RestartModem(int target) {
    const RegResult r = ops::Restart(ProcessBus(), target, ops::DefaultSleep);
    return r.ok() ? r.value : target == kRemote ? -1 : 0;
}

} // namespace tessor

namespace tessor::ops {

void DefaultSleep(int milliseconds) {
    g_restartSleep.load()(milliseconds);
}

} // namespace tessor::ops
