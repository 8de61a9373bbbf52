#include "sim/SimModemPair.h"

#include "sim/SimRegisters.h"

#include <algorithm>
#include <chrono>
#include <cmath>

namespace tessor::sim {

namespace {

struct RegValue {
    std::uint16_t address;
    std::uint8_t value;
};

// Factory configuration common to both modems.
constexpr RegValue kFactoryCommon[] = {
    {0x8C10, 0x32}, {0x8C11, 0x24}, {0x8C12, 0x4F}, {0x8C13, 0x00}, {0x8C14, 0xE3}, {0x8C15, 0x00},
    {0x8C16, 0x00}, {0x8C1E, 0x01}, {0x8D40, 0x3E}, {0x8D41, 0xE1}, {0x8D42, 0x22}, {0x8D43, 0xF0},
    {0x8D44, 0x06}, {0x8D45, 0xD0}, {0x8D46, 0xCD}, {0x8D48, 0x00}, {0x8D49, 0x80}, {0x8C60, 0x1F},
    {0x8C61, 0x08}, {0x8C66, 0x0A}, {0x8C6B, 0x40},
};

constexpr RegValue kFactoryLt[] = {
    {0x8D47, 0xBF}, {0x8C17, 0xC9}, {0x8C18, 0x01}, {0x8C19, 0x6F}, {0x8C1A, 0x8A}, {0x8C1B, 0x4A},
    {0x8C1C, 0x92}, {0x8C1D, 0x06}, {0x8C67, 0x05}, {0x8C21, 0x00}, {0x8C1F, 0x00}, {0x8C20, 0x00},
};

constexpr RegValue kFactoryNt[] = {
    {0x8D47, 0x3F}, {0x8C17, 0x00}, {0x8C18, 0x04}, {0x8C1F, 0x10}, {0x8C20, 0x00}, {0x8C19, 0x56},
    {0x8C1A, 0x61}, {0x8C1B, 0x51}, {0x8C1C, 0xD7}, {0x8C1D, 0x04}, {0x8C67, 0x00}, {0x8C21, 0x00},
};

// Receiver reference of the error value by constellation code, in hundredths of dB: the SNR in dB is
// reference - 10 log10(error value).
int SnrReference(int code) {
    switch (code) {
    case 0x0:
        return 9180;
    case 0x2:
        return 8550;
    case 0x4:
        return 7920;
    case 0x6:
        return 7600;
    case 0x8:
        return 7020;
    case 0xA:
        return 8840;
    case 0xC:
        return 7980;
    default:
        return 8550;
    }
}

// Counter rates per second of line-up time, by counter slot (8CE4 + 4 * slot).
struct Rates {
    double perSecond[reg::kEthCounterCount];
};

// slots: single, multiple, deferred, late, excessive collisions; receive, carrier sense, too long, FCS
// errors; tx octets, rx octets, rx broadcast, rx pause, tx pause, tx frames, rx frames.
constexpr Rates kRatesFast = {{0, 0, 0, 0, 0, 0.02, 0, 0.005, 0.02, 476000, 442800, 4, 0.05, 0.02, 850, 820}};
constexpr Rates kRatesFull10 = {{0, 0, 0, 0, 0, 0.01, 0, 0.002, 0.01, 53200, 48600, 2, 0.02, 0.01, 95, 90}};
constexpr Rates kRatesHalf10 = {
    {2.5, 0.8, 1.5, 0.01, 0.002, 0.01, 0.01, 0.002, 0.01, 44800, 42100, 2, 0, 0, 80, 78}};
constexpr double kRsCorrectedPerSecond = 0.6;

constexpr int kNominalTxLevel = 576; // about 5 dB below 1024
constexpr int kJitterPeriodMs = 1000;
// The living line moves in steps of one simulated second.
constexpr std::uint64_t kLifeStepMs = 1000;
// The drift pulls back towards the nominal SNR with this time constant, in seconds.
constexpr double kDriftTimeConstantS = 1800;

std::uint64_t SteadyMs() {
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count());
}

bool IsCounterAddress(std::uint16_t address, std::uint16_t* base) {
    if (address >= reg::kRsCorrected && address < reg::kRsCorrected + 4) {
        *base = reg::kRsCorrected;
        return true;
    }
    if (address >= reg::kEthCounterFirst && address < reg::kEthCounterEnd) {
        *base = static_cast<std::uint16_t>(address - (address - reg::kEthCounterFirst) % 4);
        return true;
    }
    return false;
}

// The side a simulated modem takes: NT only when asked for.
ModemSide KnownSide(ModemSide side) {
    return side == kSideNT ? kSideNT : kSideLT;
}

SimConfig WithKnownSide(SimConfig config) {
    config.localSide = KnownSide(config.localSide);
    return config;
}

} // namespace

