#include "ops/LinkSettings.h"

#include "ops/BlockReads.h"

#include <array>
#include <vector>

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

// Writes one byte and keeps the first failure in *first.
void WriteByte(IRegisterBus& bus, int target, const char* address, std::uint8_t value, RegResult* first) {
    char text[3];
    FormatByte(value, text);
    *first = FirstFailure(*first, OnTarget(bus, target, kWrite, address, text));
}

void WriteEthernetSpeed(IRegisterBus& bus, int target, const std::optional<std::uint8_t>& selection,
                        RegResult* first) {
    if (!selection || *selection >= kEthernetSpeedSettings.size())
        return;
    const EthernetSpeedSetting& setting = kEthernetSpeedSettings[*selection];
    WriteByte(bus, target, kEthernetSpeedRegisters[0].data(), setting.reg8D40, first);
    WriteByte(bus, target, kEthernetSpeedRegisters[1].data(), setting.reg8D42, first);
    WriteByte(bus, target, kEthernetSpeedRegisters[2].data(), setting.reg8D43, first);
}

RegResult WritePresetTo(IRegisterBus& bus, int target, const LinePreset& preset,
                        const std::optional<std::uint8_t>& speed, const Sleeper& sleep) {
    RegResult first = RegResult::Answer(1);
    for (std::size_t i = 0; i < preset.bytes.size(); ++i)
        WriteByte(bus, target, kPresetRegisters[i].data(), preset.bytes[i], &first);
    if (target == kRemote) {
        for (const RegisterByte& extra : kRemoteExtraBytes)
            WriteByte(bus, kRemote, extra.address, extra.value, &first);
    }
    WriteEthernetSpeed(bus, target, speed, &first);
    return FirstFailure(first, RestartModem(bus, target, sleep));
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

namespace {

// The carrier fields of d from its carrier read.
void DecodeCarrier(std::int32_t crystalHz, DirectionSettings& d) {
    // The carrier field always holds a number: a failed read shows that of register value 0.
    const std::int64_t carrierValue = d.carrierRead.ok() ? d.carrierRead.value : 0;
    d.carrier = CarrierFromRegister(crystalHz, static_cast<std::uint16_t>(carrierValue & 0xFFFF));
    d.carrierText = FormatCarrier(d.carrier);
}

// The fields of d from its two reads.
void DecodeDirection(std::int32_t crystalHz, bool downstream, DirectionSettings& d) {
    DecodeCarrier(crystalHz, d);
    if (!d.configRead.ok()) {
        d.rateText = FormatLineRate(d.rate);
        return;
    }
    const auto lineConfig = static_cast<std::uint8_t>(d.configRead.value);
    d.constellation = DecodeConstellation(ConstellationCode(lineConfig));
    d.interpolation = DecodeInterpolation(InterpolationCode(lineConfig));
    if (d.constellation) {
        const auto& texts = downstream ? kDownstreamConstellationTexts : kUpstreamConstellationTexts;
        d.constellationText = std::string(texts[static_cast<std::size_t>(d.constellation->listPosition)]);
    }
    if (d.constellation && d.interpolation)
        d.rate = LineRate(crystalHz, d.constellation->sizeByte, d.interpolation->factor);
    d.rateText = FormatLineRate(d.rate);
}

} // namespace

void ReadCarrier(IRegisterBus& bus, std::int32_t crystalHz, const char* carrierRegister,
                 DirectionSettings& d) {
    d.carrierRead = AccessLocalRegByte(bus, kRead, carrierRegister, kCarrierBytes);
    DecodeCarrier(crystalHz, d);
}

DirectionSettings ReadDirection(IRegisterBus& bus, std::int32_t crystalHz, const char* configRegister,
                                const char* carrierRegister, bool downstream) {
    DirectionSettings d;
    d.configRead = AccessLocalReg(bus, kRead, configRegister, kOneRegister);
    d.carrierRead = AccessLocalRegByte(bus, kRead, carrierRegister, kCarrierBytes);
    DecodeDirection(crystalHz, downstream, d);
    return d;
}

SpeedRead ReadEthernetSpeed(IRegisterBus& bus, int target) {
    SpeedRead read;
    read.read = OnTarget(bus, target, kRead, kReg8D43, kOneRegister);
    // A failed read leaves the setting unknown.
    if (read.read.ok())
        read.position = DecodeEthernetSpeed(static_cast<std::uint8_t>(read.read.value));
    return read;
}

LinkSettings ReadLinkSettings(IRegisterBus& bus, std::int32_t crystalHz, bool readRemoteSpeed,
                              bool blockReads) {
    LinkSettings settings;
    // Each direction's configuration byte, then its carrier.
    const std::vector<RegisterRead> reads{
        {kReg8C40, 1}, {kReg8C42, kCarrierBytes}, {kReg8C41, 1}, {kReg8C44, kCarrierBytes}};
    RegResult* const targets[] = {&settings.downstream.configRead, &settings.downstream.carrierRead,
                                  &settings.upstream.configRead, &settings.upstream.carrierRead};
    for (const ReadBlock& block : PlanReads(reads, blockReads)) {
        const std::vector<RegResult> got = ReadBlockOnce(bus, reads, block);
        for (std::size_t k = 0; k < got.size(); ++k)
            *targets[block.first + k] = got[k];
    }
    DecodeDirection(crystalHz, true, settings.downstream);
    DecodeDirection(crystalHz, false, settings.upstream);
    if (readRemoteSpeed) {
        settings.remoteSpeedRead = true;
        settings.remoteSpeed = ReadEthernetSpeed(bus, kRemote);
    }
    settings.localSpeed = ReadEthernetSpeed(bus, kLocal);
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

PresetResult WritePreset(IRegisterBus& bus, const PresetRequest& request, const Sleeper& sleep) {
    PresetResult result;
    result.check = CheckPresetWrite(request);
    if (result.check != PresetCheck::Ok)
        return result;
    const LinePreset& preset = kLinePresets[static_cast<std::size_t>(request.preset)];
    if (request.remote) {
        result.remoteAttempted = true;
        result.remote = WritePresetTo(bus, kRemote, preset, request.remoteSpeed, sleep);
    }
    result.local = WritePresetTo(bus, kLocal, preset, request.localSpeed, sleep);
    return result;
}

} // namespace tessor::ops
