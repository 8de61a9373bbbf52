// The main sheet's File menu commands, Set to Default and the About box, against the simulated modem pair.

#include "app/AboutBox.h"
#include "app/MainSheet.h"
#include "link/ConsolePort.h"
#include "model/ConfigFile.h"
#include "ops/ProcessAccess.h"
#include "support/RegResultCheck.h"
#include "support/SimHarness.h"

#include "VersionInfo.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace tessor::test {
namespace {

std::string Hex2(unsigned value) {
    char text[3];
    std::snprintf(text, sizeof text, "%02X", value & 0xFF);
    return text;
}

std::uint16_t Address(const std::string& text) {
    return static_cast<std::uint16_t>(std::stoul(text, nullptr, 16));
}

// A sheet that has not been initialised (it touches no hardware of its own), working on the simulated pair
// that a SimBoard puts behind the process-wide port.
class SheetCommandsTest : public ::testing::Test {
protected:
    void Start(ModemSide side, bool lineUp = true) {
        ASSERT_TRUE(dir.isValid());
        board = std::make_unique<SimBoard>(SimBoard::DefaultConfig(side));
        if (!lineUp) {
            EXPECT_EQ(LocalReg(kAnd, "8C00", "7F"), Answered(1)); // activation off: the line goes down
        }
        sheet = std::make_unique<CMainSheet>(QStringLiteral("test"));
        sheet->SetClosePauseMs(0);
        sheet->m_side = side;
        sheet->m_crystalIndex = 2;
        board->ClearTraffic();
    }

    void TearDown() override {
        sheet.reset();
        board.reset();
    }

    QString PathOf(const char* name) const { return dir.filePath(QString::fromLatin1(name)); }

    static QByteArray ReadBytes(const QString& path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    static void WriteBytes(const QString& path, const std::string& bytes) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes.data(), static_cast<qint64>(bytes.size()));
    }

    void PokeLocal(std::uint16_t address, std::uint8_t value) {
        board->simulator->WithPair(
            [&](sim::CSimModemPair& pair) { pair.Modem(sim::CSimModemPair::kLocal).regs[address] = value; });
    }

    // Command lines other than reads.
    std::vector<std::string> Changes() const {
        std::vector<std::string> changes;
        for (const std::string& line : board->Commands())
            if (line.rfind("RD ", 0) != 0)
                changes.push_back(line);
        return changes;
    }

    // The traffic as register operations: "local WR 8C10 32" for a console command, "remote WR 8C10 32" for
    // a mailbox sequence (data, address halves, start), reads left out.
    std::vector<std::string> Operations() const {
        static const char* const kWords[] = {"", "RD", "WR", "OR", "ND"};
        std::vector<std::string> operations;
        std::string data, high, low;
        for (const std::string& line : board->Commands()) {
            if (line.rfind("RD ", 0) == 0)
                continue;
            const std::string reg = line.substr(3, 4);
            const std::string value = line.substr(8);
            if (reg == "8CD0")
                data = value;
            else if (reg == "8CC2")
                high = value;
            else if (reg == "8CC1")
                low = value;
            else if (reg == "8CC0")
                operations.push_back("remote " + std::string(kWords[value[1] - '0']) + " " + high + low +
                                     " " + data);
            else
                operations.push_back("local " + line);
        }
        return operations;
    }

    QTemporaryDir dir;
    BoxRecorder boxes;
    FileDialogRecorder dialogs;
    std::unique_ptr<SimBoard> board;
    std::unique_ptr<CMainSheet> sheet;
};

// ---------------------------------------------------------------------------------------------------------
// Saving

class SaveTest : public SheetCommandsTest {};

