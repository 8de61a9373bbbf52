#pragma once

// Register operations in tests, their results checked whole: EXPECT_EQ(LocalReg(kRead, "8C10", " 1"),
// Answered(0x32)) compares the outcome and the value together, so a failure never passes for a register
// that reads 0, and a mismatch prints both.

#include "link/RegisterBus.h"
#include "ops/Access.h"
#include "ops/ProcessAccess.h"

#include <cstdint>
#include <ostream>

namespace tessor {

inline void PrintTo(const RegResult& r, std::ostream* os) {
    *os << OutcomeName(r.outcome) << " value 0x" << std::hex << std::uppercase << r.value << std::nouppercase
        << std::dec;
    if (!r.reply.empty())
        *os << " reply \"" << r.reply << '"';
}

namespace test {

// What a test expects of an operation; the reply text of a garbled result is checked on its own.
struct Expected {
    Outcome outcome;
    std::int64_t value;
};

inline Expected Answered(std::int64_t value) {
    return {Outcome::Answered, value};
}
// A failure carries no value: it reads 0, never a number that could pass for a register's.
inline Expected Failed(Outcome outcome) {
    return {outcome, 0};
}

inline bool operator==(const RegResult& r, const Expected& e) {
    return r.outcome == e.outcome && r.value == e.value;
}

// Nothing came from the board: a time-out or a failed device, and no value. (Which of the two can depend
// on whether the worker met the failure before the caller's wait ran out.)
inline bool NothingFromTheBoard(const RegResult& r) {
    return (r.outcome == Outcome::NoAnswer || r.outcome == Outcome::DeviceFailed) && r.value == 0;
}

inline void PrintTo(const Expected& e, std::ostream* os) {
    *os << OutcomeName(e.outcome) << " value 0x" << std::hex << std::uppercase << e.value << std::nouppercase
        << std::dec;
}

// One local operation on the process-wide port, as the window code makes it (the terminal flushed after).
inline RegResult LocalReg(std::uint8_t op, const char* address, const char* value) {
    return ProcessBus().Exchange(op, address, value);
}
inline RegResult LocalRegByte(std::uint8_t op, const char* address, std::uint8_t value) {
    return ops::AccessLocalRegByte(ProcessBus(), op, address, value);
}

// The remote modem, the line check and the restart on the process-wide port, as the window code runs them.
inline RegResult RemoteReg(std::uint8_t op, const char* address, const char* value) {
    return ops::AccessRemoteReg(ProcessBus(), op, address, value);
}
inline RegResult RemoteRegByte(std::uint8_t op, const char* address, std::uint8_t value) {
    return ops::AccessRemoteRegByte(ProcessBus(), op, address, value);
}
inline RegResult LinkCheck() {
    return ops::IsLinkUp(ProcessBus());
}
inline RegResult RestartOn(int target) {
    return ops::RestartModem(ProcessBus(), target, ops::DefaultSleep);
}
// The line check's two answers.
inline Expected LinkUp() {
    return Answered(1);
}
inline Expected LinkDown() {
    return Answered(0);
}

} // namespace test
} // namespace tessor
