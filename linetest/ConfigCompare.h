#pragma once

// A board against a saved configuration: the file is read first (nothing is sent for a file that is not
// a configuration), then the 31 registers Save reads are compared with its records. Nothing is written.

#include "model/ConfigDiff.h"
#include "ops/Board.h"
#include "ops/ConfigFiles.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tessor::linetest {

// A configuration file's records, by the register each was read from.
struct ParsedConfiguration {
    bool ok = false;
    std::string message; // why the file is not a configuration
    std::uint8_t side = kSideUnknown;
    struct Record {
        std::string address; // the register Save read ("8C40")
        std::uint8_t value = 0;
    };
    std::vector<Record> records;
};
ParsedConfiguration ParseConfiguration(const std::string& bytes);

struct RegisterDifference {
    std::string address;
    std::optional<std::uint8_t> file;  // none: the file has no record of it
    std::optional<std::uint8_t> board; // none: not among the registers Save reads
};

struct ConfigComparison {
    bool sideMatches = true;
    std::uint8_t fileSide = kSideUnknown;
    std::uint8_t boardSide = kSideUnknown;
    std::size_t compared = 0;
    std::vector<RegisterDifference> differences;

    bool Equal() const { return sideMatches && differences.empty(); }
};

// Compares the records with a complete Save read (read.ok) of a board on boardSide.
ConfigComparison CompareConfiguration(const ParsedConfiguration& file, const ops::SaveRead& read,
                                      std::uint8_t boardSide);

// The same registers as sets for DiffConfigurations: a file's records, or a complete Save read (read.ok)
// of a board on boardSide.
ConfigRegisterSet RegisterSet(const ParsedConfiguration& file);
ConfigRegisterSet RegisterSet(const ops::SaveRead& read, std::uint8_t boardSide);

} // namespace tessor::linetest
