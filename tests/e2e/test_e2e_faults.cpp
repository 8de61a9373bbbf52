// Faults end to end: the real application (start-up, sheet, the sheet's own port factory resolving COM1,
// the real box prompt) against the tessor-sim program over a pseudo-terminal, offscreen. Boxes are
// answered through the box hook; what the user sees is asserted: boxes, terminal lines, traffic.

#include "E2eSupport.h"

#include "app/ConfiguratorApp.h"
#include "app/InitHardwareDlg.h"
#include "app/MainSheet.h"
#include "link/ConsolePort.h"
#include "pages/PageEthernetStatus.h"
#include "pages/PagePhyStatus.h"
#include "terminal/TerminalDlg.h"
#include "ui/Boxes.h"
#include "ui/QtUserPrompt.h"
#include "ui_InitHardwareDlg.h"

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <thread>

#include <functional>
#include <grp.h>
#include <mutex>
#include <sys/resource.h>
#include <sys/stat.h>

namespace tessor::e2e {
namespace {

using Clock = std::chrono::steady_clock;

const QString kNoResponse = QString::fromLatin1(CConsolePort::kNoResponseTitle);
const QString kProblem = QString::fromLatin1(ui::QtUserPrompt::kProblemTitle);
const QString kReset = QStringLiteral("   RESET   ");

// Records every box; the answer comes from onBox, else OK.
class BoxLog {
public:
    BoxLog() {
        ui::SetBoxHookForTesting([this](const ui::BoxRequest& r) {
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_boxes.push_back(r);
            }
            return onBox ? onBox(r) : QMessageBox::Ok;
        });
    }
    ~BoxLog() { ui::SetBoxHookForTesting(nullptr); }
    std::vector<ui::BoxRequest> Boxes() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_boxes;
    }
    int Count(const QString& title) const {
        int n = 0;
        for (const ui::BoxRequest& r : Boxes())
            n += r.title == title ? 1 : 0;
        return n;
    }
    std::function<QMessageBox::StandardButton(const ui::BoxRequest&)> onBox;

private:
    mutable std::mutex m_mutex;
    std::vector<ui::BoxRequest> m_boxes;
};

class E2eTest : public ::testing::Test {
protected:
    // The product waits 3500 x 5 ms for an answer; here a silent board is noticed after 1.5 s.
    static constexpr int kPollCount = 300;

    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_dir.path());
        qunsetenv("TESSOR_COM1");
        m_link = m_dir.filePath(QStringLiteral("ttySIM")).toStdString();
    }
    void TearDown() override {
        qunsetenv("TESSOR_COM1");
        ui::SetFileDialogHookForTesting(nullptr);
    }

    static QSettings Store() {
        return QSettings(QStringLiteral("Calvadra"), QCoreApplication::applicationName());
    }

    // Starts the simulated board (line trained at once) and points COM1 at it through the environment.
    void StartBoard(std::vector<std::string> options = {}, bool viaEnvironment = true) {
        options.insert(options.begin(), {"--train-ms", "0"});
        ASSERT_TRUE(m_sim.Start(m_link, options));
        if (viaEnvironment)
            qputenv("TESSOR_COM1", QByteArray::fromStdString(m_link));
    }

    // Runs the application: the start-up dialog (checked by `dialog`, then accepted), the shown sheet
    // given to `inSheet`, then the Close button. Returns how long the shutdown took after Close.
    Clock::duration RunApp(const std::function<void(CMainSheet&)>& inSheet,
                           const std::function<void(CInitHardwareDlg&)>& dialog = {}) {
        CConfiguratorApp app;
        app.runDialog = [&](CInitHardwareDlg& dlg) {
            if (dialog)
                dialog(dlg);
            dlg.accept();
            return static_cast<int>(QDialog::Accepted);
        };
        Clock::time_point closed{};
        app.runSheet = [&](CMainSheet& sheet) {
            m_sheetRan = true;
            sheet.Port()->SetPollTiming(kPollCount, std::chrono::microseconds(5000));
            sheet.show();
            QTest::qWait(20);
            inSheet(sheet);
            closed = Clock::now();
            sheet.CloseButton()->click();
            return 0;
        };
        EXPECT_EQ(app.Run(), 0);
        return m_sheetRan ? Clock::now() - closed : Clock::duration{};
    }

    static QListWidget* List(CMainSheet& sheet) {
        return sheet.Terminal()->findChild<QListWidget*>(QStringLiteral("lineList"));
    }
    static void Type(CMainSheet& sheet, const QString& command) {
        sheet.Terminal()->findChild<QLineEdit*>(QStringLiteral("commandEdit"))->setText(command);
        sheet.Terminal()->findChild<QPushButton*>(QStringLiteral("sendButton"))->click();
    }
    static QPushButton* TerminalButton(CMainSheet& sheet, const char* name) {
        return sheet.Terminal()->findChild<QPushButton*>(QString::fromLatin1(name));
    }
    static QPushButton* StartStop(CMainSheet& sheet) {
        return sheet.PageEthernetStatus()->findChild<QPushButton*>(QStringLiteral("buttonStartStop"));
    }
    // Lines from the first occurrence of `from` on (all when absent).
    static QStringList LinesFrom(const QStringList& lines, const QString& from) {
        const int at = lines.indexOf(from);
        return at < 0 ? lines : lines.mid(at);
    }

    QTemporaryDir m_dir;
    std::string m_link;
    SimProcess m_sim;
    bool m_sheetRan = false;
};

