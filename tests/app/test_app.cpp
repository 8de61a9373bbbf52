// Start-up, settings, the main sheet's buttons and shutdown, against the simulated modem pair.

#include "app/ConfiguratorApp.h"
#include "app/InitHardwareDlg.h"
#include "app/LineTestDlg.h"
#include "app/MainSheet.h"
#include "linetest/LineTest.h"
#include "link/ConsolePort.h"
#include "ops/ProcessAccess.h"
#include "pages/PageEthernetStatus.h"
#include "pages/PageGeneral.h"
#include "pages/PagePhyStatus.h"
#include "support/RegResultCheck.h"
#include "support/SimHarness.h"
#include "terminal/TerminalDlg.h"
#include "ui/QtUserPrompt.h"
#include "ui_InitHardwareDlg.h"

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QSettings>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <future>

namespace tessor::test {
namespace {

// Waits (processing events) until the condition holds, at most a few seconds.
bool WaitFor(const std::function<bool()>& condition) {
    const auto guard = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > guard)
            return false;
        QTest::qWait(5);
    }
    return true;
}

// A fresh settings store per test.
class AppTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_dir.path());
        g_bStopThreads.store(0);
        g_promptLetter.store(0);
    }

    static QSettings Store() {
        return QSettings(QStringLiteral("Calvadra"), QCoreApplication::applicationName());
    }

    // Sheets in tests use the simulator as their board and skip the shutdown pauses.
    void UseSimulator(CMainSheet& sheet, ModemSide side = kSideLT) {
        simulator = std::make_shared<sim::CSimulator>(SimBoard::DefaultConfig(side));
        simulator->AdvanceTime(10);
        sheet.SetClosePauseMs(0);
        sheet.SetPortFactory([this](IUserPrompt* p) {
            auto port = std::make_unique<CConsolePort>(p);
            port->SetPollTiming(200, std::chrono::microseconds(1000));
            port->SetDeviceOpener([this](const std::string& name, const LineSettings& settings, int* err) {
                openedNames.push_back(name);
                openedSettings = settings;
                if (portMissing) {
                    *err = ENOENT;
                    return std::unique_ptr<SerialDevice>();
                }
                return sim::CSimulator::CreateDevice(simulator);
            });
            return port;
        });
    }

    // Runs the start-up with the dialog answered by `answer` and the sheet's run replaced by `inSheet`.
    int RunApp(std::function<int(CInitHardwareDlg&)> answer, std::function<void(CMainSheet&)> inSheet = {}) {
        CConfiguratorApp app;
        app.prompt = &prompt;
        app.prepareSheet = [this](CMainSheet& sheet) { UseSimulator(sheet); };
        app.runDialog = std::move(answer);
        app.runSheet = [this, inSheet](CMainSheet& sheet) {
            sheetRan = true;
            sheet.show();
            if (inSheet)
                inSheet(sheet);
            sheet.accept();
            return 0;
        };
        return app.Run();
    }

    QTemporaryDir m_dir;
    FakePrompt prompt;
    std::shared_ptr<sim::CSimulator> simulator;
    std::vector<std::string> openedNames;
    LineSettings openedSettings;
    bool portMissing = false;
    bool sheetRan = false;
};

