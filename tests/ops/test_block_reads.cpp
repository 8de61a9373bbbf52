// Reads of a sequence as runs of consecutive registers: which reads share a command, and that each read
// keeps its own value and outcome.
#include "ScriptedBus.h"

#include "ops/BlockReads.h"
#include "ops/ConfigFiles.h"
#include "ops/EthernetPass.h"

#include <gtest/gtest.h>

namespace tessor::opstest {
namespace {

using Lines = std::vector<std::string>;

struct PlanCase {
    const char* name;
    std::vector<ops::RegisterRead> reads;
    Lines lines; // the commands the reads go out as, with block reads
};

class PlanTest : public ::testing::TestWithParam<PlanCase> {};

TEST_P(PlanTest, NeighbouringRunsShareACommand) {
    const PlanCase& c = GetParam();
    CScriptedBus bus;
    for (const ops::ReadBlock& block : ops::PlanReads(c.reads, true))
        ops::ReadBlockOnce(bus, c.reads, block);
    EXPECT_EQ(bus.lines, c.lines);
}

INSTANTIATE_TEST_SUITE_P(
    Plans, PlanTest,
    ::testing::Values(
        PlanCase{"Upwards", {{"8C40", 1}, {"8C41", 1}, {"8C42", 2}}, {"RD 8C40,4"}},
        PlanCase{"Downwards", {{"8D18", 4}, {"8D14", 4}}, {"RD 8D14,8"}},
        PlanCase{"AGapSplits", {{"8C40", 1}, {"8C42", 2}, {"8C41", 1}}, {"RD 8C40", "RD 8C41,3"}},
        PlanCase{"AnOverlapSplits", {{"8C40", 2}, {"8C41", 1}}, {"RD 8C40,2", "RD 8C41"}},
        PlanCase{"EightFit", {{"8CF0", 4}, {"8CF4", 4}}, {"RD 8CF0,8"}},
        PlanCase{"NineDoNot", {{"8C98", 1}, {"8C99", 4}, {"8C9D", 4}}, {"RD 8C98,5", "RD 8C9D,4"}},
        PlanCase{"ALoneReadIsItsOwnCommand", {{"8C71", 1}, {"8C99", 3}}, {"RD 8C71", "RD 8C99,3"}}),
    [](const auto& p) { return std::string(p.param.name); });

// A block that comes back garbled makes each read in it garbled, with no value; a save stops at the
// block's first register.
TEST(BlockReads, AGarbledBlockIsAGarbledReadForEachOfItsRegisters) {
    CScriptedBus bus;
    bus.fail = [](std::size_t, const std::string& line) -> std::optional<Outcome> {
        return line == "RD 8D14,8" ? std::optional<Outcome>(Outcome::Garbled) : std::nullopt;
    };
    const ops::EthernetPass pass = ops::RunEthernetPass(bus, {}, true);
    EXPECT_TRUE(pass.complete);
    for (const int counter : {kCounterTxPauseFrames, kCounterRxPauseFrames}) {
        EXPECT_EQ(pass.raw[static_cast<std::size_t>(counter)].outcome, Outcome::Garbled) << counter;
        EXPECT_FALSE(pass.counts[static_cast<std::size_t>(counter)].has_value()) << counter;
    }
    EXPECT_EQ(pass.counts[kCounterTxFrames], std::optional<std::uint32_t>(0));

    CScriptedBus saver;
    saver.fail = [](std::size_t, const std::string& line) -> std::optional<Outcome> {
        return line == "RD 8C48,8" ? std::optional<Outcome>(Outcome::Garbled) : std::nullopt;
    };
    const ops::SaveRead save = ops::ReadConfiguration(saver, kSideLT, true);
    EXPECT_FALSE(save.ok);
    EXPECT_EQ(save.failedIndex, 8u);
    EXPECT_EQ(save.failure.outcome, Outcome::Garbled);
}

} // namespace
} // namespace tessor::opstest
