// PHY Status page: indicators, the show-time read, the tick model and the poll thread, against
// the in-process simulator.
#include "PageTestSupport.h"
#include "pages/LedIndicator.h"
#include "pages/PagePhyStatus.h"
#include "support/SimHarness.h"

#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

#include "PollThreadSupport.h"

#include <chrono>
#include <future>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

namespace tessor {
namespace {

using namespace std::chrono_literals;
using sim::CSimModemPair;

// Runs PhyStatusPollThread the way the sheet does and stops it the same way: stop flag, event, join.
class PhyThread : public PollThreadRunner<CPagePhy_Status> {
public:
    explicit PhyThread(CPagePhy_Status& page) : PollThreadRunner(page, &PhyStatusPollThread) {}
};

// Records the lines the transport shows and lets a test act after each local register access.
class RecordingSink : public ITerminalSink {
public:
    RecordingSink() { g_pTerminalSink.store(this); }
    ~RecordingSink() override { g_pTerminalSink.store(nullptr); }
    void QueueLine(const std::string& line, std::uint8_t op) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        lines.emplace_back(line, op);
    }
    void FlushLines() override {}
    std::vector<std::pair<std::string, std::uint8_t>> Lines() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return lines;
    }

private:
    std::mutex m_mutex;
    std::vector<std::pair<std::string, std::uint8_t>> lines;
};

QString Field(const CPagePhy_Status& page, const char* name) {
    return page.findChild<QLineEdit*>(QString::fromLatin1(name))->text();
}

QString Button(const CPagePhy_Status& page) {
    return page.findChild<QPushButton*>(QStringLiteral("buttonStartStop"))->text();
}

void SetLocal(test::SimBoard& board, std::uint16_t address, std::uint8_t value) {
    board.simulator->WithPair(
        [&](CSimModemPair& pair) { pair.WriteRegister(CSimModemPair::kLocal, address, value); });
}

// A read result from the number the transport used to return: negative for a read that failed.
using test::Raw;

// ---- indicators ----------------------------------------------------------------------------------------

TEST(PhyIndicators, ImagesAreTwelvePixelDiscsWithBlackRim) {
    InitStatusResources();
    const struct {
        const char* path;
        bool greenMost, redMost;
    } images[] = {{CPagePhy_Status::kGreenImage, true, false},
                  {CPagePhy_Status::kRedImage, false, true},
                  {CPagePhy_Status::kGreyImage, false, false}};
    for (const auto& image : images) {
        const QImage img(QString::fromLatin1(image.path));
        ASSERT_FALSE(img.isNull()) << image.path;
        EXPECT_EQ(img.size(), QSize(12, 12));
        const QColor centre = img.pixelColor(6, 6);
        EXPECT_EQ(centre.green() > centre.red() + 60, image.greenMost) << image.path;
        EXPECT_EQ(centre.red() > centre.green() + 60, image.redMost) << image.path;
        const QColor rim = img.pixelColor(6, 0);
        EXPECT_LT(rim.lightness(), 80) << image.path;
        EXPECT_EQ(img.pixelColor(0, 0).alpha(), 0) << image.path; // corners stay transparent
    }
}

TEST(PhyIndicators, LedControlKeepsImageForOtherStates) {
    InitStatusResources();
    CLedIndicator led;
    led.SetImages(CPagePhy_Status::kGreenImage, CPagePhy_Status::kRedImage);
    EXPECT_EQ(led.size(), QSize(12, 12));
    EXPECT_FALSE(led.isEnabled());
    led.SetState(1);
    EXPECT_EQ(led.CurrentImage(), CPagePhy_Status::kRedImage);
    led.SetState(2);
    EXPECT_EQ(led.CurrentImage(), CPagePhy_Status::kRedImage);
    led.SetImages(CPagePhy_Status::kGreyImage, CPagePhy_Status::kRedImage);
    EXPECT_EQ(led.CurrentImage(), CPagePhy_Status::kGreyImage); // new images start at state 0
}