TEST_F(AppTest, FirstRunPreselectsCom1AndFixedCrystalThenRemembersTheChoice) {
    const int code = RunApp([](CInitHardwareDlg& dlg) {
        EXPECT_EQ(dlg.windowTitle(), "Initialize Hardware");
        EXPECT_EQ(dlg.Form()->portList->currentText(), "COM1");
        EXPECT_EQ(dlg.Form()->crystalList->currentText(), "25.00 MHz");
        EXPECT_FALSE(dlg.Form()->crystalList->isEnabled());
        QStringList ports;
        for (int i = 0; i < dlg.Form()->portList->count(); ++i)
            ports << dlg.Form()->portList->itemText(i);
        EXPECT_EQ(ports, (QStringList{"COM1", "COM2", "COM3"}));
        dlg.Form()->portList->setCurrentIndex(1);
        dlg.accept();
        return static_cast<int>(QDialog::Accepted);
    });
    EXPECT_EQ(code, 0);
    EXPECT_TRUE(sheetRan);
    EXPECT_EQ(openedNames, std::vector<std::string>{"COM2:"});
    EXPECT_EQ(openedSettings.baud, 9600u);
    EXPECT_EQ(openedSettings.byteSize, 8);
    EXPECT_EQ(openedSettings.parity, 0);
    EXPECT_EQ(openedSettings.stopBits, 0);
    EXPECT_EQ(Store().value("Settings/Port").toInt(), 1);
    EXPECT_EQ(Store().value("Settings/Frequency").toInt(), 2);
}

struct StoredPortCase {
    const char* name;
    int storedPort;
    int storedFrequency;
    const char* shown;
    const char* device;
};

class StoredPortTest : public AppTest, public ::testing::WithParamInterface<StoredPortCase> {};

TEST_P(StoredPortTest, PreselectsAndOpens) {
    Store().setValue("Settings/Port", GetParam().storedPort);
    Store().setValue("Settings/Frequency", GetParam().storedFrequency);
    std::uint8_t sheetCrystal = 99;
    RunApp(
        [](CInitHardwareDlg& dlg) {
            EXPECT_EQ(dlg.Form()->portList->currentText(), GetParam().shown);
            EXPECT_EQ(dlg.Form()->crystalList->currentText(), "25.00 MHz");
            dlg.accept();
            return static_cast<int>(QDialog::Accepted);
        },
        [&sheetCrystal](CMainSheet& sheet) { sheetCrystal = sheet.m_crystalIndex; });
    EXPECT_EQ(openedNames, std::vector<std::string>{GetParam().device});
    EXPECT_EQ(sheetCrystal, 2);
}

INSTANTIATE_TEST_SUITE_P(Settings, StoredPortTest,
                         ::testing::Values(StoredPortCase{"Port2", 2, 2, "COM3", "COM3:"},
                                           StoredPortCase{"Port7FallsBackToCom1", 7, 2, "COM1", "COM1:"},
                                           StoredPortCase{"OtherCrystalIgnored", 1, 0, "COM2", "COM2:"},
                                           StoredPortCase{"ByteTruncation", 258, 2, "COM3", "COM3:"}),
                         [](const auto& p) { return std::string(p.param.name); });

TEST_F(AppTest, GarbageSettingsFallBackToDefaults) {
    Store().setValue("Settings/Port", "not a number");
    Store().setValue("Settings/Frequency", "x");
    RunApp([](CInitHardwareDlg& dlg) {
        EXPECT_EQ(dlg.Form()->portList->currentText(), "COM1");
        dlg.accept();
        return static_cast<int>(QDialog::Accepted);
    });
    EXPECT_EQ(openedNames, std::vector<std::string>{"COM1:"});
}

