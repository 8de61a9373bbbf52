// The simulator read through the real board link, singly and in runs of consecutive registers: every
// register the same, the save file the same, with fewer commands.
#include "SimLinkSupport.h"
#include "SimTestSupport.h"

#include "ops/ConfigFiles.h"
#include "ops/EthernetPass.h"
#include "ops/PhyPass.h"
#include "sim/SimSerialDevice.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <thread>

namespace tessor::sim {
namespace {

class SimBlockReads : public ::testing::Test {
protected:
    void SetUp() override {
        m_sim = std::make_shared<CSimulator>(test::TestConfig());
        m_port = std::make_unique<CConsolePort>(&m_prompt);
        std::shared_ptr<CSimulator> sim = m_sim;
        m_port->SetDeviceOpener(
            [sim](const std::string&, const LineSettings&, int*) { return CSimulator::CreateDevice(sim); });
        ASSERT_EQ(m_port->Open(9600, 8, 0, 0, "COM1:"), 1);
        CConsolePort* port = m_port.get();
        m_worker = std::thread([port] { port->ConsoleWorkerThread(); });
    }
    void TearDown() override {
        m_port->RequestStop();
        m_worker.join();
    }
    std::size_t CommandsSent() {
        const std::size_t count = test::CommandLines(m_sim->BytesToBoard()).size();
        m_sim->ClearWireLog();
        return count;
    }

    test::FakePrompt m_prompt;
    std::shared_ptr<CSimulator> m_sim;
    std::unique_ptr<CConsolePort> m_port;
    std::thread m_worker;
};

TEST_F(SimBlockReads, EveryRegisterReadsTheSameSinglyAndInBlocks) {
    // Each counter reads its own fixed count at every read, the high digits set, so the last register of
    // an eight-register read carries a digit the 64-bit value alone would lose.
    std::array<std::uint32_t, ops::kEthernetCounterCount> fixed{};
    for (std::size_t i = 0; i < fixed.size(); ++i) {
        fixed[i] = 0xF0000000u + static_cast<std::uint32_t>(i) * 0x01030507u;
        char command[32];
        std::snprintf(command, sizeof command, "count %s %u", ops::kEthernetCounters[i].address, fixed[i]);
        ASSERT_TRUE(m_sim->Control(command)) << command;
    }

    const ops::SaveRead saveOne = ops::ReadConfiguration(*m_port, kSideLT);
    const std::size_t saveOneCommands = CommandsSent();
    const ops::SaveRead saveBlock = ops::ReadConfiguration(*m_port, kSideLT, true);
    const std::size_t saveBlockCommands = CommandsSent();
    ASSERT_TRUE(saveOne.ok && saveBlock.ok);
    for (std::size_t i = 0; i < kConfigRegisterCount; ++i)
        EXPECT_EQ(saveBlock.values[i], saveOne.values[i]) << kConfigRegisters[i];
    EXPECT_EQ(saveBlock.bytes, saveOne.bytes);
    EXPECT_EQ(saveOneCommands, kConfigRegisterCount);
    EXPECT_EQ(saveBlockCommands, 8u);

    const ops::PhyPass phyOne = ops::RunPhyPass(*m_port, std::nullopt);
    const ops::PhyPass phyBlock = ops::RunPhyPass(*m_port, std::nullopt, {}, true);
    ASSERT_TRUE(phyOne.raw.AllAnswered() && phyBlock.raw.AllAnswered());
    const PhyRegisters one = ops::RegistersOf(phyOne.raw);
    const PhyRegisters block = ops::RegistersOf(phyBlock.raw);
    EXPECT_EQ(block.errorValue, one.errorValue);
    EXPECT_EQ(block.txLevel, one.txLevel);
    EXPECT_EQ(block.rsCorrected, one.rsCorrected);
    EXPECT_EQ(block.linkStatus, one.linkStatus);
    EXPECT_EQ(block.lineFlags, one.lineFlags);
    EXPECT_EQ(block.linkFailCount, one.linkFailCount);
    CommandsSent();

    const ops::EthernetPass ethOne = ops::RunEthernetPass(*m_port);
    const std::size_t ethOneCommands = CommandsSent();
    const ops::EthernetPass ethBlock = ops::RunEthernetPass(*m_port, {}, true);
    const std::size_t ethBlockCommands = CommandsSent();
    for (std::size_t i = 0; i < fixed.size(); ++i) {
        EXPECT_EQ(ethOne.counts[i], std::optional<std::uint32_t>(fixed[i])) << ops::kEthernetCounters[i].name;
        EXPECT_EQ(ethBlock.counts[i], std::optional<std::uint32_t>(fixed[i]))
            << ops::kEthernetCounters[i].name;
    }
    EXPECT_EQ(ethOneCommands, 15u);
    EXPECT_EQ(ethBlockCommands, 8u);
    for (const CounterDelivery& d : m_sim->TakeCounterDeliveries())
        EXPECT_TRUE(d.intact) << std::hex << d.address;
}

} // namespace
} // namespace tessor::sim