TEST(PhyIndicators, BeforeFirstPassGoodConditionsAreRed) {
    CPagePhy_Status page;
    for (int i = 0; i < kIndicatorCount; ++i) {
        const bool faultIndicator = i == kIndMicroInterruption || i == kIndAdcSaturation;
        EXPECT_EQ(page.Indicator(i)->CurrentImage(),
                  faultIndicator ? CPagePhy_Status::kGreenImage : CPagePhy_Status::kRedImage)
            << i;
    }
}

struct LedCase {
    std::uint8_t linkStatus;
    std::uint8_t lineFlags;
    std::array<bool, kIndicatorCount> green;
};

TEST(PhyIndicators, StatesFollowTheirBitsOnTheNtSide) {
    const LedCase cases[] = {
        // 8C71 = C2: LED1, LED2, LED6 green; LED3, LED4, LED5 red. 8C98 = 81: LED9 and LED12 red, LED10,
        // LED11 red.
        {0xC2, 0x81, {true, true, false, false, false, true, false, false, false, false}},
        // Everything good: 8C71 = AE (bit 6 clear), 8C98 = 06.
        {0xAE, 0x06, {true, false, true, true, true, true, true, true, true, true}},
        {0x00, 0x00, {false, false, false, false, false, false, true, false, false, true}},
    };
    test::SimBoard board(test::SimBoard::DefaultConfig(kSideNT));
    CPagePhy_Status page;
    page.SetModemSide(kSideNT);
    page.show();
    for (const LedCase& c : cases) {
        PhyReadResults results;
        results.linkStatus = Raw(c.linkStatus);
        results.lineFlags = Raw(c.lineFlags);
        page.FormatPhyValues(DecodePhy(ops::RegistersOf(results), page.References()));
        page.OnTimer();
        for (int i = 0; i < kIndicatorCount; ++i)
            EXPECT_EQ(page.Indicator(i)->CurrentImage(),
                      c.green[i] ? CPagePhy_Status::kGreenImage : CPagePhy_Status::kRedImage)
                << "8C71=" << int(c.linkStatus) << " 8C98=" << int(c.lineFlags) << " indicator " << i;
    }
}

TEST(PhyIndicators, LtSideKeepsTimingConvergedGrey) {
    test::SimBoard board;
    CPagePhy_Status page;
    page.SetModemSide(kSideLT);
    page.show();
    auto* label = page.findChild<QLabel*>(QStringLiteral("labelTimingConverged"));
    EXPECT_FALSE(label->isEnabled());
    for (std::uint8_t flags : {0x00, 0x02, 0xFF}) {
        PhyReadResults results;
        results.lineFlags = Raw(flags);
        page.FormatPhyValues(DecodePhy(ops::RegistersOf(results), page.References()));
        page.OnTimer();
        EXPECT_EQ(page.Indicator(kIndTimingConverged)->CurrentImage(), CPagePhy_Status::kGreyImage)
            << int(flags);
    }
    // The same page on the NT side shows it again.
    page.SetModemSide(kSideNT);
    EXPECT_TRUE(label->isEnabled());
    EXPECT_EQ(page.Indicator(kIndTimingConverged)->CurrentImage(), CPagePhy_Status::kGreenImage);
}

// ---- show, reads and the tick model --------------------------------------------------------------------

TEST(PhyPage, ShowReadsTheReceivedLineConfiguration) {
    const struct {
        ModemSide simSide;
        std::uint8_t side;
        const char* command;
        std::uint16_t reg;
        const char* caption;
    } sides[] = {{kSideNT, kSideNT, "RD 8C10", 0x8C10, "Local Modem (NT)"},
                 {kSideLT, kSideLT, "RD 8C11", 0x8C11, "Local Modem (LT)"}};
    for (const auto& s : sides) {
        test::SimBoard board(test::SimBoard::DefaultConfig(s.simSide));
        SetLocal(board, s.reg, 0x44); // QAM 16
        CPagePhy_Status page;
        page.SetModemSide(s.side);
        board.ClearTraffic();
        page.show();
        EXPECT_EQ(board.Commands(), std::vector<std::string>{s.command});
        EXPECT_EQ(page.findChild<QGroupBox*>(QStringLiteral("groupLocal"))->title(), s.caption);
        ASSERT_TRUE(page.References());
        EXPECT_EQ(page.References()->snr, 7920);
        EXPECT_EQ(page.References()->mse, 6920);

        // A code outside the table keeps the references of the last show.
        page.hide();
        SetLocal(board, s.reg, 0x41);
        page.show();
        ASSERT_TRUE(page.References());
        EXPECT_EQ(page.References()->snr, 7920);
    }
}