// ---------------------------------------------------------------------------------------------------------
// A board that goes silent

TEST_F(E2eTest, BoardSilentInAPassAsksOnceAndRetryAfterItAnswersResumes) {
    StartBoard({"--reply-delay-ms", "60"}); // a pass of 15 reads takes about a second
    BoxLog boxes;
    boxes.onBox = [this](const ui::BoxRequest& r) {
        if (r.title != kNoResponse)
            return QMessageBox::Ok;
        // The board answers again before the user presses RETRY.
        EXPECT_TRUE(m_sim.Command("silent off", "silent off"));
        EXPECT_TRUE(m_sim.Command("delay 0", "reply delay 0"));
        return QMessageBox::Retry;
    };
    RunApp([&](CMainSheet& sheet) {
        CPageEthernet_Status* eth = sheet.PageEthernetStatus();
        QListWidget* list = List(sheet);
        sheet.ShowPage(3);
        StartStop(sheet)->click();
        // In the middle of the pass: the third counter has been asked for.
        ASSERT_TRUE(QTest::qWaitFor([&] { return ListLines(list).contains("L> RD 8D18 4"); }, kGuardMs));
        ASSERT_TRUE(m_sim.Command("silent on", "silent on"));
        ASSERT_TRUE(QTest::qWaitFor([&] { return eth->PassCount() >= 1; }, kGuardMs));
        EXPECT_EQ(boxes.Count(kNoResponse), 1);

        // The next tick shows the pass and starts another one, which runs without a fault.
        eth->OnTimer();
        EXPECT_GT(eth->Field(0)->text().toULongLong(), 0u) << eth->Field(0)->text().toStdString();
        ASSERT_TRUE(QTest::qWaitFor([&] { return eth->PassCount() >= 2; }, kGuardMs));
        QTest::qWait(50);

        const auto shown = boxes.Boxes();
        ASSERT_EQ(shown.size(), 1u);
        EXPECT_EQ(shown[0].title, kNoResponse);
        EXPECT_EQ(shown[0].text, QString::fromLatin1(CConsolePort::kNoResponseText));
        EXPECT_EQ(shown[0].buttons, QMessageBox::Retry | QMessageBox::Cancel);
        // The unanswered command ends with the comeback prompt (RESET); then the pass goes on to its
        // last counter and the next pass reads all fifteen again, each answered.
        const QStringList after = LinesFrom(ListLines(list), kReset);
        ASSERT_FALSE(after.isEmpty());
        EXPECT_EQ(after.front(), kReset);
        EXPECT_GE(after.filter(QStringLiteral("L> RD 8D1C 4")).size(), 1) << after.join('|').toStdString();
        const int answers = after.filter(QRegularExpression(QStringLiteral("^ [0-9A-F]{4}: "))).size();
        EXPECT_GE(answers, 16);
        EXPECT_FALSE(sheet.Port()->NoComm());
    });
}