CSimModemPair::CSimModemPair(const SimConfig& config)
    : m_config(WithKnownSide(config)), m_modems{CSimModem(m_config.localSide),
                                                CSimModem(m_config.localSide == kSideLT ? kSideNT : kSideLT)},
      m_random(config.seed), m_lifeRandom(config.seed ^ 0x9E3779B9u) {
    if (!(m_config.clockScale > 0)) {
        m_config.clockScale = 1.0;
    }
    if (m_config.trainMs < 0) {
        m_config.trainMs = 0;
    }
    if (m_config.mailboxCompleteAfter < 1) {
        m_config.mailboxCompleteAfter = 1;
    }
    m_clockOrigin = SteadyMs();
    PowerUp();
}

void CSimModemPair::PowerUp() {
    for (CSimModem& modem : m_modems) {
        const ModemSide side = modem.side;
        modem = CSimModem(side);
        for (const RegValue& entry : kFactoryCommon) {
            modem.regs[entry.address] = entry.value;
        }
        if (side == kSideLT) {
            for (const RegValue& entry : kFactoryLt) {
                modem.regs[entry.address] = entry.value;
            }
        } else {
            for (const RegValue& entry : kFactoryNt) {
                modem.regs[entry.address] = entry.value;
            }
        }
        for (std::uint16_t a = reg::kConfigFirst; a <= reg::kConfigLast; ++a) {
            modem.regs[a + reg::kReadbackOffset] = modem.regs[a];
        }
        modem.regs[reg::kModemType] = side == kSideNT ? reg::kTypeNt : 0x00;
        modem.regs[reg::kChipId] = reg::kChipIdValue;
        modem.regs[reg::kChipRevision] = reg::kChipRevisionValue;
        modem.regs[reg::kFirmwareRelease] = reg::kFirmwareReleaseValue;
        modem.regs[reg::kControl] = reg::kCtlActivation | reg::kCtlTransmitter;
    }
    m_line = LineState::Down;
    m_now = NowMs();
    m_lastJitter = m_now;
    m_snrJitter = Jitter(0.3);
    m_levelJitter = static_cast<int>(std::lround(Jitter(4)));
    Evaluate();
}

std::uint64_t CSimModemPair::NowMs() const {
    if (m_config.manualClock) {
        return m_manualNow;
    }
    const std::uint64_t elapsed = SteadyMs() - m_clockOrigin;
    if (m_config.clockScale == 1.0) {
        return elapsed;
    }
    return static_cast<std::uint64_t>(static_cast<double>(elapsed) * m_config.clockScale);
}

void CSimModemPair::Sync() {
    Advance(NowMs());
}

void CSimModemPair::AdvanceTime(std::uint64_t ms) {
    m_manualNow += ms;
    Sync();
}

void CSimModemPair::SetReducedConstellation(bool reduced) {
    if (reduced == m_reduced) {
        return;
    }
    m_reduced = reduced;
    // The modems agree on the constellation while they train: a change means training again.
    Sync();
    if (m_line == LineState::Up) {
        FailLine();
    }
    m_line = LineState::Down;
    Evaluate();
}

void CSimModemPair::Advance(std::uint64_t nowMs) {
    nowMs = std::max(nowMs, m_now);
    if (LifeActive()) {
        if (m_lifeNext <= m_now) {
            m_lifeNext = m_now + kLifeStepMs;
        }
        while (m_lifeNext <= nowMs) {
            AdvanceTo(m_lifeNext);
            LifeStep();
            m_lifeNext += kLifeStepMs;
        }
    }
    AdvanceTo(nowMs);
}

