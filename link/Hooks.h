#pragma once

#include <cstdint>
#include <string>

namespace tessor {

// Where the console transport hands the lines it shows. The terminal window implements it; until one
// exists the lines are dropped.
class ITerminalSink {
public:
    virtual ~ITerminalSink() = default;
    // Called on the console worker thread once per shown command or reply line; op is the operation code
    // of the command under way (5 for a silent status read, which the sink drops).
    virtual void QueueLine(const std::string& line, std::uint8_t op) = 0;
    // Called on the issuing thread after every local register operation.
    virtual void FlushLines() = 0;
};

// The two boxes the board link asks a person to answer. The application shows them on its UI thread;
// tests answer them with a fake.
class IUserPrompt {
public:
    enum class Answer { Retry, Cancel, Other };
    virtual ~IUserPrompt() = default;
    // "Problem" box with the error icon. May be called from any thread; need not block.
    virtual void ShowProblem(const std::string& text) = 0;
    // "Hardware does not respond" box with RETRY and CANCEL. Blocks until answered.
    virtual Answer AskHardwareNotResponding(const std::string& text) = 0;
    // At shutdown: questions still waiting for an answer are answered CANCEL, and new ones at once.
    virtual void AbandonQuestions() {}
};

} // namespace tessor