TEST_F(AppTest, LineTestThresholdsAreNumbersInRangeWhateverTheSettingsOrTheKeys) {
    // A settings store with thresholds that are not numbers in range: the defaults, not a clamped limit.
    Store().setValue("LineTest/MinSnrCenti", "-2147483648");
    Store().setValue("LineTest/MaxRsPerSecond", "nan");
    Store().setValue("LineTest/MaxEsrPercent", "nan");
    Store().setValue("LineTest/MaxSesrPercent", "150");
    CLineTestDlg dlg(nullptr);
    auto* minSnr = dlg.findChild<QDoubleSpinBox*>("minSnr");
    auto* maxRs = dlg.findChild<QDoubleSpinBox*>("maxRs");
    auto* maxEsr = dlg.findChild<QDoubleSpinBox*>("maxEsr");
    auto* maxSesr = dlg.findChild<QDoubleSpinBox*>("maxSesr");
    ASSERT_TRUE(minSnr && maxRs && maxEsr && maxSesr);
    EXPECT_EQ(minSnr->value(), 30.0);
    EXPECT_EQ(maxRs->value(), 10.0);
    EXPECT_EQ(maxEsr->value(), 1.0);
    EXPECT_EQ(maxSesr->value(), 0.2);
    // Typed: the fields take no text that is not such a number.
    for (const char* text : {"nan", "inf", "-1", "1e9"}) {
        SCOPED_TRACE(text);
        for (QDoubleSpinBox* box : {minSnr, maxRs, maxEsr, maxSesr}) {
            box->findChild<QLineEdit*>()->selectAll();
            QTest::keyClicks(box, text);
            box->interpretText();
        }
        EXPECT_TRUE(linetest::MinSnrDbAccepted(minSnr->value())) << minSnr->value();
        EXPECT_TRUE(linetest::MaxRsPerSecondAccepted(maxRs->value())) << maxRs->value();
        EXPECT_TRUE(linetest::RatioPercentAccepted(maxEsr->value())) << maxEsr->value();
        EXPECT_TRUE(linetest::RatioPercentAccepted(maxSesr->value())) << maxSesr->value();
    }
}

TEST_F(AppTest, CancelOpensNothingAndWritesNothing) {
    Store().setValue("Settings/Port", 7);
    const int code = RunApp([](CInitHardwareDlg& dlg) {
        dlg.reject();
        return static_cast<int>(QDialog::Rejected);
    });
    EXPECT_EQ(code, 0);
    EXPECT_FALSE(sheetRan);
    EXPECT_TRUE(openedNames.empty());
    EXPECT_EQ(Store().value("Settings/Port").toInt(), 7);
    EXPECT_FALSE(Store().contains("Settings/Frequency"));
}

TEST_F(AppTest, PortNotAccessibleShowsOnlyTheProblemBox) {
    portMissing = true;
    const int code = RunApp([](CInitHardwareDlg& dlg) {
        dlg.accept();
        return static_cast<int>(QDialog::Accepted);
    });
    EXPECT_EQ(code, 0);
    EXPECT_FALSE(sheetRan);
    ASSERT_EQ(prompt.problems.size(), 1u);
    const std::string& text = prompt.problems[0];
    EXPECT_EQ(text.rfind("selected COM port is not accessible\n\nCOM1 is ", 0), 0u) << text;
    EXPECT_NE(text.find("No such file or directory"), std::string::npos) << text;
    EXPECT_NE(text.find("TESSOR_COM1"), std::string::npos) << text;
    EXPECT_EQ(text.substr(text.size() - 2), " \n");
    EXPECT_EQ(g_pConsolePort.load(), nullptr);
}

