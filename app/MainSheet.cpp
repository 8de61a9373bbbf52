#include "app/MainSheet.h"

#include "app/ComPorts.h"
#include "app/LineTestDlg.h"
#include "app/Settings.h"
#include "history/LineHistory.h"
#include "link/ConsolePort.h"
#include "link/SerialPort.h"
#include "ops/Board.h"
#include "ops/ConfigFiles.h"
#include "pages/PageEthernetStatus.h"
#include "pages/PageGeneral.h"
#include "pages/PageLink.h"
#include "pages/PagePhyStatus.h"
#include "terminal/TerminalDlg.h"
#include "ui/Boxes.h"
#include "ui/BusyCursor.h"

#include <QCloseEvent>
#include <QFile>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QShowEvent>
#include <QTabWidget>
#include <QThread>
#include <QVBoxLayout>

#include <cstring>

// Resources compiled into this static library must be registered by hand.
static void InitAppResources() {
    Q_INIT_RESOURCE(app);
}

namespace tessor {

const char* const CMainSheet::kCaption = "Tessor Console Configurator";

namespace {

const char* const kPortNotAccessible = "selected COM port is not accessible";
const char* const kSheetHelp = "Ormidal Configurator.chm";
const char* const kHelpIndex = "Help/index.htm";
// How long shutdown waits for the threads at most; they normally end within milliseconds.
constexpr int kJoinLimitMs = 3000;

// The default transport: COM names resolved through the environment and the settings store. The device
// tried is kept in *opened.
std::unique_ptr<CConsolePort> MakeDefaultPort(IUserPrompt* prompt, std::string* opened) {
    auto port = std::make_unique<CConsolePort>(prompt);
    port->SetDeviceOpener([opened](const std::string& name, const LineSettings& settings, int* errorCode) {
        *opened = ResolveComName(name, &StoredComDevice);
        return OpenSerialDevice(*opened, settings, errorCode);
    });
    return port;
}

} // namespace

CMainSheet::CMainSheet(const QString& caption, QWidget* parent) : QDialog(parent) {
    InitAppResources();
    setWindowTitle(caption);
    setWindowIcon(QIcon(QStringLiteral(":/app/icon.png")));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    m_pTabs = new QTabWidget(this);
    m_pPageGeneral = new CPageGeneral;
    m_pPageLink = new CPageLink;
    m_pPagePhyStatus = new CPagePhy_Status;
    m_pPageEthernetStatus = new CPageEthernet_Status;
    m_pTabs->addTab(m_pPageGeneral, QStringLiteral("  General Settings  "));
    m_pTabs->addTab(m_pPageLink, QStringLiteral("  Link Configuration  "));
    m_pTabs->addTab(m_pPagePhyStatus, QStringLiteral("  PHY Status  "));
    m_pTabs->addTab(m_pPageEthernetStatus, QStringLiteral("  Ethernet Status  "));
    m_pTabs->setCurrentIndex(0);
    m_portFactory = [this](IUserPrompt* prompt) { return MakeDefaultPort(prompt, &m_devicePath); };
    m_pHistory = std::make_unique<CLineHistory>(m_pPagePhyStatus);
    for (CPropertyPage* page : std::initializer_list<CPropertyPage*>{m_pPageGeneral, m_pPageLink,
                                                                     m_pPagePhyStatus, m_pPageEthernetStatus})
        page->SetActivityObserver(m_pHistory.get());

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_pTabs);
    BuildButtons();
    BuildMenus();
}

CMainSheet::~CMainSheet() {
    StopThreads();
    delete m_pTerminalButton;
    delete m_pDefaultButton;
    m_pTerminalButton = m_pDefaultButton = nullptr;
    delete m_pPageGeneral;
    delete m_pPageLink;
    delete m_pPagePhyStatus;
    delete m_pPageEthernetStatus;
    m_pPageGeneral = nullptr;
    m_pPageLink = nullptr;
    m_pPagePhyStatus = nullptr;
    m_pPageEthernetStatus = nullptr;
    DestroyAboutBox();
    if (g_pTerminalSink.load() == static_cast<ITerminalSink*>(m_pTerminal))
        g_pTerminalSink.store(nullptr);
    delete m_pTerminal;
    m_pTerminal = nullptr;
    if (g_pConsolePort.load() == m_pPort.get())
        g_pConsolePort.store(nullptr);
    if (m_pPort)
        m_pPort->Close();
    m_pPort.reset();
    m_pHistory.reset();
}