TEST_F(SaveTest, NtModemGivesTheExactFileFromTheRegistersRead) {
    Start(kSideNT);
    PokeLocal(0x8C6B, 0x07); // a leading zero
    PokeLocal(0x8D49, 0xAB); // upper-case letters
    dialogs.names.push_back(PathOf("saved.NT"));
    sheet->OnSaveConfiguration();

    ASSERT_EQ(dialogs.requests.size(), 1u);
    const ui::FileDialogRequest& request = dialogs.requests[0];
    EXPECT_EQ(request.kind, ui::FileDialogKind::Save);
    EXPECT_EQ(request.title, "Save current hardware registers to file");
    EXPECT_EQ(request.filter, "NT Configuration files (*.NT)");
    EXPECT_EQ(request.defaultSuffix, "NT");
    EXPECT_TRUE(request.confirmOverwrite);

    std::string expected = "NT";
    std::vector<std::string> reads;
    for (const auto reg : kConfigRegisters) {
        const std::string address(reg);
        expected += "\r\n" + address + ":" + Hex2(board->simulator->PeekLocal(Address(address)));
        reads.push_back("RD " + address);
    }
    const QByteArray file = ReadBytes(PathOf("saved.NT"));
    EXPECT_EQ(file.size(), 281);
    EXPECT_EQ(file.toStdString(), expected);
    EXPECT_TRUE(file.startsWith("NT\r\n8C40:"));
    EXPECT_TRUE(file.endsWith("\r\n8D49:AB"));
    EXPECT_NE(file.indexOf("\r\n8C6B:07"), -1);
    EXPECT_EQ(board->Commands(), reads);
    EXPECT_TRUE(boxes.Boxes().empty());
}

TEST_F(SaveTest, LtModemUsesTheLtDialogAndHeader) {
    Start(kSideLT);
    dialogs.names.push_back(PathOf("saved")); // the dialog adds the default suffix
    sheet->OnSaveConfiguration();

    ASSERT_EQ(dialogs.requests.size(), 1u);
    EXPECT_EQ(dialogs.requests[0].filter, "LT Configuration files (*.LT)");
    EXPECT_EQ(dialogs.requests[0].defaultSuffix, "LT");
    const QByteArray file = ReadBytes(PathOf("saved.LT"));
    EXPECT_EQ(file.size(), 281);
    EXPECT_TRUE(file.startsWith("LT\r\n8C40:"));
}

TEST_F(SaveTest, CancelledDialogSendsNothing) {
    Start(kSideNT);
    sheet->OnSaveConfiguration();
    EXPECT_EQ(dialogs.requests.size(), 1u);
    EXPECT_TRUE(board->Commands().empty());
    EXPECT_TRUE(boxes.Boxes().empty());
}

TEST_F(SaveTest, SilentBoardLeavesNoFileAndSaysSo) {
    Start(kSideNT);
    board->ShortWaits();
    board->simulator->SetSilent(true);
    dialogs.names.push_back(PathOf("silent.NT"));
    sheet->OnSaveConfiguration();

    EXPECT_EQ(board->prompt.Asked(), 1); // one time-out, cancelled; nothing more is tried
    EXPECT_FALSE(QFile::exists(PathOf("silent.NT")));
    EXPECT_TRUE(QDir(dir.path()).entryList(QDir::Files).isEmpty()); // no temporary file either
    const auto shown = boxes.Boxes();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].title, "Error");
    EXPECT_EQ(shown[0].buttons, QMessageBox::Ok);
    EXPECT_TRUE(shown[0].text.contains("did not answer"));
    EXPECT_TRUE(shown[0].text.contains("silent.NT"));
}

TEST_F(SaveTest, GarbledReplyIsNoValueAndLeavesNoFile) {
    Start(kSideNT);
    PokeLocal(0x8C40, 0x32);
    board->simulator->CorruptNextEcho(); // the first read's reply comes back garbled and reads as 0
    dialogs.names.push_back(PathOf("garbled.NT"));
    sheet->OnSaveConfiguration();

    EXPECT_FALSE(QFile::exists(PathOf("garbled.NT")));
    EXPECT_EQ(board->Commands(), std::vector<std::string>{"RD 8C40"}); // nothing more is read
    ASSERT_EQ(boxes.Boxes().size(), 1u);
    EXPECT_EQ(boxes.Boxes()[0].title, "Error");
    EXPECT_TRUE(boxes.Boxes()[0].text.contains("garbled.NT"));
}

