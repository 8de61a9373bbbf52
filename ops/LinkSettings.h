#pragma once

// The link settings read of the Link Configuration page and its preset write ("Write & Update").

#include "model/LineModel.h"
#include "ops/Access.h"
#include "ops/Board.h"

#include <cstdint>
#include <optional>
#include <string>

namespace tessor::ops {

// One direction of the line as the local modem runs it: its line configuration byte (8C40 downstream,
// 8C41 upstream) and its carrier (8C42 / 8C44, two registers).
struct DirectionSettings {
    RegResult configRead;
    RegResult carrierRead;
    // Decoded from the low byte of rawConfig; nothing for codes that name none.
    std::optional<Constellation> constellation;
    std::optional<Interpolation> interpolation;
    std::optional<float> rate;     // Mbit/s; nothing when the pair is no valid line setting
    std::string rateText;          // "11,25", or empty without a rate
    std::int32_t carrier = 0;      // 10 kHz units, from the low 16 bits of the carrier read
    std::string carrierText;       // "1.73"
    std::string constellationText; // " QAM 16" as the page lists it, or empty
};

// Ethernet port speed of one modem (8D43).
struct SpeedRead {
    RegResult read;
    // List position 0..2; nothing when the read failed or the value names no setting.
    std::optional<int> position;
};

// The local modem's line settings: 8C40, 8C42, 8C41, 8C44 in this order, then 8D43 of the remote modem
// (only with readRemoteSpeed, which callers set when the line was found up) and 8D43 of the local modem.
struct LinkSettings {
    DirectionSettings downstream;
    DirectionSettings upstream;
    bool remoteSpeedRead = false;
    SpeedRead remoteSpeed;
    SpeedRead localSpeed;
};
// With blockReads the four local reads go as runs of consecutive registers (see PlanReads).
LinkSettings ReadLinkSettings(IRegisterBus& bus, std::int32_t crystalHz, bool readRemoteSpeed,
                              bool blockReads = false);

// One direction's carrier: two registers from carrierRegister (8C42 downstream, 8C44 upstream), the low
// 16 bits turned into 10 kHz units for the crystal; fills the carrier fields of d.
void ReadCarrier(IRegisterBus& bus, std::int32_t crystalHz, const char* carrierRegister,
                 DirectionSettings& d);
// One direction's two reads (line configuration byte and carrier) and what they decode to.
DirectionSettings ReadDirection(IRegisterBus& bus, std::int32_t crystalHz, const char* configRegister,
                                const char* carrierRegister, bool downstream);
// 8D43 of the local (kLocal) or the remote (kRemote) modem.
SpeedRead ReadEthernetSpeed(IRegisterBus& bus, int target);

// What a preset write is asked to do. Speed positions 0..2 ("  1".."  3"); remote says whether the remote
// modem is written too (the caller found the line up).
struct PresetRequest {
    std::uint8_t side = kSideUnknown;
    int preset = -1; // 0..3
    bool remote = false;
    std::optional<std::uint8_t> localSpeed;
    std::optional<std::uint8_t> remoteSpeed;
};

enum class PresetCheck {
    Ok,
    NtSide,             // only a PC at the LT modem may write; an unknown side is not the LT side either
    NoPreset,           // no preset chosen
    LocalSpeedUnknown,  // never write a speed setting the modem was not found to have and nobody chose
    RemoteSpeedUnknown, // the same for the remote modem
};

// The checks of a preset write, in the page's order; no register traffic.
PresetCheck CheckPresetWrite(const PresetRequest& request);

// The texts the page shows for the refusals (the caller shows them in its own way).
extern const char* const kPresetTitle;        // "Write & Update"
extern const char* const kPresetWarning;      // the confirmation asked before anything else
extern const char* const kPresetNtRefusal;    // PresetCheck::NtSide
extern const char* const kLocalSpeedUnknown;  // PresetCheck::LocalSpeedUnknown
extern const char* const kRemoteSpeedUnknown; // PresetCheck::RemoteSpeedUnknown

// Checks, then writes: with remote, the six preset bytes, seven further bytes and the speed setting to the
// remote modem and restarts it; then the preset bytes and the speed setting to the local modem and
// restarts it. Nothing is written unless the check is Ok. A failed write does not stop the others;
// remote and local hold the first failure of each modem's writes and restart.
struct PresetResult {
    PresetCheck check = PresetCheck::Ok;
    bool remoteAttempted = false;
    RegResult remote;
    RegResult local;
    bool RemoteWritten() const { return remoteAttempted && remote.ok(); }
    bool LocalWritten() const { return check == PresetCheck::Ok && local.ok(); }
};
PresetResult WritePreset(IRegisterBus& bus, const PresetRequest& request, const Sleeper& sleep);

} // namespace tessor::ops