bool CSimModemPair::LifeActive() const {
    const SimConfig::LineLife& life = m_config.life;
    return life.drift || life.burstsPerHour > 0 || life.dropsPerHour > 0 || m_burstSecondsLeft > 0;
}

void CSimModemPair::LifeStep() {
    SimConfig::LineLife& life = m_config.life;
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::normal_distribution<double> normal(0.0, 1.0);
    if (life.drift) {
        // A slow random walk pulled back to the nominal value; its spread settles at driftDb.
        const double sigma = life.driftDb / std::sqrt(kDriftTimeConstantS / 2.0);
        m_driftDb += -m_driftDb / kDriftTimeConstantS + sigma * normal(m_lifeRandom);
    }
    if (m_burstSecondsLeft > 0) {
        --m_burstSecondsLeft;
        if (m_line == LineState::Up) {
            for (CSimModem& modem : m_modems) {
                modem.rsFraction += m_burstRate * (0.7 + 0.6 * unit(m_lifeRandom));
            }
        }
    } else if (life.burstsPerHour > 0 && unit(m_lifeRandom) < life.burstsPerHour / 3600.0) {
        StartBurst(10 + static_cast<int>(unit(m_lifeRandom) * 50));
    }
    if (m_line == LineState::Up && life.dropsPerHour > 0 && unit(m_lifeRandom) < life.dropsPerHour / 3600.0) {
        DropLine();
    }
}

void CSimModemPair::SetDrift(bool on) {
    Sync();
    m_config.life.drift = on;
    if (!on) {
        m_driftDb = 0;
    }
}

void CSimModemPair::SetBurstsPerHour(double rate) {
    Sync();
    m_config.life.burstsPerHour = std::max(rate, 0.0);
}

void CSimModemPair::SetDropsPerHour(double rate) {
    Sync();
    m_config.life.dropsPerHour = std::max(rate, 0.0);
}

void CSimModemPair::StartBurst(int seconds) {
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    m_burstSecondsLeft = std::max(seconds, 1);
    // A few tens to a few hundred corrected errors per second while it lasts.
    m_burstRate = 40 + 400 * unit(m_lifeRandom);
}

void CSimModemPair::DropLine(int times) {
    if (m_line == LineState::Up) {
        for (int i = 0; i < times; ++i) {
            FailLine();
        }
    }
    m_line = LineState::Down;
    Evaluate(); // trains again at once, unless the line is cut
}

void CSimModemPair::SetLineCut(bool cut) {
    Sync();
    m_cut = cut;
    if (cut) {
        DropLine();
    } else {
        Evaluate();
    }
}

void CSimModemPair::AdvanceTo(std::uint64_t nowMs) {
    const std::uint64_t trainedAt = m_trainStart + static_cast<std::uint64_t>(m_config.trainMs);
    if (m_line == LineState::Training && nowMs >= trainedAt) {
        m_line = LineState::Up;
        m_upSince = trainedAt;
    }
    if (m_line == LineState::Up) {
        const std::uint64_t from = std::max(m_now, m_upSince);
        if (nowMs > from) {
            for (CSimModem& modem : m_modems) {
                Accumulate(modem, nowMs - from);
            }
        }
    }
    m_now = nowMs;
    if (m_now - m_lastJitter >= kJitterPeriodMs) {
        m_lastJitter = m_now;
        m_snrJitter = Jitter(0.3);
        m_levelJitter = static_cast<int>(std::lround(Jitter(4)));
    }
}

double CSimModemPair::Jitter(double spread) {
    std::uniform_real_distribution<double> dist(-spread, spread);
    return dist(m_random);
}

void CSimModemPair::Accumulate(CSimModem& modem, std::uint64_t ms) {
    const std::uint8_t speed = modem.regs[reg::kMacSpeed] & 0xF0;
    const Rates& rates = speed == 0x10 ? kRatesHalf10 : speed == 0x30 ? kRatesFull10 : kRatesFast;
    const double seconds = static_cast<double>(ms) / 1000.0;
    for (int slot = 0; slot < reg::kEthCounterCount; ++slot) {
        if (rates.perSecond[slot] <= 0) {
            continue;
        }
        double& fraction = modem.ethFraction[slot];
        fraction += rates.perSecond[slot] * seconds * (1.0 + Jitter(0.1));
        const double whole = std::floor(fraction);
        fraction -= whole;
        // Counters are 32 bits wide and wrap.
        modem.ethCounters[slot] += static_cast<std::uint32_t>(static_cast<std::uint64_t>(whole));
    }
    modem.rsFraction += kRsCorrectedPerSecond * seconds * (1.0 + Jitter(0.1));
    const double whole = std::floor(modem.rsFraction);
    modem.rsFraction -= whole;
    modem.rsCorrected += static_cast<std::uint32_t>(static_cast<std::uint64_t>(whole));
}

