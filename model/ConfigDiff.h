#pragma once

// Two sets of the configuration registers a saved file holds, compared in the terms of the pages: the
// Link Configuration page's settings and its Ethernet port speed setup, each further register by its
// address. Every front end that shows a difference of configurations takes its words from here.

#include "model/ConfigFile.h"
#include "model/Modem.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tessor {

// The registers of kConfigRegisters, by the same index; none where the set has no record of a register.
struct ConfigRegisterSet {
    std::uint8_t side = kSideUnknown;
    std::array<std::optional<std::uint8_t>, kConfigRegisterCount> values{};
};

// One change: a setting of a page whose text differs between the two sets, a register whose byte differs
// where no page setting tells the difference, or the modem side.
struct ConfigChange {
    std::string name;    // machine name: "downstream_constellation", "register_8C46", "modem_side"
    std::string caption; // the page's caption ("DS Constellation") or "Register 8C46"
    std::string before;  // the page's text for the first set ("QAM 64"); "--" without a record
    std::string after;   // the same for the second set
    std::vector<std::string> registers; // the differing registers behind it, in file order; none for the side
    std::string Words() const;          // "DS Constellation: QAM 64 -> QAM 16"
};

struct ConfigDiff {
    bool sidesDiffer = false;
    // With the sides differing: the registers whose bytes mean something else on the other side; they are
    // not compared.
    std::vector<std::string> notCompared;
    std::vector<std::string> differing; // the compared registers whose bytes differ, in file order
    std::vector<ConfigChange> changes;  // in page order: side, link settings, speed setup, registers

    bool Equal() const { return changes.empty(); }
    // The words to show under a differing register of a list by register: each change once, under the
    // first of its registers; for a register not compared, why.
    std::vector<std::string> WordsUnder(std::string_view address) const;
    // With the sides differing, the sentence that says which registers were compared; empty otherwise.
    std::string SideNote() const;
};

// The changes from before to after. crystalIndex (0..2, kCrystalFrequenciesHz) gives the carriers, line
// rates and preset names as the page shows them with that crystal.
ConfigDiff DiffConfigurations(const ConfigRegisterSet& before, const ConfigRegisterSet& after,
                              int crystalIndex);

} // namespace tessor