void CMainSheet::BuildButtons() {
    m_pTerminalButton = new QPushButton(QStringLiteral("Terminal"), this);
    m_pDefaultButton = new QPushButton(QStringLiteral("Set to Default"), this);
    m_pCloseButton = new QPushButton(QStringLiteral("Close"), this);
    m_pCloseButton->setDefault(true);
    for (QPushButton* b : {m_pTerminalButton, m_pDefaultButton, m_pCloseButton})
        b->setAutoDefault(false);
    m_pCloseButton->setDefault(true);
    // The Terminal and Set to Default buttons share the Close button's width.
    const int width = qMax(m_pDefaultButton->sizeHint().width(), m_pCloseButton->sizeHint().width());
    for (QPushButton* b : {m_pTerminalButton, m_pDefaultButton, m_pCloseButton})
        b->setMinimumWidth(width);
    auto* row = new QHBoxLayout;
    row->addWidget(m_pTerminalButton);
    row->addWidget(m_pDefaultButton);
    // The device line takes what room there is and never widens the window.
    m_pPortLabel = new QLabel(this);
    m_pPortLabel->setObjectName(QStringLiteral("portLabel"));
    m_pPortLabel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    m_pPortLabel->setAlignment(Qt::AlignVCenter | Qt::AlignLeft);
    m_pPortLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    row->addWidget(m_pPortLabel, 1);
    row->addWidget(m_pCloseButton);
    static_cast<QVBoxLayout*>(layout())->addLayout(row);
    connect(m_pTerminalButton, &QPushButton::clicked, this, &CMainSheet::OnTerminalButton);
    connect(m_pDefaultButton, &QPushButton::clicked, this, &CMainSheet::OnSetToDefaultButton);
    connect(m_pCloseButton, &QPushButton::clicked, this, &QDialog::accept);
}

void CMainSheet::BuildMenus() {
    m_pMenu = new QMenuBar(this);
    QMenu* file = m_pMenu->addMenu(QStringLiteral("&File"));
    file->addAction(QStringLiteral("&Save current configuration"), this, &CMainSheet::OnSaveConfiguration);
    file->addAction(QStringLiteral("&Load configuration from file"), this, &CMainSheet::OnLoadConfiguration);
    file->addAction(QStringLiteral("Compare with File..."), this, &CMainSheet::OnCompareWithFile);
    QMenu* window = m_pMenu->addMenu(QStringLiteral("&Window"));
    window->addAction(QStringLiteral("&General"), this, [this] { ShowPage(0); });
    window->addAction(QStringLiteral("&Link Configuration"), this, [this] { ShowPage(1); });
    window->addAction(QStringLiteral("&PHY Status"), this, [this] { ShowPage(2); });
    window->addAction(QStringLiteral("Ethernet &Status"), this, [this] { ShowPage(3); });
    window->addAction(QStringLiteral("Line &History"), this, &CMainSheet::OnLineHistory);
    window->addAction(QStringLiteral("Line &Test..."), this, &CMainSheet::OnLineTest);
    QMenu* info = m_pMenu->addMenu(QStringLiteral("Info"));
    info->addAction(QStringLiteral("&Version Info"), this, &CMainSheet::OnVersionInfo);
    layout()->setMenuBar(m_pMenu);
}

bool CMainSheet::OnInitDialog(IUserPrompt* prompt) {
    // The board's silences and the answers to them go into the line history too.
    m_pPrompt = m_pHistory->WrapPrompt(prompt);
    m_pPort = m_portFactory(m_pPrompt);
    g_pConsolePort.store(m_pPort.get());
    static const char* const kDevices[] = {"COM1:", "COM2:", "COM3:"};
    const bool validIndex = m_portIndex <= 2;
    if (!validIndex || !m_pPort->Open(9600, 8, 0, 0, kDevices[m_portIndex])) {
        const int err = validIndex ? m_pPort->LastOpenError() : 0;
        m_pPort->ShowProblem(std::string(kPortNotAccessible) +
                             PortProblemDetail(m_portIndex, err).toStdString());
        g_pConsolePort.store(nullptr);
        m_pPort.reset();
        return false;
    }
    StartThreads();
    m_portText = PortDeviceText();
    m_pPortLabel->setToolTip(m_portText);
    ElidePortLabel();
    // A child of the sheet (yet its own modeless window), so that it takes input while the sheet runs
    // modally.
    m_pTerminal = new CTerminalDlg(this);
    g_pTerminalSink.store(m_pTerminal);
    static const std::int32_t kCrystalHz[] = {19440000, 22500000, 25000000};
    m_crystalHz = kCrystalHz[m_crystalIndex <= 2 ? m_crystalIndex : 2];
    m_pPageLink->SetCrystal(m_crystalHz, m_crystalIndex);
    return true;
}

// "COM1 = FTDI FT232R USB UART, /dev/serial/by-id/..." for the device opened; just the COM name when
// the transport came from elsewhere (tests).
QString CMainSheet::PortDeviceText() const {
    const int n = m_portIndex + 1;
    if (m_devicePath.empty())
        return QStringLiteral("COM%1").arg(n);
    return ComDeviceLine(n, DiscoverSerialPorts(DefaultDiscoveryOptions()));
}

void CMainSheet::ElidePortLabel() {
    m_pPortLabel->setText(
        m_pPortLabel->fontMetrics().elidedText(m_portText, Qt::ElideMiddle, m_pPortLabel->width()));
}

void CMainSheet::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    ElidePortLabel();
}

