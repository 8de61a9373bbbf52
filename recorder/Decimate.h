#pragma once

#include "recorder/LineRecorder.h"

#include <cstdint>
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

struct Point {
    std::int64_t wallMs;
    double value;
};

// A run of points drawn joined; separate runs are separated by gaps.
using Polyline = std::vector<Point>;

// The value of a series at one sample; false when the sample has none (no measurement, no answer).
bool SeriesValue(const LineStore& store, Series series, std::size_t index, double* value);
// Number of samples a series is drawn from and the time of one of them.
std::size_t SeriesSize(const LineStore& store, Series series);
std::int64_t SeriesTime(const LineStore& store, Series series, std::size_t index);
bool SeriesAfterGap(const LineStore& store, Series series, std::size_t index);

// The samples of a series between fromMs and toMs, reduced to at most two points per column (its
// minimum and maximum, in the order they occurred) for columns equal slices of the range, so that every
// peak and drop stays visible. A gap (samples too far apart, a sample without a value) ends a polyline.
std::vector<Polyline> Decimate(const LineStore& store, Series series, std::int64_t fromMs, std::int64_t toMs,
                               int columns);

// First and last sample time of everything recorded; false when nothing is.
bool TimeSpan(const LineStore& store, std::int64_t* firstMs, std::int64_t* lastMs);

} // namespace tessor::rec