TEST_F(E2eTest, BoardSilentAndCancelLeavesAUsableToolThatSendsNothingMore) {
    StartBoard();
    BoxLog boxes;
    boxes.onBox = [this](const ui::BoxRequest& r) {
        if (r.title != kNoResponse)
            return QMessageBox::Ok;
        EXPECT_TRUE(m_sim.Command("silent off", "silent off")); // it would answer now
        return QMessageBox::Cancel;
    };
    const auto shutdown = RunApp([&](CMainSheet& sheet) {
        CPageEthernet_Status* eth = sheet.PageEthernetStatus();
        QListWidget* list = List(sheet);
        sheet.ShowPage(3);
        StartStop(sheet)->click();
        ASSERT_TRUE(QTest::qWaitFor([&] { return eth->PassCount() >= 1; }, kGuardMs));
        ASSERT_TRUE(m_sim.Command("silent on", "silent on"));
        eth->OnTimer();
        ASSERT_TRUE(QTest::qWaitFor([&] { return boxes.Count(kNoResponse) == 1; }, kGuardMs));
        QTest::qWait(100);
        // Command lines are what went out (the RESET of the abandoned reply may still follow).
        const auto commandsSent = [list] {
            return ListLines(list).filter(QRegularExpression("^L> ")).size();
        };
        const auto sentAfterCancel = commandsSent();

        // Everything the user can do that would reach the board: ticks, the PHY page, a typed command,
        // Stop and Start. The window reacts; nothing goes out, and no further box comes.
        for (int i = 0; i < 5; ++i) {
            eth->OnTimer();
            QTest::qWait(50);
        }
        sheet.OnTerminalButton();
        Type(sheet, QStringLiteral("rd 8c10"));
        sheet.ShowPage(2);
        sheet.PagePhyStatus()->OnTimer();
        QTest::qWait(200);
        sheet.ShowPage(3);
        StartStop(sheet)->click();
        EXPECT_EQ(StartStop(sheet)->text(), "Stop");
        eth->OnTimer();
        QTest::qWait(300);
        StartStop(sheet)->click();
        EXPECT_EQ(StartStop(sheet)->text(), "Start");
        EXPECT_EQ(sheet.Tabs()->currentIndex(), 3);

        EXPECT_EQ(commandsSent(), sentAfterCancel) << ListLines(list).join('|').toStdString();
        EXPECT_EQ(boxes.Boxes().size(), 1u);
        EXPECT_TRUE(sheet.Port()->NoComm());
    });
    EXPECT_LT(shutdown, std::chrono::seconds(5));
}

// ---------------------------------------------------------------------------------------------------------
// Damaged replies

TEST_F(E2eTest, CorruptedEchoAndNoiseShowResetAndTheNextCommandWorks) {
    StartBoard();
    BoxLog boxes;
    RunApp([&](CMainSheet& sheet) {
        QListWidget* list = List(sheet);
        sheet.OnTerminalButton();
        TerminalButton(sheet, "clearButton")->click();

        ASSERT_TRUE(m_sim.Command("corrupt-echo", "next echo corrupted"));
        Type(sheet, QStringLiteral("wr 8c12 66"));
        Type(sheet, QStringLiteral("rd 8c12"));
        // Noise that hits an exchange stands in front of its echo; noise while the tool is idle is
        // discarded before the next command and costs nothing.
        ASSERT_TRUE(m_sim.Command("noise-next 24", "noise of 24 bytes before the next echo"));
        Type(sheet, QStringLiteral("rd 8c10"));
        Type(sheet, QStringLiteral("rd 8c10"));
        ASSERT_TRUE(m_sim.Command("noise 24", "sent 24 noise bytes"));
        QTest::qWait(50);
        Type(sheet, QStringLiteral("rd 8c11"));
        QTest::qWait(20);

        // The corrupted write was still carried out, which the next read shows.
        EXPECT_EQ(ListLines(list),
                  (QStringList{kReset, "L> WR 8C12 66", " 8C12: 66", "L> RD 8C12", kReset, "L> RD 8C10",
                               " 8C10: 32", "L> RD 8C10", " 8C11: 24", "L> RD 8C11"}));
        EXPECT_TRUE(boxes.Boxes().empty());
        EXPECT_FALSE(sheet.Port()->NoComm());
    });
}

// ---------------------------------------------------------------------------------------------------------
// The device goes away

