#pragma once

// What one register operation delivered: its value together with what happened. The operations layer
// talks to an IRegisterBus; the console port implements it, tests implement it with a scripted fake.

#include <cstdint>
#include <string>
#include <vector>

namespace tessor {

enum class Outcome : std::uint8_t {
    Answered,          // the board answered; the value is the register's
    Garbled,           // the echo or the reply came back wrong
    NoAnswer,          // no answer within the wait (or the transport has given up after one)
    Cancelled,         // stopped: the program is shutting down or the caller asked to stop
    DeviceFailed,      // the serial device failed or is gone
    MailboxIncomplete, // remote: the local modem's mailbox did not complete the operation
    LineDown,          // remote: the line is down, so the remote modem cannot be reached
};

// A short machine name for each outcome ("answered", "garbled", "no_answer", ...).
const char* OutcomeName(Outcome outcome);

struct RegResult {
    std::int64_t value = 0; // meaningful only when answered
    Outcome outcome = Outcome::NoAnswer;
    std::string reply; // garbled: the reply as it came back (echo included), for the error message
    // An answered read: the byte of each register it read, the first register first. The value keeps only
    // fifteen hexadecimal digits, so of an eight-register read the last register's high digit is here alone.
    std::vector<std::uint8_t> bytes;

    bool ok() const { return outcome == Outcome::Answered; }
    static RegResult Answer(std::int64_t v) { return {v, Outcome::Answered, {}, {}}; }
    static RegResult Fail(Outcome o) { return {0, o, {}, {}}; }
};

// The first failure of two results, else the second.
inline RegResult FirstFailure(const RegResult& first, const RegResult& second) {
    return first.ok() ? second : first;
}

// One local register operation on the console: op 1 read, 2 write, 3 or, 4 and; the value text is the
// count text (" 1", "04") for a read and the byte's two digits otherwise.
class IRegisterBus {
public:
    virtual ~IRegisterBus() = default;
    virtual RegResult Exchange(std::uint8_t op, const char* address, const char* value) = 0;
};

// The process-wide console port as a bus (the window code's port); a device failure while none is set.
IRegisterBus& ProcessBus();

} // namespace tessor
