#include "history/HistoryGraph.h"

#include <QDateTime>
#include <QPaintEvent>
#include <QPainter>
#include <QWheelEvent>

#include <algorithm>
#include <array>
#include <cmath>

namespace tessor {

namespace {

constexpr int kRightMargin = 12;
constexpr int kTickLength = 4;
constexpr int kBandHeight = 5; // the interval marks under the time axis
const QColor kGrid(228, 228, 228);
const QColor kAxis(150, 150, 150);
const QColor kMarker(110, 110, 110);

// The widest value label the axis gives room for; longer numbers are written with "k" or "M".
const QString kWidestLabel = QStringLiteral("-000.00");

constexpr std::int64_t kSecond = 1000;
constexpr std::int64_t kMinute = 60 * kSecond;
constexpr std::int64_t kHour = 60 * kMinute;
constexpr std::int64_t kDay = 24 * kHour;
constexpr std::array<std::int64_t, 20> kTimeSteps{
    kSecond,     2 * kSecond, 5 * kSecond,  10 * kSecond, 15 * kSecond, 30 * kSecond, kMinute,
    2 * kMinute, 5 * kMinute, 10 * kMinute, 15 * kMinute, 30 * kMinute, kHour,        2 * kHour,
    3 * kHour,   6 * kHour,   12 * kHour,   kDay,         2 * kDay,     7 * kDay};

// Whether the line runs on from column c to the next column with data (or the edge after the range).
bool NextJoins(const rec::Reduced& reduced, std::size_t c) {
    for (std::size_t next = c + 1; next < reduced.columns.size(); ++next) {
        if (reduced.columns[next].any)
            return reduced.columns[next].joined;
    }
    return reduced.after.any;
}

// The whole number at or below q, taking q as whole when it is within rounding error of one.
double RoundDown(double q) {
    const double nearest = std::round(q);
    return std::fabs(q - nearest) <= 1e-9 * std::fabs(q) ? nearest : std::floor(q);
}

} // namespace

QColor MarkColor(IntervalClass value) {
    switch (value) {
    case IntervalClass::kUnavailable:
        return QColor(220, 40, 40);
    case IntervalClass::kSeverelyErrored:
        return QColor(240, 130, 20);
    default:
        return QColor(235, 200, 40);
    }
}

ValueScale RoundScale(double low, double high) {
    const bool flat = high - low <= 0;
    const double wanted = flat ? std::max(std::fabs(high) * 0.1, 1.0)
                               : std::max((high - low) / 3, std::max(std::fabs(high), 1.0) * 1e-2);
    const double magnitude = std::pow(10.0, std::floor(std::log10(wanted)));
    ValueScale scale;
    for (double factor : {1.0, 2.0, 5.0, 10.0}) {
        scale.step = factor * magnitude;
        if (scale.step >= wanted * (1 - 1e-9))
            break;
    }
    scale.bottom = RoundDown(low / scale.step) * scale.step;
    scale.top = -RoundDown(-high / scale.step) * scale.step;
    if (scale.top - scale.bottom < scale.step / 2) { // a flat line in the middle, not on an edge
        scale.bottom -= scale.step;
        scale.top += scale.step;
    }
    if (low >= 0 && scale.bottom < 0) {
        scale.bottom = 0;
        scale.top = std::max(scale.top, scale.step);
    }
    return scale;
}

QString ScaleLabel(const ValueScale& scale, double value) {
    const double largest = std::max(std::fabs(scale.bottom), std::fabs(scale.top));
    double divisor = 1;
    QString unit;
    if (largest >= 1e7) {
        divisor = 1e6;
        unit = QStringLiteral("M");
    } else if (largest >= 1e4) {
        divisor = 1e3;
        unit = QStringLiteral("k");
    }
    const double step = scale.step / divisor;
    const int decimals = step >= 1 ? 0 : step >= 0.1 ? 1 : 2;
    double shown = value / divisor;
    if (std::fabs(shown) < step * 1e-6)
        shown = 0; // no "-0"
    return QString::number(shown, 'f', decimals) + (shown != 0 ? unit : QString());
}

std::vector<std::int64_t> TimeTicks(std::int64_t fromMs, std::int64_t toMs, int maxTicks,
                                    std::int64_t* stepMs) {
    const std::int64_t span = std::max<std::int64_t>(toMs - fromMs, 1);
    std::int64_t step = kTimeSteps.back();
    for (std::int64_t s : kTimeSteps) {
        if (span / s <= std::max(maxTicks, 1)) {
            step = s;
            break;
        }
    }
    *stepMs = step;
    // Round in local time: whole hours and days of the clock on the wall.
    const std::int64_t offset =
        static_cast<std::int64_t>(QDateTime::fromMSecsSinceEpoch(fromMs).offsetFromUtc()) * kSecond;
    const std::int64_t local = fromMs + offset;
    std::int64_t t = (local / step + (local % step > 0 ? 1 : 0)) * step - offset;
    std::vector<std::int64_t> ticks;
    for (; t <= toMs; t += step)
        ticks.push_back(t);
    return ticks;
}

CHistoryGraph::CHistoryGraph(const QString& objectName, std::vector<Line> lines, QWidget* parent)
    : QWidget(parent), m_lines(std::move(lines)) {
    setObjectName(objectName);
    setMinimumHeight(110);
    setAttribute(Qt::WA_OpaquePaintEvent);
    QStringList names;
    for (const Line& line : m_lines)
        names << line.name;
    setAccessibleName(names.join(QStringLiteral(", ")));
    m_reduced.resize(m_lines.size());
    Describe();
}

std::vector<rec::Series> CHistoryGraph::SeriesShown() const {
    std::vector<rec::Series> series;
    for (const Line& line : m_lines)
        series.push_back(line.series);
    return series;
}

void CHistoryGraph::SetData(std::vector<rec::Reduced> reduced) {
    reduced.resize(m_lines.size());
    m_reduced = std::move(reduced);
    m_fromMs = m_reduced.front().fromMs;
    m_toMs = std::max(m_reduced.front().toMs, m_fromMs + 1);
    double low = 0;
    double high = 0;
    m_any = false;
    m_drawnColumns = 0;
    for (const rec::Reduced& r : m_reduced) {
        double l = 0;
        double h = 0;
        if (r.Extremes(&l, &h)) {
            low = m_any ? std::min(low, l) : l;
            high = m_any ? std::max(high, h) : h;
            m_any = true;
        }
        m_drawnColumns += static_cast<std::size_t>(
            std::count_if(r.columns.begin(), r.columns.end(), [](const rec::Column& c) { return c.any; }));
    }
    m_scale = m_any ? RoundScale(low, high) : RoundScale(0, 1);
    Describe();
    update();
}

void CHistoryGraph::SetMarker(std::int64_t wallMs) {
    m_markerMs = wallMs;
    Describe();
    update();
}

void CHistoryGraph::SetIntervalMarks(std::vector<IntervalMark> marks) {
    m_marks = std::move(marks);
    Describe();
    update();
}

void CHistoryGraph::Describe() {
    // What the graph shows, in words, for a screen reader.
    auto time = [](std::int64_t ms) {
        return QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    };
    QString text = QStringLiteral("From %1 to %2").arg(time(m_fromMs), time(m_toMs));
    text += m_any ? QStringLiteral(", values %1 to %2")
                        .arg(ScaleLabel(m_scale, m_scale.bottom), ScaleLabel(m_scale, m_scale.top))
                  : QStringLiteral(", no values");
    if (m_markerMs >= 0)
        text += QStringLiteral(", marked at %1").arg(time(m_markerMs));
    setAccessibleDescription(text + QLatin1Char('.'));
    // The marks under the time axis, in words when the pointer rests on the graph.
    std::array<int, kIntervalClassCount> runs{};
    for (const IntervalMark& m : m_marks)
        ++runs[static_cast<std::size_t>(m.value)];
    QStringList marked;
    for (IntervalClass c :
         {IntervalClass::kUnavailable, IntervalClass::kSeverelyErrored, IntervalClass::kErrored}) {
        if (runs[static_cast<std::size_t>(c)] > 0)
            marked << QStringLiteral("%1 intervals in %2 runs")
                          .arg(QString::fromLatin1(kIntervalClasses[static_cast<std::size_t>(c)].caption))
                          .arg(runs[static_cast<std::size_t>(c)]);
    }
    setToolTip(
        marked.isEmpty()
            ? QString()
            : QStringLiteral("Marked under the time axis: %1.").arg(marked.join(QStringLiteral("; "))));
}

QRect CHistoryGraph::PlotArea() const {
    const QFontMetrics fm = fontMetrics();
    const int left = fm.horizontalAdvance(kWidestLabel) + kTickLength + 6;
    const int top = fm.height() + 8;
    const int bottom = fm.height() + kTickLength + kBandHeight + 4;
    return QRect(left, top, std::max(width() - left - kRightMargin, 1), std::max(height() - top - bottom, 1));
}

int CHistoryGraph::Columns() const {
    return std::max(PlotArea().width(), 50);
}

double CHistoryGraph::XOf(const QRect& plot, std::int64_t wallMs) const {
    return plot.left() +
           static_cast<double>(wallMs - m_fromMs) * plot.width() / static_cast<double>(m_toMs - m_fromMs);
}

double CHistoryGraph::YOf(const QRect& plot, double value) const {
    return plot.bottom() + 0.5 - (value - m_scale.bottom) * plot.height() / (m_scale.top - m_scale.bottom);
}

std::int64_t CHistoryGraph::TimeAt(double x) const {
    const QRect plot = PlotArea();
    return m_fromMs + static_cast<std::int64_t>((x - plot.left()) * static_cast<double>(m_toMs - m_fromMs) /
                                                plot.width());
}

void CHistoryGraph::paintEvent(QPaintEvent* event) {
    QPainter p(this);
    p.fillRect(event->rect(), Qt::white);
    const QRect plot = PlotArea();
    PaintLegend(p);
    PaintValueAxis(p, plot);
    PaintIntervalMarks(p, plot);
    PaintTimeAxis(p, plot);
    p.save();
    p.setClipRect(plot.adjusted(0, -1, 1, 1));
    for (std::size_t k = 0; k < m_lines.size(); ++k)
        PaintLine(p, plot, m_reduced[k], m_lines[k].color);
    PaintMarker(p, plot);
    p.restore();
}

void CHistoryGraph::PaintLegend(QPainter& p) const {
    const QFontMetrics fm = fontMetrics();
    const int box = fm.height() * 2 / 3;
    const int gap = 16;
    int total = 0;
    for (const Line& line : m_lines)
        total += box + 5 + fm.horizontalAdvance(line.name) + gap;
    int x = (width() - total + gap) / 2;
    const int y = 4;
    for (const Line& line : m_lines) {
        p.setPen(line.color.darker(130));
        p.setBrush(line.color);
        p.drawRect(x, y + (fm.height() - box) / 2, box, box);
        p.setPen(palette().color(QPalette::WindowText));
        p.drawText(x + box + 5, y + fm.ascent(), line.name);
        x += box + 5 + fm.horizontalAdvance(line.name) + gap;
    }
    p.setBrush(Qt::NoBrush);
}

void CHistoryGraph::PaintValueAxis(QPainter& p, const QRect& plot) const {
    const QFontMetrics fm = fontMetrics();
    const int count = static_cast<int>(std::lround((m_scale.top - m_scale.bottom) / m_scale.step));
    for (int i = 0; i <= count; ++i) {
        const double value = m_scale.bottom + i * m_scale.step;
        const int y = static_cast<int>(std::lround(YOf(plot, value) - 0.5));
        p.setPen(kGrid);
        if (i > 0)
            p.drawLine(plot.left() + 1, y, plot.right(), y);
        p.setPen(kAxis);
        p.drawLine(plot.left() - kTickLength, y, plot.left(), y);
        p.setPen(palette().color(QPalette::WindowText));
        const QRect label(0, y - fm.height() / 2, plot.left() - kTickLength - 3, fm.height());
        p.drawText(label, Qt::AlignRight | Qt::AlignVCenter, ScaleLabel(m_scale, value));
    }
    p.setPen(kAxis);
    p.drawLine(plot.left(), plot.top(), plot.left(), plot.bottom());
    p.drawLine(plot.left(), plot.bottom(), plot.right(), plot.bottom());
}

QString CHistoryGraph::TimeFormat(std::int64_t stepMs) const {
    const std::int64_t span = m_toMs - m_fromMs;
    if (span > 2 * kDay)
        return QStringLiteral("dd.MM. HH:mm");
    return stepMs < kMinute ? QStringLiteral("HH:mm:ss") : QStringLiteral("HH:mm");
}

void CHistoryGraph::PaintTimeAxis(QPainter& p, const QRect& plot) const {
    const QFontMetrics fm = fontMetrics();
    const int labelWidth = fm.horizontalAdvance(QStringLiteral("00.00. 00:00"));
    const int maxTicks = std::max(plot.width() / (labelWidth + 24), 2);
    std::int64_t step = 0;
    const std::vector<std::int64_t> ticks = TimeTicks(m_fromMs, m_toMs, maxTicks, &step);
    const QString format = TimeFormat(step);
    for (std::int64_t t : ticks) {
        const int x = static_cast<int>(std::lround(XOf(plot, t)));
        p.setPen(kGrid);
        if (x > plot.left())
            p.drawLine(x, plot.top(), x, plot.bottom() - 1);
        p.setPen(kAxis);
        p.drawLine(x, plot.bottom(), x, plot.bottom() + kTickLength + kBandHeight);
        const QString text = QDateTime::fromMSecsSinceEpoch(t).toString(format);
        const int w = fm.horizontalAdvance(text);
        const int left = std::clamp(x - w / 2, 0, std::max(width() - w - 1, 0));
        p.setPen(palette().color(QPalette::WindowText));
        p.drawText(left, plot.bottom() + kTickLength + kBandHeight + 2 + fm.ascent(), text);
    }
}

void CHistoryGraph::PaintLine(QPainter& p, const QRect& plot, const rec::Reduced& reduced,
                              const QColor& color) const {
    const std::size_t n = reduced.columns.size();
    if (n == 0)
        return;
    std::vector<QLineF> strokes;
    std::vector<QPointF> dots; // samples that join nothing either side
    strokes.reserve(2 * n + 2);
    const double perColumn = static_cast<double>(plot.width()) / static_cast<double>(n);
    bool havePrevious = reduced.before.any;
    QPointF previous(XOf(plot, reduced.before.wallMs), YOf(plot, reduced.before.value));
    for (std::size_t c = 0; c < n; ++c) {
        const rec::Column& column = reduced.columns[c];
        if (!column.any)
            continue;
        const double x = plot.left() + (static_cast<double>(c) + 0.5) * perColumn;
        const bool joined = column.joined && havePrevious;
        if (joined)
            strokes.emplace_back(previous, QPointF(x, YOf(plot, column.first)));
        if (column.min != column.max) {
            strokes.emplace_back(QPointF(x, YOf(plot, column.min)), QPointF(x, YOf(plot, column.max)));
        } else if (!joined && !NextJoins(reduced, c)) {
            dots.emplace_back(x, YOf(plot, column.first)); // a sample alone: no stroke would show it
        }
        previous = QPointF(x, YOf(plot, column.last));
        havePrevious = true;
    }
    if (reduced.after.any && havePrevious)
        strokes.emplace_back(previous,
                             QPointF(XOf(plot, reduced.after.wallMs), YOf(plot, reduced.after.value)));
    p.setPen(QPen(color, 1));
    p.drawLines(strokes.data(), static_cast<int>(strokes.size()));
    if (!dots.empty()) {
        p.setPen(QPen(color, 2, Qt::SolidLine, Qt::SquareCap));
        p.drawPoints(dots.data(), static_cast<int>(dots.size()));
    }
}

void CHistoryGraph::PaintIntervalMarks(QPainter& p, const QRect& plot) const {
    // Each run at least a pixel wide, so that one short interval in a long view still shows.
    for (const IntervalMark& m : m_marks) {
        const double left = std::max(XOf(plot, m.fromMs), static_cast<double>(plot.left()));
        const double right = std::min(XOf(plot, m.toMs), static_cast<double>(plot.right() + 1));
        if (right < plot.left() || left > plot.right() + 1)
            continue;
        p.fillRect(QRectF(left, plot.bottom() + 1, std::max(right - left, 1.0), kBandHeight),
                   MarkColor(m.value));
    }
}

void CHistoryGraph::PaintMarker(QPainter& p, const QRect& plot) const {
    if (m_markerMs < m_fromMs || m_markerMs > m_toMs)
        return;
    QPen pen(kMarker);
    pen.setStyle(Qt::DashLine);
    p.setPen(pen);
    const double x = std::round(XOf(plot, m_markerMs));
    p.drawLine(QPointF(x, plot.top()), QPointF(x, plot.bottom()));
}

void CHistoryGraph::wheelEvent(QWheelEvent* event) {
    const double factor = event->angleDelta().y() > 0 ? 0.5 : 2.0;
    emit zoomRequested(TimeAt(event->position().x()), factor);
    event->accept();
}

} // namespace tessor