TEST_F(E2eTest, HangUpWhileBothPollThreadsRunShowsTheReadErrorOnceAndClosesPromptly) {
    // The device stays gone; replies come late, so the hang-up mostly finds the link layer reading.
    StartBoard({"--reopen-ms", "60000", "--reply-delay-ms", "30"});
    BoxLog boxes;
    boxes.onBox = [&boxes](const ui::BoxRequest& r) {
        if (r.title != kNoResponse)
            return QMessageBox::Ok;
        // RETRY once more against the missing device, then give up.
        return boxes.Count(kNoResponse) < 2 ? QMessageBox::Retry : QMessageBox::Cancel;
    };
    const auto shutdown = RunApp([&](CMainSheet& sheet) {
        CPageEthernet_Status* eth = sheet.PageEthernetStatus();
        CPagePhy_Status* phy = sheet.PagePhyStatus();
        sheet.ShowPage(3);
        StartStop(sheet)->click();
        // Both poll threads busy: the Ethernet page ticks, and the PHY thread is woken as its tick does.
        QTimer ticks;
        QObject::connect(&ticks, &QTimer::timeout, [eth, phy] {
            eth->OnTimer();
            phy->m_pollEvent.Set();
        });
        ticks.start(20);
        ASSERT_TRUE(
            QTest::qWaitFor([&] { return eth->PassCount() >= 1 && phy->PassCount() >= 1; }, kGuardMs));
        ASSERT_TRUE(m_sim.Command("hangup", "hanging up"));
        ASSERT_TRUE(QTest::qWaitFor([&] { return boxes.Count(kNoResponse) == 2; }, kGuardMs));
        QTest::qWait(500);
        ticks.stop();

        int ioErrors = 0;
        for (const ui::BoxRequest& r : boxes.Boxes()) {
            if (r.title != kProblem)
                continue;
            ++ioErrors;
            // Read or write, whichever the link layer was doing when the line went: EIO, once.
            EXPECT_TRUE(r.text.startsWith("Error while reading data: 5 ") ||
                        r.text.startsWith("Error while writing data: 5 "))
                << r.text.toStdString();
            EXPECT_EQ(r.icon, QMessageBox::Critical);
        }
        EXPECT_EQ(ioErrors, 1);
        EXPECT_EQ(boxes.Count(kNoResponse), 2);
        EXPECT_EQ(boxes.Boxes().size(), 3u);
    });
    // Generous: the close pause is 1 s; the point is that no thread keeps the tool from ending.
    EXPECT_LT(shutdown, std::chrono::seconds(5));
}

// ---------------------------------------------------------------------------------------------------------
// The log file's disk fills

TEST_F(E2eTest, LogFileThatStopsTakingBytesStopsLoggingWhileTheListAndAccessGoOn) {
    StartBoard();
    BoxLog boxes;
    const QString logPath = m_dir.filePath(QStringLiteral("console.log"));
    ui::SetFileDialogHookForTesting([logPath](const ui::FileDialogRequest&) { return logPath; });
    // The file may not grow past this size, as on a full disk (the call fails with EFBIG rather than
    // ENOSPC; the tool handles both alike).
    constexpr rlim_t kLimit = 300;
    RunApp([&](CMainSheet& sheet) {
        QListWidget* list = List(sheet);
        sheet.OnTerminalButton();
        TerminalButton(sheet, "clearButton")->click();
        TerminalButton(sheet, "logButton")->click();
        ASSERT_EQ(TerminalButton(sheet, "logButton")->text(), "Stop Logging");

        rlimit saved{};
        ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limited = saved;
        limited.rlim_cur = kLimit;
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
        for (int i = 0; i < 20; ++i)
            Type(sheet, QStringLiteral("rd 8c%1").arg(0x10 + i, 2, 16, QLatin1Char('0')));
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, oldHandler);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !boxes.Boxes().empty(); }, kGuardMs));
        QTest::qWait(50);

        const auto shown = boxes.Boxes();
        ASSERT_EQ(shown.size(), 1u);
        EXPECT_EQ(shown[0].title, "Error");
        EXPECT_EQ(shown[0].text, "An error occurred while writing to " + QDir::toNativeSeparators(logPath) +
                                     ": File too large.\nLogging has been stopped.");
        EXPECT_EQ(TerminalButton(sheet, "logButton")->text(), "Start Logging...");

        // Every command was answered and every line reached the list, in order.
        const QStringList lines = ListLines(list);
        ASSERT_EQ(lines.size(), 40);
        for (int i = 0; i < 20; ++i) {
            const QString address = QStringLiteral("8C%1").arg(0x10 + i, 2, 16, QLatin1Char('0')).toUpper();
            EXPECT_TRUE(lines[2 * i].startsWith(" " + address + ": ")) << lines[2 * i].toStdString();
            EXPECT_EQ(lines[2 * i + 1], "L> RD " + address);
        }
        // The log holds the same lines up to where the file stopped growing.
        QFile log(logPath);
        ASSERT_TRUE(log.open(QIODevice::ReadOnly));
        const QByteArray logged = log.readAll();
        const QByteArray all = (lines.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n")).toLatin1();
        EXPECT_EQ(logged.size(), static_cast<int>(kLimit));
        EXPECT_TRUE(all.startsWith(logged)) << logged.toStdString();

        // Register access goes on after the failure.
        Type(sheet, QStringLiteral("rd 8c70"));
        EXPECT_EQ(ListLines(list).mid(40), (QStringList{" 8C70: 00", "L> RD 8C70"}));
    });
}

