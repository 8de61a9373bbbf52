// tessor-cli with --block-reads against the same simulator as without: the same registers, file, verdict
// and status, in fewer commands.

#include "cli/CliTestSupport.h"
#include "model/ConfigFile.h"

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace tessor::clitest {
namespace {

using Commands = std::vector<std::string>;

struct CliOutcome {
    RunResult result;
    Commands commands;
};

CliOutcome CliRun(const SimPty& sim, const std::vector<std::string>& args) {
    sim.ClearWire();
    CliOutcome run;
    run.result = sim.Cli(args);
    run.commands = sim.Commands();
    return run;
}

TEST(CliBlockReads, SaveVerifyAndStatusAsWithSingleReads) {
    SimPty sim;
    ASSERT_TRUE(sim.Ready());
    const std::string one = sim.Dir() + "/one.LT";
    const std::string block = sim.Dir() + "/block.LT";

    const CliOutcome saveOne = CliRun(sim, {"--json", "save", one});
    const CliOutcome saveBlock = CliRun(sim, {"--json", "save", "--block-reads", block});
    ASSERT_EQ(saveOne.result.status, 0) << saveOne.result.err;
    ASSERT_EQ(saveBlock.result.status, 0) << saveBlock.result.err;
    const nlohmann::json regsOne = nlohmann::json::parse(saveOne.result.out)["registers"];
    const nlohmann::json regsBlock = nlohmann::json::parse(saveBlock.result.out)["registers"];
    for (const std::string_view reg : kConfigRegisters)
        EXPECT_EQ(regsBlock[std::string(reg)], regsOne[std::string(reg)]) << reg;
    EXPECT_EQ(testsupport::ReadFile(block), testsupport::ReadFile(one));
    EXPECT_EQ(saveOne.commands.size(), 32u);
    EXPECT_EQ(saveBlock.commands, (Commands{"RD 8C70", "RD 8C40,8", "RD 8C48,8", "RD 8C50,2", "RD 8C60,2",
                                            "RD 8C66,2", "RD 8C6B", "RD 8D40,3", "RD 8D45,5"}));

    // The same verdict: equal, then, with one register changed, the same difference.
    for (const bool changed : {false, true}) {
        if (changed) {
            ASSERT_EQ(sim.Cli({"--yes", "write", "8D46", "5A"}).status, 0);
        }
        const CliOutcome verifyOne = CliRun(sim, {"--json", "verify", one});
        const CliOutcome verifyBlock = CliRun(sim, {"--json", "verify", "--block-reads", one});
        EXPECT_EQ(verifyOne.result.status, changed ? 7 : 0) << verifyOne.result.out;
        EXPECT_EQ(verifyBlock.result.status, verifyOne.result.status);
        EXPECT_EQ(nlohmann::json::parse(verifyBlock.result.out), nlohmann::json::parse(verifyOne.result.out));
        EXPECT_LT(verifyBlock.commands.size(), verifyOne.commands.size());
    }

    // Status: the same reads, but the runs of the link settings, the PHY pass and the identification
    // each go as one command.
    const CliOutcome statusOne = CliRun(sim, {"--json", "status"});
    const CliOutcome statusBlock = CliRun(sim, {"--json", "status", "--block-reads"});
    ASSERT_EQ(statusOne.result.status, 0);
    ASSERT_EQ(statusBlock.result.status, 0);
    std::string wire;
    for (const std::string& c : statusOne.commands)
        wire += c + "\n";
    const std::pair<std::string, std::string> runs[] = {
        {"RD 8C40\nRD 8C42,2\nRD 8C41\nRD 8C44,2\n", "RD 8C40\nRD 8C41,5\n"},
        {"RD 8C99,3\nRD 8C9C,2\n", "RD 8C99,5\n"},
        {"RD 8C72\nRD 8C73\n", "RD 8C72,2\n"}};
    for (const auto& [single, merged] : runs) {
        const std::size_t at = wire.find(single);
        ASSERT_NE(at, std::string::npos) << single;
        wire.replace(at, single.size(), merged);
    }
    std::string blockWire;
    for (const std::string& c : statusBlock.commands)
        blockWire += c + "\n";
    EXPECT_EQ(blockWire, wire);
    nlohmann::json docOne = nlohmann::json::parse(statusOne.result.out);
    nlohmann::json docBlock = nlohmann::json::parse(statusBlock.result.out);
    // The simulated line's SNR may move between the two runs; the rest of the document may not.
    docOne.erase("phy");
    docBlock.erase("phy");
    EXPECT_EQ(docBlock, docOne);
    std::remove(one.c_str());
    std::remove(block.c_str());
}

} // namespace
} // namespace tessor::clitest
