#pragma once

// Configuration file sequences (save and load of the 31 configuration registers) and Set to Default.
// File access stays with the caller: these functions take and give the file's bytes.

#include "model/ConfigFile.h"

#include <array>
#include <cstdint>
#include <functional>
#include <string>

namespace tessor::ops {

// The 31 reads of kConfigRegisters in file order. On a read the board did not answer the sequence stops
// there (ok false, failedIndex that register) and no file should be written.
struct SaveRead {
    bool ok = false;
    std::size_t failedIndex = 0;
    std::array<std::int64_t, kConfigRegisterCount> raw{};
    std::array<std::uint8_t, kConfigRegisterCount> values{};
    std::string bytes; // the file, when ok
};
SaveRead ReadConfiguration(std::uint8_t side);

// Loading a file's bytes: each record is written as soon as it has been checked; a file error stops the
// load where it is, with the records before it written and no restart; a write the board did not answer
// stops it the same way. After the last record the local modem is restarted.
struct LoadResult {
    enum class Status { Loaded, FileError, BoardFailed };
    Status status = Status::Loaded;
    std::string message; // FileError: the reader's text for the "Error" box
    int written = 0;     // registers written
    bool restarted = false;
};
LoadResult LoadConfiguration(const std::string& bytes, std::uint8_t side);

// Set to Default. The factory table suits only the 25.00 MHz crystal (choice 2); with another crystal no
// table is written, but the modems are still restarted.
inline constexpr std::uint8_t kDefaultTableCrystal = 2;

extern const char* const kDefaultTitle;      // "Set to Default"
extern const char* const kDefaultWarning;    // the confirmation asked first
extern const char* const kDefaultNtSideText; // shown when the line is up and the local modem is NT

// Writes the table to one modem (target 1 local, 2 remote): the common part, then the LT profile for a
// local LT modem, else the NT profile. Results are not tested: a failed write does not stop the others.
void WriteDefaults(int target, std::uint8_t side, std::uint8_t crystalIndex);

// With the line up: from the LT side the remote modem first (table and restart); from the NT side
// onNtSide is called instead (the remote modem is left as it is). Then the local modem, table and
// restart.
struct DefaultResult {
    bool linkUp = false;
    bool remoteWritten = false;
    bool ntSideRefused = false;
    bool tableWritten = false; // false with a crystal the table is not made for
};
DefaultResult SetToDefault(std::uint8_t side, std::uint8_t crystalIndex,
                           const std::function<void()>& onNtSide = {});

} // namespace tessor::ops