TEST_F(SaveTest, BoardThatGaveUpEarlierKeepsAnExistingFileAsItWas) {
    Start(kSideNT);
    WriteBytes(PathOf("old.NT"), "NT\r\n8C40:32");
    board->ShortWaits();
    board->simulator->SetSilent(true);
    // Times out and is cancelled: the transport stays silent.
    EXPECT_EQ(LocalReg(kRead, "8C70", " 1"), Failed(Outcome::NoAnswer));
    ASSERT_TRUE(board->port->NoComm());
    dialogs.names.push_back(PathOf("old.NT"));
    sheet->OnSaveConfiguration();

    EXPECT_EQ(ReadBytes(PathOf("old.NT")).toStdString(), "NT\r\n8C40:32");
    ASSERT_EQ(boxes.Boxes().size(), 1u);
    EXPECT_EQ(boxes.Boxes()[0].title, "Error");
}

TEST_F(SaveTest, FileThatCannotBeCreatedIsReportedAndNothingRead) {
    Start(kSideNT);
    const QString missing = dir.filePath(QStringLiteral("no-such-folder/x.NT"));
    dialogs.names.push_back(missing);
    QDir(dir.path()).mkdir(QStringLiteral("folder.NT"));
    dialogs.names.push_back(PathOf("folder.NT"));
    sheet->OnSaveConfiguration();
    sheet->OnSaveConfiguration();

    EXPECT_TRUE(board->Commands().empty());
    const auto shown = boxes.Boxes();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0].text, QDir::toNativeSeparators(missing) + " was not found.");
    EXPECT_EQ(shown[1].text, "Access to " + QDir::toNativeSeparators(PathOf("folder.NT")) + " was denied.");
}

// ---------------------------------------------------------------------------------------------------------
// Loading

class LoadTest : public SheetCommandsTest {};

TEST_F(LoadTest, SavedFileIsWrittenBackMappedInFileOrderThenRestarts) {
    Start(kSideNT);
    dialogs.names.push_back(PathOf("round.NT"));
    sheet->OnSaveConfiguration();
    ASSERT_EQ(ReadBytes(PathOf("round.NT")).size(), 281);

    // The registers each record goes to: the read-back range 30 (hexadecimal) lower, the rest unchanged.
    static const char* const kTargets[] = {"8C10", "8C11", "8C12", "8C13", "8C14", "8C15", "8C16", "8C17",
                                           "8C18", "8C19", "8C1A", "8C1B", "8C1C", "8C1D", "8C1E", "8C1F",
                                           "8C20", "8C21", "8C60", "8C61", "8C66", "8C67", "8C6B", "8D40",
                                           "8D41", "8D42", "8D45", "8D46", "8D47", "8D48", "8D49"};
    std::vector<std::string> expected;
    for (std::size_t i = 0; i < kConfigRegisterCount; ++i) {
        const unsigned saved = board->simulator->PeekLocal(Address(std::string(kConfigRegisters[i])));
        expected.push_back("WR " + std::string(kTargets[i]) + " " + Hex2(saved));
    }
    expected.push_back("OR 8C00 08");
    expected.push_back("OR 8C00 20");

    board->ClearTraffic();
    dialogs.names.push_back(PathOf("round.NT"));
    sheet->OnLoadConfiguration();

    ASSERT_EQ(dialogs.requests.size(), 2u);
    const ui::FileDialogRequest& request = dialogs.requests[1];
    EXPECT_EQ(request.kind, ui::FileDialogKind::Open);
    EXPECT_EQ(request.title, "Load registers values from file to hardware");
    EXPECT_EQ(request.filter, "NT Configuration files (*.NT)");
    EXPECT_EQ(request.defaultSuffix, "NT");
    EXPECT_FALSE(request.confirmOverwrite);
    EXPECT_EQ(board->Commands(), expected);
    EXPECT_TRUE(boxes.Boxes().empty());
}

