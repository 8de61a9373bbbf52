#pragma once

#include "recorder/LineRecorder.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace tessor::rec {

// The values the graphs draw against time.
enum class Series {
    Snr,          // dB
    Mse,          // dB
    RsPerSecond,  // corrected RS errors per second
    TxPower,      // dBm/Hz
    LinkFail,     // link fail counter
    TxFramesRate, // frames per second
    RxFramesRate,
    TxOctetsRate, // octets per second
    RxOctetsRate,
    kCount
};

// The value of a series at one sample; false when the sample has none (no measurement, no answer).
bool SeriesValue(const LineStore& store, Series series, std::size_t index, double* value);
// Number of samples a series is drawn from and the time of one of them.
std::size_t SeriesSize(const LineStore& store, Series series);
std::int64_t SeriesTime(const LineStore& store, Series series, std::size_t index);
bool SeriesAfterGap(const LineStore& store, Series series, std::size_t index);

// The samples with a value that fall into one pixel column: their extremes, the first and the last.
struct Column {
    bool any = false;    // the column holds a sample with a value
    bool joined = false; // its first sample joins the last one before it (no gap between them)
    bool broken = false; // a gap lies between two of its own samples
    double first = 0;
    double last = 0;
    double min = 0;
    double max = 0;
    bool minFirst = false; // the lowest value came before the highest
};

// A sample outside the range that the line runs to, so that it reaches the edges of the graph.
struct Edge {
    bool any = false;
    std::int64_t wallMs = 0;
    double value = 0;
};

// A series between fromMs and toMs reduced to columns, equal slices of the range (a sample at toMs falls
// into the last). Every peak and drop stays visible as a column's extreme. A gap (samples more than the
// join limit apart, a sample without a value) leaves the next column unjoined; a column without data
// joins nothing by itself: the column after it says whether the line runs across.
struct Reduced {
    std::int64_t fromMs = 0;
    std::int64_t toMs = 0;
    std::vector<Column> columns;
    Edge before; // the last sample before the range, when the first column with data joins it
    Edge after;  // the first sample after the range, when it joins the last column with data

    // Lowest and highest value in the range; false when it holds none.
    bool Extremes(double* low, double* high) const;
};

struct Point {
    std::int64_t wallMs;
    double value;
};
// A run of points drawn joined; separate runs are separated by gaps.
using Polyline = std::vector<Point>;

// A reduced series as runs of joined points, for drawing with polylines: each column gives its first
// value, its extremes and its last value at its middle, in the order they happened, so its stroke covers
// everything it holds.
std::vector<Polyline> Runs(const Reduced& reduced);

// One pass over the samples in range, whatever the number of gaps: the work grows with the samples and
// the columns only.
Reduced Decimate(const LineStore& store, Series series, std::int64_t fromMs, std::int64_t toMs, int columns);

// The samples of a store (without its events), sharing their memory with it: take it under the
// recorder's lock, then reduce it without the lock while the poll threads go on adding samples. Read-only,
// as appending to it would write into blocks the store appends to.
std::shared_ptr<const LineStore> ShareSamples(const LineStore& store);

// First and last sample time of everything recorded; false when nothing is.
bool TimeSpan(const LineStore& store, std::int64_t* firstMs, std::int64_t* lastMs);

} // namespace tessor::rec
