#include "link/RegisterAccess.h"

#include "link/ConsolePort.h"

namespace tessor {

namespace {

// The process-wide port as a bus; after each operation, whatever its outcome, the terminal shows the lines
// it queued.
class CProcessBus : public IRegisterBus {
public:
    RegResult Exchange(std::uint8_t op, const char* address, const char* value) override {
        CConsolePort* port = g_pConsolePort.load();
        const RegResult result =
            port ? port->Exchange(op, address, value) : RegResult::Fail(Outcome::DeviceFailed);
        if (ITerminalSink* sink = g_pTerminalSink.load())
            sink->FlushLines();
        return result;
    }
};

} // namespace

IRegisterBus& ProcessBus() {
    static CProcessBus bus;
    return bus;
}

const char* OutcomeName(Outcome outcome) {
    switch (outcome) {
    case Outcome::Answered:
        return "answered";
    case Outcome::Garbled:
        return "garbled";
    case Outcome::NoAnswer:
        return "no_answer";
    case Outcome::Cancelled:
        return "cancelled";
    case Outcome::DeviceFailed:
        return "device_failed";
    case Outcome::MailboxIncomplete:
        return "mailbox_incomplete";
    case Outcome::LineDown:
        break;
    }
    return "line_down";
}

void FormatByte(std::uint8_t value, char out[3]) {
    static const char kDigits[] = "0123456789ABCDEF";
    out[0] = kDigits[value >> 4];
    out[1] = kDigits[value & 0x0F];
    out[2] = '\0';
}

} // namespace tessor
