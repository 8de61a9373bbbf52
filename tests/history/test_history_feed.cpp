// What feeds the Line History in the running sheet: nothing more on the wire while "Record in background"
// is off, the PHY page's six reads through its poll thread while it is on, actions and the board's
// silences in the journal.
#include "app/MainSheet.h"
#include "history/LineHistory.h"
#include "link/ConsolePort.h"
#include "pages/PageGeneral.h"
#include "pages/PagePhyStatus.h"
#include "support/SimHarness.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace tessor::test {
namespace {

class HistoryFeedTest : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("TESSOR_HISTORY_INTERVAL_MS", "200", 1);
        g_bStopThreads.store(0);
        simulator = std::make_shared<sim::CSimulator>(SimBoard::DefaultConfig());
        simulator->AdvanceTime(10);
        sheet = std::make_unique<CMainSheet>(QStringLiteral("test"));
        sheet->SetClosePauseMs(0);
        sheet->SetPortFactory([this](IUserPrompt* p) {
            auto port = std::make_unique<CConsolePort>(p);
            port->SetPollTiming(200, std::chrono::microseconds(1000));
            port->SetDeviceOpener([this](const std::string&, const LineSettings&, int*) {
                return sim::CSimulator::CreateDevice(simulator);
            });
            return port;
        });
        ASSERT_TRUE(sheet->OnInitDialog(&prompt));
        sheet->show(); // the General page in front, the side known
        QCoreApplication::processEvents();
        simulator->ClearWireLog();
    }

    void TearDown() override {
        sheet.reset();
        unsetenv("TESSOR_HISTORY_INTERVAL_MS");
    }

    std::vector<std::string> Commands() const { return CommandLines(*simulator); }

    std::size_t PhySamples() const {
        std::size_t n = 0;
        sheet->History()->Recorder()->Read([&](const rec::LineStore& store) { n = store.phy.size(); });
        return n;
    }

    std::vector<std::string> Journal() const {
        std::vector<std::string> texts;
        sheet->History()->Recorder()->Read([&](const rec::LineStore& store) {
            for (const rec::Event& e : store.events)
                texts.push_back(e.text);
        });
        return texts;
    }

    static void Wait(int ms) {
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < ms)
            QTest::qWait(20);
    }

    FakePrompt prompt;
    std::shared_ptr<sim::CSimulator> simulator;
    std::unique_ptr<CMainSheet> sheet;
};

TEST_F(HistoryFeedTest, BackgroundRecordingOffSendsNothingAndOnMakesThePhyPasses) {
    CLineHistory& history = *sheet->History();
    EXPECT_FALSE(history.BackgroundRecording());
    Wait(800);
    EXPECT_TRUE(Commands().empty());
    EXPECT_EQ(PhySamples(), 0u);

    history.SetBackgroundRecording(true);
    Wait(900);
    history.SetBackgroundRecording(false);
    Wait(300); // a pass under way finishes
    const std::vector<std::string> sent = Commands();
    // Once the receive constellation (the PHY page was never shown), then the page's six reads per pass.
    ASSERT_GE(sent.size(), 1u + 2 * 6);
    EXPECT_EQ(sent[0], "RD 8C11");
    const std::vector<std::string> pass{"RD 8C99,3", "RD 8C9C,2", "RD 8C91,4",
                                        "RD 8C71",   "RD 8C98",   "RD 8D38"};
    for (std::size_t i = 1; i < sent.size(); ++i)
        EXPECT_EQ(sent[i], pass[(i - 1) % pass.size()]) << "command " << i;
    EXPECT_EQ((sent.size() - 1) % pass.size(), 0u);
    EXPECT_EQ(PhySamples(), (sent.size() - 1) / pass.size());
    sheet->History()->Recorder()->Read([](const rec::LineStore& store) {
        EXPECT_TRUE(store.phy[0].values.snrCenti); // the references were found
    });

    // Off again: the passes stop.
    simulator->ClearWireLog();
    Wait(600);
    EXPECT_TRUE(Commands().empty());
    const std::vector<std::string> journal = Journal();
    EXPECT_NE(std::find(journal.begin(), journal.end(), "Record in background on"), journal.end());
    EXPECT_NE(std::find(journal.begin(), journal.end(), "Line up (full constellation)"), journal.end());
}

TEST_F(HistoryFeedTest, ActionsAndTheBoardsSilenceGoIntoTheJournal) {
    sheet->PageGeneral()->findChild<QPushButton*>(QStringLiteral("btnSoftResetLocal"))->click();
    simulator->SetSilent(true);
    prompt.OnAsk([] { return IUserPrompt::Answer::Cancel; });
    sheet->History()->SetBackgroundRecording(true);
    Wait(1500);
    const std::vector<std::string> journal = Journal();
    const auto at = [&](const char* text) { return std::find(journal.begin(), journal.end(), text); };
    ASSERT_NE(at("Soft reset, local modem"), journal.end());
    ASSERT_NE(at("Board not answering: Hardware does not respond"), journal.end());
    EXPECT_EQ(at("CANCEL"), at("Board not answering: Hardware does not respond") + 1);
    // After CANCEL the link answers without asking the board: those passes are kept as no answer.
    sheet->History()->Recorder()->Read([](const rec::LineStore& store) {
        ASSERT_FALSE(store.phy.empty());
        EXPECT_FALSE(store.phy.back().answered);
        EXPECT_FALSE(store.phy.back().values.snrCenti);
    });
}

// A garbled 8C71 or 8C98 is a gap in an answered sample, not a 0 that drops the line.
TEST(HistoryPasses, GarbledReadsAreGapsAndDeriveNoEvents) {
    CLineHistory history(nullptr);
    ops::PhyReadResults pass;
    pass.errorValue = RegResult::Answer(2000000);
    pass.txLevel = RegResult::Answer(1024);
    pass.rsCorrected = RegResult::Answer(15);
    pass.linkStatus = RegResult::Answer(0xAE);
    pass.lineFlags = RegResult::Answer(0x06);
    pass.linkFailCount = RegResult::Answer(3);
    const auto decided = [](const ops::PhyReadResults& r) {
        return ops::DecidePhyPass(r, true, ops::PhyReferencesFor(0));
    };
    history.OnPhyPass(decided(pass));
    ops::PhyReadResults garbled = pass;
    garbled.linkStatus = RegResult::Fail(Outcome::Garbled);
    garbled.lineFlags = RegResult::Fail(Outcome::Garbled);
    for (int i = 0; i < 3; ++i) {
        history.OnPhyPass(decided(garbled));
        history.OnPhyPass(decided(pass));
    }
    std::vector<std::string> texts;
    bool partial = false;
    history.Recorder()->Read([&](const rec::LineStore& store) {
        for (const rec::Event& e : store.events)
            texts.push_back(e.text);
        partial = store.phy.size() == 7 && store.phy[1].answered &&
                  store.phy[1].values.indicatorsKnown == 0 && store.phy[1].values.linkFailCount == 3;
    });
    EXPECT_EQ(texts, std::vector<std::string>{"Line up (full constellation)"});
    EXPECT_TRUE(partial);
}

} // namespace
} // namespace tessor::test
