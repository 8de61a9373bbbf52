#include "app/LineTestDlg.h"

#include "VersionInfo.h"
#include "app/LineTestPdf.h"
#include "app/Settings.h"
#include "files/PlainFile.h"
#include "history/LineHistory.h"
#include "linetest/LineTestReport.h"
#include "model/NumberText.h"
#include "ui/Boxes.h"

#include <QCheckBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QFile>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include <cstdlib>

namespace tessor {

namespace {

// The pass interval; TESSOR_LINETEST_INTERVAL_MS shortens it for demonstrations and tests.
std::chrono::milliseconds PassInterval() {
    if (const char* text = std::getenv("TESSOR_LINETEST_INTERVAL_MS")) {
        const long ms = std::strtol(text, nullptr, 10);
        if (ms >= 100 && ms <= 600000)
            return std::chrono::milliseconds(ms);
    }
    return std::chrono::milliseconds(5000);
}

QString Figures(const linetest::LineTestProgress& p) {
    const long long left = std::max<long long>(0, (p.duration - p.elapsed).count() / 1000);
    QString text =
        QStringLiteral("%1:%2 left, pass %3, line %4, SNR %5, RS/s %6")
            .arg(left / 60)
            .arg(left % 60, 2, 10, QLatin1Char('0'))
            .arg(p.passes)
            .arg(p.lineUp ? (*p.lineUp ? QStringLiteral("up") : QStringLiteral("down"))
                          : QStringLiteral("unknown"))
            .arg(p.snrCenti ? QString::fromStdString(FormatHundredths(*p.snrCenti, DecimalMark::Point)) +
                                  QStringLiteral(" dB")
                            : QStringLiteral("-"))
            .arg(p.rsPerSecond ? QString::number(*p.rsPerSecond, 'f', 2) : QStringLiteral("-"));
    if (p.unansweredPasses > 0)
        text += QStringLiteral(", %1 passes unanswered").arg(p.unansweredPasses);
    return text;
}

} // namespace

const char* const CLineTestDlg::kTitle = "Line Test";
const char* const CLineTestDlg::kHelpPath = "Help/page_linetest.htm";

CLineTestDlg::CLineTestDlg(CLineHistory* history, QWidget* parent) : QDialog(parent), m_history(history) {
    setWindowTitle(QString::fromLatin1(kTitle));
    setObjectName(QStringLiteral("lineTestDialog"));
    BuildForm();
    SetRunning(false);
}

CLineTestDlg::~CLineTestDlg() {
    OnStop();
    JoinWorker();
}

void CLineTestDlg::BuildForm() {
    const LineTestChoices choices = ReadLineTestChoices();
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    m_duration = new QSpinBox(this);
    m_duration->setObjectName(QStringLiteral("duration"));
    m_duration->setRange(1, 24 * 60);
    m_duration->setSuffix(QStringLiteral(" min"));
    m_duration->setValue(choices.durationMinutes);
    m_site = new QLineEdit(choices.site, this);
    m_site->setObjectName(QStringLiteral("site"));
    m_operator = new QLineEdit(choices.operatorName, this);
    m_operator->setObjectName(QStringLiteral("operator"));
    m_note = new QPlainTextEdit(this);
    m_note->setObjectName(QStringLiteral("note"));
    m_note->setTabChangesFocus(true);
    m_note->setFixedHeight(60);
    form->addRow(QStringLiteral("&Duration:"), m_duration);
    form->addRow(QStringLiteral("&Site:"), m_site);
    form->addRow(QStringLiteral("&Operator:"), m_operator);
    form->addRow(QStringLiteral("&Note:"), m_note);
    layout->addLayout(form);

    auto* criteria = new QGroupBox(QStringLiteral("Criteria"), this);
    auto* grid = new QFormLayout(criteria);
    const linetest::Criteria& c = choices.criteria;
    m_checkSnr = new QCheckBox(QStringLiteral("Minimum SNR (dB)"), this);
    m_checkSnr->setChecked(c.checkSnr);
    m_minSnr = new QDoubleSpinBox(this);
    m_minSnr->setObjectName(QStringLiteral("minSnr"));
    m_minSnr->setRange(0, linetest::kMinSnrHighestDb); // the field takes no text outside it, nor nan
    m_minSnr->setDecimals(2);
    m_minSnr->setValue(c.minSnrCenti / 100.0);
    grid->addRow(m_checkSnr, m_minSnr);
    m_checkRs = new QCheckBox(QStringLiteral("Mean corrected RS errors per second at most"), this);
    m_checkRs->setChecked(c.checkRs);
    m_maxRs = new QDoubleSpinBox(this);
    m_maxRs->setObjectName(QStringLiteral("maxRs"));
    m_maxRs->setRange(0, linetest::kMaxRsPerSecondHighest);
    m_maxRs->setDecimals(2);
    m_maxRs->setValue(c.maxRsPerSecond);
    grid->addRow(m_checkRs, m_maxRs);
    m_checkDrop = new QCheckBox(QStringLiteral("No line drop"), this);
    m_checkDrop->setChecked(c.checkLineDrop);
    m_checkLinkFail = new QCheckBox(QStringLiteral("Link fail counter unchanged"), this);
    m_checkLinkFail->setChecked(c.checkLinkFail);
    m_checkEthernet = new QCheckBox(QStringLiteral("No Ethernet FCS or receive errors"), this);
    m_checkEthernet->setChecked(c.checkEthernetErrors);
    grid->addRow(m_checkDrop);
    grid->addRow(m_checkLinkFail);
    grid->addRow(m_checkEthernet);
    m_checkUnavailable = new QCheckBox(QStringLiteral("No unavailable interval"), this);
    m_checkUnavailable->setChecked(c.checkUnavailable);
    grid->addRow(m_checkUnavailable);
    const auto ratio = [this, grid](const char* caption, const char* name, bool checked, double percent,
                                    QCheckBox** check, QDoubleSpinBox** limit) {
        *check = new QCheckBox(QString::fromLatin1(caption), this);
        (*check)->setChecked(checked);
        *limit = new QDoubleSpinBox(this);
        (*limit)->setObjectName(QString::fromLatin1(name));
        (*limit)->setRange(0, 100);
        (*limit)->setDecimals(2);
        (*limit)->setSuffix(QStringLiteral(" %"));
        (*limit)->setValue(percent);
        grid->addRow(*check, *limit);
    };
    ratio("Errored interval ratio (ESR) at most", "maxEsr", c.checkEsr, c.maxEsrPercent, &m_checkEsr,
          &m_maxEsr);
    ratio("Severely errored interval ratio (SESR) at most", "maxSesr", c.checkSesr, c.maxSesrPercent,
          &m_checkSesr, &m_maxSesr);
    // Not a criterion of its own: what makes an interval severely errored besides a retrain.
    m_severeError = new QDoubleSpinBox(this);
    m_severeError->setObjectName(QStringLiteral("severeErrorPercent"));
    m_severeError->setRange(0.01, 100);
    m_severeError->setDecimals(2);
    m_severeError->setSuffix(QStringLiteral(" %"));
    m_severeError->setValue(linetest::SevereErrorPercent(c));
    m_severeError->setToolTip(
        QStringLiteral("FCS plus receive errors in an interval, as a share of the frames "
                       "received in it; a retrain is severely errored at any share."));
    auto* severeLabel = new QLabel(QStringLiteral("Se&verely errored interval: errors of at least"), this);
    severeLabel->setBuddy(m_severeError);
    grid->addRow(severeLabel, m_severeError);
    grid->addRow(new QLabel(QStringLiteral("The board must answer every pass (always checked)."), this));
    layout->addWidget(criteria);

    m_progress = new QProgressBar(this);
    m_progress->setObjectName(QStringLiteral("progress"));
    m_progress->setRange(0, 1000);
    m_progress->setValue(0);
    m_status = new QLabel(QStringLiteral("Not started."), this);
    m_status->setObjectName(QStringLiteral("status"));
    m_verdict = new QLabel(this);
    m_verdict->setObjectName(QStringLiteral("verdict"));
    QFont bold = m_verdict->font();
    bold.setBold(true);
    bold.setPointSize(bold.pointSize() + 2);
    m_verdict->setFont(bold);
    layout->addWidget(m_progress);
    layout->addWidget(m_status);
    layout->addWidget(m_verdict);

    auto* buttons = new QHBoxLayout;
    m_start = new QPushButton(QStringLiteral("&Start"), this);
    m_stop = new QPushButton(QStringLiteral("S&top"), this);
    m_save = new QPushButton(QStringLiteral("Save &Report..."), this);
    m_close = new QPushButton(QStringLiteral("&Close"), this);
    for (QPushButton* b : {m_start, m_stop, m_save, m_close}) {
        b->setAutoDefault(false);
        buttons->addWidget(b);
    }
    layout->addLayout(buttons);
    connect(m_start, &QPushButton::clicked, this, &CLineTestDlg::OnStart);
    connect(m_stop, &QPushButton::clicked, this, &CLineTestDlg::OnStop);
    connect(m_save, &QPushButton::clicked, this, &CLineTestDlg::OnSave);
    connect(m_close, &QPushButton::clicked, this, &QDialog::reject);
}

linetest::LineTestOptions CLineTestDlg::Options() const {
    linetest::LineTestOptions o;
    o.duration = std::chrono::minutes(m_duration->value());
    o.interval = PassInterval();
    o.site = m_site->text().toStdString();
    o.operatorName = m_operator->text().toStdString();
    o.note = m_note->toPlainText().toStdString();
    o.toolVersion = std::string(version::kProductName) + " " + version::kProductVersion;
    o.criteria.checkSnr = m_checkSnr->isChecked();
    o.criteria.minSnrCenti = static_cast<std::int32_t>(qRound(m_minSnr->value() * 100));
    o.criteria.checkRs = m_checkRs->isChecked();
    o.criteria.maxRsPerSecond = m_maxRs->value();
    o.criteria.checkLineDrop = m_checkDrop->isChecked();
    o.criteria.checkLinkFail = m_checkLinkFail->isChecked();
    o.criteria.checkEthernetErrors = m_checkEthernet->isChecked();
    o.criteria.checkUnavailable = m_checkUnavailable->isChecked();
    o.criteria.checkEsr = m_checkEsr->isChecked();
    o.criteria.maxEsrPercent = m_maxEsr->value();
    o.criteria.checkSesr = m_checkSesr->isChecked();
    o.criteria.maxSesrPercent = m_maxSesr->value();
    // The field's range lies within the rule's: it always gives one.
    o.criteria.intervalRules.severeErrorPpm =
        SevereErrorPpmOfPercent(m_severeError->value()).value_or(o.criteria.intervalRules.severeErrorPpm);
    return o;
}

void CLineTestDlg::StoreChoices() const {
    LineTestChoices c;
    const linetest::LineTestOptions o = Options();
    c.durationMinutes = m_duration->value();
    c.site = m_site->text();
    c.operatorName = m_operator->text();
    c.criteria = o.criteria;
    WriteLineTestChoices(c);
}

void CLineTestDlg::SetRunning(bool running) {
    m_running = running;
    m_start->setEnabled(!running);
    m_stop->setEnabled(running);
    m_save->setEnabled(!running && m_result != nullptr);
    for (QWidget* w : std::initializer_list<QWidget*>{
             m_duration, m_site, m_operator, m_note, m_checkSnr, m_minSnr, m_checkRs, m_maxRs, m_checkDrop,
             m_checkLinkFail, m_checkEthernet, m_checkUnavailable, m_checkEsr, m_maxEsr, m_checkSesr,
             m_maxSesr, m_severeError})
        w->setEnabled(!running);
}

void CLineTestDlg::OnStart() {
    if (m_running)
        return;
    JoinWorker();
    StoreChoices();
    m_result.reset();
    m_verdict->clear();
    m_progress->setValue(0);
    m_status->setText(QStringLiteral("Starting..."));
    // Background passes would clear the counters the test counts: off while it runs.
    m_backgroundWasOn = m_history && m_history->BackgroundRecording();
    if (m_backgroundWasOn)
        m_history->SetBackgroundRecording(false);
    m_board = std::make_unique<linetest::COpsLineTestBoard>(ProcessBus());
    m_test = std::make_unique<linetest::CLineTest>(*m_board, Options(),
                                                   m_history ? m_history->Recorder() : nullptr);
    SetRunning(true);
    m_worker = std::thread([this] {
        auto result = std::make_shared<linetest::LineTestResult>(
            m_test->Run([this](const linetest::LineTestProgress& p) {
                QMetaObject::invokeMethod(
                    this, [this, p] { ShowProgress(p); }, Qt::QueuedConnection);
            }));
        QMetaObject::invokeMethod(
            this, [this, result] { Finished(result); }, Qt::QueuedConnection);
    });
}

void CLineTestDlg::OnStop() {
    if (m_test)
        m_test->Stop();
}

void CLineTestDlg::JoinWorker() {
    if (m_worker.joinable())
        m_worker.join();
}

void CLineTestDlg::ShowProgress(const linetest::LineTestProgress& p) {
    if (!m_running)
        return;
    const double total = static_cast<double>(std::max<long long>(1, p.duration.count()));
    m_progress->setValue(
        static_cast<int>(std::min(1.0, static_cast<double>(p.elapsed.count()) / total) * 1000));
    m_status->setText(p.phase == "passes"   ? Figures(p)
                      : p.phase == "before" ? QStringLiteral("Reading both modems before the passes...")
                                            : QStringLiteral("Reading both modems after the passes..."));
}

void CLineTestDlg::Finished(std::shared_ptr<linetest::LineTestResult> result) {
    JoinWorker();
    m_result = std::move(result);
    if (m_backgroundWasOn && m_history)
        m_history->SetBackgroundRecording(true);
    SetRunning(false);
    m_progress->setValue(
        m_result->stopped || m_result->verdict == linetest::Verdict::NotRun ? m_progress->value() : 1000);
    m_verdict->setText(
        QStringLiteral("Verdict: %1").arg(QString::fromLatin1(linetest::VerdictText(m_result->verdict))));
    QString summary = m_result->stopped ? QStringLiteral("Stopped. ") : QStringLiteral("Finished. ");
    if (!m_result->notRunReason.empty())
        summary +=
            QStringLiteral("The test could not run: %1.").arg(QString::fromStdString(m_result->notRunReason));
    for (const linetest::CriterionResult& c : m_result->criteria) {
        if (c.checked && !c.passed)
            summary += QStringLiteral("\n%1 failed: %2")
                           .arg(QString::fromLatin1(linetest::CriterionCaption(c.id)),
                                QString::fromStdString(c.measured));
    }
    m_status->setText(summary);
}

void CLineTestDlg::OnSave() {
    if (!m_result)
        return;
    ui::FileDialogRequest request;
    request.kind = ui::FileDialogKind::Save;
    request.title = QStringLiteral("Save line test report");
    request.filter = QStringLiteral("HTML report (*.html);;PDF report (*.pdf)");
    request.defaultSuffix = QStringLiteral("html");
    request.confirmOverwrite = true;
    const QString path = ui::AskFileName(this, request);
    if (path.isEmpty())
        return;
    const QString name = QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath());
    QString error;
    bool ok = false;
    if (path.endsWith(QStringLiteral(".pdf"), Qt::CaseInsensitive)) {
        ok = WriteReportPdf(*m_result, path, &error);
    } else {
        const std::string html = linetest::ReportHtml(*m_result);
        int cause = 0;
        ok =
            ReplacePlainFileContents(QFile::encodeName(path).toStdString(), html.data(), html.size(), &cause);
        error = QString::fromStdString(PlainFileErrorText(cause));
    }
    if (!ok)
        ui::ShowBox(this, QMessageBox::Warning, QStringLiteral("Error"),
                    QStringLiteral("%1 could not be written: %2.").arg(name, error));
}

void CLineTestDlg::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_F1) {
        ui::OpenHelp(QString::fromLatin1(kHelpPath));
        return;
    }
    QDialog::keyPressEvent(event);
}

void CLineTestDlg::reject() {
    // Closing ends a running test first; its report stays until the window opens the next test.
    OnStop();
    if (!m_running)
        StoreChoices();
    QDialog::reject();
}

} // namespace tessor
