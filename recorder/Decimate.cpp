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
        return kCounterTxFrames;
    case Series::RxFramesRate:
        return kCounterRxFrames;
    case Series::TxOctetsRate:
        return kCounterTxOctets;
    default:
        return kCounterRxOctets;
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

namespace {

// A PHY series' value in its unit; empty when the sample has none.
std::optional<double> PhySeriesValue(const PhySample& s, Series series) {
    const PhyValues& v = s.values;
    const auto scaled = [](const std::optional<std::int32_t>& value,
                           double divisor) -> std::optional<double> {
        if (!value)
            return std::nullopt;
        return *value / divisor;
    };
    switch (series) {
    case Series::Snr:
        return scaled(v.snrCenti, 100.0);
    case Series::Mse:
        return scaled(v.mseCenti, 100.0);
    case Series::RsPerSecond:
        return scaled(s.rsCentiPerSecond, 100.0);
    case Series::TxPower:
        return scaled(v.txPowerDbmHz, 1.0);
    default:
        if (!v.linkFailCount)
            return std::nullopt;
        return static_cast<double>(*v.linkFailCount);
    }
}

} // namespace

bool SeriesValue(const LineStore& store, Series series, std::size_t index, double* value) {
    if (!IsPhySeries(series))
        return CounterRate(store, index, CounterOf(series), value);
    const std::optional<double> v = PhySeriesValue(store.phy[index], series);
    if (v)
        *value = *v;
    return v.has_value();
}

namespace {

// Reduces one series, fed its samples in time order from the one before the range on.
class CReducer {
public:
    CReducer(Series series, std::int64_t fromMs, std::int64_t toMs, int columns) : m_series(series) {
        m_out.fromMs = fromMs;
        m_out.toMs = toMs;
        m_out.columns.resize(static_cast<std::size_t>(columns));
        m_perMs = static_cast<double>(columns) / static_cast<double>(toMs - fromMs);
    }

    // Takes samples [begin, end); stops at the first sample after the range.
    void Feed(const LineStore& store, std::size_t begin, std::size_t end) {
        if (IsPhySeries(m_series))
            return FeedPhy(store, begin, end);
        const int counter = CounterOf(m_series);
        for (std::size_t i = begin; i < end && !m_done; ++i) {
            const EthSample& s = store.eth[i];
            double value = 0;
            const bool has = CounterRate(store, i, counter, &value);
            Add(s.time.wallMs, has, value, s.afterGap);
        }
    }

    Reduced Take() {
        auto first =
            std::find_if(m_out.columns.begin(), m_out.columns.end(), [](const Column& c) { return c.any; });
        // The edge before is drawn only when the line runs from it into the range.
        if (first != m_out.columns.end() ? !first->joined : !m_out.after.any)
            m_out.before.any = false;
        return std::move(m_out);
    }

private:
    void FeedPhy(const LineStore& store, std::size_t begin, std::size_t end) {
        for (std::size_t i = begin; i < end && !m_done; ++i) {
            const PhySample& s = store.phy[i];
            const std::optional<double> v = PhySeriesValue(s, m_series);
            Add(s.time.wallMs, v.has_value(), v.value_or(0.0), s.afterGap);
        }
    }

    void Add(std::int64_t t, bool has, double value, bool afterGap) {
        const bool joined = has && m_linked && !afterGap;
        if (t > m_out.toMs) {
            if (joined)
                m_out.after = Edge{true, t, value};
            m_done = true;
            return;
        }
        m_linked = has; // a sample without a value breaks the line
        if (!has)
            return;
        if (t < m_out.fromMs) {
            m_out.before = Edge{true, t, value};
            return;
        }
        const auto last = static_cast<long>(m_out.columns.size()) - 1;
        const long c = std::min(static_cast<long>(static_cast<double>(t - m_out.fromMs) * m_perMs), last);
        Column& column = m_out.columns[static_cast<std::size_t>(c)];
        if (!column.any) {
            column = Column{true, joined, false, value, value, value, value, false};
            return;
        }
        column.broken = column.broken || !joined;
        column.last = value;
        if (value < column.min) {
            column.min = value;
            column.minFirst = false;
        } else if (value > column.max) {
            column.max = value;
            column.minFirst = true;
        }
    }

    Series m_series;
    Reduced m_out;
    double m_perMs = 0;
    bool m_linked = false; // the last sample had a value, so the next one may join it
    bool m_done = false;
};

// The first sample to feed: the one before the range, so that lines run to the edge.
std::size_t FirstToFeed(const LineStore& store, Series series, std::int64_t fromMs) {
    const std::size_t first = LowerBound(store, series, fromMs);
    return first > 0 ? first - 1 : 0;
}

} // namespace

bool Reduced::Extremes(double* low, double* high) const {
    bool any = false;
    for (const Column& c : columns) {
        if (!c.any)
            continue;
        *low = any ? std::min(*low, c.min) : c.min;
        *high = any ? std::max(*high, c.max) : c.max;
        any = true;
    }
    if (!any && before.any && after.any) { // the line crosses the range without a sample in it
        *low = std::min(before.value, after.value);
        *high = std::max(before.value, after.value);
        any = true;
    }
    return any;
}

Reduced Decimate(const LineStore& store, Series series, std::int64_t fromMs, std::int64_t toMs, int columns) {
    if (toMs <= fromMs || columns <= 0)
        return Reduced{fromMs, toMs, {}, {}, {}};
    CReducer reducer(series, fromMs, toMs, columns);
    reducer.Feed(store, FirstToFeed(store, series, fromMs), SeriesSize(store, series));
    return reducer.Take();
}

std::vector<Polyline> Runs(const Reduced& r) {
    std::vector<Polyline> runs;
    const std::size_t n = r.columns.size();
    auto add = [&](bool startsRun, std::int64_t t, double v) {
        if (startsRun || runs.empty())
            runs.emplace_back();
        if (runs.back().empty() || runs.back().back().wallMs != t || runs.back().back().value != v)
            runs.back().push_back(Point{t, v});
    };
    if (r.before.any)
        add(true, r.before.wallMs, r.before.value);
    bool open = r.before.any;
    for (std::size_t c = 0; c < n; ++c) {
        const Column& column = r.columns[c];
        if (!column.any)
            continue;
        const auto t = r.fromMs + static_cast<std::int64_t>((static_cast<double>(c) + 0.5) *
                                                            static_cast<double>(r.toMs - r.fromMs) /
                                                            static_cast<double>(n));
        // In the order they happened: the first value, the extremes, the last value.
        add(!(open && column.joined), t, column.first);
        add(false, t, column.minFirst ? column.min : column.max);
        add(false, t, column.minFirst ? column.max : column.min);
        add(false, t, column.last);
        open = true;
    }
    if (r.after.any && open)
        add(false, r.after.wallMs, r.after.value);
    return runs;
}

std::shared_ptr<const LineStore> ShareSamples(const LineStore& store) {
    auto view = std::make_shared<LineStore>();
    view->phy = store.phy.Share();
    view->eth = store.eth.Share();
    view->gapMs = store.gapMs;
    return view;
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