TEST_F(LoadTest, ValuesReachTheRegistersAndAddressesMap) {
    Start(kSideLT);
    WriteBytes(PathOf("edge.LT"), "LT\r\n8C40:5A\r\n8C6B:A5\r\n8D42:3C\r\n8C4F:0F");
    dialogs.names.push_back(PathOf("edge.LT"));
    sheet->OnLoadConfiguration();

    EXPECT_EQ(dialogs.requests.at(0).filter, "LT Configuration files (*.LT)");
    EXPECT_EQ(Changes(), (std::vector<std::string>{"WR 8C10 5A", "WR 8C6B A5", "WR 8D42 3C", "WR 8C1F 0F",
                                                   "OR 8C00 08", "OR 8C00 20"}));
    EXPECT_EQ(board->simulator->PeekLocal(0x8C10), 0x5A);
    EXPECT_EQ(board->simulator->PeekLocal(0x8C6B), 0xA5);
    EXPECT_EQ(board->simulator->PeekLocal(0x8D42), 0x3C);
    EXPECT_EQ(board->simulator->PeekLocal(0x8C1F), 0x0F);
}

// A header and nothing else writes no register but still restarts the modem.
TEST_F(LoadTest, HeaderOnlyFileStillRestarts) {
    Start(kSideNT);
    WriteBytes(PathOf("empty.NT"), "NT");
    dialogs.names.push_back(PathOf("empty.NT"));
    sheet->OnLoadConfiguration();
    EXPECT_EQ(board->Commands(), (std::vector<std::string>{"OR 8C00 08", "OR 8C00 20"}));
    EXPECT_TRUE(boxes.Boxes().empty());
}

// A pipe or a device is neither read nor replaced, and nothing waits for it; the board is not touched.
TEST_F(LoadTest, PipesAndDevicesAreRefusedWithABox) {
    Start(kSideNT);
    ASSERT_EQ(mkfifo(PathOf("fifo.NT").toLocal8Bit().constData(), 0644), 0);
    dialogs.names.push_back(PathOf("fifo.NT"));
    sheet->OnLoadConfiguration();
    dialogs.names.push_back(PathOf("fifo.NT"));
    sheet->OnCompareWithFile();
    dialogs.names.push_back(PathOf("fifo.NT"));
    sheet->OnSaveConfiguration();

    EXPECT_TRUE(board->Commands().empty());
    const auto shown = boxes.Boxes();
    ASSERT_EQ(shown.size(), 3u);
    const QString fifo = QDir::toNativeSeparators(PathOf("fifo.NT"));
    const QString notRegular = QStringLiteral("not a regular file (a pipe, a device or a socket).");
    EXPECT_EQ(shown[0].text, fifo + " could not be opened: " + notRegular);
    EXPECT_EQ(shown[1].text, fifo + " could not be opened: " + notRegular);
    EXPECT_EQ(shown[2].text, fifo + " could not be opened: " + notRegular);
    QFileInfo info(PathOf("fifo.NT"));
    EXPECT_FALSE(info.isFile()) << "the pipe is still there";
    EXPECT_TRUE(info.exists());
}

TEST_F(LoadTest, CancelledDialogSendsNothing) {
    Start(kSideLT);
    sheet->OnLoadConfiguration();
    EXPECT_EQ(dialogs.requests.size(), 1u);
    EXPECT_TRUE(board->Commands().empty());
}

TEST_F(LoadTest, FileThatCannotBeOpenedIsReportedAndNothingWritten) {
    Start(kSideNT);
    dialogs.names.push_back(PathOf("missing.NT"));
    QDir(dir.path()).mkdir(QStringLiteral("folder.NT"));
    dialogs.names.push_back(PathOf("folder.NT"));
    sheet->OnLoadConfiguration();
    sheet->OnLoadConfiguration();

    EXPECT_TRUE(board->Commands().empty());
    const auto shown = boxes.Boxes();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0].title, "Error");
    EXPECT_EQ(shown[0].text, QDir::toNativeSeparators(PathOf("missing.NT")) + " was not found.");
    EXPECT_EQ(shown[1].text, "Access to " + QDir::toNativeSeparators(PathOf("folder.NT")) + " was denied.");
}

TEST_F(LoadTest, UnreadableFileIsDenied) {
    if (geteuid() == 0)
        GTEST_SKIP() << "running as root, which may read any file: the permission case cannot be shown";
    Start(kSideNT);
    WriteBytes(PathOf("locked.NT"), "NT\r\n8C40:32");
    ASSERT_TRUE(QFile::setPermissions(PathOf("locked.NT"), QFileDevice::Permissions()));
    dialogs.names.push_back(PathOf("locked.NT"));
    sheet->OnLoadConfiguration();

    EXPECT_TRUE(board->Commands().empty());
    ASSERT_EQ(boxes.Boxes().size(), 1u);
    EXPECT_EQ(boxes.Boxes()[0].text,
              "Access to " + QDir::toNativeSeparators(PathOf("locked.NT")) + " was denied.");
}