void CMainSheet::StartThreads() {
    g_bStopThreads.store(0);
    CConsolePort* port = m_pPort.get();
    CPageEthernet_Status* eth = m_pPageEthernetStatus;
    CPagePhy_Status* phy = m_pPagePhyStatus;
    m_consoleThread.Start([port] { return port->ConsoleWorkerThread(); });
    m_ethThread.Start([eth] { return EthCounterPollThread(eth); });
    m_phyThread.Start([phy] { return PhyStatusPollThread(phy); });
    m_threadsStarted = true;
}

// Tells the threads to stop, wakes them (also out of a blocked read) and waits for them, but not for
// ever. A thread that has not ended in time keeps the transport, the pages and the terminal alive: they
// are then deliberately not freed. The shutdown pause itself is kept whether or not threads were running.
bool CMainSheet::StopThreads() {
    if (m_stopped)
        return m_allThreadsEnded;
    m_stopped = true;
    const auto start = std::chrono::steady_clock::now();
    if (m_threadsStarted) {
        const auto deadline = start + std::chrono::milliseconds(qMax(m_closePauseMs, kJoinLimitMs));
        g_bStopThreads.store(1);
        if (m_pLineTest)
            m_pLineTest->OnStop();
        if (m_pPrompt)
            m_pPrompt->AbandonQuestions(); // a worker waiting for a box must not hold up shutdown
        m_pPort->RequestStop();
        m_pPagePhyStatus->m_pollEvent.Set();
        m_pPageEthernetStatus->m_pollEvent.Set();
        const bool ended = m_consoleThread.JoinUntil(deadline) & m_ethThread.JoinUntil(deadline) &
                           m_phyThread.JoinUntil(deadline);
        m_allThreadsEnded = ended;
        if (m_pLineTest)
            m_pLineTest->Shutdown(); // its reads end at once on the stopped port
        if (!ended) {
            (void)m_pPort.release();
            for (QWidget* page : std::initializer_list<QWidget*>{m_pPageGeneral, m_pPageLink,
                                                                 m_pPagePhyStatus, m_pPageEthernetStatus})
                page->setParent(nullptr);
            m_pPageGeneral = nullptr;
            m_pPageLink = nullptr;
            m_pPagePhyStatus = nullptr;
            m_pPageEthernetStatus = nullptr;
            // The worker may still queue lines into the terminal: it stays, hidden and without owner.
            if (m_pTerminal) {
                m_pTerminal->hide();
                m_pTerminal->setParent(nullptr);
                m_pTerminal = nullptr;
            }
            (void)m_pHistory.release(); // still the observer of the pages left running
        }
        m_threadsStarted = false;
    }
    std::this_thread::sleep_until(start + std::chrono::milliseconds(m_closePauseMs));
    return m_allThreadsEnded;
}

void CMainSheet::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (event->spontaneous() || m_sideDetected || !m_pPort)
        return;
    m_sideDetected = true;
    const ui::CBusyCursor busy;
    DetectModemSide();
    m_pPageLink->SetModemSide(m_side);
    m_pPageGeneral->SetModemSide(m_side);
    m_pPagePhyStatus->SetModemSide(m_side);
    m_pPageGeneral->RefreshFromModem();
}

void CMainSheet::DetectModemSide() {
    m_side = ops::DetectModemSide(ProcessBus()).side;
}

void CMainSheet::closeEvent(QCloseEvent* event) {
    QThread::msleep(static_cast<unsigned long>(m_closePauseMs));
    QDialog::closeEvent(event);
}

void CMainSheet::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_F1) {
        ui::OpenHelp(QFile::exists(QString::fromLatin1(kSheetHelp)) ? QString::fromLatin1(kSheetHelp)
                                                                    : QString::fromLatin1(kHelpIndex));
        return;
    }
    QDialog::keyPressEvent(event);
}

void CMainSheet::OnTerminalButton() {
    if (!m_pTerminal)
        return;
    if (m_pTerminal->IsShownFlag()) {
        m_pTerminal->hide();
        m_pTerminal->SetShownFlag(false);
    } else {
        m_pTerminal->show();
        m_pTerminal->raise();
        m_pTerminal->SetShownFlag(true);
    }
}

void CMainSheet::OnSetToDefaultButton() {
    const ui::CBusyCursor busy;
    const auto answer =
        ui::ShowBox(this, QMessageBox::Warning, QString::fromLatin1(ops::kDefaultTitle),
                    QString::fromLatin1(ops::kDefaultWarning), QMessageBox::Ok | QMessageBox::Cancel);
    if (answer == QMessageBox::Ok)
        SetToDefault();
}

void CMainSheet::OnLineHistory() {
    m_pHistory->ShowWindow(this);
}

CLineTestDlg* CMainSheet::LineTest() const {
    return m_pLineTest.data();
}

void CMainSheet::OnLineTest() {
    if (!m_pLineTest)
        m_pLineTest = new CLineTestDlg(m_pHistory.get(), this);
    m_pLineTest->show();
    m_pLineTest->raise();
    m_pLineTest->activateWindow();
}

void CMainSheet::ShowPage(int index) {
    m_pTabs->setCurrentIndex(index);
}

} // namespace tessor
