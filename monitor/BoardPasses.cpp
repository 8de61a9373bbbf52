#include "monitor/BoardPasses.h"

#include "ops/Board.h"
#include "ops/LinkSettings.h"

#include <bitset>

namespace tessor::monitor {

const std::array<EthernetCounterInfo, kEthernetCounterCount> kEthernetCounterInfo{{
    {"transmitted_frames", "Frames transmitted on the Ethernet port."},
    {"received_frames", "Frames received on the Ethernet port."},
    {"transmitted_pause_frames", "Pause frames transmitted."},
    {"received_pause_frames", "Pause frames received."},
    {"transmitted_bytes", "Octets transmitted."},
    {"received_bytes", "Octets received."},
    {"received_broadcast_frames", "Broadcast frames received."},
    {"single_collisions", "Frames sent after a single collision."},
    {"multiple_collisions", "Frames sent after several collisions."},
    {"late_collisions", "Late collisions."},
    {"excessive_collisions", "Frames dropped after excessive collisions."},
    {"receive_errors", "Receive errors."},
    {"carrier_sense_errors", "Carrier sense errors."},
    {"frame_too_long_errors", "Frames that were too long."},
    {"frame_check_sequence_errors", "Frames with a bad frame check sequence."},
}};

const std::array<IndicatorBit, kIndicatorCount> kIndicatorBits{{
    {false, 0x80},
    {false, 0x40},
    {false, 0x20},
    {false, 0x08},
    {false, 0x04},
    {false, 0x02},
    {true, 0x80},
    {true, 0x04},
    {true, 0x02},
    {true, 0x01},
}};

namespace {

std::optional<std::uint8_t> LowByte(const std::optional<std::uint16_t>& value) {
    if (!value)
        return std::nullopt;
    return static_cast<std::uint8_t>(*value & 0xFF);
}

DirectionSettings Decode(const ops::DirectionSettings& d, bool configGood, bool carrierGood) {
    DirectionSettings out;
    if (configGood && d.rate)
        out.lineRateBytesPerSecond = static_cast<double>(*d.rate) * 1e6 / 8.0;
    if (carrierGood)
        out.carrierHertz = static_cast<double>(d.carrier) * 10000.0;
    return out;
}

} // namespace

std::string Identification::SideLabel() const {
    if (!typeRegister)
        return "unknown";
    return IsNt() ? "nt" : "lt";
}

std::optional<bool> PhyReadings::Indicator(int i) const {
    const IndicatorBit& bit = kIndicatorBits[static_cast<std::size_t>(i)];
    const std::optional<std::uint8_t>& reg = bit.fromLineFlags ? lineFlags : linkStatus;
    if (!reg)
        return std::nullopt;
    return (*reg & bit.mask) != 0;
}

bool CBoardPasses::ReadIdentification(Identification& id) {
    const ops::ModemSideRead side = ops::DetectModemSide();
    if (Spoilt() || ops::BoardFailed(side.raw))
        return !Broken();
    id.typeRegister = static_cast<std::uint8_t>(side.raw & 0xFF);
    const ops::BoardIdentification board = ops::ReadBoardIdentification();
    if (!Spoilt() && !Broken()) {
        id.chip = LowByte(board.id72);
        id.revision = LowByte(board.id73);
        id.firmware = LowByte(board.id6F);
    }
    if (Broken())
        return false;
    const ops::PhyReferenceRead refs = ops::ReadPhyReferences(side.side);
    if (!Spoilt() && !ops::BoardFailed(refs.raw))
        id.references = refs.references;
    return !Broken();
}

bool CBoardPasses::ReadLinkSettings(std::int32_t crystalHz, LinkSettings& settings) {
    // The settings are read one register after the other; a spoilt reply anywhere leaves them all out.
    const ops::LinkSettings read = ops::ReadLinkSettings(crystalHz, false);
    if (Spoilt() || Broken())
        return !Broken();
    settings.downstream =
        Decode(read.downstream, read.downstream.rawConfig >= 0, read.downstream.rawCarrier >= 0);
    settings.upstream = Decode(read.upstream, read.upstream.rawConfig >= 0, read.upstream.rawCarrier >= 0);
    if (read.localSpeed.raw >= 0)
        settings.ethernetSpeedRegister = static_cast<std::uint8_t>(read.localSpeed.raw & 0xFF);
    return true;
}

bool CBoardPasses::ReadPhy(const std::optional<ops::PhyReferences>& references, PhyReadings& r,
                           ops::PhyReadResults* results) {
    // The pass tells after each read; note which of its six replies were spoilt.
    std::bitset<6> spoilt;
    std::size_t index = 0;
    const ops::PhyPass pass = ops::RunPhyPass(references, [&] {
        if (index < spoilt.size())
            spoilt[index++] = Spoilt();
        return Broken();
    });
    if (!pass.complete || Broken())
        return false;
    const ops::PhyReadings& v = pass.readings;
    if (results) {
        // A spoilt reply counts as a failed read.
        std::int64_t* raw[] = {&results->errorValue, &results->txLevel,   &results->rsCorrected,
                               &results->linkStatus, &results->lineFlags, &results->linkFailCount};
        *results = pass.raw;
        for (std::size_t i = 0; i < spoilt.size(); ++i) {
            if (spoilt[i])
                *raw[i] = -1;
        }
    }
    if (!spoilt[0]) {
        if (pass.figures.snr)
            r.snrDecibels = static_cast<double>(*pass.figures.snr) / 100.0;
        if (pass.figures.mse)
            r.mseDecibels = static_cast<double>(*pass.figures.mse) / 100.0;
    }
    if (!spoilt[1] && v.txLevelDb)
        r.transmitPowerDbmPerHertz = -*v.txLevelDb;
    if (!spoilt[2])
        r.rsCorrectedPerSecond = v.rsPerSecond;
    if (!spoilt[3])
        r.linkStatus = v.linkStatus;
    if (!spoilt[4])
        r.lineFlags = v.lineFlags;
    if (!spoilt[5])
        r.linkFailCount = v.linkFailCount;
    return true;
}

bool CBoardPasses::ReadEthernet(EthernetTotals& totals,
                                std::array<std::uint32_t, kEthernetCounterCount>* reads,
                                std::uint16_t* failed) {
    bool spoilt = false;
    if (failed)
        *failed = 0;
    ops::EthernetPassHooks hooks;
    hooks.abandon = [&] {
        spoilt = Spoilt();
        return Broken();
    };
    hooks.counted = [&](int index, std::int64_t result) {
        const auto i = static_cast<std::size_t>(index);
        const bool good = !spoilt && result >= 0;
        if (good)
            totals[i] += ops::CounterIncrement(result);
        if (reads)
            (*reads)[i] = good ? static_cast<std::uint32_t>(result) : 0;
        if (failed && !good)
            *failed = static_cast<std::uint16_t>(*failed | 1u << index);
    };
    return ops::RunEthernetPass(hooks).complete && !Broken();
}

} // namespace tessor::monitor