TEST_F(LoadTest, SilentBoardStopsTheLoadWithoutRestart) {
    Start(kSideNT);
    WriteBytes(PathOf("good.NT"), "NT\r\n8C40:32\r\n8C41:24\r\n8C42:4F");
    board->ShortWaits();
    board->simulator->SetSilent(true);
    dialogs.names.push_back(PathOf("good.NT"));
    sheet->OnLoadConfiguration();

    EXPECT_EQ(board->prompt.Asked(), 1);
    EXPECT_EQ(board->Commands(), std::vector<std::string>{"WR 8C10 32"}); // the first, unanswered
    const auto shown = boxes.Boxes();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].title, "Error");
    EXPECT_TRUE(shown[0].text.contains("not restarted"));
}

// Each loader error: the records before the fault are written, nothing after it, and no restart.
struct LoadErrorCase {
    const char* name;
    ModemSide side;
    std::string bytes;
    const char* message;
    std::vector<std::string> written;
};

void PrintTo(const LoadErrorCase& c, std::ostream* os) {
    *os << c.name;
}

class LoadErrorTest : public SheetCommandsTest, public ::testing::WithParamInterface<LoadErrorCase> {};

TEST_P(LoadErrorTest, StopsWithItsBoxAfterTheRecordsBefore) {
    const LoadErrorCase& c = GetParam();
    Start(c.side);
    WriteBytes(PathOf("bad.cfg"), c.bytes);
    dialogs.names.push_back(PathOf("bad.cfg"));
    sheet->OnLoadConfiguration();

    EXPECT_EQ(board->Commands(), c.written);
    const auto shown = boxes.Boxes();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].title, "Error");
    EXPECT_EQ(shown[0].text, QString::fromLatin1(c.message));
    EXPECT_EQ(shown[0].buttons, QMessageBox::Ok);
}

const char* const kHeader = "Error in load Configuration file";
const char* const kLineEnd = "Incorrect character in configuration file";
const char* const kRegister = "Unknown register in configuration file";
const char* const kValue = "Impossible value in configuration file";
const std::string kFour = "NT\r\n8C40:32\r\n8C41:24\r\n8C42:4F\r\n8C43:00";

INSTANTIATE_TEST_SUITE_P(
    Files, LoadErrorTest,
    ::testing::Values(
        LoadErrorCase{"EmptyFile", kSideNT, "", kHeader, {}},
        LoadErrorCase{"OneByteHeader", kSideNT, "N", kHeader, {}},
        LoadErrorCase{"SecondHeaderByteNotT", kSideNT, "NX\r\n8C40:32", kHeader, {}},
        LoadErrorCase{
            "NtFileOnLt", kSideLT, "NT\r\n8C40:32", "Configuration does not match to modem type LT", {}},
        LoadErrorCase{
            "LtFileOnNt", kSideNT, "LT\r\n8C40:32", "Configuration does not match to modem type NT", {}},
        LoadErrorCase{"BareLineFeed", kSideNT, "NT\n8C40:32", kLineEnd, {}},
        LoadErrorCase{"LowerCaseAddress", kSideNT, "NT\r\n8C40:32\r\n8c41:24", kRegister, {}},
        LoadErrorCase{"NoColon", kSideNT, "NT\r\n8C40=32", kRegister, {}},
        LoadErrorCase{"LowerCaseValue", kSideNT, "NT\r\n8C40:3f", kValue, {}},
        LoadErrorCase{"ValueCutShort", kSideNT, "NT\r\n8C40:3", kValue, {}},
        LoadErrorCase{"AddressCutShort", kSideNT, "NT\r\n8C4", kRegister, {}},
        // The whole file is checked before the first write: a refused file writes nothing.
        LoadErrorCase{"ExtraLineEndAfterLast", kSideNT, kFour + "\r\n", kRegister, {}},
        LoadErrorCase{"ErrorInFifthRecord", kSideNT, kFour + "\r\n8C44:G0", kValue, {}},
        LoadErrorCase{"ControlRegister", kSideNT, kFour + "\r\n8C30:1F", kRegister, {}},
        LoadErrorCase{"RegisterTwice", kSideNT, kFour + "\r\n8C40:33", kRegister, {}},
        LoadErrorCase{"RegisterNeverSaved", kSideNT, "NT\r\n8D43:F4", kRegister, {}}),
    [](const ::testing::TestParamInfo<LoadErrorCase>& row) { return std::string(row.param.name); });

