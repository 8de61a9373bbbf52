#include "history/HistoryGraph.h"

#include <QChart>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QGraphicsLayout>
#include <QLegendMarker>
#include <QLineSeries>
#include <QValueAxis>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace tessor {

CHistoryGraph::CHistoryGraph(const QString& title, std::vector<Line> lines, QWidget* parent)
    : QChartView(parent) {
    auto* chart = new QChart;
    Q_UNUSED(title);
    chart->setMargins(QMargins(4, 0, 4, 0));
    chart->layout()->setContentsMargins(0, 0, 0, 0);
    // The legend names the lines and stands in for a title, so every graph loses the same height to it.
    chart->legend()->setVisible(true);
    chart->legend()->setAlignment(Qt::AlignTop);
    m_axisX = new QDateTimeAxis;
    m_axisX->setTickCount(7);
    m_axisY = new QValueAxis;
    m_axisY->setTickCount(3);
    chart->addAxis(m_axisX, Qt::AlignBottom);
    chart->addAxis(m_axisY, Qt::AlignLeft);
    setChart(chart);
    setRenderHint(QPainter::Antialiasing, false);
    setMinimumHeight(110);
    for (Line& line : lines)
        m_pools.push_back(Pool{std::move(line), {}});
    // Each line shows in the legend once, even before it has points.
    for (Pool& pool : m_pools)
        SeriesFor(pool, 0);
    m_marker = new QLineSeries;
    QPen markerPen(QColor(120, 120, 120));
    markerPen.setStyle(Qt::DashLine);
    m_marker->setPen(markerPen);
    chart->addSeries(m_marker);
    m_marker->attachAxis(m_axisX);
    m_marker->attachAxis(m_axisY);
    for (QLegendMarker* marker : chart->legend()->markers(m_marker))
        marker->setVisible(false);
}

QLineSeries* CHistoryGraph::SeriesFor(Pool& pool, std::size_t index) {
    while (pool.series.size() <= index) {
        auto* series = new QLineSeries;
        series->setName(pool.line.name);
        QPen pen(pool.line.color);
        pen.setWidth(1);
        series->setPen(pen);
        chart()->addSeries(series);
        series->attachAxis(m_axisX);
        series->attachAxis(m_axisY);
        if (!pool.series.empty()) {
            for (QLegendMarker* marker : chart()->legend()->markers(series))
                marker->setVisible(false);
        }
        pool.series.push_back(series);
    }
    return pool.series[index];
}

int CHistoryGraph::Columns() const {
    const int width = static_cast<int>(chart()->plotArea().width());
    return std::max(width, 50);
}

void CHistoryGraph::Redraw(const rec::LineStore& store, std::int64_t fromMs, std::int64_t toMs) {
    // Reduce first, then set the axes, then hand each series its points once: every axis change makes
    // the chart lay out all its series again.
    std::vector<std::vector<rec::Polyline>> reduced;
    double low = 0;
    double high = 0;
    bool any = false;
    for (const Pool& pool : m_pools) {
        reduced.push_back(rec::Decimate(store, pool.line.series, fromMs, toMs, Columns()));
        for (const rec::Polyline& line : reduced.back()) {
            for (const rec::Point& p : line) {
                if (p.wallMs < fromMs || p.wallMs > toMs)
                    continue;
                low = any ? std::min(low, p.value) : p.value;
                high = any ? std::max(high, p.value) : p.value;
                any = true;
            }
        }
    }
    SetAxes(fromMs, toMs, any ? low : 0, any ? high : 1);
    if (m_markerMs >= fromMs && m_markerMs <= toMs) {
        const auto t = static_cast<double>(m_markerMs);
        m_marker->replace(QList<QPointF>{{t, m_axisY->min()}, {t, m_axisY->max()}});
    } else if (m_marker->count() > 0) {
        m_marker->clear();
    }

    m_pointCount = 0;
    for (std::size_t k = 0; k < m_pools.size(); ++k) {
        Pool& pool = m_pools[k];
        std::size_t used = 0;
        for (const rec::Polyline& line : reduced[k]) {
            QList<QPointF> points;
            points.reserve(static_cast<qsizetype>(line.size()));
            for (const rec::Point& p : line)
                points.append(QPointF(static_cast<double>(p.wallMs), p.value));
            m_pointCount += line.size();
            SeriesFor(pool, used++)->replace(points);
        }
        for (std::size_t i = used; i < pool.series.size(); ++i) {
            if (pool.series[i]->count() > 0)
                pool.series[i]->clear();
        }
    }
}

void CHistoryGraph::SetAxes(std::int64_t fromMs, std::int64_t toMs, double low, double high) {
    // A round step of 1, 2 or 5 times a power of ten that covers the values in at most three intervals.
    const double wanted = std::max((high - low) / 3, std::max(std::fabs(high), 1.0) * 1e-2);
    const double magnitude = std::pow(10.0, std::floor(std::log10(wanted)));
    double step = magnitude;
    for (double factor : {1.0, 2.0, 5.0, 10.0}) {
        step = factor * magnitude;
        if (step >= wanted)
            break;
    }
    double bottom = std::floor(low / step) * step;
    double top = std::ceil(high / step) * step;
    if (top - bottom < step / 2) {
        bottom -= step;
        top += step;
    }
    const int ticks = static_cast<int>(std::lround((top - bottom) / step)) + 1;
    const QString labels = step >= 1     ? QStringLiteral("%.0f")
                           : step >= 0.1 ? QStringLiteral("%.1f")
                                         : QStringLiteral("%.2f");
    if (m_axisY->labelFormat() != labels)
        m_axisY->setLabelFormat(labels);
    if (m_axisY->tickCount() != ticks)
        m_axisY->setTickCount(ticks);
    if (m_axisY->min() != bottom || m_axisY->max() != top)
        m_axisY->setRange(bottom, top);
    const std::int64_t span = toMs - fromMs;
    const QString format = span > 2 * 86400000LL ? QStringLiteral("dd.MM. HH:mm")
                           : span > 600000LL     ? QStringLiteral("HH:mm")
                                                 : QStringLiteral("HH:mm:ss");
    if (m_axisX->format() != format)
        m_axisX->setFormat(format);
    const QDateTime from = QDateTime::fromMSecsSinceEpoch(fromMs);
    const QDateTime to = QDateTime::fromMSecsSinceEpoch(toMs);
    if (m_axisX->min() != from || m_axisX->max() != to)
        m_axisX->setRange(from, to);
}

void CHistoryGraph::wheelEvent(QWheelEvent* event) {
    const QPointF value = chart()->mapToValue(chart()->mapFromScene(mapToScene(event->position().toPoint())));
    const double factor = event->angleDelta().y() > 0 ? 0.5 : 2.0;
    emit zoomRequested(static_cast<std::int64_t>(value.x()), factor);
    event->accept();
}

} // namespace tessor
