#pragma once

// Window > "Line Test...": the line acceptance test in the window. The test runs on its own thread over
// the operations layer; its samples go through the Line History's recorder, so an open Line History
// shows them. The report is saved as HTML or PDF.

#include "linetest/LineTest.h"

#include <QDialog>

#include <memory>
#include <thread>

class QCheckBox;
class QDoubleSpinBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QSpinBox;

namespace tessor {

class CLineHistory;

class CLineTestDlg : public QDialog {
    Q_OBJECT
public:
    static const char* const kTitle;    // "Line Test"
    static const char* const kHelpPath; // "Help/page_linetest.htm"

    // history may be null (no recorder to feed).
    CLineTestDlg(CLineHistory* history, QWidget* parent = nullptr);
    ~CLineTestDlg() override;

    bool Running() const { return m_running; }
    const linetest::LineTestResult* Result() const { return m_result.get(); }

    void OnStart();
    void OnStop();
    void OnSave();
    // Waits for a test's thread after OnStop (at shutdown, once the port is stopped).
    void Shutdown() { JoinWorker(); }

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void reject() override;

private:
    void BuildForm();
    linetest::LineTestOptions Options() const;
    void StoreChoices() const;
    void ShowProgress(const linetest::LineTestProgress& progress);
    void Finished(std::shared_ptr<linetest::LineTestResult> result);
    void SetRunning(bool running);
    void JoinWorker();

    CLineHistory* m_history;
    QSpinBox* m_duration = nullptr;
    QLineEdit* m_site = nullptr;
    QLineEdit* m_operator = nullptr;
    QPlainTextEdit* m_note = nullptr;
    QCheckBox* m_checkSnr = nullptr;
    QDoubleSpinBox* m_minSnr = nullptr;
    QCheckBox* m_checkRs = nullptr;
    QDoubleSpinBox* m_maxRs = nullptr;
    QCheckBox* m_checkDrop = nullptr;
    QCheckBox* m_checkLinkFail = nullptr;
    QCheckBox* m_checkEthernet = nullptr;
    QCheckBox* m_checkUnavailable = nullptr;
    QCheckBox* m_checkEsr = nullptr;
    QDoubleSpinBox* m_maxEsr = nullptr;
    QCheckBox* m_checkSesr = nullptr;
    QDoubleSpinBox* m_maxSesr = nullptr;
    QDoubleSpinBox* m_severeError = nullptr;
    QProgressBar* m_progress = nullptr;
    QLabel* m_status = nullptr;
    QLabel* m_verdict = nullptr;
    QPushButton* m_start = nullptr;
    QPushButton* m_stop = nullptr;
    QPushButton* m_save = nullptr;
    QPushButton* m_close = nullptr;

    std::unique_ptr<linetest::ILineTestBoard> m_board;
    std::unique_ptr<linetest::CLineTest> m_test;
    std::thread m_worker;
    bool m_running = false;
    bool m_backgroundWasOn = false;
    std::shared_ptr<linetest::LineTestResult> m_result;
};

} // namespace tessor
