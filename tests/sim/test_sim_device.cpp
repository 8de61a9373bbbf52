// The in-memory serial device: synchronous answers, the traffic recorder, interrupt, purge and hang-up.
#include "SimTestSupport.h"

#include "sim/SimSerialDevice.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <thread>

namespace tessor::sim {
namespace {

IoResult WriteText(SerialDevice& device, const std::string& text) {
    return device.Write(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

// Reads exactly n bytes (each Read may return fewer).
std::string ReadBytes(SerialDevice& device, std::size_t n) {
    std::string out;
    std::uint8_t buffer[64];
    while (out.size() < n) {
        const IoResult r = device.Read(buffer, std::min(sizeof buffer, n - out.size()));
        if (!r.ok()) {
            break;
        }
        out.append(reinterpret_cast<const char*>(buffer), r.count);
    }
    return out;
}

class SimDevice : public ::testing::Test {
protected:
    std::shared_ptr<CSimulator> m_sim = std::make_shared<CSimulator>(test::TestConfig());
    std::unique_ptr<SerialDevice> m_device = CSimulator::CreateDevice(m_sim);
};

TEST_F(SimDevice, CompleteLineIsAnsweredWithinWrite) {
    const IoResult w = WriteText(*m_device, "RD 8C10\n");
    ASSERT_TRUE(w.ok());
    EXPECT_EQ(w.count, 8u);
    const std::string expected = "RD 8C10\n\r8C10: 32\n\rL>";
    ASSERT_EQ(m_sim->PendingBytes(), expected.size());
    EXPECT_EQ(ReadBytes(*m_device, expected.size()), expected);
    EXPECT_EQ(m_sim->PendingBytes(), 0u);
}

TEST_F(SimDevice, ByteByByteWritesEchoAsTheyComeAndAnswerAtTheLineEnd) {
    for (char c : std::string("WR 8C12 66")) {
        ASSERT_TRUE(WriteText(*m_device, std::string(1, c)).ok());
    }
    EXPECT_EQ(ReadBytes(*m_device, 10), "WR 8C12 66");
    EXPECT_EQ(m_sim->PendingBytes(), 0u);
    ASSERT_TRUE(WriteText(*m_device, "\n").ok());
    EXPECT_EQ(ReadBytes(*m_device, 5), "\n\n\rL>");
    EXPECT_EQ(m_sim->PeekLocal(0x8C12), 0x66);
}

TEST_F(SimDevice, RecordsTheTrafficBothWays) {
    WriteText(*m_device, "RD 8C71\n");
    WriteText(*m_device, "ND 8C00 7F\n");
    const std::vector<WireEvent> log = m_sim->WireLog();
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(log[0].direction, WireEvent::ToBoard);
    EXPECT_EQ(log[0].bytes, "RD 8C71\n");
    EXPECT_EQ(log[1].direction, WireEvent::FromBoard);
    EXPECT_EQ(log[1].bytes, "RD 8C71\n\r8C71: AE\n\rL>");
    EXPECT_EQ(m_sim->BytesToBoard(), "RD 8C71\nND 8C00 7F\n");
    EXPECT_EQ(m_sim->BytesFromBoard(), "RD 8C71\n\r8C71: AE\n\rL>ND 8C00 7F\n\n\rL>");
    EXPECT_FALSE(m_sim->IsLineUp());
    m_sim->ClearWireLog();
    EXPECT_TRUE(m_sim->WireLog().empty());
}

TEST_F(SimDevice, PurgeDropsUnreadAnswers) {
    WriteText(*m_device, "RD 8C10\n");
    ASSERT_GT(m_sim->PendingBytes(), 0u);
    EXPECT_TRUE(m_device->Purge());
    EXPECT_EQ(m_sim->PendingBytes(), 0u);
    WriteText(*m_device, "RD 8C11\n");
    EXPECT_EQ(ReadBytes(*m_device, 7), "RD 8C11");
}

TEST_F(SimDevice, InterruptWakesABlockedReaderAndStaysInForce) {
    IoResult result;
    std::thread reader([&] {
        std::uint8_t byte;
        result = m_device->Read(&byte, 1);
    });
    m_device->Interrupt();
    reader.join();
    EXPECT_EQ(result.status, IoResult::Interrupted);
    WriteText(*m_device, "RD 8C10\n");
    std::uint8_t byte;
    EXPECT_EQ(m_device->Read(&byte, 1).status, IoResult::Interrupted);
    // Another client end of the same line is not affected.
    auto second = CSimulator::CreateDevice(m_sim);
    EXPECT_EQ(ReadBytes(*second, 2), "RD");
}

TEST_F(SimDevice, HangUpFailsBlockedAndLaterCallsWithEio) {
    IoResult result;
    std::thread reader([&] {
        std::uint8_t byte;
        result = m_device->Read(&byte, 1);
    });
    m_sim->HangUp();
    reader.join();
    EXPECT_EQ(result.status, IoResult::HungUp);
    EXPECT_EQ(result.errorCode, EIO);
    const IoResult w = WriteText(*m_device, "RD 8C10\n");
    EXPECT_EQ(w.status, IoResult::HungUp);
    EXPECT_EQ(w.errorCode, EIO);
    EXPECT_FALSE(m_device->Purge());
    EXPECT_EQ(m_sim->BytesToBoard(), "") << "nothing reaches a hung-up board";
}

TEST_F(SimDevice, FaultSwitchesReachTheConsole) {
    m_sim->InjectNoise(6);
    EXPECT_EQ(m_sim->PendingBytes(), 6u);
    m_device->Purge();
    m_sim->CorruptNextEcho();
    WriteText(*m_device, "RD 8C10\n");
    const std::string corrupted = ReadBytes(*m_device, 21);
    EXPECT_NE(corrupted, "RD 8C10\n\r8C10: 32\n\rL>");
    EXPECT_EQ(corrupted.substr(1), "D 8C10\n\r8C10: 32\n\rL>");
    m_sim->SetSilent(true);
    WriteText(*m_device, "RD 8C10\n");
    EXPECT_EQ(m_sim->PendingBytes(), 0u);
    m_sim->SetSilent(false);
    EXPECT_EQ(ReadBytes(*m_device, 4), "\n\rL>");
}

TEST_F(SimDevice, DelayedAnswerArrivesWhole) {
    m_sim->SetReplyDelayMs(30);
    WriteText(*m_device, "RD 8C10\n");
    const std::string expected = "RD 8C10\n\r8C10: 32\n\rL>";
    EXPECT_EQ(ReadBytes(*m_device, expected.size()), expected);
}

} // namespace
} // namespace tessor::sim