TEST_F(AppTest, SheetHasItsTabsMenusAndButtonsAndLearnsTheSide) {
    for (ModemSide side : {kSideLT, kSideNT}) {
        CMainSheet sheet{QString::fromLatin1(CMainSheet::kCaption)};
        UseSimulator(sheet, side);
        ASSERT_TRUE(sheet.OnInitDialog(&prompt));
        sheet.show();
        EXPECT_EQ(sheet.windowTitle(), "Tessor Console Configurator");
        EXPECT_EQ(sheet.m_side, side == kSideNT ? 2 : 1);
        EXPECT_EQ(sheet.m_crystalHz, 25000000);
        QStringList tabs;
        for (int i = 0; i < sheet.Tabs()->count(); ++i)
            tabs << sheet.Tabs()->tabText(i);
        EXPECT_EQ(tabs, (QStringList{"  General Settings  ", "  Link Configuration  ", "  PHY Status  ",
                                     "  Ethernet Status  "}));
        QStringList menus;
        for (QAction* menu : sheet.MenuBar()->actions()) {
            menus << menu->text();
            for (QAction* item : menu->menu()->actions())
                menus << item->text();
        }
        EXPECT_EQ(menus, (QStringList{"&File", "&Save current configuration", "&Load configuration from file",
                                      "Compare with File...", "&Window", "&General", "&Link Configuration",
                                      "&PHY Status", "Ethernet &Status", "Line &History", "Line &Test...",
                                      "Info", "&Version Info"}));
        EXPECT_EQ(sheet.TerminalButton()->text(), "Terminal");
        EXPECT_EQ(sheet.DefaultButton()->text(), "Set to Default");
        EXPECT_EQ(sheet.CloseButton()->text(), "Close");
        EXPECT_TRUE(sheet.windowFlags() & Qt::WindowMinimizeButtonHint);
        const QString local = side == kSideNT ? "Local Modem (NT)" : "Local Modem (LT)";
        bool found = false;
        for (QGroupBox* group : sheet.PageGeneral()->findChildren<QGroupBox*>())
            found = found || group->title() == local;
        EXPECT_TRUE(found);
        sheet.ShowPage(3);
        EXPECT_EQ(sheet.Tabs()->currentIndex(), 3);
        sheet.accept();
    }
}

TEST_F(AppTest, TerminalButtonTogglesAlsoAfterTheTerminalHidItself) {
    CMainSheet sheet{QString::fromLatin1(CMainSheet::kCaption)};
    UseSimulator(sheet);
    ASSERT_TRUE(sheet.OnInitDialog(&prompt));
    CTerminalDlg* terminal = sheet.Terminal();
    ASSERT_NE(terminal, nullptr);
    EXPECT_FALSE(terminal->isVisible());
    sheet.TerminalButton()->click();
    EXPECT_TRUE(terminal->isVisible());
    sheet.TerminalButton()->click();
    EXPECT_FALSE(terminal->isVisible());
    sheet.TerminalButton()->click();
    EXPECT_TRUE(terminal->isVisible());
    terminal->reject(); // its own Close button
    EXPECT_FALSE(terminal->isVisible());
    sheet.TerminalButton()->click();
    EXPECT_TRUE(terminal->isVisible());
    // The terminal receives the sheet's traffic.
    EXPECT_EQ(LocalReg(kWrite, "8C1E", "01"), Answered(1));
    EXPECT_EQ(g_pTerminalSink.load(), static_cast<ITerminalSink*>(terminal));
}

TEST_F(AppTest, SetToDefaultCancelledSendsNothing) {
    CMainSheet sheet{QString::fromLatin1(CMainSheet::kCaption)};
    UseSimulator(sheet);
    ASSERT_TRUE(sheet.OnInitDialog(&prompt));
    simulator->ClearWireLog();
    BoxRecorder boxes;
    boxes.answers = {QMessageBox::Cancel};
    sheet.DefaultButton()->click();
    const auto shown = boxes.Boxes();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].title, "Set to Default");
    EXPECT_EQ(shown[0].text,
              "Warning: OK will reset all registers\nin the Local and Remote Modem!\nPress CANCEL to "
              "return without changes.");
    EXPECT_EQ(shown[0].buttons, QMessageBox::Ok | QMessageBox::Cancel);
    EXPECT_EQ(simulator->BytesToBoard(), "");
}

TEST_F(AppTest, ShutdownWithASilentBoardEndsPromptly) {
    auto sheet = std::make_unique<CMainSheet>(QString::fromLatin1(CMainSheet::kCaption));
    UseSimulator(*sheet);
    ASSERT_TRUE(sheet->OnInitDialog(&prompt));
    simulator->SetSilent(true);
    // A poll pass blocks in a register access that will never be answered.
    sheet->Port()->SetPollTiming(1000000, std::chrono::microseconds(1000));
    sheet->PagePhyStatus()->m_pollEvent.Set();
    sheet->PageEthernetStatus()->m_pollEvent.Set();
    QTest::qWait(50);
    const auto start = std::chrono::steady_clock::now();
    sheet.reset();
    const auto elapsed = std::chrono::steady_clock::now() - start;
    // Generous: the point is that it ends at all, and without freeing what a thread still uses.
    EXPECT_LT(elapsed, std::chrono::seconds(5));
    EXPECT_EQ(g_pConsolePort.load(), nullptr);
    EXPECT_EQ(prompt.Asked(), 0);
}

