#pragma once

// The sequences of ops/Access.h on the process-wide port, in the raw form the terminal, the demo and the
// transport tests use: the value (1 for a done write), -1 for any failure of a remote operation.
// Program code takes the typed results of ops/Access.h instead.

#include "link/RegisterAccess.h"
#include "ops/Access.h"

#include <cstdint>

namespace tessor {

using ops::kCompletionReads;
using ops::kMailboxFreeReads;
using ops::kRemoteRestartPauseMs;

std::int64_t AccessRemoteReg(std::uint8_t op, const char* address, const char* value);
std::int64_t AccessRemoteRegByte(std::uint8_t op, const char* address, std::uint8_t value);
bool IsLinkUp();
// The last step's raw result: 1 when done, -1 (remote) or 0 (local) when not.
std::int64_t RestartModem(int target);

// How restarts on the process-wide port wait between the remote steps. Tests install a recorder; null
// restores the real sleep.
using SleepFunction = void (*)(int milliseconds);
void SetRestartSleepForTesting(SleepFunction sleep);

} // namespace tessor

namespace tessor::ops {
// The sleep restarts use unless told otherwise: the real one, or what a test installed.
void DefaultSleep(int milliseconds);
} // namespace tessor::ops