// ---------------------------------------------------------------------------------------------------------
// Set to Default

class SetToDefaultTest : public SheetCommandsTest {};

const std::vector<std::pair<const char*, const char*>> kCommon{
    {"8C10", "32"}, {"8C11", "24"}, {"8C12", "4F"}, {"8C13", "00"}, {"8C14", "E3"},
    {"8C15", "00"}, {"8C1E", "01"}, {"8D40", "3E"}, {"8D41", "E1"}, {"8D42", "22"},
    {"8D43", "F0"}, {"8D45", "D0"}, {"8D46", "CD"}, {"8D48", "00"}, {"8D49", "80"}};
const std::vector<std::pair<const char*, const char*>> kLtProfile{
    {"8D47", "BF"}, {"8C17", "C9"}, {"8C18", "01"}, {"8C19", "6F"}, {"8C1A", "8A"},
    {"8C1B", "4A"}, {"8C1C", "92"}, {"8C1D", "06"}, {"8C67", "05"}, {"8C21", "00"}};
const std::vector<std::pair<const char*, const char*>> kNtProfile{
    {"8D47", "3F"}, {"8C17", "00"}, {"8C18", "04"}, {"8C1F", "10"}, {"8C20", "00"}, {"8C19", "56"},
    {"8C1A", "61"}, {"8C1B", "51"}, {"8C1C", "D7"}, {"8C1D", "04"}, {"8C67", "00"}, {"8C21", "00"}};

// The operations one modem receives: the common block, the profile, the restart.
std::vector<std::string> Expected(const std::string& where, bool ltProfile, bool tableWritten = true) {
    const std::string prefix = where == "remote" ? "remote WR " : "local WR ";
    std::vector<std::string> ops;
    if (tableWritten) {
        for (const auto& [reg, value] : kCommon)
            ops.push_back(prefix + reg + " " + value);
        for (const auto& [reg, value] : ltProfile ? kLtProfile : kNtProfile)
            ops.push_back(prefix + reg + " " + value);
    }
    const std::string orPrefix = where == "remote" ? "remote OR " : "local OR ";
    ops.push_back(orPrefix + "8C00 08");
    ops.push_back(orPrefix + "8C00 20");
    return ops;
}

std::vector<std::string> Concat(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

const QString kNtSideText = QStringLiteral(
    "The configuration of the remote modem cannot be changed from the NT side. Only the local modem is now "
    "set to default. In order to set also the remote modem to default please connect the LT modem to your "
    "PC, re-start the Zentra Configurator and press the Set-to-Default button.");

TEST_F(SetToDefaultTest, LtWithLineUpSetsTheRemoteModemFirstThenTheLocalOne) {
    Start(kSideLT);
    sheet->SetToDefault();
    EXPECT_EQ(Operations(), Concat(Expected("remote", false), Expected("local", true)));
    EXPECT_EQ(SimBoard::RestartSleeps(), std::vector<int>{2000});
    EXPECT_TRUE(boxes.Boxes().empty());
    // The remote NT modem really holds its profile, including what only that profile writes.
    EXPECT_EQ(board->simulator->PeekRemote(0x8C1F), 0x10);
    EXPECT_EQ(board->simulator->PeekRemote(0x8D47), 0x3F);
    EXPECT_EQ(board->simulator->PeekLocal(0x8D47), 0xBF);
}

TEST_F(SetToDefaultTest, NtWithLineUpShowsTheMessageFirstAndSetsOnlyTheLocalModem) {
    Start(kSideNT);
    std::size_t sentBeforeBox = 99;
    ui::SetBoxHookForTesting([&](const ui::BoxRequest& r) {
        sentBeforeBox = Changes().size();
        boxes.boxes.push_back(r);
        return QMessageBox::Ok;
    });
    sheet->SetToDefault();

    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].title, "Set to Default");
    EXPECT_EQ(boxes.boxes[0].text, kNtSideText);
    EXPECT_EQ(boxes.boxes[0].buttons, QMessageBox::Ok);
    EXPECT_EQ(sentBeforeBox, 0u);
    EXPECT_EQ(Operations(), Expected("local", false));
    EXPECT_TRUE(SimBoard::RestartSleeps().empty());
}

