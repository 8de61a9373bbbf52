#include "model/ConfigDiff.h"

#include "model/LineModel.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <utility>

namespace tessor {

namespace {

const char kUnknown[] = "--";     // the set has no record of a register the text needs, or no crystal
const char kNamesNone[] = "none"; // the bytes name nothing the page offers

using Byte = std::optional<std::uint8_t>;
using Values = std::array<Byte, kConfigRegisterCount>;

std::size_t IndexOf(std::string_view address) {
    const auto it = std::find(kConfigRegisters.begin(), kConfigRegisters.end(), address);
    return static_cast<std::size_t>(it - kConfigRegisters.begin());
}

std::string Trimmed(std::string_view text) {
    const std::size_t first = text.find_first_not_of(' ');
    if (first == std::string_view::npos)
        return {};
    return std::string(text.substr(first, text.find_last_not_of(' ') - first + 1));
}

std::string Hex2(std::uint8_t value) {
    char text[3];
    std::snprintf(text, sizeof text, "%02X", static_cast<unsigned>(value));
    return text;
}

// The page's texts of one setting, from the registers it is made of.
struct Setting {
    const char* name;
    const char* caption;
    std::vector<std::size_t> registers;
    std::function<std::string(const std::vector<std::uint8_t>&)> text; // from the registers' bytes
};

// The registers' bytes, or nothing when the set lacks one of them.
std::optional<std::vector<std::uint8_t>> Bytes(const Values& values, const std::vector<std::size_t>& regs) {
    std::vector<std::uint8_t> bytes;
    for (std::size_t index : regs) {
        if (!values[index])
            return std::nullopt;
        bytes.push_back(*values[index]);
    }
    return bytes;
}

// The text a setting shows, "--" when a register it is read from has no record.
std::string TextOf(const Setting& setting, const Values& values) {
    const auto bytes = Bytes(values, setting.registers);
    return bytes ? setting.text(*bytes) : std::string(kUnknown);
}

// The settings of one direction of the Link Configuration page: the line configuration byte and the
// carrier's register pair (low byte first).
void AddDirection(std::vector<Setting>* settings, bool downstream, std::optional<std::int32_t> crystalHz) {
    const std::size_t config = IndexOf(downstream ? "8C40" : "8C41");
    const std::size_t carrierLow = IndexOf(downstream ? "8C42" : "8C44");
    const std::size_t carrierHigh = IndexOf(downstream ? "8C43" : "8C45");
    const auto& lists = downstream ? kDownstreamConstellationTexts : kUpstreamConstellationTexts;
    struct Names {
        const char* name;
        const char* caption;
    };
    static constexpr std::array<std::array<Names, 4>, 2> kNames{{
        {{{"downstream_constellation", "DS Constellation"},
          {"downstream_interpolation", "DS Interpolation"},
          {"downstream_line_rate", "Downstream Line Rate"},
          {"downstream_carrier", "DS Carrier Frequency"}}},
        {{{"upstream_constellation", "US Constellation"},
          {"upstream_interpolation", "US Interpolation"},
          {"upstream_line_rate", "Upstream Line Rate"},
          {"upstream_carrier", "US Carrier Frequency"}}},
    }};
    const auto& names = kNames[downstream ? 0 : 1];

    settings->push_back(
        {names[0].name, names[0].caption, {config}, [&lists](const std::vector<std::uint8_t>& b) {
             const auto c = DecodeConstellation(ConstellationCode(b[0]));
             return c ? Trimmed(lists[static_cast<std::size_t>(c->listPosition)]) : std::string(kNamesNone);
         }});
    settings->push_back({names[1].name, names[1].caption, {config}, [](const std::vector<std::uint8_t>& b) {
                             const auto i = DecodeInterpolation(InterpolationCode(b[0]));
                             return i ? Trimmed(i->text) : std::string(kNamesNone);
                         }});
    settings->push_back(
        {names[2].name, names[2].caption, {config}, [crystalHz](const std::vector<std::uint8_t>& b) {
             if (!crystalHz)
                 return std::string(kUnknown);
             const auto c = DecodeConstellation(ConstellationCode(b[0]));
             const auto i = DecodeInterpolation(InterpolationCode(b[0]));
             const std::string rate =
                 c && i ? FormatLineRate(LineRate(*crystalHz, c->sizeByte, i->factor)) : std::string();
             return rate.empty() ? std::string(kNamesNone) : rate + " Mbps";
         }});
    settings->push_back({names[3].name,
                         names[3].caption,
                         {carrierLow, carrierHigh},
                         [crystalHz](const std::vector<std::uint8_t>& b) {
                             if (!crystalHz)
                                 return std::string(kUnknown);
                             const auto value = static_cast<std::uint16_t>(b[0] | (b[1] << 8));
                             return FormatCarrier(CarrierFromRegister(*crystalHz, value)) + " MHz";
                         }});
}

std::vector<Setting> PageSettings(int crystalIndex) {
    const bool crystalKnown =
        crystalIndex >= 0 && crystalIndex < static_cast<int>(kCrystalFrequenciesHz.size());
    const std::optional<std::int32_t> crystalHz =
        crystalKnown
            ? std::optional<std::int32_t>(kCrystalFrequenciesHz[static_cast<std::size_t>(crystalIndex)])
            : std::nullopt;
    std::vector<Setting> settings;
    AddDirection(&settings, true, crystalHz);
    AddDirection(&settings, false, crystalHz);

    // The standard preset whose six bytes 8C10..8C15 (saved as 8C40..8C45) the set holds.
    std::vector<std::size_t> presetRegs;
    for (std::string_view reg : kPresetRegisters) {
        for (std::size_t i = 0; i < kConfigRegisterCount; ++i) {
            if (LoadTargetAddress(kConfigRegisters[i]) == reg)
                presetRegs.push_back(i);
        }
    }
    const PresetNameLists names = PresetNames(crystalIndex);
    settings.push_back(
        {"preset", "Standard Settings", presetRegs, [names](const std::vector<std::uint8_t>& b) {
             for (std::size_t n = 0; n < kLinePresets.size(); ++n) {
                 if (std::equal(b.begin(), b.end(), kLinePresets[n].bytes.begin()))
                     return n < names.downstream.size() ? Trimmed(names.downstream[n])
                                                        : "preset " + std::to_string(n + 1);
             }
             return std::string(kNamesNone);
         }});

    // The Ethernet port speed setup. The page reads it from 8D43, which is not saved; of
    // the saved bytes a setup writes, 8D40 tells the three apart.
    const std::vector<std::size_t> speedRegs{IndexOf(kEthernetSpeedRegisters[0])};
    settings.push_back({"ethernet_speed_setup", "Ethernet Port Speed setup", speedRegs,
                        [](const std::vector<std::uint8_t>& b) {
                            for (std::size_t p = 0; p < kEthernetSpeedSettings.size(); ++p) {
                                if (b[0] == kEthernetSpeedSettings[p].reg8D40)
                                    return Trimmed(kEthernetSpeedTexts[p]);
                            }
                            return std::string(kNamesNone);
                        }});
    return settings;
}

} // namespace

std::string ConfigChange::Words() const {
    return caption + ": " + before + " -> " + after;
}

std::vector<std::string> ConfigDiff::WordsUnder(std::string_view address) const {
    std::vector<std::string> words;
    for (const ConfigChange& change : changes) {
        if (!change.registers.empty() && change.registers.front() == address)
            words.push_back(change.Words());
    }
    if (std::find(notCompared.begin(), notCompared.end(), address) != notCompared.end())
        words.push_back("not compared: this register means something else on the LT and the NT side");
    return words;
}

std::string ConfigDiff::SideNote() const {
    if (!sidesDiffer)
        return {};
    std::string note = "An LT and an NT configuration are compared only where their "
                       "registers mean the same";
    if (!notCompared.empty()) {
        note += "; not compared:";
        for (const std::string& address : notCompared)
            note += " " + address;
    }
    return note + ".";
}

ConfigDiff DiffConfigurations(const ConfigRegisterSet& before, const ConfigRegisterSet& after,
                              int crystalIndex) {
    ConfigDiff diff;
    diff.sidesDiffer = before.side != after.side;
    if (diff.sidesDiffer)
        diff.changes.push_back({"modem_side", "Modem side", SideName(before.side), SideName(after.side), {}});

    std::array<bool, kConfigRegisterCount> differs{};
    for (std::size_t i = 0; i < kConfigRegisterCount; ++i) {
        const std::string address(kConfigRegisters[i]);
        if (diff.sidesDiffer && !ConfigRegisterMeansSameOnBothSides(address)) {
            diff.notCompared.push_back(address);
            continue;
        }
        differs[i] = before.values[i] != after.values[i];
        if (differs[i])
            diff.differing.push_back(address);
    }

    // A differing register is told by the settings whose texts differ; where none does,
    // by its bytes.
    std::array<bool, kConfigRegisterCount> told{};
    for (const Setting& setting : PageSettings(crystalIndex)) {
        std::vector<std::string> regs;
        std::vector<std::size_t> ordered = setting.registers;
        std::sort(ordered.begin(), ordered.end());
        for (std::size_t index : ordered) {
            if (differs[index])
                regs.push_back(std::string(kConfigRegisters[index]));
        }
        if (regs.empty())
            continue;
        std::string textBefore = TextOf(setting, before.values);
        std::string textAfter = TextOf(setting, after.values);
        if (textBefore == textAfter)
            continue;
        for (std::size_t index : ordered)
            told[index] = told[index] || differs[index];
        diff.changes.push_back(
            {setting.name, setting.caption, std::move(textBefore), std::move(textAfter), std::move(regs)});
    }
    for (std::size_t i = 0; i < kConfigRegisterCount; ++i) {
        if (!differs[i] || told[i])
            continue;
        const std::string address(kConfigRegisters[i]);
        const auto text = [](const Byte& b) { return b ? Hex2(*b) : std::string(kUnknown); };
        diff.changes.push_back({"register_" + address,
                                "Register " + address,
                                text(before.values[i]),
                                text(after.values[i]),
                                {address}});
    }
    return diff;
}

} // namespace tessor
