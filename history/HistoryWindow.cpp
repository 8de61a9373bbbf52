#include "history/HistoryWindow.h"

#include "files/PlainFile.h"
#include "history/HistoryGraph.h"
#include "history/HistoryPasses.h"
#include "recorder/Decimate.h"
#include "recorder/RecordingFile.h"
#include "ui/Boxes.h"

#include <QBuffer>
#include <QCheckBox>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QScrollBar>
#include <QSplitter>
#include <QTableWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace tessor {

const char* const CHistoryWindow::kTitle = "Line History";
const char* const CHistoryWindow::kHelpPath = "Help/page_history.htm";

namespace {

constexpr int kRefreshMs = 1000;
constexpr std::int64_t kMinWidthMs = 10000;
// Choosing a journal entry in the whole view shows this much around it.
constexpr std::int64_t kEntryWidthMs = 10 * 60 * 1000;

const QString kRecordingFilter = QStringLiteral("Line recordings (*.csv)");

QString Native(const QString& path) {
    return QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath());
}

QString TimeText(std::int64_t wallMs) {
    return QDateTime::fromMSecsSinceEpoch(wallMs).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

} // namespace

CHistoryWindow::CHistoryWindow(std::shared_ptr<rec::CLineRecorder> live, QWidget* parent)
    : QWidget(parent, Qt::Window), m_live(std::move(live)) {
    setWindowTitle(QString::fromLatin1(kTitle));
    resize(1180, 820);
    m_backgroundState = new QLabel;
    m_status = new QLabel;
    m_status->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* splitter = new QSplitter(Qt::Horizontal);
    splitter->addWidget(BuildGraphArea());
    auto* side = new QSplitter(Qt::Vertical);
    side->addWidget(BuildJournal());
    side->addWidget(BuildPerformance());
    side->setStretchFactor(0, 1);
    splitter->addWidget(side);
    splitter->setStretchFactor(0, 3);
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({760, 420});

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(BuildButtons());
    layout->addWidget(m_backgroundState);
    layout->addWidget(m_status);
    layout->addWidget(splitter, 1);

    m_refreshTimer.setInterval(kRefreshMs);
    connect(&m_refreshTimer, &QTimer::timeout, this, [this] {
        CheckRecordingFailure();
        if (isVisible()) // a closed window is brought up to date when it is shown again
            Refresh();
    });
    m_refreshTimer.start();
    SetBackgroundRecording(false, 5000);
    Refresh(true);
}

QHBoxLayout* CHistoryWindow::BuildButtons() {
    auto* buttons = new QHBoxLayout;
    auto add = [&](const QString& text, auto slot) {
        auto* button = new QPushButton(text);
        buttons->addWidget(button);
        connect(button, &QPushButton::clicked, this, slot);
        return button;
    };
    m_recordButton = add(QStringLiteral("&Record to File..."), &CHistoryWindow::OnRecordToFile);
    add(QStringLiteral("&Open Recording..."), &CHistoryWindow::OnOpenRecording);
    m_liveButton = add(QStringLiteral("Show &Live"), &CHistoryWindow::ShowLive);
    m_liveButton->hide();
    add(QStringLiteral("Export &PNG..."), &CHistoryWindow::OnExportPng);
    add(QStringLiteral("Export &CSV..."), &CHistoryWindow::OnExportCsv);
    buttons->addStretch(1);
    add(QStringLiteral("Zoom &In"), [this] { Zoom(m_fromMs + (m_toMs - m_fromMs) / 2, 0.5); });
    add(QStringLiteral("Zoom O&ut"), [this] { Zoom(m_fromMs + (m_toMs - m_fromMs) / 2, 2.0); });
    add(QStringLiteral("&Whole Recording"), &CHistoryWindow::ShowWhole);
    buttons->addSpacing(12);
    m_background = new QCheckBox(QStringLiteral("Record in &background"));
    buttons->addWidget(m_background);
    connect(m_background, &QCheckBox::toggled, this, &CHistoryWindow::backgroundRecordingChanged);
    return buttons;
}

