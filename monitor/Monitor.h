#pragma once

// The poll loop of the monitor: a PHY pass and an Ethernet pass on a fixed cadence, the identification
// and link settings at start, after each reconnection and when the line comes up; a board that does not
// answer is marked down and tried again at the next interval; a device that went away is reopened by name
// with a growing pause between tries. Each finished pass is published as a snapshot that scrapes read.

#include "model/LinePerformance.h"
#include "monitor/BoardSession.h"
#include "monitor/Counts.h"
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
    // The site and name of the board in the inventory it was listed in, labels of its series; empty: none.
    std::string site;
    std::string board;
    std::chrono::milliseconds interval{5000};
    // How long a command may go unanswered before the board counts as silent.
    std::chrono::milliseconds answerTimeout{1000};
    std::int32_t crystalHz = 25000000;
    std::chrono::milliseconds firstRetry{500};
    std::chrono::milliseconds maxRetry{10000};
    // Replaces the serial device layer; empty: the named device through termios.
    CConsolePort::DeviceOpener opener;
    // The clock that times the reads a rate is made from; empty: the steady clock (tests give their own).
    std::function<std::chrono::steady_clock::time_point()> readClock;
    // The board's SNR baseline in dB, published as it is; empty: none known.
    std::optional<double> snrBaselineDb;
    IntervalRules intervalRules;
    // The passes read runs of consecutive registers with one command each.
    bool blockReads = false;
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

    // The exposition of the last published snapshot with the poll loop's health as of now; never touches
    // the board. When the loop has been inside one pass (or one open) for over StaleAfter(), so that no
    // pass completed for that long, the board's readings are left out and it counts as down, whatever the
    // last pass said. A loop waiting for its next pass or its next try to open the device is not stale.
    std::string Exposition() const;
    // The same in two parts: the board's (shared, the same text until the next pass or until it turns
    // stale), and the poll loop's health as of now.
    std::shared_ptr<const std::string> Readings(std::string* health) const;
    Snapshot Current() const;
    // A console client's whole line, passed to the board between two commands of the poll loop; the
    // board's echo, reply and prompt in *reply when Answered. NoAnswer when no connection is open.
    Outcome PassConsoleLine(const std::string& line, std::string* reply);
    std::chrono::milliseconds StaleAfter() const { return 3 * m_options.interval + m_options.answerTimeout; }

private:
    bool Stopping() const;
    // Marks the start and the end of a pass or an open, for staleness.
    void Step(bool begin);
    // Sleeps until the time point; false when stopped meanwhile.
    bool WaitUntil(std::chrono::steady_clock::time_point when);
    bool Connect();
    void DropSession();
    void RunPass();
    bool ReadSettings(CBoardPasses& passes, Snapshot& s);
    static void MarkDown(Snapshot& s);
    void Publish(const Snapshot& s, bool passCompleted);
    // Adds the pass's raw counts to the totals and sets the RS rate.
    // at: the time of the PHY reads by the read clock.
    std::optional<double> Count(const PassResults& results, Snapshot& s,
                                std::chrono::steady_clock::time_point* at);
    // Feeds the pass to the line performance figures.
    void AddInterval(bool answered, std::chrono::steady_clock::time_point readAt, Snapshot& s);

    MonitorOptions m_options;
    PassCallback m_onPass;
    Log m_log;

    mutable std::mutex m_mutex; // guards m_stop, m_session (the pointer) and the published state
    std::condition_variable m_cv;
    bool m_stop = false;
    std::unique_ptr<CBoardSession> m_session;
    // Held by a console client while its line is under way: the session is not closed under it.
    std::mutex m_sessionUse;
    std::shared_ptr<const std::string> m_exposition;      // of m_published
    std::shared_ptr<const std::string> m_staleExposition; // of m_published without its readings
    Snapshot m_published;
    std::optional<std::chrono::steady_clock::time_point> m_lastPassEnd;
    std::optional<std::chrono::steady_clock::time_point> m_stepStart; // set while in a pass or an open

    // Poll thread only.
    Snapshot m_state;
    bool m_needSettings = true;
    CClearedCount m_rsCorrected;
    CWrappingCount m_linkFailures;
    CLinePerformance m_performance;
    std::uint64_t m_intervals = 0;    // intervals added to m_performance
    std::optional<bool> m_lastLineUp; // the line's state as last known, for "came up"
    bool m_everAnswered = false;
    bool m_lostSinceAnswer = false;
    bool m_openFailing = false;
    std::chrono::milliseconds m_retry;
    std::chrono::steady_clock::time_point m_nextOpen;
    std::chrono::steady_clock::time_point m_nextPass;
};

} // namespace tessor::monitor
