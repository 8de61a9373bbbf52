#pragma once

// What a line test is asked to do and what it found: its options and criteria, the modems before and
// after, the figures of its passes and the verdict. The runner fills it in, the judge decides it, the
// texts and the report write it.

#include "linetest/LineTestBoard.h"
#include "model/LinePerformance.h"
#include "model/LineTestNames.h"
#include "recorder/LineRecorder.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tessor::linetest {

// The thresholds, each with the default an engineer starts from. A criterion that is off is listed as
// not checked; the board answering every pass is always checked.
struct Criteria {
    bool checkSnr = true;
    std::int32_t minSnrCenti = 3000; // hundredths of dB
    bool checkLineDrop = true;
    bool checkLinkFail = true;
    bool checkRs = true;
    double maxRsPerSecond = 10.0; // mean corrected RS errors per second
    bool checkEthernetErrors = true;
    // The passes' intervals (model/LineIntervals.h): none unavailable, and the errored and severely
    // errored shares of the available time at most these percentages. The SESR default is the G.826
    // objective (0.2 %); over a 15-minute test of 5-second passes either allows no interval of its kind,
    // over a day a few.
    bool checkUnavailable = true;
    bool checkEsr = true;
    double maxEsrPercent = 1.0;
    bool checkSesr = true;
    double maxSesrPercent = 0.2;
    // What makes an interval severely errored besides a retrain: errors of at least this share of the
    // frames received (1 % unless the operator sets another).
    IntervalRules intervalRules;
};

// What a front end accepts for the thresholds: a finite number within these bounds.
constexpr double kMinSnrHighestDb = 100.0;     // minimum SNR: 0 to 100 dB
constexpr double kMaxRsPerSecondHighest = 1e6; // mean corrected RS errors per second: 0 to a million
bool MinSnrDbAccepted(double db);
bool MaxRsPerSecondAccepted(double perSecond);
// ESR and SESR limits: a percentage from 0 to 100.
bool RatioPercentAccepted(double percent);
// The severe error threshold: a percentage from 0.0001 to 100 (model/LineIntervals.h).
bool SevereErrorPercentAccepted(double percent);
// The severe error threshold of the criteria as a percentage.
double SevereErrorPercent(const Criteria& criteria);

struct LineTestOptions {
    std::chrono::milliseconds duration{15 * 60 * 1000};
    std::chrono::milliseconds interval{5000};
    std::string site;
    std::string operatorName;
    std::string note;
    std::string toolVersion; // the program and its version, as the report names them
    Criteria criteria;
    std::int32_t crystalHz = 25000000;
    // Asked once the board has told its side (kSideLT or kSideNT), before anything else is read: a reason
    // not to test this board, or empty to go on. Empty: every side is tested.
    std::function<std::string(std::uint8_t side)> refuseSide;
};

// The criteria with their names and captions ("min_snr", "Minimum SNR") are those of model/LineTestNames.h.
using tessor::CriterionCaption;
using tessor::CriterionId;
using tessor::CriterionName;
// The check of a criterion that may be left out, or nullptr for one that is always checked.
bool* CheckOf(Criteria* criteria, CriterionId id);

struct CriterionResult {
    CriterionId id = CriterionId::Answered;
    bool checked = true;
    bool passed = false;
    std::string limit;    // "at least 30,00 dB"
    std::string measured; // "lowest 36,20 dB"; "unknown" when nothing was measured
    std::optional<rec::SampleTime> firstBreach;
};

// The modems as read before or after the passes.
struct BoardState {
    bool made = false;    // the reads were made (not for a test that ended before them)
    bool answered = true; // the board answered them (a garbled reply is an answer; a silence is not)
    rec::SampleTime time;
    std::optional<bool> lineUp;
    IdentificationRead local;
    IdentificationRead remote; // outcome LineDown when the line was not up
    LinkSettingsRead settings;
};

// Lowest, mean and highest of the values that were measured.
struct Statistic {
    std::size_t count = 0;
    double min = 0;
    double mean = 0;
    double max = 0;
};

enum class Verdict { Passed, Failed, Stopped, NotRun };

// The error counters the Ethernet criterion watches, as indices into kCounterDefs.
extern const std::array<int, 2> kWatchedErrorCounters;

// Raw counts of the Ethernet counters (each read's 32-bit register value) over the passes after the
// first, in the order of kCounterDefs.
struct EthernetCounts {
    std::array<std::uint64_t, kCounterDefCount> totals{};
};

// Corrected RS errors one pass counted, and the time since the read before it.
struct RsCount {
    rec::SampleTime time;
    std::uint64_t count = 0;
    double seconds = 0;
};

struct LineTestResult {
    LineTestOptions options;
    rec::SampleTime start;
    rec::SampleTime end;
    bool stopped = false;   // Stop() ended it before its time
    bool boardLost = false; // the link gave up: the test ended early
    std::string notRunReason;
    std::uint8_t side = kSideUnknown;
    BoardState before;
    BoardState after;

    // Every sample and event of the test, as its own recorder kept them.
    std::shared_ptr<rec::CLineRecorder> recording;

    int passes = 0; // the reads before and after the passes count as passes too
    int unansweredPasses = 0;
    int garbledPasses = 0;
    Statistic snrCenti;
    Statistic mseCenti;
    Statistic txPowerDb;
    std::vector<RsCount> rsCounts; // every pass after the first that read the counter
    std::uint64_t rsTotal = 0;     // corrected RS errors counted after the first pass
    double rsSeconds = 0;          // the time they were counted over
    std::optional<double> rsPerSecond;
    std::optional<int> linkFailFirst; // link fail counter at the first and the last pass that read it
    std::optional<int> linkFailLast;
    std::optional<int> linkFailChange;  // each pass's change over the 8-bit wrap, summed
    int microInterruptions = 0;         // passes that saw the micro interruption latched (8C98 bit 7)
    int downPasses = 0;                 // passes (the reads before and after included) that saw the line down
    std::vector<rec::SampleTime> drops; // passes that found the line down after it was up (or at start)
    EthernetCounts ethernet;            // counted after the first pass
    double ethernetSeconds = 0;

    // Each PHY pass with the Ethernet pass after it, as the interval figures take them (the reads before and
    // after the passes are not among them).
    std::vector<PassReads> passReads;
    IntervalFigures intervals; // of the intervals between those passes
    IntervalRatios ratios;

    std::vector<CriterionResult> criteria;
    Verdict verdict = Verdict::NotRun;
};

} // namespace tessor::linetest
