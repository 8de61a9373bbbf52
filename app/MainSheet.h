#pragma once

#include "app/WorkerThread.h"

#include <QDialog>
#include <QPointer>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class QLabel;
class QMenuBar;
class QPushButton;
class QTabWidget;

namespace tessor {

class CAboutBox;
class CConsolePort;
class CLineHistory;
class CLineTestDlg;
class CPageEthernet_Status;
class CPageGeneral;
class CPageLink;
class CPagePhy_Status;
class CTerminalDlg;
class IUserPrompt;

// The main window: four pages in tabs, a menu bar, the "Terminal", "Set to Default" and "Close" buttons.
// It owns the console transport, the three worker threads, the pages, the terminal and the About box.
class CMainSheet : public QDialog {
    Q_OBJECT
public:
    static const char* const kCaption;

    explicit CMainSheet(const QString& caption, QWidget* parent = nullptr);
    ~CMainSheet() override;

    // Opens the port, starts the threads, creates the terminal and hands the crystal to the Link page.
    // False when the port cannot be opened: the "Problem" box has been shown and nothing runs.
    bool OnInitDialog(IUserPrompt* prompt);

    // Stops the threads (once; later calls only repeat the answer). False when a thread outlived the
    // wait: then everything it can reach has been kept alive, and so must the caller's prompt be.
    bool StopThreads();

    void DetectModemSide();
    void SetToDefault();
    void WriteDefaults(int target);

    // Command handlers, public so the menu, the buttons and tests share them.
    void OnTerminalButton();
    void OnSetToDefaultButton();
    void OnSaveConfiguration();
    void OnLoadConfiguration();
    void OnVersionInfo();
    // Destroys the About box, if one is open (at the next opening and at shutdown).
    void DestroyAboutBox();
    void ShowPage(int index);

    std::uint8_t m_portIndex = 0;
    std::uint8_t m_crystalIndex = 2;
    std::uint8_t m_side = 0;
    std::int32_t m_crystalHz = 0;

    CPageGeneral* PageGeneral() const { return m_pPageGeneral; }
    CPageLink* PageLink() const { return m_pPageLink; }
    CPagePhy_Status* PagePhyStatus() const { return m_pPagePhyStatus; }
    CPageEthernet_Status* PageEthernetStatus() const { return m_pPageEthernetStatus; }
    CTerminalDlg* Terminal() const { return m_pTerminal; }
    CAboutBox* AboutBox() const { return m_pAboutBox; }
    CConsolePort* Port() const { return m_pPort.get(); }
    CLineHistory* History() const { return m_pHistory.get(); }
    // Window > Line History.
    void OnLineHistory();
    // Window > Line Test...: the dialog, created at its first use.
    void OnLineTest();
    CLineTestDlg* LineTest() const;
    // File > Compare with File...: the 31 registers Save reads against a file, nothing written.
    void OnCompareWithFile();
    QTabWidget* Tabs() const { return m_pTabs; }
    QPushButton* TerminalButton() const { return m_pTerminalButton; }
    QPushButton* DefaultButton() const { return m_pDefaultButton; }
    QPushButton* CloseButton() const { return m_pCloseButton; }
    QMenuBar* MenuBar() const { return m_pMenu; }
    // The line beside the buttons that says which device the session uses.
    QLabel* PortLabel() const { return m_pPortLabel; }

    // Test hook: how the transport opens its device (default: COM names to serial devices).
    using PortFactory = std::function<std::unique_ptr<CConsolePort>(IUserPrompt* prompt)>;
    void SetPortFactory(PortFactory factory) { m_portFactory = std::move(factory); }
    // The pause of the caption's close box and of shutdown (1000 ms each in the product).
    void SetClosePauseMs(int ms) { m_closePauseMs = ms; }

protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void BuildMenus();
    void BuildButtons();
    void StartThreads();
    QString PortDeviceText() const;
    void ElidePortLabel();

    QTabWidget* m_pTabs = nullptr;
    CPageGeneral* m_pPageGeneral = nullptr;
    CPageLink* m_pPageLink = nullptr;
    CPagePhy_Status* m_pPagePhyStatus = nullptr;
    CPageEthernet_Status* m_pPageEthernetStatus = nullptr;
    QPushButton* m_pTerminalButton = nullptr;
    QPushButton* m_pDefaultButton = nullptr;
    QPushButton* m_pCloseButton = nullptr;
    QMenuBar* m_pMenu = nullptr;
    QLabel* m_pPortLabel = nullptr;
    std::string m_devicePath; // what the default transport opened; empty with another factory
    QString m_portText;       // the device line in full (the label shows what fits)
    CTerminalDlg* m_pTerminal = nullptr;
    CAboutBox* m_pAboutBox = nullptr;
    std::unique_ptr<CConsolePort> m_pPort;
    // Outlives the threads: the poll threads report their passes to it.
    std::unique_ptr<CLineHistory> m_pHistory;
    QPointer<CLineTestDlg> m_pLineTest;
    CWorkerThread m_consoleThread;
    CWorkerThread m_ethThread;
    CWorkerThread m_phyThread;
    PortFactory m_portFactory;
    IUserPrompt* m_pPrompt = nullptr;
    int m_closePauseMs = 1000;
    bool m_sideDetected = false;
    bool m_threadsStarted = false;
    bool m_stopped = false;
    bool m_allThreadsEnded = true;
};

} // namespace tessor