struct LineDownCase {
    const char* name;
    ModemSide side;
};

void PrintTo(const LineDownCase& c, std::ostream* os) {
    *os << c.name;
}

class SetToDefaultLineDownTest : public SheetCommandsTest,
                                 public ::testing::WithParamInterface<LineDownCase> {};

TEST_P(SetToDefaultLineDownTest, SetsOnlyTheLocalModemWithoutMessage) {
    Start(GetParam().side, false);
    ASSERT_EQ(LinkCheck(), LinkDown());
    board->ClearTraffic();
    sheet->SetToDefault();
    EXPECT_EQ(Operations(), Expected("local", GetParam().side == kSideLT));
    EXPECT_TRUE(boxes.Boxes().empty());
    EXPECT_TRUE(SimBoard::RestartSleeps().empty());
}

INSTANTIATE_TEST_SUITE_P(Sides, SetToDefaultLineDownTest,
                         ::testing::Values(LineDownCase{"LT", kSideLT}, LineDownCase{"NT", kSideNT}),
                         [](const ::testing::TestParamInfo<LineDownCase>& row) {
                             return std::string(row.param.name);
                         });

TEST_F(SetToDefaultTest, OtherCrystalWritesNothingButTheRestarts) {
    Start(kSideLT);
    sheet->m_crystalIndex = 1;
    sheet->SetToDefault();
    EXPECT_EQ(Operations(), Concat(Expected("remote", false, false), Expected("local", true, false)));
}

TEST_F(SetToDefaultTest, ConfirmedThroughTheButtonRunsTheSequence) {
    Start(kSideLT, false);
    boxes.answers.push_back(QMessageBox::Ok);
    sheet->OnSetToDefaultButton();
    ASSERT_EQ(boxes.Boxes().size(), 1u);
    EXPECT_EQ(boxes.Boxes()[0].text,
              "Warning: OK will reset all registers\nin the Local and Remote Modem!\nPress CANCEL to return "
              "without changes.");
    EXPECT_EQ(Operations(), Expected("local", true));
}

// ---------------------------------------------------------------------------------------------------------
// About box

class AboutTest : public SheetCommandsTest {
protected:
    QString LabelText(const char* name) const {
        const auto* label = sheet->AboutBox()->findChild<QLabel*>(QString::fromLatin1(name));
        return label ? label->text() : QStringLiteral("<missing>");
    }
};

TEST_F(AboutTest, OpeningTwiceLeavesOneFreshBox) {
    Start(kSideNT);
    sheet->OnVersionInfo();
    QPointer<CAboutBox> first = sheet->AboutBox();
    ASSERT_TRUE(first);
    PokeLocal(0x8C72, 0x4A);
    PokeLocal(0x8C73, 0x01);
    PokeLocal(0x8C6F, 0xC3);
    sheet->OnVersionInfo();

    EXPECT_TRUE(first.isNull());
    ASSERT_NE(sheet->AboutBox(), nullptr);
    EXPECT_EQ(sheet->findChildren<CAboutBox*>().size(), 1);
    EXPECT_TRUE(sheet->AboutBox()->isVisible());
    EXPECT_EQ(board->Commands(),
              (std::vector<std::string>{"RD 8C72", "RD 8C73", "RD 8C6F", "RD 8C72", "RD 8C73", "RD 8C6F"}));
    EXPECT_EQ(LabelText("boardIdText"), "Board identification:  8C72 = 4A   8C73 = 01   8C6F = C3");
}