// ---------------------------------------------------------------------------------------------------------
// Loading a configuration file

TEST_F(E2eTest, EveryLoaderErrorStopsWithItsBoxAndAGoodFileStillLoads) {
    StartBoard();
    BoxLog boxes;
    QString next;
    ui::SetFileDialogHookForTesting([&next](const ui::FileDialogRequest&) { return next; });
    auto write = [this](const char* name, const QByteArray& bytes) {
        QFile f(m_dir.filePath(QString::fromLatin1(name)));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        return f.fileName();
    };
    struct Case {
        QString path;
        QString message;
        QStringList written;
    };
    ASSERT_TRUE(QDir(m_dir.path()).mkdir(QStringLiteral("folder.LT")));
    const QString missing = m_dir.filePath(QStringLiteral("missing.LT"));
    const QString folder = m_dir.filePath(QStringLiteral("folder.LT"));
    const std::vector<Case> cases{
        {missing, QDir::toNativeSeparators(missing) + " was not found.", {}},
        {folder, "Access to " + QDir::toNativeSeparators(folder) + " was denied.", {}},
        {write("header.LT", "LX\r\n8C40:32"), "Error in load Configuration file", {}},
        {write("side.LT", "NT\r\n8C40:32"), "Configuration does not match to modem type LT", {}},
        {write("lineend.LT", "LT\n8C40:32"), "Incorrect character in configuration file", {}},
        // The whole file is checked before the first write: a refused file writes nothing.
        {write("register.LT", "LT\r\n8C40:32\r\n8c41:24"), "Unknown register in configuration file", {}},
        {write("value.LT", "LT\r\n8C40:32\r\n8C41:2g"), "Impossible value in configuration file", {}},
        {write("control.LT", "LT\r\n8C40:32\r\n8C30:1F"), "Unknown register in configuration file", {}},
    };
    RunApp([&](CMainSheet& sheet) {
        QListWidget* list = List(sheet);
        QAction* load = nullptr;
        for (QAction* menu : sheet.MenuBar()->actions())
            for (QAction* item : menu->menu()->actions())
                if (item->text() == "&Load configuration from file")
                    load = item;
        ASSERT_NE(load, nullptr);
        sheet.OnTerminalButton();

        for (const Case& c : cases) {
            SCOPED_TRACE(c.path.toStdString());
            TerminalButton(sheet, "clearButton")->click();
            const std::size_t before = boxes.Boxes().size();
            next = c.path;
            load->trigger();
            QTest::qWait(20);
            const auto shown = boxes.Boxes();
            ASSERT_EQ(shown.size(), before + 1);
            EXPECT_EQ(shown.back().title, "Error");
            EXPECT_EQ(shown.back().text, c.message);
            // The records before the fault are written, and the modem is not restarted.
            EXPECT_EQ(ListLines(list), c.written);
        }

        TerminalButton(sheet, "clearButton")->click();
        next = write("good.LT", "LT\r\n8C40:32\r\n8C42:4F");
        load->trigger();
        QTest::qWait(20);
        EXPECT_EQ(boxes.Boxes().size(), cases.size());
        EXPECT_EQ(ListLines(list).mid(0, 4),
                  (QStringList{"L> WR 8C10 32", "L> WR 8C12 4F", "L> OR 8C00 08", "L> OR 8C00 20"}));
        Type(sheet, QStringLiteral("rd 8c12"));
        EXPECT_EQ(ListLines(list).mid(ListLines(list).size() - 2), (QStringList{" 8C12: 4F", "L> RD 8C12"}));
    });
}