TEST(PhyPage, PassReadsSixRegistersInOrder) {
    test::SimBoard board;
    RecordingSink sink;
    CPagePhy_Status page;
    board.ClearTraffic();
    ASSERT_TRUE(RunPhyStatusPass(page));
    const std::vector<std::string> expected{"RD 8C99,3", "RD 8C9C,2", "RD 8C91,4",
                                            "RD 8C71",   "RD 8C98",   "RD 8D38"};
    EXPECT_EQ(board.Commands(), expected);
    // The 8C71 read is the program's silent status read.
    bool statusSeen = false;
    for (const auto& [line, op] : sink.Lines()) {
        if (line.find("8C71") != std::string::npos) {
            statusSeen = true;
            EXPECT_EQ(op, kSilentRead) << line;
        } else if (line.find("8C98") != std::string::npos) {
            EXPECT_EQ(op, kRead) << line;
        }
    }
    EXPECT_TRUE(statusSeen);
    EXPECT_EQ(page.PassCount(), 1u);
}

TEST(PhyPage, LiveValuesFromTheSimulatorAreBelievable) {
    test::SimBoard board; // LT, line up, received constellation from 8C11
    board.simulator->WithPair(
        [](CSimModemPair& pair) { pair.SetCounter(CSimModemPair::kLocal, 0x8C91, 1234); });
    CPagePhy_Status page;
    page.SetModemSide(kSideLT);
    page.show();
    ASSERT_TRUE(RunPhyStatusPass(page));
    page.OnTimer();

    // The simulated line runs at 36.5 dB +- 0.3.
    const double snr = Field(page, "editSnr").replace(',', '.').toDouble();
    EXPECT_GT(snr, 35.5);
    EXPECT_LT(snr, 37.5);
    const double mse = Field(page, "editMse").replace(',', '.').toDouble();
    const auto refs = page.References();
    ASSERT_TRUE(refs);
    EXPECT_NEAR(snr - mse, (refs->snr - refs->mse) / 100.0, 0.001);
    EXPECT_EQ(Field(page, "editRs"), "246");
    EXPECT_EQ(Field(page, "editPower"), "- 60.0");
    EXPECT_EQ(Field(page, "editLinkFail"), "0");
    EXPECT_EQ(page.Indicator(kIndFullConstellation)->CurrentImage(), CPagePhy_Status::kGreenImage);
    EXPECT_EQ(page.Indicator(kIndReducedConstellation)->CurrentImage(), CPagePhy_Status::kRedImage);
    EXPECT_EQ(page.Indicator(kIndAgcConverged)->CurrentImage(), CPagePhy_Status::kGreenImage);
    EXPECT_EQ(page.Indicator(kIndTimingConverged)->CurrentImage(), CPagePhy_Status::kGreyImage);
    EXPECT_EQ(page.Indicator(kIndAdcSaturation)->CurrentImage(), CPagePhy_Status::kGreenImage);
}

// Replies that are not the answer asked for (ERROR, another address, a field short, nothing) show as
// failed reads do: no value, no lit indicator taken from them.
TEST(PhyPage, SpoiltRepliesShowAsFailedReads) {
    test::SimBoard board;
    for (const char* fault : {"reply 8C99 error", "reply 8C91 wrong-address", "reply 8D38 short",
                              "reply 8C9C empty", "reply 8C71 error", "reply 8C98 wrong-address"})
        ASSERT_TRUE(board.simulator->Control(fault)) << fault;
    CPagePhy_Status page;
    page.SetModemSide(kSideLT);
    page.show();
    ASSERT_TRUE(RunPhyStatusPass(page));
    page.OnTimer();
    for (const char* field : {"editSnr", "editMse", "editRs", "editLinkFail", "editPower"})
        EXPECT_EQ(Field(page, field), "-") << field;
    for (int led : {kIndFullConstellation, kIndAgcConverged})
        EXPECT_NE(page.Indicator(led)->CurrentImage(), CPagePhy_Status::kGreenImage) << led;
}

