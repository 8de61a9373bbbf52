// Ethernet Status page: counting, Start/Stop/Clear, the tick model, passes cut short, and the poll thread,
// against the in-process simulator.
#include "PageTestSupport.h"
#include "pages/PageEthernetStatus.h"
#include "support/SimHarness.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

#include "PollThreadSupport.h"

#include <chrono>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <vector>

namespace tessor {
namespace {

using namespace std::chrono_literals;
using sim::CSimModemPair;

// Runs EthCounterPollThread the way the sheet does and stops it the same way: stop flag, event, join.
class EthThread : public PollThreadRunner<CPageEthernet_Status> {
public:
    explicit EthThread(CPageEthernet_Status& page) : PollThreadRunner(page, &EthCounterPollThread) {}
};

// Calls a test's action after each local register access, on the thread that made it.
class AfterEachAccess : public ITerminalSink {
public:
    explicit AfterEachAccess(std::function<void(int)> action) : m_action(std::move(action)) {
        g_pTerminalSink.store(this);
    }
    ~AfterEachAccess() override { g_pTerminalSink.store(nullptr); }
    void QueueLine(const std::string&, std::uint8_t) override {}
    void FlushLines() override { m_action(++m_count); }

private:
    std::function<void(int)> m_action;
    int m_count = 0;
};

void SetCounter(test::SimBoard& board, int index, std::uint32_t value) {
    const auto address = static_cast<std::uint16_t>(std::stoul(kCounterDefs[index].address, nullptr, 16));
    board.simulator->WithPair(
        [&](CSimModemPair& pair) { pair.SetCounter(CSimModemPair::kLocal, address, value); });
}

void SetAllCounters(test::SimBoard& board, std::uint32_t value) {
    for (int i = 0; i < kCounterDefCount; ++i)
        SetCounter(board, i, value);
}

std::vector<QString> Fields(const CPageEthernet_Status& page) {
    std::vector<QString> texts;
    for (int i = 0; i < kCounterDefCount; ++i)
        texts.push_back(page.Field(i)->text());
    return texts;
}

std::vector<QString> Repeated(const char* text) {
    return std::vector<QString>(kCounterDefCount, QString::fromLatin1(text));
}

QPushButton* StartStop(const CPageEthernet_Status& page) {
    return page.findChild<QPushButton*>(QStringLiteral("buttonStartStop"));
}

QPushButton* ClearButton(const CPageEthernet_Status& page) {
    return page.findChild<QPushButton*>(QStringLiteral("buttonClear"));
}

// The line stays up but nothing counts by itself: the tests set the counters.
test::SimBoard& Quiet(test::SimBoard& board) {
    SetAllCounters(board, 0);
    return board;
}

// A page shown and counting on a quiet board; each test sets the counters it reads.
class EthCounting : public ::testing::Test {
protected:
    EthCounting() {
        Quiet(board);
        page.show();
        page.OnStartStop();
    }

