#pragma once

#include <cstdint>

// Register addresses of the simulated modem chip, as the console and the mailbox see them.
namespace tessor::sim::reg {

constexpr std::uint16_t kControl =
    0x8C00; // 7 activation, 6 transmitter, 5 soft reset, 3 update, 1/0 loopbacks
constexpr std::uint8_t kCtlActivation = 0x80;
constexpr std::uint8_t kCtlTransmitter = 0x40;
constexpr std::uint8_t kCtlSoftReset = 0x20;
constexpr std::uint8_t kCtlUpdate = 0x08;
constexpr std::uint8_t kCtlLineLoopback = 0x02;
constexpr std::uint8_t kCtlLocalLoopback = 0x01;

constexpr std::uint16_t kConfigFirst = 0x8C10; // written by the tool
constexpr std::uint16_t kConfigLast = 0x8C21;
constexpr std::uint16_t kReadbackFirst = 0x8C40; // what the modem runs with since its last restart
constexpr std::uint16_t kReadbackLast = 0x8C51;
constexpr std::uint16_t kReadbackOffset = kReadbackFirst - kConfigFirst;
constexpr std::uint16_t kLineConfigDown = 0x8C40; // running downstream line configuration byte
constexpr std::uint16_t kLineConfigUp = 0x8C41;   // running upstream line configuration byte

constexpr std::uint16_t kModemType = 0x8C70; // bit 4: this modem is an NT
// Board identification, shown in the About box: chip, chip revision and firmware release.
constexpr std::uint16_t kChipId = 0x8C72;
constexpr std::uint16_t kChipRevision = 0x8C73;
constexpr std::uint16_t kFirmwareRelease = 0x8C6F;
constexpr std::uint8_t kChipIdValue = 0x61;
constexpr std::uint8_t kChipRevisionValue = 0x12;
constexpr std::uint8_t kFirmwareReleaseValue = 0x27;
constexpr std::uint8_t kTypeNt = 0x10;
constexpr std::uint16_t kLineStatus = 0x8C71;
constexpr std::uint8_t kStatFullConstellation = 0x80;
constexpr std::uint8_t kStatReducedConstellation = 0x40;
constexpr std::uint8_t kStatTcSync = 0x20;
constexpr std::uint8_t kStatEthernetSync = 0x08;
constexpr std::uint8_t kStatRemoteSync = 0x04;
constexpr std::uint8_t kStatSignalDetected = 0x02;

constexpr std::uint16_t kRsCorrected = 0x8C91; // 4 bytes, clear on read
constexpr std::uint16_t kLineFlags = 0x8C98;
constexpr std::uint8_t kFlagMicroInterruption = 0x80; // latched, cleared when read
constexpr std::uint8_t kFlagAgcConverged = 0x04;
constexpr std::uint8_t kFlagTimingConverged = 0x02;
constexpr std::uint8_t kFlagAdcSaturation = 0x01;
constexpr std::uint16_t kErrorValue = 0x8C99; // 3 bytes, receiver mean square error
constexpr std::uint16_t kTxLevel = 0x8C9C;    // 2 bytes, linear, 1024 = 0 dB

constexpr std::uint16_t kMailboxCommand = 0x8CC0; // 0x11..0x14 starts read/write/or/and; 0 when free
constexpr std::uint16_t kMailboxAddrLow = 0x8CC1;
constexpr std::uint16_t kMailboxAddrHigh = 0x8CC2;
constexpr std::uint16_t kMailboxStatus = 0x8CC4; // low nibble: code of the completed operation
constexpr std::uint16_t kMailboxData = 0x8CD0;

constexpr std::uint16_t kEthCounterFirst = 0x8CE4; // 16 counters of 4 bytes, clear on read
constexpr int kEthCounterCount = 16;
constexpr std::uint16_t kEthCounterEnd = kEthCounterFirst + 4 * kEthCounterCount; // one past 8D23

// The Ethernet MAC counters by address.
constexpr std::uint16_t kSingleCollisions = 0x8CE4;
constexpr std::uint16_t kMultipleCollisions = 0x8CE8;
constexpr std::uint16_t kDeferred = 0x8CEC;
constexpr std::uint16_t kLateCollisions = 0x8CF0;
constexpr std::uint16_t kExcessiveCollisions = 0x8CF4;
constexpr std::uint16_t kReceiveErrors = 0x8CF8;
constexpr std::uint16_t kCarrierSenseErrors = 0x8CFC;
constexpr std::uint16_t kFrameTooLong = 0x8D00;
constexpr std::uint16_t kFrameCheckErrors = 0x8D04;
constexpr std::uint16_t kTxOctets = 0x8D08;
constexpr std::uint16_t kRxOctets = 0x8D0C;
constexpr std::uint16_t kRxBroadcast = 0x8D10;
constexpr std::uint16_t kRxPause = 0x8D14;
constexpr std::uint16_t kTxPause = 0x8D18;
constexpr std::uint16_t kTxFrames = 0x8D1C;
constexpr std::uint16_t kRxFrames = 0x8D20;

constexpr std::uint16_t kLinkFailCount = 0x8D38;
constexpr std::uint16_t kMacSpeed = 0x8D43; // upper nibble: 1 10M half, 3 10M full, F automatic

} // namespace tessor::sim::reg