bool CSimModemPair::IsValidLineConfig(std::uint8_t value) {
    const int constellation = value & 0x0F;
    const int interpolation = value >> 4;
    switch (constellation) {
    case 0x0: // QAM 256: 8 .. 64
        return interpolation >= 0x2 && interpolation <= 0x8;
    case 0x2: // QAM 64: 6 .. 64
        return interpolation >= 0x1 && interpolation <= 0x8;
    case 0x4: // QAM 16, 8 and 4: 4 .. 64
    case 0x6:
    case 0x8:
        return interpolation <= 0x8;
    case 0xA: // QAM 128: 14 only
        return interpolation == 0xA;
    case 0xC: // QAM 32: 10 only
        return interpolation == 0x9;
    default:
        return false;
    }
}

bool CSimModemPair::Ready(Unit unit) const {
    const std::uint8_t control = Modem(unit).regs[reg::kControl];
    return (control & (reg::kCtlActivation | reg::kCtlTransmitter)) ==
           (reg::kCtlActivation | reg::kCtlTransmitter);
}

bool CSimModemPair::Compatible() const {
    // Line configuration bytes and carriers, as each modem runs them since its last restart.
    for (std::uint16_t a = reg::kReadbackFirst; a < reg::kReadbackFirst + 6; ++a) {
        if (Modem(kLocal).regs[a] != Modem(kRemote).regs[a]) {
            return false;
        }
    }
    return IsValidLineConfig(Modem(kLocal).regs[reg::kLineConfigDown]) &&
           IsValidLineConfig(Modem(kLocal).regs[reg::kLineConfigUp]);
}

void CSimModemPair::Evaluate() {
    const bool ready = !m_cut && Ready(kLocal) && Ready(kRemote) && Compatible();
    if (!ready) {
        if (m_line == LineState::Up) {
            FailLine();
        }
        m_line = LineState::Down;
        return;
    }
    if (m_line == LineState::Down) {
        m_line = LineState::Training;
        m_trainStart = m_now;
    }
    if (m_line == LineState::Training && m_config.trainMs == 0) {
        m_line = LineState::Up;
        m_upSince = m_now;
    }
}

void CSimModemPair::FailLine() {
    for (CSimModem& modem : m_modems) {
        ++modem.regs[reg::kLinkFailCount]; // 8 bits, wraps
        modem.microInterruption = true;
    }
}

void CSimModemPair::Restart(Unit unit) {
    CSimModem& modem = Modem(unit);
    for (std::uint16_t a = reg::kConfigFirst; a <= reg::kConfigLast; ++a) {
        modem.regs[a + reg::kReadbackOffset] = modem.regs[a];
    }
    modem.regs[reg::kControl] &= static_cast<std::uint8_t>(~(reg::kCtlSoftReset | reg::kCtlUpdate));
    modem.mailboxOp = 0;
    modem.mailboxCount = 0;
    modem.regs[reg::kMailboxCommand] = 0;
    if (m_line == LineState::Up) {
        FailLine();
    }
    m_line = LineState::Down;
    Evaluate();
}

void CSimModemPair::BeginCommand() {
    Sync();
    for (const Unit unit : {kLocal, kRemote}) {
        CSimModem& modem = Modem(unit);
        if (modem.mailboxOp == 0 || !IsLineUp()) {
            continue;
        }
        if (++modem.mailboxCount >= m_config.mailboxCompleteAfter) {
            CompleteMailbox(unit);
        }
    }
}

