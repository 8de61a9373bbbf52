#include "ops/LinkSettings.h"

#include "link/ConsolePort.h"
#include "link/RegisterAccess.h"

#include <array>

namespace tessor::ops {

namespace {

const char kOneRegister[] = " 1";
const char kReg8C40[] = "8C40";
const char kReg8C41[] = "8C41";
const char kReg8C42[] = "8C42";
const char kReg8C44[] = "8C44";
const char kReg8D43[] = "8D43";
constexpr std::uint8_t kCarrierBytes = 2;

// Bytes that a preset write sends to the remote modem only, after its six preset bytes.
struct RegisterByte {
    const char* address;
    std::uint8_t value;
};
constexpr std::array<RegisterByte, 7> kRemoteExtraBytes{{
    {"8C19", 0x56},
    {"8C1A", 0x61},
    {"8C1B", 0x51},
    {"8C1C", 0xD7},
    {"8D40", 0x3C},
    {"8D45", 0xD0},
    {"8D47", 0xBF},
}};

std::int64_t WriteByte(int target, const char* address, std::uint8_t value) {
    return target == kRemote ? AccessRemoteRegByte(kWrite, address, value)
                             : AccessLocalRegByte(kWrite, address, value);
}

void WriteEthernetSpeed(int target, const std::optional<std::uint8_t>& selection) {
    if (!selection || *selection >= kEthernetSpeedSettings.size())
        return;
    const EthernetSpeedSetting& setting = kEthernetSpeedSettings[*selection];
    WriteByte(target, kEthernetSpeedRegisters[0].data(), setting.reg8D40);
    WriteByte(target, kEthernetSpeedRegisters[1].data(), setting.reg8D42);
    WriteByte(target, kEthernetSpeedRegisters[2].data(), setting.reg8D43);
}

void WritePresetTo(int target, const LinePreset& preset, const std::optional<std::uint8_t>& speed) {
    for (std::size_t i = 0; i < preset.bytes.size(); ++i)
        WriteByte(target, kPresetRegisters[i].data(), preset.bytes[i]);
    if (target == kRemote) {
        for (const RegisterByte& extra : kRemoteExtraBytes)
            WriteByte(kRemote, extra.address, extra.value);
    }
    WriteEthernetSpeed(target, speed);
    RestartModem(target);
}

} // namespace

const char* const kPresetTitle = "Write & Update";
const char* const kPresetWarning =
    "Warning: these changes affect the link\nconfiguration of your modem.\nPress "
    "CANCEL to return without changes.";
const char* const kPresetNtRefusal =
    "The configuration cannot be changed from the NT side. In order to change the configuration please "
    "connect the LT modem to your PC and re-start the Configurator.";
const char* const kLocalSpeedUnknown = "The Ethernet port speed setup of the local modem is not known.\n"
                                       "Choose a speed setup and press Write & Update again.";
const char* const kRemoteSpeedUnknown = "The Ethernet port speed setup of the remote modem is not known.\n"
                                        "Choose a speed setup and press Write & Update again.";

DirectionSettings ReadDirection(std::int32_t crystalHz, const char* configRegister,
                                const char* carrierRegister, bool downstream) {
    DirectionSettings d;
    d.rawConfig = AccessLocalReg(kRead, configRegister, kOneRegister);
    const auto lineConfig = static_cast<std::uint8_t>(d.rawConfig);
    d.constellation = DecodeConstellation(ConstellationCode(lineConfig));
    d.interpolation = DecodeInterpolation(InterpolationCode(lineConfig));
    if (d.constellation) {
        const auto& texts = downstream ? kDownstreamConstellationTexts : kUpstreamConstellationTexts;
        d.constellationText = std::string(texts[static_cast<std::size_t>(d.constellation->listPosition)]);
    }
    if (d.constellation && d.interpolation)
        d.rate = LineRate(crystalHz, d.constellation->sizeByte, d.interpolation->factor);
    d.rateText = FormatLineRate(d.rate);

    d.rawCarrier = AccessLocalRegByte(kRead, carrierRegister, kCarrierBytes);
    d.carrier = CarrierFromRegister(crystalHz, static_cast<std::uint16_t>(d.rawCarrier & 0xFFFF));
    d.carrierText = FormatCarrier(d.carrier);
    return d;
}

SpeedRead ReadEthernetSpeed(int target) {
    SpeedRead read;
    read.raw = target == kRemote ? AccessRemoteReg(kRead, kReg8D43, kOneRegister)
                                 : AccessLocalReg(kRead, kReg8D43, kOneRegister);
    // A failed read (-1 would decode as automatic) leaves the setting unknown.
    if (read.raw >= 0)
        read.position = DecodeEthernetSpeed(static_cast<std::uint8_t>(read.raw));
    return read;
}

LinkSettings ReadLinkSettings(std::int32_t crystalHz, bool readRemoteSpeed) {
    LinkSettings settings;
    settings.downstream = ReadDirection(crystalHz, kReg8C40, kReg8C42, true);
    settings.upstream = ReadDirection(crystalHz, kReg8C41, kReg8C44, false);
    if (readRemoteSpeed) {
        settings.remoteSpeedRead = true;
        settings.remoteSpeed = ReadEthernetSpeed(kRemote);
    }
    settings.localSpeed = ReadEthernetSpeed(kLocal);
    return settings;
}

PresetCheck CheckPresetWrite(const PresetRequest& request) {
    if (request.side != kSideLT)
        return PresetCheck::NtSide;
    if (request.preset < 0 || request.preset >= static_cast<int>(kLinePresets.size()))
        return PresetCheck::NoPreset;
    if (!request.localSpeed)
        return PresetCheck::LocalSpeedUnknown;
    if (request.remote && !request.remoteSpeed)
        return PresetCheck::RemoteSpeedUnknown;
    return PresetCheck::Ok;
}

PresetCheck WritePreset(const PresetRequest& request) {
    const PresetCheck check = CheckPresetWrite(request);
    if (check != PresetCheck::Ok)
        return check;
    const LinePreset& preset = kLinePresets[static_cast<std::size_t>(request.preset)];
    if (request.remote)
        WritePresetTo(kRemote, preset, request.remoteSpeed);
    WritePresetTo(kLocal, preset, request.localSpeed);
    return PresetCheck::Ok;
}

} // namespace tessor::ops
