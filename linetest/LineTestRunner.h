#pragma once

// The run of a line test: a PHY pass and an Ethernet pass every interval for a set time, through the
// recorder, with the identification and link settings of both modems before and after. It only reads:
// nothing is written to the board.

#include "linetest/LineTestResult.h"
#include "model/RawCounts.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace tessor::linetest {

// What a front end shows while the test runs.
struct LineTestProgress {
    std::chrono::milliseconds elapsed{0};
    std::chrono::milliseconds duration{0};
    int passes = 0; // the reads before and after the passes count as passes too
    int unansweredPasses = 0;
    std::optional<bool> lineUp;
    std::optional<std::int32_t> snrCenti;
    std::optional<double> rsPerSecond; // mean so far
    std::uint64_t rsTotal = 0;
    std::string phase; // "before", "passes", "after"
};

class CLineTest {
public:
    using ProgressFn = std::function<void(const LineTestProgress&)>;

    // feed, when given, also receives every sample and note (the Line History shows them).
    CLineTest(ILineTestBoard& board, LineTestOptions options, std::shared_ptr<rec::CLineRecorder> feed = {});

    // Runs the whole test on the calling thread.
    LineTestResult Run(const ProgressFn& progress = {});
    // Ends the test after the pass under way; may be called from any thread.
    void Stop();

private:
    bool WaitUntil(std::chrono::steady_clock::time_point when);
    bool Stopping() const { return m_stop.load(); }
    void Note(const std::string& text);
    void ReadState(LineTestResult* result, BoardState* state, const char* when);
    void RunPasses(LineTestResult* result, const std::function<void(const char*)>& report);
    void AddPhy(LineTestResult* result, const PhyRead& read);
    void AddEthernet(LineTestResult* result, const EthernetRead& read);
    LineTestProgress Progress(const LineTestResult& result, const char* phase) const;

    ILineTestBoard& m_board;
    LineTestOptions m_options;
    std::shared_ptr<rec::CLineRecorder> m_feed;
    std::shared_ptr<rec::CLineRecorder> m_own;
    std::atomic<bool> m_stop{false};
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::chrono::steady_clock::time_point m_startMono;
    // The corrected RS error counter, and the last read that cleared the Ethernet counters.
    CClearedCount m_rsCorrected;
    std::optional<rec::SampleTime> m_lastEth;
};

} // namespace tessor::linetest
