#include "monitor/BoardPasses.h"

#include "link/ConsolePort.h"
#include "link/RegisterAccess.h"
#include "model/LineModel.h"

#include <cmath>

namespace tessor::monitor {

const std::array<EthernetCounterInfo, kEthernetCounterCount> kEthernetCounterInfo{{
    {"8D1C", "transmitted_frames", "Frames transmitted on the Ethernet port."},
    {"8D20", "received_frames", "Frames received on the Ethernet port."},
    {"8D18", "transmitted_pause_frames", "Pause frames transmitted."},
    {"8D14", "received_pause_frames", "Pause frames received."},
    {"8D08", "transmitted_bytes", "Octets transmitted."},
    {"8D0C", "received_bytes", "Octets received."},
    {"8D10", "received_broadcast_frames", "Broadcast frames received."},
    {"8CE4", "single_collisions", "Frames sent after a single collision."},
    {"8CE8", "multiple_collisions", "Frames sent after several collisions."},
    {"8CF0", "late_collisions", "Late collisions."},
    {"8CF4", "excessive_collisions", "Frames dropped after excessive collisions."},
    {"8CF8", "receive_errors", "Receive errors."},
    {"8CFC", "carrier_sense_errors", "Carrier sense errors."},
    {"8D00", "frame_too_long_errors", "Frames that were too long."},
    {"8D04", "frame_check_sequence_errors", "Frames with a bad frame check sequence."},
}};

const std::array<IndicatorInfo, kIndicatorCount> kIndicatorInfo{{
    {false, 0x80, "full_constellation_link"},
    {false, 0x40, "reduced_constellation_link"},
    {false, 0x20, "tc_synchronized"},
    {false, 0x08, "ethernet_encapsulation_sync"},
    {false, 0x04, "remote_interface_synchronized"},
    {false, 0x02, "signal_detected"},
    {true, 0x80, "micro_interruption"},
    {true, 0x04, "agc_converged"},
    {true, 0x02, "timing_converged"},
    {true, 0x01, "adc_saturation"},
}};

namespace {

const char kOneRegister[] = " 1";
// The transmit level register plus this many dB is the power in dBm/Hz below zero.
constexpr int kPowerOffsetDb = 55;

struct References {
    std::int32_t snr; // hundredths of dB
    std::int32_t mse;
};

std::optional<References> ReferencesFor(std::uint8_t code) {
    switch (code) {
    case 0x0:
        return References{9180, 6920};
    case 0x2:
        return References{8550, 6920};
    case 0x4:
        return References{7920, 6920};
    case 0x6:
        return References{7600, 6920};
    case 0x8:
        return References{7020, 6720};
    case 0xA:
        return References{8840, 6920};
    case 0xC:
        return References{7980, 6670};
    default:
        return std::nullopt;
    }
}

std::optional<double> BelowReference(std::int32_t errorValue, std::uint8_t code, bool mse) {
    const auto refs = ReferencesFor(code);
    if (errorValue <= 0 || !refs)
        return std::nullopt;
    const auto t = static_cast<std::int64_t>(1000.0 * std::log10(static_cast<double>(errorValue)));
    return static_cast<double>((mse ? refs->mse : refs->snr) - t) / 100.0;
}

std::optional<std::uint8_t> LowByte(const std::optional<std::uint64_t>& value) {
    if (!value)
        return std::nullopt;
    return static_cast<std::uint8_t>(*value & 0xFF);
}

DirectionSettings DecodeDirection(std::int32_t crystalHz, const std::optional<std::uint64_t>& config,
                                  const std::optional<std::uint64_t>& carrier) {
    DirectionSettings d;
    if (config) {
        const auto byte = static_cast<std::uint8_t>(*config & 0xFF);
        const auto constellation = DecodeConstellation(ConstellationCode(byte));
        const auto interpolation = DecodeInterpolation(InterpolationCode(byte));
        if (constellation && interpolation) {
            if (const auto rate = LineRate(crystalHz, constellation->sizeByte, interpolation->factor))
                d.lineRateBytesPerSecond = static_cast<double>(*rate) * 1e6 / 8.0;
        }
    }
    if (carrier) {
        const auto units = CarrierFromRegister(crystalHz, static_cast<std::uint16_t>(*carrier & 0xFFFF));
        d.carrierHertz = static_cast<double>(units) * 10000.0;
    }
    return d;
}

} // namespace

std::string Identification::SideLabel() const {
    if (!typeRegister)
        return "unknown";
    return IsNt() ? "nt" : "lt";
}

std::optional<bool> PhyReadings::Indicator(int i) const {
    const IndicatorInfo& info = kIndicatorInfo[static_cast<std::size_t>(i)];
    const std::optional<std::uint8_t>& reg = info.fromLineFlags ? lineFlags : linkStatus;
    if (!reg)
        return std::nullopt;
    return (*reg & info.mask) != 0;
}

std::optional<double> SnrDecibels(std::int32_t errorValue, std::uint8_t constellationCode) {
    return BelowReference(errorValue, constellationCode, false);
}

std::optional<double> MseDecibels(std::int32_t errorValue, std::uint8_t constellationCode) {
    return BelowReference(errorValue, constellationCode, true);
}

std::optional<std::uint64_t> CBoardPasses::Read(const char* address, std::uint8_t count) {
    if (m_check.ConnectionBroken())
        return std::nullopt;
    // The status register goes through the shared constant, so the transport keeps it out of any terminal.
    const std::int64_t result =
        count == 1 ? AccessLocalReg(kRead, address, kOneRegister) : AccessLocalRegByte(kRead, address, count);
    const bool spoilt = m_check.TakeSpoiltReply();
    if (result < 0 || spoilt || m_check.ConnectionBroken())
        return std::nullopt;
    return static_cast<std::uint64_t>(result);
}

bool CBoardPasses::ReadIdentification(Identification& id) {
    id.typeRegister = LowByte(Read("8C70", 1));
    id.chip = LowByte(Read("8C72", 1));
    id.revision = LowByte(Read("8C73", 1));
    id.firmware = LowByte(Read("8C6F", 1));
    if (id.typeRegister) {
        if (const auto config = LowByte(Read(id.IsNt() ? "8C10" : "8C11", 1)))
            id.receiveConstellationCode = ConstellationCode(*config);
    }
    return !m_check.ConnectionBroken();
}

bool CBoardPasses::ReadLinkSettings(std::int32_t crystalHz, LinkSettings& settings) {
    const auto downConfig = Read("8C40", 1);
    const auto downCarrier = Read("8C42", 2);
    const auto upConfig = Read("8C41", 1);
    const auto upCarrier = Read("8C44", 2);
    settings.ethernetSpeedRegister = LowByte(Read("8D43", 1));
    settings.downstream = DecodeDirection(crystalHz, downConfig, downCarrier);
    settings.upstream = DecodeDirection(crystalHz, upConfig, upCarrier);
    return !m_check.ConnectionBroken();
}

bool CBoardPasses::ReadPhy(std::optional<std::uint8_t> receiveConstellationCode, PhyReadings& r) {
    const auto errorValue = Read("8C99", 3);
    const auto level = Read("8C9C", 2);
    const auto rs = Read("8C91", 4);
    r.linkStatus = LowByte(Read(kReg8C71, 1));
    r.lineFlags = LowByte(Read("8C98", 1));
    r.linkFailCount = LowByte(Read("8D38", 1));

    if (errorValue && receiveConstellationCode) {
        const auto e = static_cast<std::int32_t>(static_cast<std::uint32_t>(*errorValue));
        r.snrDecibels = SnrDecibels(e, *receiveConstellationCode);
        r.mseDecibels = MseDecibels(e, *receiveConstellationCode);
    }
    if (level && *level >= 1 && *level <= 0xFFFF) {
        if (const auto db = LevelDb(static_cast<std::uint16_t>(*level)))
            r.transmitPowerDbmPerHertz = -(*db + kPowerOffsetDb);
    }
    if (rs) {
        const auto value = static_cast<std::int32_t>(static_cast<std::uint32_t>(*rs));
        r.rsCorrectedPerSecond = static_cast<std::uint32_t>(value / 5);
    }
    return !m_check.ConnectionBroken();
}

bool CBoardPasses::ReadEthernet(EthernetTotals& totals) {
    for (std::size_t i = 0; i < kEthernetCounterInfo.size(); ++i) {
        if (const auto value = Read(kEthernetCounterInfo[i].address, 4))
            totals[i] += static_cast<std::uint32_t>(*value) / 5u;
        if (m_check.ConnectionBroken())
            return false;
    }
    return true;
}

} // namespace tessor::monitor