QWidget* CHistoryWindow::BuildGraphArea() {
    m_graphArea = new QWidget;
    BuildGraphs(m_graphArea);
    m_scroll = new QScrollBar(Qt::Horizontal);
    connect(m_scroll, &QScrollBar::valueChanged, this, &CHistoryWindow::OnScroll);
    auto* area = new QWidget;
    auto* layout = new QVBoxLayout(area);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_graphArea, 1);
    layout->addWidget(m_scroll);
    return area;
}

QWidget* CHistoryWindow::BuildJournal() {
    m_journal = new QTreeWidget;
    m_journal->setColumnCount(2);
    m_journal->setHeaderLabels({QStringLiteral("Time"), QStringLiteral("Event")});
    m_journal->setRootIsDecorated(false);
    m_journal->setUniformRowHeights(true);
    m_journal->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    connect(m_journal, &QTreeWidget::itemActivated, this, &CHistoryWindow::OnJournalItem);
    connect(m_journal, &QTreeWidget::itemClicked, this, &CHistoryWindow::OnJournalItem);
    return m_journal;
}

QWidget* CHistoryWindow::BuildPerformance() {
    m_performanceTable = new QTableWidget(1 + static_cast<int>(kIntervalFigureCount), 4);
    m_performanceTable->setObjectName(QStringLiteral("performanceTable"));
    m_performanceTable->setHorizontalHeaderLabels({QStringLiteral("15 min"), QStringLiteral("Previous"),
                                                   QStringLiteral("24 h"), QStringLiteral("Previous")});
    QStringList rows{QStringLiteral("From")};
    for (const IntervalFigureDef& f : kIntervalFigures) {
        rows << QString::fromLatin1(
            kIntervalClasses[static_cast<std::size_t>(*IntervalClassOfName(f.name))].caption);
    }
    m_performanceTable->setVerticalHeaderLabels(rows);
    m_performanceTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_performanceTable->setWordWrap(false);
    m_performanceTable->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_performanceTable->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_performanceTable->verticalHeader()->setDefaultSectionSize(m_performanceTable->fontMetrics().height() +
                                                                6);
    m_performanceTable->setToolTip(QStringLiteral("Intervals (and the seconds they cover) in the current and "
                                                  "previous 15 minutes and 24 hours, aligned on UTC; an "
                                                  "interval counts in the bin it ends in."));
    QString legend = QStringLiteral("Marked under the time axes:");
    for (IntervalClass c :
         {IntervalClass::kUnavailable, IntervalClass::kSeverelyErrored, IntervalClass::kErrored})
        legend += QStringLiteral(" <span style=\"color:%1\">&#9632;</span> %2")
                      .arg(MarkColor(c).name(),
                           QString::fromLatin1(kIntervalClasses[static_cast<std::size_t>(c)].caption));
    legend += QStringLiteral(". An interval is one PHY pass of the tool (the modems count no seconds); "
                             "the Ethernet counts are known while the Ethernet Status page counts.");
    auto* note = new QLabel(legend);
    note->setWordWrap(true);
    auto* area = new QWidget;
    auto* layout = new QVBoxLayout(area);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_performanceTable, 1);
    layout->addWidget(note);
    return area;
}

void CHistoryWindow::SetLivePerformance(std::function<CLinePerformance::View()> source) {
    m_livePerformance = std::move(source);
    UpdatePerformance();
}

