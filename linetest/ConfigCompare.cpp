#include "linetest/ConfigCompare.h"

#include "model/ConfigFile.h"

namespace tessor::linetest {

ParsedConfiguration ParseConfiguration(const std::string& bytes) {
    ParsedConfiguration parsed;
    // The load's own check; the header's side is not compared, the board's is not known before anything
    // is read.
    const ops::CheckedConfigFile checked = ops::CheckConfigFile(bytes, kSideUnknown);
    if (!checked.ok) {
        parsed.message = checked.message;
        return parsed;
    }
    parsed.side = bytes.compare(0, 2, "NT") == 0 ? kSideNT : kSideLT;
    // A record names the register a load writes; the one Save read is the register that reads it back.
    for (const ops::ConfigRecord& record : checked.records) {
        std::string address = record.address;
        for (const std::string_view reg : kConfigRegisters) {
            if (LoadTargetAddress(reg) == record.address)
                address = std::string(reg);
        }
        parsed.records.push_back({address, record.value});
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
                inFile = record.value; // each register is in the file at most once
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

ConfigRegisterSet RegisterSet(const ParsedConfiguration& file) {
    ConfigRegisterSet set;
    set.side = file.side;
    for (const ParsedConfiguration::Record& record : file.records) {
        for (std::size_t i = 0; i < kConfigRegisterCount; ++i) {
            if (kConfigRegisters[i] == record.address)
                set.values[i] = record.value;
        }
    }
    return set;
}

ConfigRegisterSet RegisterSet(const ops::SaveRead& read, std::uint8_t boardSide) {
    ConfigRegisterSet set;
    set.side = boardSide;
    for (std::size_t i = 0; i < kConfigRegisterCount; ++i)
        set.values[i] = read.values[i];
    return set;
}

} // namespace tessor::linetest
