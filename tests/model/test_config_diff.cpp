#include "model/ConfigDiff.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace tessor {
namespace {

constexpr int k25MHz = 2; // crystal index of 25.00 MHz

// A saved LT file: preset "10 M" (8C40..8C45), Ethernet port speed setup 2 (8D40 1E).
ConfigRegisterSet Saved(std::uint8_t side = kSideLT) {
    const std::map<std::string, std::uint8_t> bytes{
        {"8C40", 0x32}, {"8C41", 0x24}, {"8C42", 0x4F}, {"8C43", 0x00}, {"8C44", 0xE3}, {"8C45", 0x00},
        {"8C4E", 0x01}, {"8C47", 0xC9}, {"8C48", 0x01}, {"8C49", 0x6F}, {"8C4A", 0x8A}, {"8C4B", 0x4A},
        {"8C4C", 0x92}, {"8C4D", 0x06}, {"8C67", 0x05}, {"8D40", 0x1E}, {"8D41", 0xE1}, {"8D42", 0x00},
        {"8D45", 0xD0}, {"8D46", 0xCD}, {"8D47", 0xBF}, {"8D48", 0x00}, {"8D49", 0x80}};
    ConfigRegisterSet set;
    set.side = side;
    for (std::size_t i = 0; i < kConfigRegisterCount; ++i) {
        const auto it = bytes.find(std::string(kConfigRegisters[i]));
        set.values[i] = it == bytes.end() ? std::uint8_t{0} : it->second;
    }
    return set;
}

std::size_t IndexOf(const std::string& address) {
    for (std::size_t i = 0; i < kConfigRegisterCount; ++i) {
        if (kConfigRegisters[i] == address)
            return i;
    }
    ADD_FAILURE() << address << " is not a saved register";
    return 0;
}

struct Case {
    const char* address;
    std::uint8_t value;
    std::vector<std::string> words; // under the changed register, in page order
};

// Every register of a saved file changed once, with the Link Configuration page's texts at 25.00 MHz.
const std::vector<Case> kEveryRegister{
    {"8C40",
     0x22,
     {"DS Interpolation: 12 -> 8", "Downstream Line Rate: 12,50 Mbps -> 18,75 Mbps",
      "Standard Settings: 10 M -> none"}},
    {"8C41",
     0x2C,
     {"US Constellation: QAM 16 -> QAM 32", "Upstream Line Rate: 12,50 Mbps -> none",
      "Standard Settings: 10 M -> none"}},
    {"8C42", 0x60, {"DS Carrier Frequency: 1.92 MHz -> 2.34 MHz", "Standard Settings: 10 M -> none"}},
    {"8C43", 0x01, {"DS Carrier Frequency: 1.92 MHz -> 8.17 MHz", "Standard Settings: 10 M -> none"}},
    {"8C44", 0xE4, {"US Carrier Frequency: 5.54 MHz -> 5.56 MHz", "Standard Settings: 10 M -> none"}},
    {"8C45", 0x01, {"US Carrier Frequency: 5.54 MHz -> 11.79 MHz", "Standard Settings: 10 M -> none"}},
    {"8C46", 0x01, {"Register 8C46: 00 -> 01"}},
    {"8C47", 0x00, {"Register 8C47: C9 -> 00"}},
    {"8C48", 0x04, {"Register 8C48: 01 -> 04"}},
    {"8C49", 0x56, {"Register 8C49: 6F -> 56"}},
    {"8C4A", 0x61, {"Register 8C4A: 8A -> 61"}},
    {"8C4B", 0x51, {"Register 8C4B: 4A -> 51"}},
    {"8C4C", 0xD7, {"Register 8C4C: 92 -> D7"}},
    {"8C4D", 0x04, {"Register 8C4D: 06 -> 04"}},
    {"8C4E", 0x00, {"Register 8C4E: 01 -> 00"}},
    {"8C4F", 0x10, {"Register 8C4F: 00 -> 10"}},
    {"8C50", 0xFF, {"Register 8C50: 00 -> FF"}},
    {"8C51", 0x01, {"Register 8C51: 00 -> 01"}},
    {"8C60", 0x12, {"Register 8C60: 00 -> 12"}},
    {"8C61", 0x34, {"Register 8C61: 00 -> 34"}},
    {"8C66", 0x56, {"Register 8C66: 00 -> 56"}},
    {"8C67", 0x00, {"Register 8C67: 05 -> 00"}},
    {"8C6B", 0x78, {"Register 8C6B: 00 -> 78"}},
    {"8D40", 0x0E, {"Ethernet Port Speed setup: 2 -> 1"}},
    {"8D41", 0xE0, {"Register 8D41: E1 -> E0"}},
    {"8D42", 0x02, {"Register 8D42: 00 -> 02"}},
    {"8D45", 0xD1, {"Register 8D45: D0 -> D1"}},
    {"8D46", 0xCE, {"Register 8D46: CD -> CE"}},
    {"8D47", 0x3F, {"Register 8D47: BF -> 3F"}},
    {"8D48", 0x01, {"Register 8D48: 00 -> 01"}},
    {"8D49", 0x81, {"Register 8D49: 80 -> 81"}},
};

TEST(ConfigDiff, EveryRegisterOfASavedFileInThePagesWords) {
    std::set<std::string> covered;
    for (const Case& c : kEveryRegister)
        covered.insert(c.address);
    ASSERT_EQ(covered.size(), kConfigRegisterCount);

    for (const Case& c : kEveryRegister) {
        SCOPED_TRACE(c.address);
        ConfigRegisterSet changed = Saved();
        changed.values[IndexOf(c.address)] = c.value;
        const ConfigDiff diff = DiffConfigurations(Saved(), changed, k25MHz);
        EXPECT_FALSE(diff.Equal());
        EXPECT_EQ(diff.differing, std::vector<std::string>{c.address});
        EXPECT_EQ(diff.WordsUnder(c.address), c.words);
        std::vector<std::string> all;
        for (const ConfigChange& change : diff.changes) {
            all.push_back(change.Words());
            EXPECT_EQ(change.registers, std::vector<std::string>{c.address}) << change.name;
        }
        EXPECT_EQ(all, c.words);
    }
}

TEST(ConfigDiff, EqualSetsHaveNoChange) {
    EXPECT_TRUE(DiffConfigurations(Saved(), Saved(), k25MHz).Equal());
}

TEST(ConfigDiff, MachineNames) {
    ConfigRegisterSet changed = Saved();
    changed.values[IndexOf("8C40")] = 0x44; // QAM 16, interpolation 16
    changed.values[IndexOf("8C42")] = 0x60;
    changed.values[IndexOf("8C4E")] = 0x00;
    changed.values[IndexOf("8D40")] = 0x0E;
    std::vector<std::string> names;
    for (const ConfigChange& change : DiffConfigurations(Saved(), changed, k25MHz).changes)
        names.push_back(change.name);
    EXPECT_EQ(names, (std::vector<std::string>{"downstream_constellation", "downstream_interpolation",
                                               "downstream_line_rate", "downstream_carrier", "preset",
                                               "ethernet_speed_setup", "register_8C4E"}));
}

// A byte that changes no text of the page is told by its register.
TEST(ConfigDiff, BytesNoPageTextTellsApartByRegister) {
    ConfigRegisterSet before = Saved();
    ConfigRegisterSet after = Saved();
    before.values[IndexOf("8C40")] = 0x31; // constellation codes 1 and 3 name none
    after.values[IndexOf("8C40")] = 0x33;
    const ConfigDiff diff = DiffConfigurations(before, after, k25MHz);
    EXPECT_EQ(diff.WordsUnder("8C40"), std::vector<std::string>{"Register 8C40: 31 -> 33"});
}

TEST(ConfigDiff, SpeedSetupOfNoListEntry) {
    ConfigRegisterSet changed = Saved();
    changed.values[IndexOf("8D40")] = 0x3C;
    EXPECT_EQ(DiffConfigurations(Saved(), changed, k25MHz).WordsUnder("8D40"),
              std::vector<std::string>{"Ethernet Port Speed setup: 2 -> none"});
}

TEST(ConfigDiff, MissingRecordIsShownAsNone) {
    ConfigRegisterSet partial = Saved();
    partial.values[IndexOf("8C43")].reset();
    partial.values[IndexOf("8C60")].reset();
    const ConfigDiff diff = DiffConfigurations(partial, Saved(), k25MHz);
    EXPECT_EQ(diff.WordsUnder("8C43"), (std::vector<std::string>{"DS Carrier Frequency: -- -> 1.92 MHz",
                                                                 "Standard Settings: -- -> 10 M"}));
    EXPECT_EQ(diff.WordsUnder("8C60"), std::vector<std::string>{"Register 8C60: -- -> 00"});
}

TEST(ConfigDiff, PresetNamesFollowTheCrystal) {
    ConfigRegisterSet changed = Saved();
    changed.values[IndexOf("8C40")] = 0x44; // preset 2: 44 44 66 00 CD 00
    changed.values[IndexOf("8C41")] = 0x44;
    changed.values[IndexOf("8C42")] = 0x66;
    changed.values[IndexOf("8C44")] = 0xCD;
    const ConfigDiff diff = DiffConfigurations(Saved(), changed, 1);
    ASSERT_FALSE(diff.changes.empty());
    EXPECT_EQ(diff.changes.back().Words(), "Standard Settings: 11,25 Mbps -> 5,63 Mbps");
}

// LT against NT: the side is a change, the registers the side profiles write are not compared, the
// others are.
TEST(ConfigDiff, OtherSideComparedWhereRegistersMeanTheSame) {
    ConfigRegisterSet nt = Saved(kSideNT);
    nt.values[IndexOf("8C47")] = 0x00; // side profile: not compared
    nt.values[IndexOf("8D47")] = 0x3F; // side profile: not compared
    nt.values[IndexOf("8C46")] = 0x07; // compared
    const ConfigDiff diff = DiffConfigurations(Saved(), nt, k25MHz);
    EXPECT_TRUE(diff.sidesDiffer);
    EXPECT_EQ(diff.differing, std::vector<std::string>{"8C46"});
    EXPECT_EQ(diff.notCompared, (std::vector<std::string>{"8C47", "8C48", "8C49", "8C4A", "8C4B", "8C4C",
                                                          "8C4D", "8C4F", "8C50", "8C51", "8C67", "8D47"}));
    ASSERT_EQ(diff.changes.size(), 2u);
    EXPECT_EQ(diff.changes[0].name, "modem_side");
    EXPECT_EQ(diff.changes[0].Words(), "Modem side: LT -> NT");
    EXPECT_EQ(diff.changes[1].Words(), "Register 8C46: 00 -> 07");
    EXPECT_EQ(diff.WordsUnder("8C47"),
              std::vector<std::string>{
                  "not compared: this register means something else on the LT and the NT side"});
    EXPECT_EQ(diff.SideNote(),
              "An LT and an NT configuration are compared only where their registers mean the "
              "same; not compared: 8C47 8C48 8C49 8C4A 8C4B 8C4C 8C4D 8C4F 8C50 8C51 8C67 8D47.");
    EXPECT_EQ(DiffConfigurations(Saved(), Saved(), k25MHz).SideNote(), "");
}

} // namespace
} // namespace tessor