void CSimModemPair::CompleteMailbox(Unit unit) {
    const Unit other = unit == kLocal ? kRemote : kLocal;
    const int op = Modem(unit).mailboxOp;
    Modem(unit).mailboxOp = 0;
    Modem(unit).mailboxCount = 0;
    const std::uint16_t address = static_cast<std::uint16_t>(Modem(unit).regs[reg::kMailboxAddrHigh] << 8 |
                                                             Modem(unit).regs[reg::kMailboxAddrLow]);
    const std::uint8_t data = Modem(unit).regs[reg::kMailboxData];
    switch (op) {
    case 1: {
        // The data register holds the register count of a read (the tool writes its count text there).
        const int count = data >= 1 && data <= 9 ? data : 1;
        for (int i = 0; i < count; ++i) {
            const std::uint8_t value = ReadRegister(other, static_cast<std::uint16_t>(address + i));
            Modem(unit).regs[reg::kMailboxData + i] = value;
        }
        break;
    }
    case 2:
        WriteRegister(other, address, data);
        break;
    case 3:
        WriteRegister(other, address, static_cast<std::uint8_t>(PeekRegister(other, address) | data));
        break;
    case 4:
        WriteRegister(other, address, static_cast<std::uint8_t>(PeekRegister(other, address) & data));
        break;
    default:
        break;
    }
    Modem(unit).regs[reg::kMailboxStatus] = static_cast<std::uint8_t>(op);
    Modem(unit).regs[reg::kMailboxCommand] = 0;
}

bool CSimModemPair::IsReadOnly(std::uint16_t address) {
    std::uint16_t base = 0;
    return (address >= reg::kReadbackFirst && address <= reg::kReadbackLast) || address == reg::kModemType ||
           address == reg::kChipId || address == reg::kChipRevision || address == reg::kFirmwareRelease ||
           address == reg::kLineStatus || (address >= reg::kLineFlags && address <= reg::kTxLevel + 1) ||
           address == reg::kMailboxStatus || address == reg::kLinkFailCount ||
           IsCounterAddress(address, &base);
}

std::uint32_t CSimModemPair::ErrorValueForSnr(int constellationCode, double snrDb) {
    const double referenceDb = SnrReference(constellationCode) / 100.0;
    const double value = std::clamp(std::pow(10.0, (referenceDb - snrDb) / 10.0), 1.0, 16777215.0);
    return static_cast<std::uint32_t>(std::lround(value));
}

std::uint8_t CSimModemPair::ComputedRegister(Unit unit, std::uint16_t address, bool* computed) const {
    const CSimModem& modem = Modem(unit);
    const bool signal = !m_cut && Ready(unit == kLocal ? kRemote : kLocal);
    *computed = true;
    std::uint16_t base = 0;
    if (IsCounterAddress(address, &base)) {
        const std::uint32_t value = base == reg::kRsCorrected
                                        ? modem.rsCorrected
                                        : modem.ethCounters[(base - reg::kEthCounterFirst) / 4];
        return static_cast<std::uint8_t>(value >> (8 * (address - base)));
    }
    switch (address) {
    case reg::kLineStatus:
        if (m_line == LineState::Up) {
            return (m_reduced ? reg::kStatReducedConstellation : reg::kStatFullConstellation) |
                   reg::kStatTcSync | reg::kStatEthernetSync | reg::kStatRemoteSync |
                   reg::kStatSignalDetected;
        }
        return signal ? reg::kStatSignalDetected : 0;
    case reg::kLineFlags: {
        std::uint8_t flags = modem.microInterruption ? reg::kFlagMicroInterruption : 0;
        if (signal) {
            flags |= reg::kFlagAgcConverged;
        }
        if (m_line == LineState::Up) {
            flags |= reg::kFlagTimingConverged;
        }
        return flags;
    }
    case reg::kErrorValue:
    case reg::kErrorValue + 1:
    case reg::kErrorValue + 2: {
        std::uint32_t value = 0; // no measurement while the line is not up
        if (m_line == LineState::Up) {
            // The LT receives the upstream direction, the NT the downstream one.
            const std::uint8_t config =
                modem.regs[modem.side == kSideLT ? reg::kLineConfigUp : reg::kLineConfigDown];
            value = ErrorValueForSnr(config & 0x0F, m_config.lineSnrDb + m_snrJitter + m_driftDb);
        }
        return static_cast<std::uint8_t>(value >> (8 * (address - reg::kErrorValue)));
    }
    case reg::kTxLevel:
    case reg::kTxLevel + 1: {
        const std::uint8_t control = modem.regs[reg::kControl];
        const bool sending = (control & (reg::kCtlActivation | reg::kCtlTransmitter)) ==
                             (reg::kCtlActivation | reg::kCtlTransmitter);
        const int level = sending ? kNominalTxLevel + m_levelJitter : 1;
        return static_cast<std::uint8_t>(level >> (8 * (address - reg::kTxLevel)));
    }
    default:
        break;
    }
    *computed = false;
    return modem.regs[address];
}

