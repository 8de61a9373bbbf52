// The sequences of the operations layer on a scripted bus: their traffic and their outcome when the
// board answers, garbles a step, does not answer, the mailbox does not complete or the line is down.
#include "ScriptedBus.h"

#include "ops/Access.h"
#include "ops/Board.h"
#include "ops/ConfigFiles.h"
#include "ops/EthernetPass.h"
#include "ops/LinkSettings.h"
#include "ops/PhyPass.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace tessor::opstest {
namespace {

using Lines = std::vector<std::string>;

const Lines kRemoteWrite{"RD 8C71",    "RD 8C00",    "RD 8CC0",    "WR 8CD0 32",
                         "WR 8CC2 8C", "WR 8CC1 10", "WR 8CC0 12", "RD 8CC4"};

std::size_t Count(const Lines& lines, const std::string& line) {
    return static_cast<std::size_t>(std::count(lines.begin(), lines.end(), line));
}

TEST(RemoteSequence, AnsweredReadAndWriteSendTheMailboxSteps) {
    CScriptedBus bus;
    const RegResult write = ops::AccessRemoteReg(bus, kWrite, "8C10", "32");
    EXPECT_EQ(write.outcome, Outcome::Answered);
    EXPECT_EQ(bus.lines, kRemoteWrite);

    CScriptedBus reader;
    const RegResult read = ops::AccessRemoteReg(reader, kRead, "8C40", " 1");
    EXPECT_TRUE(read.ok());
    EXPECT_EQ(reader.lines, (Lines{"RD 8C71", "RD 8C00", "RD 8CC0", "WR 8CD0  1", "WR 8CC2 8C", "WR 8CC1 40",
                                   "WR 8CC0 11", "RD 8CC4", "RD 8CD0"}));
}

TEST(RemoteSequence, LineDownAndAMailboxThatNeverCompletesAreNamed) {
    CScriptedBus down;
    down.regs["8C71"] = 0x00;
    EXPECT_EQ(ops::AccessRemoteReg(down, kWrite, "8C10", "32").outcome, Outcome::LineDown);
    EXPECT_EQ(down.lines, (Lines{"RD 8C71", "RD 8C00"}));

    CScriptedBus stuck;
    stuck.mailboxCompletes = false;
    EXPECT_EQ(ops::AccessRemoteReg(stuck, kWrite, "8C10", "32").outcome, Outcome::MailboxIncomplete);
    EXPECT_EQ(Count(stuck.lines, "RD 8CC4"), static_cast<std::size_t>(ops::kCompletionReads));

    CScriptedBus busy;
    busy.regs["8CC0"] = 0x12;
    EXPECT_EQ(ops::AccessRemoteReg(busy, kWrite, "8C10", "32").outcome, Outcome::MailboxIncomplete);
    EXPECT_EQ(busy.lines.size(), 2u + ops::kMailboxFreeReads);

    // Or and And are confirmed by their steps alone: no completion wait.
    CScriptedBus orOp;
    orOp.mailboxCompletes = false;
    EXPECT_TRUE(ops::AccessRemoteReg(orOp, kOr, "8C00", "20").ok());
    EXPECT_EQ(Count(orOp.lines, "RD 8CC4"), 0u);
}

TEST(RemoteSequence, AGarbledOrSilentStepFailsTheOperationWithThatOutcome) {
    for (std::size_t step = 0; step < kRemoteWrite.size(); ++step) {
        SCOPED_TRACE(kRemoteWrite[step]);
        CScriptedBus garbled;
        garbled.fail = FailAt(step, Outcome::Garbled);
        const RegResult g = ops::AccessRemoteReg(garbled, kWrite, "8C10", "32");
        const bool waitRead = kRemoteWrite[step] == "RD 8CC0" || kRemoteWrite[step] == "RD 8CC4";
        if (waitRead) {
            // A wait reads again past one garbled reply.
            EXPECT_TRUE(g.ok());
            EXPECT_EQ(garbled.lines.size(), kRemoteWrite.size() + 1);
        } else {
            EXPECT_EQ(g.outcome, Outcome::Garbled);
        }

        CScriptedBus silent;
        silent.fail = FailAt(step, Outcome::NoAnswer);
        EXPECT_EQ(ops::AccessRemoteReg(silent, kWrite, "8C10", "32").outcome, Outcome::NoAnswer);
    }
}

TEST(RestartSequence, OrsTheResetBitsWithThePauseBetweenTheRemoteSteps) {
    CScriptedBus bus;
    std::vector<int> pauses;
    const auto sleep = [&pauses](int ms) { pauses.push_back(ms); };
    EXPECT_TRUE(ops::RestartModem(bus, kLocal, sleep).ok());
    EXPECT_EQ(bus.lines, (Lines{"OR 8C00 08", "OR 8C00 20"}));
    EXPECT_TRUE(pauses.empty());

    bus.lines.clear();
    EXPECT_TRUE(ops::RestartModem(bus, kRemote, sleep).ok());
    EXPECT_EQ(Count(bus.lines, "WR 8CC0 13"), 2u);
    EXPECT_EQ(pauses, std::vector<int>{ops::kRemoteRestartPauseMs});

    CScriptedBus failing;
    failing.fail = FailAt(0, Outcome::Garbled);
    EXPECT_EQ(ops::RestartModem(failing, kLocal, sleep).outcome, Outcome::Garbled);
    EXPECT_EQ(failing.lines.size(), 2u) << "the second step is still sent";
}

TEST(LoadSequence, TheWholeFileIsCheckedBeforeTheFirstWrite) {
    const std::string good = "LT\r\n8C40:5A\r\n8C6B:A5\r\n8D42:3C";
    CScriptedBus bus;
    const ops::LoadResult loaded = ops::LoadConfiguration(bus, good, kSideLT, [](int) {});
    EXPECT_EQ(loaded.status, ops::LoadResult::Status::Loaded);
    EXPECT_TRUE(loaded.restarted);
    EXPECT_EQ(bus.lines, (Lines{"WR 8C10 5A", "WR 8C6B A5", "WR 8D42 3C", "OR 8C00 08", "OR 8C00 20"}));

    for (const std::string& refused : {good + "\r\n8C30:1F", good + "\r\n8C40:00", good + "\r\n8D43:F4",
                                       good + "\r\n8C44:G0", std::string("NT\r\n8C40:5A"), good + "\r\n"}) {
        SCOPED_TRACE(refused);
        CScriptedBus untouched;
        const ops::LoadResult r = ops::LoadConfiguration(untouched, refused, kSideLT, [](int) {});
        EXPECT_EQ(r.status, ops::LoadResult::Status::FileError);
        EXPECT_FALSE(r.message.empty());
        EXPECT_TRUE(untouched.lines.empty());
    }

    CScriptedBus silent;
    silent.fail = FailAt(1, Outcome::NoAnswer);
    const ops::LoadResult stopped = ops::LoadConfiguration(silent, good, kSideLT, [](int) {});
    EXPECT_EQ(stopped.status, ops::LoadResult::Status::BoardFailed);
    EXPECT_EQ(stopped.failure.outcome, Outcome::NoAnswer);
    EXPECT_EQ(stopped.written, 1);
    EXPECT_FALSE(stopped.restarted);
    EXPECT_EQ(silent.lines.size(), 2u);
}

// One checker for load and verify (the side not yet known for verify): a register twice and a file with
// no register are refused by both, with the messages the load gives.
TEST(ConfigFileCheck, LoadAndVerifyRefuseTheSameFiles) {
    struct Row {
        const char* name;
        std::string bytes;
        const char* message; // nullptr: taken
        std::size_t records;
    };
    const Row rows[] = {
        {"Good", "LT\r\n8C40:5A\r\n8C6B:A5", nullptr, 2},
        {"RegisterTwice", "LT\r\n8C40:5A\r\n8C41:00\r\n8C40:5B", "Unknown register in configuration file", 0},
        {"HeaderOnly", "LT", "No register in configuration file", 0},
        {"NotSaved", "LT\r\n8C30:1F", "Unknown register in configuration file", 0},
    };
    for (const Row& row : rows) {
        for (const std::uint8_t side : {kSideLT, kSideUnknown}) {
            SCOPED_TRACE(std::string(row.name) + " side " + std::to_string(side));
            const ops::CheckedConfigFile checked = ops::CheckConfigFile(row.bytes, side);
            EXPECT_EQ(checked.ok, row.message == nullptr);
            EXPECT_EQ(checked.message, row.message ? row.message : "");
            EXPECT_EQ(checked.records.size(), row.records);
        }
    }
    // The window's Load of a header alone writes nothing and restarts the modem; the check above is what
    // the command line refuses it by.
    CScriptedBus restartOnly;
    const ops::LoadResult empty = ops::LoadConfiguration(restartOnly, "LT", kSideLT, [](int) {});
    EXPECT_EQ(empty.status, ops::LoadResult::Status::Loaded);
    EXPECT_EQ(empty.written, 0);
    EXPECT_EQ(restartOnly.lines, (std::vector<std::string>{"OR 8C00 08", "OR 8C00 20"}));
    CScriptedBus untouched;
    const ops::LoadResult wrongSide = ops::LoadConfiguration(untouched, "NT", kSideLT, [](int) {});
    EXPECT_EQ(wrongSide.status, ops::LoadResult::Status::FileError);
    EXPECT_TRUE(untouched.lines.empty());
}

TEST(WriteSequences, DefaultAndPresetSayWhichModemWasWritten) {
    CScriptedBus answered;
    const ops::DefaultResult ok = ops::SetToDefault(answered, kSideLT, 2, [](int) {});
    EXPECT_TRUE(ok.RemoteWritten());
    EXPECT_TRUE(ok.LocalWritten());

    CScriptedBus stuck;
    stuck.mailboxCompletes = false;
    const ops::DefaultResult d = ops::SetToDefault(stuck, kSideLT, 2, [](int) {});
    EXPECT_EQ(d.remote.outcome, Outcome::MailboxIncomplete);
    EXPECT_FALSE(d.RemoteWritten());
    EXPECT_TRUE(d.LocalWritten());

    CScriptedBus unsure;
    unsure.fail = FailAt(0, Outcome::Garbled); // the line check's 8C71
    const ops::DefaultResult g = ops::SetToDefault(unsure, kSideLT, 2, [](int) {});
    EXPECT_EQ(g.linkCheck.outcome, Outcome::Garbled);
    EXPECT_FALSE(g.remoteAttempted);

    ops::PresetRequest request;
    request.side = kSideLT;
    request.preset = 1;
    request.remote = true;
    request.localSpeed = 2;
    request.remoteSpeed = 0;
    CScriptedBus presetStuck;
    presetStuck.mailboxCompletes = false;
    const ops::PresetResult p = ops::WritePreset(presetStuck, request, [](int) {});
    EXPECT_EQ(p.remote.outcome, Outcome::MailboxIncomplete);
    EXPECT_FALSE(p.RemoteWritten());
    EXPECT_TRUE(p.LocalWritten());
    EXPECT_EQ(presetStuck.lines.back(), "OR 8C00 20");
}

TEST(PassSequences, AGarbledReadIsUnknownAndTheOthersKeepTheirValues) {
    CScriptedBus bus;
    bus.regs["8C71"] = 0xC2;
    bus.regs["8D38"] = 3;
    bus.fail = [](std::size_t, const std::string& line) -> std::optional<Outcome> {
        return line == "RD 8C71" ? std::optional<Outcome>(Outcome::Garbled) : std::nullopt;
    };
    const ops::PhyPass phy = ops::RunPhyPass(bus, ops::PhyReferencesFor(0));
    EXPECT_TRUE(phy.complete);
    EXPECT_EQ(phy.raw.linkStatus.outcome, Outcome::Garbled);
    EXPECT_FALSE(phy.values.registers.linkStatus);
    EXPECT_FALSE(phy.values.Indicator(kIndFullConstellation)) << "nothing is taken from a garbled read";
    EXPECT_EQ(phy.values.linkFailCount, 3);
    EXPECT_EQ(bus.lines, (Lines{"RD 8C99,3", "RD 8C9C,2", "RD 8C91,4", "RD 8C71", "RD 8C98", "RD 8D38"}));

    CScriptedBus counters;
    counters.regs["8D1C"] = 50;
    counters.regs["8D20"] = 50;
    counters.fail = FailAt(1, Outcome::Garbled);
    ops::EthernetTotals totals;
    totals.Add(ops::RunEthernetPass(counters));
    EXPECT_EQ(totals.totals[0], 10u);
    EXPECT_EQ(totals.totals[1], 0u) << "a garbled counter read adds nothing";

    CScriptedBus save;
    save.fail = FailAt(3, Outcome::Garbled);
    const ops::SaveRead read = ops::ReadConfiguration(save, kSideLT);
    EXPECT_FALSE(read.ok);
    EXPECT_EQ(read.failedIndex, 3u);
    EXPECT_EQ(read.failure.outcome, Outcome::Garbled);

    CScriptedBus check;
    check.fail = FailAt(1, Outcome::Garbled);
    EXPECT_EQ(ops::IsLinkUp(check).outcome, Outcome::Garbled);
    EXPECT_EQ(check.lines.size(), 2u) << "both status reads are made";
}

TEST(PassSequences, CountsAreTheRawReadsAndOnlyThePageDividesByFive) {
    // A counter that reads 6 at each of three passes: 18 events; the page shows 6 / 5 = 1 a pass.
    CScriptedBus bus;
    bus.regs["8D04"] = 6; // frame check sequence errors, the last counter
    bus.regs["8D1C"] = 4; // below 5: the page adds nothing, the count is 4
    ops::EthernetCountTotals counts;
    ops::EthernetTotals page;
    for (int n = 0; n < 3; ++n) {
        const ops::EthernetPass pass = ops::RunEthernetPass(bus);
        EXPECT_EQ(pass.counts[14], 6u);
        counts.Add(pass);
        page.Add(pass);
    }
    EXPECT_EQ(counts.totals[14], 18u);
    EXPECT_EQ(counts.totals[0], 12u);
    EXPECT_EQ(counts.passes, 3u);
    EXPECT_EQ(page.totals[14], 3u);
    EXPECT_EQ(page.totals[0], 0u);

    CScriptedBus garbled;
    garbled.regs["8D1C"] = 7;
    garbled.fail = FailAt(0, Outcome::Garbled);
    const ops::EthernetPass spoilt = ops::RunEthernetPass(garbled);
    EXPECT_FALSE(spoilt.counts[0]) << "a garbled read carries no count";
    ops::EthernetCountTotals after;
    after.Add(spoilt);
    EXPECT_EQ(after.totals[0], 0u);

    CScriptedBus phyBus;
    phyBus.regs["8C91"] = 1234;
    const ops::PhyPass phy = ops::RunPhyPass(phyBus, std::nullopt);
    EXPECT_EQ(phy.values.registers.rsCorrected, 1234u);
    EXPECT_EQ(FormatPhyTexts(phy.values).rs, "246") << "the page's figure: 1234 / 5, remainder dropped";
}

TEST(PassSequences, AnEthernetPassStoppedPartWayIsNoPassButItsReadsCount) {
    for (int stopAfter : {1, 7, 14}) {
        SCOPED_TRACE(stopAfter);
        CScriptedBus bus;
        for (const char* address : {"8D1C", "8D20", "8D04"})
            bus.regs[address] = 10;
        int reads = 0;
        ops::EthernetPassHooks hooks;
        hooks.stop = [&reads, stopAfter] { return ++reads == stopAfter; };
        const ops::EthernetPass pass = ops::RunEthernetPass(bus, hooks);
        EXPECT_FALSE(pass.complete);
        EXPECT_EQ(pass.countersRead, stopAfter);
        EXPECT_EQ(bus.lines.size(), static_cast<std::size_t>(stopAfter));
        ops::EthernetTotals page;
        ops::EthernetCountTotals counts;
        page.Add(pass);
        counts.Add(pass);
        EXPECT_EQ(page.passes, 0u);
        EXPECT_EQ(counts.passes, 0u);
        EXPECT_EQ(counts.totals[0], 10u) << "the first read was made and cleared the counter";
        EXPECT_EQ(page.totals[0], 2u);
        EXPECT_EQ(counts.totals[14], 0u) << "the last counter was not read";
    }
    CScriptedBus whole;
    ops::EthernetCountTotals counts;
    counts.Add(ops::RunEthernetPass(whole));
    EXPECT_EQ(counts.passes, 1u);
}

TEST(PassSequences, EveryPhyReadAnsweredIsDecidedOverAllSix) {
    const Lines reads{"RD 8C99,3", "RD 8C9C,2", "RD 8C91,4", "RD 8C71", "RD 8C98", "RD 8D38"};
    CScriptedBus good;
    const ops::PhyPass all = ops::RunPhyPass(good, std::nullopt);
    EXPECT_TRUE(all.raw.AllAnswered());
    EXPECT_EQ(all.raw.FirstSilent(), nullptr);
    const RegResult* members[] = {&all.raw.errorValue, &all.raw.txLevel,   &all.raw.rsCorrected,
                                  &all.raw.linkStatus, &all.raw.lineFlags, &all.raw.linkFailCount};
    for (std::size_t step = 0; step < reads.size(); ++step) {
        for (Outcome outcome : {Outcome::Garbled, Outcome::NoAnswer}) {
            SCOPED_TRACE(reads[step]);
            CScriptedBus bus;
            bus.fail = FailAt(step, outcome);
            const ops::PhyPass pass = ops::RunPhyPass(bus, std::nullopt);
            EXPECT_FALSE(pass.raw.AllAnswered());
            const RegResult* first = pass.raw.FirstSilent();
            if (outcome == Outcome::Garbled) {
                EXPECT_EQ(first, nullptr) << "a garbled reply is no silence";
                continue;
            }
            ASSERT_NE(first, nullptr);
            EXPECT_EQ(first->outcome, outcome);
            // The same member as in the answered pass.
            const auto offset =
                reinterpret_cast<const char*>(members[step]) - reinterpret_cast<const char*>(&all.raw);
            EXPECT_EQ(reinterpret_cast<const char*>(first) - reinterpret_cast<const char*>(&pass.raw),
                      offset);
        }
    }
}

TEST(SideSequences, EachSideReadsTheLineRegisterOfTheDirectionItReceives) {
    struct Row {
        std::uint8_t side8C70;
        const char* side;
        const char* reads;
        std::int32_t snr; // reference of the constellation in that register
    };
    // 8C10 holds constellation 2 (QAM 64), 8C11 constellation 8 (QAM 4): the references tell which one was
    // used.
    const auto refs10 = ops::PhyReferencesFor(0x02);
    const auto refs11 = ops::PhyReferencesFor(0x08);
    ASSERT_TRUE(refs10 && refs11);
    ASSERT_NE(refs10->snr, refs11->snr);
    const Row rows[] = {{0x10, "NT", "RD 8C10", refs10->snr}, {0x00, "LT", "RD 8C11", refs11->snr}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.side);
        CScriptedBus bus;
        bus.regs["8C70"] = row.side8C70;
        bus.regs["8C10"] = 0x02;
        bus.regs["8C11"] = 0x08;
        const ops::ModemSideRead side = ops::DetectModemSide(bus);
        EXPECT_EQ(side.side, row.side8C70 ? kSideNT : kSideLT);
        const ops::PhyReferenceRead refs = ops::ReadPhyReferences(bus, side.side);
        EXPECT_EQ(bus.lines, (Lines{"RD 8C70", row.reads}));
        ASSERT_TRUE(refs.references);
        EXPECT_EQ(refs.references->snr, row.snr);
    }
}

} // namespace
} // namespace tessor::opstest
