#include "recorder/Decimate.h"

#include <algorithm>
#include <cmath>

namespace tessor::rec {

namespace {

bool IsPhySeries(Series s) {
    return s == Series::Snr || s == Series::Mse || s == Series::RsPerSecond || s == Series::TxPower ||
           s == Series::LinkFail;
}

int CounterOf(Series s) {
    switch (s) {
    case Series::TxFramesRate:
        return kTxFrames;
    case Series::RxFramesRate:
        return kRxFrames;
    case Series::TxOctetsRate:
        return kTxOctets;
    default:
        return kRxOctets;
    }
}

// First sample at or after ms (samples are in time order).
std::size_t LowerBound(const LineStore& store, Series series, std::int64_t ms) {
    std::size_t lo = 0;
    std::size_t hi = SeriesSize(store, series);
    while (lo < hi) {
        const std::size_t mid = lo + (hi - lo) / 2;
        if (SeriesTime(store, series, mid) < ms)
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo;
}

// One column's extremes, kept in the order they occurred.
struct Column {
    bool any = false;
    Point min{0, 0};
    Point max{0, 0};

    void Add(const Point& p) {
        if (!any) {
            min = max = p;
            any = true;
            return;
        }
        if (p.value < min.value)
            min = p;
        if (p.value > max.value)
            max = p;
    }

    void FlushInto(Polyline* line) {
        if (!any)
            return;
        if (min.wallMs <= max.wallMs) {
            line->push_back(min);
            if (max.wallMs != min.wallMs || max.value != min.value)
                line->push_back(max);
        } else {
            line->push_back(max);
            line->push_back(min);
        }
        any = false;
    }
};

} // namespace

std::size_t SeriesSize(const LineStore& store, Series series) {
    return IsPhySeries(series) ? store.phy.size() : store.eth.size();
}

std::int64_t SeriesTime(const LineStore& store, Series series, std::size_t index) {
    return IsPhySeries(series) ? store.phy[index].time.wallMs : store.eth[index].time.wallMs;
}

bool SeriesAfterGap(const LineStore& store, Series series, std::size_t index) {
    return IsPhySeries(series) ? store.phy[index].afterGap : store.eth[index].afterGap;
}

bool SeriesValue(const LineStore& store, Series series, std::size_t index, double* value) {
    std::int32_t v = kNoValue;
    switch (series) {
    case Series::Snr:
        v = store.phy[index].snrCenti;
        if (v != kNoValue)
            *value = v / 100.0;
        return v != kNoValue;
    case Series::Mse:
        v = store.phy[index].mseCenti;
        if (v != kNoValue)
            *value = v / 100.0;
        return v != kNoValue;
    case Series::RsPerSecond:
        v = store.phy[index].rsPerSecond;
        break;
    case Series::TxPower:
        v = store.phy[index].txPowerDb;
        break;
    case Series::LinkFail:
        v = store.phy[index].linkFailCount;
        break;
    default:
        return CounterRate(store, index, CounterOf(series), value);
    }
    if (v == kNoValue)
        return false;
    *value = v;
    return true;
}

namespace {

// The decimation over one kind of samples; at(i, &t, &value, &afterGap) says whether sample i has a value.
template <typename At>
std::vector<Polyline> DecimateSamples(std::size_t n, std::size_t first, std::int64_t fromMs,
                                      std::int64_t toMs, int columns, const At& at) {
    std::vector<Polyline> lines;
    const double perMs = static_cast<double>(columns) / static_cast<double>(toMs - fromMs);
    Polyline line;
    Column column;
    long current = -1;
    for (std::size_t i = first; i < n; ++i) {
        std::int64_t t = 0;
        double value = 0;
        bool afterGap = false;
        const bool has = at(i, &t, &value, &afterGap);
        if (!has || afterGap) {
            column.FlushInto(&line);
            if (!line.empty())
                lines.push_back(std::move(line));
            line.clear();
            current = -1;
        }
        if (has) {
            const long c = static_cast<long>(std::floor(static_cast<double>(t - fromMs) * perMs));
            if (c != current) {
                column.FlushInto(&line);
                current = c;
            }
            column.Add(Point{t, value});
        }
        if (t > toMs)
            break;
    }
    column.FlushInto(&line);
    if (!line.empty())
        lines.push_back(std::move(line));
    return lines;
}

// A PHY value held in hundredths (scale 0.01) or as it is (scale 1).
std::vector<Polyline> DecimatePhy(const LineStore& store, std::int32_t PhySample::*field, double scale,
                                  std::size_t first, std::int64_t fromMs, std::int64_t toMs, int columns) {
    return DecimateSamples(store.phy.size(), first, fromMs, toMs, columns,
                           [&](std::size_t i, std::int64_t* t, double* value, bool* afterGap) {
                               const PhySample& s = store.phy[i];
                               *t = s.time.wallMs;
                               *afterGap = s.afterGap;
                               const std::int32_t v = s.*field;
                               *value = v * scale;
                               return v != kNoValue;
                           });
}

} // namespace

std::vector<Polyline> Decimate(const LineStore& store, Series series, std::int64_t fromMs, std::int64_t toMs,
                               int columns) {
    if (toMs <= fromMs || columns <= 0)
        return {};
    // One sample either side of the range, so that lines run to the edges.
    std::size_t first = LowerBound(store, series, fromMs);
    if (first > 0)
        --first;
    switch (series) {
    case Series::Snr:
        return DecimatePhy(store, &PhySample::snrCenti, 0.01, first, fromMs, toMs, columns);
    case Series::Mse:
        return DecimatePhy(store, &PhySample::mseCenti, 0.01, first, fromMs, toMs, columns);
    case Series::RsPerSecond:
        return DecimatePhy(store, &PhySample::rsPerSecond, 1, first, fromMs, toMs, columns);
    case Series::TxPower:
        return DecimatePhy(store, &PhySample::txPowerDb, 1, first, fromMs, toMs, columns);
    case Series::LinkFail:
        return DecimatePhy(store, &PhySample::linkFailCount, 1, first, fromMs, toMs, columns);
    default:
        break;
    }
    const int counter = CounterOf(series);
    return DecimateSamples(store.eth.size(), first, fromMs, toMs, columns,
                           [&](std::size_t i, std::int64_t* t, double* value, bool* afterGap) {
                               const EthSample& s = store.eth[i];
                               *t = s.time.wallMs;
                               *afterGap = s.afterGap;
                               return CounterRate(store, i, counter, value);
                           });
}

bool TimeSpan(const LineStore& store, std::int64_t* firstMs, std::int64_t* lastMs) {
    bool any = false;
    auto take = [&](std::int64_t t) {
        *firstMs = any ? std::min(*firstMs, t) : t;
        *lastMs = any ? std::max(*lastMs, t) : t;
        any = true;
    };
    if (!store.phy.empty()) {
        take(store.phy[0].time.wallMs);
        take(store.phy.back().time.wallMs);
    }
    if (!store.eth.empty()) {
        take(store.eth[0].time.wallMs);
        take(store.eth.back().time.wallMs);
    }
    if (!store.events.empty()) {
        take(store.events.front().time.wallMs);
        take(store.events.back().time.wallMs);
    }
    return any;
}

} // namespace tessor::rec
