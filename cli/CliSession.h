#pragma once

// The board link for one run of the command-line tool: the console transport on the chosen device, its
// worker thread, and the answers a person would give to its boxes.

#include "cli/CliPorts.h"
#include "link/ConsolePort.h"
#include "link/Hooks.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>

namespace tessor::cli {

class CliSession : public IUserPrompt {
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
    // From another thread: the operation in progress ends as cancelled and every later one fails at once.
    void Cancel();

    // The board did not answer within the allowed waits; every later operation fails at once.
    bool NoComm() const;
    // The console port as the bus the operations run on; a bus whose every operation fails before Open.
    IRegisterBus& Bus();
    // Whether the board has answered any operation of this session.
    bool AnyAnswer() const { return m_bus.answered.load(); }
    int AnswerTimeoutMs() const { return m_answerTimeoutMs; }
    int Retries() const { return m_retries; }

    void ShowProblem(const std::string& text) override;
    Answer AskHardwareNotResponding(const std::string& text) override;

private:
    // The console port, noting whether any operation was answered.
    class NotingBus : public IRegisterBus {
    public:
        RegResult Exchange(std::uint8_t op, const char* address, const char* value) override;
        IRegisterBus* console = nullptr;
        std::atomic<bool> answered{false};
    };

    std::ostream& m_err;
    int m_answerTimeoutMs;
    int m_retries;
    std::atomic<int> m_retriesLeft;
    ResolvedPort m_port;
    std::unique_ptr<CConsolePort> m_console;
    std::mutex m_cancelMutex; // Cancel() against Open() setting up the console
    bool m_cancelled = false;
    std::thread m_worker;
    NotingBus m_bus;
};

} // namespace tessor::cli
