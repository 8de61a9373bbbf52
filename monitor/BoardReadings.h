#pragma once

// What the monitor reads from the local modem, as plain values. A value that a failed read did not
// deliver stays empty, so nothing stale or made up is ever published.

#include "model/MetricNames.h"
#include "ops/EthernetPass.h"
#include "ops/PhyPass.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace tessor::monitor {

constexpr int kEthernetCounterCount = ops::kEthernetCounterCount;

// Board identification and which end of the line the local modem is.
struct Identification {
    std::optional<std::uint8_t> typeRegister; // 8C70: bit 4 set on the NT
    std::optional<std::uint8_t> chip;         // 8C72
    std::optional<std::uint8_t> revision;     // 8C73
    std::optional<std::uint8_t> firmware;     // 8C6F
    // SNR and MSE references for the constellation the local modem receives (8C10 on the NT, 8C11 on the
    // LT); none when that read failed or named no constellation.
    std::optional<ops::PhyReferences> references;

    bool IsNt() const { return typeRegister && (*typeRegister & 0x10) != 0; }
    // "lt", "nt", or "unknown" before 8C70 was read.
    std::string SideLabel() const;
};

struct DirectionSettings {
    std::optional<double> lineRateBytesPerSecond;
    std::optional<double> carrierHertz;
};

// The line settings the modem runs with (read-back registers of the local modem).
struct LinkSettings {
    DirectionSettings downstream;
    DirectionSettings upstream;
    std::optional<std::uint8_t> ethernetSpeedRegister; // 8D43
};

// One PHY pass, decoded as the PHY page decodes it.
struct PhyReadings {
    std::optional<double> snrDecibels;
    std::optional<double> mseDecibels;
    // 8C91..8C94 as read: the corrected RS errors since the register was last read (it clears when read).
    std::optional<std::uint32_t> rsCorrectedCount;
    // That count over the real time since the read before it (the poll loop sets it); unknown for the
    // first read and for the first after a read that delivered nothing.
    std::optional<double> rsCorrectedPerSecond;
    std::optional<int> transmitPowerDbmPerHertz; // negative
    std::optional<std::uint8_t> linkStatus;      // 8C71
    std::optional<std::uint8_t> lineFlags;       // 8C98
    std::optional<std::uint8_t> linkFailCount;   // 8D38

    // Whether the line is up (LineUpFromStatus of 8C71); unknown without 8C71.
    std::optional<bool> LineUp() const;
    // State of indicator i (1 when its bit is set); empty when its register was not read.
    std::optional<bool> Indicator(int i) const;
};

// The monitor's own Ethernet totals: the sums of the raw counts its reads delivered (the counters clear
// when read).
using EthernetTotals = std::array<std::uint64_t, kEthernetCounterCount>;

} // namespace tessor::monitor
