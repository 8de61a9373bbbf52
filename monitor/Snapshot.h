#pragma once

// Everything one scrape or one JSON line reports: the readings of the last completed pass and the
// monitor's own health figures.

#include "model/LineIntervals.h"
#include "monitor/BoardReadings.h"
#include "recorder/LineSamples.h"

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tessor::monitor {

// The results of a pass as the recorder takes them: the samples its rows are made from.
struct PassResults {
    bool phyRead = false;      // the PHY pass completed
    ops::PhyPass phy;          // the pass as the pass rule decided it
    bool ethernetRead = false; // the Ethernet pass completed
    rec::EthSample ethernet;   // the pass as the recorder takes it, with the totals after it
    // When the pass's reads ended: its recording rows carry this time, not the time the recording's
    // queue got round to them.
    rec::SampleTime at;
    // The class of the interval this pass ends as it stood after the pass; none for the first pass.
    std::optional<IntervalClass> intervalClass;
    // The place of that interval among the monitor's intervals (from 0), and whether its class is final.
    std::optional<std::uint64_t> intervalIndex;
    bool classFinal = false;
    // The intervals whose class became final with this pass (earlier ones waited for availability to be
    // decided): their index and class.
    std::vector<std::pair<std::uint64_t, IntervalClass>> decided;
};

struct Snapshot {
    std::string port; // the device name the monitor was given
    // The board's site and name when the monitor runs from an inventory; empty otherwise, and then the
    // series carry neither label.
    std::string site;
    std::string board;
    Identification id;
    bool boardUp = false; // the last pass completed with the board answering
    // Whether the line is up; unknown while the board is down or when this pass's 8C71 read was garbled.
    std::optional<bool> lineUp;
    PhyValues phy; // empty while the board is down
    // The last RS count over the real time since the read before it; unknown for the first read, for the
    // first after a read that delivered nothing, and while the board is down.
    std::optional<double> rsCorrectedPerSecond;
    LinkValues link; // empty while the board is down
    bool haveLink = false;
    EthernetTotals ethernet{}; // sums of the raw counts since the monitor started
    // Sum of the raw 8C91..8C94 counts since the monitor started; nothing before the first answered read.
    std::optional<std::uint64_t> rsCorrectedTotal;
    // Increases of the 8-bit link fail counter, over its wraps; nothing before the first value read.
    std::optional<std::uint64_t> linkFailuresTotal;
    std::optional<double> passDurationSeconds;
    std::optional<double> lastGoodPassUnixSeconds;
    double passStartUnixSeconds = 0;
    std::uint64_t passes = 0;
    std::uint64_t reconnections = 0;
    std::uint64_t timeOuts = 0;
    std::uint64_t corruptedReplies = 0;
    PassResults results; // of the last pass, for the recording
    // Line performance since the monitor started: the settled figures only, so that counters never go
    // down (the last few intervals may still wait for availability to be decided).
    IntervalFigures intervals;
    // Unix time the current sync began as the passes saw it; unknown while the line is down.
    std::optional<double> upSinceUnixSeconds;
    std::optional<double> snrBaselineDb; // configured for the board
};

// The Prometheus text exposition (version 0.0.4) of a snapshot.
std::string RenderExposition(const Snapshot& s);

// The poll loop's own health at the time of a scrape: the age of its last completed pass (left out
// before the first) and whether it is so old that the board's readings are no longer served.
std::string RenderPollHealth(const Snapshot& s, std::optional<double> lastPassAgeSeconds, bool stale);

// Passes an output had no room for.
struct OutputDropped {
    std::string output; // "jsonl", "recording"
    std::string port;   // the board it writes for; empty: every board
    std::uint64_t count = 0;
    std::string site{};  // the board's, when it comes from an inventory
    std::string board{}; // the same
};
std::string RenderOutputsDropped(const std::vector<OutputDropped>& outputs);

// Several expositions as one: the samples of each family brought together under one HELP and TYPE.
std::string MergeExpositions(const std::vector<std::string>& parts);

// One JSON object on one line, without the line end.
std::string RenderJsonLine(const Snapshot& s);

} // namespace tessor::monitor