std::uint8_t CSimModemPair::PeekRegister(Unit unit, std::uint16_t address) const {
    bool computed = false;
    return ComputedRegister(unit, address, &computed);
}

std::uint8_t CSimModemPair::ReadRegister(Unit unit, std::uint16_t address) {
    CSimModem& modem = Modem(unit);
    std::uint16_t base = 0;
    if (IsCounterAddress(address, &base)) {
        // Reading the lowest byte takes the whole counter and clears it; the other bytes come from that
        // snapshot, so a 4-byte read returns one consistent value.
        if (address == base) {
            std::uint32_t& counter = base == reg::kRsCorrected
                                         ? modem.rsCorrected
                                         : modem.ethCounters[(base - reg::kEthCounterFirst) / 4];
            const auto fixed = m_fixedCounts.find(base);
            if (fixed != m_fixedCounts.end()) {
                counter = fixed->second;
            }
            for (int i = 0; i < 4; ++i) {
                modem.latch[i] = static_cast<std::uint8_t>(counter >> (8 * i));
            }
            modem.latchBase = base;
            counter = 0;
            return modem.latch[0];
        }
        if (modem.latchBase == base) {
            return modem.latch[address - base];
        }
        return PeekRegister(unit, address);
    }
    const std::uint8_t value = PeekRegister(unit, address);
    if (address == reg::kLineFlags) {
        modem.microInterruption = false;
    }
    return value;
}

void CSimModemPair::WriteRegister(Unit unit, std::uint16_t address, std::uint8_t value) {
    if (IsReadOnly(address)) {
        return;
    }
    CSimModem& modem = Modem(unit);
    switch (address) {
    case reg::kControl:
        modem.regs[address] = value;
        if (value & reg::kCtlSoftReset) {
            Restart(unit);
        } else {
            Evaluate();
        }
        break;
    case reg::kMailboxCommand:
        if (value >= 0x11 && value <= 0x14) {
            modem.regs[address] = value;
            modem.regs[reg::kMailboxStatus] = 0;
            modem.mailboxOp = value & 0x0F;
            modem.mailboxCount = 0;
        } else if (value == 0) {
            modem.regs[address] = 0; // abandons an operation under way
            modem.mailboxOp = 0;
            modem.mailboxCount = 0;
        }
        break;
    default:
        modem.regs[address] = value;
        break;
    }
}

void CSimModemPair::SetCounter(Unit unit, std::uint16_t address, std::uint32_t value) {
    std::uint16_t base = 0;
    if (!IsCounterAddress(address, &base)) {
        return;
    }
    CSimModem& modem = Modem(unit);
    if (base == reg::kRsCorrected) {
        modem.rsCorrected = value;
    } else {
        modem.ethCounters[(base - reg::kEthCounterFirst) / 4] = value;
    }
}

std::uint32_t CSimModemPair::Counter(Unit unit, std::uint16_t address) const {
    std::uint16_t base = 0;
    if (!IsCounterAddress(address, &base)) {
        return 0;
    }
    const CSimModem& modem = Modem(unit);
    return base == reg::kRsCorrected ? modem.rsCorrected
                                     : modem.ethCounters[(base - reg::kEthCounterFirst) / 4];
}

bool CSimModemPair::IsCounterStart(std::uint16_t address) {
    std::uint16_t base = 0;
    return IsCounterAddress(address, &base) && base == address;
}

void CSimModemPair::FixCount(std::uint16_t address, std::optional<std::uint32_t> count) {
    if (!IsCounterStart(address)) {
        return;
    }
    if (count) {
        m_fixedCounts[address] = *count;
    } else {
        m_fixedCounts.erase(address);
    }
}

} // namespace tessor::sim
