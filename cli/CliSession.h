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
    int AnswerTimeoutMs() const { return m_answerTimeoutMs; }
    // The error number of the last device failure (0 if none), kNetworkPortBusy among them.
    int LastDeviceError() const { return m_console ? m_console->LastDeviceError() : 0; }
    int Retries() const { return m_retries; }

    void ShowProblem(const std::string& text) override;
    Answer AskHardwareNotResponding(const std::string& text) override;

private:
    std::ostream& m_err;
    int m_answerTimeoutMs;
    int m_retries;
    std::atomic<int> m_retriesLeft;
    ResolvedPort m_port;
    std::unique_ptr<CConsolePort> m_console;
    std::mutex m_cancelMutex; // Cancel() against Open() setting up the console
    bool m_cancelled = false;
    std::thread m_worker;
};

} // namespace tessor::cli
