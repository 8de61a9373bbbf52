// The line test report as a PDF, read back with pdftotext. Kept out of the threaded window tests: the child
// process it starts is no business of theirs.

#include "app/LineTestPdf.h"
#include "linetest/LineTest.h"
#include "linetest/LineTestBoard.h"
#include "ops/ScriptedBus.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>

namespace tessor::test {
namespace {

// The report's PDF: its tables wrap their headers between words, never inside one ("Constellatio n").
// TESSOR_REPORT_PDF names a file to keep it in for a look.
TEST(ReportPdf, TableHeadersBreakOnlyBetweenWords) {
    opstest::CScriptedBus bus;
    bus.regs["8C40"] = 0x22; // downstream: QAM 64, interpolation 8
    bus.regs["8C41"] = 0x12;
    bus.regs["8C42"] = 192;
    bus.regs["8C44"] = 554;
    bus.regs["8C71"] = 0xAE; // line up
    bus.regs["8C98"] = 0x06;
    bus.regs["8C99"] = 100000;
    bus.regs["8C72"] = 0x61;
    bus.regs["8C73"] = 0x12;
    bus.regs["8C6F"] = 0x27;
    linetest::COpsLineTestBoard board(bus);
    linetest::LineTestOptions options;
    options.interval = std::chrono::milliseconds(20);
    options.duration = options.interval * 2;
    options.site = "Depot 7, cabinet 3";
    options.operatorName = "A. Smith";
    options.note = "Handover after installation; cable 2 x 0.6 mm, 1.2 km";
    options.toolVersion = "Tessor Console Configurator 1.0.0";
    const linetest::LineTestResult result = linetest::CLineTest(board, options).Run();

    QTemporaryDir dir;
    const char* keep = std::getenv("TESSOR_REPORT_PDF");
    const QString path = keep ? QString::fromLocal8Bit(keep) : dir.filePath(QStringLiteral("report.pdf"));
    QString error;
    ASSERT_TRUE(WriteReportPdf(result, path, &error)) << error.toStdString();
    QProcess text;
    text.start(QStringLiteral("pdftotext"), {path, QStringLiteral("-")});
    ASSERT_TRUE(text.waitForFinished(30000));
    const QStringList words =
        QString::fromUtf8(text.readAllStandardOutput()).split(QRegularExpression(QStringLiteral("\\s+")));
    for (const char* header : {"Constellation", "Interpolation", "Remote", "Local", "Before", "After",
                               "Criterion", "Measured", "Direction", "Carrier"})
        EXPECT_TRUE(words.contains(QString::fromLatin1(header))) << header << " is not whole in the PDF";
    // The Modems table's narrowest cells: the times of the reads, with no space to wrap at.
    const QRegularExpression time(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d$"));
    for (const QString& word : words) {
        if (!word.isEmpty() && word[0].isDigit() && word.contains(QLatin1Char(':'))) {
            EXPECT_TRUE(time.match(word).hasMatch()) << word.toStdString() << " is part of a time";
        }
    }
}

} // namespace
} // namespace tessor::test