// A pass with some replies garbled is shown by the pass rule: the valid reads' values, the others "-".
TEST(PhyPage, AHalfAnsweredPassShowsWhatItsValidRepliesSaid) {
    test::SimBoard board;
    for (const char* fault : {"reply 8C99 error", "reply 8C91 wrong-address"})
        ASSERT_TRUE(board.simulator->Control(fault)) << fault;
    CPagePhy_Status page;
    page.SetModemSide(kSideLT);
    page.show();
    ASSERT_TRUE(RunPhyStatusPass(page));
    page.OnTimer();
    for (const char* field : {"editSnr", "editMse", "editRs"})
        EXPECT_EQ(Field(page, field), "-") << field;
    for (const char* field : {"editLinkFail", "editPower"})
        EXPECT_NE(Field(page, field), "-") << field;
    EXPECT_EQ(page.Indicator(kIndFullConstellation)->CurrentImage(), CPagePhy_Status::kGreenImage);
}

// A garbled read leaves its member empty and its field "-"; a known 0 shows as 0.
TEST(PhyPage, MembersHoldTheDecodedPassAndTheFieldsShowThem) {
    const PhyReferences refs{9180, 6920};
    const RegResult garbled = RegResult::Fail(Outcome::Garbled);
    const auto tie = [](const CPagePhy_Status::Members& m) {
        return std::tie(m.linkStatus, m.lineFlags, m.linkFailCount, m.mseRaw, m.snrRef, m.mseRef, m.txLevelDb,
                        m.rsPerSecond);
    };
    const struct {
        PhyReadResults raw;
        CPagePhy_Status::Members members;
        std::vector<std::string> fields; // SNR, MSE, RS, link fail, power
    } passes[] = {
        {{Raw(2000000), Raw(1024), Raw(1234), Raw(0xC2), Raw(0x81), Raw(0x107)},
         {0xC2, 0x81, 7, 2000000, 9180, 6920, -55, 246u},
         {"28,79", "6,19", "246", "7", "- 55.0"}},
        {{garbled, Raw(576), Raw(0), Raw(0xAE), Raw(0x06), garbled},
         {0xAE, 0x06, {}, {}, 9180, 6920, -60, 0u},
         {"-", "-", "0", "-", "- 60.0"}},
    };
    CPagePhy_Status page;
    for (const auto& p : passes) {
        page.TakePass(ops::DecidePhyPass(p.raw, true, refs), refs);
        page.OnTimer();
        EXPECT_TRUE(tie(page.CurrentMembers()) == tie(p.members)) << p.fields[0];
        std::vector<std::string> shown;
        for (const char* name : {"editSnr", "editMse", "editRs", "editLinkFail", "editPower"})
            shown.push_back(Field(page, name).toStdString());
        EXPECT_EQ(shown, p.fields);
    }
}