// ---------------------------------------------------------------------------------------------------------
// Start-up: settings and the COM port

TEST_F(E2eTest, GarbageSettingsStillReachTheBoardThroughTheStoredDevice) {
    StartBoard({}, false);
    QSettings store = Store();
    store.setValue("Settings/Port", "\x01garbage");
    store.setValue("Settings/Frequency", "2.5e9x");
    store.setValue("Ports/COM1", QString::fromStdString(m_link));
    store.setValue("Ports/COM2", "\x7f\x01not a device");
    store.sync();
    BoxLog boxes;
    std::uint8_t side = 0;
    RunApp(
        [&](CMainSheet& sheet) {
            side = sheet.m_side;
            sheet.OnTerminalButton();
            Type(sheet, QStringLiteral("rd 8c70"));
            EXPECT_EQ(ListLines(List(sheet)).mid(ListLines(List(sheet)).size() - 2),
                      (QStringList{" 8C70: 00", "L> RD 8C70"}));
        },
        [](CInitHardwareDlg& dlg) {
            EXPECT_EQ(dlg.Form()->portList->currentText(), "COM1");
            EXPECT_EQ(dlg.Form()->crystalList->currentText(), "25.00 MHz");
        });
    EXPECT_TRUE(m_sheetRan);
    EXPECT_EQ(side, 1); // LT, read from the board
    EXPECT_TRUE(boxes.Boxes().empty());
    EXPECT_EQ(Store().value("Settings/Port").toInt(), 0);
    EXPECT_EQ(Store().value("Settings/Frequency").toInt(), 2);
}

TEST_F(E2eTest, MissingDeviceGivesOneClearProblemBoxAndNoSheet) {
    const QString device = m_dir.filePath(QStringLiteral("ttyUSB-gone"));
    qputenv("TESSOR_COM1", device.toLocal8Bit());
    BoxLog boxes;
    RunApp([](CMainSheet&) { ADD_FAILURE() << "the sheet must not run"; });
    EXPECT_FALSE(m_sheetRan);
    const auto shown = boxes.Boxes();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].title, kProblem);
    EXPECT_EQ(shown[0].icon, QMessageBox::Critical);
    EXPECT_EQ(shown[0].text, "selected COM port is not accessible\n\nCOM1 is " + device +
                                 ": No such file or directory.\nSet the environment variable TESSOR_COM1, or "
                                 "the setting Ports/COM1, to the device of your adapter (for a USB adapter a "
                                 "stable name under /dev/serial/by-id/). \n");
}

TEST_F(E2eTest, DeviceTheUserMayNotOpenNamesTheGroupToJoin) {
    // A read-only kernel setting refuses a read-write open with EACCES even to root, so the permission
    // case can be produced without an unprivileged user.
    const char* const device = "/proc/sys/kernel/version";
    const int fd = ::open(device, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    const int err = fd < 0 ? errno : 0;
    if (fd >= 0)
        ::close(fd);
    if (err != EACCES)
        GTEST_SKIP() << device << " does not refuse a read-write open with EACCES here";
    struct stat st {};
    ASSERT_EQ(::stat(device, &st), 0);
    const group* owner = ::getgrgid(st.st_gid);
    ASSERT_NE(owner, nullptr);
    const QString groupName = QString::fromLocal8Bit(owner->gr_name);

    qputenv("TESSOR_COM1", device);
    BoxLog boxes;
    RunApp([](CMainSheet&) { ADD_FAILURE() << "the sheet must not run"; });
    EXPECT_FALSE(m_sheetRan);
    const auto shown = boxes.Boxes();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].title, kProblem);
    EXPECT_EQ(
        shown[0].text,
        QStringLiteral("selected COM port is not accessible\n\nCOM1 is %1: Permission denied.\nSerial "
                       "devices may be opened only by members of the group that owns them (\"%2\").\nAdd "
                       "your user to it (usermod -aG %2 USER) and log in again. \n")
            .arg(QString::fromLatin1(device), groupName));
}

} // namespace
} // namespace tessor::e2e
