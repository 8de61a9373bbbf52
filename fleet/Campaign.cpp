#include "fleet/Campaign.h"

#include "link/NetworkPortName.h"

#include <algorithm>
#include <list>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <thread>

namespace tessor::fleet {

namespace {

using Clock = std::chrono::steady_clock;

// How often the progress line is brought up to date while nothing else happens.
constexpr std::chrono::milliseconds kProgressPeriod{200};

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// A busy port is tried again after a pause, each pause twice the one before, while the board's deadline
// leaves room for the pause.
BoardResult RunWithRetries(const Board& board, StopToken& stop, const CampaignLimits& limits,
                           const BoardRun& run, Clock::time_point deadline) {
    std::chrono::milliseconds pause = limits.busyPause;
    std::optional<BoardResult> busy; // the last attempt that found the port busy
    for (;;) {
        BoardResult result = run(board, stop);
        // An attempt stopped while the port was still busy leaves the board busy, not stopped.
        if (result.outcome != kOutcomePortBusy)
            return busy && stop.Cancelled() ? *busy : result;
        if (stop.Cancelled() || Clock::now() + pause >= deadline || !stop.WaitFor(pause))
            return result;
        busy = std::move(result);
        pause = std::min(pause * 2, limits.busyPause * 8);
    }
}

struct Running {
    std::size_t index = 0;
    std::string server;
    Clock::time_point start;
    StopToken stop;
    bool deadlinePassed = false;
    bool finished = false; // guarded by the campaign's mutex
    BoardResult result;
    std::thread thread;
};

} // namespace

bool Succeeded(const BoardResult& result) {
    return result.outcome == kOutcomeOk;
}

bool IsVerdictFailure(const BoardResult& result) {
    return result.outcome == kOutcomeDiffers || result.outcome == kOutcomeFailed;
}

std::chrono::milliseconds DefaultDeadline(std::chrono::milliseconds plannedTime) {
    return plannedTime + std::chrono::milliseconds(60000);
}

std::string ServerOf(const std::string& port) {
    const NetworkPortParse parse = ParseNetworkPortName(port);
    return parse.kind == NetworkPortParse::Valid ? parse.name.host : port;
}

void StopToken::Cancel() {
    std::function<void()> hook;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_cancelled.exchange(true))
            return;
        hook = m_hook;
    }
    m_cv.notify_all();
    if (hook)
        hook();
}

void StopToken::OnCancel(std::function<void()> hook) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_cancelled.load()) {
            m_hook = std::move(hook);
            return;
        }
    }
    if (hook)
        hook();
}

bool StopToken::WaitFor(std::chrono::milliseconds time) {
    std::unique_lock<std::mutex> lock(m_mutex);
    return !m_cv.wait_for(lock, time, [this] { return m_cancelled.load(); });
}

std::vector<BoardResult> RunCampaign(const std::vector<Board>& boards, const std::string& command,
                                     const CampaignLimits& limits, const BoardRun& run,
                                     const CampaignHooks& hooks) {
    std::mutex mutex;
    std::condition_variable changed;
    std::list<std::unique_ptr<Running>> running;
    std::map<std::string, int> perServer;
    std::vector<bool> started(boards.size(), false);
    std::vector<BoardResult> results;
    CampaignProgress progress;
    progress.total = static_cast<int>(boards.size());
    bool stopping = false;
    auto lastProgress = Clock::now();

    const auto report = [&] {
        if (!hooks.progress)
            return;
        progress.running = static_cast<int>(running.size());
        progress.slowest.clear();
        progress.slowestSeconds = 0;
        for (const auto& r : running) {
            const double seconds = SecondsSince(r->start);
            if (progress.slowest.empty() || seconds > progress.slowestSeconds) {
                progress.slowest = boards[r->index].name;
                progress.slowestSeconds = seconds;
            }
        }
        hooks.progress(progress);
        lastProgress = Clock::now();
    };

    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
        if (!stopping && hooks.stop && hooks.stop->load()) {
            stopping = true;
            for (const auto& r : running)
                r->stop.Cancel();
        }
        // Start every board the bounds allow, in the inventory's order; a board whose server is full waits
        // without holding up those behind it.
        bool any = false;
        for (std::size_t i = 0; !stopping && i < boards.size(); ++i) {
            if (started[i] || static_cast<int>(running.size()) >= limits.jobs)
                continue;
            const std::string server = ServerOf(boards[i].port);
            if (perServer[server] >= limits.perServer)
                continue;
            started[i] = true;
            ++perServer[server];
            auto slot = std::make_unique<Running>();
            Running* r = slot.get();
            r->index = i;
            r->server = server;
            r->start = Clock::now();
            running.push_back(std::move(slot));
            r->thread = std::thread([&, r] {
                BoardResult result =
                    RunWithRetries(boards[r->index], r->stop, limits, run, r->start + limits.deadline);
                std::lock_guard<std::mutex> guard(mutex);
                r->result = std::move(result);
                r->finished = true;
                changed.notify_all();
            });
            any = true;
        }
        if (any)
            report();
        if (running.empty() &&
            (stopping || std::all_of(started.begin(), started.end(), [](bool s) { return s; })))
            break;

        auto wake = Clock::now() + kProgressPeriod;
        for (const auto& r : running) {
            if (!r->deadlinePassed)
                wake = std::min(wake, r->start + limits.deadline);
        }
        // Every board finishes while this loop waits (it holds the lock everywhere else), so a finish is
        // never missed; the predicate also covers a wake-up before any board has finished.
        changed.wait_until(lock, wake, [&] {
            return std::any_of(running.begin(), running.end(), [](const auto& r) { return r->finished; });
        });

        const auto now = Clock::now();
        for (const auto& r : running) {
            if (!r->deadlinePassed && now >= r->start + limits.deadline) {
                r->deadlinePassed = true;
                r->stop.Cancel();
            }
        }
        bool finishedAny = false;
        for (auto it = running.begin(); it != running.end();) {
            Running& r = **it;
            if (!r.finished) {
                ++it;
                continue;
            }
            // The thread set `finished` under the lock and takes it no more, so it ends without waiting on
            // us; joining with the lock held keeps a board that finishes now from notifying nobody.
            r.thread.join();
            BoardResult result = std::move(r.result);
            const Board& board = boards[r.index];
            result.board = board.name;
            result.site = board.site;
            result.port = board.port;
            result.command = command;
            result.durationSeconds = SecondsSince(r.start);
            if (r.deadlinePassed && !Succeeded(result) && result.outcome != kOutcomePortBusy) {
                result.outcome = kOutcomeDeadline;
                std::ostringstream text;
                text << "did not finish within the deadline of " << limits.deadline.count() / 1000.0
                     << " s; stopped at its next command";
                result.message = text.str();
            }
            --perServer[r.server];
            ++progress.done;
            if (!Succeeded(result))
                ++progress.failed;
            it = running.erase(it);
            if (hooks.finished)
                hooks.finished(result);
            results.push_back(std::move(result));
            finishedAny = true;
        }
        if (finishedAny || Clock::now() - lastProgress >= kProgressPeriod)
            report();
    }
    return results;
}

} // namespace tessor::fleet
