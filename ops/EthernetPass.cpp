#include "ops/EthernetPass.h"

#include "link/ConsolePort.h"
#include "ops/Access.h"

namespace tessor::ops {

const std::array<EthernetCounter, kEthernetCounterCount> kEthernetCounters{{
    {"8D1C", "Transmitted Frames", "editTxFrames", "tx_frames"},
    {"8D20", "Received Frames", "editRxFrames", "rx_frames"},
    {"8D18", "Transmitted Pause Fr.", "editTxPause", "tx_pause_frames"},
    {"8D14", "Received Pause Frames", "editRxPause", "rx_pause_frames"},
    {"8D08", "Transmitted Octets", "editTxOctets", "tx_octets"},
    {"8D0C", "Received Octets", "editRxOctets", "rx_octets"},
    {"8D10", "Received Broadcast Fr.", "editRxBroadcast", "rx_broadcast_frames"},
    {"8CE4", "Single Collisions", "editSingleCollisions", "single_collisions"},
    {"8CE8", "Multiple Collisions", "editMultipleCollisions", "multiple_collisions"},
    {"8CF0", "Late Collisions", "editLateCollisions", "late_collisions"},
    {"8CF4", "Excessive Collisions", "editExcessiveCollisions", "excessive_collisions"},
    {"8CF8", "Receive Errors", "editReceiveErrors", "receive_errors"},
    {"8CFC", "Carrier Sense Errors", "editCarrierSenseErrors", "carrier_sense_errors"},
    {"8D00", "Frame too long Errors", "editFrameTooLong", "frame_too_long_errors"},
    {"8D04", "Frame Check Seq. Er.", "editFrameCheckErrors", "frame_check_sequence_errors"},
}};

std::uint64_t CounterIncrement(const RegResult& result) {
    if (!result.ok())
        return 0;
    return static_cast<std::uint32_t>(result.value) / 5u;
}

EthernetPass RunEthernetPass(IRegisterBus& bus, const EthernetPassHooks& hooks) {
    EthernetPass pass;
    for (int i = 0; i < kEthernetCounterCount; ++i) {
        if (hooks.beforeRead)
            hooks.beforeRead(i);
        const RegResult result = LocalByte(bus, kRead, kEthernetCounters[i].address, 4);
        if (hooks.abandon && hooks.abandon())
            return pass;
        pass.raw[i] = result;
        pass.increments[i] = CounterIncrement(result);
        pass.countersRead = i + 1;
        if (hooks.counted)
            hooks.counted(i, result);
        // A stop takes effect after the read in progress.
        if (hooks.stop && hooks.stop())
            return pass;
    }
    pass.complete = true;
    return pass;
}

void EthernetTotals::Add(const EthernetPass& pass) {
    for (int i = 0; i < pass.countersRead; ++i)
        totals[i] += pass.increments[i];
    if (pass.complete)
        ++passes;
}

} // namespace tessor::ops
