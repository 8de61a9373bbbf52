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

// One direction of the line in base units.
struct DirectionValues {
    std::optional<double> lineRateBytesPerSecond;
    std::optional<double> carrierHertz;
};

// The line settings the modem runs with (read-back registers of the local modem), in base units.
struct LinkValues {
    DirectionValues downstream;
    DirectionValues upstream;
    std::optional<std::uint8_t> ethernetSpeedRegister; // 8D43
};

// Hundredths of dB in dB.
inline std::optional<double> Decibels(const std::optional<std::int32_t>& centi) {
    if (!centi)
        return std::nullopt;
    return static_cast<double>(*centi) / 100.0;
}

// The monitor's own Ethernet totals: the sums of the raw counts its reads delivered (the counters clear
// when read).
using EthernetTotals = std::array<std::uint64_t, kCounterDefCount>;

} // namespace tessor::monitor
