#pragma once

// A campaign: one command run on many boards at once, within bounds. At most `jobs` boards run together
// and at most `perServer` of them on one console server host (a local device is its own host); a board
// that runs past its deadline is stopped at its next command; a port the server closes at once (busy) is
// tried again with growing pauses while the deadline allows. Each board's result is reported as soon as it
// is known.

#include "fleet/Inventory.h"

#include <nlohmann/json.hpp>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace tessor::fleet {

// Outcome words of a board besides the link's (OutcomeName) and those of the command's verdict.
inline constexpr const char* kOutcomeOk = "ok";
inline constexpr const char* kOutcomeDiffers = "differs";
inline constexpr const char* kOutcomeFailed = "failed";
inline constexpr const char* kOutcomePortBusy = "port_busy";
inline constexpr const char* kOutcomeDeadline = "deadline";

struct BoardResult {
    std::string board;
    std::string site;
    std::string port;
    std::string command;
    std::string outcome; // ok, differs, failed, a link outcome word, port_busy, deadline
    int exitCode = 0;    // the single-board command's
    double durationSeconds = 0;
    std::string message; // why it did not succeed; empty for ok
    // What differs or failed, in words, one line each ("DS Constellation: QAM 64 -> QAM 16"): the
    // result files show them under the message.
    std::vector<std::string> findings;
    std::string report; // the board's own report file, empty when none was written
    nlohmann::json details = nlohmann::json::object();
};

// Whether the board succeeded; whether its verdict is a failure of the board (differs, failed) rather
// than a run that could not be made (the link's words, port_busy, deadline).
bool Succeeded(const BoardResult& result);
bool IsVerdictFailure(const BoardResult& result);

// The host a board's connection counts against: the console server's host for a network port, the
// device path itself for a local device.
std::string ServerOf(const std::string& port);

// How a running board is told to stop. Cancel() runs the hook the run gave (closing its port), at once if
// it is given after the cancel; WaitFor() sleeps until the time passed or the board was cancelled.
class StopToken {
public:
    void Cancel();
    bool Cancelled() const { return m_cancelled.load(); }
    void OnCancel(std::function<void()> hook);
    // false when cancelled before the time had passed.
    bool WaitFor(std::chrono::milliseconds time);

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::atomic<bool> m_cancelled{false};
    std::function<void()> m_hook;
};

struct CampaignLimits {
    int jobs = 16;
    int perServer = 4;
    std::chrono::milliseconds deadline{60000};
    // The first pause before a busy port is tried again; each later pause doubles, up to 8 times this.
    std::chrono::milliseconds busyPause{500};
};

// The deadline of a board when none is given: a minute, on top of the time the command is planned to
// take (a line test's duration) when it has one.
std::chrono::milliseconds
DefaultDeadline(std::chrono::milliseconds plannedTime = std::chrono::milliseconds(0));

// One board's run: the same command as on one port; the result's board, site, port, command and duration
// are filled in by the campaign.
using BoardRun = std::function<BoardResult(const Board& board, StopToken& stop)>;

// What is going on, for a progress line.
struct CampaignProgress {
    int done = 0;
    int failed = 0;
    int running = 0;
    int total = 0;
    std::string slowest; // the board running longest, empty when none
    double slowestSeconds = 0;
};

struct CampaignHooks {
    // Called for each board as it finishes, one at a time.
    std::function<void(const BoardResult&)> finished;
    // Called when a board starts or finishes, and about every 200 ms while boards run.
    std::function<void(const CampaignProgress&)> progress;
    // Set (by a signal): no further board starts and the running ones are cancelled.
    const std::atomic<bool>* stop = nullptr;
};

// Runs run on every board within limits; the results of the boards that ran, in the order they finished.
std::vector<BoardResult> RunCampaign(const std::vector<Board>& boards, const std::string& command,
                                     const CampaignLimits& limits, const BoardRun& run,
                                     const CampaignHooks& hooks);

} // namespace tessor::fleet
