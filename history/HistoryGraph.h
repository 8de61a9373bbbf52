#pragma once

#include "recorder/Decimate.h"

#include <QChartView>
#include <QColor>
#include <QString>

#include <vector>

class QDateTimeAxis;
class QLineSeries;
class QValueAxis;

namespace tessor {

// One graph of the Line History window: one or more recorded series against time. Each polyline the
// decimation returns gets its own line series, so a gap is drawn as a gap.
class CHistoryGraph : public QChartView {
    Q_OBJECT
public:
    struct Line {
        rec::Series series;
        QString name;
        QColor color;
    };

    CHistoryGraph(const QString& title, std::vector<Line> lines, QWidget* parent = nullptr);

    // Draws the store's samples between fromMs and toMs.
    void Redraw(const rec::LineStore& store, std::int64_t fromMs, std::int64_t toMs);
    // A vertical mark at a moment (the journal entry chosen); a negative time removes it.
    void SetMarker(std::int64_t wallMs) { m_markerMs = wallMs; }
    // Points drawn by the last redraw (all lines together).
    std::size_t PointCount() const { return m_pointCount; }
    // Width in pixels of the plot area, the number of columns the data is reduced to.
    int Columns() const;

signals:
    // The wheel turned over the graph: zoom by factor (below 1 zooms in) around the time under it.
    void zoomRequested(std::int64_t aroundMs, double factor);

protected:
    void wheelEvent(QWheelEvent* event) override;

private:
    struct Pool {
        Line line;
        std::vector<QLineSeries*> series;
    };
    QLineSeries* SeriesFor(Pool& pool, std::size_t index);
    void SetAxes(std::int64_t fromMs, std::int64_t toMs, double low, double high);

    std::vector<Pool> m_pools;
    QDateTimeAxis* m_axisX = nullptr;
    QValueAxis* m_axisY = nullptr;
    std::size_t m_pointCount = 0;
    std::int64_t m_markerMs = -1;
    QLineSeries* m_marker = nullptr;
};

} // namespace tessor
