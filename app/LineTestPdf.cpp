#include "app/LineTestPdf.h"

#include "files/PlainFile.h"

#include <QBuffer>
#include <QFile>
#include <QPageSize>
#include <QPainter>
#include <QPainterPath>
#include <QPdfWriter>
#include <QTextDocument>
#include <QUrl>

namespace tessor {

namespace {

// The SVG graph's margins (left, right, top, bottom), in its CSS pixels.
constexpr int kLeft = 60, kRight = 12, kTop = 24, kBottom = 28;

} // namespace

QImage PaintReportGraph(const linetest::ReportGraph& g, int scale) {
    const int w = linetest::kGraphWidth, h = linetest::kGraphHeight;
    QImage image(w * scale, h * scale, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(scale, scale);
    const double pw = w - kLeft - kRight, ph = h - kTop - kBottom;
    const auto X = [&](double x) { return kLeft + x * pw; };
    const auto Y = [&](double y) { return kTop + (1 - y) * ph; };
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(10);
    p.setFont(font);
    p.setPen(QColor(0xdd, 0xdd, 0xdd));
    for (const auto& [y, label] : g.yTicks)
        p.drawLine(QPointF(kLeft, Y(y)), QPointF(w - kRight, Y(y)));
    p.setPen(Qt::black);
    for (const auto& [y, label] : g.yTicks)
        p.drawText(QRectF(0, Y(y) - 7, kLeft - 4, 14), Qt::AlignRight | Qt::AlignVCenter,
                   QString::fromStdString(label));
    for (const auto& [x, label] : g.xTicks)
        p.drawText(QRectF(X(x) - 40, h - 20, 80, 14), Qt::AlignCenter, QString::fromStdString(label));
    p.setPen(QColor(0x88, 0x88, 0x88));
    p.drawRect(QRectF(kLeft, kTop, pw, ph));
    p.setPen(QPen(QColor(0xb0, 0, 0), 1, Qt::DashLine));
    for (const double x : g.drops)
        p.drawLine(QPointF(X(x), kTop), QPointF(X(x), kTop + ph));
    int legend = 0;
    for (const linetest::ReportGraph::Line& line : g.lines) {
        const QColor color(QString::fromStdString(line.color));
        p.setPen(QPen(color, 1.5));
        for (const auto& run : line.runs) {
            QPainterPath path;
            for (std::size_t i = 0; i < run.size(); ++i) {
                const QPointF pt(X(run[i].first), Y(run[i].second));
                if (i == 0)
                    path.moveTo(pt);
                else
                    path.lineTo(pt);
            }
            if (run.size() == 1)
                p.drawEllipse(QPointF(X(run[0].first), Y(run[0].second)), 2, 2);
            p.drawPath(path);
        }
        if (g.lines.size() > 1)
            p.drawText(QPointF(w - kRight - 150 + 75 * legend++, 14), QString::fromStdString(line.name));
    }
    QFont bold = font;
    bold.setPixelSize(12);
    bold.setBold(true);
    p.setFont(bold);
    p.setPen(Qt::black);
    p.drawText(QPointF(kLeft, 14), QString::fromStdString(g.title + " (" + g.unit + ")"));
    if (g.empty) {
        p.setFont(font);
        p.setPen(QColor(0x66, 0x66, 0x66));
        p.drawText(QRectF(kLeft, kTop, pw, ph), Qt::AlignCenter, QStringLiteral("nothing measured"));
    }
    return image;
}

bool WriteReportPdf(const linetest::LineTestResult& result, const QString& path, QString* error) {
    // Made in memory, then written whole by the one writer of the tool's files.
    const std::string file = QFile::encodeName(path).toStdString();
    int cause = 0;
    if (!CanReplacePlainFile(file, &cause)) {
        *error = QString::fromStdString(PlainFileErrorText(cause));
        return false;
    }
    QBuffer pdf;
    pdf.open(QIODevice::WriteOnly);
    {
        QPdfWriter writer(&pdf);
        writer.setPageSize(QPageSize(QPageSize::A4));
        writer.setResolution(150);
        writer.setTitle(QStringLiteral("Line test report"));
        writer.setCreator(QString::fromStdString(result.options.toolVersion));
        QTextDocument doc;
        doc.setDefaultFont(QFont(QStringLiteral("DejaVu Sans"), 8));
        const std::vector<linetest::ReportGraph> graphs = linetest::ReportGraphs(result);
        for (std::size_t i = 0; i < graphs.size(); ++i)
            doc.addResource(QTextDocument::ImageResource, QUrl(QStringLiteral("graph%1.png").arg(i)),
                            PaintReportGraph(graphs[i]));
        linetest::ReportOptions options;
        options.textDocument = true;
        // The report's print rules (its smaller type) apply, as when a browser prints it: the tables then
        // fit the page with whole words.
        doc.setMetaInformation(QTextDocument::CssMedia, QStringLiteral("print"));
        doc.setHtml(QString::fromStdString(linetest::ReportHtml(result, options)));
        doc.print(&writer);
    }
    const QByteArray& bytes = pdf.data();
    if (!ReplacePlainFileContents(file, bytes.constData(), static_cast<std::size_t>(bytes.size()), &cause)) {
        *error = QString::fromStdString(PlainFileErrorText(cause));
        return false;
    }
    return true;
}

} // namespace tessor