void CHistoryWindow::UpdatePerformance() {
    std::optional<CLinePerformance::View> view = m_openedPerformance;
    if (!m_opened && m_livePerformance)
        view = m_livePerformance();
    const auto column = [&](int c, const std::optional<CIntervalBins::Bin>& bin, const char* format) {
        for (int r = 0; r < m_performanceTable->rowCount(); ++r) {
            QString text;
            if (bin && r == 0) {
                text = QDateTime::fromMSecsSinceEpoch(bin->startWallMs).toString(QString::fromLatin1(format));
            } else if (bin) {
                const IntervalTally& t =
                    bin->figures.*kIntervalFigures[static_cast<std::size_t>(r - 1)].tally;
                text = QStringLiteral("%1 (%2 s)").arg(t.intervals).arg(std::llround(t.Seconds())); // whole s
            }
            auto* item = new QTableWidgetItem(text); // empty: no such bin yet, not zero
            item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            m_performanceTable->setItem(r, c, item);
        }
    };
    const std::optional<CIntervalBins::Bin> none;
    column(0, view ? view->quarter.Current() : none, "HH:mm");
    column(1, view ? view->quarter.Previous() : none, "HH:mm");
    column(2, view ? view->day.Current() : none, "dd.MM. HH:mm");
    column(3, view ? view->day.Previous() : none, "dd.MM. HH:mm");
    // Every column in view, without a scroll bar: the table is as wide as its columns.
    m_performanceTable->resizeColumnsToContents();
    int width =
        m_performanceTable->verticalHeader()->sizeHint().width() + 2 * m_performanceTable->frameWidth();
    for (int c = 0; c < m_performanceTable->columnCount(); ++c)
        width += m_performanceTable->columnWidth(c);
    m_performanceTable->setMinimumWidth(width);
}

CHistoryWindow::~CHistoryWindow() = default;

void CHistoryWindow::BuildGraphs(QWidget* area) {
    using rec::Series;
    const QColor blue(31, 119, 180), orange(230, 120, 20), red(200, 30, 30), green(40, 150, 60),
        purple(120, 60, 170), teal(20, 140, 140);
    m_graphs = {
        new CHistoryGraph(QStringLiteral("graphSnr"),
                          {{Series::Snr, QStringLiteral("SNR (dB)"), blue},
                           {Series::Mse, QStringLiteral("Mean square error (dB)"), orange}}),
        new CHistoryGraph(QStringLiteral("graphRs"),
                          {{Series::RsPerSecond, QStringLiteral("Corrected RS errors /s"), red}}),
        new CHistoryGraph(QStringLiteral("graphTxPower"),
                          {{Series::TxPower, QStringLiteral("Transmitted power (dBm/Hz)"), green}}),
        new CHistoryGraph(QStringLiteral("graphLinkFail"),
                          {{Series::LinkFail, QStringLiteral("Link fail counter"), purple}}),
        new CHistoryGraph(QStringLiteral("graphFrames"),
                          {{Series::TxFramesRate, QStringLiteral("Transmitted frames /s"), blue},
                           {Series::RxFramesRate, QStringLiteral("Received frames /s"), teal}}),
        new CHistoryGraph(QStringLiteral("graphOctets"),
                          {{Series::TxOctetsRate, QStringLiteral("Transmitted octets /s"), blue},
                           {Series::RxOctetsRate, QStringLiteral("Received octets /s"), teal}}),
    };
    auto* layout = new QVBoxLayout(area);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    for (CHistoryGraph* graph : m_graphs) {
        layout->addWidget(graph, 1);
        connect(graph, &CHistoryGraph::zoomRequested, this, &CHistoryWindow::Zoom);
    }
}

rec::CLineRecorder& CHistoryWindow::Shown() const {
    return m_opened ? *m_opened : *m_live;
}

void CHistoryWindow::SetBackgroundRecording(bool on, int intervalMs) {
    const QSignalBlocker block(m_background);
    m_background->setChecked(on);
    m_backgroundState->setText(
        on ? QStringLiteral(
                 "Record in background: on. A PHY pass every %1 s while the PHY Status page is not "
                 "running, so the record has no holes.")
                 .arg(intervalMs / 1000.0)
           : QStringLiteral(
                 "Record in background: off. Samples come from the PHY Status page while it runs and "
                 "from the Ethernet Status page while counting."));
}

