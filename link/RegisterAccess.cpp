#include "link/RegisterAccess.h"

#include "link/ConsolePort.h"

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <utility>

namespace tessor {

namespace {

const char kMailboxCommand[] = "8CC0";
const char kMailboxAddressLow[] = "8CC1";
const char kMailboxAddressHigh[] = "8CC2";
const char kMailboxStatus[] = "8CC4";
const char kMailboxData[] = "8CD0";
const char kOneRegister[] = " 1";

void RealSleep(int milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

std::atomic<SleepFunction> g_restartSleep{RealSleep};

} // namespace

void SetRestartSleepForTesting(SleepFunction sleep) {
    g_restartSleep.store(sleep ? sleep : RealSleep);
}

void FormatByte(std::uint8_t value, char out[3]) {
    static const char kDigits[] = "0123456789ABCDEF";
    out[0] = kDigits[value >> 4];
    out[1] = kDigits[value & 0x0F];
    out[2] = '\0';
}

std::int64_t AccessLocalReg(std::uint8_t op, const char* address, const char* value) {
    CConsolePort* port = CurrentConsolePort();
    const std::int64_t result = port ? port->Execute(op, address, value) : 0;
    if (ITerminalSink* sink = CurrentTerminalSink())
        sink->FlushLines();
    return result;
}

std::int64_t AccessLocalRegByte(std::uint8_t op, const char* address, std::uint8_t value) {
    char text[3];
    FormatByte(value, text);
    return AccessLocalReg(op, address, text);
}

bool IsLinkUp() {
    const std::int64_t status = AccessLocalReg(kRead, kReg8C71, kOneRegister);
    const std::int64_t control = AccessLocalReg(kRead, kReg8C00, kOneRegister);
    // A cancelled read (-1) has every bit set; it says nothing about the line.
    if (status < 0 || control < 0)
        return false;
    return (status & 0xC0) != 0 && (control & 0x80) != 0;
}

std::int64_t AccessRemoteReg(std::uint8_t op, const char* address, const char* value) {
    if (!IsLinkUp())
        return -1;

    // Wait for a free mailbox, but not forever: a mailbox that stays busy fails like a remote operation
    // that never completes.
    bool mailboxFree = false;
    for (int i = 0; i < kMailboxFreeReads; ++i) {
        const std::int64_t busy = AccessLocalReg(kRead, kMailboxCommand, kOneRegister);
        if (busy < 0)
            return -1;
        if (busy == 0) {
            mailboxFree = true;
            break;
        }
    }
    if (!mailboxFree)
        return -1;

    const char high[3] = {address[0], address[1], '\0'};
    const char low[3] = {address[2], address[3], '\0'};
    const char start[3] = {'1', static_cast<char>('0' + op), '\0'};
    // Every step is sent as always; a step that failed (echo failure, cancelled time-out, no
    // communication) is remembered.
    bool stepsDone = true;
    for (const auto& step : {std::make_pair(kMailboxData, value), std::make_pair(kMailboxAddressHigh, high),
                             std::make_pair(kMailboxAddressLow, low), std::make_pair(kMailboxCommand, start)})
        stepsDone = AccessLocalReg(kWrite, step.first, step.second) == 1 && stepsDone;

    // Or, And and anything on the remote control register (which may restart the modem) do not wait:
    // nothing confirms them but their mailbox steps, so a failed step fails the operation.
    const bool waits = (op == kRead || op == kWrite) && std::strncmp(address, "8C00", 4) != 0;
    if (!waits && !stepsDone)
        return -1;
    if (waits) {
        bool completed = false;
        for (int i = 0; i < kCompletionReads && !completed; ++i) {
            const std::int64_t status = AccessLocalReg(kRead, kMailboxStatus, kOneRegister);
            completed = status >= 0 && (status & 0x0F) == op;
        }
        if (!completed)
            return -1;
    }
    if (op == kRead)
        return AccessLocalReg(kRead, kMailboxData, value);
    return 1;
}

std::int64_t AccessRemoteRegByte(std::uint8_t op, const char* address, std::uint8_t value) {
    char text[3];
    FormatByte(value, text);
    return AccessRemoteReg(op, address, text);
}

std::int64_t RestartModem(int target) {
    if (target == kRemote) {
        AccessRemoteReg(kOr, kReg8C00, "08");
        g_restartSleep.load()(kRemoteRestartPauseMs);
        return AccessRemoteReg(kOr, kReg8C00, "20");
    }
    AccessLocalReg(kOr, kReg8C00, "08");
    return AccessLocalReg(kOr, kReg8C00, "20");
}

} // namespace tessor
