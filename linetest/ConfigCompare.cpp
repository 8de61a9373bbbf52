#include "linetest/ConfigCompare.h"

#include "model/ConfigFile.h"

namespace tessor::linetest {

const char* SideText(std::uint8_t side) {
    return side == ops::kSideNT ? "NT" : side == ops::kSideLT ? "LT" : "unknown";
}

ParsedConfiguration ParseConfiguration(const std::string& bytes) {
    ParsedConfiguration parsed;
    // Only the form is checked here: the board's side is not known before anything is read.
    ConfigFileReader reader(bytes, ops::kSideUnknown);
    std::vector<std::pair<std::string, std::uint8_t>> loaded;
    for (;;) {
        const ConfigFileStep step = reader.Next();
        if (step.kind == ConfigFileStep::Kind::Error) {
            parsed.message = step.message;
            return parsed;
        }
        if (step.kind == ConfigFileStep::Kind::End)
            break;
        loaded.emplace_back(step.address, step.value);
    }
    parsed.side = bytes.compare(0, 2, "NT") == 0 ? ops::kSideNT : ops::kSideLT;
    // A record names the register a load writes; the one Save read is the register that reads it back.
    for (const auto& [target, value] : loaded) {
        std::string address = target;
        for (const std::string_view reg : kConfigRegisters) {
            if (LoadTargetAddress(reg) == target)
                address = std::string(reg);
        }
        parsed.records.push_back({address, value});
    }
    parsed.ok = true;
    return parsed;
}

ConfigComparison CompareConfiguration(const ParsedConfiguration& file, const ops::SaveRead& read,
                                      std::uint8_t boardSide) {
    ConfigComparison c;
    c.fileSide = file.side;
    c.boardSide = boardSide;
    c.sideMatches = file.side == boardSide;
    for (std::size_t i = 0; i < kConfigRegisterCount; ++i) {
        const std::string address(kConfigRegisters[i]);
        std::optional<std::uint8_t> inFile;
        for (const ParsedConfiguration::Record& record : file.records) {
            if (record.address == address)
                inFile = record.value; // the last record of a register is what a load leaves
        }
        ++c.compared;
        if (!inFile || *inFile != read.values[i])
            c.differences.push_back({address, inFile, read.values[i]});
    }
    for (const ParsedConfiguration::Record& record : file.records) {
        bool known = false;
        for (const std::string_view reg : kConfigRegisters)
            known = known || record.address == reg;
        if (!known)
            c.differences.push_back({record.address, record.value, std::nullopt});
    }
    return c;
}

} // namespace tessor::linetest