double CHistoryWindow::Refresh(bool force) {
    rec::CLineRecorder& shown = Shown();
    const std::uint64_t revision = shown.Revision();
    if (!force && revision == m_shownRevision)
        return 0;
    QElapsedTimer timer;
    timer.start();
    // Asked before taking the store: the recorder's lock is held while the store is read.
    const std::string recordingPath = m_opened ? std::string() : m_live->RecordingPath();
    // What the window needs of the store is taken under the lock (the samples as a shared view, the new
    // events as a copy) and reduced and shown after it: the poll threads never wait for the drawing.
    Counts counts;
    bool any = false;
    bool journalReset = false;
    std::vector<rec::Event> fresh;
    std::shared_ptr<const rec::LineStore> samples;
    shown.Read([&](const rec::LineStore& store) {
        samples = rec::ShareSamples(store);
        any = rec::TimeSpan(store, &m_firstMs, &m_lastMs);
        counts = Counts{store.phy.size(), store.eth.size(), store.events.size(), store.skippedRows};
        journalReset = store.events.size() < m_journalCount;
        const std::size_t from = journalReset ? 0 : m_journalCount;
        fresh.assign(store.events.begin() + static_cast<std::ptrdiff_t>(from), store.events.end());
    });
    UpdateView(any);
    std::vector<IntervalMark> marks;
    shown.Read([&](const rec::LineStore& store) { marks = IntervalMarks(store, m_fromMs, m_toMs); });
    for (CHistoryGraph* graph : m_graphs)
        graph->SetIntervalMarks(marks);
    UpdatePerformance();
    const rec::LineStore& shared = *samples;
    const int columns = m_graphs.front()->Columns();
    for (CHistoryGraph* graph : m_graphs) {
        std::vector<rec::Reduced> reduced;
        for (rec::Series series : graph->SeriesShown())
            reduced.push_back(rec::Decimate(shared, series, m_fromMs, m_toMs, columns));
        graph->SetData(std::move(reduced));
    }
    UpdateJournal(fresh, journalReset);
    UpdateStatus(counts, recordingPath);
    m_shownRevision = revision;
    return static_cast<double>(timer.nsecsElapsed()) / 1e6;
}

void CHistoryWindow::UpdateView(bool any) {
    if (!any) {
        const std::int64_t now = QDateTime::currentMSecsSinceEpoch();
        m_firstMs = now - 60000;
        m_lastMs = now;
    }
    const std::int64_t span = std::max<std::int64_t>(m_lastMs - m_firstMs, 1000);
    if (m_widthMs <= 0 || m_widthMs >= span) {
        m_widthMs = 0;
        m_fromMs = m_firstMs;
        m_toMs = m_firstMs + span;
    } else {
        const std::int64_t end = m_follow ? m_lastMs : std::clamp(m_endMs, m_firstMs + m_widthMs, m_lastMs);
        m_toMs = end;
        m_fromMs = end - m_widthMs;
    }
    m_updatingScroll = true;
    const std::int64_t hidden = m_widthMs > 0 ? span - m_widthMs : 0;
    m_scroll->setRange(0, static_cast<int>(hidden / 1000));
    m_scroll->setPageStep(static_cast<int>(std::max<std::int64_t>(m_widthMs / 1000, 1)));
    m_scroll->setSingleStep(static_cast<int>(std::max<std::int64_t>(m_widthMs / 10000, 1)));
    m_scroll->setValue(static_cast<int>((m_fromMs - m_firstMs) / 1000));
    m_scroll->setEnabled(hidden > 0);
    m_updatingScroll = false;
}

void CHistoryWindow::UpdateJournal(const std::vector<rec::Event>& fresh, bool reset) {
    if (reset) {
        m_journal->clear();
        m_journalCount = 0;
    }
    QList<QTreeWidgetItem*> items;
    for (const rec::Event& e : fresh) {
        auto* item = new QTreeWidgetItem({TimeText(e.time.wallMs), QString::fromStdString(e.text)});
        item->setData(0, Qt::UserRole, QVariant::fromValue<qlonglong>(e.time.wallMs));
        items.prepend(item);
    }
    m_journalCount += fresh.size();
    if (!items.isEmpty())
        m_journal->insertTopLevelItems(0, items); // newest on top
}

void CHistoryWindow::UpdateStatus(const Counts& counts, const std::string& path) {
    QString text = QStringLiteral("%1 PHY samples, %2 Ethernet samples, %3 events")
                       .arg(counts.phy)
                       .arg(counts.eth)
                       .arg(counts.events);
    if (m_opened) {
        text += QStringLiteral(". Showing the recording %1 as recorded.").arg(Native(m_openedPath));
        if (counts.skippedRows > 0)
            text +=
                QStringLiteral(" %1 damaged %2 skipped; the journal says where.")
                    .arg(counts.skippedRows)
                    .arg(counts.skippedRows == 1 ? QStringLiteral("row was") : QStringLiteral("rows were"));
    } else {
        text += path.empty() ? QStringLiteral(". Not recording to a file.")
                             : QStringLiteral(". Recording to %1.").arg(Native(QString::fromStdString(path)));
        m_recordButton->setText(path.empty() ? QStringLiteral("&Record to File...")
                                             : QStringLiteral("Stop &Recording to File"));
    }
    m_status->setText(text);
}

