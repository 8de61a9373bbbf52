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

// The command's JSON document (its exit status in "status") and, in *wire, the commands it sent.
nlohmann::json Json(const SimPty& sim, std::vector<std::string> args, std::string* wire) {
    sim.ClearWire();
    args.insert(args.begin(), "--json");
    const RunResult run = sim.Cli(args);
    wire->clear();
    for (const std::string& c : sim.Commands())
        *wire += c + "\n";
    nlohmann::json doc = nlohmann::json::parse(run.out, nullptr, false);
    doc["status"] = run.status;
    return doc;
}

TEST(CliBlockReads, SaveVerifyAndStatusAsWithSingleReads) {
    SimPty sim;
    ASSERT_TRUE(sim.Ready());
    const std::string one = sim.Dir() + "/one.LT";
    const std::string block = sim.Dir() + "/block.LT";
    std::string wireOne;
    std::string wireBlock;
    const nlohmann::json saveOne = Json(sim, {"save", one}, &wireOne);
    const nlohmann::json saveBlock = Json(sim, {"save", "--block-reads", block}, &wireBlock);
    ASSERT_EQ(saveOne["status"], 0);
    for (const std::string_view reg : kConfigRegisters)
        EXPECT_EQ(saveBlock["registers"][std::string(reg)], saveOne["registers"][std::string(reg)]) << reg;
    EXPECT_EQ(testsupport::ReadFile(block), testsupport::ReadFile(one));
    EXPECT_EQ(wireBlock,
              "RD 8C70\nRD 8C40,8\nRD 8C48,8\nRD 8C50,2\nRD 8C60,2\nRD 8C66,2\nRD 8C6B\nRD 8D40,3\n"
              "RD 8D45,5\n");

    // The same verdict: equal, then, with one register changed, the same difference.
    for (const int verdict : {0, 7}) {
        if (verdict == 7) {
            ASSERT_EQ(sim.Cli({"--yes", "write", "8D46", "5A"}).status, 0);
        }
        const nlohmann::json verifyOne = Json(sim, {"verify", one}, &wireOne);
        EXPECT_EQ(verifyOne["status"], verdict);
        EXPECT_EQ(Json(sim, {"verify", "--block-reads", one}, &wireBlock), verifyOne);
        EXPECT_LT(wireBlock.size(), wireOne.size());
    }

    // Status: the same document (but the SNR, which may move) from the same reads, the runs of the link
    // settings, the PHY pass and the identification each one command.
    nlohmann::json statusOne = Json(sim, {"status"}, &wireOne);
    nlohmann::json statusBlock = Json(sim, {"status", "--block-reads"}, &wireBlock);
    statusOne.erase("phy");
    statusBlock.erase("phy");
    EXPECT_EQ(statusBlock, statusOne);
    for (const auto& [single, merged] :
         {std::pair<std::string, std::string>{"RD 8C40\nRD 8C42,2\nRD 8C41\nRD 8C44,2\n",
                                              "RD 8C40\nRD 8C41,5\n"},
          {"RD 8C99,3\nRD 8C9C,2\n", "RD 8C99,5\n"},
          {"RD 8C72\nRD 8C73\n", "RD 8C72,2\n"}}) {
        const std::size_t at = wireOne.find(single);
        ASSERT_NE(at, std::string::npos) << single;
        wireOne.replace(at, single.size(), merged);
    }
    EXPECT_EQ(wireBlock, wireOne);
    std::remove(one.c_str());
    std::remove(block.c_str());
}

} // namespace
} // namespace tessor::clitest
