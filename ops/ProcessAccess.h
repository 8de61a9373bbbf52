#pragma once

// What the sequences of ops/Access.h need on the process-wide port: the sleep a restart takes between its
// remote steps, which tests replace with a recorder.

#include "ops/Access.h"

namespace tessor {

using ops::kMailboxFreeReads;
using ops::kRemoteRestartPauseMs;

// How restarts on the process-wide port wait between the remote steps. Tests install a recorder; null
// restores the real sleep.
using SleepFunction = void (*)(int milliseconds);
void SetRestartSleepForTesting(SleepFunction sleep);

} // namespace tessor

namespace tessor::ops {
// The sleep restarts use unless told otherwise: the real one, or what a test installed.
void DefaultSleep(int milliseconds);
} // namespace tessor::ops
