#include "TerminalTestSupport.h"

#include "ops/ProcessAccess.h"
#include "support/RegResultCheck.h"

#include <QSet>

#include <algorithm>
#include <future>
#include <thread>

namespace tessor::test {
namespace {

// Each text at most once, and the list (newest on top) is the tail of the log read backwards.
void ExpectListMatchesLogTail(const QStringList& rows, const QStringList& log) {
    ASSERT_LE(rows.size(), log.size());
    for (int i = 0; i < rows.size(); ++i)
        ASSERT_EQ(rows.at(i), log.at(log.size() - 1 - i)) << "row " << i;
}

void ExpectEachOnce(const QStringList& lines, const QSet<QString>& expected) {
    EXPECT_EQ(lines.size(), expected.size());
    EXPECT_EQ(QSet<QString>(lines.begin(), lines.end()), expected);
}

// Four threads issue register reads at once, as the UI thread and the poll threads do.
TEST_F(TerminalFixture, ReadsFromSeveralThreadsShowAndLogEachLineOnce) {
    const QString log = TempPath("threads.log");
    StartLogging(log);
    ASSERT_TRUE(dlg->IsLogging());

    constexpr int kThreads = 4;
    constexpr int kReadsEach = 10;
    QSet<QString> expected;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        for (int i = 0; i < kReadsEach; ++i) {
            const unsigned address = 0x8C10 + static_cast<unsigned>(t * kReadsEach + i);
            const QString text = QString::number(address, 16).toUpper();
            expected << QStringLiteral("L> RD ") + text;
            expected << QStringLiteral(" %1: %2").arg(text).arg(
                QString::number(board->simulator->PeekLocal(static_cast<std::uint16_t>(address)), 16)
                    .toUpper(),
                2, QLatin1Char('0'));
        }
        threads.emplace_back([t] {
            for (int i = 0; i < kReadsEach; ++i) {
                const std::string address =
                    QString::number(0x8C10 + t * kReadsEach + i, 16).toUpper().toStdString();
                LocalReg(kRead, address.c_str(), " 1");
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();

    ASSERT_TRUE(WaitUntil([&] { return Rows(*dlg).size() == kThreads * kReadsEach * 2; }));
    EXPECT_EQ(dlg->PendingCount(), 0);
    const QStringList rows = Rows(*dlg);
    const QStringList logged = LogLines(log);
    ExpectEachOnce(rows, expected);
    ExpectEachOnce(logged, expected);
    ExpectListMatchesLogTail(rows, logged);
}

TEST_F(TerminalFixture, AddLineFromSeveralThreadsKeepsListAndLogInOneOrder) {
    const QString log = TempPath("added.log");
    StartLogging(log);

    constexpr int kThreads = 4;
    constexpr int kLinesEach = 200;
    QSet<QString> expected;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        for (int i = 0; i < kLinesEach; ++i)
            expected << QStringLiteral("T%1 line %2").arg(t).arg(i);
        threads.emplace_back([this, t] {
            for (int i = 0; i < kLinesEach; ++i)
                dlg->AddLine("T" + std::to_string(t) + " line " + std::to_string(i));
        });
    }
    // The UI thread adds lines of its own meanwhile and applies the queued ones.
    for (int i = 0; i < 50; ++i) {
        dlg->AddLine("UI line " + std::to_string(i));
        expected << QStringLiteral("UI line %1").arg(i);
        QCoreApplication::processEvents();
    }
    for (std::thread& thread : threads)
        thread.join();
    QCoreApplication::processEvents();

    const QStringList logged = LogLines(log);
    ExpectEachOnce(logged, expected);
    ASSERT_TRUE(WaitUntil([&] {
        return Rows(*dlg).size() == CTerminalDlg::kMaxListLines && Rows(*dlg).first() == logged.last();
    }));
    const QStringList rows = Rows(*dlg);
    EXPECT_EQ(QSet<QString>(rows.begin(), rows.end()).size(), rows.size());
    ExpectListMatchesLogTail(rows, logged);
}

TEST_F(TerminalFixture, SlowLogWriteHoldsUpNoOtherThreadsRegisterAccess) {
    const QString log = TempPath("slow.log");
    StartLogging(log);
    // The first write stalls until released, as on a slow disk.
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<int> writes{0};
    CTerminalDlg::SetLogWriteHookForTesting([&writes, released] {
        if (writes++ == 0)
            released.wait();
    });
    std::thread poller([] { LocalReg(kRead, "8C10", " 1"); }); // its flush writes the log
    ASSERT_TRUE(WaitUntil([&] { return writes.load() == 1; }));

    // Meanwhile another thread's operations and flushes go through.
    auto other = std::async(std::launch::async, [] {
        LocalReg(kRead, "8C11", " 1");
        return LocalReg(kWrite, "8C12", "66");
    });
    const bool notHeldUp = other.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
    release.set_value();
    poller.join();
    CTerminalDlg::SetLogWriteHookForTesting(nullptr);
    EXPECT_TRUE(notHeldUp);
    EXPECT_EQ(other.get(), Answered(1));

    // Every line logged once, in the order the list shows them (newest on top).
    dlg->FlushLines();
    QCoreApplication::processEvents();
    const QStringList logged = LogLines(log);
    EXPECT_EQ(logged.size(), 5);
    QStringList rows = Rows(*dlg);
    std::reverse(rows.begin(), rows.end());
    EXPECT_EQ(rows, logged);
}

// The worker queues while other threads flush, the store filling up now and then.
TEST_F(TerminalFixture, QueueingWhileOtherThreadsFlushLosesAndDoublesNothing) {
    const QString log = TempPath("queued.log");
    StartLogging(log);

    constexpr int kLines = 2000;
    QSet<QString> expected;
    for (int i = 0; i < kLines; ++i)
        if (i % 7 != 0)
            expected << QStringLiteral("line %1").arg(i);

    std::atomic<bool> done{false};
    std::thread worker([&] {
        for (int i = 0; i < kLines; ++i)
            dlg->QueueLine("line " + std::to_string(i), i % 7 == 0 ? kSilentRead : kRead);
        done.store(true);
    });
    std::vector<std::thread> flushers;
    for (int f = 0; f < 2; ++f)
        flushers.emplace_back([&] {
            while (!done.load())
                dlg->FlushLines();
        });
    worker.join();
    for (std::thread& flusher : flushers)
        flusher.join();
    dlg->FlushLines();
    EXPECT_EQ(dlg->PendingCount(), 0);

    const QStringList logged = LogLines(log);
    ExpectEachOnce(logged, expected);
    ASSERT_TRUE(WaitUntil([&] {
        return Rows(*dlg).size() == CTerminalDlg::kMaxListLines && Rows(*dlg).first() == logged.last();
    }));
    ExpectListMatchesLogTail(Rows(*dlg), logged);
}

} // namespace
} // namespace tessor::test
