// The simulated modem pair: factory state, control register, line training, mailbox, PHY and counters.
#include "SimTestSupport.h"

#include "sim/SimRegisters.h"

#include <gtest/gtest.h>

#include <cmath>
#include <set>

namespace tessor::sim {
namespace {

using test::Exchange;
using test::ReadByConsole;
using test::TestConfig;
using test::WriteByConsole;
constexpr auto kLocal = CSimModemPair::kLocal;
constexpr auto kRemote = CSimModemPair::kRemote;

// ---- Factory state --------------------------------------------------------------------------------

struct FactoryCase {
    const char* name;
    ModemSide local;
    CSimModemPair::Unit unit;
    std::uint16_t address;
    std::uint8_t value;
};

void PrintTo(const FactoryCase& c, std::ostream* os) {
    *os << c.name;
}

class FactoryState : public ::testing::TestWithParam<FactoryCase> {};

TEST_P(FactoryState, HoldsItsProfileValue) {
    CSimModemPair pair(TestConfig(GetParam().local));
    EXPECT_EQ(pair.PeekRegister(GetParam().unit, GetParam().address), GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(
    Profiles, FactoryState,
    ::testing::Values(FactoryCase{"LtType", kSideLT, kLocal, 0x8C70, 0x00},
                      FactoryCase{"RemoteOfLtIsNt", kSideLT, kRemote, 0x8C70, 0x10},
                      FactoryCase{"NtType", kSideNT, kLocal, 0x8C70, 0x10},
                      FactoryCase{"RemoteOfNtIsLt", kSideNT, kRemote, 0x8C70, 0x00},
                      // A side not known is taken as LT, the default.
                      FactoryCase{"UnknownIsLt", kSideUnknown, kLocal, 0x8C70, 0x00},
                      FactoryCase{"RemoteOfUnknownIsNt", kSideUnknown, kRemote, 0x8C70, 0x10},
                      FactoryCase{"UnknownHasTheLtMacProfile", kSideUnknown, kLocal, 0x8D47, 0xBF},
                      FactoryCase{"ControlActiveAndSending", kSideLT, kLocal, 0x8C00, 0xC0},
                      FactoryCase{"Downstream", kSideLT, kLocal, 0x8C10, 0x32},
                      FactoryCase{"Upstream", kSideNT, kLocal, 0x8C11, 0x24},
                      FactoryCase{"LtMacProfile", kSideLT, kLocal, 0x8D47, 0xBF},
                      FactoryCase{"NtMacProfile", kSideLT, kRemote, 0x8D47, 0x3F},
                      FactoryCase{"Lt8C17", kSideNT, kRemote, 0x8C17, 0xC9},
                      FactoryCase{"Nt8C17", kSideNT, kLocal, 0x8C17, 0x00},
                      FactoryCase{"Nt8C1F", kSideLT, kRemote, 0x8C1F, 0x10},
                      FactoryCase{"Lt8C67", kSideLT, kLocal, 0x8C67, 0x05},
                      FactoryCase{"Nt8C67", kSideLT, kRemote, 0x8C67, 0x00},
                      FactoryCase{"Speed", kSideLT, kLocal, 0x8D43, 0xF0},
                      FactoryCase{"ReadbackOfLt8C1C", kSideLT, kLocal, 0x8C4C, 0x92},
                      FactoryCase{"ReadbackOfNt8C1C", kSideLT, kRemote, 0x8C4C, 0xD7},
                      FactoryCase{"ChipId", kSideLT, kLocal, 0x8C72, 0x61},
                      FactoryCase{"ChipRevision", kSideNT, kLocal, 0x8C73, 0x12},
                      FactoryCase{"FirmwareRelease", kSideLT, kRemote, 0x8C6F, 0x27}),
    [](const ::testing::TestParamInfo<FactoryCase>& p) { return std::string(p.param.name); });

TEST(SimModel, TheLocalSideIsNamedAsConfiguredAndUnknownAsLt) {
    const struct {
        ModemSide configured;
        ModemSide local;
        const char* name;
    } cases[] = {{kSideLT, kSideLT, "LT"}, {kSideNT, kSideNT, "NT"}, {kSideUnknown, kSideLT, "LT"}};
    for (const auto& c : cases) {
        CSimModemPair pair(TestConfig(c.configured));
        EXPECT_EQ(pair.LocalSide(), c.local) << static_cast<int>(c.configured);
        EXPECT_STREQ(SideName(pair.LocalSide()), c.name);
    }
    EXPECT_STREQ(SideName(kSideUnknown), "unknown");
}

TEST(SimModel, ReadbacksEqualTheConfigurationAfterPowerUp) {
    CSimModemPair pair(TestConfig());
    for (auto unit : {kLocal, kRemote}) {
        for (std::uint16_t a = reg::kConfigFirst; a <= reg::kConfigLast; ++a) {
            EXPECT_EQ(pair.PeekRegister(unit, a + reg::kReadbackOffset), pair.PeekRegister(unit, a)) << a;
        }
    }
}

TEST(SimModel, ReadOnlyRegistersIgnoreWrites) {
    CSimModemPair pair(TestConfig());
    CSimConsole console(pair);
    for (std::uint16_t address :
         {0x8C40, 0x8C51, 0x8C6F, 0x8C70, 0x8C71, 0x8C72, 0x8C73, 0x8C98, 0x8C99, 0x8CC4, 0x8D1C, 0x8D38}) {
        const int before = ReadByConsole(console, address);
        ASSERT_TRUE(WriteByConsole(console, "WR", address, static_cast<std::uint8_t>(before ^ 0x5A)));
        EXPECT_EQ(ReadByConsole(console, address), before) << std::hex << address;
    }
}

// ---- Training, restart, link failures -------------------------------------------------------------

TEST(SimTraining, LineComesUpAfterTheTrainingTime) {
    CSimModemPair pair(TestConfig(kSideLT, 3000));
    CSimConsole console(pair);
    EXPECT_EQ(ReadByConsole(console, reg::kLineStatus), reg::kStatSignalDetected);
    pair.AdvanceTime(2999);
    EXPECT_EQ(ReadByConsole(console, reg::kLineStatus), reg::kStatSignalDetected);
    EXPECT_EQ(ReadByConsole(console, reg::kErrorValue), 0) << "no error value while not up";
    pair.AdvanceTime(1);
    EXPECT_EQ(ReadByConsole(console, reg::kLineStatus), 0xAE);
    EXPECT_EQ(ReadByConsole(console, reg::kLineFlags), reg::kFlagAgcConverged | reg::kFlagTimingConverged);
    EXPECT_EQ(ReadByConsole(console, reg::kLinkFailCount), 0);
}

TEST(SimTraining, ReducedConstellationLinkShowsBitSix) {
    CSimModemPair pair(TestConfig());
    pair.SetReducedConstellation(true);
    EXPECT_TRUE(pair.IsLineUp());
    EXPECT_EQ(pair.PeekRegister(kLocal, reg::kLineStatus), 0x6E);
    EXPECT_EQ(pair.PeekRegister(kLocal, reg::kLinkFailCount), 1) << "switching retrains the line";
}

struct DropCase {
    const char* name;
    const char* op;
    std::uint8_t value;
    bool signalAtRemote; // whether the remote still detects the local transmitter afterwards
};

void PrintTo(const DropCase& c, std::ostream* os) {
    *os << c.name;
}

class LineDrop : public ::testing::TestWithParam<DropCase> {};

TEST_P(LineDrop, LocalControlTakesTheLineDownAndCountsAFailure) {
    CSimModemPair pair(TestConfig(kSideLT, 1000));
    CSimConsole console(pair);
    pair.AdvanceTime(1000);
    ASSERT_TRUE(pair.IsLineUp());
    ASSERT_TRUE(WriteByConsole(console, GetParam().op, reg::kControl, GetParam().value));
    EXPECT_FALSE(pair.IsLineUp());
    pair.AdvanceTime(5000);
    EXPECT_FALSE(pair.IsLineUp()) << "stays down while the cause lasts";
    EXPECT_EQ(ReadByConsole(console, reg::kLinkFailCount), 1);
    EXPECT_EQ(pair.PeekRegister(kRemote, reg::kLinkFailCount), 1) << "the far end sees the failure too";
    EXPECT_EQ(pair.PeekRegister(kRemote, reg::kLineStatus),
              GetParam().signalAtRemote ? reg::kStatSignalDetected : 0);
    ASSERT_TRUE(WriteByConsole(console, "WR", reg::kControl, 0xC0));
    pair.AdvanceTime(999);
    EXPECT_FALSE(pair.IsLineUp());
    pair.AdvanceTime(1);
    EXPECT_TRUE(pair.IsLineUp());
}

INSTANTIATE_TEST_SUITE_P(Causes, LineDrop,
                         ::testing::Values(DropCase{"Deactivation", "ND", 0x7F, false},
                                           DropCase{"TransmitterOff", "WR", 0x80, false},
                                           DropCase{"TransmitterToggleWritesZero", "WR", 0x00, false}),
                         [](const ::testing::TestParamInfo<DropCase>& p) {
                             return std::string(p.param.name);
                         });

TEST(SimTraining, SoftResetSelfClearsRetrainsAndLoadsTheConfiguration) {
    CSimModemPair pair(TestConfig(kSideLT, 3000));
    CSimConsole console(pair);
    pair.AdvanceTime(3000);
    ASSERT_TRUE(pair.IsLineUp());
    ASSERT_TRUE(WriteByConsole(console, "WR", 0x8C12, 0x4F)); // same carrier byte: still compatible
    ASSERT_TRUE(WriteByConsole(console, "WR", 0x8C1D, 0x07));
    EXPECT_EQ(ReadByConsole(console, 0x8C4D), 0x06) << "read-back changes only at the restart";
    ASSERT_TRUE(WriteByConsole(console, "OR", reg::kControl, reg::kCtlUpdate));
    EXPECT_TRUE(pair.IsLineUp()) << "bit 3 alone does not restart";
    ASSERT_TRUE(WriteByConsole(console, "OR", reg::kControl, reg::kCtlSoftReset));
    EXPECT_EQ(ReadByConsole(console, reg::kControl), 0xC0) << "bits 5 and 3 clear themselves";
    EXPECT_EQ(ReadByConsole(console, 0x8C4D), 0x07);
    EXPECT_FALSE(pair.IsLineUp());
    EXPECT_EQ(ReadByConsole(console, reg::kLinkFailCount), 1);
    pair.AdvanceTime(3000);
    EXPECT_TRUE(pair.IsLineUp()) << "the 8C1D difference does not matter to the line";
}

TEST(SimTraining, MismatchedLineConfigurationsDoNotTrainUntilBothRunTheSame) {
    CSimModemPair pair(TestConfig());
    CSimConsole console(pair);
    ASSERT_TRUE(WriteByConsole(console, "WR", 0x8C10, 0x44));
    ASSERT_TRUE(WriteByConsole(console, "OR", reg::kControl, reg::kCtlSoftReset));
    pair.AdvanceTime(60000);
    EXPECT_FALSE(pair.IsLineUp());
    pair.WriteRegister(kRemote, 0x8C10, 0x44);
    pair.WriteRegister(kRemote, reg::kControl, 0xC0 | reg::kCtlSoftReset);
    EXPECT_TRUE(pair.IsLineUp());
    EXPECT_EQ(ReadByConsole(console, reg::kLineConfigDown), 0x44);
}

struct LineConfigCase {
    std::uint8_t value;
    bool valid;
};

TEST(SimTraining, OnlyNamedConstellationsWithAllowedInterpolationsAreValid) {
    const LineConfigCase cases[] = {
        {0x32, true},  {0x24, true},  {0x44, true},  {0x30, true},  {0x54, true},  {0x68, true},
        {0x9C, true},  {0xAA, true},  {0x08, true},  {0x31, false}, {0x00, false}, {0x02, false},
        {0x3C, false}, {0x9A, false}, {0x94, false}, {0xB4, false}, {0x2E, false},
    };
    for (const LineConfigCase& c : cases) {
        EXPECT_EQ(CSimModemPair::IsValidLineConfig(c.value), c.valid) << std::hex << int(c.value);
    }
}

TEST(SimTraining, InvalidLineConfigurationOnBothModemsNeverTrains) {
    CSimModemPair pair(TestConfig());
    for (auto unit : {kLocal, kRemote}) {
        pair.WriteRegister(unit, 0x8C11, 0x31);
        pair.Restart(unit);
    }
    pair.AdvanceTime(60000);
    EXPECT_FALSE(pair.IsLineUp());
}

TEST(SimTraining, LinkFailCounterWrapsAtEightBits) {
    CSimModemPair pair(TestConfig());
    CSimConsole console(pair);
    for (int i = 0; i < 257; ++i) {
        ASSERT_TRUE(WriteByConsole(console, "OR", reg::kControl, reg::kCtlSoftReset));
    }
    EXPECT_EQ(ReadByConsole(console, reg::kLinkFailCount), 1);
}

TEST(SimTraining, MicroInterruptionIsLatchedUntilRead) {
    CSimModemPair pair(TestConfig());
    CSimConsole console(pair);
    ASSERT_TRUE(WriteByConsole(console, "OR", reg::kControl, reg::kCtlSoftReset));
    EXPECT_EQ(ReadByConsole(console, reg::kLineFlags), 0x86);
    EXPECT_EQ(ReadByConsole(console, reg::kLineFlags), 0x06);
}

// ---- Mailbox, driven register by register ----------------------------------------------------------

class MailboxCompletion : public ::testing::TestWithParam<int> {};

TEST_P(MailboxCompletion, ReadCompletesOnTheNthStatusRead) {
    const int n = GetParam();
    CSimModemPair pair(TestConfig(kSideLT, 0, n));
    CSimConsole console(pair);
    EXPECT_EQ(ReadByConsole(console, reg::kMailboxCommand), 0);
    EXPECT_EQ(Exchange(console, "WR 8CD0  1\n"), "WR 8CD0  1\n\n\rL>");
    ASSERT_TRUE(WriteByConsole(console, "WR", reg::kMailboxAddrHigh, 0x8C));
    ASSERT_TRUE(WriteByConsole(console, "WR", reg::kMailboxAddrLow, 0x70));
    ASSERT_TRUE(WriteByConsole(console, "WR", reg::kMailboxCommand, 0x11));
    for (int i = 1; i < n; ++i) {
        ASSERT_EQ(ReadByConsole(console, reg::kMailboxStatus) & 0x0F, 0) << "read " << i;
    }
    EXPECT_EQ(ReadByConsole(console, reg::kMailboxStatus), 1);
    EXPECT_EQ(ReadByConsole(console, reg::kMailboxCommand), 0) << "mailbox free again";
    EXPECT_EQ(ReadByConsole(console, reg::kMailboxData), 0x10) << "the remote NT's type register";
}

INSTANTIATE_TEST_SUITE_P(Counts, MailboxCompletion, ::testing::Values(1, 2, 7, 100));

TEST(SimMailbox, StartClearsAStaleCompletionStatus) {
    CSimModemPair pair(TestConfig(kSideLT, 0, 3));
    CSimConsole console(pair);
    for (int round = 0; round < 2; ++round) {
        ASSERT_TRUE(WriteByConsole(console, "WR", reg::kMailboxData, 0x66));
        ASSERT_TRUE(WriteByConsole(console, "WR", reg::kMailboxAddrHigh, 0x8C));
        ASSERT_TRUE(WriteByConsole(console, "WR", reg::kMailboxAddrLow, 0x12));
        ASSERT_TRUE(WriteByConsole(console, "WR", reg::kMailboxCommand, 0x12));
        EXPECT_EQ(ReadByConsole(console, reg::kMailboxCommand), 0x12) << "busy";
        EXPECT_EQ(ReadByConsole(console, reg::kMailboxStatus), 0) << "round " << round;
        EXPECT_EQ(ReadByConsole(console, reg::kMailboxStatus), 2);
    }
    EXPECT_EQ(pair.PeekRegister(kRemote, 0x8C12), 0x66);
}

struct RemoteOpCase {
    const char* name;
    std::uint8_t command;
    std::uint8_t data;
    std::uint8_t expected8C12; // starts at 4F
};

void PrintTo(const RemoteOpCase& c, std::ostream* os) {
    *os << c.name;
}

class MailboxOperation : public ::testing::TestWithParam<RemoteOpCase> {};

TEST_P(MailboxOperation, ChangesTheRemoteRegisterOnly) {
    CSimModemPair pair(TestConfig());
    CSimConsole console(pair);
    ASSERT_TRUE(WriteByConsole(console, "WR", reg::kMailboxData, GetParam().data));
    ASSERT_TRUE(WriteByConsole(console, "WR", reg::kMailboxAddrHigh, 0x8C));
    ASSERT_TRUE(WriteByConsole(console, "WR", reg::kMailboxAddrLow, 0x12));
    ASSERT_TRUE(WriteByConsole(console, "WR", reg::kMailboxCommand, GetParam().command));
    EXPECT_EQ(ReadByConsole(console, reg::kMailboxStatus), GetParam().command & 0x0F);
    EXPECT_EQ(pair.PeekRegister(kRemote, 0x8C12), GetParam().expected8C12);
    EXPECT_EQ(pair.PeekRegister(kLocal, 0x8C12), 0x4F);
}

INSTANTIATE_TEST_SUITE_P(Ops, MailboxOperation,
                         ::testing::Values(RemoteOpCase{"Write", 0x12, 0x66, 0x66},
                                           RemoteOpCase{"Or", 0x13, 0x30, 0x7F},
                                           RemoteOpCase{"And", 0x14, 0x0F, 0x0F}),
                         [](const ::testing::TestParamInfo<RemoteOpCase>& p) {
                             return std::string(p.param.name);
                         });

TEST(SimMailbox, OperationWaitsWhileTheLineIsDown) {
    CSimModemPair pair(TestConfig(kSideLT, 2000));
    CSimConsole console(pair);
    ASSERT_TRUE(WriteByConsole(console, "WR", reg::kMailboxData, 0x01));
    ASSERT_TRUE(WriteByConsole(console, "WR", reg::kMailboxAddrHigh, 0x8C));
    ASSERT_TRUE(WriteByConsole(console, "WR", reg::kMailboxAddrLow, 0x70));
    ASSERT_TRUE(WriteByConsole(console, "WR", reg::kMailboxCommand, 0x11));
    for (int i = 0; i < 20; ++i) {
        ASSERT_EQ(ReadByConsole(console, reg::kMailboxStatus), 0);
    }
    pair.AdvanceTime(2000);
    EXPECT_EQ(ReadByConsole(console, reg::kMailboxStatus), 1);
    EXPECT_EQ(ReadByConsole(console, reg::kMailboxData), 0x10);
}

TEST(SimMailbox, RemoteSoftResetRestartsTheRemoteModem) {
    CSimModemPair pair(TestConfig());
    CSimConsole console(pair);
    pair.WriteRegister(kRemote, 0x8C1D, 0x09);
    ASSERT_TRUE(WriteByConsole(console, "WR", reg::kMailboxData, 0x20));
    ASSERT_TRUE(WriteByConsole(console, "WR", reg::kMailboxAddrHigh, 0x8C));
    ASSERT_TRUE(WriteByConsole(console, "WR", reg::kMailboxAddrLow, 0x00));
    ASSERT_TRUE(WriteByConsole(console, "WR", reg::kMailboxCommand, 0x13));
    // No status read follows a remote Or on 8C00: any next command lets it complete.
    EXPECT_EQ(ReadByConsole(console, reg::kLinkFailCount), 1);
    EXPECT_EQ(pair.PeekRegister(kRemote, 0x8C4D), 0x09);
    EXPECT_EQ(pair.PeekRegister(kRemote, reg::kControl), 0xC0);
    EXPECT_EQ(pair.PeekRegister(kLocal, 0x8C4D), 0x06);
}

TEST(SimMailbox, MultiRegisterRemoteReadUsesTheCountInTheDataRegister) {
    CSimModemPair pair(TestConfig());
    CSimConsole console(pair);
    EXPECT_EQ(Exchange(console, "WR 8CD0  3\n"), "WR 8CD0  3\n\n\rL>");
    ASSERT_TRUE(WriteByConsole(console, "WR", reg::kMailboxAddrHigh, 0x8C));
    ASSERT_TRUE(WriteByConsole(console, "WR", reg::kMailboxAddrLow, 0x17));
    ASSERT_TRUE(WriteByConsole(console, "WR", reg::kMailboxCommand, 0x11));
    EXPECT_EQ(ReadByConsole(console, reg::kMailboxStatus), 1);
    EXPECT_EQ(Exchange(console, "RD 8CD0,3\n"), "RD 8CD0,3\n\r8CD0: 00 04 56\n\rL>");
}

// ---- PHY values -----------------------------------------------------------------------------------

struct SnrCase {
    const char* name;
    ModemSide local;
    std::uint8_t lineConfig; // written to both directions of both modems
    int referenceHundredths;
};

void PrintTo(const SnrCase& c, std::ostream* os) {
    *os << c.name;
}

class ErrorValue : public ::testing::TestWithParam<SnrCase> {};

TEST_P(ErrorValue, GivesTheLineSnrForTheReceivedConstellation) {
    SimConfig config = TestConfig(GetParam().local);
    config.lineSnrDb = 33.0;
    CSimModemPair pair(config);
    for (auto unit : {kLocal, kRemote}) {
        pair.WriteRegister(unit, 0x8C10, GetParam().lineConfig);
        pair.WriteRegister(unit, 0x8C11, GetParam().lineConfig);
        pair.Restart(unit);
    }
    ASSERT_TRUE(pair.IsLineUp());
    CSimConsole console(pair);
    std::set<std::string> distinct;
    for (int i = 0; i < 8; ++i) {
        const std::string reply = Exchange(console, "RD 8C99,3\n");
        ASSERT_EQ(reply.size(), std::string("RD 8C99,3\n\r8C99: 00 00 00\n\rL>").size());
        distinct.insert(reply);
        const long low = std::stol(reply.substr(17, 2), nullptr, 16);
        const long mid = std::stol(reply.substr(20, 2), nullptr, 16);
        const long high = std::stol(reply.substr(23, 2), nullptr, 16);
        const long value = low | mid << 8 | high << 16;
        ASSERT_GT(value, 0);
        const double snr =
            GetParam().referenceHundredths / 100.0 - 10.0 * std::log10(static_cast<double>(value));
        EXPECT_NEAR(snr, 33.0, 0.35);
        pair.AdvanceTime(1000);
    }
    EXPECT_GT(distinct.size(), 1u) << "the value should move a little over time";
}

INSTANTIATE_TEST_SUITE_P(
    Constellations, ErrorValue,
    ::testing::Values(SnrCase{"Qam256AtLt", kSideLT, 0x30, 9180}, SnrCase{"Qam64AtNt", kSideNT, 0x32, 8550},
                      SnrCase{"Qam16AtLt", kSideLT, 0x44, 7920}, SnrCase{"Qam8AtNt", kSideNT, 0x46, 7600},
                      SnrCase{"Qam4AtLt", kSideLT, 0x68, 7020}, SnrCase{"Qam128AtNt", kSideNT, 0xAA, 8840},
                      SnrCase{"Qam32AtLt", kSideLT, 0x9C, 7980}),
    [](const ::testing::TestParamInfo<SnrCase>& p) { return std::string(p.param.name); });

TEST(SimPhy, EachSideReceivesItsOwnDirection) {
    // Downstream QAM 256, upstream QAM 4: the NT receives downstream, the LT upstream.
    SimConfig config = TestConfig(kSideLT);
    CSimModemPair pair(config);
    for (auto unit : {kLocal, kRemote}) {
        pair.WriteRegister(unit, 0x8C10, 0x30);
        pair.WriteRegister(unit, 0x8C11, 0x68);
        pair.Restart(unit);
    }
    auto value = [&pair](CSimModemPair::Unit unit) {
        return pair.PeekRegister(unit, 0x8C99) | pair.PeekRegister(unit, 0x8C9A) << 8 |
               pair.PeekRegister(unit, 0x8C9B) << 16;
    };
    const double ltSnr = 70.20 - 10.0 * std::log10(value(kLocal));
    const double ntSnr = 91.80 - 10.0 * std::log10(value(kRemote));
    EXPECT_NEAR(ltSnr, config.lineSnrDb, 0.35);
    EXPECT_NEAR(ntSnr, config.lineSnrDb, 0.35);
}

TEST(SimPhy, TransmitLevelAboutFiveDbBelowReferenceAndMinimalWhenOff) {
    CSimModemPair pair(TestConfig());
    CSimConsole console(pair);
    const std::string reply = Exchange(console, "RD 8C9C,2\n");
    const int level = std::stoi(reply.substr(20, 2) + reply.substr(17, 2), nullptr, 16);
    EXPECT_NEAR(20.0 * std::log10(level / 1024.0), -5.0, 0.5);
    ASSERT_TRUE(WriteByConsole(console, "ND", reg::kControl, 0xBF));
    EXPECT_EQ(Exchange(console, "RD 8C9C,2\n"), "RD 8C9C,2\n\r8C9C: 01 00\n\rL>");
}

// ---- Counters -------------------------------------------------------------------------------------

std::uint32_t ReadCounter(CSimConsole& console, std::uint16_t address) {
    char command[16];
    std::snprintf(command, sizeof command, "RD %04X,4\n", address);
    const std::string reply = Exchange(console, command);
    // "RD aaaa,4\n\raaaa: b0 b1 b2 b3\n\rL>"
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i) {
        value = value << 8 | static_cast<std::uint32_t>(std::stoul(reply.substr(17 + 3 * i, 2), nullptr, 16));
    }
    return value;
}

struct RateCase {
    std::uint16_t address;
    double perSecond; // at the factory speed (automatic)
};

TEST(SimCounters, CountWhileUpAtPlausibleRatesAndClearOnRead) {
    const RateCase rates[] = {{reg::kTxFrames, 850},       {reg::kRxFrames, 820},    {reg::kTxOctets, 476000},
                              {reg::kRxOctets, 442800},    {reg::kRxBroadcast, 4},   {reg::kRsCorrected, 0.6},
                              {reg::kSingleCollisions, 0}, {reg::kLateCollisions, 0}};
    CSimModemPair pair(TestConfig(kSideLT, 0));
    CSimConsole console(pair);
    pair.AdvanceTime(10000);
    for (const RateCase& rate : rates) {
        const double expected = rate.perSecond * 10;
        const std::uint32_t first = ReadCounter(console, rate.address);
        EXPECT_GE(first, static_cast<std::uint32_t>(expected * 0.8)) << std::hex << rate.address;
        EXPECT_LE(first, static_cast<std::uint32_t>(expected * 1.2 + 1)) << std::hex << rate.address;
        EXPECT_EQ(ReadCounter(console, rate.address), 0u) << "clear on read, " << std::hex << rate.address;
    }
}

TEST(SimCounters, HalfDuplexCountsCollisions) {
    CSimModemPair pair(TestConfig());
    CSimConsole console(pair);
    ASSERT_TRUE(WriteByConsole(console, "WR", reg::kMacSpeed, 0x12));
    pair.AdvanceTime(20000);
    EXPECT_GT(ReadCounter(console, reg::kSingleCollisions), 0u);
    EXPECT_LT(ReadCounter(console, reg::kTxFrames), 850u * 20 / 2) << "10 Mbit/s carries fewer frames";
}

TEST(SimCounters, StandStillWhileTheLineIsDown) {
    CSimModemPair pair(TestConfig(kSideLT, 5000));
    CSimConsole console(pair);
    pair.AdvanceTime(4000);
    EXPECT_EQ(ReadCounter(console, reg::kTxFrames), 0u);
    pair.AdvanceTime(2000); // up after 1 s of these 2
    const std::uint32_t frames = ReadCounter(console, reg::kTxFrames);
    EXPECT_GE(frames, 850u * 8 / 10);
    EXPECT_LE(frames, 850u * 12 / 10);
}

TEST(SimCounters, FourByteReadIsOneSnapshotAndLaterBytesComeFromIt) {
    CSimModemPair pair(TestConfig());
    CSimConsole console(pair);
    pair.SetCounter(kLocal, reg::kRxOctets, 0x12345678);
    EXPECT_EQ(Exchange(console, "RD 8D0C,4\n"), "RD 8D0C,4\n\r8D0C: 78 56 34 12\n\rL>");
    EXPECT_EQ(pair.Counter(kLocal, reg::kRxOctets), 0u);
    pair.SetCounter(kLocal, reg::kRxOctets, 0xAABBCCDD);
    // A byte-by-byte reader gets the same snapshot: the low byte takes it.
    EXPECT_EQ(ReadByConsole(console, 0x8D0C), 0xDD);
    EXPECT_EQ(ReadByConsole(console, 0x8D0F), 0xAA);
    EXPECT_EQ(ReadByConsole(console, 0x8D0D), 0xCC);
}

TEST(SimCounters, WrapAtThirtyTwoBits) {
    CSimModemPair pair(TestConfig());
    CSimConsole console(pair);
    pair.SetCounter(kLocal, reg::kTxOctets, 0xFFFFFF00u);
    pair.SetCounter(kLocal, reg::kRsCorrected, 0xFFFFFFFFu);
    pair.AdvanceTime(10000);
    const std::uint32_t octets = ReadCounter(console, reg::kTxOctets);
    EXPECT_GT(octets, 476000u * 10 * 8 / 10 - 0x100);
    EXPECT_LT(octets, 476000u * 10 * 12 / 10);
    EXPECT_LT(ReadCounter(console, reg::kRsCorrected), 12u);
}

TEST(SimCounters, EachModemCountsForItself) {
    CSimModemPair pair(TestConfig());
    CSimConsole console(pair);
    pair.AdvanceTime(5000);
    EXPECT_GT(ReadCounter(console, reg::kRxFrames), 0u);
    EXPECT_GT(pair.Counter(kRemote, reg::kRxFrames), 0u) << "reading the local counter leaves the remote one";
}

} // namespace
} // namespace tessor::sim
