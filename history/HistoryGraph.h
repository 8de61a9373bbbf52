#pragma once

#include "history/HistoryPasses.h"
#include "recorder/Decimate.h"

#include <QColor>
#include <QString>
#include <QWidget>

#include <cstdint>
#include <vector>

namespace tessor {

// A value axis of round numbers: bottom and top are multiples of step, a step of 1, 2 or 5 times a power
// of ten giving at most about three intervals. Values that are all at or above zero never get an axis
// reaching below it.
struct ValueScale {
    double bottom = 0;
    double top = 1;
    double step = 1;
};
ValueScale RoundScale(double low, double high);
// A tick label of a scale: as many decimals as its step needs, thousands as "k" and millions as "M".
QString ScaleLabel(const ValueScale& scale, double value);

// The colour that marks a class of interval on the time axis.
QColor MarkColor(IntervalClass value);

// Round moments between fromMs and toMs (local time) at most maxTicks of them, and their step.
std::vector<std::int64_t> TimeTicks(std::int64_t fromMs, std::int64_t toMs, int maxTicks,
                                    std::int64_t* stepMs);

// One graph of the Line History window: one or more recorded series against time, drawn from their
// pixel columns (each column's extremes as a vertical stroke, joined to the next unless a gap is between),
// so that the cost of a paint grows with the width, whatever the samples and gaps. It holds a copy of
// its columns: painting never touches the recorder.
class CHistoryGraph : public QWidget {
    Q_OBJECT
public:
    struct Line {
        rec::Series series;
        QString name;
        QColor color;
    };

    CHistoryGraph(const QString& objectName, std::vector<Line> lines, QWidget* parent = nullptr);

    // The series this graph draws, one per line, in the order SetData takes their columns.
    std::vector<rec::Series> SeriesShown() const;
    // The reduced series between fromMs and toMs, one per line; sets the axes and schedules a paint.
    void SetData(std::vector<rec::Reduced> reduced);
    // A vertical mark at a moment (the journal entry chosen); a negative time removes it.
    void SetMarker(std::int64_t wallMs);
    std::int64_t Marker() const { return m_markerMs; }
    // Errored, severely errored and unavailable intervals, as a band under the time axis.
    void SetIntervalMarks(std::vector<IntervalMark> marks);
    const std::vector<IntervalMark>& IntervalMarks() const { return m_marks; }
    // Columns with data in the last data given (all lines together).
    std::size_t DrawnColumns() const { return m_drawnColumns; }
    // Width in pixels of the plot area, the number of columns the data is reduced to.
    int Columns() const;
    const ValueScale& Scale() const { return m_scale; }
    QRect PlotArea() const;
    // The moment under a horizontal position in the widget.
    std::int64_t TimeAt(double x) const;

signals:
    // The wheel turned over the graph: zoom by factor (below 1 zooms in) around the time under it.
    void zoomRequested(std::int64_t aroundMs, double factor);

protected:
    void paintEvent(QPaintEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    void PaintLegend(QPainter& p) const;
    void PaintValueAxis(QPainter& p, const QRect& plot) const;
    void PaintTimeAxis(QPainter& p, const QRect& plot) const;
    void PaintLine(QPainter& p, const QRect& plot, const rec::Reduced& reduced, const QColor& color) const;
    void PaintMarker(QPainter& p, const QRect& plot) const;
    void PaintIntervalMarks(QPainter& p, const QRect& plot) const;
    double XOf(const QRect& plot, std::int64_t wallMs) const;
    double YOf(const QRect& plot, double value) const;
    QString TimeFormat(std::int64_t stepMs) const;
    void Describe();

    std::vector<Line> m_lines;
    std::vector<rec::Reduced> m_reduced;
    std::int64_t m_fromMs = 0;
    std::int64_t m_toMs = 1;
    ValueScale m_scale;
    bool m_any = false;
    std::size_t m_drawnColumns = 0;
    std::int64_t m_markerMs = -1;
    std::vector<IntervalMark> m_marks;
};

} // namespace tessor
