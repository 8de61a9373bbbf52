#pragma once

#include <cstdint>

namespace tessor {

enum Target : int { kLocal = 1, kRemote = 2 };

// Bounds of the remote mailbox waits.
constexpr int kMailboxFreeReads = 100;
constexpr int kCompletionReads = 100;

std::int64_t AccessLocalReg(std::uint8_t op, const char* address, const char* value);
std::int64_t AccessLocalRegByte(std::uint8_t op, const char* address, std::uint8_t value);
std::int64_t AccessRemoteReg(std::uint8_t op, const char* address, const char* value);
std::int64_t AccessRemoteRegByte(std::uint8_t op, const char* address, std::uint8_t value);
bool IsLinkUp();
std::int64_t RestartModem(int target);

// Two upper-case hexadecimal digits of a byte, plus a terminating zero.
void FormatByte(std::uint8_t value, char out[3]);

constexpr int kRemoteRestartPauseMs = 2000;

// How RestartModem waits between the remote steps. Tests install a recorder; null restores the real
// sleep.
using SleepFunction = void (*)(int milliseconds);
void SetRestartSleepForTesting(SleepFunction sleep);

} // namespace tessor
