// The window tool's sequences and tessor-cli's send the same bytes: save, load, Set to Default and a
// preset write, each once through the sheet or the page against the in-memory simulator and once through
// tessor-cli against tessor-sim on a pseudo-terminal (both simulate the same factory-fresh LT pair with
// the line up). tessor-cli first reads what the window tool knew already (side, line); those reads are
// left out of the comparison.

#include "app/MainSheet.h"
#include "cli/CliTestSupport.h"
#include "pages/PageLink.h"
#include "support/SimHarness.h"

#include <QComboBox>
#include <QPushButton>
#include <QRadioButton>

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace tessor::clitest {
namespace {

using Commands = std::vector<std::string>;

std::string FileBytes(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream bytes;
    bytes << file.rdbuf();
    return bytes.str();
}

// The sheet as the application has it after start-up on the LT side with the 25.00 MHz crystal.
std::unique_ptr<CMainSheet> Sheet() {
    auto sheet = std::make_unique<CMainSheet>(QStringLiteral("parity"));
    sheet->SetClosePauseMs(0);
    sheet->m_side = 1;
    sheet->m_crystalIndex = 2;
    return sheet;
}

// "Write & Update" of preset 2 on the Link page, shown as the user sees it first.
void WritePresetTwoOnThePage(test::SimBoard& board) {
    CPageLink page;
    page.SetCrystal(25000000, 2);
    page.SetModemSide(kSideLT);
    page.show();
    page.findChild<QRadioButton*>(QStringLiteral("radioStandard"))->click();
    QComboBox* presets = page.findChild<QComboBox*>(QStringLiteral("cmbDsPreset"));
    presets->setCurrentIndex(1);
    emit presets->activated(1);
    board.ClearTraffic();
    page.findChild<QPushButton*>(QStringLiteral("btnWriteUpdate"))->click();
}

struct Sequence {
    const char* name;
    std::function<void(test::SimBoard&, const std::string& file)> window;
    std::vector<std::string> cli; // FILE stands for the file
    std::size_t cliPrelude;       // reads tessor-cli makes first
};

TEST(CliParity, TheWindowToolAndTheCommandLineSendTheSameBytes) {
    test::BoxRecorder boxes;
    test::FileDialogRecorder dialogs;
    const std::vector<Sequence> sequences{
        {"save",
         [&](test::SimBoard&, const std::string& file) {
             dialogs.names.push_back(QString::fromStdString(file));
             Sheet()->OnSaveConfiguration();
         },
         {"save", "FILE"},
         1},
        {"load",
         [&](test::SimBoard&, const std::string& file) {
             dialogs.names.push_back(QString::fromStdString(file));
             Sheet()->OnLoadConfiguration();
         },
         {"--yes", "load", "FILE"},
         1},
        {"Set to Default",
         [](test::SimBoard&, const std::string&) { Sheet()->SetToDefault(); },
         {"--yes", "default"},
         1},
        {"preset",
         [](test::SimBoard& board, const std::string&) { WritePresetTwoOnThePage(board); },
         {"--yes", "preset", "2", "--local-speed", "3", "--remote-speed", "3"},
         3},
    };
    for (const Sequence& s : sequences) {
        SimPty sim;
        ASSERT_TRUE(sim.Ready());
        const std::string windowFile = sim.Dir() + "/window.LT";
        const std::string cliFile = sim.Dir() + "/cli.LT";
        const std::string loadable = "LT\r\n8C40:44\r\n8C41:44\r\n8D42:F4";
        for (const std::string& path : {windowFile, cliFile})
            std::ofstream(path, std::ios::binary) << loadable;

        test::SimBoard board;
        board.ClearTraffic();
        s.window(board, windowFile);
        const Commands window = board.Commands();

        std::vector<std::string> args = s.cli;
        for (std::string& a : args)
            a = a == "FILE" ? cliFile : a;
        sim.ClearWire();
        const RunResult r = sim.Cli(args);
        EXPECT_EQ(r.status, 0) << s.name << r.err;
        Commands cli = sim.Commands();
        ASSERT_GE(cli.size(), s.cliPrelude) << s.name;
        cli.erase(cli.begin(), cli.begin() + static_cast<std::ptrdiff_t>(s.cliPrelude));
        EXPECT_FALSE(window.empty()) << s.name;
        EXPECT_EQ(cli, window) << s.name;
        EXPECT_EQ(FileBytes(cliFile), FileBytes(windowFile)) << s.name;
        for (const std::string& path : {windowFile, cliFile})
            unlink(path.c_str());
    }
}

} // namespace
} // namespace tessor::clitest