void CHistoryWindow::CheckRecordingFailure() {
    const std::string failure = m_live->TakeRecordingFailure();
    if (!failure.empty())
        ui::ShowBox(this, QMessageBox::Warning, QString::fromLatin1(kTitle),
                    QString::fromStdString(failure) +
                        QStringLiteral(" Everything recorded is still in memory and can be exported."));
}

void CHistoryWindow::ShowWhole() {
    m_widthMs = 0;
    m_follow = true;
    Refresh(true);
}

void CHistoryWindow::Zoom(std::int64_t aroundMs, double factor) {
    const std::int64_t width = m_toMs - m_fromMs;
    const std::int64_t span = m_lastMs - m_firstMs;
    const auto newWidth =
        std::max<std::int64_t>(static_cast<std::int64_t>(static_cast<double>(width) * factor), kMinWidthMs);
    aroundMs = std::clamp(aroundMs, m_fromMs, m_toMs);
    if (newWidth >= span) {
        ShowWhole();
        return;
    }
    const auto from = aroundMs - static_cast<std::int64_t>(static_cast<double>(aroundMs - m_fromMs) * factor);
    m_widthMs = newWidth;
    m_endMs = from + newWidth;
    m_follow = m_endMs >= m_lastMs;
    Refresh(true);
}

void CHistoryWindow::MoveTo(std::int64_t centerMs) {
    const std::int64_t span = m_lastMs - m_firstMs;
    if (m_widthMs == 0) {
        if (span <= kEntryWidthMs)
            return; // all of it is in view already
        m_widthMs = kEntryWidthMs;
    }
    m_endMs = centerMs + m_widthMs / 2;
    m_follow = m_endMs >= m_lastMs;
    Refresh(true);
}

void CHistoryWindow::OnScroll(int value) {
    if (m_updatingScroll || m_widthMs == 0)
        return;
    m_endMs = m_firstMs + static_cast<std::int64_t>(value) * 1000 + m_widthMs;
    m_follow = value >= m_scroll->maximum();
    Refresh(true);
}

void CHistoryWindow::OnJournalItem(QTreeWidgetItem* item) {
    if (!item)
        return;
    const std::int64_t at = item->data(0, Qt::UserRole).toLongLong();
    for (CHistoryGraph* graph : m_graphs)
        graph->SetMarker(at);
    MoveTo(at);
    Refresh(true);
}

void CHistoryWindow::OnRecordToFile() {
    if (!m_live->RecordingPath().empty()) {
        m_live->StopRecording();
        Refresh(true);
        return;
    }
    const QString path = ui::AskFileName(
        this, ui::FileDialogRequest{ui::FileDialogKind::Save, QStringLiteral("Record to File"),
                                    kRecordingFilter, QStringLiteral("csv"), false});
    if (path.isEmpty())
        return;
    std::string error;
    if (!m_live->StartRecording(Native(path).toStdString(), &error))
        ui::ShowBox(this, QMessageBox::Warning, QString::fromLatin1(kTitle), QString::fromStdString(error));
    Refresh(true);
}

void CHistoryWindow::OnOpenRecording() {
    const QString path = ui::AskFileName(
        this, ui::FileDialogRequest{ui::FileDialogKind::Open, QStringLiteral("Open Recording"),
                                    kRecordingFilter, QStringLiteral("csv"), false});
    if (!path.isEmpty())
        OpenRecording(path);
}

