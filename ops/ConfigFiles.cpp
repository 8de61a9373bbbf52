#include "ops/ConfigFiles.h"

#include "link/ConsolePort.h"
#include "link/RegisterAccess.h"
#include "ops/Board.h"

namespace tessor::ops {

namespace {

struct DefaultEntry {
    const char* address;
    const char* value;
};

// Written to every modem first.
const DefaultEntry kCommonDefaults[] = {
    {"8C10", "32"}, {"8C11", "24"}, {"8C12", "4F"}, {"8C13", "00"}, {"8C14", "E3"},
    {"8C15", "00"}, {"8C1E", "01"}, {"8D40", "3E"}, {"8D41", "E1"}, {"8D42", "22"},
    {"8D43", "F0"}, {"8D45", "D0"}, {"8D46", "CD"}, {"8D48", "00"}, {"8D49", "80"},
};

// The local modem when it is LT.
const DefaultEntry kLtProfile[] = {
    {"8D47", "BF"}, {"8C17", "C9"}, {"8C18", "01"}, {"8C19", "6F"}, {"8C1A", "8A"},
    {"8C1B", "4A"}, {"8C1C", "92"}, {"8C1D", "06"}, {"8C67", "05"}, {"8C21", "00"},
};

// The local modem when it is NT, and the remote modem (then always NT).
const DefaultEntry kNtProfile[] = {
    {"8D47", "3F"}, {"8C17", "00"}, {"8C18", "04"}, {"8C1F", "10"}, {"8C20", "00"}, {"8C19", "56"},
    {"8C1A", "61"}, {"8C1B", "51"}, {"8C1C", "D7"}, {"8C1D", "04"}, {"8C67", "00"}, {"8C21", "00"},
};

} // namespace

const char* const kDefaultTitle = "Set to Default";
const char* const kDefaultWarning = "Warning: OK will reset all registers\nin the Local and Remote "
                                    "Modem!\nPress CANCEL to return without changes.";
const char* const kDefaultNtSideText =
    "The configuration of the remote modem cannot be changed from the NT side. Only the local modem is now "
    "set to default. In order to set also the remote modem to default please connect the LT modem to your "
    "PC, re-start the Zentra Configurator and press the Set-to-Default button.";

SaveRead ReadConfiguration(std::uint8_t side) {
    SaveRead read;
    for (std::size_t i = 0; i < kConfigRegisterCount; ++i) {
        const std::string address(kConfigRegisters[i]);
        const std::int64_t result = AccessLocalReg(kRead, address.c_str(), " 1");
        read.raw[i] = result;
        // A garbled reply reads as 0, which is no register value: a file must not keep it.
        if (BoardFailed(result) || CConsolePort::LastExchangeFailed()) {
            read.failedIndex = i;
            return read;
        }
        read.values[i] = static_cast<std::uint8_t>(result & 0xFF);
    }
    read.ok = true;
    read.bytes = WriteConfigFile(side, read.values);
    return read;
}

LoadResult LoadConfiguration(const std::string& bytes, std::uint8_t side) {
    LoadResult result;
    ConfigFileReader reader(bytes, side);
    for (;;) {
        const ConfigFileStep step = reader.Next();
        if (step.kind == ConfigFileStep::Kind::Error) {
            result.status = LoadResult::Status::FileError;
            result.message = step.message;
            return result;
        }
        if (step.kind == ConfigFileStep::Kind::End)
            break;
        if (BoardFailed(AccessLocalRegByte(kWrite, step.address.c_str(), step.value))) {
            result.status = LoadResult::Status::BoardFailed;
            return result;
        }
        ++result.written;
    }
    RestartModem(kLocal);
    result.restarted = true;
    return result;
}

void WriteDefaults(int target, std::uint8_t side, std::uint8_t crystalIndex) {
    const auto access = target == kRemote ? &AccessRemoteReg : &AccessLocalReg;
    if (crystalIndex != kDefaultTableCrystal)
        return;
    for (const DefaultEntry& entry : kCommonDefaults)
        access(kWrite, entry.address, entry.value);
    if (side == kSideLT && target != kRemote) {
        for (const DefaultEntry& entry : kLtProfile)
            access(kWrite, entry.address, entry.value);
    } else {
        for (const DefaultEntry& entry : kNtProfile)
            access(kWrite, entry.address, entry.value);
    }
}

DefaultResult SetToDefault(std::uint8_t side, std::uint8_t crystalIndex,
                           const std::function<void()>& onNtSide) {
    DefaultResult result;
    result.tableWritten = crystalIndex == kDefaultTableCrystal;
    result.linkUp = IsLinkUp();
    if (result.linkUp) {
        if (side == kSideNT) {
            result.ntSideRefused = true;
            if (onNtSide)
                onNtSide();
        } else {
            WriteDefaults(kRemote, side, crystalIndex);
            RestartModem(kRemote);
            result.remoteWritten = true;
        }
    }
    WriteDefaults(kLocal, side, crystalIndex);
    RestartModem(kLocal);
    return result;
}

} // namespace tessor::ops
