// The General page against the simulated modem pair: the register traffic of its refresh, its ticks and
// each button, the group captions and the remote enabling.
#include "PageTestSupport.h"
#include "link/ConsolePort.h"
#include "pages/PageGeneral.h"
#include "support/SimHarness.h"

#include <QGroupBox>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <gtest/gtest.h>

#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace tessor {
namespace {

using sim::CSimModemPair;
using test::Commands;
using test::RemoteOr8C00;

// The four reads of a refresh: the link test, then 8C00 for each toggle.
const Commands kRefreshTraffic{"RD 8C71", "RD 8C00", "RD 8C00", "RD 8C00"};
const Commands kTickTraffic{"RD 8C71", "RD 8C00"};

// A remote operation on 8C00 that does not wait for completion: link test, free mailbox, start.

class GeneralPageTest : public ::testing::Test {
protected:
    void SetUp() override { page.resize(560, 380); }

    template <class T> T* Child(const char* name) {
        T* widget = page.findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }
    QPushButton* Button(const char* name) { return Child<QPushButton>(name); }

    Commands TakeCommands() { return board.TakeCommands(); }
    void PokeLocal(std::uint16_t address, std::uint8_t value) { board.PokeLocal(address, value); }
    // Writes the local control register as the console would, so the line follows it.
    void WriteLocalControl(std::uint8_t value) {
        board.simulator->WithPair(
            [&](CSimModemPair& p) { p.WriteRegister(CSimModemPair::kLocal, 0x8C00, value); });
    }
    void Refresh(std::uint8_t side = kSideLT) {
        page.SetModemSide(side);
        page.RefreshFromModem();
        board.ClearTraffic();
    }
    bool RemoteEnabled() {
        return Child<QGroupBox>("grpRemote")->isEnabled() && Button("btnSoftResetRemote")->isEnabled() &&
               Button("btnLineLoopbackRemote")->isEnabled();
    }
    bool RemoteDisabled() {
        return !Child<QGroupBox>("grpRemote")->isEnabled() && !Button("btnSoftResetRemote")->isEnabled() &&
               !Button("btnLineLoopbackRemote")->isEnabled();
    }

