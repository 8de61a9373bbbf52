// tessor-cli fleet list as a process: the boards the shipped inventory and --limit select, and exit 2 with
// the file, line and reason for an inventory or a --limit that cannot be used.
#include "support/ChildProcess.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <fstream>

namespace {

using tessor::testsupport::Environment;
using tessor::testsupport::RunProgram;
using tessor::testsupport::RunResult;

RunResult Cli(std::vector<std::string> args) {
    args.insert(args.begin(), TESSOR_CLI_PATH);
    return RunProgram(args, "/dev/null", Environment(), 30000);
}

TEST(FleetCli, ListPrintsTheSelectedBoards) {
    const RunResult run =
        Cli({"fleet", "list", "--inventory", TESSOR_EXAMPLE_INVENTORY, "--limit", "harbour"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("BOARD"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("harbour-cab1-b  Harbour Depot  rfc2217://127.0.0.1:7202  nt"), std::string::npos)
        << run.out;
    EXPECT_EQ(run.out.find("north"), std::string::npos) << run.out;
}

TEST(FleetCli, ListAsJson) {
    const RunResult run = Cli(
        {"fleet", "list", "--inventory", TESSOR_EXAMPLE_INVENTORY, "--limit", "*cab1*,!harbour", "--json"});
    ASSERT_EQ(run.status, 0) << run.err;
    const nlohmann::json doc = nlohmann::json::parse(run.out);
    ASSERT_EQ(doc["boards"].size(), 2u) << run.out;
    const nlohmann::json& board = doc["boards"][0];
    EXPECT_EQ(board["board"], "north-cab1-a");
    EXPECT_EQ(board["site"], "North");
    EXPECT_EQ(board["port"], "rfc2217://127.0.0.1:7101");
    EXPECT_EQ(board["side"], "lt");
    EXPECT_TRUE(board["config"].is_null());
    EXPECT_EQ(doc["boards"][1]["board"], "north-cab1-b");
}

TEST(FleetCli, BadInventoryIsBadUsageWithItsLine) {
    const std::string path = testing::TempDir() + "fleet-bad-inventory.yaml";
    std::ofstream(path)
        << "all:\n  hosts:\n    a: {tessor_port: /dev/ttyS0}\n    b: {tessor_port: /dev/ttyS0}\n";
    const RunResult run = Cli({"fleet", "list", "--inventory", path});
    std::remove(path.c_str());
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find(path + ":4: boards a and b are both on /dev/ttyS0"), std::string::npos) << run.err;
    EXPECT_TRUE(run.out.empty()) << run.out;
}

TEST(FleetCli, LimitMatchingNothingIsBadUsage) {
    const RunResult run = Cli({"fleet", "list", "--inventory", TESSOR_EXAMPLE_INVENTORY, "--limit", "south"});
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("--limit south: no group or board"), std::string::npos) << run.err;
}

TEST(FleetCli, InventoryIsRequired) {
    const RunResult run = Cli({"fleet", "list"});
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("--inventory"), std::string::npos) << run.err;
}

} // namespace