// A poll thread held up inside the terminal (a log write on a stalled disk) outlives the shutdown's
// wait: the terminal, like the port and the pages, must stay for it.
TEST_F(AppTest, ShutdownKeepsTheTerminalForAThreadThatOutlivesIt) {
    const QString log = m_dir.filePath(QStringLiteral("kept.log"));
    FileDialogRecorder files;
    files.names.push_back(log);
    auto sheet = std::make_unique<CMainSheet>(QString::fromLatin1(CMainSheet::kCaption));
    UseSimulator(*sheet);
    ASSERT_TRUE(sheet->OnInitDialog(&prompt));
    CTerminalDlg* terminal = sheet->Terminal();
    terminal->findChild<QPushButton*>(QStringLiteral("logButton"))->click();
    ASSERT_TRUE(terminal->IsLogging());

    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<bool> writing{false};
    CTerminalDlg::SetLogWriteHookForTesting([&writing, released] {
        writing = true;
        released.wait();
    });
    sheet->PagePhyStatus()->m_pollEvent.Set(); // its first read's flush writes the log, and stalls
    ASSERT_TRUE(WaitFor([&] { return writing.load(); }));
    EXPECT_FALSE(sheet->StopThreads());
    sheet.reset();
    EXPECT_EQ(g_pTerminalSink.load(), static_cast<ITerminalSink*>(terminal)) << "kept, not freed";

    release.set_value(); // the thread goes on writing into the kept terminal's log
    EXPECT_TRUE(WaitFor([&] {
        QFile file(log);
        return file.open(QIODevice::ReadOnly) && file.readAll().startsWith(" 8C");
    }));
    CTerminalDlg::SetLogWriteHookForTesting(nullptr);
}

TEST_F(AppTest, UiThreadGivesUpThePortWhenAPollThreadTimesOut) {
    ui::QtUserPrompt uiPrompt;
    BoxRecorder boxes;
    boxes.answers = {QMessageBox::Cancel};
    CMainSheet sheet{QString::fromLatin1(CMainSheet::kCaption)};
    UseSimulator(sheet);
    ASSERT_TRUE(sheet.OnInitDialog(&uiPrompt));
    simulator->SetSilent(true);
    simulator->ClearWireLog();
    sheet.PagePhyStatus()->m_pollEvent.Set(); // the poll thread's command times out
    // Once that command is on the wire the poll thread owns the port. The UI thread then wants it; it
    // must give up so that it can show the poll thread's box.
    ASSERT_TRUE(WaitFor([&] { return !simulator->BytesToBoard().empty(); }));
    EXPECT_EQ(LocalReg(kRead, "8C10", " 1"), Failed(Outcome::NoAnswer));
    QTRY_COMPARE_WITH_TIMEOUT(static_cast<int>(boxes.Boxes().size()), 1, 5000);
    const auto shown = boxes.Boxes();
    EXPECT_EQ(shown[0].title, "Hardware does not respond");
    EXPECT_EQ(shown[0].text.toStdString(), CConsolePort::kNoResponseText);
    EXPECT_EQ(shown[0].buttons, QMessageBox::Retry | QMessageBox::Cancel);
    EXPECT_EQ(shown[0].icon, QMessageBox::NoIcon);
    QTest::qWait(50);
    EXPECT_EQ(boxes.Boxes().size(), 1u); // one box, not a stream
    EXPECT_TRUE(sheet.Port()->NoComm());
}

} // namespace
} // namespace tessor::test
