#pragma once

// Configuration file sequences (save and load of the 31 configuration registers) and Set to Default.
// File access stays with the caller: these functions take and give the file's bytes.

#include "link/RegisterBus.h"
#include "model/ConfigFile.h"
#include "ops/Access.h"

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace tessor::ops {

// The 31 reads of kConfigRegisters in file order. On a read the board did not answer the sequence stops
// there (ok false, failedIndex that register, failure what happened) and no file should be written. With
// blockReads runs of consecutive registers are read with one command each (see PlanReads); a failed
// command fails at its first register.
struct SaveRead {
    bool ok = false;
    std::size_t failedIndex = 0;
    RegResult failure;
    std::array<std::uint8_t, kConfigRegisterCount> values{};
    std::string bytes; // the file, when ok
};
SaveRead ReadConfiguration(IRegisterBus& bus, std::uint8_t side, bool blockReads = false);

// A file's records, checked as a whole, for load and verify alike: the header (with side 0, not yet
// known, only its form), every record's form, every address inside the saved set (after the load
// mapping), each at most once, and at least one record. ok false with the "Error" box's text otherwise.
struct ConfigRecord {
    std::string address; // mapped, as written
    std::uint8_t value = 0;
};
struct CheckedConfigFile {
    bool ok = false;
    bool headerOnly = false; // well formed, but a header and no record (not ok)
    std::string message;
    std::vector<ConfigRecord> records;
};
CheckedConfigFile CheckConfigFile(const std::string& bytes, std::uint8_t side);
extern const char* const kNoRegister; // the text for a file with a header and no record

// Loading a file's bytes: the whole file is checked first; a refused file writes nothing. Then the
// records are written in file order; a write the board did not answer stops the load there, with no
// restart. After the last record the local modem is restarted. The window's Load takes a file with a
// header and no record as a restart alone; the command line refuses it before it calls this.
struct LoadResult {
    enum class Status { Loaded, FileError, BoardFailed };
    Status status = Status::Loaded;
    std::string message; // FileError: the text for the "Error" box
    RegResult failure;   // BoardFailed: what happened to the write that stopped it
    int written = 0;     // registers written
    bool restarted = false;
};
LoadResult LoadConfiguration(IRegisterBus& bus, const std::string& bytes, std::uint8_t side,
                             const Sleeper& sleep);

// Set to Default. The factory table suits only the 25.00 MHz crystal (choice 2); with another crystal no
// table is written, but the modems are still restarted.
inline constexpr std::uint8_t kDefaultTableCrystal = 2;

extern const char* const kDefaultTitle;      // "Set to Default"
extern const char* const kDefaultWarning;    // the confirmation asked first
extern const char* const kDefaultNtSideText; // shown when the line is up and the local modem is NT

// Writes the table to one modem (kLocal or kRemote): the common part, then the LT profile for a
// local LT modem, else the NT profile. A failed write does not stop the others; the first failure is
// returned.
RegResult WriteDefaults(IRegisterBus& bus, int target, std::uint8_t side, std::uint8_t crystalIndex);

// With the line up: from the LT side the remote modem first (table and restart); from the NT side
// onNtSide is called instead (the remote modem is left as it is). Then the local modem, table and
// restart. remote and local hold the first failure of each modem's writes and restart.
struct DefaultResult {
    RegResult linkCheck;
    bool linkUp = false;
    bool remoteAttempted = false;
    bool ntSideRefused = false;
    bool tableWritten = false; // false with a crystal the table is not made for
    RegResult remote;
    RegResult local;
    bool RemoteWritten() const { return remoteAttempted && remote.ok(); }
    bool LocalWritten() const { return local.ok(); }
};
DefaultResult SetToDefault(IRegisterBus& bus, std::uint8_t side, std::uint8_t crystalIndex,
                           const Sleeper& sleep, const std::function<void()>& onNtSide = {});

} // namespace tessor::ops
