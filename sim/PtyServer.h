#pragma once

#include "sim/SimConsole.h"
#include "sim/SimModemPair.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <ostream>
#include <string>

namespace tessor::sim {

struct PtyServerOptions {
    SimConfig sim;
    // 9600 baud: about 1.04 ms per character in each direction.
    bool pacing = true;
    double charMs = 10.0 / 9.6;
    int replyDelayMs = 0;
    // Also write the slave path to this file (rewritten after every reopen).
    std::string pathFile;
    // Keep a symbolic link with this name pointing at the current slave (a stable device name).
    std::string linkPath;
    // Fault commands are read from this FIFO (created if missing) and from standard input.
    std::string controlFifo;
    bool readStdin = true;
    // After a hang-up fault: exit, or open a new pseudo-terminal after reopenMs.
    bool exitOnHangup = false;
    int reopenMs = 1000;
    // Append every command line the board receives to this file, one line each, as it arrives.
    std::string wireLog;
};

// Serves the simulated modem pair on a pseudo-terminal: raw mode, one poll() loop, pacing at 9600 baud,
// faults switched by text commands (see ControlHelp()).
class CPtyServer {
public:
    CPtyServer(const PtyServerOptions& options, std::ostream& log);
    ~CPtyServer();
    CPtyServer(const CPtyServer&) = delete;
    CPtyServer& operator=(const CPtyServer&) = delete;

    // Opens the pseudo-terminal and the control inputs, announces the slave path on stdout.
    bool Start(std::string* error);
    const std::string& SlavePath() const { return m_slavePath; }
    // Serves until stop becomes true, or until a hang-up when exitOnHangup is set. Returns an exit status.
    int Run(const std::atomic<bool>& stop);

    // Carries out one control command ("silent on", "noise 5", ...); returns false for an unknown one.
    bool Control(const std::string& command, std::string* reply);
    static const char* ControlHelp();

private:
    using Clock = std::chrono::steady_clock;
    struct TimedByte {
        Clock::time_point due;
        char byte;
    };

    bool OpenPty(std::string* error);
    void ClosePty();
    void WatchSlaveOpens();
    bool SlaveOpenedSinceLastLook();
    void Announce();
    void ReadControl(int fd, std::string* buffer, bool* open);
    void ReceiveFromClient(Clock::time_point now);
    void RecordWire(const char* bytes, std::size_t count);
    void FeedDueInput(Clock::time_point now);
    void QueueOutput(Clock::time_point now);
    void WriteDueOutput(Clock::time_point now);
    Clock::duration CharTime() const;

    PtyServerOptions m_options;
    std::ostream& m_log;
    CSimModemPair m_pair;
    CSimConsole m_console;
    int m_master = -1;
    std::string m_slavePath;
    int m_fifo = -1;
    int m_wireLog = -1;
    std::string m_wireLine;
    bool m_stdinOpen = false;
    std::string m_stdinBuffer;
    std::string m_fifoBuffer;
    std::deque<TimedByte> m_input;
    std::deque<TimedByte> m_output;
    Clock::time_point m_rxFree;
    Clock::time_point m_txFree;
    bool m_hangupRequested = false;
    bool m_clientAbsent = false;
    // Tells when a client opens the slave while nobody has it open (-1: not available, look every 50 ms).
    int m_openWatch = -1;
    Clock::time_point m_reopenAt;
    bool m_waitingToReopen = false;
};

} // namespace tessor::sim
