#pragma once

// The poll loop of the monitor: a PHY pass and an Ethernet pass on a fixed cadence, the identification
// and link settings at start, after each reconnection and when the line comes up; a board that does not
// answer is marked down and tried again at the next interval; a device that went away is reopened by name
// with a growing pause between tries. Each finished pass is published as a snapshot that scrapes read.

#include "monitor/BoardSession.h"
#include "monitor/Snapshot.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace tessor::monitor {

struct MonitorOptions {
    std::string device;
    std::chrono::milliseconds interval{5000};
    // How long a command may go unanswered before the board counts as silent.
    std::chrono::milliseconds answerTimeout{1000};
    std::int32_t crystalHz = 25000000;
    std::chrono::milliseconds firstRetry{500};
    std::chrono::milliseconds maxRetry{10000};
    // Replaces the serial device layer; empty: the named device through termios.
    CConsolePort::DeviceOpener opener;
};

class CMonitor {
public:
    using PassCallback = std::function<void(const Snapshot&)>;
    using Log = std::function<void(const std::string&)>;

    CMonitor(MonitorOptions options, PassCallback onPass, Log log);
    ~CMonitor();
    CMonitor(const CMonitor&) = delete;
    CMonitor& operator=(const CMonitor&) = delete;

    // Polls until Stop() is called.
    void Run();
    // Ends Run() promptly, a command under way included; may be called from any thread.
    void Stop();

    // The exposition of the last published snapshot; never touches the board.
    std::shared_ptr<const std::string> Exposition() const;
    Snapshot Current() const;

private:
    bool Stopping() const;
    // Sleeps until the time point; false when stopped meanwhile.
    bool WaitUntil(std::chrono::steady_clock::time_point when);
    bool Connect();
    void DropSession();
    void RunPass();
    bool ReadSettings(CBoardPasses& passes, Snapshot& s);
    void MarkDown(Snapshot& s);
    void Publish(const Snapshot& s);

    MonitorOptions m_options;
    PassCallback m_onPass;
    Log m_log;

    mutable std::mutex m_mutex; // guards m_stop, m_session (the pointer) and the published state
    std::condition_variable m_cv;
    bool m_stop = false;
    std::unique_ptr<CBoardSession> m_session;
    std::shared_ptr<const std::string> m_exposition;
    Snapshot m_published;

    // Poll thread only.
    Snapshot m_state;
    bool m_needSettings = true;
    std::optional<bool> m_lastLineUp; // the line's state as last known, for "came up"
    bool m_everAnswered = false;
    bool m_lostSinceAnswer = false;
    bool m_openFailing = false;
    std::chrono::milliseconds m_retry;
    std::chrono::steady_clock::time_point m_nextOpen;
    std::chrono::steady_clock::time_point m_nextPass;
};

} // namespace tessor::monitor
