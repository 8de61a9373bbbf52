#pragma once

// One connection to the board for the monitor: the console transport on the named device with its worker
// thread, as the bus the monitor's passes run on. A connection that timed out or whose device went away is
// not used again; the monitor opens a new one by name.

#include "link/ConsolePort.h"
#include "monitor/BoardPasses.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace tessor::monitor {

class CBoardSession : public IRegisterBus {
public:
    using Log = std::function<void(const std::string&)>;

    // Opens the device (a symbolic link is followed now) and starts the worker. A board that does not
    // answer within answerTimeout counts as a time-out. Null with *error set when the device cannot be
    // opened. A given opener replaces the serial device layer (tests use the in-memory simulator).
    static std::unique_ptr<CBoardSession> Open(const std::string& device,
                                               std::chrono::milliseconds answerTimeout, Log log,
                                               std::string* error,
                                               const CConsolePort::DeviceOpener& opener = {});
    ~CBoardSession() override;
    CBoardSession(const CBoardSession&) = delete;
    CBoardSession& operator=(const CBoardSession&) = delete;

    // One register operation on the board; garbled replies are counted.
    RegResult Exchange(std::uint8_t op, const char* address, const char* value) override;
    bool ConnectionBroken() const;
    // Another client's whole console line, between two of the monitor's commands; not counted.
    Outcome PassLine(const std::string& line, std::string* reply) { return m_port->PassLine(line, reply); }

    bool TimedOut() const { return m_state->timedOut.load(); }
    bool DeviceLost() const { return m_state->deviceLost.load(); }
    // Garbled replies (a wrong echo, or not the answer asked for) seen on this connection so far.
    std::uint64_t CorruptedReplies() const { return m_state->corrupted.load(); }
    // Time-outs seen on this connection (at most one: the connection is not used after it).
    std::uint64_t TimeOuts() const { return m_state->timeOuts.load(); }
    // The device the name led to when it was opened.
    const std::string& ResolvedPath() const { return m_resolved; }

    // Ends a command under way at once; may be called from any thread.
    void Interrupt();

    // What the transport, its prompts and its terminal lines report, shared with the device wrapper.
    struct State {
        std::atomic<bool> timedOut{false};
        std::atomic<bool> deviceLost{false};
        std::atomic<bool> interrupted{false};
        std::atomic<std::uint64_t> corrupted{0};
        std::atomic<std::uint64_t> timeOuts{0};
        Log log;
        // Called once when the device fails: ends the command under way without waiting for its time-out.
        std::function<void()> onLost;
    };

private:
    CBoardSession() = default;

    std::shared_ptr<State> m_state;
    std::unique_ptr<IUserPrompt> m_prompt;
    std::unique_ptr<CConsolePort> m_port;
    std::thread m_worker;
    std::string m_resolved;
};

} // namespace tessor::monitor
