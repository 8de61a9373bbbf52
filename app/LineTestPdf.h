#pragma once

// The line test's report as a PDF: the same content as the HTML report, laid out by QTextDocument, the
// graphs painted from the same geometry.

#include "linetest/LineTestReport.h"

#include <QImage>
#include <QString>

namespace tessor {

// A graph of the report, painted at scale times its size in the HTML report.
QImage PaintReportGraph(const linetest::ReportGraph& graph, int scale = 2);

// Writes the PDF; false with *error set when the file could not be written.
bool WriteReportPdf(const linetest::LineTestResult& result, const QString& path, QString* error);

} // namespace tessor
