// The Link Configuration page against the simulated modem pair: what it reads on show and on "Read", how
// it decodes and shows the line settings and presets, the remote group on each tick, and the register
// traffic of "Write & Update".
#include "PageTestSupport.h"
#include "pages/PageLink.h"
#include "support/SimHarness.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QStringList>
#include <QTest>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tessor {
namespace {

using sim::CSimModemPair;
using test::Commands;
using test::RemoteOr8C00;

Commands Cat(std::initializer_list<Commands> parts) {
    Commands all;
    for (const Commands& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

std::string Hex(std::uint8_t value) {
    char text[3];
    FormatByte(value, text);
    return text;
}

// Remote operations through the mailbox as the simulator answers them (completion on the first status read).
Commands RemoteRead(const std::string& address) {
    return {"RD 8C71",
            "RD 8C00",
            "RD 8CC0",
            "WR 8CD0  1",
            "WR 8CC2 " + address.substr(0, 2),
            "WR 8CC1 " + address.substr(2),
            "WR 8CC0 11",
            "RD 8CC4",
            "RD 8CD0"};
}
Commands RemoteWrite(const std::string& address, std::uint8_t value) {
    return {"RD 8C71",
            "RD 8C00",
            "RD 8CC0",
            "WR 8CD0 " + Hex(value),
            "WR 8CC2 " + address.substr(0, 2),
            "WR 8CC1 " + address.substr(2),
            "WR 8CC0 12",
            "RD 8CC4"};
}
Commands LocalWrite(const std::string& address, std::uint8_t value) {
    return {"WR " + address + " " + Hex(value)};
}

const Commands kLocalReads{"RD 8C40", "RD 8C42,2", "RD 8C41", "RD 8C44,2"};
const Commands kLinkTest{"RD 8C71", "RD 8C00"};

const char* const kWarningText = "Warning: these changes affect the link\nconfiguration of your "
                                 "modem.\nPress CANCEL to return without changes.";
const char* const kRefusalText = "The configuration cannot be changed from the NT side. In order to change "
                                 "the configuration please connect "
                                 "the LT modem to your PC and re-start the Configurator.";

QStringList Items(const QComboBox* list) {
    QStringList items;
    for (int i = 0; i < list->count(); ++i)
        items << list->itemText(i);
    return items;
}

const QStringList kQam64Choices{"  6", "  8", " 12", " 16", " 24", " 32", " 48", " 64"};
const QStringList kQam256Choices{"  8", " 12", " 16", " 24", " 32", " 48", " 64"};
const QStringList kSmallChoices{"  4", "  6", "  8", " 12", " 16", " 24", " 32", " 48", " 64"};

class LinkPageTest : public ::testing::Test {
protected:
    explicit LinkPageTest(const sim::SimConfig& config = test::SimBoard::DefaultConfig()) : board(config) {
        page.resize(560, 380);
        page.SetCrystal(22500000, 1);
        page.SetModemSide(kSideLT);
    }

    template <class T> T* Child(const char* name) {
        T* widget = page.findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }
    QComboBox* List(const char* name) { return Child<QComboBox>(name); }
    QString Field(const char* name) { return Child<QLineEdit>(name)->text(); }

    Commands TakeCommands() { return board.TakeCommands(); }
    void PokeLocal(std::uint16_t address, std::uint8_t value) { board.PokeLocal(address, value); }
    void PokeRemote(std::uint16_t address, std::uint8_t value) {
        board.simulator->WithPair(
            [&](CSimModemPair& p) { p.Modem(CSimModemPair::kRemote).regs[address] = value; });
    }
    void SetLine(bool up) {
        board.simulator->WithPair(
            [&](CSimModemPair& p) { p.WriteRegister(CSimModemPair::kLocal, 0x8C00, up ? 0xC0 : 0x40); });
        ASSERT_EQ(board.simulator->IsLineUp(), up);
    }
    void Show() {
        page.show();
        board.ClearTraffic();
    }
    // A choice of the user in a drop-down list.
    static void Choose(QComboBox* list, int index) {
        list->setCurrentIndex(index);
        emit list->activated(index);
    }
    void Standard() { Child<QRadioButton>("radioStandard")->click(); }
    void Write() { Child<QPushButton>("btnWriteUpdate")->click(); }

    test::SimBoard board;
    test::BoxRecorder boxes;
    CPageLink page;
};

TEST_F(LinkPageTest, ShowReadsBothDirectionsTheLocalSpeedAndThenTheRemoteOne) {
    page.show();
    EXPECT_EQ(TakeCommands(), Cat({kLocalReads, {"RD 8D43"}, kLinkTest, RemoteRead("8D43")}));
    EXPECT_TRUE(page.IsTimerRunning());
    EXPECT_TRUE(Child<QRadioButton>("radioCurrent")->isChecked());
    EXPECT_FALSE(Child<QRadioButton>("radioStandard")->isChecked());
    EXPECT_TRUE(Child<QLineEdit>("editDsRate")->isVisible());
    EXPECT_TRUE(Child<QLineEdit>("editUsRate")->isVisible());
    EXPECT_FALSE(List("cmbDsPreset")->isVisible());
    EXPECT_FALSE(List("cmbUsPreset")->isVisible());
    EXPECT_FALSE(Child<QPushButton>("btnWriteUpdate")->isEnabled());
    EXPECT_FALSE(List("cmbLocalSpeed")->isEnabled());
    EXPECT_TRUE(Child<QGroupBox>("grpRemote")->isEnabled());
    EXPECT_TRUE(List("cmbRemoteSpeed")->isVisible());
    // Factory settings: 32 / 24 at 22.5 MHz, both modems on automatic speed.
    EXPECT_EQ(Field("editDsRate"), "11,25");
    EXPECT_EQ(Field("editUsRate"), "11,25");
    EXPECT_EQ(List("cmbLocalSpeed")->currentText(), "  3");
    EXPECT_EQ(List("cmbRemoteSpeed")->currentText(), "  3");
    for (const char* name : {"cmbDsInterpolation", "cmbDsConstellation", "spinDsCarrier",
                             "cmbUsInterpolation", "cmbUsConstellation", "spinUsCarrier"})
        EXPECT_FALSE(Child<QWidget>(name)->isEnabled()) << name;
    // The carrier fields are read-only but enabled, so that Tab and screen readers reach them.
    for (const char* name : {"editDsCarrier", "editUsCarrier"})
        EXPECT_TRUE(Child<QLineEdit>(name)->isEnabled() && Child<QLineEdit>(name)->isReadOnly()) << name;

    // "Read" reads the same, remote speed first while the remote modem is reachable.
    Child<QPushButton>("btnRead")->click();
    EXPECT_EQ(TakeCommands(), Cat({kLocalReads, RemoteRead("8D43"), {"RD 8D43"}}));

    page.hide();
    EXPECT_FALSE(page.IsTimerRunning());
    EXPECT_TRUE(board.Commands().empty());
}

TEST_F(LinkPageTest, ShowWithTheLineDownReadsLocallyAndHidesTheRemoteSpeed) {
    SetLine(false);
    page.show();
    EXPECT_EQ(TakeCommands(), Cat({kLocalReads, {"RD 8D43"}, kLinkTest}));
    EXPECT_FALSE(Child<QGroupBox>("grpRemote")->isEnabled());
    EXPECT_FALSE(Child<QLabel>("lblRemotePort")->isEnabled());
    EXPECT_FALSE(Child<QLabel>("lblRemoteSpeedSetup")->isEnabled());
    EXPECT_TRUE(List("cmbRemoteSpeed")->isHidden());
}

TEST_F(LinkPageTest, GroupCaptionsFollowTheModemSide) {
    Show();
    EXPECT_EQ(Child<QGroupBox>("grpLocal")->title(), "Local Modem (LT)");
    EXPECT_EQ(Child<QGroupBox>("grpRemote")->title(), "Remote Modem (NT)");
    page.SetModemSide(kSideNT);
    Child<QPushButton>("btnRead")->click();
    EXPECT_EQ(Child<QGroupBox>("grpLocal")->title(), "Local Modem (NT)");
    EXPECT_EQ(Child<QGroupBox>("grpRemote")->title(), "Remote Modem (LT)");
}

TEST_F(LinkPageTest, LineConfigurationIsDecodedAndTheRateComputed) {
    struct Case {
        std::int32_t crystalHz;
        std::uint8_t lineConfig;
        const char* constellation;
        QStringList choices;
        int selected; // -1: no selection
        const char* rate;
    };
    const std::vector<Case> cases{
        {22500000, 0x22, " QAM 64", kQam64Choices, 1, "16,88"},
        {22500000, 0x02, " QAM 64", kQam64Choices, -1, ""}, // 4 is not offered with QAM 64
        {22500000, 0x32, " QAM 64", kQam64Choices, 2, "11,25"},
        {25000000, 0x30, " QAM 256", kQam256Choices, 1, "16,67"},
        {19440000, 0x68, " QAM 4 ", kSmallChoices, 6, "1,215"},
        {19440000, 0x8C, " QAM 32", {" 10"}, -1, ""}, // 64 is not offered with QAM 32
        {22500000, 0xAA, " QAM 128", {" 14"}, 0, "11,25"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.lineConfig));
        page.SetCrystal(c.crystalHz, 0);
        PokeLocal(0x8C40, c.lineConfig);
        Child<QPushButton>("btnRead")->click();
        EXPECT_EQ(List("cmbDsConstellation")->currentText(), c.constellation);
        EXPECT_EQ(Items(List("cmbDsInterpolation")), c.choices);
        EXPECT_EQ(List("cmbDsInterpolation")->currentIndex(), c.selected);
        EXPECT_EQ(Field("editDsRate"), c.rate);
    }
}

TEST_F(LinkPageTest, UpstreamUsesItsOwnRegistersAndListTexts) {
    PokeLocal(0x8C41, 0x9C); // QAM 32 with 10
    Show();
    EXPECT_EQ(List("cmbUsConstellation")->currentText(), " QAM 32 ");
    EXPECT_EQ(Items(List("cmbUsInterpolation")), QStringList{" 10"});
    EXPECT_EQ(List("cmbUsInterpolation")->currentText(), " 10");
    EXPECT_EQ(Field("editUsRate"), "11,25");
    EXPECT_EQ(List("cmbDsConstellation")->currentText(), " QAM 64");
}

TEST_F(LinkPageTest, CodesThatNameNothingLeaveTheDisplay) {
    PokeLocal(0x8C40, 0x22);
    Show();
    // Constellation code 1 names nothing: QAM 64 stays, the list is refilled for it, 12 is taken.
    PokeLocal(0x8C40, 0x31);
    Child<QPushButton>("btnRead")->click();
    EXPECT_EQ(List("cmbDsConstellation")->currentText(), " QAM 64");
    EXPECT_EQ(Items(List("cmbDsInterpolation")), kQam64Choices);
    EXPECT_EQ(List("cmbDsInterpolation")->currentText(), " 12");
    EXPECT_EQ(Field("editDsRate"), "11,25");
    // Interpolation code B names nothing: 12 is still the factor, but the refilled list shows no selection.
    PokeLocal(0x8C40, 0xB2);
    Child<QPushButton>("btnRead")->click();
    EXPECT_EQ(List("cmbDsInterpolation")->currentIndex(), -1);
    EXPECT_EQ(Field("editDsRate"), "11,25");
}

TEST_F(LinkPageTest, CarrierIsConvertedFromTheRegisterPair) {
    struct Case {
        std::int32_t crystalHz;
        std::uint16_t value;
        const char* text;
        int spin;
    };
    for (const Case& c : {Case{22500000, 79, "1.73", 173}, Case{25000000, 1024, "24.99", 800},
                          Case{19440000, 5, "0.09", 9}, Case{19440000, 0, "0.00", 0}}) {
        SCOPED_TRACE(static_cast<int>(c.value));
        page.SetCrystal(c.crystalHz, 0);
        PokeLocal(0x8C42, static_cast<std::uint8_t>(c.value));
        PokeLocal(0x8C43, static_cast<std::uint8_t>(c.value >> 8));
        PokeLocal(0x8C44, static_cast<std::uint8_t>(c.value));
        PokeLocal(0x8C45, static_cast<std::uint8_t>(c.value >> 8));
        Child<QPushButton>("btnRead")->click();
        EXPECT_EQ(Field("editDsCarrier"), c.text);
        EXPECT_EQ(Field("editUsCarrier"), c.text);
        EXPECT_EQ(Child<QSpinBox>("spinDsCarrier")->value(), c.spin);
        EXPECT_EQ(Child<QSpinBox>("spinUsCarrier")->value(), c.spin);
    }
}

TEST_F(LinkPageTest, StandardSettingsOffersThePresetsOfTheCrystal) {
    struct Case {
        std::int32_t crystalHz;
        std::uint8_t crystalIndex;
        QStringList downstream;
    };
    for (const Case& c : {Case{19440000, 0, {" 9,72 Mbps", " 4,86 Mbps", " 2,43 Mbps"}},
                          Case{22500000, 1, {"11,25 Mbps", " 5,63 Mbps", " 2,81 Mbps"}},
                          Case{25000000, 2, {"   10 M", "    5 M", "   15 M", "  4M/1M"}}}) {
        SCOPED_TRACE(static_cast<int>(c.crystalIndex));
        page.SetCrystal(c.crystalHz, c.crystalIndex);
        page.hide();
        Show();
        Standard();
        EXPECT_TRUE(board.Commands().empty());
        EXPECT_EQ(Items(List("cmbDsPreset")), c.downstream);
        EXPECT_EQ(List("cmbDsPreset")->currentIndex(), 0);
        EXPECT_EQ(List("cmbUsPreset")->count(), 4);
        EXPECT_TRUE(List("cmbDsPreset")->isVisible());
        EXPECT_FALSE(List("cmbUsPreset")->isVisible());
        EXPECT_FALSE(Child<QLineEdit>("editDsRate")->isVisible());
        EXPECT_FALSE(Child<QLineEdit>("editUsRate")->isVisible());
        EXPECT_TRUE(Child<QRadioButton>("radioStandard")->isChecked());
        EXPECT_FALSE(Child<QRadioButton>("radioCurrent")->isChecked());
        EXPECT_TRUE(Child<QPushButton>("btnWriteUpdate")->isEnabled());
        EXPECT_TRUE(List("cmbLocalSpeed")->isEnabled());
        EXPECT_TRUE(List("cmbRemoteSpeed")->isEnabled());
        EXPECT_FALSE(List("cmbDsConstellation")->isEnabled());
        // Preset 0 on show: QAM 64 with 12 downstream, QAM 16 with 8 upstream.
        EXPECT_EQ(List("cmbDsConstellation")->currentText(), " QAM 64");
        EXPECT_EQ(List("cmbDsInterpolation")->currentText(), " 12");
        EXPECT_EQ(List("cmbUsConstellation")->currentText(), " QAM 16");
        EXPECT_EQ(List("cmbUsInterpolation")->currentText(), "  8");
    }
}

TEST_F(LinkPageTest, ChoosingAPresetShowsItWithoutRefillingTheInterpolationList) {
    page.SetCrystal(19440000, 0);
    Show();
    Standard();
    ASSERT_EQ(List("cmbDsPreset")->currentText(), " 9,72 Mbps");
    Choose(List("cmbDsPreset"), 2); // " 2,43 Mbps"
    EXPECT_EQ(List("cmbDsConstellation")->currentText(), " QAM 256");
    EXPECT_EQ(List("cmbDsInterpolation")->currentText(), " 12");
    EXPECT_EQ(Items(List("cmbDsInterpolation")), kQam64Choices); // as read, not the QAM 256 choices
    EXPECT_TRUE(board.Commands().empty());

    // With QAM 128 read, the list holds only 14: a preset's 12 or 16 shows no selection.
    page.hide();
    PokeLocal(0x8C40, 0xAA);
    Show();
    Standard();
    EXPECT_EQ(List("cmbDsConstellation")->currentText(), " QAM 64");
    EXPECT_EQ(Items(List("cmbDsInterpolation")), QStringList{" 14"});
    EXPECT_EQ(List("cmbDsInterpolation")->currentIndex(), -1);
    Choose(List("cmbDsPreset"), 1);
    EXPECT_EQ(List("cmbDsConstellation")->currentText(), " QAM 16");
    EXPECT_EQ(List("cmbDsInterpolation")->currentIndex(), -1);
}

TEST_F(LinkPageTest, TheUpstreamDisplayFollowsTheChosenPreset) {
    page.SetCrystal(25000000, 2);
    Show();
    Standard();
    Choose(List("cmbDsPreset"), 3); // "  4M/1M": 54 downstream, 68 upstream
    EXPECT_EQ(List("cmbDsConstellation")->currentText(), " QAM 16");
    EXPECT_EQ(List("cmbDsInterpolation")->currentText(), " 24");
    EXPECT_EQ(List("cmbUsPreset")->currentIndex(), 3);
    EXPECT_EQ(List("cmbUsConstellation")->currentText(), " QAM 4");
    EXPECT_EQ(List("cmbUsInterpolation")->currentText(), " 32");
}

TEST_F(LinkPageTest, ModeButtonsActOnlyOnAChangeOfMode) {
    PokeLocal(0x8C40, 0x22);
    page.SetCrystal(19440000, 0);
    Show();
    Standard();
    Choose(List("cmbDsPreset"), 2);
    Standard(); // already in Standard Settings: the lists are not refilled, the choice stays
    EXPECT_EQ(List("cmbDsPreset")->currentIndex(), 2);
    EXPECT_EQ(List("cmbDsPreset")->count(), 3);
    EXPECT_EQ(List("cmbDsConstellation")->currentText(), " QAM 256");

    // Back to Current Settings: the settings read from the modem, not the preset browsed last.
    Child<QRadioButton>("radioCurrent")->click();
    EXPECT_TRUE(board.Commands().empty());
    EXPECT_EQ(List("cmbDsConstellation")->currentText(), " QAM 64");
    EXPECT_EQ(List("cmbDsInterpolation")->currentText(), "  8");
    EXPECT_EQ(Field("editDsRate"), "14,58");
    EXPECT_EQ(List("cmbUsConstellation")->currentText(), " QAM 16");
    EXPECT_TRUE(Child<QLineEdit>("editDsRate")->isVisible());
    EXPECT_FALSE(List("cmbDsPreset")->isVisible());
    EXPECT_FALSE(Child<QPushButton>("btnWriteUpdate")->isEnabled());

    Child<QRadioButton>("radioCurrent")->click();
    EXPECT_EQ(Field("editDsRate"), "14,58");
    EXPECT_TRUE(Child<QRadioButton>("radioCurrent")->isChecked());
    EXPECT_TRUE(board.Commands().empty());
}

TEST_F(LinkPageTest, EthernetSpeedIsDecodedFromItsUpperNibble) {
    struct Case {
        std::uint8_t value;
        int position; // -1: nothing selected
    };
    for (const Case& c :
         {Case{0x12, 0}, Case{0x34, 1}, Case{0xF4, 2}, Case{0x1F, 0}, Case{0x00, -1}, Case{0x20, -1}}) {
        SCOPED_TRACE(static_cast<int>(c.value));
        test::SimBoard fresh;
        CPageLink freshPage;
        freshPage.SetModemSide(kSideLT);
        fresh.simulator->WithPair([&](CSimModemPair& p) {
            p.Modem(CSimModemPair::kLocal).regs[0x8D43] = c.value;
            p.Modem(CSimModemPair::kRemote).regs[0x8D43] = c.value;
        });
        freshPage.show();
        EXPECT_EQ(freshPage.findChild<QComboBox*>("cmbLocalSpeed")->currentIndex(), c.position);
        EXPECT_EQ(freshPage.findChild<QComboBox*>("cmbRemoteSpeed")->currentIndex(), c.position);
    }
}

TEST_F(LinkPageTest, WriteOfPresetThreeGoesToTheRemoteModemFirstThenTheLocalOne) {
    page.SetCrystal(25000000, 2);
    Show();
    Standard();
    Choose(List("cmbDsPreset"), 3);
    board.ClearTraffic();
    test::SimBoard::RestartSleeps().clear();
    Write();

    const Commands expected = Cat({
        RemoteWrite("8C10", 0x54),    RemoteWrite("8C11", 0x68), RemoteWrite("8C12", 0x4B),
        RemoteWrite("8C13", 0x00),    RemoteWrite("8C14", 0xB7), RemoteWrite("8C15", 0x00),
        RemoteWrite("8C19", 0x56),    RemoteWrite("8C1A", 0x61), RemoteWrite("8C1B", 0x51),
        RemoteWrite("8C1C", 0xD7),    RemoteWrite("8D40", 0x3C), RemoteWrite("8D45", 0xD0),
        RemoteWrite("8D47", 0xBF),    RemoteWrite("8D40", 0x3E), RemoteWrite("8D42", 0x02),
        RemoteWrite("8D43", 0xF4),    RemoteOr8C00("08"),        RemoteOr8C00("20"),
        LocalWrite("8C10", 0x54),     LocalWrite("8C11", 0x68),  LocalWrite("8C12", 0x4B),
        LocalWrite("8C13", 0x00),     LocalWrite("8C14", 0xB7),  LocalWrite("8C15", 0x00),
        LocalWrite("8D40", 0x3E),     LocalWrite("8D42", 0x02),  LocalWrite("8D43", 0xF4),
        {"OR 8C00 08", "OR 8C00 20"},
    });
    EXPECT_EQ(TakeCommands(), expected);
    EXPECT_EQ(test::SimBoard::RestartSleeps(), std::vector<int>{2000});

    const auto box = boxes.Boxes();
    ASSERT_EQ(box.size(), 1u);
    EXPECT_EQ(box[0].title, "Write & Update");
    EXPECT_EQ(box[0].text, kWarningText);
    EXPECT_EQ(box[0].buttons, QMessageBox::Ok | QMessageBox::Cancel);
    EXPECT_EQ(box[0].icon, QMessageBox::NoIcon);

    // Both modems run the preset after their restarts, and the line came up again with it.
    for (std::uint16_t a : {0x8C40, 0x8C10}) {
        EXPECT_EQ(board.simulator->PeekLocal(a), 0x54);
        EXPECT_EQ(board.simulator->PeekRemote(a), 0x54);
        EXPECT_EQ(board.simulator->PeekLocal(a + 1), 0x68);
        EXPECT_EQ(board.simulator->PeekRemote(a + 1), 0x68);
    }
    EXPECT_EQ(board.simulator->PeekRemote(0x8C19), 0x56);
    EXPECT_EQ(board.simulator->PeekRemote(0x8D40), 0x3E);
    EXPECT_NE(board.simulator->PeekLocal(0x8C19), 0x56);
    EXPECT_TRUE(board.simulator->IsLineUp());
}

TEST_F(LinkPageTest, WriteWithTheLineDownGoesToTheLocalModemOnly) {
    PokeLocal(0x8D43, 0x34);
    SetLine(false);
    Show();
    EXPECT_EQ(List("cmbLocalSpeed")->currentText(), "  2");
    Standard();
    Write();
    EXPECT_EQ(TakeCommands(), Cat({LocalWrite("8C10", 0x32),
                                   LocalWrite("8C11", 0x24),
                                   LocalWrite("8C12", 0x4F),
                                   LocalWrite("8C13", 0x00),
                                   LocalWrite("8C14", 0xE3),
                                   LocalWrite("8C15", 0x00),
                                   LocalWrite("8D40", 0x1E),
                                   LocalWrite("8D42", 0x00),
                                   LocalWrite("8D43", 0x34),
                                   {"OR 8C00 08", "OR 8C00 20"}}));
    EXPECT_TRUE(test::SimBoard::RestartSleeps().empty());
}

TEST_F(LinkPageTest, ASpeedValueThatNamesNothingKeepsTheRememberedPosition) {
    PokeLocal(0x8D43, 0x34);
    SetLine(false);
    Show();
    PokeLocal(0x8D43, 0x00);
    Child<QPushButton>("btnRead")->click();
    EXPECT_EQ(List("cmbLocalSpeed")->currentText(), "  2");
    Standard();
    board.ClearTraffic();
    Write();
    const Commands sent = TakeCommands();
    ASSERT_EQ(sent.size(), 11u);
    EXPECT_EQ(Commands(sent.begin() + 6, sent.begin() + 9),
              Cat({LocalWrite("8D40", 0x1E), LocalWrite("8D42", 0x00), LocalWrite("8D43", 0x34)}));
}

TEST_F(LinkPageTest, TheSpeedChosenByTheUserIsWritten) {
    SetLine(false);
    Show();
    Standard();
    Choose(List("cmbLocalSpeed"), 0);
    Write();
    const Commands sent = TakeCommands();
    ASSERT_EQ(sent.size(), 11u);
    EXPECT_EQ(Commands(sent.begin() + 6, sent.begin() + 9),
              Cat({LocalWrite("8D40", 0x0E), LocalWrite("8D42", 0x00), LocalWrite("8D43", 0x12)}));
}

TEST_F(LinkPageTest, AnUnknownSpeedIsNeverWritten) {
    PokeLocal(0x8D43, 0x00);
    SetLine(false);
    Show();
    EXPECT_EQ(List("cmbLocalSpeed")->currentIndex(), -1);
    Standard();
    Write();
    EXPECT_TRUE(board.Commands().empty());
    const auto box = boxes.Boxes();
    ASSERT_EQ(box.size(), 2u);
    EXPECT_EQ(box[1].title, "Write & Update");
    EXPECT_TRUE(box[1].text.contains("local modem"));

    // Once the user chooses one, the write goes ahead with it.
    Choose(List("cmbLocalSpeed"), 1);
    Write();
    EXPECT_EQ(TakeCommands().size(), 11u);
}

TEST_F(LinkPageTest, OnTheNtSideTheWriteIsRefusedAfterTheWarning) {
    page.SetModemSide(kSideNT);
    Show();
    Standard();
    Write();
    EXPECT_TRUE(board.Commands().empty());
    const auto box = boxes.Boxes();
    ASSERT_EQ(box.size(), 2u);
    EXPECT_EQ(box[0].text, kWarningText);
    EXPECT_EQ(box[1].title, "Write & Update");
    EXPECT_EQ(box[1].text, kRefusalText);
    EXPECT_EQ(box[1].buttons, QMessageBox::Ok);
}

TEST_F(LinkPageTest, CancelWritesNothing) {
    for (std::uint8_t side : {kSideLT, kSideNT}) {
        SCOPED_TRACE(static_cast<int>(side));
        boxes.boxes.clear();
        page.SetModemSide(side);
        Show();
        Standard();
        boxes.answers.push_back(QMessageBox::Cancel);
        Write();
        EXPECT_TRUE(board.Commands().empty());
        const auto box = boxes.Boxes();
        ASSERT_EQ(box.size(), 1u);
        EXPECT_EQ(box[0].text, kWarningText);
        page.hide();
    }
}

TEST_F(LinkPageTest, TheRemoteGroupFollowsTheLineOnlyOnAChange) {
    Show();
    ASSERT_TRUE(Child<QGroupBox>("grpRemote")->isEnabled());

    SetLine(false);
    page.OnTimer();
    EXPECT_EQ(TakeCommands(), kLinkTest);
    EXPECT_FALSE(Child<QGroupBox>("grpRemote")->isEnabled());
    EXPECT_FALSE(Child<QLabel>("lblRemotePort")->isEnabled());
    EXPECT_FALSE(Child<QLabel>("lblRemoteSpeedSetup")->isEnabled());
    EXPECT_TRUE(List("cmbRemoteSpeed")->isHidden());

    page.OnTimer();
    EXPECT_EQ(TakeCommands(), kLinkTest);

    PokeRemote(0x8D43, 0x12);
    SetLine(true);
    page.OnTimer();
    EXPECT_EQ(TakeCommands(), Cat({kLinkTest, RemoteRead("8D43")}));
    EXPECT_TRUE(Child<QGroupBox>("grpRemote")->isEnabled());
    EXPECT_TRUE(Child<QLabel>("lblRemotePort")->isEnabled());
    EXPECT_FALSE(List("cmbRemoteSpeed")->isHidden());
    EXPECT_EQ(List("cmbRemoteSpeed")->currentText(), "  1");

    page.OnTimer();
    EXPECT_EQ(TakeCommands(), kLinkTest); // still up: no new remote read
}

TEST_F(LinkPageTest, F1OpensThePageHelp) {
    std::vector<QString> opened;
    ui::SetHelpHookForTesting([&](const QString& path) { opened.push_back(path); });
    Show();
    QTest::keyClick(Child<QPushButton>("btnRead"), Qt::Key_F1);
    ui::SetHelpHookForTesting(nullptr);
    EXPECT_EQ(opened, std::vector<QString>{"Help/page_17.htm"});
    EXPECT_TRUE(board.Commands().empty());
}

// The remote modem's mailbox never completes: the remote read of 8D43 fails.
class LinkPageMailboxStuckTest : public LinkPageTest {
protected:
    static sim::SimConfig StuckConfig() {
        sim::SimConfig config = test::SimBoard::DefaultConfig();
        config.mailboxCompleteAfter = 1000000;
        return config;
    }
    LinkPageMailboxStuckTest() : LinkPageTest(StuckConfig()) {}
};

TEST_F(LinkPageMailboxStuckTest, AFailedRemoteSpeedReadLeavesTheRemoteSpeedUnknown) {
    page.show();
    const Commands sent = TakeCommands();
    // 100 status reads without completion, and no read of the data register.
    EXPECT_EQ(std::count(sent.begin(), sent.end(), "RD 8CC4"), 100);
    EXPECT_EQ(std::count(sent.begin(), sent.end(), "RD 8CD0"), 0);
    EXPECT_EQ(List("cmbRemoteSpeed")->currentIndex(), -1);
    EXPECT_EQ(List("cmbLocalSpeed")->currentText(), "  3");

    Standard();
    Write();
    EXPECT_TRUE(board.Commands().empty());
    const auto box = boxes.Boxes();
    ASSERT_EQ(box.size(), 2u);
    EXPECT_TRUE(box[1].text.contains("remote modem"));
}

} // namespace
} // namespace tessor