TEST(PhyPage, EachTickShowsThePassTheTickBeforeWoke) {
    test::SimBoard board;
    CPagePhy_Status page;
    page.SetModemSide(kSideLT);
    PhyThread thread(page);

    page.show();
    EXPECT_TRUE(page.IsRunning());
    EXPECT_TRUE(page.IsTimerActive());
    EXPECT_EQ(Button(page), "Stop");
    EXPECT_EQ(page.PassCount(), 0u); // the show does not wake the thread

    page.OnTimer(); // first tick: texts as they stand, then the first pass
    EXPECT_EQ(Field(page, "editPower"), "");
    ASSERT_TRUE(WaitUntil([&] { return page.PassCount() == 1; }));
    EXPECT_EQ(Field(page, "editPower"), "");

    page.OnTimer(); // second tick: the first pass's values
    EXPECT_EQ(Field(page, "editPower"), "- 60.0");
    EXPECT_EQ(Field(page, "editLinkFail"), "0");
    ASSERT_TRUE(WaitUntil([&] { return page.PassCount() == 2; }));

    // A link failure between passes: the tick after the next pass shows the new count.
    board.simulator->WithPair(
        [](CSimModemPair& pair) { pair.Modem(CSimModemPair::kLocal).regs[0x8D38] = 3; });
    page.OnTimer(); // shows pass 2 (count 0), wakes pass 3
    EXPECT_EQ(Field(page, "editLinkFail"), "0");
    ASSERT_TRUE(WaitUntil([&] { return page.PassCount() == 3; }));
    page.OnTimer();
    EXPECT_EQ(Field(page, "editLinkFail"), "3");
    EXPECT_TRUE(thread.Stop());
}

TEST(PhyPage, StartWakesAtOnceStopAndHideStopTheTimer) {
    test::SimBoard board;
    CPagePhy_Status page;
    page.SetModemSide(kSideLT);
    PhyThread thread(page);
    page.show();

    QTest::mouseClick(page.findChild<QPushButton*>(QStringLiteral("buttonStartStop")), Qt::LeftButton);
    EXPECT_FALSE(page.IsRunning());
    EXPECT_FALSE(page.IsTimerActive());
    EXPECT_EQ(Button(page), "Start");

    page.OnStartStop(); // Start: one pass now, shown at the first tick
    EXPECT_TRUE(page.IsRunning());
    EXPECT_TRUE(page.IsTimerActive());
    EXPECT_EQ(Button(page), "Stop");
    ASSERT_TRUE(WaitUntil([&] { return page.PassCount() == 1; }));
    EXPECT_EQ(Field(page, "editPower"), "");
    page.OnTimer();
    EXPECT_EQ(Field(page, "editPower"), "- 60.0");

    page.hide();
    EXPECT_FALSE(page.IsRunning());
    EXPECT_FALSE(page.IsTimerActive());
    EXPECT_EQ(Button(page), "Stop"); // hiding leaves the text alone
    page.show();
    EXPECT_TRUE(page.IsTimerActive());
    EXPECT_TRUE(thread.Stop());
}

TEST(PhyPage, HandOverUnderLoad) {
    // Ticks as fast as the UI thread can go while the thread keeps reading, so that texts are taken over
    // while passes write them (the ThreadSanitizer build checks the hand-over here).
    test::SimBoard board;
    CPagePhy_Status page;
    page.SetModemSide(kSideLT);
    PhyThread thread(page);
    page.show();
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (page.PassCount() < 8 && std::chrono::steady_clock::now() < deadline) {
        page.OnTimer();
        const QString power = Field(page, "editPower");
        EXPECT_TRUE(power.isEmpty() || power.startsWith("- 5") || power.startsWith("- 6"))
            << power.toStdString();
    }
    EXPECT_GE(page.PassCount(), 8u);
    EXPECT_TRUE(thread.Stop());
}

TEST(PhyPage, ThreadEndsPromptlyInsideARegisterAccess) {
    ExpectStopEndsAReadInProgress<CPagePhy_Status>(&PhyStatusPollThread,
                                                   [](CPagePhy_Status& page) { page.m_pollEvent.Set(); });
}

TEST(PhyPage, ThreadReturnsZeroWhenWokenToStop) {
    CPagePhy_Status page;
    g_bStopThreads.store(1);
    page.m_pollEvent.Set();
    EXPECT_EQ(PhyStatusPollThread(&page), 0);
    EXPECT_FALSE(RunPhyStatusPass(page)); // a pass under the stop flag hands nothing over
    EXPECT_EQ(page.PassCount(), 0u);
    g_bStopThreads.store(0);
}

TEST(PhyPage, F1OpensThePageHelp) {
    EXPECT_EQ(test::HelpOpenedByF1<CPagePhy_Status>(),
              std::vector<QString>{QStringLiteral("Help/page_22.htm")});
}

} // namespace
} // namespace tessor
