#include "recorder/Decimate.h"

#include <algorithm>

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

std::vector<Polyline> Decimate(const LineStore& store, Series series, std::int64_t fromMs, std::int64_t toMs,
                               int columns) {
    std::vector<Polyline> lines;
    if (toMs <= fromMs || columns <= 0)
        return lines;
    const double span = static_cast<double>(toMs - fromMs);
    // One sample either side of the range, so that lines run to the edges.
    std::size_t i = LowerBound(store, series, fromMs);
    if (i > 0)
        --i;
    const std::size_t n = SeriesSize(store, series);
    Polyline line;
    Column column;
    long current = -1;
    for (; i < n; ++i) {
        const std::int64_t t = SeriesTime(store, series, i);
        double value = 0;
        const bool has = SeriesValue(store, series, i, &value);
        if (!has || SeriesAfterGap(store, series, i)) {
            column.FlushInto(&line);
            if (!line.empty())
                lines.push_back(std::move(line));
            line.clear();
            current = -1;
        }
        if (has) {
            const long c = static_cast<long>(static_cast<double>(t - fromMs) / span * columns);
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
