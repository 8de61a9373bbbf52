#include "ops/ConfigFiles.h"

#include "ops/BlockReads.h"
#include "ops/Board.h"

#include <set>
#include <string_view>

namespace tessor::ops {

const char* const kNoRegister = "No register in configuration file";
const char* const kDefaultTitle = "Set to Default";
const char* const kDefaultWarning = "Warning: OK will reset all registers\nin the Local and Remote "
                                    "Modem!\nPress CANCEL to return without changes.";
const char* const kDefaultNtSideText =
    "The configuration of the remote modem cannot be changed from the NT side. Only the local modem is now "
    "set to default. In order to set also the remote modem to default please connect the LT modem to your "
    "PC, re-start the Zentra Configurator and press the Set-to-Default button.";

SaveRead ReadConfiguration(IRegisterBus& bus, std::uint8_t side, bool blockReads) {
    SaveRead read;
    std::vector<RegisterRead> reads;
    for (const std::string_view address : kConfigRegisters)
        reads.push_back(RegisterRead{address.data(), 1});
    for (const ReadBlock& block : PlanReads(reads, blockReads)) {
        const std::vector<RegResult> results = ReadBlockOnce(bus, reads, block);
        for (std::size_t k = 0; k < results.size(); ++k) {
            const std::size_t i = block.first + k;
            // A garbled reply is no register value: a file must not keep it.
            if (!results[k].ok()) {
                read.failedIndex = i;
                read.failure = results[k];
                return read;
            }
            read.values[i] = static_cast<std::uint8_t>(results[k].value & 0xFF);
        }
    }
    read.ok = true;
    read.bytes = WriteConfigFile(side, read.values);
    return read;
}

CheckedConfigFile CheckConfigFile(const std::string& bytes, std::uint8_t side) {
    static const char* const kUnknownRegister = "Unknown register in configuration file";
    CheckedConfigFile file;
    std::set<std::string> allowed;
    for (const std::string_view reg : kConfigRegisters)
        allowed.insert(LoadTargetAddress(reg));
    std::set<std::string> seen;
    ConfigFileReader reader(bytes, side);
    for (;;) {
        const ConfigFileStep step = reader.Next();
        if (step.kind == ConfigFileStep::Kind::Error) {
            file.message = step.message;
            file.records.clear();
            return file;
        }
        if (step.kind == ConfigFileStep::Kind::End)
            break;
        // Only registers a saved file holds, each once: anything else (the control register, a register
        // twice) is not a configuration the tool saved.
        if (allowed.count(step.address) == 0 || !seen.insert(step.address).second) {
            file.message = kUnknownRegister;
            file.records.clear();
            return file;
        }
        file.records.push_back({step.address, step.value});
    }
    // A header and nothing else would only restart the modem: not a configuration to verify or load
    // from the command line.
    if (file.records.empty()) {
        file.headerOnly = true;
        file.message = kNoRegister;
        return file;
    }
    file.ok = true;
    return file;
}

LoadResult LoadConfiguration(IRegisterBus& bus, const std::string& bytes, std::uint8_t side,
                             const Sleeper& sleep) {
    LoadResult result;
    const CheckedConfigFile file = CheckConfigFile(bytes, side);
    if (!file.ok && !file.headerOnly) {
        result.status = LoadResult::Status::FileError;
        result.message = file.message;
        return result;
    }
    for (const ConfigRecord& record : file.records) {
        const RegResult write = AccessLocalRegByte(bus, kWrite, record.address.c_str(), record.value);
        if (!write.ok()) {
            result.status = LoadResult::Status::BoardFailed;
            result.failure = write;
            return result;
        }
        ++result.written;
    }
    const RegResult restart = RestartModem(bus, kLocal, sleep);
    result.restarted = restart.ok();
    if (!restart.ok()) {
        result.status = LoadResult::Status::BoardFailed;
        result.failure = restart;
    }
    return result;
}

RegResult WriteDefaults(IRegisterBus& bus, int target, std::uint8_t side, std::uint8_t crystalIndex) {
    RegResult first = RegResult::Answer(1);
    if (crystalIndex != kDefaultTableCrystal)
        return first;
    const auto write = [&](const ConfigDefault& entry) {
        first = FirstFailure(first, OnTarget(bus, target, kWrite, entry.address, entry.value));
    };
    for (const ConfigDefault& entry : kCommonDefaults)
        write(entry);
    if (side == kSideLT && target != kRemote) {
        for (const ConfigDefault& entry : kLtProfileDefaults)
            write(entry);
    } else {
        for (const ConfigDefault& entry : kNtProfileDefaults)
            write(entry);
    }
    return first;
}

DefaultResult SetToDefault(IRegisterBus& bus, std::uint8_t side, std::uint8_t crystalIndex,
                           const Sleeper& sleep, const std::function<void()>& onNtSide) {
    DefaultResult result;
    result.tableWritten = crystalIndex == kDefaultTableCrystal;
    result.linkCheck = IsLinkUp(bus);
    result.linkUp = result.linkCheck.ok() && result.linkCheck.value == 1;
    if (result.linkUp) {
        if (side == kSideNT) {
            result.ntSideRefused = true;
            if (onNtSide)
                onNtSide();
        } else {
            result.remoteAttempted = true;
            const RegResult table = WriteDefaults(bus, kRemote, side, crystalIndex);
            result.remote = FirstFailure(table, RestartModem(bus, kRemote, sleep));
        }
    }
    const RegResult table = WriteDefaults(bus, kLocal, side, crystalIndex);
    result.local = FirstFailure(table, RestartModem(bus, kLocal, sleep));
    return result;
}

} // namespace tessor::ops
