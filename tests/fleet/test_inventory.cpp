// The inventory reader: which variables each board ends with, which files are refused and at which line, and
// which boards a --limit pattern selects.
#include "fleet/Inventory.h"

#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>

namespace tessor::fleet {
namespace {

const char* const kPath = "/srv/fleet/inventory.yaml";

Inventory Parse(const std::string& yaml) {
    Inventory inventory;
    InventoryError error;
    EXPECT_TRUE(ParseInventory(yaml, kPath, &inventory, &error)) << InventoryErrorText(error);
    return inventory;
}

const Board& Find(const Inventory& inventory, const std::string& name) {
    for (const Board& board : inventory.boards) {
        if (board.name == name)
            return board;
    }
    static const Board none;
    ADD_FAILURE() << "no board " << name;
    return none;
}

// One board's expected result; "-" for a value that is not set.
struct Expected {
    const char* board;
    const char* site;
    const char* port;
    const char* side;
    const char* config;
};

struct ValidCase {
    const char* name;
    const char* yaml;
    std::vector<Expected> boards; // in the file's order
};

std::string Or(const std::optional<std::string>& value) {
    return value ? *value : "-";
}

const std::vector<ValidCase> kValid{
    {"HostOverGroupOverAll",
     "all:\n"
     "  vars: {tessor_side: lt, tessor_config: all.LT}\n"
     "  children:\n"
     "    north:\n"
     "      vars: {tessor_config: north.LT}\n"
     "      hosts:\n"
     "        a: {tessor_port: /dev/ttyUSB0}\n"
     "        b: {tessor_port: /dev/ttyUSB1, tessor_side: nt, tessor_config: /etc/b.NT}\n"
     "  hosts:\n"
     "    c: {tessor_port: /dev/ttyUSB2}\n",
     {{"a", "north", "/dev/ttyUSB0", "lt", "/srv/fleet/north.LT"},
      {"b", "north", "/dev/ttyUSB1", "nt", "/etc/b.NT"},
      {"c", "ungrouped", "/dev/ttyUSB2", "lt", "/srv/fleet/all.LT"}}},
    {"NearerGroupOverFartherAndInnermostIsTheSite",
     "all:\n"
     "  children:\n"
     "    site:\n"
     "      vars: {tessor_config: site.LT, tessor_port: 'rfc2217://10.0.0.1:7001'}\n"
     "      children:\n"
     "        cab:\n"
     "          vars: {tessor_config: ../cab.LT}\n"
     "          hosts: {a: }\n",
     {{"a", "cab", "rfc2217://10.0.0.1:7001", "-", "/srv/cab.LT"}}},
    {"SameDepthLaterNameWins",
     "all:\n"
     "  children:\n"
     "    zeta:\n"
     "      vars: {tessor_config: zeta.LT}\n"
     "      hosts: {a: {tessor_port: /dev/ttyS0}}\n"
     "    alpha:\n"
     "      vars: {tessor_config: alpha.LT}\n"
     "      hosts: {a: }\n",
     {{"a", "zeta", "/dev/ttyS0", "-", "/srv/fleet/zeta.LT"}}},
    {"GroupPriorityOverName",
     "all:\n"
     "  children:\n"
     "    zeta:\n"
     "      vars: {tessor_config: zeta.LT}\n"
     "      hosts: {a: {tessor_port: /dev/ttyS0}}\n"
     "    alpha:\n"
     "      vars: {tessor_config: alpha.LT, ansible_group_priority: 10}\n"
     "      hosts: {a: }\n",
     {{"a", "alpha", "/dev/ttyS0", "-", "/srv/fleet/alpha.LT"}}},
    {"DeeperGroupWinsWhereverItIsListed",
     // cab is under site (depth 2) and directly under all as well: its depth is the longest path.
     "all:\n"
     "  children:\n"
     "    cab:\n"
     "      hosts: {a: {tessor_port: 'socket://[::1]:7001'}}\n"
     "    site:\n"
     "      vars: {tessor_site: Site One}\n"
     "      children:\n"
     "        cab: {vars: {tessor_site: Cabinet}}\n"
     "    other:\n"
     "      vars: {tessor_site: Other}\n"
     "      hosts: {a: }\n",
     {{"a", "Cabinet", "socket://[::1]:7001", "-", "-"}}},
    {"TopLevelGroupsBelongToAllAndOtherVariablesAreIgnored",
     "north:\n"
     "  vars: {ansible_host: 10.0.0.9, tessor_side: NT}\n"
     "  hosts:\n"
     "    a: {tessor_port: /dev/ttyS0, ansible_user: root, description: [x, y]}\n"
     "all:\n"
     "  vars: {tessor_criteria: crit.txt}\n",
     {{"a", "north", "/dev/ttyS0", "nt", "-"}}},
};

void PrintTo(const ValidCase& c, std::ostream* os) {
    *os << c.name;
}

class ValidInventory : public ::testing::TestWithParam<ValidCase> {};

TEST_P(ValidInventory, BoardsGetTheirVariables) {
    const Inventory inventory = Parse(GetParam().yaml);
    ASSERT_EQ(inventory.boards.size(), GetParam().boards.size());
    for (std::size_t i = 0; i < inventory.boards.size(); ++i) {
        const Board& board = inventory.boards[i];
        const Expected& expected = GetParam().boards[i];
        EXPECT_EQ(board.name, expected.board);
        EXPECT_EQ(board.site, expected.site) << board.name;
        EXPECT_EQ(board.port, expected.port) << board.name;
        EXPECT_EQ(board.side ? BoardSideName(*board.side) : "-", std::string(expected.side)) << board.name;
        EXPECT_EQ(Or(board.config), expected.config) << board.name;
    }
}

INSTANTIATE_TEST_SUITE_P(Fleet, ValidInventory, ::testing::ValuesIn(kValid),
                         [](const auto& param) { return std::string(param.param.name); });

TEST(Inventory, OptionalValuesAndMemberships) {
    const Inventory inventory = Parse("all:\n"
                                      "  vars: {tessor_criteria: crit/lt.txt}\n"
                                      "  children:\n"
                                      "    site:\n"
                                      "      children:\n"
                                      "        cab:\n"
                                      "          hosts:\n"
                                      "            a:\n"
                                      "              tessor_port: /dev/ttyS0\n"
                                      "              tessor_snr_baseline_db: 41.5\n"
                                      "              tessor_console_listen: '[::1]:7401'\n"
                                      "            b: {tessor_port: /dev/ttyS1}\n");
    const Board& a = Find(inventory, "a");
    EXPECT_EQ(Or(a.criteria), "/srv/fleet/crit/lt.txt");
    ASSERT_TRUE(a.snrBaselineDb.has_value());
    EXPECT_DOUBLE_EQ(*a.snrBaselineDb, 41.5);
    EXPECT_EQ(Or(a.consoleListen), "[::1]:7401");
    EXPECT_EQ(a.groups, (std::set<std::string>{"all", "site", "cab"}));
    EXPECT_EQ(a.line, 8);
    const Board& b = Find(inventory, "b");
    EXPECT_FALSE(b.snrBaselineDb.has_value());
    EXPECT_FALSE(b.consoleListen.has_value());
    EXPECT_EQ(Or(b.config), "-");
}

TEST(Inventory, RelativeFilesFollowTheInventorysFolder) {
    Inventory inventory;
    InventoryError error;
    ASSERT_TRUE(ParseInventory("all: {hosts: {a: {tessor_port: /dev/ttyS0, tessor_config: c/a.LT}}}",
                               "inventory.yaml", &inventory, &error));
    EXPECT_EQ(Or(inventory.boards[0].config), "c/a.LT");
    ASSERT_TRUE(ParseInventory("all: {hosts: {a: {tessor_port: /dev/ttyS0, tessor_config: c/a.LT}}}",
                               "sites/inventory.yaml", &inventory, &error));
    EXPECT_EQ(Or(inventory.boards[0].config), "sites/c/a.LT");
}

struct InvalidCase {
    const char* name;
    const char* yaml;
    int line; // 0: the file as a whole
    const char* reason;
};

const std::vector<InvalidCase> kInvalid{
    {"NoPort", "all:\n  hosts:\n    a: {tessor_side: lt}\n", 3, "board a has no tessor_port"},
    {"TwoBoardsOnOnePort",
     "all:\n  hosts:\n    a: {tessor_port: 'rfc2217://Srv:7001'}\n    b:\n      tessor_port: "
     "socket://srv:7001\n",
     5, "boards a and b are both on socket://srv:7001"},
    {"TwoBoardsInheritOnePort",
     "all:\n  children:\n    g:\n      vars:\n        tessor_port: /dev/ttyS0\n      hosts: {a: , b: }\n", 5,
     "boards a and b are both on /dev/ttyS0"},
    {"UnknownTessorVariable", "all:\n  vars:\n    tessor_prot: /dev/ttyS0\n", 3,
     "unknown variable tessor_prot"},
    {"MalformedNetworkPort", "all:\n  hosts:\n    a:\n      tessor_port: rfc2217://host\n", 4,
     "no port number after the host"},
    {"RelativeDevice", "all:\n  hosts:\n    a: {tessor_port: ttyUSB0}\n", 3, "a port is a device path"},
    {"BadSide", "all:\n  hosts:\n    a: {tessor_port: /dev/ttyS0,\n        tessor_side: both}\n", 4,
     "a side is lt or nt"},
    {"BadBaseline", "all:\n  hosts:\n    a: {tessor_port: /dev/ttyS0, tessor_snr_baseline_db: high}\n", 3,
     "tessor_snr_baseline_db high"},
    {"BadListen", "all:\n  hosts:\n    a: {tessor_port: /dev/ttyS0, tessor_console_listen: '127.0.0.1:0'}\n",
     3, "an address is ADDR:PORT"},
    {"OverriddenBadValueStillReported",
     "all:\n  vars:\n    tessor_side: up\n  hosts:\n    a: {tessor_port: /dev/ttyS0, tessor_side: lt}\n", 3,
     "tessor_side up"},
    {"ListValue", "all:\n  hosts:\n    a:\n      tessor_port: [/dev/ttyS0]\n", 4,
     "tessor_port needs a single value"},
    {"UnknownGroupKey", "all:\n  children:\n    g:\n      host:\n        a: {tessor_port: /dev/ttyS0}\n", 4,
     "group g holds host"},
    {"HostsAList", "all:\n  hosts:\n    - a\n", 3, "the hosts of group all are not a mapping"},
    {"HostListedTwice",
     "all:\n  hosts:\n    a: {tessor_port: /dev/ttyS0}\n    a: {tessor_port: /dev/ttyS1}\n", 4,
     "a is listed twice"},
    {"GroupCycle",
     "all:\n  children:\n    g:\n      children:\n        h:\n          children:\n            g:\n", 3,
     "group g is among its own children"},
    {"AllAsChild", "all:\n  children:\n    g:\n      children:\n        all:\n", 5, "cannot be a child"},
    {"GroupAndBoardShareAName",
     "all:\n  children:\n    g:\n      hosts:\n        g: {tessor_port: /dev/ttyS0}\n", 5,
     "g names both a group and a board"},
    {"BadGroupPriority",
     "all:\n  children:\n    g:\n      vars:\n        ansible_group_priority: high\n      hosts: {a: "
     "{tessor_port: /dev/ttyS0}}\n",
     5, "ansible_group_priority of group g is not a whole number"},
    {"HostRange", "all:\n  hosts:\n    cab[1:4]: {tessor_port: /dev/ttyS0}\n", 3, "host ranges are not read"},
    {"NoBoards", "all:\n  vars: {tessor_side: lt}\n", 1, "lists no board"},
    {"EmptyFile", "", 0, "the file is empty"},
    {"NotAMapping", "- all\n- hosts\n", 1, "not an inventory"},
    {"NotYaml", "all:\n  hosts: {a: [\n", 3, "not YAML"},
    {"TwoDocuments", "all: {hosts: {a: {tessor_port: /dev/ttyS0}}}\n---\nall:\n", 3, "one YAML document"},
};

void PrintTo(const InvalidCase& c, std::ostream* os) {
    *os << c.name;
}

class InvalidInventory : public ::testing::TestWithParam<InvalidCase> {};

TEST_P(InvalidInventory, IsRefusedAtItsLine) {
    Inventory inventory;
    InventoryError error;
    ASSERT_FALSE(ParseInventory(GetParam().yaml, kPath, &inventory, &error));
    EXPECT_EQ(error.file, kPath);
    EXPECT_EQ(error.line.value_or(0), GetParam().line) << error.reason;
    EXPECT_NE(error.reason.find(GetParam().reason), std::string::npos) << error.reason;
    const std::string where =
        std::string(kPath) + (GetParam().line ? ":" + std::to_string(GetParam().line) : std::string()) + ": ";
    EXPECT_EQ(InventoryErrorText(error).rfind(where, 0), 0u) << InventoryErrorText(error);
}

INSTANTIATE_TEST_SUITE_P(Fleet, InvalidInventory, ::testing::ValuesIn(kInvalid),
                         [](const auto& param) { return std::string(param.param.name); });

TEST(Inventory, UnreadableFileIsNamed) {
    Inventory inventory;
    InventoryError error;
    ASSERT_FALSE(ReadInventory("/nonexistent/inventory.yaml", &inventory, &error));
    EXPECT_EQ(InventoryErrorText(error).rfind("/nonexistent/inventory.yaml: cannot be read: ", 0), 0u)
        << InventoryErrorText(error);
}

// Selections from the shipped example.
struct LimitCase {
    const char* pattern;
    const char* boards; // the selected boards, space-separated; empty: refused
    const char* reason; // part of the refusal
};

const std::vector<LimitCase> kLimits{
    {"all", "north-cab1-a north-cab1-b north-cab2-a harbour-cab1-a harbour-cab1-b quarry-a", ""},
    {"*", "north-cab1-a north-cab1-b north-cab2-a harbour-cab1-a harbour-cab1-b quarry-a", ""},
    {"north", "north-cab1-a north-cab1-b north-cab2-a", ""},
    {"quarry-a", "quarry-a", ""},
    {"*cab1*", "north-cab1-a north-cab1-b harbour-cab1-a harbour-cab1-b", ""},
    {"north-cab?-a", "north-cab1-a north-cab2-a", ""},
    {"quarry,harbour-cab1-b", "harbour-cab1-b quarry-a", ""},
    {"quarry:harbour-cab1-b", "harbour-cab1-b quarry-a", ""},
    {"north, quarry", "north-cab1-a north-cab1-b north-cab2-a quarry-a", ""},
    {"north,!north_cab2", "north-cab1-a north-cab1-b", ""},
    {"!north_cab2,north", "north-cab1-a north-cab1-b", ""},
    {"!north", "harbour-cab1-a harbour-cab1-b quarry-a", ""},
    {"exchange_side,&harbour", "harbour-cab1-a harbour-cab1-b", ""},
    {"&exchange_side,!*-b", "north-cab1-a harbour-cab1-a", ""},
    {"north,harbour,&exchange_side,!north-cab1-b", "north-cab1-a harbour-cab1-a harbour-cab1-b", ""},
    {"ungrouped", "", "no group or board"},
    {"south", "", "--limit south: no group or board of"},
    {"north,!cab9", "", "--limit cab9: no group or board"},
    {"north,&quarry", "", "selects no board"},
    {"", "", "--limit is empty"},
    {",", "", "--limit is empty"},
    {"!", "", "a part is a group or board name"},
    {"north[0]", "", "a part is a group or board name"},
    {"~north.*", "", "a part is a group or board name"},
};

void PrintTo(const LimitCase& c, std::ostream* os) {
    *os << '"' << c.pattern << '"';
}

class Limit : public ::testing::TestWithParam<LimitCase> {};

TEST_P(Limit, SelectsAsTheRunnersDo) {
    Inventory inventory;
    InventoryError error;
    ASSERT_TRUE(ReadInventory(TESSOR_EXAMPLE_INVENTORY, &inventory, &error)) << InventoryErrorText(error);
    std::vector<Board> selected;
    std::string why;
    const bool ok = SelectBoards(inventory, GetParam().pattern, &selected, &why);
    std::string names;
    for (const Board& board : selected)
        names += (names.empty() ? "" : " ") + board.name;
    if (std::string(GetParam().boards).empty()) {
        EXPECT_FALSE(ok) << names;
        EXPECT_NE(why.find(GetParam().reason), std::string::npos) << why;
    } else {
        EXPECT_TRUE(ok) << why;
        EXPECT_EQ(names, GetParam().boards);
    }
}

// A case's name: its index and its pattern's letters and digits (the other characters are not allowed).
std::string LimitName(const ::testing::TestParamInfo<LimitCase>& param) {
    std::string name = "Case" + std::to_string(param.index) + "_";
    for (const char c : std::string(param.param.pattern))
        name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    return name;
}

INSTANTIATE_TEST_SUITE_P(Fleet, Limit, ::testing::ValuesIn(kLimits), LimitName);

TEST(Inventory, ExampleSitesAndFiles) {
    Inventory inventory;
    InventoryError error;
    ASSERT_TRUE(ReadInventory(TESSOR_EXAMPLE_INVENTORY, &inventory, &error)) << InventoryErrorText(error);
    std::set<std::string> sites;
    for (const Board& board : inventory.boards)
        sites.insert(board.site);
    EXPECT_EQ(sites, (std::set<std::string>{"North", "Harbour Depot", "quarry"}));
    const Board& b = Find(inventory, "harbour-cab1-b");
    EXPECT_EQ(b.side ? BoardSideName(*b.side) : "-", std::string("nt"));
    ASSERT_TRUE(b.criteria.has_value());
    EXPECT_TRUE(std::filesystem::is_regular_file(*b.criteria)) << *b.criteria;
}

} // namespace
} // namespace tessor::fleet
