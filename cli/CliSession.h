#pragma once

// The board link for one run of the command-line tool: the console transport on the chosen device, its
// worker thread, and the answers a person would give to its boxes.

#include "cli/CliPorts.h"
#include "link/ConsolePort.h"
#include "link/Hooks.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <thread>

namespace tessor::cli {

class CliSession : public IUserPrompt, public ITerminalSink {
public:
    // answerTimeoutMs: how long one exchange may take before the board counts as silent (rounded up to
    // the 5 ms poll); retries: how many more such waits the run allows before giving up.
    CliSession(std::ostream& err, int answerTimeoutMs, int retries);
    ~CliSession() override;
    CliSession(const CliSession&) = delete;
    CliSession& operator=(const CliSession&) = delete;

    // Opens the port and starts the worker; 0 on success, else the system error number.
    int Open(const ResolvedPort& port);
    const ResolvedPort& Port() const { return m_port; }

    // The board did not answer within the allowed waits; every later operation fails at once.
    bool NoComm() const;
    // An exchange whose echo came back wrong since the last call (its result reads as 0).
    bool TakeGarbled() { return m_garbled.exchange(false); }
    // Local register operations carried out so far.
    std::uint64_t LocalOperations() const { return m_localOperations.load(); }
    int AnswerTimeoutMs() const { return m_answerTimeoutMs; }
    int Retries() const { return m_retries; }

    void ShowProblem(const std::string& text) override;
    Answer AskHardwareNotResponding(const std::string& text) override;
    void QueueLine(const std::string& line, std::uint8_t op) override;
    void FlushLines() override;

private:
    std::ostream& m_err;
    int m_answerTimeoutMs;
    int m_retries;
    std::atomic<int> m_retriesLeft;
    ResolvedPort m_port;
    std::unique_ptr<CConsolePort> m_console;
    std::thread m_worker;
    std::atomic<bool> m_garbled{false};
    std::atomic<std::uint64_t> m_localOperations{0};
};

} // namespace tessor::cli
