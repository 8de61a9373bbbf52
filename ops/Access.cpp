#include "ops/Access.h"

#include "link/ConsolePort.h"

#include <cctype>
#include <chrono>
#include <cstring>
#include <thread>
#include <utility>

namespace tessor::ops {

namespace {

const char kMailboxCommand[] = "8CC0";
const char kMailboxAddressLow[] = "8CC1";
const char kMailboxAddressHigh[] = "8CC2";
const char kMailboxStatus[] = "8CC4";
const char kMailboxData[] = "8CD0";
const char kOneRegister[] = " 1";

// A failure the waits cannot read past: the board or the program is gone, not one spoilt reply.
bool Fatal(const RegResult& r) {
    return !r.ok() && r.outcome != Outcome::Garbled;
}

// Reads 8CC0 until it shows a free mailbox (0). A garbled reply reads again.
RegResult WaitForFreeMailbox(IRegisterBus& bus) {
    for (int i = 0; i < kMailboxFreeReads; ++i) {
        const RegResult busy = bus.Exchange(kRead, kMailboxCommand, kOneRegister);
        if (Fatal(busy))
            return busy;
        if (busy.ok() && busy.value == 0)
            return busy;
    }
    return RegResult::Fail(Outcome::MailboxIncomplete);
}

// Reads 8CC4 until its low nibble shows the operation done.
RegResult WaitForCompletion(IRegisterBus& bus, std::uint8_t op) {
    for (int i = 0; i < kCompletionReads; ++i) {
        const RegResult status = bus.Exchange(kRead, kMailboxStatus, kOneRegister);
        if (Fatal(status))
            return status;
        if (status.ok() && (status.value & 0x0F) == op)
            return status;
    }
    return RegResult::Fail(Outcome::MailboxIncomplete);
}

} // namespace

void RealSleep(int milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

RegResult AccessLocalReg(IRegisterBus& bus, std::uint8_t op, const char* address, const char* value) {
    return bus.Exchange(op, address, value);
}

RegResult AccessLocalRegByte(IRegisterBus& bus, std::uint8_t op, const char* address, std::uint8_t value) {
    char text[3];
    FormatByte(value, text);
    return bus.Exchange(op, address, text);
}

RegResult IsLinkUp(IRegisterBus& bus) {
    const RegResult status = bus.Exchange(kRead, kReg8C71, kOneRegister);
    const RegResult control = bus.Exchange(kRead, kReg8C00, kOneRegister);
    if (!status.ok() || !control.ok())
        return FirstFailure(status, control);
    return RegResult::Answer((status.value & 0xC0) != 0 && (control.value & 0x80) != 0 ? 1 : 0);
}

RegResult AccessRemoteReg(IRegisterBus& bus, std::uint8_t op, const char* address, const char* value) {
    const RegResult link = IsLinkUp(bus);
    if (!link.ok())
        return link;
    if (link.value == 0)
        return RegResult::Fail(Outcome::LineDown);
    const RegResult free = WaitForFreeMailbox(bus);
    if (!free.ok())
        return free;

    const char high[3] = {address[0], address[1], '\0'};
    const char low[3] = {address[2], address[3], '\0'};
    const char start[3] = {'1', static_cast<char>('0' + op), '\0'};
    // Every step is sent as always; the first one that failed is remembered.
    RegResult steps = RegResult::Answer(1);
    for (const auto& step : {std::make_pair(kMailboxData, value), std::make_pair(kMailboxAddressHigh, high),
                             std::make_pair(kMailboxAddressLow, low), std::make_pair(kMailboxCommand, start)})
        steps = FirstFailure(steps, bus.Exchange(kWrite, step.first, step.second));

    // Or, And and anything on the remote control register (which may restart the modem) do not wait:
    // nothing confirms them but their mailbox steps.
    const bool waits = (op == kRead || op == kWrite) && std::strncmp(address, "8C00", 4) != 0;
    const RegResult done = waits ? WaitForCompletion(bus, op) : RegResult::Answer(1);
    // A failed step is the cause of whatever the wait then saw.
    if (!steps.ok())
        return steps;
    if (!done.ok())
        return done;
    if (op == kRead)
        return bus.Exchange(kRead, kMailboxData, value);
    return RegResult::Answer(1);
}

bool IsRemoteReadStep(const std::string& address, const std::string& value) {
    std::string upper;
    for (const char c : address)
        upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (upper == kMailboxData || upper == kMailboxAddressHigh || upper == kMailboxAddressLow)
        return true;
    const std::size_t first = value.find_first_not_of(" \t");
    const std::string bare = first == std::string::npos
                                 ? std::string()
                                 : value.substr(first, value.find_last_not_of(" \t") - first + 1);
    const char startRead[3] = {'1', static_cast<char>('0' + kRead), '\0'};
    return upper == kMailboxCommand && bare == startRead;
}

RegResult AccessRemoteRegByte(IRegisterBus& bus, std::uint8_t op, const char* address, std::uint8_t value) {
    char text[3];
    FormatByte(value, text);
    return AccessRemoteReg(bus, op, address, text);
}

RegResult OnTarget(IRegisterBus& bus, int target, std::uint8_t op, const char* address, const char* value) {
    return target == kRemote ? AccessRemoteReg(bus, op, address, value)
                             : AccessLocalReg(bus, op, address, value);
}

RegResult RestartModem(IRegisterBus& bus, int target, const Sleeper& sleep) {
    const RegResult first = OnTarget(bus, target, kOr, kReg8C00, "08");
    if (target == kRemote && sleep)
        sleep(kRemoteRestartPauseMs);
    return FirstFailure(first, OnTarget(bus, target, kOr, kReg8C00, "20"));
}

} // namespace tessor::ops
