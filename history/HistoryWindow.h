#pragma once

#include "model/LinePerformance.h"
#include "recorder/LineRecorder.h"

#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QCheckBox;
class QHBoxLayout;
class QLabel;
class QPushButton;
class QScrollBar;
class QTableWidget;
class QTreeWidget;
class QTreeWidgetItem;

namespace tessor {

class CHistoryGraph;

// The "Line History" window: the recorded line values as graphs against one shared, zoomable and
// scrollable time axis, the event journal (newest on top), recording to a file, opening a recording,
// export of the graphs as PNG and of the samples and events as CSV, the "Record in background" switch, and
// the line performance: the current and previous 15-minute and 24-hour bins in a table, and errored,
// severely errored and unavailable intervals marked under the time axes.
class CHistoryWindow : public QWidget {
    Q_OBJECT
public:
    static const char* const kTitle;
    static const char* const kHelpPath;

    CHistoryWindow(std::shared_ptr<rec::CLineRecorder> live, QWidget* parent = nullptr);
    ~CHistoryWindow() override;

    // The switch's state as the owner keeps it; the window shows it and reports changes.
    void SetBackgroundRecording(bool on, int intervalMs);
    // Where the live figures of line performance come from; an opened recording is classified anew.
    void SetLivePerformance(std::function<CLinePerformance::View()> source);
    // Shows a recording file instead of the live record; false (with a box) when it cannot be read.
    bool OpenRecording(const QString& path);
    void ShowLive();

    // The view: the time range shown, or all of it.
    void ShowWhole();
    void Zoom(std::int64_t aroundMs, double factor);
    void MoveTo(std::int64_t centerMs);
    std::int64_t ViewFromMs() const { return m_fromMs; }
    std::int64_t ViewToMs() const { return m_toMs; }

    // Redraws now if the record changed (or always with force). Returns the time the redraw took in ms.
    double Refresh(bool force = false);

    // Saves the graphs as a PNG image in place of path, atomically; false with *error saying why.
    bool ExportPng(const QString& path, QString* error = nullptr);
    const std::vector<CHistoryGraph*>& Graphs() const { return m_graphs; }
    QTreeWidget* Journal() const { return m_journal; }
    QCheckBox* BackgroundBox() const { return m_background; }
    // Rows: the bins' start times, then each figure's intervals and the seconds they cover. Columns: the
    // current and previous 15 minutes, the current and previous 24 hours.
    QTableWidget* PerformanceTable() const { return m_performanceTable; }

signals:
    void backgroundRecordingChanged(bool on);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    QHBoxLayout* BuildButtons();
    QWidget* BuildGraphArea();
    QWidget* BuildJournal();
    QWidget* BuildPerformance();
    void UpdatePerformance();
    void BuildGraphs(QWidget* area);
    void OnRecordToFile();
    void OnOpenRecording();
    void OnExportPng();
    void OnExportCsv();
    void OnScroll(int value);
    void OnJournalItem(QTreeWidgetItem* item);
    struct Counts {
        std::size_t phy = 0;
        std::size_t eth = 0;
        std::size_t events = 0;
        std::size_t skippedRows = 0; // damaged rows of an opened file
    };
    void UpdateView(bool any);
    void UpdateJournal(const std::vector<rec::Event>& fresh, bool reset);
    void UpdateStatus(const Counts& counts, const std::string& recordingPath);
    void CheckRecordingFailure();
    rec::CLineRecorder& Shown() const;

    std::shared_ptr<rec::CLineRecorder> m_live;
    std::unique_ptr<rec::CLineRecorder> m_opened; // a recording file being shown, if any
    QString m_openedPath;
    std::vector<CHistoryGraph*> m_graphs;
    QTreeWidget* m_journal = nullptr;
    QTableWidget* m_performanceTable = nullptr;
    std::function<CLinePerformance::View()> m_livePerformance;
    std::optional<CLinePerformance::View> m_openedPerformance;
    QScrollBar* m_scroll = nullptr;
    QCheckBox* m_background = nullptr;
    QLabel* m_status = nullptr;
    QLabel* m_backgroundState = nullptr;
    QPushButton* m_recordButton = nullptr;
    QPushButton* m_liveButton = nullptr;
    QWidget* m_graphArea = nullptr;
    QTimer m_refreshTimer;
    std::uint64_t m_shownRevision = ~0ull;
    std::size_t m_journalCount = 0;
    // The view: width 0 shows the whole record; otherwise the range ends at m_endMs, or at the newest
    // sample while following.
    std::int64_t m_widthMs = 0;
    std::int64_t m_endMs = 0;
    bool m_follow = true;
    std::int64_t m_fromMs = 0;
    std::int64_t m_toMs = 0;
    std::int64_t m_firstMs = 0;
    std::int64_t m_lastMs = 0;
    bool m_updatingScroll = false;
};

} // namespace tessor