    test::SimBoard board;
    CPageEthernet_Status page;
};

// A read result from the number the transport used to return: negative for a read that failed.
using test::Raw;

TEST(EthCounters, EachReadAddsAFifth) {
    const std::pair<std::int64_t, std::uint64_t> cases[] = {
        {9, 1},
        {4, 0},
        {5, 1},
        {0, 0},
        {0xFFFFFFFF, 858993459},
        {0x1'0000'000A, 2}, // beyond 32 bits: low word
        {-1, 0},            // a cancelled read adds nothing, not 858993459
        {-5, 0},
    };
    for (const auto& [result, added] : cases)
        EXPECT_EQ(CounterIncrement(Raw(result)), added) << result;
}

TEST(EthCounters, FieldsAndLabels) {
    CPageEthernet_Status page;
    for (int i = 0; i < kCounterDefCount; ++i) {
        ASSERT_NE(page.Field(i), nullptr) << kCounterDefs[i].field;
        EXPECT_TRUE(page.Field(i)->isReadOnly());
        EXPECT_EQ(page.Field(i)->alignment() & Qt::AlignHCenter, Qt::AlignHCenter);
        bool labelled = false;
        for (const QLabel* label : page.findChildren<QLabel*>())
            labelled = labelled || label->text() == QString::fromLatin1(kCounterDefs[i].label);
        EXPECT_TRUE(labelled) << kCounterDefs[i].label;
    }
}

TEST(EthPage, PassReadsFifteenCountersInOrder) {
    test::SimBoard board;
    CPageEthernet_Status page;
    page.show();
    page.OnStartStop();
    board.ClearTraffic();
    ASSERT_TRUE(RunEthCounterPass(page));
    const std::vector<std::string> expected{"RD 8D1C,4", "RD 8D20,4", "RD 8D18,4", "RD 8D14,4", "RD 8D08,4",
                                            "RD 8D0C,4", "RD 8D10,4", "RD 8CE4,4", "RD 8CE8,4", "RD 8CF0,4",
                                            "RD 8CF4,4", "RD 8CF8,4", "RD 8CFC,4", "RD 8D00,4", "RD 8D04,4"};
    EXPECT_EQ(board.Commands(), expected);
    EXPECT_EQ(page.PassCount(), 1u);
}

TEST_F(EthCounting, TotalsAccumulateAFifthOfEachRead) {
    SetCounter(board, 0, 9);
    SetCounter(board, 1, 4);
    SetCounter(board, 14, 1000);
    ASSERT_TRUE(RunEthCounterPass(page));
    SetCounter(board, 0, 9); // the simulated counters clear when read
    ASSERT_TRUE(RunEthCounterPass(page));
    EXPECT_EQ(page.Total(0), 2u);
    EXPECT_EQ(page.Total(1), 0u);
    EXPECT_EQ(page.Total(14), 200u);
    page.OnTimer();
    EXPECT_EQ(page.Field(0)->text(), "2");
    EXPECT_EQ(page.Field(1)->text(), "0");
    EXPECT_EQ(page.Field(14)->text(), "200");
}

TEST_F(EthCounting, TotalsAreShownInFullPastThirtyTwoBits) {
    for (int pass = 0; pass < 5; ++pass) { // 5 x 858993459 = 4294967295
        SetCounter(board, 4, 0xFFFFFFFF);
        ASSERT_TRUE(RunEthCounterPass(page));
    }
    page.OnTimer();
    EXPECT_EQ(page.Field(4)->text(), "4294967295");
    SetCounter(board, 4, 5);
    ASSERT_TRUE(RunEthCounterPass(page));
    page.OnTimer();
    EXPECT_EQ(page.Total(4), 4294967296u);
    EXPECT_EQ(page.Field(4)->text(), "4294967296");
}

TEST(EthPage, FirstShowingZeroesTheTotals) {
    test::SimBoard board;
    SetAllCounters(board, 50);
    CPageEthernet_Status page;
    page.OnStartStop(); // counting before the page was ever shown, stopped during the fourth read
    {
        AfterEachAccess stopAtFourth([&](int n) {
            if (n == 4)
                page.OnStartStop();
        });
        EXPECT_FALSE(RunEthCounterPass(page));
    }
    EXPECT_EQ(page.Total(3), 10u);
    page.show();
    EXPECT_EQ(Fields(page), Repeated("0"));
    for (int i = 0; i < kCounterDefCount; ++i)
        EXPECT_EQ(page.Total(i), 0u) << i;

    // Only the first showing: later ones keep the totals.
    page.OnStartStop();
    SetAllCounters(board, 50);
    ASSERT_TRUE(RunEthCounterPass(page));
    page.OnStartStop();
    page.hide();
    page.show();
    EXPECT_EQ(Fields(page), Repeated("10"));
}

TEST(EthPage, StartStopAndClearStates) {
    test::SimBoard board;
    CPageEthernet_Status page;
    page.show();
    EXPECT_EQ(StartStop(page)->text(), "Start");
    EXPECT_TRUE(ClearButton(page)->isEnabled());
    EXPECT_FALSE(page.IsPolling());
    EXPECT_FALSE(page.IsTimerActive());

    QTest::mouseClick(StartStop(page), Qt::LeftButton);
    EXPECT_EQ(StartStop(page)->text(), "Stop");
    EXPECT_FALSE(ClearButton(page)->isEnabled());
    EXPECT_TRUE(page.IsPolling());
    EXPECT_TRUE(page.IsTimerActive());

    QTest::mouseClick(StartStop(page), Qt::LeftButton);
    EXPECT_EQ(StartStop(page)->text(), "Start");
    EXPECT_TRUE(ClearButton(page)->isEnabled());
    EXPECT_FALSE(page.IsPolling());
    EXPECT_FALSE(page.IsTimerActive());
}

TEST_F(EthCounting, ClearOnlyWhileStopped) {
    SetAllCounters(board, 10);
    ASSERT_TRUE(RunEthCounterPass(page));
    page.OnTimer();
    EXPECT_EQ(Fields(page), Repeated("2"));

    page.OnClear(); // cannot clear while counting
    EXPECT_EQ(page.Total(0), 2u);
    EXPECT_EQ(Fields(page), Repeated("2"));

    page.OnStartStop();
    QTest::mouseClick(ClearButton(page), Qt::LeftButton);
    EXPECT_EQ(Fields(page), Repeated("0")); // at once, without a tick
    for (int i = 0; i < kCounterDefCount; ++i)
        EXPECT_EQ(page.Total(i), 0u) << i;
}

TEST_F(EthCounting, StopInTheMiddleOfAPassAbandonsIt) {
    SetAllCounters(board, 10);
    ASSERT_TRUE(RunEthCounterPass(page));
    page.OnTimer();
    ASSERT_EQ(Fields(page), Repeated("2"));

    SetAllCounters(board, 10);
    board.ClearTraffic();
    {
        // Stop is pressed while the fifth counter is being read.
        AfterEachAccess stopAtFifth([&](int n) {
            if (n == 5)
                page.OnStartStop();
        });
        EXPECT_FALSE(RunEthCounterPass(page));
    }
    EXPECT_EQ(board.Commands().size(), 5u); // the later counters are not read
    for (int i = 0; i < kCounterDefCount; ++i)
        EXPECT_EQ(page.Total(i), i < 5 ? 4u : 2u) << i; // the read in progress still counts
    EXPECT_EQ(page.PassCount(), 1u);
    page.OnTimer();
    EXPECT_EQ(Fields(page), Repeated("2")); // the texts of the last complete pass
}

TEST_F(EthCounting, ClearDuringAReadDropsThatRead) {
    // Stop and Clear while the third counter is on the wire: its value belongs to the totals just cleared.
    SetAllCounters(board, 10);
    {
        AfterEachAccess stopAndClear([&](int n) {
            if (n == 3) {
                page.OnStartStop();
                page.OnClear();
            }
        });
        EXPECT_FALSE(RunEthCounterPass(page));
    }
    for (int i = 0; i < kCounterDefCount; ++i)
        EXPECT_EQ(page.Total(i), 0u) << i;
    page.OnTimer();
    EXPECT_EQ(Fields(page), Repeated("0"));
}

TEST_F(EthCounting, FailedReadAddsNothing) {
    SetAllCounters(board, 10);
    board.ShortWaits();
    board.simulator->SetSilent(true); // the first read times out and is cancelled: -1
    ASSERT_TRUE(RunEthCounterPass(page));
    EXPECT_EQ(board.prompt.Asked(), 1);
    for (int i = 0; i < kCounterDefCount; ++i)
        EXPECT_EQ(page.Total(i), 0u) << i;
    page.OnTimer();
    EXPECT_EQ(Fields(page), Repeated("0"));
}

TEST_F(EthCounting, HideStopsAndShowKeepsTheTotals) {
    SetAllCounters(board, 35);
    ASSERT_TRUE(RunEthCounterPass(page));

    page.hide();
    EXPECT_FALSE(page.IsPolling());
    EXPECT_FALSE(page.IsTimerActive());
    page.show();
    EXPECT_EQ(StartStop(page)->text(), "Start");
    EXPECT_TRUE(ClearButton(page)->isEnabled());
    EXPECT_EQ(Fields(page), Repeated("7")); // kept, and shown at once
    EXPECT_EQ(page.Total(6), 7u);
}

TEST(EthPage, StartRunsAPassAtOnceShownAtTheFirstTick) {
    test::SimBoard board;
    Quiet(board);
    CPageEthernet_Status page;
    EthThread thread(page);
    page.show();
    SetAllCounters(board, 20);

    page.OnStartStop();
    ASSERT_TRUE(WaitUntil([&] { return page.PassCount() == 1; }));
    EXPECT_EQ(Fields(page), Repeated("0"));
    page.OnTimer();
    EXPECT_EQ(Fields(page), Repeated("4"));

    // That tick woke the next pass.
    ASSERT_TRUE(WaitUntil([&] { return page.PassCount() == 2; }));

    // Ticks while stopped wake the thread, which reads nothing; Start again runs exactly one pass.
    page.OnStartStop();
    board.ClearTraffic();
    page.OnTimer();
    page.OnStartStop();
    ASSERT_TRUE(WaitUntil([&] { return page.PassCount() == 3; }));
    EXPECT_EQ(board.Commands().size(), 15u);
    EXPECT_TRUE(thread.Stop());
}

TEST(EthPage, HandOverUnderLoad) {
    // The UI thread ticks as fast as it can while the thread counts, so that texts are taken over while
    // passes write them (the ThreadSanitizer build checks the hand-over here).
    test::SimBoard board;
    CPageEthernet_Status page;
    EthThread thread(page);
    page.show();
    SetAllCounters(board, 1000);
    page.OnStartStop();
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    for (int i = 0; page.PassCount() < 8 && std::chrono::steady_clock::now() < deadline; ++i) {
        page.OnTimer();
        for (const QString& text : Fields(page))
            EXPECT_TRUE(text == "0" || text == "200") << text.toStdString();
    }
    EXPECT_GE(page.PassCount(), 8u);
    // Clear once the thread has let go of the totals.
    page.OnStartStop();
    page.OnClear();
    EXPECT_EQ(Fields(page), Repeated("0"));
    EXPECT_TRUE(thread.Stop());
}

TEST(EthPage, ThreadEndsPromptlyInsideARegisterAccess) {
    ExpectStopEndsAReadInProgress<CPageEthernet_Status>(&EthCounterPollThread,
                                                        [](CPageEthernet_Status& page) {
                                                            page.show();
                                                            page.OnStartStop();
                                                        });
}

TEST(EthPage, F1OpensThePageHelp) {
    EXPECT_EQ(test::HelpOpenedByF1<CPageEthernet_Status>(),
              std::vector<QString>{QStringLiteral("Help/page_22.htm")});
}

} // namespace
} // namespace tessor