TEST_F(AboutTest, ShowsTheVersionRecordAndThePreparedTexts) {
    Start(kSideLT);
    sheet->OnVersionInfo();
    CAboutBox* box = sheet->AboutBox();
    ASSERT_NE(box, nullptr);

    EXPECT_EQ(box->windowTitle(), "About ");
    EXPECT_EQ(LabelText("productName"), QString::fromUtf8(version::kProductName));
    EXPECT_EQ(LabelText("legalCopyright"), QString::fromUtf8(version::kLegalCopyright));
    EXPECT_EQ(LabelText("versionText"), "Version: " + QString::fromUtf8(version::kFileVersion));
    EXPECT_EQ(LabelText("productIdText"), "Product ID: " + QString::fromUtf8(version::kProductVersion));
    EXPECT_EQ(LabelText("smallField"), " ");
    const QString block = "\n \n \n Halvoren\n " + QString::fromUtf8(version::kCompanyWeb) + "    ";
    EXPECT_EQ(box->CompanyBlock(), block);
    EXPECT_EQ(LabelText("companyBlock"), block);
}

TEST_F(AboutTest, BitmapFillsTheWindowUnderTheTexts) {
    Start(kSideLT);
    sheet->OnVersionInfo();
    CAboutBox* box = sheet->AboutBox();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->size(), QSize(581, 249));

    const QImage bitmap(QStringLiteral(":/about/about.png"));
    ASSERT_EQ(bitmap.size(), QSize(581, 249));
    const QImage shown = box->grab().toImage();
    // Points away from the texts and the button: the window shows the bitmap there.
    for (const QPoint p : {QPoint(2, 2), QPoint(570, 5), QPoint(367, 70), QPoint(440, 150), QPoint(300, 200)})
        EXPECT_EQ(shown.pixelColor(p).rgb(), bitmap.pixelColor(p).rgb()) << p.x() << "," << p.y();
}

TEST_F(AboutTest, OkHidesTheBoxAndDestroyRemovesIt) {
    Start(kSideLT);
    sheet->OnVersionInfo();
    QPointer<CAboutBox> box = sheet->AboutBox();
    auto* ok = box->findChild<QPushButton*>(QStringLiteral("okButton"));
    ASSERT_NE(ok, nullptr);
    ok->click();
    EXPECT_FALSE(box->isVisible());
    EXPECT_EQ(sheet->AboutBox(), box.data());

    sheet->DestroyAboutBox();
    EXPECT_TRUE(box.isNull());
    EXPECT_EQ(sheet->AboutBox(), nullptr);
    sheet->DestroyAboutBox(); // nothing left to destroy
    EXPECT_TRUE(sheet->findChildren<CAboutBox*>().isEmpty());
}

TEST_F(AboutTest, SilentBoardStillOpensTheBoxWithoutIdentification) {
    Start(kSideLT);
    board->ShortWaits();
    board->simulator->SetSilent(true);
    sheet->OnVersionInfo();
    EXPECT_EQ(board->prompt.Asked(), 1);
    ASSERT_NE(sheet->AboutBox(), nullptr);
    EXPECT_TRUE(sheet->AboutBox()->isVisible());
    EXPECT_EQ(LabelText("boardIdText"), "Board identification:  8C72 = --   8C73 = --   8C6F = --");
}

TEST(AboutBoxRecord, EmptyProductNameLeavesItsFieldEmptyAndTheRestShown) {
    CAboutBox box(nullptr, CVersionRecord({{QStringLiteral("ProductName"), QString()},
                                           {QStringLiteral("LegalCopyright"), QStringLiteral("(C) Maker")}}));
    box.OnInitDialog();
    EXPECT_EQ(box.findChild<QLabel*>(QStringLiteral("productName"))->text(), "");
    EXPECT_EQ(box.findChild<QLabel*>(QStringLiteral("legalCopyright"))->text(), "(C) Maker");
    EXPECT_EQ(box.VersionText(), "Version: "); // not in the record: empty value
    EXPECT_EQ(box.ProductIdText(), "Product ID: ");
    EXPECT_EQ(box.windowTitle(), "About ");
}

} // namespace
} // namespace tessor::test
