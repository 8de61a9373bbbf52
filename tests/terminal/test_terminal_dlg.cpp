#include "TerminalTestSupport.h"

#include "ops/ProcessAccess.h"
#include "support/RegResultCheck.h"

#include <QDir>
#include <QFile>
#include <QTest>

#include <atomic>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace tessor::test {
namespace {

// While it lives, regular files of this process cannot grow beyond the given size (writes fail with
// EFBIG instead of raising SIGXFSZ).
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &m_old);
        rlimit limit = m_old;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, m_oldHandler);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit m_old{};
    void (*m_oldHandler)(int) = nullptr;
};

QString ReplyLine(std::uint16_t address, std::uint8_t value) {
    return QStringLiteral(" %1: %2")
        .arg(QString::number(address, 16).toUpper())
        .arg(QString::number(value, 16).toUpper(), 2, QLatin1Char('0'));
}

// ---- The window itself ----------------------------------------------------------------------------

TEST_F(TerminalFixture, WindowIsHiddenModelessWithTheDocumentedControls) {
    EXPECT_FALSE(dlg->isVisible());
    EXPECT_FALSE(dlg->isModal());
    EXPECT_EQ(dlg->windowTitle(), QStringLiteral("Terminal"));
    EXPECT_TRUE(dlg->windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_EQ(dlg->m_bShown, 0);
    EXPECT_FALSE(dlg->IsLogging());
    ASSERT_NE(Edit(), nullptr);
    EXPECT_TRUE(Edit()->text().isEmpty());
    EXPECT_EQ(Button("sendButton")->text(), QStringLiteral("Send"));
    EXPECT_EQ(Button("clearButton")->text(), QStringLiteral("Clear"));
    EXPECT_EQ(Button("logButton")->text(), QStringLiteral("Start Logging..."));
    EXPECT_EQ(Button("closeButton")->text(), QStringLiteral("Close"));
    EXPECT_TRUE(Rows(*dlg).isEmpty());
}

TEST_F(TerminalFixture, CloseEscapeAndCloseBoxHideAndClearTheShownFlagKeepingTheLines) {
    dlg->AddLine("kept");
    dlg->show();
    dlg->SetShownFlag(true);
    Button("closeButton")->click();
    EXPECT_FALSE(dlg->isVisible());
    EXPECT_FALSE(dlg->IsShownFlag());

    dlg->show();
    dlg->m_bShown = 1;
    QTest::keyClick(Edit(), Qt::Key_Escape);
    EXPECT_FALSE(dlg->isVisible());
    EXPECT_EQ(dlg->m_bShown, 0);

    dlg->show();
    dlg->SetShownFlag(true);
    dlg->close();
    EXPECT_FALSE(dlg->isVisible());
    EXPECT_FALSE(dlg->IsShownFlag());
    EXPECT_EQ(Rows(*dlg), QStringList{QStringLiteral("kept")});
}

TEST_F(TerminalFixture, EnterDoesNothingAndF1OpensTheHelpPage) {
    dlg->show();
    dlg->SetShownFlag(true);
    Edit()->setText(QStringLiteral("RD 8C10"));
    QTest::keyClick(Edit(), Qt::Key_Return);
    QTest::keyClick(Edit(), Qt::Key_Enter);
    EXPECT_TRUE(dlg->isVisible());
    EXPECT_TRUE(dlg->IsShownFlag());
    EXPECT_TRUE(board->Commands().empty());
    EXPECT_EQ(beeps.load(), 0);

    QTest::keyClick(Edit(), Qt::Key_F1);
    QTest::keyClick(dlg->findChild<QListWidget*>(QStringLiteral("lineList")), Qt::Key_F1);
    EXPECT_EQ(helpPages,
              QStringList({QStringLiteral("Help/page_09.htm"), QStringLiteral("Help/page_09.htm")}));
    dlg->hide();
}

// ---- Send -----------------------------------------------------------------------------------------

TEST_F(TerminalFixture, TypedReadShowsCommandAboveReplyWithThePromptPrefixOnceSeen) {
    const std::uint8_t value = board->simulator->PeekLocal(0x8C10);
    g_promptLetter.store(0); // as at the very start of a run

    Send(QStringLiteral("rd 8c10"));
    EXPECT_EQ(board->Commands(), std::vector<std::string>{"RD 8C10"});
    EXPECT_EQ(Rows(*dlg), QStringList({QStringLiteral("RD 8C10"), ReplyLine(0x8C10, value)}));

    Send(QStringLiteral("RD 8C10 12"));
    EXPECT_EQ(board->Commands(), std::vector<std::string>({"RD 8C10", "RD 8C10"}));
    EXPECT_EQ(Rows(*dlg), QStringList({QStringLiteral("L> RD 8C10"), ReplyLine(0x8C10, value),
                                       QStringLiteral("RD 8C10"), ReplyLine(0x8C10, value)}));
    EXPECT_EQ(Edit()->text(), QStringLiteral("RD 8C10 12"));
    EXPECT_EQ(beeps.load(), 0);
    EXPECT_EQ(dlg->PendingCount(), 0);
}

TEST_F(TerminalFixture, TypedWriteOrAndAndCountedReadReachTheWire) {
    Send(QStringLiteral("WR 8C00 0123"));
    Send(QStringLiteral("or 8c00 08"));
    Send(QStringLiteral("nd 8c00 fd"));
    Send(QStringLiteral("RD 8C00,0A"));
    EXPECT_EQ(board->Commands(),
              std::vector<std::string>({"WR 8C00 01", "OR 8C00 08", "ND 8C00 FD", "RD 8C00,A"}));
    const QStringList rows = Rows(*dlg);
    ASSERT_GE(rows.size(), 4);
    // Replies to writes are not shown: the three command lines stand directly below the read's lines.
    EXPECT_EQ(rows.mid(rows.size() - 3),
              QStringList({QStringLiteral("L> ND 8C00 FD"), QStringLiteral("L> OR 8C00 08"),
                           QStringLiteral("L> WR 8C00 01")}));
    EXPECT_EQ(rows.first(), QStringLiteral("L> RD 8C00 A"));
    EXPECT_EQ(board->simulator->PeekLocal(0x8C00) & 0x08, 0x08);
    EXPECT_EQ(beeps.load(), 0);
}

TEST_F(TerminalFixture, RefusedTextsBeepSendNothingAndStayInTheEdit) {
    const char* const refused[] = {"RD 8C00,A", "RD 9C00", "WR 8C00 5", "X", "", "XX 8C00", "RD8C00"};
    int expectedBeeps = 0;
    for (const char* text : refused) {
        Send(QString::fromLatin1(text));
        ++expectedBeeps;
        EXPECT_EQ(beeps.load(), expectedBeeps) << text;
        EXPECT_EQ(Edit()->text(), QString::fromLatin1(text));
    }
    EXPECT_TRUE(board->Commands().empty());
    EXPECT_TRUE(Rows(*dlg).isEmpty());
}

TEST_F(TerminalFixture, UnknownMnemonicPassingTheChecksSendsNothingAndDoesNotBeep) {
    Send(QStringLiteral("XX 8C00 12"));
    EXPECT_EQ(beeps.load(), 0);
    EXPECT_TRUE(board->Commands().empty());
    EXPECT_TRUE(Rows(*dlg).isEmpty());
    // The port is still usable afterwards.
    Send(QStringLiteral("RD 8C10"));
    EXPECT_EQ(board->Commands(), std::vector<std::string>{"RD 8C10"});
}

// ---- List and pending store --------------------------------------------------------------------------

TEST_F(TerminalFixture, ListKeepsTheNewestHundredOnTopRemovingTheBottomFirst) {
    for (int i = 0; i < 100; ++i)
        dlg->AddLine("line " + std::to_string(i));
    QStringList rows = Rows(*dlg);
    ASSERT_EQ(rows.size(), 100);
    EXPECT_EQ(rows.first(), QStringLiteral("line 99"));
    EXPECT_EQ(rows.last(), QStringLiteral("line 0"));

    for (int i = 100; i < 105; ++i)
        dlg->AddLine("line " + std::to_string(i));
    rows = Rows(*dlg);
    ASSERT_EQ(rows.size(), 100);
    EXPECT_EQ(rows.first(), QStringLiteral("line 104"));
    EXPECT_EQ(rows.at(1), QStringLiteral("line 103"));
    EXPECT_EQ(rows.last(), QStringLiteral("line 5"));
}

TEST_F(TerminalFixture, LinesWaitUntilFlushedAndABatchReadsInQueuedOrder) {
    dlg->QueueLine("first", kRead);
    dlg->QueueLine("second", kRead);
    dlg->QueueLine("third", kWrite);
    EXPECT_TRUE(Rows(*dlg).isEmpty());
    EXPECT_EQ(dlg->PendingCount(), 3);
    dlg->FlushLines();
    EXPECT_EQ(dlg->PendingCount(), 0);
    EXPECT_EQ(Rows(*dlg),
              QStringList({QStringLiteral("first"), QStringLiteral("second"), QStringLiteral("third")}));
    dlg->FlushLines();
    EXPECT_EQ(Rows(*dlg).size(), 3);
}

TEST_F(TerminalFixture, NinetyNinePendingThenOneMoreFlushesTheNinetyNineFirst) {
    for (int i = 0; i < 99; ++i)
        dlg->QueueLine("q" + std::to_string(i), kRead);
    EXPECT_EQ(dlg->PendingCount(), 99);
    EXPECT_TRUE(Rows(*dlg).isEmpty());

    dlg->QueueLine("newest", kRead);
    EXPECT_EQ(dlg->PendingCount(), 1);
    QStringList rows = Rows(*dlg);
    ASSERT_EQ(rows.size(), 99);
    EXPECT_EQ(rows.first(), QStringLiteral("q0"));
    EXPECT_EQ(rows.last(), QStringLiteral("q98"));

    dlg->FlushLines();
    rows = Rows(*dlg);
    ASSERT_EQ(rows.size(), 100);
    EXPECT_EQ(rows.first(), QStringLiteral("newest"));

    // A silent line arriving at a full store still empties it, and is itself dropped.
    for (int i = 0; i < 99; ++i)
        dlg->QueueLine("r" + std::to_string(i), kRead);
    dlg->QueueLine("silent", kSilentRead);
    EXPECT_EQ(dlg->PendingCount(), 0);
    EXPECT_EQ(Rows(*dlg).first(), QStringLiteral("r0"));
    EXPECT_FALSE(Rows(*dlg).contains(QStringLiteral("silent")));
}

TEST_F(TerminalFixture, SilentStatusReadsAreNeitherShownNorLogged) {
    const QString log = TempPath("silent.log");
    StartLogging(log);
    ASSERT_TRUE(dlg->IsLogging());

    dlg->QueueLine("status", kSilentRead);
    dlg->QueueLine("shown", kRead);
    dlg->QueueLine("status reply", kSilentRead);
    dlg->FlushLines();
    // The link test reads 8C71 and 8C00 through the program's own silent addresses.
    EXPECT_EQ(LinkCheck(), LinkUp());
    EXPECT_EQ(board->Commands(), std::vector<std::string>({"RD 8C71", "RD 8C00"}));
    EXPECT_EQ(Rows(*dlg), QStringList{QStringLiteral("shown")});
    EXPECT_EQ(FileBytes(log), QByteArray("shown\r\n"));

    // The same register typed in is shown.
    Send(QStringLiteral("RD 8C71"));
    EXPECT_EQ(Rows(*dlg).first(), QStringLiteral("L> RD 8C71"));
}

TEST_F(TerminalFixture, ClearEmptiesTheListButNotThePendingLinesNorTheLog) {
    const QString log = TempPath("clear.log");
    StartLogging(log);
    dlg->AddLine("before");
    dlg->QueueLine("pending", kRead);
    Button("clearButton")->click();
    EXPECT_TRUE(Rows(*dlg).isEmpty());
    EXPECT_EQ(dlg->PendingCount(), 1);
    EXPECT_TRUE(dlg->IsLogging());
    EXPECT_EQ(FileBytes(log), QByteArray("before\r\n"));

    dlg->FlushLines();
    EXPECT_EQ(Rows(*dlg), QStringList{QStringLiteral("pending")});
    EXPECT_EQ(FileBytes(log), QByteArray("before\r\npending\r\n"));
}

// ---- Log file -----------------------------------------------------------------------------------------

TEST_F(TerminalFixture, LogHoldsReplyThenCommandAndStartingEmptiesAnExistingFile) {
    const QString log = TempPath("traffic.log");
    {
        QFile old(log);
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write("old contents\r\n");
    }
    dlg->QueueLine("waiting", kRead); // pending when logging starts: logged at its flush

    StartLogging(log);
    ASSERT_EQ(files.requests.size(), 1u);
    EXPECT_EQ(files.requests[0].kind, ui::FileDialogKind::Open);
    EXPECT_EQ(files.requests[0].title, QStringLiteral("Open Log File"));
    EXPECT_EQ(files.requests[0].filter, QStringLiteral("Log files (*.log)"));
    EXPECT_EQ(files.requests[0].defaultSuffix, QStringLiteral("log"));
    EXPECT_TRUE(files.requests[0].confirmOverwrite);
    EXPECT_TRUE(dlg->IsLogging());
    EXPECT_EQ(Button("logButton")->text(), QStringLiteral("Stop Logging"));
    EXPECT_EQ(FileBytes(log), QByteArray());
    dlg->FlushLines();
    EXPECT_EQ(FileBytes(log), QByteArray("waiting\r\n"));

    const std::uint8_t value = board->simulator->PeekLocal(0x8C10);
    Send(QStringLiteral("RD 8C10"));
    const QByteArray expected = "waiting\r\n" + ReplyLine(0x8C10, value).toLatin1() + "\r\nL> RD 8C10\r\n";
    EXPECT_EQ(FileBytes(log), expected);

    // Logging goes on while the window is hidden; it stops on "Stop Logging".
    dlg->hide();
    Send(QStringLiteral("WR 8C10 32"));
    const QByteArray withWrite = expected + "L> WR 8C10 32\r\n";
    EXPECT_EQ(FileBytes(log), withWrite);
    Button("logButton")->click();
    EXPECT_FALSE(dlg->IsLogging());
    EXPECT_EQ(Button("logButton")->text(), QStringLiteral("Start Logging..."));
    EXPECT_EQ(files.requests.size(), 1u);
    Send(QStringLiteral("RD 8C10"));
    EXPECT_EQ(FileBytes(log), withWrite);
    EXPECT_TRUE(boxes.Boxes().empty());
}

TEST_F(TerminalFixture, CancelledFileDialogChangesNothing) {
    Button("logButton")->click(); // no name queued: cancelled
    EXPECT_EQ(files.requests.size(), 1u);
    EXPECT_FALSE(dlg->IsLogging());
    EXPECT_EQ(Button("logButton")->text(), QStringLiteral("Start Logging..."));
    EXPECT_TRUE(boxes.Boxes().empty());
}

TEST_F(TerminalFixture, LogFileThatCannotBeCreatedShowsTheCauseAndLoggingStaysOff) {
    struct Case {
        QString name;
        QString text;
    };
    ASSERT_TRUE(QDir(tempDir.path()).mkdir(QStringLiteral("folder.log")));
    const QString missing = TempPath("no such folder/x.log");
    const QString folder = TempPath("folder.log");
    const Case cases[] = {
        {missing, QStringLiteral("All or part of the path %1 is invalid.").arg(missing)},
        {folder, QStringLiteral("Access to %1 was denied.").arg(folder)},
    };
    std::size_t expectedBoxes = 0;
    for (const Case& c : cases) {
        StartLogging(c.name);
        const auto shown = boxes.Boxes();
        ASSERT_EQ(shown.size(), ++expectedBoxes);
        EXPECT_EQ(shown.back().title, QStringLiteral("Error"));
        EXPECT_EQ(shown.back().text, c.text);
        EXPECT_FALSE(dlg->IsLogging());
        EXPECT_EQ(Button("logButton")->text(), QStringLiteral("Start Logging..."));
    }
    // Register access and the list are untouched by the failed attempts.
    Send(QStringLiteral("RD 8C10"));
    EXPECT_EQ(Rows(*dlg).size(), 2);
}

TEST_F(TerminalFixture, PipeOrDeviceAsLogIsRefusedWithoutBlocking) {
    const QString fifo = TempPath("pipe.log");
    ASSERT_EQ(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    // Should the open block on the pipe, a late reader releases it and the checks below fail.
    std::atomic<bool> done{false};
    std::thread rescuer([&] {
        for (int i = 0; i < 200 && !done; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (!done)
            ::close(::open(QFile::encodeName(fifo).constData(), O_RDONLY | O_NONBLOCK));
    });
    struct Joiner {
        std::atomic<bool>& done;
        std::thread& thread;
        ~Joiner() {
            done = true;
            thread.join();
        }
    } joiner{done, rescuer};
    std::size_t expectedBoxes = 0;
    const QString device = TempPath("device.log");
    ASSERT_TRUE(QFile::link(QStringLiteral("/dev/null"), device));
    for (const QString& name : {fifo, device}) {
        StartLogging(name);
        const auto shown = boxes.Boxes();
        ASSERT_EQ(shown.size(), ++expectedBoxes) << name.toStdString();
        EXPECT_EQ(shown.back().title, QStringLiteral("Error"));
        EXPECT_TRUE(shown.back().text.startsWith(name + QStringLiteral(" is not a regular file")))
            << shown.back().text.toStdString();
        EXPECT_FALSE(dlg->IsLogging());
        EXPECT_EQ(Button("logButton")->text(), QStringLiteral("Start Logging..."));
    }
}

TEST_F(TerminalFixture, FailedLogWriteStopsLoggingOnceAndKeepsRegisterAccessAndTheList) {
    const QString log = TempPath("full.log");
    StartLogging(log);
    ASSERT_TRUE(dlg->IsLogging());

    // A poll thread's read: the failure is met off the UI thread. The file may not grow, so every
    // write fails (EFBIG) as on a full disk; a device file would be refused as a log.
    {
        FileSizeLimit noGrowth(0);
        std::thread poller([] { LocalReg(kRead, "8C10", " 1"); });
        poller.join();
    }
    EXPECT_FALSE(dlg->IsLogging());
    ASSERT_TRUE(WaitUntil([&] { return boxes.Boxes().size() == 1 && Rows(*dlg).size() == 2; }));
    const auto shown = boxes.Boxes();
    EXPECT_EQ(shown[0].title, QStringLiteral("Error"));
    EXPECT_TRUE(shown[0].text.contains(log)) << shown[0].text.toStdString();
    EXPECT_TRUE(shown[0].text.contains(QStringLiteral("Logging has been stopped")))
        << shown[0].text.toStdString();
    EXPECT_EQ(Button("logButton")->text(), QStringLiteral("Start Logging..."));
    EXPECT_EQ(Rows(*dlg).first(), QStringLiteral("L> RD 8C10"));

    // Typed commands go on, without a second box.
    Send(QStringLiteral("RD 8C11"));
    QCoreApplication::processEvents();
    EXPECT_EQ(board->Commands(), std::vector<std::string>({"RD 8C10", "RD 8C11"}));
    EXPECT_EQ(Rows(*dlg).size(), 4);
    EXPECT_EQ(boxes.Boxes().size(), 1u);

    // Logging can be started again on a good file.
    const QString good = TempPath("good.log");
    StartLogging(good);
    EXPECT_TRUE(dlg->IsLogging());
    Send(QStringLiteral("WR 8C10 32"));
    EXPECT_EQ(FileBytes(good), QByteArray("L> WR 8C10 32\r\n"));
}

TEST_F(TerminalFixture, DestroyingTheWindowClosesTheLogAndDetachesIt) {
    const QString log = TempPath("closed.log");
    StartLogging(log);
    dlg->AddLine("last");
    dlg.reset();
    EXPECT_EQ(g_pTerminalSink.load(), nullptr);
    EXPECT_EQ(FileBytes(log), QByteArray("last\r\n"));
    // Register access goes on without a terminal.
    EXPECT_EQ(LocalReg(kWrite, "8C10", "32"), Answered(1));
}

} // namespace
} // namespace tessor::test