bool CHistoryWindow::OpenRecording(const QString& path) {
    auto opened = std::make_unique<rec::CLineRecorder>();
    std::string error;
    if (!opened->Load(Native(path).toStdString(), &error)) {
        ui::ShowBox(this, QMessageBox::Warning, QString::fromLatin1(kTitle), QString::fromStdString(error));
        return false;
    }
    m_opened = std::move(opened);
    m_openedPath = path;
    // The recording's passes classified anew, the last run decided as if the line stayed as it was; a
    // recording of an earlier version, without the class of each pass, is marked with these classes.
    std::vector<PassReads> passes;
    std::vector<bool> classed;
    m_opened->Read([&](const rec::LineStore& store) {
        passes = PassesOf(store);
        for (std::size_t i = 0; i < store.phy.size(); ++i)
            classed.push_back(store.phy[i].intervalClass.has_value());
    });
    m_openedPerformance = PerformanceOf(passes).Provisional();
    const ClassifiedHistory classified = ClassifyHistory(passes);
    for (std::size_t i = 0; i < classified.classes.size(); ++i) {
        if (!classed[i] && classified.classes[i])
            m_opened->SetIntervalClass(i, *classified.classes[i], true);
    }
    for (CHistoryGraph* graph : m_graphs)
        graph->SetMarker(-1);
    m_journal->clear();
    m_journalCount = 0;
    m_widthMs = 0;
    m_liveButton->show();
    m_recordButton->setText(QStringLiteral("&Record to File..."));
    m_recordButton->setEnabled(false);
    setWindowTitle(QStringLiteral("%1 - %2").arg(QString::fromLatin1(kTitle), QFileInfo(path).fileName()));
    Refresh(true);
    return true;
}

void CHistoryWindow::ShowLive() {
    m_opened.reset();
    m_openedPerformance.reset();
    m_openedPath.clear();
    for (CHistoryGraph* graph : m_graphs)
        graph->SetMarker(-1);
    m_journal->clear();
    m_journalCount = 0;
    m_widthMs = 0;
    m_follow = true;
    m_liveButton->hide();
    m_recordButton->setEnabled(true);
    setWindowTitle(QString::fromLatin1(kTitle));
    Refresh(true);
}

bool CHistoryWindow::ExportPng(const QString& path, QString* error) {
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    if (!m_graphArea->grab().save(&buffer, "PNG")) {
        if (error)
            *error = QStringLiteral("The graphs could not be made into a PNG image.");
        return false;
    }
    const std::string name = Native(path).toStdString();
    int cause = 0;
    if (ReplacePlainFileContents(name, png.constData(), static_cast<std::size_t>(png.size()), &cause))
        return true;
    if (error)
        *error = cause == kPlainFileNotRegular
                     ? QString::fromStdString(rec::FileErrorText(name, cause, "write"))
                     : QStringLiteral("Writing %1 failed: %2. Nothing was changed.")
                           .arg(Native(path), QString::fromLocal8Bit(std::strerror(cause)));
    return false;
}

void CHistoryWindow::OnExportPng() {
    const QString path = ui::AskFileName(
        this, ui::FileDialogRequest{ui::FileDialogKind::Save, QStringLiteral("Export Graphs"),
                                    QStringLiteral("PNG images (*.png)"), QStringLiteral("png"), true});
    QString error;
    if (!path.isEmpty() && !ExportPng(path, &error))
        ui::ShowBox(this, QMessageBox::Warning, QString::fromLatin1(kTitle), error);
}

void CHistoryWindow::OnExportCsv() {
    const QString path = ui::AskFileName(
        this, ui::FileDialogRequest{ui::FileDialogKind::Save, QStringLiteral("Export Samples and Events"),
                                    kRecordingFilter, QStringLiteral("csv"), true});
    if (path.isEmpty())
        return;
    std::string error;
    if (!Shown().ExportCsv(Native(path).toStdString(), &error))
        ui::ShowBox(this, QMessageBox::Warning, QString::fromLatin1(kTitle), QString::fromStdString(error));
}

void CHistoryWindow::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_F1) {
        ui::OpenHelp(QString::fromLatin1(kHelpPath));
        return;
    }
    QWidget::keyPressEvent(event);
}

void CHistoryWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    Refresh();
}

void CHistoryWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    // The plot areas changed width: reduce to the new number of columns.
    QTimer::singleShot(0, this, [this] { Refresh(true); });
}

} // namespace tessor