    test::SimBoard board;
    test::BoxRecorder boxes;
    CPageGeneral page;
};

TEST_F(GeneralPageTest, ShownBeforeTheSideIsKnownDoesNothingThenTheRefreshReadsTheHardware) {
    page.show();
    EXPECT_TRUE(board.Commands().empty());
    EXPECT_FALSE(page.IsTimerRunning());

    page.SetModemSide(kSideLT);
    page.RefreshFromModem();
    EXPECT_EQ(TakeCommands(), kRefreshTraffic);
    EXPECT_TRUE(page.IsTimerRunning());
    EXPECT_TRUE(RemoteEnabled());
    EXPECT_EQ(Button("btnActivation")->text(), "ACTIVATION disable");
    EXPECT_EQ(Button("btnTransmitter")->text(), "Turn transmitter off");
    EXPECT_TRUE(boxes.Boxes().empty());
}

// The page's link and toggle reads use the shared status addresses, so the terminal does not show them;
// its actions are shown.
TEST_F(GeneralPageTest, LinkAndToggleReadsStayOutOfTheTerminal) {
    struct Sink : ITerminalSink {
        void QueueLine(const std::string& line, std::uint8_t op) override {
            std::lock_guard<std::mutex> lock(mutex);
            if (op != kSilentRead)
                shown.push_back(line);
        }
        void FlushLines() override {}
        std::mutex mutex;
        std::vector<std::string> shown;
    } sink;
    g_pTerminalSink.store(&sink);
    page.SetModemSide(kSideLT);
    page.RefreshFromModem();
    const Commands refresh = TakeCommands();
    Button("btnLineLoopbackLocal")->click();
    g_pTerminalSink.store(nullptr);
    EXPECT_EQ(refresh, kRefreshTraffic);
    ASSERT_EQ(sink.shown.size(), 1u);
    EXPECT_EQ(sink.shown[0].substr(sink.shown[0].size() - 10), "OR 8C00 02");
}

TEST_F(GeneralPageTest, GroupCaptionsFollowTheModemSide) {
    struct Case {
        std::uint8_t side;
        const char* local;
        const char* remote;
    };
    for (const Case& c : {Case{kSideLT, "Local Modem (LT)", "Remote Modem (NT)"},
                          Case{kSideNT, "Local Modem (NT)", "Remote Modem (LT)"},
                          Case{kSideLT, "Local Modem (LT)", "Remote Modem (NT)"}}) {
        SCOPED_TRACE(static_cast<int>(c.side));
        Refresh(c.side);
        EXPECT_EQ(Child<QGroupBox>("grpLocal")->title(), c.local);
        EXPECT_EQ(Child<QGroupBox>("grpRemote")->title(), c.remote);
    }
}

TEST_F(GeneralPageTest, RefreshTakesTogglesAndRemoteEnablingFromTheControlRegister) {
    struct Case {
        std::uint8_t control;
        const char* activation;
        const char* transmitter;
        bool remoteEnabled;
    };
    for (const Case& c : {Case{0xC0, "ACTIVATION disable", "Turn transmitter off", true},
                          Case{0x80, "ACTIVATION disable", "Turn transmitter on", true},
                          Case{0x40, "ACTIVATION enable", "Turn transmitter off", false},
                          Case{0x00, "ACTIVATION enable", "Turn transmitter on", false},
                          Case{0xBF, "ACTIVATION disable", "Turn transmitter on", true}}) {
        SCOPED_TRACE(static_cast<int>(c.control));
        PokeLocal(0x8C00, c.control);
        page.SetModemSide(kSideLT);
        page.RefreshFromModem();
        EXPECT_EQ(TakeCommands(), kRefreshTraffic);
        EXPECT_EQ(Button("btnActivation")->text(), c.activation);
        EXPECT_EQ(Button("btnTransmitter")->text(), c.transmitter);
        EXPECT_EQ(RemoteEnabled(), c.remoteEnabled);
        EXPECT_EQ(RemoteDisabled(), !c.remoteEnabled);
    }
}

TEST(GeneralPageButtons, EachButtonSendsItsOperations) {
    struct Case {
        const char* button;
        Commands traffic;
        std::function<void(test::SimBoard&)> check;
    };
    const std::vector<Case> cases{
        {"btnSoftResetLocal",
         {"OR 8C00 20"},
         [](test::SimBoard& b) {
             // The soft reset restarted the local modem, which dropped the line once.
             EXPECT_EQ(b.simulator->PeekLocal(0x8D38), 1);
         }},
        {"btnLocalLoopback",
         {"ND 8C00 7F", "OR 8C00 01"},
         [](test::SimBoard& b) { EXPECT_EQ(b.simulator->PeekLocal(0x8C00), 0x41); }},
        {"btnLineLoopbackLocal",
         {"OR 8C00 02"},
         [](test::SimBoard& b) { EXPECT_EQ(b.simulator->PeekLocal(0x8C00), 0xC2); }},
        {"btnTransmitter",
         {"WR 8C00 00"},
         [](test::SimBoard& b) { EXPECT_EQ(b.simulator->PeekLocal(0x8C00), 0x00); }},
        {"btnActivation",
         {"ND 8C00 7F"},
         [](test::SimBoard& b) { EXPECT_EQ(b.simulator->PeekLocal(0x8C00), 0x40); }},
        {"btnSoftResetRemote", RemoteOr8C00("20"),
         [](test::SimBoard& b) {
             test::LocalReg(kRead, "8C71", " 1"); // the next command completes the mailbox operation
             EXPECT_EQ(b.simulator->PeekRemote(0x8D38), 1);
         }},
        {"btnLineLoopbackRemote", RemoteOr8C00("02"),
         [](test::SimBoard& b) {
             test::LocalReg(kRead, "8C71", " 1");
             EXPECT_EQ(b.simulator->PeekRemote(0x8C00), 0xC2);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.button);
        test::SimBoard fresh;
        CPageGeneral freshPage;
        freshPage.SetModemSide(kSideLT);
        freshPage.RefreshFromModem();
        fresh.ClearTraffic();
        QPushButton* button = freshPage.findChild<QPushButton*>(QString::fromLatin1(c.button));
        ASSERT_NE(button, nullptr);
        button->click();
        EXPECT_EQ(fresh.Commands(), c.traffic);
        c.check(fresh);
    }
}

TEST_F(GeneralPageTest, TransmitterToggleWritesTheWholeRegister) {
    PokeLocal(0x8C00, 0x83); // activation and both loopbacks, transmitter off
    Refresh();
    QPushButton* toggle = Button("btnTransmitter");
    ASSERT_EQ(toggle->text(), "Turn transmitter on");

    toggle->click();
    EXPECT_EQ(TakeCommands(), Commands{"WR 8C00 40"});
    EXPECT_EQ(toggle->text(), "Turn transmitter off");
    // A plain write: activation and the loopback bits are gone too.
    EXPECT_EQ(board.simulator->PeekLocal(0x8C00), 0x40);

    toggle->click();
    EXPECT_EQ(TakeCommands(), Commands{"WR 8C00 00"});
    EXPECT_EQ(toggle->text(), "Turn transmitter on");
    EXPECT_EQ(board.simulator->PeekLocal(0x8C00), 0x00);
}

TEST_F(GeneralPageTest, ActivationToggleClearsAndSetsBitSeven) {
    Refresh();
    QPushButton* toggle = Button("btnActivation");
    toggle->click();
    EXPECT_EQ(TakeCommands(), Commands{"ND 8C00 7F"});
    EXPECT_EQ(toggle->text(), "ACTIVATION enable");
    EXPECT_EQ(board.simulator->PeekLocal(0x8C00), 0x40);

    toggle->click();
    EXPECT_EQ(TakeCommands(), Commands{"OR 8C00 80"});
    EXPECT_EQ(toggle->text(), "ACTIVATION disable");
    EXPECT_EQ(board.simulator->PeekLocal(0x8C00), 0xC0);
}

TEST_F(GeneralPageTest, LocalLoopbackLeavesTheActivationTextUntilTheNextRefresh) {
    Refresh();
    Button("btnLocalLoopback")->click();
    EXPECT_EQ(board.simulator->PeekLocal(0x8C00) & 0x80, 0);
    EXPECT_EQ(Button("btnActivation")->text(), "ACTIVATION disable");
    EXPECT_EQ(Button("btnTransmitter")->text(), "Turn transmitter off");

    page.RefreshFromModem();
    EXPECT_EQ(Button("btnActivation")->text(), "ACTIVATION enable");
}

TEST_F(GeneralPageTest, RemoteEnablingFollowsTheLineOnEachTick) {
    Refresh();
    ASSERT_TRUE(RemoteEnabled());

    WriteLocalControl(0x40); // activation off: the line drops
    page.OnTimer();
    EXPECT_EQ(TakeCommands(), kTickTraffic);
    EXPECT_TRUE(RemoteDisabled());
    // A disabled remote button sends nothing.
    Button("btnLineLoopbackRemote")->click();
    EXPECT_TRUE(board.Commands().empty());

    page.OnTimer();
    EXPECT_EQ(TakeCommands(), kTickTraffic);
    EXPECT_TRUE(RemoteDisabled());

    WriteLocalControl(0xC0);
    ASSERT_TRUE(board.simulator->IsLineUp());
    page.OnTimer();
    EXPECT_EQ(TakeCommands(), kTickTraffic);
    EXPECT_TRUE(RemoteEnabled());
}

TEST_F(GeneralPageTest, ChoosingAnotherTabStopsTheTimerAndReturningRefreshes) {
    QTabWidget tabs;
    tabs.addTab(&page, "  General Settings  ");
    QWidget other;
    tabs.addTab(&other, "other");
    tabs.resize(600, 420);
    tabs.show();
    EXPECT_TRUE(board.Commands().empty()); // shown while the side is not known
    EXPECT_FALSE(page.IsTimerRunning());

    Refresh();
    EXPECT_TRUE(page.IsTimerRunning());

    tabs.setCurrentWidget(&other);
    EXPECT_FALSE(page.IsTimerRunning());
    EXPECT_TRUE(board.Commands().empty());

    PokeLocal(0x8C00, 0x00);
    tabs.setCurrentWidget(&page);
    EXPECT_EQ(TakeCommands(), kRefreshTraffic);
    EXPECT_TRUE(page.IsTimerRunning());
    EXPECT_EQ(Button("btnActivation")->text(), "ACTIVATION enable");
    EXPECT_EQ(Button("btnTransmitter")->text(), "Turn transmitter on");
    EXPECT_TRUE(RemoteDisabled());

    tabs.removeTab(0);
    page.setParent(nullptr);
    other.setParent(nullptr);
}

TEST_F(GeneralPageTest, F1OpensThePageHelp) {
    std::vector<QString> opened;
    ui::SetHelpHookForTesting([&](const QString& path) { opened.push_back(path); });
    Refresh();
    QTest::keyClick(Button("btnSoftResetLocal"), Qt::Key_F1);
    ui::SetHelpHookForTesting(nullptr);
    EXPECT_EQ(opened, std::vector<QString>{"Help/page_13.htm"});
    EXPECT_TRUE(board.Commands().empty());
}

} // namespace
} // namespace tessor
