// The living line: drift, RS error bursts, drops, a held-down line and the faster clock.
#include "SimTestSupport.h"

#include "sim/PtyServer.h"
#include "sim/SimRegisters.h"

#include <gtest/gtest.h>

#include <chrono>
#include <sstream>
#include <thread>
#include <vector>

namespace tessor::sim {
namespace {

using test::TestConfig;
constexpr auto kLocalModem = CSimModemPair::kLocal;

std::uint32_t LocalErrorValue(const CSimModemPair& pair) {
    return static_cast<std::uint32_t>(pair.PeekRegister(kLocalModem, reg::kErrorValue)) |
           static_cast<std::uint32_t>(pair.PeekRegister(kLocalModem, reg::kErrorValue + 1)) << 8 |
           static_cast<std::uint32_t>(pair.PeekRegister(kLocalModem, reg::kErrorValue + 2)) << 16;
}

// The error value once a minute for an hour.
std::vector<std::uint32_t> HourOfErrorValues(SimConfig config) {
    CSimModemPair pair(config);
    std::vector<std::uint32_t> values;
    for (int minute = 0; minute < 60; ++minute) {
        pair.AdvanceTime(60000);
        values.push_back(LocalErrorValue(pair));
    }
    return values;
}

TEST(SimLineLife, DriftIsRepeatableFromTheSeedAndLeavesTheFlatLineAlone) {
    SimConfig flat = TestConfig();
    SimConfig drifting = flat;
    drifting.life.drift = true;
    drifting.life.driftDb = 3;
    const auto flatValues = HourOfErrorValues(flat);
    const auto first = HourOfErrorValues(drifting);
    EXPECT_EQ(first, HourOfErrorValues(drifting));
    SimConfig otherSeed = drifting;
    otherSeed.seed = 99;
    EXPECT_NE(first, HourOfErrorValues(otherSeed));
    // The flat line keeps within its jitter of 0.3 dB around 36.5 dB; the drift wanders well beyond it.
    const auto [flatMin, flatMax] = std::minmax_element(flatValues.begin(), flatValues.end());
    const auto [min, max] = std::minmax_element(first.begin(), first.end());
    EXPECT_LT(static_cast<double>(*flatMax) / *flatMin, 1.2);
    EXPECT_GT(static_cast<double>(*max) / *min, 1.5);
}

TEST(SimLineLife, BurstDropAndCut) {
    CSimModemPair pair(TestConfig(kSideLT, 3000));
    pair.AdvanceTime(3000);
    ASSERT_TRUE(pair.IsLineUp());
    pair.ReadRegister(kLocalModem, reg::kRsCorrected); // clear
    pair.AdvanceTime(10000);
    const std::uint32_t quiet = pair.Counter(kLocalModem, reg::kRsCorrected);
    pair.ReadRegister(kLocalModem, reg::kRsCorrected);
    pair.StartBurst(10);
    pair.AdvanceTime(10000);
    const std::uint32_t burst = pair.Counter(kLocalModem, reg::kRsCorrected);
    EXPECT_LE(quiet, 12u);
    EXPECT_GE(burst, 10u * 40 * 7 / 10);

    // A drop counts a link failure and retrains.
    pair.DropLine();
    EXPECT_FALSE(pair.IsLineUp());
    EXPECT_EQ(pair.PeekRegister(kLocalModem, reg::kLinkFailCount), 1);
    pair.AdvanceTime(3000);
    EXPECT_TRUE(pair.IsLineUp());

    // A cut line stays down, without signal, until restored; then it trains again.
    pair.SetLineCut(true);
    pair.AdvanceTime(60000);
    EXPECT_FALSE(pair.IsLineUp());
    EXPECT_EQ(pair.PeekRegister(kLocalModem, reg::kLineStatus), 0);
    EXPECT_EQ(pair.PeekRegister(kLocalModem, reg::kLinkFailCount), 2);
    pair.SetLineCut(false);
    pair.AdvanceTime(3000);
    EXPECT_TRUE(pair.IsLineUp());
}

TEST(SimLineLife, RandomDropsFollowTheirRate) {
    SimConfig config = TestConfig();
    config.life.dropsPerHour = 60;
    CSimModemPair pair(config);
    pair.AdvanceTime(3600 * 1000);
    const int drops = pair.PeekRegister(kLocalModem, reg::kLinkFailCount);
    EXPECT_GT(drops, 30);
    EXPECT_LT(drops, 100);
}

TEST(SimLineLife, ClockScaleSpeedsUpSimulatedTime) {
    SimConfig config;
    config.clockScale = 1000;
    CSimModemPair pair(config);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_GE(pair.NowMs(), 20000u);
}

TEST(SimLineLife, ControlCommandsSwitchItWhileRunning) {
    PtyServerOptions options;
    options.readStdin = false;
    std::ostringstream log;
    CPtyServer server(options, log);
    std::string reply;
    for (const char* command :
         {"drift on", "burst 20", "bursts 6", "drops 2", "drop", "cut on", "cut off", "drift off", "drops 0",
          "reply 8C99 error", "reply off", "count 8CF8 1", "count 8CF8 off", "drop 3"})
        EXPECT_TRUE(server.Control(command, &reply)) << command << ": " << reply;
    EXPECT_FALSE(server.Control("burst 0", &reply));
    EXPECT_FALSE(server.Control("drops -1", &reply));
    EXPECT_FALSE(server.Control("reply 8C99 garbage", &reply));
    EXPECT_FALSE(server.Control("count 8C92 1", &reply));
}

} // namespace
} // namespace tessor::sim
